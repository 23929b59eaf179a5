"""Surveys on generated files against a model: grids with holes, odd trace orders and every
sample format (the live mask, the fill, every line, slice, gather and the cube); the refusals,
after which trace access works as before; argument faults, files cut short after opening, other
streams; write_cube with holes and extra fields; segy-info's geometry rows, segy-plot's views.
Needs Python 3 with numpy; without, the last test checks the message and the others are skipped.
"""
import base64
import io
import os
import random
import struct
import sys
import unittest
import zlib
import xml.etree.ElementTree as ET

from .helpers import TempDirCase, run_cli
from wavecodec import segy
from wavecodec.errors import FormatError

try:
    import numpy
except ImportError:
    numpy = None
NEEDS = (None if numpy is not None and sys.version_info[0] >= 3 else
         'the survey views need Python 3 with numpy, absent here (%s)' % sys.executable)

SVG = '{http://www.w3.org/2000/svg}'
XLINK = '{http://www.w3.org/1999/xlink}'
MISSING = 255   # the palette index of grey: no value
SAMPLES = 6


def value(fmt, t, s):
    """A sample of trace t that format `fmt` holds exactly (negative where it can)."""
    v = (t * 31 + s * 7) % 97 - (0 if fmt in (10, 11, 12, 15, 16) else 48)
    return v / 4.0 if fmt in (1, 5, 6) else v


def write_survey(path, cells, fmt=5, endian='big', fields=('inline', 'crossline', 'offset'),
                 su=False):
    traces = [[value(fmt, t, s) for s in range(SAMPLES)] for t in range(len(cells))]
    headers = [dict((n, v) for n, v in zip(fields, c) if n) for c in cells]
    if su:
        segy.write_su(path, traces, 4000, endian=endian, trace_headers=headers)
    else:
        segy.write(path, traces, 4000, format=fmt, endian=endian, trace_headers=headers)


def grid(ilines, xlines, offsets=(0,), drop=(), order='inline'):
    cells = [(i, x, o) for i in ilines for x in xlines for o in offsets]
    if order == 'crossline':
        cells = [(i, x, o) for x in xlines for i in ilines for o in offsets]
    elif order == 'offset':
        cells = [(i, x, o) for o in offsets for i in ilines for x in xlines]
    return [c for c in cells if c not in drop]


def png_indices(image):
    """The palette indices of the pixels of an SVG <image> holding a palette PNG."""
    data = base64.b64decode(image.get(XLINK + 'href').split(',', 1)[1])
    pixels, at = bytearray(), 8
    width = struct.unpack('>I', data[16:20])[0]
    while at < len(data):
        size, kind = struct.unpack('>I4s', data[at:at + 8])
        if kind == b'IDAT':
            pixels += zlib.decompress(data[at + 8:at + 8 + size])
        at += size + 12
    return bytearray(b for k, b in enumerate(pixels) if k % (width + 1))   # filter bytes out


class Source(object):
    """A file object that neither maps nor lends its bytes: read trace by trace."""

    def __init__(self, data):
        self._data = io.BytesIO(data)
        self.read, self.seek, self.tell = self._data.read, self._data.seek, self._data.tell

    def seekable(self):
        return True


