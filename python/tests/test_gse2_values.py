"""GSE2 values at their edges: messages that lost their end, STA2 values that do not read, times
at half milliseconds and leap seconds, every field's extremes written back, line ends."""
import datetime
import gzip
import io
import sys
import traceback
import unittest

from .helpers import TempDirCase, header, run_cli, signal as seismogram, wavecodec
from wavecodec.gse2 import block, columns, fields


def wid2_with(line, name, text):
    """`line` (a WID2 line, bytes) with field `name`'s columns holding `text`, right-aligned."""
    for field, first, last, _, _, _ in fields.WID2_TABLE:
        if field == name:
            width = last - first + 1
            return line[:first - 1] + text.rjust(width).encode('ascii') + line[last:]
    raise KeyError(name)


class Messages(TempDirCase):
    def test_a_message_without_its_stop_line_is_truncated(self):
        waves = [wavecodec.Waveform(header(channel=c), seismogram(50)) for c in
                 ('BHZ', 'BHN', 'BHE')]
        data = self.gse('m.gse', waves, message_id='M1')
        cut = data[:data.index(b'WID2', data.index(b'CHK2'))]
        with self.assertRaises(wavecodec.FormatError) as caught:
            wavecodec.read(cut)
        self.assertIn('truncated', str(caught.exception))
        self.assertIn('STOP', str(caught.exception))
        got = wavecodec.read(cut, strict=False)
        self.assertEqual(len(got), 1)
        self.assertIn('truncated', got[0].error)
        # A second message beginning where the first has no STOP line.
        joined = cut + data
        self.assertRaises(wavecodec.FormatError, wavecodec.read, joined)
        self.assertEqual([w.ok for w in wavecodec.read(joined, strict=False)],
                         [False, True, True, True])
        # Whole messages and plain files are sound.
        self.assertEqual(len(wavecodec.read(data)), 3)
        self.assertEqual(len(wavecodec.read(self.gse('p.gse', waves))), 3)
        status, out, err = run_cli(
            ['verify', self.write_bytes('cut.gse', cut)])
        self.assertEqual(status, 1)
        self.assertIn('1 bad', out)


class Sta2Values(TempDirCase):
    def test_a_value_that_does_not_read_is_never_a_neighbours(self):
        body = self.gse('a.gse', [wavecodec.Waveform(header(), [1, 2, 3])])
        wid2, rest = body.split(b'\n', 1)
        for line, field, kept in (
                (b'STA2 XX   abc   -3.25000 WGS-84 0.100 0.000', 'latitude', {}),
                (b'STA2 XX   12.5   -3.25000 WGS-84 nan 0.000', 'elevation',
                 dict(latitude=12.5, longitude=-3.25, coordinate_system='WGS-84')),
                (b'STA2 XX   -3.25000 WGS-84 0.100 0.000', 'longitude', dict(latitude=-3.25)),
                (b'STA2 IU        12.34567  -98.7654x WGS-84       1.234 0.010', 'longitude',
                 dict(latitude=12.34567))):
            data = wid2 + b'\n' + line + b'\n' + rest
            with self.assertRaises(wavecodec.FormatError) as caught:
                wavecodec.read(data)
            self.assertIn('STA2 field %s' % field, str(caught.exception))
            wave = wavecodec.read(data, strict=False)[0]
            self.assertIn(field, wave.error)
            # Only values of their own fields are kept: the others are None.
            kept = dict(kept, network=wave.sta2['network'])
            self.assertEqual(wave.sta2, dict((k, kept.get(k)) for k in fields.STA2_FIELDS))
        # Shifted lines with every value readable still read, absent ones as None.
        for line, want in ((b'STA2 -3.25 12.5 WGS-84 0.1 0.0',
                            (None, -3.25, 12.5, 'WGS-84', 0.1, 0.0)),
                           (b'STA2 XX 1 2 WGS-84', ('XX', 1.0, 2.0, 'WGS-84', None, None))):
            sta2 = wavecodec.read(wid2 + b'\n' + line + b'\n' + rest)[0].sta2
            self.assertEqual(tuple(sta2[k] for k in fields.STA2_FIELDS), want)


