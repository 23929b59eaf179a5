"""Writing SEG-Y files: bytes checked at the standard's offsets, IBM against the nearest-value
model, round trips of every format, refusals that leave no file behind."""
import os
import struct
from array import array

from .helpers import TempDirCase
from . import segy_model as m
from wavecodec import segy
from wavecodec.errors import FormatError


class Layout(TempDirCase):
    def test_bytes_at_their_offsets(self):
        for endian in ('big', 'little'):
            o = m.ORDER[endian]
            traces = [[1.0, -2.5, 3.25], [0.0, 1e-3, -7.0]]
            segy.write(self.path('a.sgy'), traces, 2000, format=5, endian=endian,
                       text_header='C 1 HELLO\nC 2 WORLD',
                       binary_header=dict(job_id=17, measurement_system=2),
                       trace_headers=[dict(offset=-120, cdp_x=4), dict(inline=9)])
            raw = self.read_bytes('a.sgy')
            self.assertEqual(len(raw), 3600 + 2 * (240 + 12))
            self.assertEqual(raw[:160].decode('cp037'),
                             'C 1 HELLO'.ljust(80) + 'C 2 WORLD'.ljust(80))
            self.assertEqual(raw[160:3200], b'\x40' * 3040)   # EBCDIC blanks
            b = raw[3200:3600]
            self.assertEqual(struct.unpack_from(o + 'i', b, 0)[0], 17)
            self.assertEqual(struct.unpack_from(o + 'HHHHh', b, 16), (2000, 0, 3, 0, 5))
            self.assertEqual(struct.unpack_from(o + 'h', b, 54)[0], 2)
            self.assertEqual(bytearray(b[300:302]), bytearray([1 if endian == 'big' else 2, 0]))
            self.assertEqual(struct.unpack_from(o + 'hh', b, 302), (1, 0))
            self.assertEqual(struct.unpack_from(o + 'I', b, 96)[0],
                             0x01020304 if endian == 'little' else 0)
            t = raw[3600 + 252:3600 + 252 + 240]
            self.assertEqual(struct.unpack_from(o + 'ii', t, 0), (2, 2))
            self.assertEqual(struct.unpack_from(o + 'HH', t, 114), (3, 2000))
            self.assertEqual(struct.unpack_from(o + 'i', t, 188)[0], 9)
            self.assertEqual(struct.unpack_from(o + 'i', raw, 3600 + 36)[0], -120)
            self.assertEqual(struct.unpack_from(o + '3f', raw, 3600 + 240),
                             (1.0, -2.5, 3.25))

    def test_raw_trace_header_kept(self):
        given = bytes(bytearray(range(240)))
        segy.write(self.path('r.sgy'), [[1.0, 2.0]], 1000, format=5, trace_headers=[given])
        with segy.open(self.path('r.sgy')) as f:
            raw = f.header(0, raw=True)
        self.assertEqual(raw[:114] + raw[116:], given[:114] + given[116:])
        self.assertEqual(struct.unpack('>H', raw[114:116])[0], 2)

    def test_round_trip_every_format(self):
        rng = m.rng(5)
        for code in sorted(segy.FORMATS):
            if code == 1:
                continue
            values = m.random_samples(code, 50, rng)
            for endian in ('big', 'little'):
                segy.write(self.path('f.sgy'), [values, values[::-1]], 500, format=code,
                           endian=endian)
                raw = self.read_bytes('f.sgy')
                self.assertEqual(raw[3840:3840 + 50 * m.SIZES[code]],
                                 m.sample_bytes(code, values, endian), code)
                with segy.open(self.path('f.sgy')) as f:
                    self.assertEqual(f.format, code)
                    got = [list(t) for t in f.traces()]
                self.assertEqual(got, [m.expected(code, values), m.expected(code, values[::-1])])