# name, cells, format, byte order, open() options, expected sorting (None: either), source
HOLES = [
    ('holes in an inline-sorted IBM grid', grid(range(1, 6), range(10, 16),
                                               drop=[(1, 10, 0), (3, 12, 0), (5, 15, 0)]),
     1, 'big', {}, 'inline', 'path'),
    ('partial last crossline, crossline-sorted int16, fill 7',
     grid([2, 4, 6], [1, 2, 3, 4], drop=[(4, 4, 0), (6, 4, 0)], order='crossline'), 3, 'little',
     dict(fill=7), 'crossline', 'path'),
    ('descending numbers, shuffled traces, IEEE little, fill -1.5',
     random.Random(3).sample(grid([9, 7, 5, 3], [30, 20, 10], drop=[(7, 20, 0)]), 11), 5,
     'little', dict(fill=-1.5), None, 'path'),
    ('pre-stack in common-offset order, dead traces left out, int32',
     grid([1, 2, 3], [5, 6], [100, 300, 200], drop=[(2, 5, 300), (3, 6, 100)], order='offset'),
     2, 'big', {}, 'inline', 'path'),
    ('2-D line with gaps, int8 (missing cells 0)', [(None, c, 0) for c in (3, 4, 6, 9)], 8,
     'big', dict(iline=None, xline='cdp'), 'inline', 'path'),
    ('fields by first byte (field_record, cdp_trace), float64', grid([7, 8], [1, 2, 3]), 6,
     'big', dict(iline=9, xline=25), 'inline', 'path'),
    ('int24, offsets not read (offset=None)', [(i, x, 5 * k) for k, (i, x, _) in enumerate(
        grid([1, 2], [1, 2, 3], drop=[(2, 3, 0)]))], 7, 'little', dict(offset=None), 'inline',
     'path'),
    ('uint24 big, read from bytes in memory', grid([1, 2, 3], [4, 5]), 15, 'big', {}, 'inline',
     'bytes'),
    ('uint16 with holes, read from a stream that cannot be mapped',
     grid([1, 2], [1, 2, 3], [0, 1], drop=[(1, 3, 1)]), 11, 'big', {}, 'inline', 'stream'),
    ('int64 and uint8 pre-stack', grid([1, 2], [1, 2], [5, 6, 7]), 9, 'little', {}, 'inline',
     'path'),
    ('Seismic Unix, crossline-sorted', grid([1, 2, 3], [1, 2], order='crossline'), 5, 'little',
     {}, 'crossline', 'su'),
]


