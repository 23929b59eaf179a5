"""The survey geometry of a SEG-Y or SU file: the grid cell (inline, crossline, offset) of every
trace, inferred from one scan of three trace header fields. This module decides the geometry;
lines.py and fetch.py read through it.

    g = f.geometry            # of an open file: segy.open(path, iline=, xline=, offset=)
    g.sorting                 # 'inline' (crosslines vary fastest along the file), 'crossline',
                              # or None: the traces form no grid (g.problem says why)
    g.ilines                  # sorted unique inline numbers (numpy int64); None for a 2-D line
    g.xlines, g.offsets       # sorted unique crossline numbers and offsets (numpy int64)
    g.grid                    # trace number per cell, -1 where no trace holds it: numpy int64,
                              # always three axes (len(ilines) or 1 for a 2-D line,
                              # len(xlines), len(offsets)), whatever the file's order
    g.live                    # g.grid >= 0 in the views' shape: (ilines, xlines[, offsets]);
                              # no inline axis for a 2-D line, no offset axis post-stack
    g.shape                   # that shape
    g.prestack                # more than one offset
    g.fields                  # the inline, crossline and offset fields: (name, first byte) or None
    g.problem                 # None, or why there is no grid, naming the fields and two traces

Arrays are inline-major, whatever the order of the traces in the file: cell (i, j, k) is inline
ilines[i], crossline xlines[j], offset offsets[k]. A grid may have holes (cells no trace fills);
it is refused (sorting None, grid and the axes None) when two traces hold the same cell, when it
would have more than MAX_CELLS_PER_TRACE cells per trace (a scatter of numbers, not a grid), or
when the file holds no traces. Needs numpy.
"""
import numpy

from .fields import TRACE

# More cells than this many per trace: the numbers scatter rather than form a grid.
MAX_CELLS_PER_TRACE = 4
# Line numbers spread over at most this many values per trace are indexed by a table (linear
# time); wider spreads by a sort.
TABLE_SPREAD = 16
INLINE, CROSSLINE = 'inline', 'crossline'


def describe(field):
    return TRACE.describe(field[0])


def _index(values):
    """(sorted unique values, index of each value among them), in linear time when the values
    spread over few numbers."""
    if not len(values):
        return numpy.zeros(0, numpy.int64), numpy.zeros(0, numpy.intp)
    low, high = int(values.min()), int(values.max())
    if high - low <= TABLE_SPREAD * len(values) + 1024:
        present = numpy.zeros(high - low + 1, dtype=bool)
        shifted = values - low
        present[shifted] = True
        rank = numpy.cumsum(present) - 1
        return numpy.flatnonzero(present).astype(numpy.int64) + low, rank[shifted]
    unique, inverse = numpy.unique(values, return_inverse=True)
    return unique.astype(numpy.int64), inverse


