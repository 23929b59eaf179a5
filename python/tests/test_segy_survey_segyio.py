"""Surveys against segyio, an independent SEG-Y library used here as a test client: on files
segyio writes (post- and pre-stack, inline- and crossline-sorted, 2-D lines, every sample format
segyio writes, both byte orders) every line, depth slice, gather and cube read here equals
segyio's; and files written by write_cube open in segyio with the same geometry and samples.

Needs Debian's /usr/bin/python3 (python3-segyio, python3-numpy); scripts/ci/python.sh runs this
module with it. Elsewhere every test is skipped, saying so.
"""
import sys
import unittest

from .helpers import TempDirCase
from wavecodec import segy

try:
    import numpy
    import segyio
except ImportError:
    segyio = None

ABSENT = ("segyio or numpy is absent for %s (%s): the survey cross-checks need Debian's "
          "python3-segyio and python3-numpy under /usr/bin/python3"
          % (sys.executable, sys.version.split()[0]))
INLINE_SORTING, CROSSLINE_SORTING = 2, 1
DTYPES = {1: 'f4', 2: 'i4', 3: 'i2', 5: 'f4', 8: 'i1'}


def survey_cells(ilines, xlines, offsets, sorting):
    """(inline, crossline, offset) of every trace in file order; offsets vary fastest."""
    if sorting == 'inline':
        return [(i, x, o) for i in ilines for x in xlines for o in offsets]
    return [(i, x, o) for x in xlines for i in ilines for o in offsets]


def sample_values(fmt, traces, samples, seed):
    """Distinct values each format holds exactly (IBM too: multiples of 1/8 below 2^20)."""
    rng = numpy.random.RandomState(seed)
    if fmt in (1, 5):
        return (rng.randint(-2 ** 20, 2 ** 20, (traces, samples)) / 8.0).astype('f4')
    info = numpy.iinfo(DTYPES[fmt])
    return rng.randint(info.min, info.max, (traces, samples), dtype='i8').astype(DTYPES[fmt])


# name, inlines, crosslines, offsets, sorting, format, byte order, 2-D (inline field constant),
# stale: None, or (samples, the count every trace header keeps) for a survey cropped by other
# tools, whose binary header and size give the real length
CASES = [
    ('post-stack inline-sorted IBM', [1, 2, 3, 4], list(range(10, 35, 5)), [0], 'inline', 1,
     'big', False, None),
    ('post-stack crossline-sorted IEEE little', [7, 9, 11], [1, 2, 3, 4, 5], [0], 'crossline',
     5, 'little', False, None),
    ('pre-stack inline-sorted int32', [100, 101, 102], [20, 21], [150, 250, 350], 'inline', 2,
     'big', False, None),
    ('pre-stack crossline-sorted int16 little', [5, 6], [1, 3, 5], [10, 20], 'crossline', 3,
     'little', False, None),
    ('post-stack inline-sorted int8 little', [1, 2, 3], [1, 2, 3, 4], [0], 'inline', 8,
     'little', False, None),
    ('pre-stack crossline-sorted int8 big', [4, 5, 6], [8, 9], [1, 2], 'crossline', 8, 'big',
     False, None),
    ('pre-stack crossline-sorted IBM little', [2, 4, 6], [1, 2], [0, 50, 100], 'crossline', 1,
     'little', False, None),
    ('post-stack crossline-sorted int32 little, one crossline', [3, 4, 5, 6], [7], [0],
     'crossline', 2, 'little', False, None),
    ('2-D line IEEE big', [1], list(range(1000, 1012)), [0], 'inline', 5, 'big', True, None),
    ('2-D pre-stack line int16 big', [1], [10, 11, 12, 13], [100, 200], 'inline', 3, 'big',
     True, None),
    ('cropped survey: 23 x 18 traces of 75 samples, every trace header still saying 462',
     list(range(1, 24)), list(range(1, 19)), [0], 'inline', 1, 'big', False, (75, 462)),
]


