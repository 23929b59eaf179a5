"""The data model: exact times and values, STA2, messages, numpy views."""
import ctypes
import datetime
import unittest

from .helpers import TempDirCase, header, signal, wavecodec
from . import cdecls
from wavecodec.gse2 import complete, fields, wid2

try:
    import numpy
except ImportError:  # numpy is optional
    numpy = None


class TimeAndValues(TempDirCase):
    def test_values_as_written(self):
        w = wavecodec.Waveform(header(second=12.345, sample_rate=1234.567891,
                                      calibration=0.1234, calibration_period=0.3), [1, 2, 3])
        data = self.gse('v.gse', [w])
        back = wavecodec.read(data)[0]
        # The line's own text, never a single-precision value.
        self.assertEqual(back.header['second'], 12.345)
        self.assertEqual(back.header['sample_rate'], 1234.567891)
        self.assertEqual(back.sample_rate, 1234.567891)
        self.assertEqual(back.header['calibration'], 0.1234)
        self.assertEqual(back.start, datetime.datetime(2024, 3, 5, 6, 7, 12, 345000))
        self.assertEqual(back.delta, 1 / 1234.567891)
        self.assertEqual(back.end, back.start + datetime.timedelta(seconds=2 / 1234.567891))
        self.assertEqual(wavecodec.Waveform(header(), []).end, None)

    def test_start_written_from_a_datetime(self):
        when = datetime.datetime(2023, 12, 31, 23, 59, 59, 999600)
        h = dict(station='ABC', channel='BHZ', sample_rate=20.0, start=when)
        for w in (wavecodec.Waveform(h, [5]),
                  wavecodec.Waveform(dict(h, start=None), [5], start=when)):
            line = self.gse('s.gse', [w]).split(b'\n')[0]
            # 59.9996 s rounds to 60.000: carried into the next minute, hour, day and year.
            self.assertEqual(line[5:28], b'2024/01/01 00:00:00.000')
        w = wavecodec.Waveform(header(), [1])
        w.start = datetime.datetime(2001, 2, 3, 4, 5, 6, 789000)
        self.assertEqual((w.header['year'], w.header['second']), (2001, 6.789))
        back = wavecodec.read(self.gse('t.gse', [w]))[0]
        self.assertEqual(back.start, datetime.datetime(2001, 2, 3, 4, 5, 6, 789000))

    def test_seconds_carry_from_separate_fields(self):
        w = wavecodec.Waveform(header(year=2024, month=2, day=29, hour=23, minute=59,
                                      second=59.9996), [1])
        self.assertEqual(self.gse('c.gse', [w])[5:28], b'2024/03/01 00:00:00.000')

    def test_header_keys_kept(self):
        back = wavecodec.read(self.gse('k.gse', [wavecodec.Waveform(header(), [1])]))[0]
        self.assertEqual(sorted(back.header), sorted(fields.FIELDS))

    @unittest.skipIf(numpy is None, 'numpy is not installed')
    def test_to_numpy_shares_the_samples(self):
        w = wavecodec.read(self.gse('n.gse', [wavecodec.Waveform(header(), signal(100))]))[0]
        a = w.to_numpy()
        self.assertEqual(a.dtype, numpy.int32)
        self.assertEqual(a.tolist(), list(w.samples))
        w.samples[0] = 12345
        self.assertEqual(a[0], 12345)


STA2_ALIGNED = b'STA2 IU         34.94591 -106.45723 WGS-84       1.850 0.100'
STA2_SHIFTED = b'STA2 XX       12.34567  123.45678 WGS-84    0.123 0.000'


