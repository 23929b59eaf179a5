"""The survey side of an open SEG-Y or SU file: its geometry and the views of lines, slices,
gathers and the cube, as properties of the file object (SegyFile inherits them).

    with segy.open('survey.sgy', iline='inline', xline='crossline', offset='offset',
                   fill=None) as f:
        f.sorting             # 'inline' (crosslines vary fastest), 'crossline', or None
        f.ilines, f.xlines, f.offsets, f.live, f.samples, f.geometry
        f.iline[n], f.xline[n], f.depth_slice[k], f.gather[il, xl], f.cube()

The geometry is inferred on first use, from one scan of the three fields (geometry.py); the
views read through fetch.py (lines.py). All of it needs Python 3 with numpy; elsewhere it says
so and the rest of the file object works as ever. A file whose traces form no grid has sorting
None and axes None; its views raise FormatError saying why.
"""
import sys

from ..compat import string_types
from ..errors import FormatError
from .fields import TRACE

try:
    import numpy
except ImportError:  # the views say so; trace access needs no numpy
    numpy = None

if numpy is not None and sys.version_info[0] >= 3:
    from . import fetch, geometry, lines
    NEEDS = None
else:
    NEEDS = ('the survey views (f.sorting, f.iline, f.xline, f.depth_slice, f.gather, '
             'f.cube(), ...) need Python 3 with numpy (this is Python %s%s); f.trace(), '
             'f.traces() and f.header() work without them'
             % (sys.version.split()[0], ', without numpy' if numpy is None else ''))

DEFAULT_ILINE, DEFAULT_XLINE, DEFAULT_OFFSET = 189, 193, 37


def resolve_field(value, what):
    """The trace header field named by `value`: a field name or the first byte of a 4-byte
    field (segyio's numbering: 189 inline, 193 crossline, 37 offset); None stays None. Returns
    (name, first byte) or raises ValueError naming `what`."""
    if value is None:
        return None
    if isinstance(value, string_types):
        found = TRACE.by_name.get(value)
        if found is None or found[3] not in 'iu':
            raise ValueError("%s=%r: not an integer trace header field (known: %s)"
                             % (what, value, ', '.join(n for n, _, _, k in TRACE.fields
                                                       if k in 'iu')))
        return found[0], found[1]
    try:
        if isinstance(value, bool):
            raise TypeError
        first = value.__index__()
    except (AttributeError, TypeError):
        raise ValueError('%s=%r: a trace header field name or the first byte of a 4-byte field'
                         % (what, value))
    for name, start, width, kind in TRACE.fields:
        if start == first and width == 4 and kind in 'iu':
            return name, start
    raise ValueError('%s=%r: byte %r does not start a 4-byte trace header field (%s)'
                     % (what, value, first, ', '.join('%d %s' % (s, n) for n, s, w, k
                                                      in TRACE.fields if w == 4)))


def _copy(numbers):
    return None if numbers is None else numbers.copy()


class SurveyViews(object):
    """Mixed into SegyFile: see the module docstring."""

    def _survey_options(self, iline=DEFAULT_ILINE, xline=DEFAULT_XLINE,
                        offset=DEFAULT_OFFSET, fill=None):
        if xline is None:
            raise ValueError('xline=None: a survey needs a crossline field (a 2-D line opens '
                             "with iline=None, xline='cdp')")
        self._survey_fields = (resolve_field(iline, 'iline'), resolve_field(xline, 'xline'),
                               resolve_field(offset, 'offset'))
        self._survey_fill = fill
        self._survey_geometry = self._survey_fetch = self._survey_fill_value = None
        self._survey_views = {}

    def _release_survey(self):
        reader, self._survey_fetch = getattr(self, '_survey_fetch', None), None
        if reader is not None:
            reader.close()

    @property
    def geometry(self):
        """The Geometry (geometry.py): inferred on first use from one scan of the fields."""
        if NEEDS:
            raise ImportError(NEEDS)
        if self._survey_geometry is None:
            if self.stream is None:
                raise ValueError('%s: the file is closed' % self.name)
            values = geometry.scan(self, self._survey_fields, self.fetch().buffer()
                                   if self.fixed_layout() is not None else None)
            self._survey_geometry = geometry.Geometry(self.name, self._survey_fields, values)
        return self._survey_geometry

    def _grid(self):
        g = self.geometry
        if g.problem:
            raise FormatError(g.problem)
        return g

    def fetch(self):
        """The sample reads of this file (fetch.Fetch), made on first use."""
        if NEEDS:
            raise ImportError(NEEDS)
        if self.stream is None:
            raise ValueError('%s: the file is closed' % self.name)
        if self._survey_fetch is None:
            self._survey_fetch = fetch.Fetch(self)
        return self._survey_fetch

    def _fill(self):
        """The value of cells no trace holds (open()'s fill=, else NaN or 0)."""
        if self._survey_fill_value is None:
            self._survey_fill_value = (fetch.fill_value(self.sample_format, self._survey_fill),)
        return self._survey_fill_value[0]

    @property
    def sorting(self):
        """'inline' (crosslines vary fastest along the file), 'crossline', or None: no grid."""
        return self.geometry.sorting

    @property
    def ilines(self):
        """Sorted unique inline numbers (a new numpy array), None for a 2-D line or without a
        grid."""
        return _copy(self.geometry.ilines)

    @property
    def xlines(self):
        return _copy(self.geometry.xlines)

    @property
    def offsets(self):
        return _copy(self.geometry.offsets)

    @property
    def live(self):
        """Which grid cells hold a trace: bool (ilines, xlines[, offsets]); None without a grid."""
        return self.geometry.live

    @property
    def samples(self):
        """The sample axis in ms: the first trace's delay (its time scalar applied) plus the
        interval times the sample number; sample numbers when the interval is unknown."""
        if NEEDS:
            raise ImportError(NEEDS)
        return geometry.sample_axis(self, self.header(0) if len(self) else None)

    def _view(self, kind):
        """The view object of `kind` (made once: the views hold nothing but the geometry)."""
        self._grid()
        if kind not in self._survey_views:
            self._survey_views[kind] = {
                'iline': lambda: lines.Line(self, lines.INLINE_AXIS),
                'xline': lambda: lines.Line(self, lines.CROSSLINE_AXIS),
                'depth_slice': lambda: lines.DepthSlice(self),
                'gather': lambda: lines.Gather(self)}[kind]()
        return self._survey_views[kind]

    @property
    def iline(self):
        """The inlines by number: f.iline[n] is (xlines, samples) at the first offset."""
        return self._view('iline')

    @property
    def xline(self):
        """The crosslines by number: f.xline[n] is (ilines, samples) at the first offset."""
        return self._view('xline')

    @property
    def depth_slice(self):
        """Cuts by sample index: f.depth_slice[k] is (ilines, xlines[, offsets])."""
        return self._view('depth_slice')

    @property
    def gather(self):
        """The traces of a cell: f.gather[il, xl] is (offsets, samples), post-stack (samples,)."""
        return self._view('gather')

    def cube(self):
        """Every cell: (ilines, xlines[, offsets], samples), inline-major."""
        self._grid()
        return lines.cube(self)
