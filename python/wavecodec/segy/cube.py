"""write_cube: a survey from a numpy cube, its traces in line order with the geometry fields
filled, so that open() (and segyio) read back the same lines, cells and samples.

    segy.write_cube('out.sgy', cube, ilines, xlines, sample_interval=4000)   # (il, xl, samples)
    segy.write_cube('out.sgy', cube, ilines, xlines, 4000, offsets=[100, 200])  # (il, xl, off, s)
    segy.write_cube('line.sgy', section, None, cdps, 2000)      # a 2-D line: (xl[, off], samples)

Every trace gets inline (bytes 189-192), crossline (193-196), offset (37-40), cdp (21-24: the
cell's number in the whole grid, counted from 1 in inline-major order; a 2-D line's crossline
number), cdp_trace (25-28: the offset's number within the cell, from 1), its sequence numbers in
its line and in the file, and the sample count and interval. `live` (bool, the cells' shape)
leaves out the cells where it is false; `trace_headers` adds fields: a dict of field names to a
number or an array of the cells' shape. `sorting='crossline'` writes crossline after crossline.
Needs numpy.
"""
from ..errors import FormatError
from .fields import TRACE, TRACE_HEADER_SIZE
from .survey import NEEDS
from .writer import write

if not NEEDS:
    import numpy

# Fields write_cube sets from its own arguments, which trace_headers may not replace.
_OWNED = ('inline', 'crossline', 'offset', 'sample_count', 'sample_interval')
# Binary header trace sorting codes: CDP ensembles (pre-stack), stacked traces (post-stack).
CDP_ENSEMBLE, STACKED = 2, 4


def _numbers(values, what, count):
    values = numpy.asarray(values)
    if values.ndim != 1 or len(values) != count:
        raise ValueError('%s: %d numbers for the %d of the cube, not an array of shape %s'
                         % (what, count, count, values.shape))
    if len(values) and values.dtype.kind not in 'iu':
        whole = values.astype(numpy.int64)
        if values.dtype.kind not in 'f' or not (whole == values).all():
            raise ValueError('%s: whole numbers, not %s' % (what, values.dtype))
        values = whole
    values = values.astype(numpy.int64)
    if len(numpy.unique(values)) != len(values):
        raise ValueError('%s: every number once (%s)' % (what, values.tolist()))
    return values


def _put(headers, name, values):
    """Field `name` of every header (rows of 240 bytes) from `values`, each checked to fit."""
    _, first, width, kind = TRACE.by_name[name]
    dtype = numpy.dtype('%s%s%d' % (headers.order, 'i' if kind == 'i' else 'u', width))
    values = numpy.broadcast_to(numpy.asarray(values), (len(headers.rows),))
    if values.dtype.kind not in 'iub':
        whole = numpy.round(values) if values.dtype.kind == 'f' else None
        if whole is None or not (whole == values).all():
            raise FormatError('%s: whole numbers, not %r' % (TRACE.describe(name), values[0]))
        values = whole
    info = numpy.iinfo(dtype)
    bad = numpy.flatnonzero((values < info.min) | (values > info.max))
    if len(bad):
        raise FormatError('%s cannot hold %d (trace %d)'
                          % (TRACE.describe(name), values[bad[0]], bad[0]))
    packed = values.astype(dtype)
    headers.rows[:, first - 1:first - 1 + width] = packed.view(numpy.uint8).reshape(-1, width)


class _Headers(object):
    def __init__(self, count, endian):
        self.rows = numpy.zeros((count, TRACE_HEADER_SIZE), numpy.uint8)
        self.order = '>' if endian == 'big' else '<'


def _shape(cube, two_d, offsets):
    """(cube as (ilines, xlines, offsets, samples), offsets array, pre-stack?)."""
    base = 1 if two_d else 2
    if offsets is None:
        if cube.ndim != base + 1:
            raise ValueError('cube: %d axes (%s samples) without offsets, not shape %s'
                             % (base + 1, 'crosslines,' if two_d else 'inlines, crosslines,',
                                cube.shape))
        offsets = numpy.zeros(1, numpy.int64)
        prestack = False
    else:
        offsets = _numbers(offsets, 'offsets', len(numpy.asarray(offsets).reshape(-1)))
        prestack = cube.ndim == base + 2
        if not prestack and not (cube.ndim == base + 1 and len(offsets) == 1):
            raise ValueError('cube: shape %s for %d offsets: (%s offsets, samples)'
                             % (cube.shape, len(offsets), 'crosslines,' if two_d
                                else 'inlines, crosslines,'))
        if prestack and cube.shape[-2] != len(offsets):
            raise ValueError('cube: %d offsets on its offset axis, %d offsets given'
                             % (cube.shape[-2], len(offsets)))
    full = cube.reshape(((1,) if two_d else ()) + cube.shape[:base] + (len(offsets),)
                        + cube.shape[-1:])
    return full, offsets, prestack


