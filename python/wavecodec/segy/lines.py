"""The views of a survey: f.iline, f.xline, f.depth_slice, f.gather and f.cube(), reading
through the file's geometry (geometry.py) and its sample reads (fetch.py).

Keys are line numbers and offsets, not positions, as segyio's users know them:

    f.iline[1250]           # (xlines, samples) at the first offset; f.iline[1250, 400] at 400
    f.iline[1200:1300:10]   # a generator of lines: the numbers in range(1200, 1300, 10) present
    f.iline[1250, :]        # a generator over the offsets; both slices: offsets first per line
    len(f.iline), list(f.iline.keys()), 1250 in f.iline, iter(f.iline)  # in line order
    f.xline[n]              # (ilines, samples); for a 2-D line (samples,)
    f.depth_slice[k]        # sample index k: (ilines, xlines), pre-stack (ilines, xlines,
                            # offsets); slices give generators
    f.gather[il, xl]        # (offsets, samples); post-stack (samples,); [il, xl, off] one trace;
                            # a 2-D line: [xl] and [xl, off]; slices of il/xl give generators
    f.cube()                # (ilines, xlines[, offsets], samples)

Every array is inline-major (ilines before xlines) and new; cells no trace holds get the fill
value (NaN for float samples, 0 for integer ones, or open()'s fill=).
"""
import numpy

INLINE_AXIS, CROSSLINE_AXIS = 0, 1
AXES = ('inline', 'crossline', 'offset')


def _key(g, axis, value):
    """The position of line number or offset `value` on `axis` of geometry `g`; KeyError if
    absent."""
    try:
        number = value.__index__()
    except (AttributeError, TypeError):
        raise KeyError('%s %r: a whole number' % (AXES[axis], value))
    return g.position(axis, number)


def _range(numbers, part):
    """The positions of the numbers of slice `part` (of numbers, not positions) that are
    present, in the slice's order: segyio's slices of line numbers."""
    step = 1 if part.step is None else part.step
    if step == 0:
        raise ValueError('slice step cannot be zero')
    if step > 0:
        start = numbers[0] if part.start is None else part.start
        stop = numbers[-1] + 1 if part.stop is None else part.stop
        found = (numbers >= start) & (numbers < stop) & ((numbers - start) % step == 0)
        return [int(k) for k in numpy.flatnonzero(found)]
    start = numbers[-1] if part.start is None else part.start
    stop = numbers[0] - 1 if part.stop is None else part.stop
    found = (numbers <= start) & (numbers > stop) & ((start - numbers) % -step == 0)
    return [int(k) for k in numpy.flatnonzero(found)[::-1]]


class _View(object):
    def __init__(self, survey):
        self.survey = survey
        self.geometry = survey.geometry

    def _read(self, cells):
        """The traces of the grid cells `cells` (trace indices, any shape) as (..., samples)."""
        values = self.survey.fetch().traces(cells.reshape(-1), self.survey._fill())
        return values.reshape(cells.shape + (values.shape[-1],))


class Line(_View):
    """The inlines (axis 0) or crosslines (axis 1) of a survey, by line number."""

    def __init__(self, survey, axis):
        _View.__init__(self, survey)
        self.axis = axis
        g = self.geometry
        self.numbers = g.ilines if axis == INLINE_AXIS else g.xlines
        if self.numbers is None:
            raise ValueError('%s: a 2-D line (opened with iline=None) has no inlines; its '
                             'traces are f.xline[n] or f.gather[n]' % survey.name)

    def __len__(self):
        return len(self.numbers)

    def __contains__(self, number):
        try:
            _key(self.geometry, self.axis, number)
            return True
        except KeyError:
            return False

    def keys(self):
        return [int(n) for n in self.numbers]

    def __iter__(self):
        for at in range(len(self.numbers)):
            yield self._line(at, 0)

    def values(self):
        return iter(self)

    def items(self):
        return zip(self.keys(), iter(self))

    def _line(self, at, offset_at):
        grid = self.geometry.grid
        cells = grid[at, :, offset_at] if self.axis == INLINE_AXIS else grid[:, at, offset_at]
        if self.geometry.two_d:
            cells = cells[0]
        return self._read(cells)

    def __getitem__(self, key):
        offsets = self.geometry.offsets
        line, offset = (key if isinstance(key, tuple) and len(key) == 2 else (key, None))
        if isinstance(key, tuple) and len(key) != 2:
            raise KeyError('%s[%r]: a line number, or a line number and an offset' % (
                AXES[self.axis], key))
        if offset is None:
            offset_at = [0]
        elif isinstance(offset, slice):
            offset_at = _range(offsets, offset)
        else:
            offset_at = [_key(self.geometry, 2, offset)]
        if not isinstance(line, slice) and not isinstance(offset, slice):
            return self._line(_key(self.geometry, self.axis, line), offset_at[0])
        lines = (_range(self.numbers, line) if isinstance(line, slice)
                 else [_key(self.geometry, self.axis, line)])
        return (self._line(a, o) for a in lines for o in offset_at)


class DepthSlice(_View):
    """Horizontal cuts by sample index: f.depth_slice[k]."""

    def __len__(self):
        return self.survey.samples_per_trace

    def _cut(self, k):
        g = self.geometry
        values = self.survey.fetch().depth(g.grid.reshape(-1), k, self.survey._fill())
        return g.cells(values)

    def __getitem__(self, k):
        if isinstance(k, slice):
            return (self._cut(j) for j in range(*k.indices(len(self))))
        try:
            k = k.__index__()
        except (AttributeError, TypeError):
            raise TypeError('depth_slice[%r]: a sample index or a slice of them' % (k,))
        n = len(self)
        if not -n <= k < n:
            raise IndexError('depth_slice[%d]: the traces hold samples 0 to %d' % (k, n - 1))
        return self._cut(k % n)

    def __iter__(self):
        return self[:]


class Gather(_View):
    """The traces of one cell at every offset: f.gather[il, xl] (a 2-D line: f.gather[xl])."""

    def __getitem__(self, key):
        g = self.geometry
        key = key if isinstance(key, tuple) else (key,)
        lines = 1 if g.two_d else 2
        if not lines <= len(key) <= lines + 1:
            raise KeyError('gather[%r]: %s, then an offset if you like' % (
                key, 'a crossline number' if g.two_d else 'an inline and a crossline number'))
        il, xl = (None, key[0]) if g.two_d else key[:2]
        offset = key[lines] if len(key) > lines else None
        if isinstance(il, slice) or isinstance(xl, slice):
            ils = [0] if g.two_d else (_range(g.ilines, il) if isinstance(il, slice)
                                       else [_key(g, 0, il)])
            xls = (_range(g.xlines, xl) if isinstance(xl, slice)
                   else [_key(g, 1, xl)])
            return (self._cell(i, x, offset) for i in ils for x in xls)
        i = 0 if g.two_d else _key(g, 0, il)
        return self._cell(i, _key(g, 1, xl), offset)

    def _cell(self, i, x, offset):
        g = self.geometry
        cells = g.grid[i, x]
        if offset is None and not g.prestack:
            return self.survey.fetch().one(int(cells[0]), self.survey._fill())
        if offset is None:
            return self._read(cells)
        if isinstance(offset, slice):
            return self._read(cells[_range(g.offsets, offset)])
        return self._read(cells[_key(g, 2, offset)])


def cube(survey):
    """Every cell: (ilines, xlines[, offsets], samples), inline-major."""
    g = survey.geometry
    values = survey.fetch().traces(g.grid.reshape(-1), survey._fill())
    return values.reshape(g.shape + (values.shape[-1],))
