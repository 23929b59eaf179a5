"""Runs of usual records read together give exactly what the line loop gives: the same
waveforms, header dicts (keys, order, value types), faults and messages, for clean files and
for files with one record spoiled in each of many ways."""
import pickle
import unittest

from .helpers import header, signal, wavecodec
from wavecodec.gse2 import reader
from wavecodec.gse2.writer import to_bytes


def state(wave):
    """Everything a reader sets on a waveform (the header forced: a run parses it on use)."""
    head = wave.header
    return (list(head.items()), [type(v) for v in head.values()], list(wave.samples), wave.sta2,
            wave.checksum, wave.computed_checksum, wave.error, wave.message, wave.headers_only,
            wave.offset, wave.npts, wave.eid2, wave.bea2, tuple(wave.block), tuple(wave.before),
            tuple(wave.after))


def outcome(data, **options):
    """The waveforms read (their states), or the fault raised (type and message)."""
    try:
        waves = wavecodec.read(data, **options)
    except Exception as e:  # the fault itself is what is compared
        return type(e).__name__, str(e)
    return [state(w) for w in waves]


def line_loop(data, **options):
    reader._Reader.bulk = False
    try:
        return outcome(data, **options)
    finally:
        reader._Reader.bulk = True


def base_file():
    """40 short waveforms (and one long): days past the 28th, a few STA2 lines, varied lengths;
    a message envelope around them."""
    waves = []
    for k in range(40):
        fields = header(channel='B%02d' % (k % 7), day=1 + k % 31, month=1 + k % 12,
                        minute=k % 60, second=k * 0.25, sample_rate=20.0 + k)
        sta2 = {'network': 'XX', 'latitude': 1.5, 'longitude': -2.25} if k % 5 == 0 else None
        if fields['month'] == 2 and fields['day'] > 29:
            fields['day'] = 29  # 2024 is a leap year
        if fields['day'] == 31 and fields['month'] in (4, 6, 9, 11):
            fields['day'] = 30
        # One section longer than the reader's scratch array.
        length = 5000 if k == 20 else 5 + 13 * k
        waves.append(wavecodec.Waveform(fields, signal(length, seed=k), sta2=sta2))
    body = to_bytes(waves)
    return b'BEGIN IMS1.0\nMSG_TYPE DATA\nMSG_ID 7 TEST\nDATA_TYPE WAVEFORM GSE2.0\n' + body + \
        b'STOP\n'


def records(data):
    """The positions of the WID2 lines."""
    out = []
    at = data.find(b'WID2 ')
    while at >= 0:
        out.append(at)
        at = data.find(b'\nWID2 ', at) + 1 or -1
    return out


def spoil_wid2(data, index, first, text):
    """Record `index`'s WID2 line with columns `first`.. (1-based) replaced by `text`."""
    at = records(data)[index] + first - 1
    return data[:at] + text + data[at + len(text):]


def in_record(data, index, old, new):
    """The first `old` in record `index` replaced by `new`."""
    at = data.index(old, records(data)[index])
    return data[:at] + new + data[at + len(old):]


