"""segy.open_zarr and segy.from_zarr: a store made by segy.to_zarr (layout: zarrstore.py) as an
xarray.Dataset over dask arrays, or written back as a SEG-Y file.

from_zarr writes the traces in the source's order (trace_index), each header from its fields'
arrays and the constants, the file headers and the bytes around the traces from their raw
copies: with the source's format and byte order the file comes back byte for byte, IBM words
that no float32 holds included (kept aside at ingest). A different format or byte order
converts; what does not come back as it was is named in the report's `changed`, and values the
target format cannot hold are refused naming the trace and sample.
"""
import base64
import os

import numpy
import zarr

from .. import native
from ..ibm import in_chunks
from ..errors import FormatError
from . import samples as sample_codecs
from . import zarrstore as zs
from .fetch import sample_type
from .fields import BINARY, TRACE, TRACE_HEADER_SIZE
from .writer import output

GRID_AXES = ('inline', 'crossline', 'offset')


def _group(store):
    """The root group of `store` and its attributes; FormatError for anything else."""
    if not os.path.isdir(store):
        raise IOError('%s: no such store (a folder written by segy-to-zarr)' % store)
    try:
        group = zarr.open_consolidated(store, mode='r')
    except KeyError:
        try:
            group = zarr.open_group(store, mode='r')
        except Exception as e:  # noqa: B902 - any reason: not a group
            raise FormatError('%s: not a Zarr group (%s)' % (store, e))
    attrs = group.attrs.asdict()
    if attrs.get('wavecodec_segy_store') not in zs.LAYOUTS_READ:
        raise FormatError('%s: not a complete SEG-Y store of a layout read here (no attribute '
                          'wavecodec_segy_store of %s: written by something else, or an ingest '
                          'that did not finish)'
                          % (store, ' or '.join(str(v) for v in zs.LAYOUTS_READ)))
    _check_chunks(store, group)
    return group, attrs


def _check_chunks(store, group):
    """FormatError when a chunk is missing: to_zarr writes every chunk (fill values too), and
    zarr would read a missing one as fill values without a word."""
    for path, a in group.arrays(recurse=True):
        if a.nchunks_initialized != a.nchunks:
            raise FormatError('%s: the store is damaged: %d of the %d chunks of %s are missing'
                              % (store, a.nchunks - a.nchunks_initialized, a.nchunks, a.path))


def open_zarr(store):
    """The store as an xarray.Dataset over dask arrays: `seismic` with coordinates inline,
    crossline, offset (pre-stack) and time (or depth); `live`, `trace_index`, and each header
    field that varies as `header_<field>`; the group's attributes as the Dataset's."""
    import dask.array
    import xarray
    group, _ = _group(store)
    ds = xarray.open_zarr(store, consolidated=True, chunks={}, mask_and_scale=False)
    # The headers one by one: the fields inline, crossline and offset share their names with
    # the dimensions, which xarray refuses within one group.
    heads = group['headers']
    for name in sorted(heads.array_keys()):
        a = heads[name]
        ds['header_' + name] = (a.attrs['_ARRAY_DIMENSIONS'], dask.array.from_zarr(a))
    return ds


class _Store(object):
    """The arrays of a store seen through the three grid axes (inline, crossline, offset)."""

    def __init__(self, name, group, attrs):
        self.name, self.group, self.attrs = name, group, attrs
        self.seismic = group['seismic']
        dims = self.seismic.attrs['_ARRAY_DIMENSIONS'][:-1]
        self.axes = [GRID_AXES.index(d) for d in dims]
        index = group['trace_index'][...]
        self.shape3 = tuple(index.shape[self.axes.index(a)] if a in self.axes else 1
                            for a in range(3))
        self.chunks3 = tuple(self.seismic.chunks[self.axes.index(a)] if a in self.axes else 1
                             for a in range(3))
        flat = index.reshape(-1)
        cells = numpy.flatnonzero(flat >= 0)
        count = attrs['trace_count']
        by_trace = cells[numpy.argsort(flat[cells], kind='stable')]
        if len(cells) != count or not numpy.array_equal(flat[by_trace], numpy.arange(count)):
            raise FormatError('the trace_index array does not number %d traces once each: the '
                              'store is damaged' % count)
        self.trace_of_cell = flat
        self.coords = numpy.unravel_index(by_trace, self.shape3)

    def box(self, lo, hi):
        return tuple(slice(lo[a], hi[a]) for a in self.axes)

    def read(self, name, lo, hi, picks, width=None):
        """Array `name` at the cells `picks` (three index arrays) inside the box lo..hi."""
        try:
            data = self.group[name][self.box(lo, hi)]
        except Exception as e:  # noqa: B902 - a chunk the codec cannot decode, or unreadable
            raise FormatError('%s: the store is damaged: %s at cells %s-%s cannot be read: %s'
                              % (self.name, name, lo, [h - 1 for h in hi], e))
        data = data.reshape(tuple(h - l for l, h in zip(lo, hi)) + data.shape[len(self.axes):])
        return data[picks[0] - lo[0], picks[1] - lo[1], picks[2] - lo[2]]