def _cells(values, shape, what):
    """`values` over the 3-axis grid `shape`: a number, an array of the cells' shape (the views'
    shape), or of that shape without the offset axis (the same for every offset)."""
    values = numpy.asarray(values)
    if values.ndim == 0:
        return numpy.broadcast_to(values, shape)
    for target in (shape, shape[:2] + (1,)):
        if values.size == int(numpy.prod(target)):
            return numpy.broadcast_to(values.reshape(target), shape)
    raise ValueError("%s: an array of the cells' shape (%d cells), not of shape %s"
                     % (what, int(numpy.prod(shape)), values.shape))


def write_cube(target, cube, ilines, xlines, sample_interval, offsets=None, format=1,
               endian='big', sorting='inline', live=None, trace_headers=None):
    """Writes the survey `cube` to `target` (a path or a binary file object); returns the number
    of traces written. See the module docstring."""
    if NEEDS:
        raise ImportError(NEEDS.replace('the survey views (', 'write_cube (and '))
    cube = numpy.asarray(cube)
    two_d = ilines is None
    if sorting not in ('inline', 'crossline'):
        raise ValueError("sorting must be 'inline' or 'crossline', not %r" % (sorting,))
    if endian not in ('big', 'little'):
        raise ValueError("endian must be 'big' or 'little', not %r" % (endian,))
    full, offsets, prestack = _shape(cube, two_d, offsets)
    ni, nx, no, count = full.shape
    il = numpy.zeros(1, numpy.int64) if two_d else _numbers(ilines, 'ilines', ni)
    xl = _numbers(xlines, 'xlines', nx)
    keep = numpy.ones((ni, nx, no), bool) if live is None else \
        _cells(live, (ni, nx, no), 'live').astype(bool)
    grid = numpy.indices((ni, nx, no)).reshape(3, -1).T          # inline-major cells
    if sorting == 'crossline':
        grid = numpy.indices((nx, ni, no)).reshape(3, -1).T[:, [1, 0, 2]]
    grid = grid[keep[grid[:, 0], grid[:, 1], grid[:, 2]]]
    i, j, k = grid[:, 0], grid[:, 1], grid[:, 2]
    n = len(grid)
    headers = _Headers(n, endian)
    if not two_d:
        _put(headers, 'inline', il[i])
    _put(headers, 'crossline', xl[j])
    _put(headers, 'offset', offsets[k])
    _put(headers, 'cdp', xl[j] if two_d else i * nx + j + 1)
    _put(headers, 'cdp_trace', k + 1)
    line = j if sorting == 'crossline' else i
    starts = numpy.concatenate(([0], numpy.flatnonzero(line[1:] != line[:-1]) + 1))
    first_of_line = numpy.repeat(starts, numpy.diff(numpy.append(starts, n)))
    _put(headers, 'trace_sequence_line', numpy.arange(n) - first_of_line + 1)
    _put(headers, 'trace_sequence_file', numpy.arange(n) + 1)
    try:
        interval = int(sample_interval)
        usable = interval == sample_interval and 0 < interval <= 65535
    except (TypeError, ValueError, OverflowError):
        usable = False
    if usable:   # else the writer refuses it, naming it
        _put(headers, 'sample_interval', interval)
    for name in sorted(trace_headers or {}):
        if name in _OWNED or name not in TRACE.by_name:
            raise FormatError("trace_headers: %s" % (
                "'%s' is written from write_cube's own arguments" % name if name in _OWNED
                else "unknown trace header field '%s'" % name))
        _put(headers, name, _cells(trace_headers[name], (ni, nx, no),
                                   "trace_headers['%s']" % name)[i, j, k])
    data = full[i, j, k]
    binary = {'trace_sorting': CDP_ENSEMBLE if prestack else STACKED,
              'traces_per_ensemble': no}
    text = ['survey written by wavecodec.segy.write_cube, %s sorted' % sorting,
            '%s, %d crosslines%s' % ('2-D line' if two_d else '%d inlines' % ni, nx,
                                     ', %d offsets' % no if prestack else ''),
            '%d traces of %d samples' % (n, count),
            'inline bytes 189-192, crossline 193-196, offset 37-40, cdp 21-24']
    return write(target, data, sample_interval, format=format, endian=endian,
                 text_header='\n'.join('C%2d %s' % (r + 1, t) for r, t in enumerate(text)),
                 binary_header=binary, trace_headers=[r.tobytes() for r in headers.rows])