class Ibm(TempDirCase):
    def test_nearest_ibm_word_for_each_float(self):
        rng = m.rng(11)
        floats = [m.to_float32(v) for v in
                  [1.0, -100.0, 0.1, -0.0, 1e-40, 3.4028234663852886e38, 1.0 + 2.0 ** -23,
                   16.0 - 2.0 ** -20, 1.0000001, 2.0 ** -149]
                  + [rng.uniform(-1, 1) * 10.0 ** rng.randint(-38, 38) for _ in range(500)]]
        for endian in ('big', 'little'):
            segy.write(self.path('i.sgy'), [floats], 4000, format='ibm', endian=endian)
            raw = self.read_bytes('i.sgy')[3840:]
            words = struct.unpack(m.ORDER[endian] + '%dI' % len(floats), raw)
            self.assertEqual(list(words), [m.ibm_word(v) for v in floats])
            self.assertEqual(words[:2], (0x41100000, 0xc2640000))
            with segy.open(self.path('i.sgy')) as f:
                back = list(f.trace(0))
            # Reading gives the float nearest to each word's exact value.
            self.assertEqual(back, [m.to_float32(m.ibm_value(w)) for w in words])

    def test_nan_and_infinity_refused_unless_saturated(self):
        for bad in (float('nan'), float('inf'), -float('inf')):
            with self.assertRaises(FormatError) as e:
                segy.write(self.path('n.sgy'), [[1.0, bad]], 1000)
            self.assertIn('trace 0', str(e.exception))
            self.assertEqual(self.leftovers(), [])
        nan = struct.unpack('<f', b'\x00\x00\xc0\x7f')[0]   # sign bit clear
        segy.write(self.path('n.sgy'), [[nan, -float('inf')]], 1000, saturate=True)
        self.assertEqual(struct.unpack('>2I', self.read_bytes('n.sgy')[3840:]),
                         (0x7fffffff, 0xffffffff))

    def test_beyond_float32_refused(self):
        with self.assertRaises(FormatError) as e:
            segy.write(self.path('o.sgy'), [[1.0, 1e39]], 1000, format=5)
        self.assertIn('sample 1', str(e.exception))


class Refusals(TempDirCase):
    def refused(self, text, *args, **kwargs):
        with self.assertRaises(FormatError) as e:
            segy.write(self.path('x.sgy'), *args, **kwargs)
        self.assertIn(text, str(e.exception))
        self.assertEqual(self.leftovers(), [])

    def test_bad_arguments_leave_nothing(self):
        self.refused('trace 1 has 2 samples, the first 3', [[1, 2, 3], [1, 2]], 1000, format=5)
        self.refused('no traces', [], 1000)
        self.refused('trace 0 has 0 samples', [[]], 1000)
        self.refused('sample_interval', [[1.0]], 0)
        # 70000 us goes in revision 2's extended interval, which revision 1 lacks.
        self.refused("'revision_major' (bytes 3501-3501)=1", [[1.0]], 70000,
                     binary_header=dict(revision_major=1))
        self.refused("unknown trace header field 'offest'", [[1.0]], 1000, format=5,
                     trace_headers=[{'offest': 3}])
        self.refused("'elevation_scalar' (bytes 69-70) cannot hold 40000", [[1.0]], 1000,
                     format=5, trace_headers=[{'elevation_scalar': 40000}])
        self.refused('format=1 disagrees', [[1.0]], 1000, format=5,
                     binary_header={'format': 1})
        self.refused('not a sample format code', [[1.0]], 1000, format=4)
        self.refused('beyond the 24-bit range', [[1 << 23]], 1000, format=7)
        self.refused('int16', [[40000]], 1000, format=3)
        self.refused('at most 80', [[1.0]], 1000, text_header='x' * 81 + '\n')
        self.refused('cannot encode', [[1.0]], 1000, text_header=u'\u20ac')

    def test_fields_announcing_what_is_not_written(self):
        two = [[1.0, 2.0]] * 2
        for field, value in (('extended_text_headers', 1), ('extended_text_headers', -1),
                             ('extended_samples_per_trace', 3), ('trailer_records', 1),
                             ('additional_trace_headers', 2), ('byte_order', 0x04030201),
                             ('fixed_length_traces', 2), ('extended_sample_interval', 250.0)):
            self.refused("'%s'" % field, two, 1000, binary_header={field: value})
        self.refused("'trace_count' (bytes 3513-3520)=3", iter(two), 1000, endian='little',
                     binary_header=dict(trace_count=3))
        # What the fields announce, written: the reader finds it.
        segy.write(self.path('ok.sgy'), two, 1000, extended_text_headers=['C 1 MORE'],
                   binary_header=dict(extended_text_headers=1, extended_samples_per_trace=2,
                                      revision_major=2, first_trace_offset=8000,
                                      trace_count=2))
        with segy.open(self.path('ok.sgy')) as f:
            self.assertEqual((len(f), f.extended_text_headers[0][:8], f._data_start),
                             (2, 'C 1 MORE', 8000))
            self.assertEqual(f.binary_header['trace_count'], 2)
            self.assertEqual([list(t) for t in f.traces()], two)

    def test_trace_headers_one_per_trace(self):
        three = [[1.0]] * 3
        self.refused('trace_headers holds 2 headers for 3 traces', three, 1000,
                     trace_headers=[{}, {}])
        self.refused('trace_headers ends at 2 headers', iter(three), 1000,
                     trace_headers=iter([{}, {}]))
        self.refused('more headers than the 3 traces', iter(three), 1000,
                     trace_headers=iter([{}] * 4))

    def test_extended_text_headers_kept_by_convert(self):
        segy.write(self.path('e.sgy'), [[1.5, -2.0]] * 3, 1000, format=5,
                   extended_text_headers=['C 1 FIRST', 'C 1 ((SEG: EndText))'],
                   binary_header=dict(extended_text_headers=-1))
        segy.convert(self.path('e.sgy'), self.path('c.sgy'), 'ibm')
        with segy.open(self.path('c.sgy')) as f:
            self.assertEqual([t[:9] for t in f.extended_text_headers], ['C 1 FIRST', 'C 1 ((SEG'])
            self.assertEqual((f.format, [list(t) for t in f.traces()]), (1, [[1.5, -2.0]] * 3))

    def test_failure_midway_keeps_the_old_file(self):
        segy.write(self.path('x.sgy'), [[1.0]], 1000, format=5)
        before = self.read_bytes('x.sgy')

        def traces():
            yield [1.0, 2.0]
            raise RuntimeError('source failed')
        self.assertRaises(RuntimeError, segy.write, self.path('x.sgy'), traces(), 1000, format=5)
        self.assertEqual(self.read_bytes('x.sgy'), before)
        self.assertEqual(self.leftovers(), ['x.sgy'])

    def test_varying_lengths_when_asked(self):
        data = [[1.0, 2.0], [3.0], [4.0, 5.0, 6.0]]
        segy.write(self.path('v.sgy'), data, 1000, format=5,
                   binary_header=dict(fixed_length_traces=0))
        with segy.open(self.path('v.sgy')) as f:
            self.assertEqual([list(t) for t in f.traces()], data)

    def test_symlink_followed_and_arrays_taken(self):
        os.mkdir(self.path('d'))
        os.symlink(os.path.join('d', 'real.sgy'), self.path('link.sgy'))
        segy.write(self.path('link.sgy'), (array('f', [k, -k]) for k in range(3)), 1000,
                   format=5)
        self.assertTrue(os.path.islink(self.path('link.sgy')))
        with segy.open(self.path('d/real.sgy')) as f:
            self.assertEqual(list(f.trace(2)), [2.0, -2.0])


