"""Faults named, not hidden: keyword lines, sections without WID2, WID2 values, INT samples,
leftover code, values refused by the writer, faulty waveforms not re-saved."""
from .helpers import CapturedStdout, TempDirCase, header, signal, wavecodec


class KeywordLines(TempDirCase):
    def setUp(self):
        TempDirCase.setUp(self)
        self.samples = signal(400)
        self.waves = [wavecodec.Waveform(header(channel=c), self.samples) for c in ('BHZ',
                                                                                   'BHN')]
        self.data = self.gse('a.gse', self.waves)

    def test_first_waveform_never_vanishes(self):
        for lead in (b' ', b'\0', b'\t'):
            data = lead + self.data
            with self.assertRaises(wavecodec.FormatError) as cm:
                wavecodec.read(data)
            self.assertIn('line 2: a data section (DAT2) that no WID2 line introduces',
                          str(cm.exception))
            back = wavecodec.read(data, strict=False)
            self.assertEqual(len(back), 2)
            self.assertIn('line 2', back[0].error)
            self.assertEqual(back[1].error, None)
        back = wavecodec.read(self.data.replace(b'WID2', b'WlD2', 1), strict=False)
        self.assertEqual([w.ok for w in back], [False, True])

    def test_code_lines_that_begin_like_keywords_are_data(self):
        # 200 zero samples are 200 '+' characters, 80 per line. Each word below puts a sample
        # of two characters (its one letter with the continuation flag) in place of two
        # zeros: the section holds 199 samples.
        waves = [wavecodec.Waveform(header(), [0] * 200), self.waves[0]]
        data = self.gse('z.gse', waves).replace(b'CM6      200', b'CM6      199')
        lines = data.split(b'\n')
        self.assertEqual(lines[3], b'+' * 80)
        for word in (b'WID2H', b'CHK2k', b'DAT2x', b'STA2q'):
            changed = list(lines)
            changed[3] = word + changed[3][5:]
            back = wavecodec.read(b'\n'.join(changed), verify=False, strict=False)
            self.assertEqual([w.error for w in back], [None, None], word)
            self.assertEqual(len(back[0].samples), 199)
            self.assertEqual(list(back[1].samples), self.samples)

    def test_short_section_reported_and_next_waveform_read(self):
        # The first section loses its last lines and its CHK2 line.
        first_chk = self.data.index(b'CHK2 ')
        cut = self.data.rindex(b'\n', 0, self.data.rindex(b'\n', 0, first_chk - 1)) + 1
        data = self.data[:cut] + self.data[self.data.index(b'WID2', first_chk):]
        with self.assertRaises(wavecodec.FormatError) as cm:
            wavecodec.read(data)
        self.assertIn('truncated', str(cm.exception))
        self.assertIn('of the 400 samples declared', str(cm.exception))
        with CapturedStdout() as out:
            back = wavecodec.read(data, strict=False)
        self.assertEqual(out.text, '')
        self.assertEqual(len(back), 2)
        self.assertIn('truncated', back[0].error)
        # Samples kept from a cut section are the original's.
        kept = len(back[0].samples)
        self.assertLess(kept, 400)
        self.assertEqual(list(back[0].samples), self.samples[:kept])
        self.assertEqual(list(back[1].samples), self.samples)
        self.assertEqual(back[1].error, None)

    def test_cut_inside_a_sample_keeps_the_whole_samples_before_it(self):
        alphabet = b'+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz'
        code_start = self.data.index(b'DAT2\n') + 5
        first_chk = self.data.index(b'CHK2 ')
        rest = self.data[self.data.index(b'WID2', first_chk):]
        for cut in range(first_chk - 170, first_chk - 1, 7):
            # A sample ends at each character without the continuation flag (value < 32).
            whole = sum(1 for c in bytearray(self.data[code_start:cut])
                        if c != 10 and alphabet.index(bytes(bytearray([c]))) < 32)
            back = wavecodec.read(self.data[:cut] + b'\n' + rest, strict=False)
            self.assertIn('ends after %d of the 400' % whole, back[0].error)
            self.assertEqual(list(back[0].samples), self.samples[:whole])
            self.assertEqual(list(back[1].samples), self.samples)

    def test_code_after_the_last_sample(self):
        chk = self.data.index(b'\nCHK2 ')
        for extra in (b'A', b'0', b'\n12'):
            data = self.data[:chk] + extra + self.data[chk:]
            with self.assertRaises(wavecodec.FormatError) as cm:
                wavecodec.read(data)
            self.assertIn('more data than the 400 samples declared', str(cm.exception))
        # Blanks and columns past 80 are not code.
        self.assertEqual(len(wavecodec.read(self.data[:chk] + b'   ' + self.data[chk:])), 2)


def wid2_with(data, first, last, text):
    """`data` with columns first..last (1-based) of its first line replaced by `text`."""
    return data[:first - 1] + text.rjust(last - first + 1) + data[last:]


