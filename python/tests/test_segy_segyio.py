"""Cross-checks against segyio, an independent SEG-Y library, used here only as a test client:
files it writes are read here sample for sample against the exact IBM model, files written here
read back in segyio exactly, and segy-convert output opens in segyio with identical headers.

segyio and numpy come from Debian (python3-segyio, python3-numpy) for Debian's /usr/bin/python3;
scripts/ci/python.sh runs this module with that interpreter. Under any other Python they are
absent and every test here is skipped, saying so.
"""
import os
import struct
import sys
import unittest

from .helpers import TempDirCase, run_cli
from . import segy_model as m
from .test_segy_bad import EXAMPLE
from wavecodec import segy

try:
    import numpy
    import segyio
except ImportError:
    segyio = None

ABSENT = ("segyio is absent for %s (%s): the cross-checks need Debian's python3-segyio and "
          "python3-numpy under /usr/bin/python3" % (sys.executable, sys.version.split()[0]))

# Trace header bytes where segyio's names and ours cut the bytes differently (the source energy
# direction: three 2-byte values here, a 4-byte mantissa and 2-byte exponent there).
SPLIT_DIFFERENTLY = (219, 221, 223)


def float_bits(values):
    return numpy.asarray(values, dtype='<f4').view('<u4').tolist()


def words_in_file(path, endian, traces, samples):
    """The IBM words of every trace, read straight from the file's bytes."""
    with open(path, 'rb') as f:
        raw = f.read()
    size = 240 + 4 * samples
    return [list(struct.unpack_from(m.ORDER[endian] + '%dI' % samples, raw, 3600 + i * size + 240))
            for i in range(traces)]