@unittest.skipIf(segyio is None, ABSENT)
class SurveysAgainstSegyio(TempDirCase):
    def their_file(self, name, cells, data, fmt, endian, delay=120, count=None):
        layout = segyio.spec()
        layout.format, layout.samples, layout.tracecount = fmt, list(range(data.shape[1])), \
            len(cells)
        layout.endian = endian
        path = self.path(name)
        with segyio.create(path, layout) as f:
            f.bin.update({segyio.BinField.Interval: 4000,
                          segyio.BinField.Samples: data.shape[1],
                          segyio.BinField.Format: fmt})
            for t, (il, xl, off) in enumerate(cells):
                f.header[t] = {189: il, 193: xl, 37: off, 21: xl, 117: 4000, 109: delay,
                               115: count or data.shape[1]}
                f.trace[t] = data[t]
        return path

    def same(self, ours, theirs, what):
        self.assertEqual(ours.dtype, theirs.dtype, what)
        self.assertEqual(ours.shape, theirs.shape, what)
        self.assertTrue(numpy.array_equal(ours, theirs), what)

    def test_their_surveys_read_alike(self):
        for row, (name, ils, xls, offs, sorting, fmt, endian, two_d, stale) in enumerate(CASES):
            cells = survey_cells(ils, xls, offs, sorting)
            # An even length: segyio 1.8.3 writes int16 traces of odd length 2 bytes short.
            samples, count = stale or (16, None)
            data = sample_values(fmt, len(cells), samples, row)
            path = self.their_file('s%d.sgy' % row, cells, data, fmt, endian, count=count)
            options = dict(iline=None, xline='cdp') if two_d else {}
            with segy.open(path, **options) as ours, \
                    segyio.open(path, xline=21 if two_d else 193, endian=endian) as theirs:
                self.assertEqual((ours.samples_per_trace, len(theirs.samples)),
                                 (samples, samples), name)
                if count:
                    self.assertEqual(ours.header(len(ours) - 1)['sample_count'], count, name)
                    self.assertIn('give another sample count than the binary header',
                                  ' '.join(ours.notes), name)
                    self.same(ours.cube().reshape(len(cells), samples), data, name)
                self.compare(name, ours, theirs, two_d, sorting)

    def compare(self, name, ours, theirs, two_d, sorting):
        flip = sorting == 'crossline'
        self.assertEqual(theirs.sorting, CROSSLINE_SORTING if flip else INLINE_SORTING, name)
        self.assertEqual(ours.sorting, sorting, name)
        self.assertEqual(list(ours.xlines), list(theirs.xlines), name)
        self.assertEqual(list(ours.offsets), list(theirs.offsets), name)
        self.assertEqual(ours.ilines is None, two_d, name)
        if not two_d:
            self.assertEqual(list(ours.ilines), list(theirs.ilines), name)
        self.assertEqual(list(ours.samples), list(theirs.samples), name)
        self.assertTrue(ours.live.all(), name)
        cube = segyio.tools.cube(theirs)
        if flip:
            cube = cube.swapaxes(0, 1)
        self.same(ours.cube(), cube[0] if two_d else cube, (name, 'cube'))
        prestack = len(theirs.offsets) > 1
        for off in theirs.offsets:
            for xl in theirs.xlines:
                line = theirs.xline[xl, off]
                self.same(ours.xline[xl, off], line[0] if two_d else line, (name, xl, off))
            for il in ([] if two_d else theirs.ilines):
                self.same(ours.iline[il, off], theirs.iline[il, off], (name, il, off))
        for k in (0, 8, 15):
            cut = theirs.depth_slice[k]
            cut = cut.T if flip else cut
            got = ours.depth_slice[k]
            self.same(got[..., 0] if prestack else got, cut[0] if two_d else cut, (name, k))
        for il in theirs.ilines:
            for xl in theirs.xlines:
                key = (xl,) if two_d else (il, xl)
                # segyio takes an offset of 0 for "every offset": (1, samples) post-stack.
                want = theirs.gather[il, xl]
                self.same(ours.gather[key], want if prestack else want.reshape(-1), (name, il))
        if not two_d:   # segyio's defaults: the first offset, line order, slices of numbers
            self.same(ours.iline[theirs.ilines[-1]], theirs.iline[theirs.ilines[-1]], name)
            for a, b in zip(ours.xline[::-2], theirs.xline[::-2]):
                self.same(a, b, (name, 'slice'))
            self.assertEqual(len(list(ours.iline)), len(theirs.iline))

    def test_write_cube_read_by_segyio(self):
        rows = [((4, 5), None, 'inline', 1, 'big', False),
                ((3, 4), [100, 200, 300], 'crossline', 5, 'little', False),
                ((2, 6), [10, 20], 'inline', 2, 'little', False),
                ((5, 3), None, 'crossline', 3, 'big', False),
                ((4, 2), None, 'inline', 8, 'big', False),
                ((7,), None, 'inline', 5, 'big', True),
                ((6,), [0, 25], 'inline', 1, 'little', True)]
        for row, (grid, offsets, sorting, fmt, endian, two_d) in enumerate(rows):
            shape = grid + ((len(offsets),) if offsets else ()) + (11,)
            cube = sample_values(fmt, 1, int(numpy.prod(shape)), row).reshape(shape)
            ilines = None if two_d else [3 * k + 1 for k in range(grid[0])]
            xlines = [2 * k + 500 for k in range(grid[-1])]
            path = self.path('c%d.sgy' % row)
            written = segy.write_cube(path, cube, ilines, xlines, 2000, offsets=offsets,
                                      format=fmt, endian=endian, sorting=sorting)
            self.assertEqual(written, int(numpy.prod(shape[:-1])))
            what = (row, sorting, fmt, endian)
            with segyio.open(path, endian=endian, xline=21 if two_d else 193) as theirs:
                flip = sorting == 'crossline' and not two_d
                self.assertEqual(theirs.sorting, CROSSLINE_SORTING if flip else INLINE_SORTING)
                self.assertEqual(list(theirs.xlines), xlines, what)
                self.assertEqual(list(theirs.offsets), offsets or [0], what)
                if not two_d:
                    self.assertEqual(list(theirs.ilines), ilines, what)
                got = segyio.tools.cube(theirs)
                got = got.swapaxes(0, 1) if flip else got
                self.same(got[0] if two_d else got, cube, what)
                self.assertEqual(list(theirs.samples), [2.0 * k for k in range(11)])
            options = dict(iline=None, xline='cdp') if two_d else {}
            with segy.open(path, **options) as ours:
                self.same(ours.cube(), cube, what)
                self.assertEqual(ours.sorting, 'crossline' if flip else 'inline')