class Stations(TempDirCase):
    def read_with(self, line):
        data = self.gse('a.gse', [wavecodec.Waveform(header(), [1, 2])])
        return wavecodec.read(data.replace(b'\nDAT2', b'\n' + line + b'\nDAT2'))[0].sta2

    def test_sta2_read_by_columns_or_words(self):
        self.assertEqual(self.read_with(STA2_ALIGNED), dict(
            network='IU', latitude=34.94591, longitude=-106.45723, coordinate_system='WGS-84',
            elevation=1.85, emplacement_depth=0.1))
        self.assertEqual(self.read_with(STA2_SHIFTED), dict(
            network='XX', latitude=12.34567, longitude=123.45678, coordinate_system='WGS-84',
            elevation=0.123, emplacement_depth=0.0))
        partial = self.read_with(b'STA2 GE')
        self.assertEqual(partial['network'], 'GE')
        self.assertEqual(partial['latitude'], None)
        data = self.gse('b.gse', [wavecodec.Waveform(header(), [1])])
        self.assertEqual(wavecodec.read(data)[0].sta2, None)

    def test_sta2_written_back(self):
        sta2 = dict(network='IU', latitude=34.94591, longitude=-106.45723,
                    coordinate_system='WGS-84', elevation=-0.4, emplacement_depth=0.1)
        data = self.gse('s.gse', [wavecodec.Waveform(header(), [1], sta2=sta2)])
        lines = data.split(b'\n')
        self.assertTrue(lines[1].startswith(b'STA2 IU         34.94591 -106.45723 WGS-84'))
        self.assertEqual(lines[2], b'DAT2')
        self.assertEqual(wavecodec.read(data)[0].sta2, sta2)
        for bad, field in ((dict(latitude=float('nan')), 'latitude'),
                           (dict(network='TOOLONGNETWORK'), 'network'),
                           (dict(elevation=-1e300), 'elevation'), (dict(lat=1.0), 'lat')):
            with self.assertRaises(wavecodec.FormatError) as cm:
                wavecodec.write(self.path('x.gse'), [wavecodec.Waveform(header(), [1],
                                                                        sta2=bad)])
            self.assertIn(field, str(cm.exception))


class Messages(TempDirCase):
    def test_message_written_and_read(self):
        waves = [wavecodec.Waveform(header(channel=c), signal(50)) for c in ('BHZ', 'BHN')]
        data = self.gse('m.gse', waves, message_id='ABC123 XDC')
        lines = data.split(b'\n')
        self.assertEqual(lines[:4], [b'BEGIN GSE2.1', b'MSG_TYPE DATA', b'MSG_ID ABC123 XDC',
                                     b'DATA_TYPE WAVEFORM GSE2.1'])
        self.assertEqual(lines[-2:], [b'STOP', b''])
        back = wavecodec.read(data)
        self.assertEqual([list(w.samples) for w in back], [list(w.samples) for w in waves])
        self.assertEqual(back[0].message, dict(version='GSE2.1', msg_type='DATA',
                                               msg_id='ABC123 XDC', ref_id=None,
                                               data_type='WAVEFORM GSE2.1'))
        self.assertEqual(wavecodec.read(self.gse('p.gse', waves))[0].message, None)
        for bad in ('', 'has three words', 'x' * 21, u'caf\xe9'):
            with self.assertRaises(wavecodec.FormatError):
                wavecodec.write(self.path('q.gse'), waves, message_id=bad)

    def test_other_lines_passed_over(self):
        body = self.gse('b.gse', [wavecodec.Waveform(header(), [7, 8, 9])])
        data = (b'BEGIN IMS1.0\nMSG_TYPE DATA\nMSG_ID 7 ORIGIN\nREF_ID 6\n(a comment)\n'
                b'DATA_TYPE WAVEFORM IMS1.0:CM6\nOUT2 2024/03/05 06:00:00.000 ABC BHZ 60\n'
                b'DLY2 0.5\nEID2 12345 IDC_SEL3\nBEA2 ABC 12.0 5.0\n' + body +
                b'(another comment)\nSTOP\n')
        back = wavecodec.read(data)
        self.assertEqual(len(back), 1)
        self.assertEqual(list(back[0].samples), [7, 8, 9])
        self.assertEqual(back[0].message['ref_id'], '6')
        self.assertEqual(back[0].message['version'], 'IMS1.0')


class Wid2LineMatchesTheLibrary(TempDirCase):
    def test_python_line_equals_write_header(self):
        """The writer prints WID2 in Python; for values a float holds exactly it is the line
        the library's write_header prints."""
        lib, libc = cdecls.wavecodec(), cdecls.stdio()
        cases = [header(), header(station='XY', channel='Z', aux_id='AUX1', second=59.5,
                                  sample_rate=0.25, calibration=1024.0,
                                  calibration_period=2.5, instrument_type='STS-2',
                                  horizontal_angle=359.5, vertical_angle=90.0)]
        for h in cases:
            full = complete.complete(h)
            record = cdecls.Wid2Header()
            for name, _, _, kind, _, _ in fields.WID2_TABLE:
                value = {'sample_count': 1234, 'data_format': 'CM6'}.get(name, full.get(name))
                setattr(record, name, value.encode('ascii') if kind == 'text' else value)
            path = self.path('c.txt').encode('utf-8')
            stream = libc.fopen(path, b'w')
            lib.write_header(stream, ctypes.byref(record))
            libc.fclose(stream)
            self.assertEqual(self.read_bytes('c.txt'), wid2.format_wid2(full, 1234, 'CM6'))