@unittest.skipIf(segyio is None, ABSENT)
class AgainstSegyio(TempDirCase):
    def their_file(self, name, fmt, endian, data):
        layout = segyio.spec()
        layout.format = fmt
        layout.samples = list(range(data.shape[1]))
        layout.tracecount = data.shape[0]
        layout.endian = endian
        path = self.path(name)
        with segyio.create(path, layout) as f:
            f.text[0] = segyio.tools.create_text_header({1: 'WRITTEN BY SEGYIO', 2: 'LINE 2'})
            f.bin.update({segyio.BinField.Interval: 4000, segyio.BinField.Samples: data.shape[1],
                          segyio.BinField.Format: fmt, segyio.BinField.JobID: 42})
            for i in range(data.shape[0]):
                f.header[i] = {segyio.TraceField.offset: 25 * i - 300,
                               segyio.TraceField.CDP_X: 1000 + i,
                               segyio.TraceField.INLINE_3D: 7,
                               segyio.TraceField.TRACE_SAMPLE_COUNT: data.shape[1],
                               segyio.TraceField.TRACE_SAMPLE_INTERVAL: 4000}
                f.trace[i] = data[i]
        return path

    def data(self, traces=12, samples=300, seed=1):
        rng = numpy.random.RandomState(seed)
        data = (rng.standard_normal((traces, samples)) *
                10.0 ** rng.randint(-20, 20, (traces, samples))).astype('f4')
        data[0, :6] = [0.0, -0.0, 1.0, -100.0, 0.1, 1e-30]
        return data

    def same_headers(self, ours, theirs, i):
        """Every trace header field at a byte segyio also names has the same value in both."""
        ours_h = ours.header(i)
        theirs_h = theirs.header[i]
        for name, start, width, kind in segy.TRACE_FIELDS:
            if start in SPLIT_DIFFERENTLY or start not in theirs_h:
                continue
            self.assertEqual(ours_h[name], theirs_h[start], (name, start, i))

    def test_their_ibm_big_endian_read_exactly(self):
        data = self.data()
        path = self.their_file('ibm.sgy', 1, 'big', data)
        words = words_in_file(path, 'big', *data.shape)
        with segy.open(path) as f, segyio.open(path, ignore_geometry=True) as theirs:
            self.assertEqual((f.endian, f.format, len(f), f.samples_per_trace),
                             ('big', 1, data.shape[0], data.shape[1]))
            self.assertEqual(f.binary_header['job_id'], 42)
            self.assertEqual(f.encoding, 'ebcdic')
            self.assertIn('WRITTEN BY SEGYIO', f.text_header)
            for i, values in enumerate(f.traces()):
                model = [m.f32_bits(m.to_float32(m.ibm_value(w))) for w in words[i]]
                self.assertEqual(float_bits(values), model, i)
                self.same_headers(f, theirs, i)
            self.assertEqual(f.header(3)['offset'], 75 - 300)

    def test_their_ieee_little_endian_read_exactly(self):
        data = self.data(seed=2)
        data[1, :3] = [numpy.inf, -numpy.inf, numpy.nan]
        path = self.their_file('ieee.sgy', 5, 'little', data)
        with segy.open(path) as f, segyio.open(path, ignore_geometry=True,
                                               endian='little') as theirs:
            self.assertEqual(f.endian, 'little')
            for i, values in enumerate(f.traces()):
                self.assertEqual(float_bits(values), float_bits(data[i]), i)
                self.same_headers(f, theirs, i)
            self.assertEqual(f.binary_header['sample_interval'], 4000)

    def test_ours_read_back_in_segyio(self):
        data = self.data(seed=3)
        headers = [dict(offset=10 * i, cdp_x=-i, inline=3, crossline=i) for i in range(12)]
        for fmt, endian in ((1, 'big'), (5, 'little'), (5, 'big'), (1, 'little')):
            path = self.path('ours-%d-%s.sgy' % (fmt, endian))
            segy.write(path, data, 2000, format=fmt, endian=endian, trace_headers=headers,
                       text_header='C 1 WRITTEN HERE\nC 2 SECOND LINE')
            if fmt == 1:
                # The exact value of each IBM word the writer chose is a float32 here.
                want = [[m.f32_bits(m.to_float32(m.ibm_value(w))) for w in t]
                        for t in words_in_file(path, endian, *data.shape)]
                self.assertEqual(want[0][:4], float_bits([0.0, -0.0, 1.0, -100.0]))
                with segy.open(path) as ours:
                    self.assertEqual(float_bits(ours.trace(0)[:2]), float_bits([0.0, -0.0]))
                # segyio reads the IBM negative zero (0x80000000) as +0.0; every other word
                # gives the same bits in both.
                want[0][1] = 0
            else:
                want = [float_bits(t) for t in data]
            with segyio.open(path, ignore_geometry=True, endian=endian) as theirs:
                self.assertEqual(theirs.tracecount, 12)
                self.assertEqual(int(theirs.format), fmt)
                self.assertEqual(theirs.bin[segyio.BinField.Interval], 2000)
                self.assertEqual(theirs.bin[segyio.BinField.Samples], 300)
                text = theirs.text[0]
                text = bytes(text).decode('latin-1') if not isinstance(text, str) else text
                self.assertTrue(text.startswith('C 1 WRITTEN HERE'.ljust(80) + 'C 2 SECOND'))
                got = theirs.trace.raw[:]
                for i in range(12):
                    self.assertEqual(float_bits(got[i]), want[i], (fmt, endian, i))
                    h = theirs.header[i]
                    self.assertEqual((h[segyio.TraceField.offset], h[segyio.TraceField.CDP_X],
                                      h[segyio.TraceField.INLINE_3D],
                                      h[segyio.TraceField.CROSSLINE_3D]), (10 * i, -i, 3, i))

    def test_converted_files_have_identical_headers_in_segyio(self):
        status, out, err = run_cli(['segy-convert', EXAMPLE, self.path('ieee.sgy'),
                                    '--format', 'ieee'])
        self.assertEqual(status, 0, err)
        with segyio.open(EXAMPLE, ignore_geometry=True) as a, \
                segyio.open(self.path('ieee.sgy'), ignore_geometry=True) as b:
            self.assertEqual((int(a.format), int(b.format)), (1, 5))
            self.assertEqual(a.text[0], b.text[0])
            bin_a, bin_b = dict(a.bin), dict(b.bin)
            self.assertEqual(bin_b.pop(segyio.BinField.Format), 5)
            bin_a.pop(segyio.BinField.Format)
            self.assertEqual(bin_a, bin_b)
            for i in range(a.tracecount):
                self.assertEqual(dict(a.header[i]), dict(b.header[i]))
            words = words_in_file(EXAMPLE, 'big', a.tracecount, len(a.samples))
            got = b.trace.raw[:]
            for i in range(a.tracecount):
                self.assertEqual(float_bits(got[i]),
                                 [m.f32_bits(m.to_float32(m.ibm_value(w))) for w in words[i]])
        self.assertTrue(os.path.getsize(self.path('ieee.sgy')) == os.path.getsize(EXAMPLE))

    def test_every_printable_character_both_ways(self):
        chars = ''.join(chr(c) for c in range(32, 127))
        rows = [chars[:80], chars[80:]]
        data = self.data(traces=2, samples=10, seed=5)
        path = self.their_file('text.sgy', 5, 'big', data)
        with segyio.open(path, 'r+', ignore_geometry=True) as f:
            f.text[0] = ''.join(r.ljust(80) for r in rows).ljust(3200).encode('ascii')
        with segy.open(path) as ours:
            self.assertEqual(ours.encoding, 'ebcdic')
            self.assertEqual([ours.text_header[:80], ours.text_header[80:95]], rows)
        segy.write(self.path('ours.sgy'), data, 1000, format=5, text_header='\n'.join(rows))
        with segyio.open(self.path('ours.sgy'), ignore_geometry=True) as theirs:
            text = theirs.text[0]
            text = bytes(text).decode('ascii') if not isinstance(text, str) else text
            self.assertEqual([text[:80], text[80:95]], rows)

    def test_their_extended_text_headers(self):
        data = self.data(traces=3, samples=40, seed=6)
        layout = segyio.spec()
        layout.format, layout.samples, layout.tracecount = 5, list(range(40)), 3
        layout.ext_headers = 2
        path = self.path('ext.sgy')
        with segyio.create(path, layout) as f:
            f.text[1] = segyio.tools.create_text_header({1: 'FIRST EXTENDED'})
            f.text[2] = segyio.tools.create_text_header({1: 'SECOND EXTENDED'})
            f.bin.update({segyio.BinField.Interval: 4000})
            for i in range(3):
                f.header[i] = {segyio.TraceField.offset: i + 1}
                f.trace[i] = data[i]
        with segy.open(path) as ours, segyio.open(path, ignore_geometry=True) as theirs:
            self.assertEqual(len(ours), theirs.tracecount)
            self.assertEqual([t[:20] for t in ours.extended_text_headers],
                             ['C 1 FIRST EXTENDED  ', 'C 1 SECOND EXTENDED '])
            for i, values in enumerate(ours.traces()):
                self.assertEqual(float_bits(values), float_bits(data[i]))
                self.assertEqual(ours.header(i)['offset'], i + 1)
        self.assertEqual(run_cli(['segy-convert', path, self.path('c.sgy'), '--format',
                                  'ibm'])[0], 0)
        with segyio.open(self.path('c.sgy'), ignore_geometry=True) as theirs:
            self.assertEqual((theirs.ext_headers, theirs.tracecount), (2, 3))
            self.assertEqual(theirs.text[2], segyio.open(path, ignore_geometry=True).text[2])

    def test_whole_file_reads_agree(self):
        data = self.data(traces=700, samples=333, seed=7)
        for fmt, endian in ((1, 'big'), (5, 'little')):
            path = self.their_file('w%d.sgy' % fmt, fmt, endian, data)
            with segy.open(path) as ours, segyio.open(path, ignore_geometry=True,
                                                      endian=endian) as theirs:
                raw = theirs.trace.raw[:]
                whole = ours.to_numpy()
                self.assertEqual((whole.shape, whole.dtype), (raw.shape, numpy.float32))
                # segyio reads the IBM negative zero as +0.0 (see above).
                zeros = whole == 0
                self.assertTrue((numpy.where(zeros, 0, whole.view('u4')) ==
                                 numpy.where(zeros, 0, raw.view('u4'))).all())
                self.assertEqual(int(numpy.count_nonzero(zeros != (raw == 0))), 0)
                self.assertTrue((ours.traces(numpy=True)[650:] == whole[650:]).all())
                self.assertTrue((ours.to_numpy(3, 9) == whole[3:9]).all())
                self.assertTrue(all((whole[i] == numpy.array(t)).all()
                                    for i, t in enumerate(ours.traces())))
                fields = [('offset', segyio.TraceField.offset), ('cdp_x', segyio.TraceField.CDP_X)]
                if endian == 'big':  # segyio 1.8 reads little-endian two-byte fields 4 wide
                    fields.append(('sample_count', segyio.TraceField.TRACE_SAMPLE_COUNT))
                for name, key in fields:
                    self.assertEqual(list(ours.attribute(name)),
                                     list(theirs.attributes(key)[:]), name)
                self.assertEqual(list(ours.attribute('offset', 690)),
                                 list(theirs.attributes(segyio.TraceField.offset)[690:]))

    def test_two_dimensional_arrays_written_in_blocks(self):
        data = self.data(traces=900, samples=257, seed=8)
        offsets = [3 * i - 7 for i in range(900)]
        for fmt, given in ((1, data), (1, data.astype('f8')), (5, data)):
            path = self.path('b.sgy')
            segy.write(path, given, 1000, format=fmt,
                       trace_headers=[{'offset': o} for o in offsets])
            with segyio.open(path, ignore_geometry=True) as theirs:
                self.assertEqual(list(theirs.attributes(segyio.TraceField.offset)[:]), offsets)
                got = theirs.trace.raw[:]
            if fmt == 5:
                self.assertEqual(float_bits(got.ravel()), float_bits(data.ravel()))
            else:
                # The same words as rows written one at a time give.
                segy.write(self.path('r.sgy'), [list(r) for r in given[:5]], 1000, format=1)
                with open(path, 'rb') as a, open(self.path('r.sgy'), 'rb') as b:
                    self.assertEqual(a.read()[3600 + 240:3600 + 240 + 4 * 257],
                                     b.read()[3600 + 240:3600 + 240 + 4 * 257])
        bad = data.copy()
        bad[612, 9] = numpy.nan
        with self.assertRaises(segy.FormatError) as e:
            segy.write(self.path('n.sgy'), bad, 1000)
        self.assertIn('trace 612 sample 9', str(e.exception))
        with self.assertRaises(segy.FormatError) as e:
            segy.write(self.path('n.sgy'), data, 1000, trace_headers=[{}] * 10)
        self.assertIn('trace_headers holds 10 headers for 900 traces', str(e.exception))

    def test_seismic_unix_both_ways(self):
        data = self.data(traces=5, samples=64, seed=4)
        for endian in ('little', 'big'):
            path = self.path('ours-%s.su' % endian)
            segy.write_su(path, data, 1000, endian=endian,
                          trace_headers=[dict(offset=i, cdp=7) for i in range(5)])
            with segyio.su.open(path, ignore_geometry=True, endian=endian) as theirs, \
                    segy.open_su(path) as ours:
                self.assertEqual((ours.endian, theirs.tracecount, len(theirs.samples)),
                                 (endian, 5, 64))
                got = theirs.trace.raw[:]
                for i, values in enumerate(ours.traces()):
                    self.assertEqual(float_bits(got[i]), float_bits(data[i]))
                    self.assertEqual(float_bits(values), float_bits(data[i]))
                    self.same_headers(ours, theirs, i)


