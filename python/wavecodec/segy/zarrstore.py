"""The Zarr group of a SEG-Y survey: its layout, the plan of an ingest made once on the client,
and the task that fills one block of it (run serially, in local processes or on Dask workers).

A store (a folder) holds:
    seismic                  (inline, crossline[, offset], sample) in the samples' own type:
                             float32 for IBM and IEEE singles, the integer type of integer
                             formats (int32 for 24-bit ones), float64 for IEEE doubles; cells no
                             trace holds are NaN (floats) or 0
    live                     bool per cell; trace_index: the trace's number in the source file,
                             -1 where no trace is (the order the SEG-Y is written back in)
    inline, crossline, offset, time (or depth): the axes, as coordinate arrays
    headers/<field>          one array per trace header field that varies over the survey (the
                             names of segy.TRACE_FIELDS; 0 where no trace is); constant fields
                             are the attribute headers_constant. Bytes no field covers
                             (unassigned_233_240) and additional trace headers
                             (additional_headers) are uint8 arrays with one more axis, or base64
                             in headers_constant_bytes when the same in every trace
    ibm_words/<block>        IBM words whose value no float32 holds exactly (beyond its range,
                             unnormalized words, zeros with an exponent): rows of (cell, sample,
                             word), so that from_zarr writes them back as they were
and the group's attributes: the text, binary and extended headers decoded and as raw bytes
(base64), the bytes between the headers and the first trace and after the last one, the source
byte order, format, revision, sorting and the reader's notes. Every array names its dimensions
in _ARRAY_DIMENSIONS, so xarray opens the store as it is (zarrread.open_zarr).

Chunks default to 64 x 64 x 64 post-stack (1 MiB of float32); pre-stack to 16 inlines x 16
crosslines x 16 offsets x 64 samples; a 2-D line to 1024 traces x 256 samples (64 x 16 x 256
pre-stack). A block, the work of one task, is one chunk along the file's slow axis (inlines for
inline sorting) and whole chunks along the other, all offsets and samples, at most BLOCK_BYTES of
samples: no two blocks share a chunk of any array.
"""
import os
import sys

import numpy
import zarr

from .. import native
from ..ibm import in_chunks
from ..errors import FormatError
from .fetch import fill_value, sample_type
from .fields import TRACE, TRACE_HEADER_SIZE
from .reader import open as open_segy

# Version of the layout above, in the attribute wavecodec_segy_store.
LAYOUT = 1
BLOCK_BYTES = 64 << 20
# Header rows compared at a time while looking for the fields that vary.
SCAN_ROWS = 1 << 15
ORDER = {'big': '>', 'little': '<'}


def default_chunks(two_d, prestack):
    """The store's chunks (without the axes it lacks), by the rule of the module docstring."""
    if two_d:
        return (64, 16, 256) if prestack else (1024, 256)
    return (16, 16, 16, 64) if prestack else (64, 64, 64)


def field_type(width, kind):
    return numpy.dtype('<%s%d' % ('u' if kind == 'u' else 'i', width))


def raw_ranges(head):
    """(name, offset, width) of the header bytes no trace field covers, and of the additional
    trace headers when a trace has them (`head` bytes of header per trace)."""
    covered = numpy.zeros(TRACE_HEADER_SIZE, bool)
    for _, first, width, _ in TRACE.fields:
        covered[first - 1:first - 1 + width] = True
    ranges, at = [], 0
    while at < TRACE_HEADER_SIZE:
        if covered[at]:
            at += 1
            continue
        end = at
        while end < TRACE_HEADER_SIZE and not covered[end]:
            end += 1
        ranges.append(('unassigned_%d_%d' % (at + 1, end), at, end - at))
        at = end
    if head > TRACE_HEADER_SIZE:
        ranges.append(('additional_headers', TRACE_HEADER_SIZE, head - TRACE_HEADER_SIZE))
    return ranges


class Job(object):
    """What every task needs, made once on the client and sent with each block: the source and
    how to open it, the layout it must still have, the store and the fields to write."""

    def __init__(self, f, options, store, fields, ranges, store_axes, grid_shape):
        self.source = f.name
        self.options = options
        self.layout = f.fixed_layout()
        self.count = len(f)
        self.endian = f.endian
        self.format = f.format
        self.store = store
        self.fields = fields          # [(name, offset, width, kind)] that vary
        self.ranges = ranges          # [(name, offset, width)] raw bytes that vary
        self.store_axes = store_axes  # grid axes the store keeps (0 inline, 1 crossline, 2 offset)
        self.grid_shape = grid_shape

    def open(self):
        f = open_segy(self.source, endian=self.endian, format=self.format,
                      strict=self.options.get('strict', True))
        if f.fixed_layout() != self.layout or len(f) != self.count:
            f.close()
            raise FormatError('%s: the file changed since the ingest was planned (%d traces '
                              'then, %d now)' % (self.source, self.count, len(f)))
        return f

    def cells(self, block):
        """The store's index of the cells of `block` ((lo0, hi0, lo1, hi1), all offsets)."""
        lo0, hi0, lo1, hi1 = block
        full = (slice(lo0, hi0), slice(lo1, hi1), slice(None))
        return tuple(full[a] for a in self.store_axes)

    def shape(self, shape3):
        return tuple(shape3[a] for a in self.store_axes)