class Times(TempDirCase):
    def test_half_milliseconds_round_half_to_even(self):
        base = datetime.datetime(2024, 3, 5, 6, 7, 8)
        for micro, shown in ((500, '08.000'), (1500, '08.002'), (2500, '08.002'),
                             (3500, '08.004'), (12500, '08.012'), (999500, '09.000'),
                             (2501, '08.003')):
            wave = wavecodec.Waveform(header(), [1])
            wave.start = base + datetime.timedelta(microseconds=micro)
            line = self.gse('t.gse', [wave]).split(b'\n')[0]
            self.assertEqual(line[19:28].decode('ascii'), '07:' + shown, micro)
        for second, shown in ((8.0025, b'08.002'), (8.0035, b'08.004'), (8.0005, b'08.000')):
            line = self.gse('s.gse', [wavecodec.Waveform(header(second=second), [1])])
            self.assertEqual(line[22:28], shown, second)

    def test_leap_second_read_and_written_as_written(self):
        wave = wavecodec.Waveform(header(year=2016, month=12, day=31, hour=23, minute=59,
                                         second=60.5), seismogram(30))
        data = self.gse('leap.gse', [wave])
        self.assertIn(b'2016/12/31 23:59:60.500', data)
        back = wavecodec.read(data)[0]
        self.assertEqual(back.header['second'], 60.5)
        self.assertTrue(back.ok)
        # start: the time a datetime can hold, as POSIX time counts the leap second.
        self.assertEqual(back.start, datetime.datetime(2017, 1, 1, 0, 0, 0, 500000))
        self.assertEqual(self.gse('again.gse', [back]), data)
        # Sixty seconds elsewhere than 23:59 is no time.
        bad = data.replace(b'23:59:60.500', b'23:58:60.500')
        self.assertRaises(wavecodec.FormatError, wavecodec.read, bad)


class WritableValues(TempDirCase):
    """Every value the reader takes from a WID2 or STA2 field is written back and reads as the
    same value: the extremes of each field's columns."""

    @staticmethod
    def extremes(width):
        texts = []
        for sign in ('', '-'):
            n = width - len(sign)
            texts += [sign + '9' * n, sign + '0' * n, sign + '.' + '0' * (n - 2) + '1',
                      sign + '1.' + '0' * (n - 3) + '1', sign + '9' * max(1, n - 3) + 'e99',
                      sign + '1e-' + '9' * max(1, min(2, n - 3))]
            if n >= 6:
                texts += [sign + '9.' + '9' * (n - 6) + 'e+99', sign + '1.5e-300'[:n]]
        return [t for t in texts if len(t) <= width]

    def test_wid2_field_extremes_round_trip(self):
        line = self.gse('a.gse', [wavecodec.Waveform(header(), [1, 2, 3])])
        wid2, rest = line.split(b'\n', 1)
        tried = 0
        for name, first, last, kind, _, _ in fields.WID2_TABLE:
            if kind != 'float' or name == 'second':
                continue
            for text in self.extremes(last - first + 1):
                value = float(text)
                if name == 'sample_rate' and not value > 0:
                    continue
                read = wavecodec.read(wid2_with(wid2, name, text) + b'\n' + rest)[0]
                self.assertEqual(read.header[name], value, (name, text))
                written = wavecodec.read(self.gse('b.gse', [read]))[0]
                self.assertEqual(written.header[name], value, (name, text))
                tried += 1
        self.assertGreater(tried, 60)

    def test_sta2_field_extremes_round_trip(self):
        for name, first, last, kind, _ in fields.STA2_TABLE:
            if kind != 'float':
                continue
            for text in self.extremes(last - first + 1):
                line = bytearray(b'STA2' + b' ' * 56)
                line[first - 1:last] = text.rjust(last - first + 1).encode('ascii')
                sta2 = block.read_line('STA2', bytes(line))
                self.assertEqual((sta2[0][name], sta2[1]), (float(text), None), text)
                wave = wavecodec.Waveform(header(), [1], sta2=sta2[0])
                back = wavecodec.read(self.gse('s.gse', [wave]))[0].sta2
                self.assertEqual(back[name], float(text), (name, text))

    def test_remembered_texts_keep_each_value_its_own(self):
        # Texts of numbers are remembered between waveforms: a value equal to a remembered
        # one but of another type or sign is judged and printed on its own.
        for first, then in ((1, True), (1.0, True), (2, 2.0)):
            columns.fit_number('WID2', 'calibration', first, 10, '%10.4e')
            if isinstance(then, bool):
                with self.assertRaises(wavecodec.FormatError):
                    columns.fit_number('WID2', 'calibration', then, 10, '%10.4e')
            else:
                self.assertEqual(columns.fit_number('WID2', 'calibration', then, 10, '%10.4e'),
                                 '2.0000e+00')
        lines = self.gse('z.gse', [wavecodec.Waveform(header(horizontal_angle=angle), [1])
                                   for angle in (0.0, -0.0, 0.0, -0.0)]).split(b'\n')
        angles = [wid2[95:100] for wid2 in lines if wid2.startswith(b'WID2')]
        self.assertEqual(angles, [b'  0.0', b' -0.0', b'  0.0', b' -0.0'])

    def test_values_the_usual_format_cannot_hold(self):
        for name, value in (('calibration', -0.5), ('calibration', -0.25),
                            ('calibration_period', 1234.57), ('vertical_angle', 180.0),
                            ('horizontal_angle', -180.0), ('sample_rate', 1e-7),
                            ('sample_rate', 12345678.5)):
            data = self.gse('v.gse', [wavecodec.Waveform(header(**{name: value}), [1])])
            self.assertEqual(len(data.split(b'\n')[0]), 105)
            self.assertEqual(wavecodec.read(data)[0].header[name], value, name)
        # The usual format where it holds the value: the line the library prints.
        self.assertIn(b' 1.0000e+00 ', self.gse('u.gse', [wavecodec.Waveform(header(), [1])]))