def _pieces(coords, slow, chunk, most):
    """(first, end) trace ranges: runs of traces in one chunk of the slow axis, cut at `most`."""
    cid = coords[slow] // chunk
    edges = numpy.flatnonzero(cid[1:] != cid[:-1]) + 1
    starts = [0] + edges.tolist()
    ends = edges.tolist() + [len(cid)]
    for a, b in zip(starts, ends):
        for lo in range(a, b, most):
            yield lo, min(lo + most, b)


def _template(attrs, head, endian):
    """The header bytes every trace shares: the constant fields and bytes."""
    base = bytearray(TRACE.encode(dict((k, int(v)) for k, v in
                                       attrs['headers_constant'].items()), endian))
    base += bytearray(head - TRACE_HEADER_SIZE)
    for name, at, width in zs.raw_ranges(head):
        if name in attrs['headers_constant_bytes']:
            base[at:at + width] = base64.b64decode(attrs['headers_constant_bytes'][name])
    return numpy.frombuffer(bytes(base), numpy.uint8)


def _ibm_words(group, store):
    """(trace, sample, word) rows of the IBM words kept aside, sorted by trace."""
    if 'ibm_words' not in group:
        return numpy.zeros((0, 3), numpy.int64)
    tables = [group['ibm_words'][name][...] for name in sorted(group['ibm_words'].array_keys())]
    rows = numpy.concatenate(tables) if tables else numpy.zeros((0, 3), numpy.int64)
    rows[:, 0] = store.trace_of_cell[rows[:, 0]]
    return rows[numpy.argsort(rows[:, 0], kind='stable')]


class _Encoder(object):
    """Samples (rows of the store's type) as file bytes of format `fmt` in byte order `endian`;
    counts what the conversion changed."""

    def __init__(self, source_fmt, fmt, endian, kept):
        self.source, self.fmt, self.endian = source_fmt, fmt, endian
        self.order = zs.ORDER[endian]
        self.kept = kept if fmt.kind == 'ibm' and source_fmt.kind == 'ibm' else None
        self.changed = 0
        self.first_change = None

    def __call__(self, values, first):
        fmt = self.fmt
        same = values.dtype == sample_type(fmt)
        if fmt.kind == 'ibm' and values.dtype == numpy.float32:
            words = values.copy()
            in_chunks(native.ibmfloat().ieee2ibm, words.size, (words.ctypes.data, 4))
            words = words.view(numpy.uint32)
            restored = self._restore(words, first)
            bad = ~numpy.isfinite(values)
            bad[restored] = False
            if bad.any():
                t, s = (int(v[0]) for v in numpy.nonzero(bad))
                raise FormatError('trace %d sample %d: %r has no IBM value' % (
                    first + t, s, values[t, s]))
            raw = words.astype(self.order + 'u4')
            if self.source.kind != 'ibm':
                self._count(values, raw.view(numpy.uint8).reshape(len(values), -1), first)
            return raw
        if same and fmt.kind in ('int', 'float'):
            return values.astype(self.order + values.dtype.str[1:])
        try:
            data = sample_codecs.encode(fmt, values.reshape(-1), self.endian, where='traces')
        except FormatError:
            for k in range(len(values)):
                sample_codecs.encode(fmt, values[k], self.endian, where='trace %d' % (first + k))
            raise
        raw = numpy.frombuffer(data, numpy.uint8).reshape(len(values), -1)
        if fmt.kind != 'int24':
            self._count(values, raw, first)
        return raw

    def _restore(self, words, first):
        if self.kept is None or not len(self.kept):
            return (numpy.zeros(0, int), numpy.zeros(0, int))
        lo, hi = numpy.searchsorted(self.kept[:, 0], [first, first + len(words)])
        rows = self.kept[lo:hi]
        at = (rows[:, 0] - first, rows[:, 1])
        words[at] = rows[:, 2].astype(numpy.uint32)
        self.restored = getattr(self, 'restored', 0) + len(rows)
        return at

    def _count(self, values, raw, first):
        """Counts the values that the target format holds differently."""
        if self.fmt.kind == 'ibm':
            back = raw.view('>u4' if self.endian == 'big' else '<u4').astype(numpy.uint32)
            back = back.copy()
            native.ibmfloat().ibm2ieee(back.ctypes.data, back.size)
            back = back.view(numpy.float32)
        else:
            back = raw.view(self.order + sample_type(self.fmt).str[1:])
        with numpy.errstate(invalid='ignore'):
            diff = ~((back.astype(numpy.float64) == values.astype(numpy.float64)) |
                     (numpy.isnan(back) & numpy.isnan(values)))
        if diff.any():
            self.changed += int(numpy.count_nonzero(diff))
            if self.first_change is None:
                t, s = (int(v[0]) for v in numpy.nonzero(diff))
                self.first_change = (first + t, s, values[t, s], back[t, s])