class ConvertExactness(TempDirCase):
    def test_counts_over_whole_blocks(self):
        nan = struct.unpack('<f', b'\x00\x00\xc0\x7f')[0]
        row = [nan, 1.0 + 2.0 ** -23, float('inf'), 0.5, nan, 3.0, -float('inf'), 1.0 + 2.0 ** -22]
        traces = [row * 50] * 700 + [[0.0] * 400] * 300   # several blocks, muted traces
        segy.write(self.path('f.sgy'), traces, 1000, format=5)
        result = segy.convert(self.path('f.sgy'), self.path('i.sgy'), 'ibm', saturate=True)
        self.assertEqual((result.traces, result.saturated, result.rounded),
                         (1000, 700 * 200, 700 * 100))
        with segy.open(self.path('i.sgy')) as f:
            got = list(f.trace(699))[:8]
        self.assertEqual(got[1:4], [1.0, float('inf'), 0.5])
        with self.assertRaises(FormatError) as e:
            segy.convert(self.path('f.sgy'), self.path('j.sgy'), 'ibm', saturate=True, exact=True)
        self.assertIn('trace 0 sample 1: 1.00000011920', str(e.exception))
        # Back to IEEE: words with extreme exponents only where the values are.
        tiny = [0.0] * 398 + [2.0 ** -149, 1e-50]    # the first a float32, the second none
        segy.write(self.path('ti.sgy'), [[0.0] * 400] * 900 + [tiny], 1000, format=1)
        with self.assertRaises(FormatError) as e:
            segy.convert(self.path('ti.sgy'), self.path('te.sgy'), 'ieee')
        self.assertIn('trace 900 sample 399', str(e.exception))

    def test_exact_float32_test_agrees_with_the_model(self):
        from wavecodec.segy.convert import first_inexact_ibm, ibm_fits_float32
        fractions = [0, 1, 2, 8, 0x10, 0x100000, 0x800000, 0xffffff, 0x123456, 0x800001, 0x7]
        words = [(s << 31) | (e << 24) | f for s in (0, 1) for e in range(128) for f in fractions]
        for w in words:
            exact = m.to_float32(m.ibm_value(w)) == m.ibm_value(w)
            self.assertEqual(ibm_fits_float32(w), exact, hex(w))
        for endian in ('big', 'little'):
            data = m.sample_bytes(1, words, endian)
            want = next(i for i, w in enumerate(words)
                        if m.to_float32(m.ibm_value(w)) != m.ibm_value(w))
            self.assertEqual(first_inexact_ibm(data, endian), want)
            fine = [w for w in words if m.to_float32(m.ibm_value(w)) == m.ibm_value(w)]
            self.assertIsNone(first_inexact_ibm(m.sample_bytes(1, fine, endian), endian))