@unittest.skipIf(NEEDS, NEEDS)
class Surveys(TempDirCase):
    def open(self, cells, fmt, endian, options, source='path', name='s.sgy'):
        fields = (('field_record', 'cdp_trace', 'offset') if options.get('iline') == 9 else
                  (None, 'cdp', 'offset') if 'iline' in options else
                  ('inline', 'crossline', 'offset'))
        path = self.path(name)
        write_survey(path, cells, fmt, endian, fields, su=source == 'su')
        if source == 'su':
            return segy.open_su(path)
        if source in ('bytes', 'stream'):
            data = self.read_bytes(name)
            return segy.open(io.BytesIO(data) if source == 'bytes' else Source(data), **options)
        return segy.open(path, **options)

    def model(self, f, cells, options):
        """(axes, live, cube) from each trace as f.trace() reads it, in the views' shapes."""
        two_d = options.get('iline', 1) is None
        if options.get('offset', 1) is None:
            cells = [(i, x, 0) for i, x, _ in cells]
        axes = [sorted(set(c[k] for c in cells)) for k in range(3)]
        shape = tuple(len(a) for a in axes)
        fill = options.get('fill', 0 if f.sample_format.kind != 'ibm' and
                           f.sample_format.kind != 'float' else float('nan'))
        cube = numpy.full(shape + (SAMPLES,), fill, dtype='=' + f.sample_format.typecode)
        live = numpy.zeros(shape, bool)
        for t, c in enumerate(cells):
            at = tuple(axes[k].index(c[k]) for k in range(3))
            cube[at], live[at] = f.trace(t), True
        keep = (() if two_d else (shape[0],)) + (shape[1],) + ((shape[2],) if shape[2] > 1
                                                               else ())
        return axes, live.reshape(keep), cube.reshape(keep + (SAMPLES,)), two_d

    def same(self, got, want, what):
        self.assertEqual((got.dtype, got.shape), (want.dtype, want.shape), what)
        self.assertTrue(numpy.array_equal(got, want, equal_nan=want.dtype.kind == 'f'), what)

    def test_grids_with_holes_and_odd_orders(self):
        for name, cells, fmt, endian, options, sorting, source in HOLES:
            with self.open(cells, fmt, endian, options, source) as f:
                axes, live, cube, two_d = self.model(f, cells, options)
                self.assertEqual(f.sorting, sorting or f.sorting, name)
                self.assertIn(f.sorting, ('inline', 'crossline'), name)
                self.assertEqual(None if two_d else list(f.ilines), None if two_d else axes[0])
                self.assertEqual((list(f.xlines), list(f.offsets)), (axes[1], axes[2]), name)
                self.same(f.live, live, name)
                self.same(f.cube(), cube, name)
                full = cube if not two_d else cube[None]
                full = full if len(axes[2]) > 1 else full[:, :, None]
                for k, off in enumerate(axes[2]):
                    for j, xl in enumerate(axes[1]):
                        self.same(f.xline[xl, off], full[:, j, k][0] if two_d else full[:, j, k],
                                  (name, xl, off))
                    for i, il in enumerate([] if two_d else axes[0]):
                        self.same(f.iline[il, off], full[i, :, k], (name, il, off))
                for i, il in enumerate([None] if two_d else axes[0]):
                    for j, xl in enumerate(axes[1]):
                        key = (xl,) if two_d else (il, xl)
                        want = full[i, j] if len(axes[2]) > 1 else full[i, j, 0]
                        self.same(f.gather[key], want, (name, key))
                for s in range(SAMPLES):
                    self.same(f.depth_slice[s], cube[..., s], (name, s))

    def test_line_numbers_slices_and_keys(self):
        with self.open(grid([1, 3, 5, 7], [10, 11, 12], [0, 9]), 5, 'big', {}) as f:
            cube = f.cube()
            self.assertEqual((len(f.iline), f.iline.keys(), 5 in f.iline, 4 in f.iline),
                             (4, [1, 3, 5, 7], True, False))
            for part, rows in ((slice(None), [0, 1, 2, 3]), (slice(7, 1, -2), [3, 2, 1]),
                               (slice(2, 6), [1, 2]), (slice(1, None, 4), [0, 2]),
                               (slice(-100, 10 ** 12), [0, 1, 2, 3])):
                got = list(f.iline[part])
                self.assertEqual(len(got), len(rows), part)
                for line, r in zip(got, rows):
                    self.assertTrue((line == cube[r, :, 0]).all(), part)
            both = list(f.iline[3:6, :])       # offsets first for each line
            self.assertTrue(all((a == cube[r, :, k]).all() for a, (r, k)
                                in zip(both, [(1, 0), (1, 1), (2, 0), (2, 1)])))
            self.assertTrue(all((a == cube[r, :, 0]).all() for r, a in enumerate(f.iline)))
            self.assertTrue((f.gather[3, 11, 9] == cube[1, 1, 1]).all())
            self.assertTrue((f.gather[3, 11, 5:] == cube[1, 1, 1:]).all())
            self.assertEqual(len(list(f.gather[:, 11])), 4)
            self.assertEqual(len(list(f.depth_slice[::2])), 3)
            self.assertTrue((f.depth_slice[-1] == cube[..., -1]).all())
            self.assertEqual(list(f.samples), [0.0, 4.0, 8.0, 12.0, 16.0, 20.0])
            for call, error, text in (
                    (lambda: f.iline[2], KeyError, 'inline 2 is not in this survey'),
                    (lambda: f.iline[3, 4], KeyError, 'offset 4 is not in this survey'),
                    (lambda: f.xline['a'], KeyError, "crossline 'a': a whole number"),
                    (lambda: f.depth_slice[SAMPLES], IndexError, 'samples 0 to 5'),
                    (lambda: f.gather[3], KeyError, 'an inline and a crossline number'),
                    (lambda: f.iline[1:3:0], ValueError, 'step cannot be zero')):
                with self.assertRaises(error) as e:
                    call()
                self.assertIn(text, str(e.exception))

    def test_refusals_keep_trace_access(self):
        dup = grid([1, 2, 3], [1, 2, 3, 4])
        dup[9] = dup[4]
        scatter = [(7 * t, 13 * t, 0) for t in range(30)]
        rows = [('duplicated cell', dup, 'traces 4 and 9 both hold inline 2, crossline 1, '
                 "offset 0 (trace header field 'inline' (bytes 189-192)"),
                ('scatter', scatter, '30 inline numbers x 30 crossline numbers x 1 offsets '
                 'make 900 cells for 30 traces (more than 4 a trace: a scatter, not a grid)'),
                ('headers never filled', [(0, 0, 0)] * 3, 'traces 0 and 1 both hold inline 0, '
                 'crossline 0, offset 0'),
                ('no traces', [(1, 1, 0)], 'the file holds no traces')]
        for name, cells, text in rows:
            write_survey(self.path('r.sgy'), cells)
            if name == 'no traces':
                self.write_bytes('r.sgy', self.read_bytes('r.sgy')[:3600])
            with segy.open(self.path('r.sgy')) as f:
                self.assertEqual((f.sorting, f.ilines, f.xlines, f.live), (None,) * 4, name)
                for view in (lambda: f.iline, lambda: f.cube(), lambda: f.depth_slice):
                    with self.assertRaises(FormatError) as e:
                        view()
                    self.assertIn(text, str(e.exception))
                    self.assertTrue(str(e.exception).startswith(self.path('r.sgy')))
                self.assertEqual(len(list(f.traces())), len(cells) if len(f) else 0)

    def test_argument_and_file_faults(self):
        path = self.path('a.sgy')
        write_survey(path, grid([1, 2, 3], [1, 2, 3, 4]), fmt=3)
        write_survey(self.path('f.sgy'), grid([1, 2], [1, 2]), fmt=5)
        int16 = 'int16 samples of this file cannot hold it'
        for name, options, text in (
                ('a', dict(iline=190), 'byte 190 does not start a 4-byte'),
                ('a', dict(iline='nope'), 'not an integer trace header field'),
                ('a', dict(xline=None), 'a survey needs a crossline field'),
                ('a', dict(offset=True), 'a trace header field name or the first'),
                ('a', dict(fill=float('nan')), int16), ('a', dict(fill=40000), int16),
                ('a', dict(fill=1.5), int16), ('f', dict(fill=1e40), 'float32 samples')):
            with self.assertRaises(ValueError) as e:
                with segy.open(self.path(name + '.sgy'), **options) as f:
                    f.cube()
            self.assertIn(text, str(e.exception))
        with segy.open(self.path('f.sgy'), iline=None, xline='crossline') as f:
            with self.assertRaises(FormatError):   # two traces per crossline: no 2-D line
                f.xline
        raw = bytearray(self.read_bytes('a.sgy'))
        raw[3600 + 7 * 252 + 114:3600 + 7 * 252 + 116] = b'\x00\x63'   # trace 7 says 99
        self.write_bytes('c.sgy', bytes(raw))
        for strict in (True, False):   # the size fits the binary header's 6: read at 6, noted
            with segy.open(self.path('c.sgy'), strict=strict) as f:
                self.assertEqual(f.sorting, 'inline')
                self.assertIn('(the first: trace 7, 99)', ' '.join(f.notes))
                self.assertEqual(f.cube().shape, (3, 4, SAMPLES))
                self.assertEqual(f.iline[2][3].tolist(), list(f.trace(7)))
                self.assertTrue((f.gather[2, 4] == f.cube()[1, 3]).all())
        with segy.open(path) as f:
            whole = f.cube()
            with open(path, 'r+b') as cut:          # the file shrinks while it is open
                cut.truncate(3600 + 5 * 252)
            self.assertTrue((f.iline[1] == whole[0]).all())
            with self.assertRaises(FormatError) as e:
                f.iline[3]
            self.assertIn('cut short', str(e.exception))
        segy.write(self.path('v.sgy'), [[1.0] * 3, [2.0] * 5], 4000, format=5,
                   binary_header=dict(fixed_length_traces=0),
                   trace_headers=[dict(inline=1, crossline=1), dict(inline=1, crossline=2)])
        with segy.open(self.path('v.sgy')) as f:
            self.assertEqual(list(f.xlines), [1, 2])
            with self.assertRaises(FormatError) as e:
                f.cube()
            self.assertIn("the traces' lengths vary", str(e.exception))

    def test_write_cube_holes_and_fields(self):
        cube = numpy.arange(3 * 4 * 2 * 5, dtype='f4').reshape(3, 4, 2, 5)
        live = numpy.ones((3, 4, 2), bool)
        live[1, 2, :] = live[2, 0, 1] = False
        cdp_x = numpy.arange(12).reshape(3, 4) * 10 + 5
        path = self.path('w.sgy')
        n = segy.write_cube(path, cube, [30, 20, 10], [1, 2, 3, 4], 4000, offsets=[0, 50],
                            format=5, sorting='crossline', live=live,
                            trace_headers={'cdp_x': cdp_x, 'source_y': -1})
        self.assertEqual(n, 21)
        with segy.open(path) as f:
            self.assertEqual((f.sorting, list(f.ilines)), ('crossline', [10, 20, 30]))
            self.same(f.live, live[::-1], 'live')
            got = f.cube()
            self.assertTrue(numpy.isnan(got[~live[::-1]]).all())
            self.same(got[live[::-1]], cube[::-1][live[::-1]], 'cube')
            h = [f.header(t) for t in range(3)]
            self.assertEqual([(x['inline'], x['crossline'], x['offset'], x['cdp'],
                               x['cdp_trace'], x['cdp_x'], x['source_y']) for x in h],
                             [(30, 1, 0, 1, 1, 5, -1), (30, 1, 50, 1, 2, 5, -1),
                              (20, 1, 0, 5, 1, 45, -1)])
        for args, options, text in (
                (([10, 10, 20], [1, 2, 3, 4]), {}, 'ilines: every number once'),
                (([1, 2, 3], [1, 2]), {}, 'xlines: 4 numbers'),
                (([1, 2, 3], [1, 2, 3, 4]), dict(offsets=[1, 2, 3]), 'offsets given'),
                (([1, 2, 3], [1, 2, 3, 4]), dict(trace_headers={'inline': 3}), "'inline'"),
                (([1, 2, 3], [1, 2, 3, 4]), dict(trace_headers={'cdp_trace': 1 << 40}),
                 "'cdp_trace' (bytes 25-28) cannot hold"),
                (([1, 2, 3], [1, 2, 3, 4]), dict(sorting='offset'), "'inline' or 'crossline'")):
            with self.assertRaises((ValueError, FormatError)) as e:
                segy.write_cube(self.path('x.sgy'), cube, *args, sample_interval=4000,
                                **dict(dict(offsets=[0, 50]), **options))
            self.assertIn(text, str(e.exception))
        self.assertFalse(os.path.exists(self.path('x.sgy')))

    def test_commands(self):
        write_survey(self.path('h.sgy'), grid([1, 2, 3], [10, 12, 14, 16],
                                              drop=[(2, 12, 0), (3, 16, 0)]))
        write_survey(self.path('l.sgy'), [(None, c, 0) for c in (5, 6, 8)],
                     fields=(None, 'cdp', 'offset'))
        write_survey(self.path('d.sgy'), [(1, 1, 0), (1, 1, 0)])
        for name, args, rows in (
                ('h', [], ['inlines:               3 from 1 to 3, step 1\n',
                           'crosslines:            4 from 10 to 16, step 2\n',
                           'grid cells:            12: 10 live, 2 missing\n',
                           'geometry:              inline sorting (crosslines vary fastest)']),
                ('l', ['--iline-field', 'none', '--xline-field', 'cdp'],
                 ['2-D line; fields cdp (bytes 21-24)', '3 from 5 to 8, steps 1 to 2 (irregular)']),
                ('d', [], ['geometry:              none (traces 0 and 1 both hold inline 1'])):
            out = run_cli(['segy-info', self.path(name + '.sgy')] + args)[1]
            self.assertEqual([r for r in rows if r not in out], [], out)
        # arguments, summary, grey lanes, grey pixels of each image (a missing trace's 6 rows,
        # the map's 2 empty cells; none in the colour bar), the notes under the picture
        for args, text, lanes, pixels, notes in (
                (['--iline', '2', '--style', 'wiggle'], 'inline 2, drawn as wiggle', 1, None,
                 'clip '),
                (['--xline', '16'], 'crossline 16, drawn as wiggle', 1, None, 'clip '),
                (['--iline', '3', '--style', 'density', '--remove-bias', '--gain', 'agc', '8'],
                 'inline 3, drawn as density', 0, [6, 0], "mean removed; gain: AGC 8 ms"),
                (['--depth-slice', '8'], 'depth slice at 8, drawn as a map', 0, [2, 0],
                 'clip ')):
            status, out, err = run_cli(['segy-plot', self.path('h.sgy'), '-o',
                                        self.path('p.svg')] + args)
            self.assertEqual((status, err), (0, ''), args)
            self.assertIn(text, out)
            root = ET.fromstring(self.read_bytes('p.svg'))
            texts = [t.text for t in root.iter(SVG + 'text')]
            grey = [r for r in root.iter(SVG + 'rect') if r.get('fill') == '#bbbbbb']
            self.assertEqual(len(grey), lanes, args)
            self.assertEqual(pixels, [list(png_indices(image)).count(MISSING)
                                      for image in root.iter(SVG + 'image')] or None, args)
            self.assertTrue(any(notes in t for t in texts if t), (args, texts))
            self.assertTrue(any('1 missing' in t or '2 of 12 cells missing' in t
                                for t in texts if t), (args, texts))
            self.assertIn('12' if args[0] != '--xline' else '3', texts)
        for name, args, status, text in (
                ('h', ['--iline', '9'], 2, 'inline 9 is not in this survey'),
                ('h', ['--depth-slice', '99'], 2, 'the traces run from 0 to 20'),
                ('h', ['--iline', '1', '--iline-field', '190'], 2, 'byte 190'),
                ('h', ['--depth-slice', '0', '--gain', '2'], 2, 'a map'),
                ('d', ['--iline', '1'], 1, 'traces 0 and 1 both hold')):
            got = run_cli(['segy-plot', self.path(name + '.sgy'), '-o', self.path('x.svg')] + args)
            self.assertEqual((got[0], len(got[2].splitlines())), (status, 1), (args, got))
            self.assertIn(text, got[2])
        self.assertFalse(os.path.exists(self.path('x.svg')))


@unittest.skipUnless(NEEDS, 'numpy is present: the message is for interpreters without it')
class WithoutNumpy(TempDirCase):
    def test_survey_views_say_what_they_need(self):
        write_survey(self.path('s.sgy'), grid([1, 2], [1, 2]))
        with segy.open(self.path('s.sgy')) as f:
            for view in (lambda: f.sorting, lambda: f.iline, lambda: f.cube()):
                with self.assertRaises(ImportError) as e:
                    view()
                self.assertIn('need Python 3 with numpy', str(e.exception))
            self.assertEqual(list(f.trace(3)), [value(5, 3, s) for s in range(SAMPLES)])
        with self.assertRaises(ImportError):
            segy.write_cube(self.path('c.sgy'), [[[1.0]]], [1], [1], 4000)
        status, out, err = run_cli(['segy-info', self.path('s.sgy')])
        self.assertIn('geometry:              not read: Python 3 with numpy is needed', out)
        status, out, err = run_cli(['segy-plot', self.path('s.sgy'), '-o', self.path('p.svg'),
                                    '--iline', '1'])
        self.assertEqual((status, len(err.splitlines())), (1, 1))
        self.assertIn('need Python 3 with numpy', err)
