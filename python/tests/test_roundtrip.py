"""Writing and reading back: CM6 and INT, extremes, clamping, sizes, several waveforms."""
import ctypes
import os
import threading
from array import array

from . import cdecls
from .helpers import (INT32_MAX, INT32_MIN, TempDirCase, from_second_differences, header,
                      signal, wavecodec)

CM6_MAX = 134217727


class RoundTrip(TempDirCase):
    def round_trip(self, samples, data_format='CM6', **fields):
        w = wavecodec.Waveform(header(**fields), samples)
        wavecodec.write(self.path('rt.gse'), [w], data_format=data_format)
        back = wavecodec.read(self.path('rt.gse'))
        self.assertEqual(len(back), 1)
        self.assertEqual(list(back[0].samples), list(samples))
        self.assertIsInstance(back[0].samples, array)
        self.assertEqual(back[0].samples.typecode, 'i')
        return back[0]

    def test_signal_both_formats(self):
        s = signal(5000)
        for fmt in ('CM6', 'INT'):
            w = self.round_trip(s, fmt)
            self.assertEqual(w.header['data_format'], fmt)
            self.assertEqual(w.header['sample_count'], 5000)
            self.assertEqual(w.checksum, w.computed_checksum)

    def test_sizes(self):
        for n in (0, 1, 2, 3, 13, 14):
            for fmt in ('CM6', 'INT'):
                self.round_trip(signal(n, seed=n + 1), fmt)

    def test_cm6_extreme_second_differences(self):
        diffs = [CM6_MAX, -CM6_MAX, CM6_MAX, 5, -CM6_MAX, 0, -1, CM6_MAX] * 20
        self.round_trip(from_second_differences(diffs))

    def test_int_extremes(self):
        self.round_trip([INT32_MIN, INT32_MAX, 0, -1, INT32_MIN, INT32_MIN], 'INT')

    def test_header_fields(self):
        fields = dict(station='STA01'[:5], channel='SHE', aux_id='AUX1', instrument_type='GS-13',
                      calibration=0.0123, calibration_period=2.5, horizontal_angle=123.4,
                      vertical_angle=90.0, second=59.125, sample_rate=0.1)
        w = self.round_trip([1, 2, 3], **fields)
        for key, value in fields.items():
            if isinstance(value, float):
                self.assertAlmostEqual(w.header[key], value, places=4, msg=key)
            else:
                self.assertEqual(w.header[key], value)

    def test_defaults(self):
        required = dict((k, header()[k]) for k in wavecodec.HEADER_REQUIRED)
        wavecodec.write(self.path('d.gse'), [wavecodec.Waveform(required, [4])])
        w = wavecodec.read(self.path('d.gse'))[0]
        for key, value in wavecodec.HEADER_DEFAULTS.items():
            self.assertEqual(w.header[key], value, key)

    def test_cm6_line_lengths_and_checksum_line(self):
        data = self.gse('a.gse', [wavecodec.Waveform(header(), [-5, -7] + signal(3000))])
        lines = data.split(b'\n')
        self.assertTrue(all(len(l) <= 80 for l in lines[1:]))
        self.assertEqual(len(lines[0]), 105)
        data = self.gse('b.gse', [wavecodec.Waveform(header(), [-5, -7])])
        self.assertTrue(data.endswith(b'\nCHK2      -12\n'), data)

    def test_wid2_line_is_the_librarys(self):
        data = self.gse('a.gse', [wavecodec.Waveform(header(station='XY', calibration=2.0),
                                                     [1])])
        self.assertEqual(data.split(b'\n')[0],
                         b'WID2 2024/03/05 06:07:08.500 XY    BHZ      CM6        1   40.000000 '
                         b'2.0000e+00   1.000         -1.0 -1.0')

    def test_cm6_lines_are_the_encoders_characters_cut_at_80(self):
        # Zeros are one character each: 80 and 160 fill lines exactly, 81 and 159 do not. Longer
        # waveforms come before shorter ones, so text left over from one would show in the next.
        lib, chars_lib = wavecodec.load_wavecodec(), cdecls.wavecodec()
        lengths = (1000, 160, 81, 80, 79, 159, 1, 0)
        waves = [wavecodec.Waveform(header(channel='C%02d' % k), [0] * n if k % 2 else
                                    signal(n, seed=k + 1))
                 for k, n in enumerate(lengths)]
        data = self.gse('l.gse', waves)
        sections = data.split(b'DAT2\n')[1:]
        for wave, section in zip(waves, sections):
            diffs = array('i', wave.samples)
            lib.diff_2nd(diffs.buffer_info()[0], len(diffs), 0)
            out = ctypes.create_string_buffer(6 * len(diffs) + 1)
            length = ctypes.c_size_t(0)
            chars_lib.compress_6b_chars(diffs.buffer_info()[0], len(diffs), out, len(out),
                                        ctypes.byref(length))
            chars = out.raw[:length.value]
            lines = b''.join(chars[i:i + 80] + b'\n' for i in range(0, len(chars), 80))
            self.assertEqual(section[:section.index(b'CHK2 ')], lines, len(wave.samples))

    def test_threads_encode_at_once_and_leave_the_hosts_diff_2nd_series_alone(self):
        # The writer differences with a state of its own (diff_2nd_r): a series a host keeps in
        # diff_2nd's process-wide state runs on across writes, and threads writing at once, a
        # long waveform (written a block at a time) among them, give what one thread gives.
        from wavecodec.gse2 import writer
        lib = wavecodec.load_wavecodec()
        long_samples = array('i', [(i * 37) % 1001 - 500 for i in range(writer.BLOCK + 4321)])
        waves = [wavecodec.Waveform(header(channel='T%02d' % t), signal(20000 + 313 * t, seed=t))
                 for t in range(3)] + [wavecodec.Waveform(header(channel='LNG'), long_samples)]
        alone = [writer.to_bytes([w]) for w in waves]

        series = array('i', signal(3000, seed=99))
        whole = array('i', series)
        lib.diff_2nd(whole.buffer_info()[0], len(whole), 0)
        head, tail = series[:1000], series[1000:]
        lib.diff_2nd(head.buffer_info()[0], len(head), 0)
        together = [None] * len(waves)

        def encode(k):
            together[k] = writer.to_bytes([waves[k]])
        threads = [threading.Thread(target=encode, args=(k,)) for k in range(len(waves))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(120)
        self.assertFalse(any(thread.is_alive() for thread in threads))
        lib.diff_2nd(tail.buffer_info()[0], len(tail), 1)
        self.assertEqual(head + tail, whole)
        self.assertEqual(together, alone)

    def test_several_waveforms(self):
        waves = [wavecodec.Waveform(header(channel=c), signal(n, seed=n))
                 for c, n in (('BHZ', 100), ('BHN', 0), ('BHE', 1), ('HHZ', 777))]
        wavecodec.write(self.path('m.gse'), waves)
        back = wavecodec.read(self.path('m.gse'))
        self.assertEqual([w.header['channel'] for w in back], ['BHZ', 'BHN', 'BHE', 'HHZ'])
        self.assertEqual([list(w.samples) for w in back], [list(w.samples) for w in waves])
        self.assertEqual(list(wavecodec.iter_waveforms(self.path('m.gse')))[3].samples,
                         waves[3].samples)


class Clamping(TempDirCase):
    def test_out_of_range_refused_and_nothing_written(self):
        for samples in ([CM6_MAX + 1], [0, -CM6_MAX - 1], [INT32_MIN], [INT32_MAX, INT32_MIN]):
            with self.assertRaises(wavecodec.FormatError) as cm:
                wavecodec.write(self.path('x.gse'), [wavecodec.Waveform(header(), samples)])
            self.assertIn('CM6 range', str(cm.exception))
            self.assertIn('ABC BHZ 2024/03/05', str(cm.exception))
            self.assertEqual(self.leftovers(), [])

    def test_clamp_option_writes_consistent_file(self):
        samples = [5, CM6_MAX + 1000, 7, INT32_MIN, 0, 3]
        wavecodec.write(self.path('c.gse'), [wavecodec.Waveform(header(), samples)], clamp=True)
        back = wavecodec.read(self.path('c.gse'))[0]
        # Second differences of `samples` (wrapping), clamped: the series the file carries.
        diffs, prev1, prev2 = [], 0, 0
        for s in samples:
            d = ((s - 2 * prev1 + prev2 + 2 ** 31) % 2 ** 32) - 2 ** 31
            diffs.append(max(-CM6_MAX, min(CM6_MAX, d)))
            prev1, prev2 = s, prev1
        self.assertEqual(list(back.samples), from_second_differences(diffs))
        self.assertEqual(back.error, None)

    def test_int_needs_no_clamping(self):
        wavecodec.write(self.path('i.gse'), [wavecodec.Waveform(header(), [INT32_MIN, 0])],
                        data_format='INT')
        self.assertEqual(list(wavecodec.read(self.path('i.gse'))[0].samples), [INT32_MIN, 0])


class BlockWrites(TempDirCase):
    """Long CM6 waveforms are written a block of samples at a time: the same text as one piece,
    whatever falls on a block's edge."""

    def setUp(self):
        TempDirCase.setUp(self)
        from wavecodec.gse2 import writer
        self.writer = writer
        self.saved = writer.BLOCK, writer.ONE_PIECE

    def tearDown(self):
        self.writer.BLOCK, self.writer.ONE_PIECE = self.saved
        TempDirCase.tearDown(self)

    def both(self, waves, **options):
        self.writer.BLOCK = self.writer.ONE_PIECE = 10 ** 9
        whole = self.writer.to_bytes(waves, **options)
        self.writer.BLOCK = self.writer.ONE_PIECE = 97
        pieces = list(self.writer.to_chunks(waves, **options))
        return whole, pieces

    def test_blocks_give_the_text_of_one_piece(self):
        for n in (98, 194, 195, 1000, 2003):
            waves = [wavecodec.Waveform(header(), signal(n, seed=n)),
                     wavecodec.Waveform(header(channel='BHN'), [7] * n, sta2={'network': 'NT'})]
            whole, pieces = self.both(waves)
            self.assertGreater(len(pieces), 2 * (n // 97))
            self.assertEqual(b''.join(pieces), whole, n)
        wavecodec.write(self.path('b.gse'), waves)
        self.assertEqual([list(w.samples) for w in wavecodec.read(self.path('b.gse'))],
                         [list(w.samples) for w in waves])

    def test_out_of_range_in_a_later_block(self):
        samples = signal(1000)
        samples[700] = CM6_MAX * 4
        waves = [wavecodec.Waveform(header(), samples)]
        whole, pieces = self.both(waves, clamp=True)
        self.assertEqual(b''.join(pieces), whole)
        self.writer.BLOCK = self.writer.ONE_PIECE = 97
        with self.assertRaises(wavecodec.FormatError) as cm:
            wavecodec.write(self.path('x.gse'), waves)
        self.assertIn('at sample 702 is outside the CM6 range', str(cm.exception))
        self.assertEqual(self.leftovers(), [])


class QuickHeaderChecks(TempDirCase):
    """complete() passes the usual values through quick tests before its field-by-field
    checks: with or without them, every header gives the same result or the same message."""

    def test_same_verdict_with_and_without_the_quick_tests(self):
        from wavecodec.compat import PY2
        from wavecodec.gse2 import complete as hdr
        odd = [dict(station=s) for s in ('', 'ABCDE', 'ABCDEF', ' AB', 'A B', 'A\x00B', 'A\tB',
                                         u'\xc4B', 5, None, 'AB~', 'AB\x7f')]
        odd += [dict(instrument_type=v) for v in ('STS-2', 'STS-2X', 'GS 13')]
        odd += [dict(year=v) for v in (2024.0, True, '2024', 10 ** 30, -1)]
        odd += [dict(second=v) for v in (59.9999, 1, float('nan'), float('inf'), -0.0, '1')]
        odd += [dict(sample_rate=v) for v in (1e-7, 1e7, 9999.9999995, 12345, 10 ** 400,
                                              float('-inf'), False)]
        odd += [dict(calibration=v) for v in (1e100, -1e-100, 0, 99999999, 1.5e307)]
        odd += [dict(vertical_angle=v, horizontal_angle=w)
                for v, w in ((99.9, 999.9), (-99.9, -999.9), (100.0, 1000.0))]
        if PY2:
            odd += [dict(station=b'\xc4B'), dict(channel=u'BHZ'), dict(year=long(2024))]  # noqa
        quick = hdr._usual_values
        for fields in odd:
            verdicts = []
            for fast in (quick, lambda full: False):
                hdr._usual_values = fast
                try:
                    verdicts.append(('ok', hdr.complete(header(**fields))))
                except wavecodec.FormatError as e:
                    verdicts.append(('refused', str(e)))
                finally:
                    hdr._usual_values = quick
            self.assertEqual(verdicts[0], verdicts[1], fields)


class BadWrites(TempDirCase):
    def check_refused(self, waves, text, **options):
        with self.assertRaises(wavecodec.FormatError) as cm:
            wavecodec.write(self.path('bad.gse'), waves, **options)
        self.assertIn(text, str(cm.exception))
        self.assertEqual(self.leftovers(), [])

    def test_bad_headers(self):
        W = wavecodec.Waveform
        self.check_refused([W(header(station='TOOLONG'), [1])], 'station')
        self.check_refused([W(header(sample_rate=float('inf')), [1])], 'sample_rate')
        self.check_refused([W(header(sample_rate=0.0), [1])], 'sample_rate')
        self.check_refused([W(header(month=13), [1])], 'month')
        self.check_refused([W(header(second=60.0), [1])], 'second')
        self.check_refused([W(header(calibration=float('nan')), [1])], 'calibration')
        self.check_refused([W(header(chanel='BHZ'), [1])], 'chanel')
        self.check_refused([W(header(station='A\nB'), [1])], 'station')
        h = header()
        del h['sample_rate']
        self.check_refused([W(h, [1])], 'sample_rate')

    def test_sample_sources(self):
        values = [3, -4, 2147483647]
        source = array('i', values)
        sources = [values, tuple(values), source, iter(values)]
        try:
            sources.append(memoryview(source))
        except TypeError:  # Python 2 arrays have no buffer view
            pass
        for samples in sources:
            w = wavecodec.Waveform(header(), samples)
            self.assertEqual(list(w.samples), values)
        self.assertIsNot(wavecodec.Waveform(header(), source).samples, source)

    def test_samples_replaced_after_construction(self):
        w = wavecodec.Waveform(header(), [1])
        w.samples = [7, 8, 9]
        wavecodec.write(self.path('r.gse'), [w])
        self.assertEqual(list(wavecodec.read(self.path('r.gse'))[0].samples), [7, 8, 9])
        os.unlink(self.path('r.gse'))
        w.samples = [2 ** 40]
        self.check_refused([w], '32-bit range')

    def test_bad_format_and_samples(self):
        self.check_refused([wavecodec.Waveform(header(), [1])], 'unsupported', data_format='CM8')
        with self.assertRaises(wavecodec.FormatError):
            wavecodec.Waveform(header(), [2 ** 31])
        with self.assertRaises(wavecodec.FormatError):
            wavecodec.Waveform(header(), ['x'])
        with self.assertRaises(wavecodec.FormatError):
            wavecodec.Waveform(header(), [1.5])

    def test_second_waveform_bad_leaves_no_file(self):
        good = wavecodec.Waveform(header(), [1, 2])
        self.check_refused([good, wavecodec.Waveform(header(year=12345), [1])], 'waveform 2')

    def test_missing_output_directory(self):
        with self.assertRaises(EnvironmentError) as cm:
            wavecodec.write(self.path('no/such/dir.gse'), [wavecodec.Waveform(header(), [1])])
        self.assertIn('no/such/dir.gse', str(cm.exception))

    def test_existing_file_kept_on_failure(self):
        self.write_bytes('bad.gse', b'old')
        with self.assertRaises(wavecodec.FormatError):
            wavecodec.write(self.path('bad.gse'), [wavecodec.Waveform(header(), [INT32_MIN])])
        self.assertEqual(self.read_bytes('bad.gse'), b'old')
        self.assertEqual(self.leftovers(), ['bad.gse'])