class Wid2Values(TempDirCase):
    def test_each_value_checked_and_named(self):
        data = self.gse('a.gse', [wavecodec.Waveform(header(), [1, 2, 3])] * 2)
        cases = [((58, 68), b'', 'sample_rate'), ((58, 68), b'abc', 'sample_rate'),
                 ((58, 68), b'0.0', 'sample_rate'), ((58, 68), b'-5.0', 'sample_rate'),
                 ((58, 68), b'nan', 'sample_rate'), ((58, 68), b'inf', 'sample_rate'),
                 ((58, 68), b'1e999', 'sample_rate'), ((23, 28), b'xx.xxx', 'second'),
                 ((23, 28), b'60.000', 'second'), ((11, 12), b'13', 'month'),
                 ((14, 15), b'30', 'day'), ((17, 18), b'99', 'hour'), ((20, 21), b'60', 'minute'),
                 ((49, 56), b'-1', 'sample_count'), ((49, 56), b'1_000', 'sample_count'),
                 ((70, 79), b'nan', 'calibration'), ((81, 87), b'', 'calibration_period'),
                 ((96, 100), b'inf', 'horizontal_angle'), ((102, 105), b'x', 'vertical_angle')]
        for (first, last), text, field in cases:
            # Month 2 makes day 30 a date that does not exist.
            bad = wid2_with(data, 11, 12, b'02') if field == 'day' else data
            bad = wid2_with(bad, first, last, text)
            with self.assertRaises(wavecodec.FormatError) as cm:
                wavecodec.read(bad)
            self.assertIn(field, str(cm.exception), (text, str(cm.exception)))
            self.assertIn('line 1', str(cm.exception))
            back = wavecodec.read(bad, strict=False)
            self.assertIn(field, back[0].error)
            self.assertEqual(back[1].error, None)

    def test_leap_day_is_a_date(self):
        data = self.gse('a.gse', [wavecodec.Waveform(header(year=2024, month=2, day=29), [1])])
        self.assertEqual(wavecodec.read(data)[0].start.day, 29)


class IntSamples(TempDirCase):
    def int_file(self, text, count):
        data = self.gse('i.gse', [wavecodec.Waveform(header(), [0] * count)],
                        data_format='INT')
        body = data.index(b'DAT2\n') + 5
        return data[:body] + text + data[data.index(b'CHK2'):]

    def test_plain_decimal_integers_only(self):
        for text in (b'1_000 2 3\n', b'0x10 2 3\n', b'1.0 2 3\n', b'-- 2 3\n', b'1 2 3e2\n',
                     b'\xd9\xa1 2 3\n', b'1 2\x003\n'):
            with self.assertRaises(wavecodec.FormatError) as cm:
                wavecodec.read(self.int_file(text, 3))
            self.assertIn('bad INT sample', str(cm.exception))
        for text, why in ((b'2147483648 0 0\n', 'outside 32 bits'),
                          (b'-2147483649 0 0\n', 'outside 32 bits')):
            with self.assertRaises(wavecodec.FormatError) as cm:
                wavecodec.read(self.int_file(text, 3), verify=False)
            self.assertIn(why, str(cm.exception))
        back = wavecodec.read(self.int_file(b'+5 -7\n  0012\n\n-2147483648 2147483647\n', 5),
                              verify=False)[0]
        self.assertEqual(list(back.samples), [5, -7, 12, -2147483648, 2147483647])


class WriterValues(TempDirCase):
    def check_refused(self, waves, text, **options):
        before = self.leftovers()
        with self.assertRaises(wavecodec.FormatError) as cm:
            wavecodec.write(self.path('bad.gse'), waves, **options)
        self.assertIn(text, str(cm.exception))
        self.assertEqual(self.leftovers(), before)

    def test_values_that_do_not_survive_printing(self):
        W = wavecodec.Waveform
        for fields, name in ((dict(sample_rate=-1e-9), 'sample_rate'),
                             (dict(sample_rate=float('inf')), 'sample_rate'),
                             (dict(sample_rate=float('nan')), 'sample_rate'),
                             (dict(day=30, month=2), 'day'), (dict(day=31, month=4), 'day'),
                             (dict(calibration=float('inf')), 'calibration'),
                             (dict(calibration=float('nan')), 'calibration'),
                             (dict(vertical_angle=-1e300), 'vertical_angle'),
                             (dict(station=u'\xc5SA'), 'station'),
                             (dict(instrument_type='GS-13XX'), 'instrument_type'),
                             (dict(channel=' HZ'), 'channel')):
            self.check_refused([W(header(**fields), [1])], name)
        self.check_refused([W(header(year=9999, month=12, day=31, hour=23, minute=59,
                                     second=59.9999), [1])], 'second')

    def test_faulty_waveform_not_resaved(self):
        data = self.gse('a.gse', [wavecodec.Waveform(header(), signal(100))])
        first = data.index(b'CHK2 ')
        spoiled = data[:first] + b'CHK2 1\n'
        wave = wavecodec.read(spoiled, strict=False)[0]
        self.assertIn('checksum mismatch', wave.error)
        self.check_refused([wave], 'allow_errors=True')
        wavecodec.write(self.path('kept.gse'), [wave], allow_errors=True)
        line = self.read_bytes('kept.gse').split(b'\n')[0]
        self.assertEqual(int(line[48:56]), len(wave.samples))
        # A short section: the written count is the samples written, not the count declared.
        short = data.replace(b'CM6      100', b'CM6      150')
        wave = wavecodec.read(short, strict=False)[0]
        self.assertEqual(len(wave.samples), 100)
        wavecodec.write(self.path('short.gse'), [wave], allow_errors=True)
        self.assertEqual(wavecodec.read(self.path('short.gse'))[0].header['sample_count'], 100)


class PlotWithoutRate(TempDirCase):
    def test_bad_rates_draw_against_sample_numbers(self):
        from wavecodec.gse2 import plot
        for rate in (0.0, -5.0, float('nan'), float('inf'), None):
            w = wavecodec.Waveform(header(sample_rate=rate), [1, 5, 2])
            self.assertEqual(w.delta, None)
            self.assertIn('sample number', plot.render([w]))
        self.assertIn('time since start', plot.render([wavecodec.Waveform(header(), [1])]))
