"""Files of other writers laid out in the less common ways: extended text header counts whatever
the revision bytes say, open-ended counts that lie, lengths that vary or contradict, SU byte
order, revision 2.1's additional trace headers, and intervals that are not intervals."""
import io
import struct

from .helpers import TempDirCase
from . import segy_model as m
from wavecodec import segy
from wavecodec.errors import FormatError


def with_field(raw, byte, item, value, endian='big'):
    """`raw` with one binary header field (its standard byte number) replaced."""
    at = byte - 1
    return raw[:at] + struct.pack(m.ORDER[endian] + item, value) + raw[at + struct.calcsize(item):]


def ints(n, k):
    return [k * 1000 + j for j in range(n)]


class ExtendedTextCounts(TempDirCase):
    def records(self, n):
        return [m.text_header(['C 1 EXTENDED RECORD %d' % k]) for k in range(1, n + 1)]

    def test_count_honoured_whatever_the_revision_bytes(self):
        data = [ints(6, k) for k in range(3)]
        for revision in ((0, 0), (0, 2), (0, 1), (1, 0), (2, 0)):
            raw = m.segy_file('big', 2, data, revision=revision, extended_text=self.records(2))
            with segy.open(self.write_bytes('e.sgy', raw)) as f:
                self.assertEqual(len(f), 3, revision)
                self.assertEqual([list(t) for t in f.traces()], data)
                self.assertEqual([t[:80].rstrip() for t in f.extended_text_headers],
                                 ['C 1 EXTENDED RECORD 1', 'C 1 EXTENDED RECORD 2'])
                if revision[0] == 0:
                    self.assertTrue(any('extended_text_headers' in n or 'integer' in n
                                        for n in f.notes), f.notes)
        # Revision bytes 0x0002: revision 2 written as an integer.
        raw = m.segy_file('big', 2, data, revision=(0, 2), extended_text=self.records(1))
        with segy.open(self.write_bytes('r.sgy', raw)) as f:
            self.assertEqual(f.revision, 2)

    def test_revision_0_count_over_binary_data_ignored_and_said(self):
        # Bytes 3505-3506 are unassigned in revision 0: a stray count over trace data.
        data = [[0x41100000 + k] * 900 for k in range(4)]
        raw = m.segy_file('big', 1, data, revision=(0, 0))
        raw = with_field(raw, 3505, 'h', 1)
        with segy.open(self.write_bytes('s.sgy', raw)) as f:
            self.assertEqual((len(f), f.extended_text_headers), (4, []))
            self.assertIn('not text; ignored', ' '.join(f.notes))

    def test_open_ended_count_in_every_revision(self):
        data = [ints(5, k) for k in range(2)]
        ends = self.records(2) + [m.text_header(['((SEG: EndText))'])]
        for revision in ((0, 0), (1, 0), (2, 0)):
            raw = with_field(m.segy_file('big', 2, data, revision=revision, extended_text=ends),
                             3505, 'h', -1)
            with segy.open(self.write_bytes('o.sgy', raw)) as f:
                self.assertEqual(len(f.extended_text_headers), 3, revision)
                self.assertEqual([list(t) for t in f.traces()], data)

    def test_lying_open_ended_count_refused_at_once(self):
        # 2 GB of zeros (a sparse file) after headers that announce records up to an end stanza
        # which never comes: refused at the first record that is not text.
        head = m.segy_file('big', 1, [[0] * 10], revision=(1, 0))[:3600]
        path = self.write_bytes('lie.sgy', with_field(head, 3505, 'h', -1))
        with open(path, 'r+b') as f:
            f.truncate(2 * 1024 ** 3)
        with self.assertRaises(FormatError) as e:
            segy.open(path)
        self.assertIn("'extended_text_headers' (bytes 3505-3506) is -1", str(e.exception))
        self.assertIn('record 1 after the binary header (offset 3600) is not text',
                      str(e.exception))
        # Text without end: at most MAX_OPEN_TEXT_HEADERS records are read.
        limit = segy.reader.MAX_OPEN_TEXT_HEADERS
        blank = m.text_header([])
        raw = with_field(head, 3505, 'h', -1) + blank * (limit + 1) + b'\0' * 280
        with self.assertRaises(FormatError) as e:
            segy.open(io.BytesIO(raw))
        self.assertIn('%d records came without one' % limit, str(e.exception))


class TraceLengths(TempDirCase):
    LENGTHS = [100, 90, 110, 100, 100, 95, 100]

    def test_every_header_decides_when_lengths_may_vary(self):
        # First, middle and last say 100: a probe of three headers would see one length.
        data = [ints(n, k) for k, n in enumerate(self.LENGTHS)]
        for endian in ('big', 'little'):
            raw = m.segy_file(endian, 2, data, fixed=0)
            with segy.open(self.write_bytes('v.sgy', raw)) as f:
                self.assertTrue(f.varying)
                self.assertEqual([f.sample_count(i) for i in range(len(f))], self.LENGTHS)
                self.assertEqual([list(t) for t in f.traces()], data)
                self.assertEqual([f.header(i)['offset'] for i in range(len(f))],
                                 [100 * i - 50 for i in range(len(f))])
            su = b''.join(m.trace_header(endian, k, len(v)) + m.sample_bytes(5, v, endian)
                          for k, v in enumerate(data))
            with segy.open_su(self.write_bytes('v.su', su)) as f:
                self.assertEqual((f.endian, [list(t) for t in f.traces()]),
                                 (endian, [[float(x) for x in v] for v in data]))

    def test_fixed_length_file_whose_headers_disagree_reads_at_the_binary_length(self):
        # The file's size fits the binary header's length exactly: it decides, and the trace
        # headers that say otherwise are counted in the notes (they were refused before).
        data = [ints(100, k) for k in range(5)]
        raw = bytearray(m.segy_file('big', 2, data, fixed=1))
        for k in (1, 2):
            struct.pack_into('>H', raw, 3600 + k * (240 + 400) + 114, 90)
        path = self.write_bytes('c.sgy', bytes(raw))
        with segy.open(path) as f:
            self.assertEqual([list(t) for t in f.traces()], data)
            self.assertEqual(list(f.trace(1)), data[1])
            self.assertEqual(list(f.attribute('offset')), [100 * i - 50 for i in range(5)])
            self.assertIn('2 of 5 trace headers give another sample count than the binary '
                          "header's 100 (the first: trace 1, 90)", ' '.join(f.notes))


