"""Reading: line ends, long lines, checksum forms, faults and their messages, recovery."""
from .helpers import CapturedStdout, TempDirCase, header, signal, wavecodec


class Reading(TempDirCase):
    def setUp(self):
        TempDirCase.setUp(self)
        self.samples = [-5, -7] + signal(2000)
        self.waves = [wavecodec.Waveform(header(channel='BHZ'), self.samples),
                      wavecodec.Waveform(header(channel='BHN'), self.samples[:300])]

    def check_same(self, path):
        back = wavecodec.read(path)
        self.assertEqual([list(w.samples) for w in back], [list(w.samples) for w in self.waves])
        self.assertEqual([w.header['channel'] for w in back], ['BHZ', 'BHN'])
        return back

    def test_crlf_reads_like_lf(self):
        for fmt in ('CM6', 'INT'):
            data = self.gse('lf.gse', self.waves, data_format=fmt)
            lf = wavecodec.read(self.path('lf.gse'))
            crlf = self.check_same(self.write_bytes('crlf.gse', data.replace(b'\n', b'\r\n')))
            self.assertEqual([w.header for w in crlf], [w.header for w in lf])

    def test_over_long_code_lines_use_80_columns(self):
        data = self.gse('a.gse', self.waves)
        lines = data.split(b'\n')
        # Code characters past column 80 would change the samples if they were decoded.
        padded = [l + b'+A1' * 150 if 75 <= len(l) <= 80 and not l.startswith(b'WID2') else l
                  for l in lines]
        self.assertNotEqual(padded, lines)
        self.check_same(self.write_bytes('long.gse', b'\n'.join(padded)))

    def test_lines_between_header_and_data(self):
        data = self.gse('a.gse', self.waves)
        station = b'STA2 XX       12.34567  123.45678 WGS-84    0.123 0.000'
        data = data.replace(b'\nDAT2\n', b'\n' + station + b'\n\nDAT2\n')
        data = data.replace(b'\nCHK2', b'\n\n   \nCHK2')
        self.check_same(self.write_bytes('sta.gse', data))

    def test_checksum_signed_or_magnitude(self):
        w = [wavecodec.Waveform(header(), [-5, -7])]
        data = self.gse('a.gse', w)
        self.assertIn(b'CHK2      -12\n', data)
        for line, good in ((b'CHK2 12', True), (b'CHK2      -12', True), (b'CHK2 13', False),
                           (b'CHK2 -13', False), (b'CHK2 0', False)):
            path = self.write_bytes('c.gse', data.replace(b'CHK2      -12', line))
            if good:
                self.assertEqual(list(wavecodec.read(path)[0].samples), [-5, -7])
                continue
            with self.assertRaises(wavecodec.ChecksumError) as cm:
                wavecodec.read(path)
            message = str(cm.exception)
            for part in (path, 'ABC BHZ 2024/03/05 06:07:08.500', line[5:].decode(), '-12'):
                self.assertIn(part, message)
            self.assertEqual(wavecodec.read(path, verify=False)[0].checksum, int(line[5:]))

    def test_truncated_data(self):
        data = self.gse('a.gse', self.waves)
        cut = data.index(b'CHK2') // 2
        path = self.write_bytes('t.gse', data[:cut])
        with CapturedStdout() as out:
            with self.assertRaises(wavecodec.FormatError) as cm:
                wavecodec.read(path)
        self.assertIn('truncated', str(cm.exception))
        self.assertIn('2002 samples', str(cm.exception))
        # The decoder's diagnostics never reach standard output.
        self.assertEqual(out.text, '')
        # Cut just before the checksum line.
        path = self.write_bytes('t.gse', data[:data.index(b'CHK2')])
        with self.assertRaises(wavecodec.FormatError) as cm:
            wavecodec.read(path)
        self.assertIn('without the CHK2 line', str(cm.exception))

    def test_short_data_section(self):
        # Declares more samples than the data holds: the decoder meets the CHK2 line early.
        data = self.gse('a.gse', self.waves[:1])
        data = data.replace(b'CM6     2002', b'CM6     2100')
        path = self.write_bytes('s.gse', data)
        with CapturedStdout():
            with self.assertRaises(wavecodec.FormatError) as cm:
                wavecodec.read(path)
        self.assertIn('2100 samples declared, 2002 found', str(cm.exception))
        self.assertNotIsInstance(cm.exception, wavecodec.ChecksumError)

    def test_short_data_section_then_next_waveform(self):
        data = self.gse('a.gse', self.waves).replace(b'CM6     2002', b'CM6     2100')
        with CapturedStdout():
            back = wavecodec.read(self.write_bytes('s.gse', data), strict=False)
        self.assertIn('2100 samples declared, 2002 found', back[0].error)
        self.assertEqual(list(back[0].samples), self.samples)
        self.assertEqual(back[1].error, None)
        self.assertEqual(list(back[1].samples), self.samples[:300])

    def test_more_data_than_declared(self):
        for fmt in ('CM6', 'INT'):
            data = self.gse('a.gse', self.waves[:1], data_format=fmt)
            data = data.replace(b'     2002 ', b'     1000 ')
            with self.assertRaises(wavecodec.FormatError) as cm:
                wavecodec.read(self.write_bytes('m.gse', data))
            self.assertIn('more data than the 1000 samples', str(cm.exception))

    def test_checksum_line_missing_or_empty(self):
        data = self.gse('a.gse', self.waves)
        first = data.index(b'CHK2 ')
        end = data.index(b'\n', first)
        path = self.write_bytes('e.gse', data[:first] + b'CHK2' + data[end:])
        with self.assertRaises(wavecodec.FormatError) as cm:
            wavecodec.read(path)
        self.assertIn("the CHK2 line 'CHK2' holds no number", str(cm.exception))
        path = self.write_bytes('m.gse', data[:first] + data[end + 1:])
        back = wavecodec.read(path, strict=False)
        self.assertIn('no CHK2 line before the next WID2 line', back[0].error)
        self.assertEqual(back[1].error, None)

    def test_int_faults(self):
        data = self.gse('a.gse', self.waves[:1], data_format='INT')
        bad = data.replace(b'DAT2\n', b'DAT2\n  12  x3 ')
        with self.assertRaises(wavecodec.FormatError) as cm:
            wavecodec.read(self.write_bytes('b.gse', bad))
        self.assertIn("bad INT sample 'x3'", str(cm.exception))
        bad = data.replace(b'     2002 ', b'     3000 ')
        with self.assertRaises(wavecodec.FormatError) as cm:
            wavecodec.read(self.write_bytes('b.gse', bad))
        self.assertIn('3000 samples declared', str(cm.exception))

    def test_unsupported_sub_format(self):
        data = self.gse('a.gse', self.waves).replace(b' CM6 ', b' CM8 ', 1)
        with self.assertRaises(wavecodec.FormatError) as cm:
            wavecodec.read(self.write_bytes('u.gse', data))
        self.assertIn("unsupported sub-format 'CM8'", str(cm.exception))
        back = wavecodec.read(self.path('u.gse'), strict=False)
        self.assertIn('unsupported', back[0].error)
        self.assertEqual(list(back[1].samples), self.samples[:300])

    def test_not_gse(self):
        for content in (b'', b'hello\nworld\n', bytes(bytearray(range(256))) * 10):
            with self.assertRaises(wavecodec.FormatError) as cm:
                wavecodec.read(self.write_bytes('n.gse', content))
            self.assertIn('not a GSE2.0 file', str(cm.exception))
        with self.assertRaises(EnvironmentError):
            wavecodec.read(self.path('missing.gse'))

    def test_absurd_sample_count(self):
        data = self.gse('a.gse', self.waves[:1]).replace(b'     2002 ', b' 99999999 ')
        with self.assertRaises(wavecodec.FormatError) as cm:
            wavecodec.read(self.write_bytes('a.gse', data))
        self.assertIn('declares 99999999 samples', str(cm.exception))

    def test_missing_data_section(self):
        data = self.gse('a.gse', self.waves)
        first = data.index(b'DAT2')
        data = data[:first] + b'XAT2' + data[first + 4:]
        path = self.write_bytes('d.gse', data)
        with self.assertRaises(wavecodec.FormatError) as cm:
            wavecodec.read(path)
        self.assertIn('no DAT2 line', str(cm.exception))

    def test_keep_going_reports_every_fault(self):
        waves = self.waves + [wavecodec.Waveform(header(channel='BHE'), [1, 2, 3])]
        data = self.gse('a.gse', waves)
        # Spoil the first checksum and drop the second waveform's data section marker.
        first = data.index(b'CHK2 ')
        end = data.index(b'\n', first)
        data = data[:first] + b'CHK2 1' + data[end:]
        second = data.index(b'DAT2', first)
        data = data[:second] + b'XAT2' + data[second + 4:]
        back = wavecodec.read(self.write_bytes('k.gse', data), strict=False)
        self.assertEqual(len(back), 3)
        self.assertIn('checksum mismatch', back[0].error)
        self.assertIn('BHN', back[1].error)
        self.assertEqual(back[2].error, None)
        self.assertEqual(list(back[2].samples), [1, 2, 3])
        self.assertEqual(list(back[0].samples), self.samples)