@unittest.skipIf(segyio is None, ABSENT)
class SegyioWriterOptions(TempDirCase):
    """Files from segyio's writer with every option it has (sample formats 1, 2, 3, 5; big and
    little endian; extended text headers, left as segyio writes them; a structured survey or a
    trace count) read here as the data given, and as segyio reads them; and the cropped
    survey's shape, whose trace headers keep the count of the survey it was cut from."""

    def create(self, path, fmt, endian, ext, structured, samples=40):
        shape = segyio.spec()
        shape.format, shape.endian, shape.ext_headers = fmt, endian, ext
        shape.samples = list(range(samples))
        if structured:
            shape.ilines, shape.xlines = list(range(111, 134)), list(range(875, 893))
        else:
            shape.tracecount = 23 * 18
        data = numpy.arange(23 * 18 * samples).reshape(23 * 18, samples) % 30000
        with segyio.create(path, shape) as f:
            if ext:
                f.text[1] = segyio.tools.create_text_header({1: 'EXTENDED ONE'})
            for i in range(len(data)):
                f.header[i] = {segyio.TraceField.offset: i - 7,
                               segyio.TraceField.INLINE_3D: 111 + i // 18,
                               segyio.TraceField.CROSSLINE_3D: 875 + i % 18}
                f.trace[i] = data[i].astype('f4')
        return data

    def test_every_option_both_byte_orders(self):
        import itertools
        import warnings
        for fmt, endian, ext, structured in itertools.product((1, 2, 3, 5), ('big', 'little'),
                                                              (0, 2), (False, True)):
            what = (fmt, endian, ext, structured)
            path = self.path('o.sgy')
            with warnings.catch_warnings():
                warnings.simplefilter('ignore')   # segyio narrows the floats to integers
                data = self.create(path, fmt, endian, ext, structured)
            with segy.open(path) as ours, segyio.open(path, ignore_geometry=True,
                                                      endian=endian) as theirs:
                self.assertEqual((ours.endian, len(ours), len(ours.extended_text_headers)),
                                 (endian, theirs.tracecount, ext), what)
                got = numpy.array([list(t) for t in ours.traces()])
                self.assertTrue((got == theirs.trace.raw[:]).all(), what)
                if (fmt, endian) != (3, 'little'):
                    # segyio 1.8 writes little-endian 16-bit samples with each pair of
                    # samples swapped (and reads them back so); the others are as given.
                    self.assertTrue((got == data).all(), what)
                self.assertEqual(list(ours.attribute('offset')),
                                 list(theirs.attributes(segyio.TraceField.offset)[:]), what)
                if ext:
                    self.assertIn('EXTENDED ONE', ours.extended_text_headers[0])

    def test_cropped_survey_with_its_old_count_in_every_trace_header(self):
        for endian in ('big', 'little'):
            path = self.path('cropped.sgy')
            data = self.create(path, 1, endian, 0, True, samples=75)
            with segyio.open(path, 'r+', ignore_geometry=True, endian=endian) as f:
                for i in range(f.tracecount):
                    f.header[i] = {segyio.TraceField.TRACE_SAMPLE_COUNT: 462}
            with segy.open(path) as ours, segyio.open(path, endian=endian,
                                                      ignore_geometry=True) as theirs:
                self.assertEqual((len(ours), ours.samples_per_trace), (414, 75))
                self.assertTrue((ours.to_numpy() == theirs.trace.raw[:]).all())
                self.assertTrue((ours.to_numpy() == data).all())
                self.assertEqual(list(ours.attribute('crossline')),
                                 list(theirs.attributes(segyio.TraceField.CROSSLINE_3D)[:]))
                self.assertEqual(ours.header(413)['sample_count'], 462)
                self.assertIn("414 of 414 trace headers give another sample count than the "
                              "binary header's 75 (the first: trace 0, 462)",
                              ' '.join(ours.notes))