class RunsReadAsLines(unittest.TestCase):
    MODES = ({}, {'headers_only': True}, {'strict': False},
             {'strict': False, 'headers_only': True}, {'strict': False, 'verify': False},
             {'channel': 'B0[13]', 'strict': False}, {'station': 'AB?', 'headers_only': True})

    def check(self, data, label):
        for options in self.MODES:
            self.assertEqual(outcome(data, **options), line_loop(data, **options),
                             '%s, %r' % (label, options))

    def test_clean_files(self):
        data = base_file()
        self.check(data, 'clean')
        self.check(data.replace(b'\n', b'\r\n'), 'CR LF')
        self.check(data[data.index(b'WID2'):data.index(b'STOP')], 'no envelope')
        self.check(data.replace(b'\nWID2', b'\n\nWID2'), 'blank line between records')
        self.check(data.replace(b'\nWID2', b'\n(comment)\nWID2'), 'comment between records')
        self.check(data.replace(b'STOP\n', b'(c)\nSTOP\n(outside)\n'), 'lines at the end')
        # The run was taken: the header of a clean record waits for its first use.
        first = wavecodec.read(data)[0]
        self.assertIn('_wid2', first.__dict__)

    def test_spoiled_headers(self):
        data = base_file()
        cases = [(6, b'0000'), (11, b'13'), (11, b'02'), (14, b'31'), (14, b'00'),
                 (17, b'24'), (20, b'60'), (23, b'60.000'), (23, b'59.9996'), (23, b' 1.5  '),
                 (30, b'AB\xe9'), (36, b'\x01HZ'), (45, b'INT'), (45, b'cm6'), (45, b'XYZ'),
                 (49, b'      -1'), (49, b'   1 000'), (49, b'99999999'), (49, b'        '),
                 (49, b'       0'), (58, b'   0.000000'), (58, b'        nan'),
                 (58, b'      1e309'), (58, b'       1_0'), (70, b'1.0000e+99'),
                 (70, b'  1.0e+400'), (70, b'    -0.5e1'), (81, b'   .125'), (96, b'-12.5'),
                 (102, b'90.0'), (102, b' 1e5'), (102, b'-1. '),
                 # Separator columns hold anything: the fields around them read alike.
                 (10, b'-'), (29, b'x'), (57, b'9'), (69, b'7'), (101, b'\x01')]
        for index in (0, 17, 39):
            for first, text in cases:
                self.check(spoil_wid2(data, index, first, text),
                           'record %d columns %d: %r' % (index, first, text))
        # A leap second, and a day only leap years have.
        leap = spoil_wid2(spoil_wid2(data, 3, 6, b'2016/12/31 23:59:60.500'), 4, 6, b'2023/02/29')
        self.check(leap, 'leap second, 29 February 2023')
        short = data.replace(b' -1.0 -1.0\n', b' -1.0 -1.\n', 1)
        self.check(short, 'a WID2 line one column short')
        self.check(data.replace(b' -1.0 -1.0\n', b' -1.0 -1.0 extra\n', 1), 'one long')
        self.check(data.replace(b'WID2 ', b'WID2\t', 1), 'tab after the keyword')

    def test_spoiled_sections(self):
        data = base_file()
        cases = [(b'\nCHK2 ', b'\nCHK2  1'), (b'\nCHK2 ', b'\nCHK1 '), (b'\nCHK2 ', b'\nCHK2\t'),
                 (b'\nCHK2 ', b'\nCHK2 x'), (b'\nCHK2 ', b'\nCOMMENT\nCHK2 '),
                 (b'\nCHK2 ', b'\nCHK2\nCHK2 '), (b'\nCHK2 ', b'\n\t\nCHK2 '),
                 (b'\nCHK2 ', b'\nWID2\nCHK2 '), (b'\nCHK2 ', b'\nWID2\r\nCHK2 '),
                 (b'\nCHK2 ', b'\nA\nCHK2 '), (b'\nCHK2 ', b'\n\nCHK2 '),
                 (b'\nCHK2 ', b'\n!\nCHK2 '), (b'\nCHK2 ', b'\n  \nCHK2 '),
                 (b'\nCHK2 ', b'\nSTOP\nCHK2 '), (b'DAT2\n', b'DAT2\nWID2A\n'),
                 (b'DAT2\n', b'DAT1\n'), (b'DAT2\n', b'DAT2 x\n'), (b'DAT2\n', b'DATA\n'),
                 (b'DAT2\n', b'STA2 XX 1 2\nDAT2\n'), (b'DAT2\n', b'STA2 XX abc\nDAT2\n'),
                 (b'DAT2\n', b'REMARK\nDAT2\n'), (b'DAT2\n', b''),
                 (b'DAT2\n', b'EID2 1 REB\nBEA2 B 1.5 2.5\nDAT2\n'),
                 (b'DAT2\n', b'BEA2 B x 2.5\nDAT2\n'), (b'\nCHK2 ', b'\nCHK2 0\n(c)\nCHK2 ')]
        for index in (0, 5, 20, 39):
            for old, new in cases:
                self.check(in_record(data, index, old, new),
                           'record %d: %r -> %r' % (index, old, new))
        # Code one character short or long, in the middle of the code.
        for index in (1, 30):
            at = data.index(b'DAT2\n', records(data)[index]) + 12
            self.check(data[:at] + data[at + 1:], 'record %d a character short' % index)
            self.check(data[:at] + b'0' + data[at:], 'record %d a character more' % index)
        body = data[:data.index(b'STOP')]
        self.check(body[:-1], 'the file ends without its last line feed')
        self.check(body[:body.rindex(b'CHK2')], 'the file ends without the last CHK2 line')

    def test_inputs(self):
        data = base_file()
        self.check(bytearray(data), 'bytearray')
        self.check(data.replace(b'\n', b'\r'), 'CR line ends')

    def test_header_waits_for_use(self):
        wave = wavecodec.read(base_file())[2]
        line = wave.__dict__['_wid2']
        self.assertEqual(wave.header, wavecodec.gse2.wid2.parse_wid2(line)[0])
        self.assertNotIn('_wid2', wave.__dict__)
        # A copy taken before the first use keeps the line and parses it alike.
        later = wavecodec.read(base_file())[2]
        copy = pickle.loads(pickle.dumps(later))
        self.assertEqual(copy.header, wave.header)
        later.header = {'station': 'NEW'}
        self.assertEqual(later.header, {'station': 'NEW'})
        self.assertEqual(later.station, 'NEW')
        bare = wavecodec.Waveform.__new__(wavecodec.Waveform)
        self.assertRaises(AttributeError, getattr, bare, 'header')


if __name__ == '__main__':
    unittest.main()