class LineEnds(TempDirCase):
    def test_cr_lf_and_crlf_alike(self):
        waves = [wavecodec.Waveform(header(channel=c), seismogram(300, seed=k)) for k, c in
                 enumerate(('BHZ', 'BHN'))]
        for fmt in ('CM6', 'INT'):
            data = self.gse('l.gse', waves, message_id='L1', data_format=fmt)
            for end in (b'\r', b'\r\n'):
                got = wavecodec.read(data.replace(b'\n', end))
                self.assertEqual([list(w.samples) for w in got],
                                 [list(w.samples) for w in waves], (fmt, end))
                self.assertEqual(got[1].message['msg_id'], 'L1')
            # A fault is still named by its line.
            bad = data.replace(b'CHK2 ', b'CHK2 1', 1)
            self.assertEqual(wavecodec.read(bad.replace(b'\n', b'\r'), strict=False)[0].error,
                             wavecodec.read(bad, strict=False)[0].error)


class Inputs(TempDirCase):
    def test_what_a_reader_is_given(self):
        data = self.gse('a.gse', [wavecodec.Waveform(header(), seismogram(100))])
        # Text is not a name.
        with self.assertRaises(TypeError) as caught:
            wavecodec.read(data.decode('ascii'))
        self.assertIn('not a file name', str(caught.exception))
        self.assertLess(len(str(caught.exception)), 200)
        # gzip data, known by its magic number, from a path, bytes or a file object.
        packed = io.BytesIO()
        with gzip.GzipFile(fileobj=packed, mode='wb') as f:
            f.write(data)
        path = self.write_bytes('a.gse.gz', packed.getvalue())
        for source in (path, packed.getvalue(), open(path, 'rb')):
            self.assertEqual(list(wavecodec.read(source)[0].samples), seismogram(100))
        status, out, err = run_cli(['info', path])
        self.assertEqual((status, err), (0, ''))
        self.assertIn('ABC', out)
        self.assertRaises(wavecodec.FormatError, wavecodec.read, packed.getvalue()[:30])
        # Text fields that could not be written back are faults when read.
        foreign = data.replace(b'ABC  ', b'\xc5BC  ', 1)
        with self.assertRaises(wavecodec.FormatError) as caught:
            wavecodec.read(foreign)
        self.assertIn('station', str(caught.exception))
        self.assertFalse(wavecodec.read(foreign, strict=False)[0].ok)

    def test_headers_only_counts_the_section_cannot_hold(self):
        data = self.gse('c.gse', [wavecodec.Waveform(header(), [1, 2, 3])] * 2)
        lying = data.replace(b'       3 ', b'10000000 ', 1)
        with self.assertRaises(wavecodec.FormatError) as caught:
            wavecodec.read(lying, headers_only=True)
        self.assertIn('10000000 samples', str(caught.exception))
        got = wavecodec.read(lying, headers_only=True, strict=False)
        self.assertEqual([w.ok for w in got], [False, True])
        self.assertEqual(len(wavecodec.read(data, headers_only=True)), 2)


class Writes(TempDirCase):
    def test_refused_writes(self):
        wave = wavecodec.Waveform(header(), [1, 2, 3])
        for bad in ('A\nB', 'A\tB', 'A\rB'):
            self.assertRaises(wavecodec.FormatError, wavecodec.write, self.path('m.gse'),
                              [wave], message_id=bad)
        with self.assertRaises(wavecodec.FormatError) as caught:
            wavecodec.write(self.path('e.gse'), [])
        self.assertIn('no waveforms', str(caught.exception))
        self.assertEqual(self.leftovers(), [])
        # One exception, whose traceback holds no second one.
        try:
            wavecodec.write(self.path('x.gse'), [wavecodec.Waveform(header(station='TOOLONG'),
                                                                    [1])])
        except wavecodec.FormatError:
            text = ''.join(traceback.format_exception(*sys.exc_info()))
        self.assertEqual(text.count('Traceback'), 1, text)
        self.assertIn('waveform 1', text)
        self.assertIn('station', text)
        # An output that cannot be made: one OS error naming it.
        target = self.path('missing/x.gse')
        try:
            wavecodec.write(target, [wave])
        except EnvironmentError as e:
            self.assertEqual(e.filename, target)
            text = ''.join(traceback.format_exception(*sys.exc_info()))
        self.assertEqual(text.count('Traceback'), 1, text)


if __name__ == '__main__':
    unittest.main()