class SeismicUnixOrder(TempDirCase):
    def test_order_from_every_reading(self):
        for endian in ('big', 'little'):
            for n in (256, 512, 1, 3):
                data = [[float(j + k) for j in range(n)] for k in range(3)]
                su = b''.join(m.trace_header(endian, k, n, 250) + m.sample_bytes(5, v, endian)
                              for k, v in enumerate(data))
                with segy.open_su(self.write_bytes('o.su', su)) as f:
                    self.assertEqual(f.endian, endian, (endian, n))
                    self.assertEqual([list(t) for t in f.traces()], data)


class AdditionalTraceHeaders(TempDirCase):
    def extension1(self, endian, k, own=0):
        raw = bytearray(240)
        o = m.ORDER[endian]
        struct.pack_into(o + 'Q', raw, 0, 10 ** 10 + k)            # bytes 1-8
        struct.pack_into(o + 'd', raw, 96, 1234567.25 + k)          # source_x, bytes 97-104
        struct.pack_into(o + 'I', raw, 136, 6)                      # sample_count, 137-140
        struct.pack_into(o + 'H', raw, 156, own)                    # bytes 157-158
        raw[232:240] = b'SEG00001'
        return bytes(raw)

    def file(self, endian, traces, extra=2, owns=None):
        parts = [m.text_header(['C 1 REV 2.1']),
                 m.binary_header(endian, 5, 6, revision=(2, 1),
                                 extra=((3297, 'I', 0x01020304), (3507, 'H', extra)))]
        for k in range(traces):
            own = owns[k] if owns else 0
            parts.append(m.trace_header(endian, k, 6, offset=7 * k))
            parts.append(self.extension1(endian, k, own))
            for j in range(1, (own or extra)):
                parts.append(bytes(bytearray([0x30 + j] * 240)))
            parts.append(m.sample_bytes(5, [float(k + j) for j in range(6)], endian))
        return b''.join(parts)

    def test_samples_and_every_header_read(self):
        for endian in ('big', 'little'):
            with segy.open(self.write_bytes('x.sgy', self.file(endian, 4))) as f:
                self.assertEqual((len(f), f.additional_trace_headers), (4, 2))
                self.assertEqual([list(t) for t in f.traces()],
                                 [[float(k + j) for j in range(6)] for k in range(4)])
                self.assertEqual(list(f.trace(3)), [3.0, 4.0, 5.0, 6.0, 7.0, 8.0])
                self.assertEqual(f.header(2)['offset'], 14)
                e = f.header(2, extension=1)
                self.assertEqual((e['trace_sequence_line'], e['source_x'], e['sample_count']),
                                 (10 ** 10 + 2, 1234569.25, 6))
                self.assertEqual(f.header(2, extension=1, raw=True)[232:], b'SEG00001')
                self.assertEqual(f.header(1, extension=2, raw=True), b'\x31' * 240)
                self.assertRaises(ValueError, f.header, 1, extension=2)
                self.assertRaises(IndexError, f.header, 1, extension=3)
                self.assertEqual(len(f.raw_trace(0)[0]), 720)

    def test_own_count_of_each_trace(self):
        with segy.open(self.write_bytes('y.sgy', self.file('big', 3, 3, [3, 1, 2]))) as f:
            self.assertEqual([list(t)[0] for t in f.traces()], [0.0, 1.0, 2.0])
            self.assertRaises(IndexError, f.header, 1, extension=2)
            self.assertEqual(f.header(2, extension=2, raw=True), b'\x31' * 240)
        with self.assertRaises(FormatError) as e:
            segy.open(io.BytesIO(self.file('big', 2, 1, [2, 1])))
        self.assertIn("'additional_trace_headers' (bytes 157-158) is 2", str(e.exception))
        with self.assertRaises(FormatError) as e:
            segy.open(io.BytesIO(with_field(self.file('big', 1), 3507, 'H', 1001)))
        self.assertIn("'additional_trace_headers' (bytes 3507-3508) is 1001", str(e.exception))


class Intervals(TempDirCase):
    def test_extended_interval_used_or_stated_fallback(self):
        for value, expect in ((250.5, 250.5), (float('inf'), 0), (float('nan'), 0),
                              (-4000.0, 0), (1e300, 0)):
            raw = m.segy_file('big', 5, [[1.0, 2.0]], revision=(2, 0), interval=0,
                              extra=((3273, 'd', value),))
            with segy.open(io.BytesIO(raw)) as f:
                self.assertEqual(f.sample_interval, expect, value)
                if not expect:
                    self.assertIn('extended_sample_interval', ' '.join(f.notes))