class Geometry(object):
    """See the module docstring."""

    def __init__(self, name, fields, values):
        self.name = name
        self.fields = fields
        self.sorting = self.ilines = self.xlines = self.offsets = self.grid = None
        self.problem = self._tables = None
        self._infer(values)

    def _refuse(self, message):
        self.problem = '%s: no survey grid: %s' % (self.name, message)

    def _where(self, trace, values):
        parts = []
        for field, what in zip(self.fields, ('inline', 'crossline', 'offset')):
            if field is not None:
                parts.append('%s %d' % (what, values[field[0]][trace]))
        return ', '.join(parts)

    def _fields_named(self):
        return ', '.join(describe(s) for s in self.fields if s is not None)

    def _infer(self, values):
        il_field, xl_field, off_field = self.fields
        count = len(values[xl_field[0]])
        if not count:
            return self._refuse('the file holds no traces')
        zeros = numpy.zeros(count, numpy.int64)
        il = values[il_field[0]] if il_field else zeros
        off = values[off_field[0]] if off_field else zeros
        xl = values[xl_field[0]]
        ilines, il_at = _index(il)
        xlines, xl_at = _index(xl)
        offsets, off_at = _index(off)
        ni, nx, no = len(ilines), len(xlines), len(offsets)
        cells = ni * nx * no
        if cells > MAX_CELLS_PER_TRACE * count:
            return self._refuse(
                '%d inline numbers x %d crossline numbers x %d offsets make %d cells for %d '
                'traces (more than %d a trace: a scatter, not a grid), e.g. trace 0 (%s) and '
                'trace %d (%s); fields: %s'
                % (ni, nx, no, cells, count, MAX_CELLS_PER_TRACE, self._where(0, values),
                   count - 1, self._where(count - 1, values), self._fields_named()))
        cell = (il_at * nx + xl_at) * no + off_at
        grid = numpy.full(cells, -1, dtype=numpy.int64)
        order = numpy.arange(count, dtype=numpy.int64)
        grid[cell] = order
        clash = numpy.flatnonzero(grid[cell] != order)
        if len(clash):
            a, b = (int(t) for t in numpy.flatnonzero(cell == cell[clash[0]])[:2])
            return self._refuse('traces %d and %d both hold %s (%s)' % (
                a, b, self._where(a, values), self._fields_named()))
        self.grid = grid.reshape(ni, nx, no)
        self.ilines = ilines if il_field else None
        self.xlines, self.offsets = xlines, offsets
        # Sorting: the line number that changes less often from trace to trace is the slow one.
        il_changes = int(numpy.count_nonzero(il_at[1:] != il_at[:-1]))
        xl_changes = int(numpy.count_nonzero(xl_at[1:] != xl_at[:-1]))
        self.sorting = INLINE if il_changes <= xl_changes else CROSSLINE

    def position(self, axis, number):
        """The position of `number` among the inlines (axis 0), crosslines (1) or offsets (2);
        KeyError if absent."""
        if self._tables is None:
            self._tables = [dict((int(v), k) for k, v in enumerate(numbers))
                            if numbers is not None else {}
                            for numbers in (self.ilines, self.xlines, self.offsets)]
        try:
            return self._tables[axis][number]
        except KeyError:
            numbers = (self.ilines, self.xlines, self.offsets)[axis]
            what = ('inline', 'crossline', 'offset')[axis]
            if numbers is None:
                raise KeyError('%s %r: %s' % (what, number, self.problem or 'a 2-D line has '
                                              'no inlines'))
            raise KeyError('%s %r is not in this survey (%d %ss from %d to %d)'
                           % (what, number, len(numbers), what, numbers[0], numbers[-1]))

    @property
    def prestack(self):
        return self.offsets is not None and len(self.offsets) > 1

    @property
    def two_d(self):
        return self.fields[0] is None

    @property
    def shape(self):
        """The views' grid shape: (ilines, xlines[, offsets]), no inline axis for a 2-D line."""
        if self.grid is None:
            return None
        ni, nx, no = self.grid.shape
        return (() if self.two_d else (ni,)) + (nx,) + ((no,) if no > 1 else ())

    def cells(self, grid):
        """`grid` (three axes, or a part with fewer) in the views' shape."""
        return grid.reshape(self.shape)

    @property
    def live(self):
        return None if self.grid is None else self.cells(self.grid >= 0)

    def live_count(self):
        return 0 if self.grid is None else int(numpy.count_nonzero(self.grid >= 0))


def _record_type(fields):
    """A numpy record type picking the fields out of a whole trace (header and samples)."""
    names, formats, offsets = [], [], []
    for field in fields:
        name, first, width, kind = TRACE.by_name[field[0]]
        if name in names:
            continue
        names.append(name)
        formats.append('%s%d' % ('i' if kind == 'i' else 'u', width))
        offsets.append(first - 1)
    return names, formats, offsets


def scan(f, fields, traces=None):
    """The values of `fields` ((name, first byte) each, or None) in every trace: a dict of numpy
    int64 arrays by name. Fixed-length traces in a mapped file are read in one pass of a record
    view over the map (one strided copy); others field by field with f.attribute()."""
    fields = [s for s in fields if s is not None]
    layout = f.fixed_layout()
    if traces is not None and layout is not None and len(fields):
        start, size, _, _ = layout
        names, formats, offsets = _record_type(fields)
        order = '>' if f.endian == 'big' else '<'
        view_type = numpy.dtype({'names': names, 'formats': [order + t for t in formats],
                                 'offsets': offsets, 'itemsize': size})
        packed = numpy.empty(len(f), numpy.dtype({'names': names,
                                                  'formats': ['=' + t for t in formats]}))
        packed[...] = numpy.ndarray((len(f),), view_type, traces, start)
        return dict((n, packed[n].astype(numpy.int64)) for n in names)
    return dict((s[0], numpy.asarray(f.attribute(s[0])).astype(numpy.int64)) for s in fields)


def sample_axis(f, first_header):
    """The sample times in ms: the delay of the first trace (its time scalar applied) plus the
    interval (the file's, else the first trace's) times the sample number; sample numbers when
    the interval is unknown (0)."""
    count = f.samples_per_trace
    interval = f.sample_interval or (first_header or {}).get('sample_interval', 0)
    if not interval:
        return numpy.arange(count, dtype=numpy.float64)
    delay = 0.0
    if first_header:
        scalar = first_header['time_scalar']
        delay = float(first_header['delay_recording_time'])
        delay = delay * scalar if scalar > 0 else delay / -scalar if scalar < 0 else delay
    return delay + numpy.arange(count, dtype=numpy.float64) * (interval / 1000.0)