def _binary_header(attrs, fmt, endian, changed):
    raw = base64.b64decode(attrs['binary_header_bytes'])
    source = attrs['byte_order']
    if endian != source:
        raw = BINARY.encode(BINARY.decode(raw, source), endian, base=raw)
        changed.append('headers written %s-endian (the source is %s-endian)' % (endian, source))
    if fmt.code != attrs['format']:
        raw = BINARY.encode({'format': fmt.code}, endian, base=raw)
        changed.append('samples written as format %d (%s), the source has format %d (%s)'
                       % (fmt.code, fmt.name, attrs['format'], attrs['format_name']))
    return raw


def from_zarr(store, target, format=None, endian=None, progress=None):
    """See segy.from_zarr."""
    group, attrs = _group(store)
    endian = endian or attrs['byte_order']
    if endian not in zs.ORDER:
        raise ValueError("endian must be 'big', 'little' or None, not %r" % (endian,))
    source_fmt = sample_codecs.lookup(attrs['format'])
    fmt = source_fmt if format is None else sample_codecs.lookup(
        sample_codecs.NAMES.get(str(format).lower(), format), 'the format asked for')
    s = _Store(store, group, attrs)
    head = attrs['header_bytes']
    changed = []
    binary = _binary_header(attrs, fmt, endian, changed)
    if endian != attrs['byte_order'] and head > TRACE_HEADER_SIZE:
        changed.append('the additional trace headers are copied as they are, in the source '
                       'byte order')
    template = _template(attrs, head, endian)
    fields = [TRACE.by_name[n] for n in attrs['header_fields']]
    ranges = [p for p in zs.raw_ranges(head) if p[0] not in attrs['headers_constant_bytes']]
    kept = _ibm_words(group, s)
    encode = _Encoder(source_fmt, fmt, endian, kept)
    slow = 1 if attrs['sorting'] == 'crossline' else 0
    per_trace = attrs['samples_per_trace'] * s.seismic.dtype.itemsize
    most = max(1, zs.BLOCK_BYTES // max(1, per_trace))
    count = attrs['trace_count']
    with output(target) as out:
        out.write(base64.b64decode(attrs['text_header_bytes']) + binary)
        for raw in attrs['extended_text_headers_bytes']:
            out.write(base64.b64decode(raw))
        out.write(base64.b64decode(attrs['lead_bytes']))
        for first, end in _pieces(s.coords, slow, s.chunks3[slow], most):
            picks = [c[first:end] for c in s.coords]
            lo = [int(p.min()) for p in picks]
            hi = [int(p.max()) + 1 for p in picks]
            heads = numpy.tile(template, (end - first, 1))
            for name, at, width, kind in fields:
                values = s.read('headers/' + name, lo, hi, picks)
                heads[:, at - 1:at - 1 + width] = values.astype(
                    zs.ORDER[endian] + zs.field_type(width, kind).str[1:]).view(
                    numpy.uint8).reshape(-1, width)
            for name, at, width in ranges:
                heads[:, at:at + width] = s.read('headers/' + name, lo, hi, picks)
            data = encode(s.read('seismic', lo, hi, picks), first)
            out.write(numpy.concatenate([heads, data.view(numpy.uint8).reshape(
                end - first, -1)], axis=1).tobytes())
            if progress:
                progress(end, count)
        out.write(base64.b64decode(attrs['tail_bytes']))
    restored = getattr(encode, 'restored', 0)
    if attrs.get('ibm_words_kept') and encode.kept is None:
        changed.append('%d IBM words that no float32 holds exactly are written as their '
                       'float32 values' % attrs['ibm_words_kept'])
    if encode.changed:
        t, k, was, now = encode.first_change
        changed.append('%d samples changed by the conversion to %s (first: trace %d sample %d, '
                       '%r became %r)' % (encode.changed, fmt.name, t, k, was, now))
    return {'target': target, 'traces': count, 'format': fmt.code, 'endian': endian,
            'ibm_words_restored': restored, 'changed': changed}