def trace_rows(f):
    """The file's traces as a (traces, bytes per trace) uint8 view of its map."""
    start, size, _, _ = f.fixed_layout()
    whole = f.fetch().buffer()
    if whole is None:
        raise FormatError('%s: the file is shorter than its %d traces (cut short while read?)'
                          % (f.name, len(f)))
    return numpy.ndarray((len(f), size), numpy.uint8, whole, start, (size, 1))


def varying_bytes(rows, head):
    """A bool per header byte: whether it differs between any two traces."""
    varies = numpy.zeros(head, bool)
    first = rows[0, :head]
    for lo in range(0, len(rows), SCAN_ROWS):
        varies |= (rows[lo:lo + SCAN_ROWS, :head] != first).any(axis=0)
    return varies


def ibm_mismatches(raw, endian, values):
    """(row, sample) of the IBM words of `raw` (uint8 rows of samples in file order, the last
    axis contiguous) that their float32 `values` do not give back, and those words (host-order
    uint32). Each value is converted back to IBM by the library and compared word for word
    (a mask of every word only when some differ)."""
    words = numpy.array(raw).view(numpy.uint32)
    if endian != sys.byteorder:
        words.byteswap(True)
    back = numpy.array(values, numpy.float32)
    flat = back.reshape(-1)
    in_chunks(native.ibmfloat().ieee2ibm, flat.size, (flat.ctypes.data, 4))
    back = back.view(numpy.uint32)
    if numpy.array_equal(back, words):   # the common case
        return numpy.zeros(0, numpy.intp), numpy.zeros(0, numpy.intp), words[:0, 0]
    rows, samples = numpy.nonzero(back != words)
    return rows, samples, words[rows, samples]


def ingest_block(job, block, grid):
    """Fills the chunks of `block` ((lo0, hi0, lo1, hi1) of the grid) from the source; `grid`
    is the trace number of each of its cells (-1: none). Returns (traces written, IBM words
    kept aside)."""
    lo0, hi0, lo1, hi1 = block
    flat = grid.reshape(-1)
    live = numpy.flatnonzero(flat >= 0)
    order = ORDER[job.endian]
    group = zarr.open_group(job.store, mode='r+')
    cells = job.cells(block)
    shape = job.shape(grid.shape)
    f = job.open()
    try:
        fmt = f.sample_format
        data = f.fetch().traces(flat, fill_value(fmt, None))
        rows = trace_rows(f)
        head = job.layout[2]
        picked = rows[flat[live], :head]
        kept = 0
        if fmt.kind == 'ibm' and len(live):
            ids, width = flat[live], 4 * job.layout[3]
            if ids[-1] - ids[0] == len(ids) - 1 and (numpy.diff(ids) == 1).all():
                raw = rows[ids[0]:ids[-1] + 1, head:head + width]   # a view of the map
            else:
                raw = rows[ids, head:head + width]
            at, sample, words = ibm_mismatches(
                raw, job.endian, data if len(live) == len(flat) else data[live])
            kept = len(at)
            if kept:
                where = numpy.unravel_index(live[at], grid.shape)
                cell = numpy.ravel_multi_index((where[0] + lo0, where[1] + lo1, where[2]),
                                               job.grid_shape)
                table = numpy.stack([cell, sample, words.astype(numpy.int64)], 1)
                group.require_group('ibm_words').create_dataset(
                    'b%d_%d' % (lo0, lo1), data=table, chunks=(1 << 16, 3), overwrite=True)
    finally:
        f.close()
    group['seismic'][cells] = data.reshape(shape + (data.shape[-1],))
    for name, at, width, kind in job.fields:
        values = numpy.zeros(len(flat), field_type(width, kind))
        values[live] = picked[:, at:at + width].copy().view(order + field_type(width, kind).str[1:]
                                                            ).reshape(-1)
        group['headers/' + name][cells] = values.reshape(shape)
    for name, at, width in job.ranges:
        values = numpy.zeros((len(flat), width), numpy.uint8)
        values[live] = picked[:, at:at + width]
        group['headers/' + name][cells] = values.reshape(shape + (width,))
    return len(live), kept


def blocks(grid_shape, chunks3, slow, samples, itemsize):
    """The blocks of the grid: (lo0, hi0, lo1, hi1), one chunk along the `slow` grid axis (0 or
    1) and whole chunks along the other, at most BLOCK_BYTES of samples each."""
    fast = 1 - slow
    per_chunk = chunks3[slow] * chunks3[fast] * grid_shape[2] * samples * itemsize
    span = chunks3[fast] * max(1, BLOCK_BYTES // max(1, per_chunk))
    out = []
    for s in range(0, grid_shape[slow], chunks3[slow]):
        for q in range(0, grid_shape[fast], span):
            s_end, q_end = min(s + chunks3[slow], grid_shape[slow]), \
                min(q + span, grid_shape[fast])
            out.append((s, s_end, q, q_end) if slow == 0 else (q, q_end, s, s_end))
    return out


def store_size(path):
    """Bytes of the files under `path`."""
    total = 0
    for root, _, names in os.walk(path):
        for name in names:
            total += os.path.getsize(os.path.join(root, name))
    return total


__all__ = ['Job', 'LAYOUT', 'blocks', 'default_chunks', 'ingest_block', 'raw_ranges',
           'sample_type', 'store_size', 'trace_rows', 'varying_bytes']
