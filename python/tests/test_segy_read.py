"""Reading SEG-Y and SU files assembled byte by byte: every sample format in both byte orders
against the struct and IBM models, header fields at their standard bytes, text encodings,
layouts (extended text headers, varying lengths, truncation, trailers) and SU."""
import io
import math
import struct
import sys

from .helpers import TempDirCase
from . import segy_model as m
from wavecodec import segy
from wavecodec.errors import FormatError


def same(a, b):
    """Equal sample lists, floats compared bit for bit (so -0.0 and NaN count too)."""
    if len(a) != len(b):
        return False
    for x, y in zip(a, b):
        if isinstance(x, float) or isinstance(y, float):
            if struct.pack('<d', x) != struct.pack('<d', y):
                return False
        elif x != y:
            return False
    return True


class Unseekable(io.RawIOBase):
    def __init__(self, data):
        self.inner = io.BytesIO(data)

    def readable(self):
        return True

    def seekable(self):
        return False

    def readinto(self, b):
        data = self.inner.read(len(b))
        b[:len(data)] = data
        return len(data)


class SampleFormats(TempDirCase):
    def check(self, fmt, endian, n=97, traces=3):
        rng = m.rng(fmt * 10 + len(endian))
        data = [m.random_samples(fmt, n, rng) for _ in range(traces)]
        if fmt == 1:
            data[0][:len(data[0])] = m.random_samples(1, n, m.rng(0))  # the special words
        path = self.write_bytes('f%d%s.sgy' % (fmt, endian), m.segy_file(endian, fmt, data))
        with segy.open(path) as f:
            self.assertEqual((f.endian, f.format, len(f), f.samples_per_trace),
                             (endian, fmt, traces, n))
            for i, values in enumerate(data):
                want = m.expected(fmt, values)
                self.assertTrue(same(list(f.trace(i)), want), (fmt, endian, i))
            streamed = [list(t) for t in f.traces()]
            self.assertEqual(len(streamed), traces)
            for values, got in zip(data, streamed):
                self.assertTrue(same(got, m.expected(fmt, values)), (fmt, endian))

    def test_every_format_both_byte_orders(self):
        for fmt in sorted(m.SIZES):
            if fmt in (9, 12) and fmt not in segy.FORMATS:
                continue
            for endian in ('big', 'little'):
                self.check(fmt, endian)

    def test_ibm_is_exact_at_the_edges(self):
        words = [0x41100000, 0xc2640000, 0x00100000, 0x21ffffff, 0x22000001, 0x60ffffff,
                 0x61100000, 0x7fffffff, 0x80000000, 0x3f000001]
        path = self.write_bytes('edges.sgy', m.segy_file('big', 1, [words]))
        with segy.open(path) as f:
            got = list(f.trace(0))
        self.assertEqual(got[:2], [1.0, -100.0])
        self.assertTrue(same(got, [m.to_float32(m.ibm_value(w)) for w in words]))
        self.assertEqual(got[7], float('inf'))
        self.assertEqual(math.copysign(1, got[8]), -1.0)

    def test_block_edges_of_the_fast_road(self):
        # More traces than one block of traces() holds, and a start and stop inside blocks.
        n = 300
        count = segy.reader.CHUNK_BYTES // (240 + 4 * n) * 2 + 5
        data = [[(i * 1000 + j) for j in range(n)] for i in range(count)]
        path = self.write_bytes('many.sgy', m.segy_file('little', 2, data))
        with segy.open(path) as f:
            self.assertEqual([list(t) for t in f.traces()], data)
            self.assertEqual([list(t) for t in f.traces(count // 2 - 3, count - 1)],
                             data[count // 2 - 3:count - 1])
            self.assertEqual(list(f.traces(5, 5)), [])
            self.assertEqual(list(f.trace(-1)), data[-1])
            self.assertRaises(IndexError, f.trace, count)


class Headers(TempDirCase):
    def test_binary_and_trace_fields_at_their_bytes(self):
        for endian in ('big', 'little'):
            data = [[1, 2, 3]] * 4
            extra = ((3297, 'I', 0x01020304), (3229, 'h', -2), (3513, 'Q', 0))
            path = self.write_bytes('h.sgy', m.segy_file(endian, 2, data, extra=extra,
                                                         revision=(2, 0)))
            with segy.open(path) as f:
                b = f.binary_header
                self.assertEqual((b['job_id'], b['traces_per_ensemble'], b['sample_interval'],
                                  b['samples_per_trace'], b['format'], b['measurement_system'],
                                  b['trace_sorting'], b['revision_major'], b['byte_order']),
                                 (4711, 24, 4000, 3, 2, 1, -2, 2, 0x01020304))
                self.assertEqual(f.endian, endian)
                h = f.header(2)
                self.assertEqual((h['trace_sequence_line'], h['offset'], h['cdp_x'],
                                  h['sample_count'], h['sample_interval']),
                                 (3, 150, -14, 3, 4000))
                raw = f.header(2, raw=True)
                self.assertEqual(raw, m.trace_header(endian, 2, 3, 4000, 150, -14))
                self.assertEqual([h['offset'] for h in f.headers()], [-50, 50, 150, 250])

    def test_field_tables_are_sound(self):
        for table, first, size in ((segy.BINARY_FIELDS, 3201, 400), (segy.TRACE_FIELDS, 1, 240)):
            end = first
            names = set()
            for name, start, width, kind in table:
                self.assertGreaterEqual(start, end, name)      # in order, no overlap
                self.assertIn(width, (1, 2, 4, 8))
                self.assertLessEqual(start + width, first + size)
                self.assertNotIn(name, names)
                names.add(name)
                end = start + width
        fields = dict((f[0], f[1:]) for f in segy.TRACE_FIELDS)
        self.assertEqual(fields['offset'], (37, 4, 'i'))
        self.assertEqual(fields['cdp_x'], (181, 4, 'i'))
        self.assertEqual(fields['sample_count'], (115, 2, 'u'))
        fields = dict((f[0], f[1:]) for f in segy.BINARY_FIELDS)
        self.assertEqual(fields['format'], (3225, 2, 'i'))
        self.assertEqual(fields['samples_per_trace'], (3221, 2, 'u'))


    def test_one_field_of_every_trace(self):
        data = [[1, 2, 3]] * 9
        for endian in ('big', 'little'):
            raw = m.segy_file(endian, 2, data)
            path = self.write_bytes('a.sgy', raw)
            for source in (path, io.BytesIO(raw)):
                with segy.open(source) as f:
                    self.assertEqual(list(f.attribute('offset')), [100 * i - 50 for i in range(9)])
                    self.assertEqual(list(f.attribute('cdp_x', 2, 5)), [-14, -21, -28])
                    self.assertEqual(list(f.attribute('sample_count', -2)), [3, 3])
                    self.assertEqual(list(f.attribute('offset', 5, 5)), [])
                    self.assertRaises(ValueError, f.attribute, 'ofset')
        varying = [[1] * (k % 3 + 1) for k in range(7)]
        with segy.open(io.BytesIO(m.segy_file('big', 3, varying, fixed=0))) as f:
            self.assertEqual(list(f.attribute('sample_count')), [len(t) for t in varying])


class TextHeaders(TempDirCase):
    LINES = ['C 1 CLIENT: TEST  LINE 7', 'C 2 HELLO (SEG-Y) 1234567890 $%&', 'C40 END']

    def test_ebcdic_and_ascii_detected(self):
        for encoding, name in (('cp037', 'ebcdic'), ('ascii', 'ascii')):
            raw = m.text_header(self.LINES, encoding)
            path = self.write_bytes('t.sgy', m.segy_file('big', 5, [[1.0]], text=raw))
            with segy.open(path) as f:
                self.assertEqual(f.encoding, name)
                self.assertEqual(f.raw_text_header, raw)
                self.assertEqual(f.text_header[:80].rstrip(), self.LINES[0])
                self.assertEqual(f.text_header[80:160].rstrip(), self.LINES[1])
                self.assertEqual(len(f.text_header), 3200)

    def test_extended_text_headers_counted_and_open_ended(self):
        ext = [m.text_header(['EXTENDED %d' % k]) for k in (1, 2)]
        path = self.write_bytes('e.sgy', m.segy_file('big', 5, [[1.0, 2.0]] * 2,
                                                     extended_text=ext))
        with segy.open(path) as f:
            self.assertEqual([t.rstrip() for t in f.extended_text_headers],
                             ['EXTENDED 1', 'EXTENDED 2'])
            self.assertEqual(list(f.trace(1)), [1.0, 2.0])
        # A count of -1: headers up to the one holding the end stanza.
        ends = [m.text_header(['MORE']), m.text_header(['((SEG: EndText))'])]
        raw = m.segy_file('big', 5, [[3.0]], extended_text=ends)
        raw = raw[:3504] + struct.pack('>h', -1) + raw[3506:]
        with segy.open(self.write_bytes('v.sgy', raw)) as f:
            self.assertEqual(len(f.extended_text_headers), 2)
            self.assertEqual(list(f.trace(0)), [3.0])


class Layouts(TempDirCase):
    def test_endian_guessed_and_overridden(self):
        data = [[1.5, -2.0]]
        little = m.segy_file('little', 5, data)
        with segy.open(self.write_bytes('l.sgy', little)) as f:
            self.assertEqual(f.endian, 'little')
            self.assertEqual(list(f.trace(0)), [1.5, -2.0])
        # The header says IBM; the samples are IEEE: both can be overridden.
        ieee = m.segy_file('big', 5, data)
        lying = ieee[:3224] + struct.pack('>h', 1) + ieee[3226:]
        with segy.open(self.write_bytes('x.sgy', lying), format='ieee') as f:
            self.assertEqual(list(f.trace(0)), [1.5, -2.0])
        with segy.open(self.write_bytes('x.sgy', lying), format=5, endian='big') as f:
            self.assertEqual(f.format, 5)
        self.assertRaises(ValueError, segy.open, self.path('x.sgy'), endian='middle')

    def test_varying_lengths_read_from_each_header(self):
        data = [[1, 2, 3], [4, 5, 6, 7, 8], [9], [10, 11]]
        path = self.write_bytes('v.sgy', m.segy_file('big', 3, data, fixed=0))
        with segy.open(path) as f:
            self.assertTrue(f.varying)
            self.assertEqual([f.sample_count(i) for i in range(4)], [3, 5, 1, 2])
            self.assertEqual([list(t) for t in f.traces()], data)
            self.assertEqual(list(f.trace(2)), [9])
        # Revision 0 has no such flag: the binary header's length comes first, but the size
        # fits only the trace headers' own counts, so they decide (stated).
        raw = m.segy_file('big', 3, data, fixed=0, revision=(0, 0))
        with segy.open(self.write_bytes('r0.sgy', raw)) as f:
            self.assertEqual([list(t) for t in f.traces()], data)
            self.assertIn("fits each trace header's own count", ' '.join(f.notes))

    def test_truncated_last_trace(self):
        raw = m.segy_file('big', 5, [[1.0] * 10] * 3)[:-7]
        path = self.write_bytes('cut.sgy', raw)
        with self.assertRaises(FormatError) as e:
            segy.open(path)
        self.assertIn('trace 2 (the last) is truncated: 273 of its 280 bytes', str(e.exception))
        with segy.open(path, strict=False) as f:
            self.assertEqual(len(f), 2)
            self.assertIn('trace 2', f.truncated)

    def test_revision_2_offset_and_trailers(self):
        data = [[1.0, 2.0], [3.0, 4.0]]
        body = m.segy_file('big', 5, data, revision=(2, 0))
        gap = b'\x00' * 3200
        trailer = m.text_header(['TRAILER'])
        start = 3600 + len(gap)
        raw = body[:3600] + gap + body[3600:] + trailer
        raw = (raw[:3520] + struct.pack('>Q', start) + struct.pack('>i', 1) + raw[3532:])
        with segy.open(self.write_bytes('r2.sgy', raw)) as f:
            self.assertEqual([list(t) for t in f.traces()], data)

    def test_file_objects(self):
        raw = m.segy_file('big', 2, [[5, 6], [7, 8]])
        with segy.open(io.BytesIO(raw)) as f:
            self.assertEqual(list(f.trace(1)), [7, 8])
        with segy.open(io.BufferedReader(Unseekable(raw))) as f:
            self.assertEqual([list(t) for t in f.traces()], [[5, 6], [7, 8]])


class SeismicUnix(TempDirCase):
    def su_bytes(self, endian, data):
        return b''.join(m.trace_header(endian, i, len(v), 500) + m.sample_bytes(5, v, endian)
                        for i, v in enumerate(data))

    def test_host_order_by_default_other_order_detected(self):
        data = [[0.5, 1.5, -3.0], [2.0, 4.0, 8.0]]
        other = 'big' if sys.byteorder == 'little' else 'little'
        for endian in (sys.byteorder, other):
            with segy.open_su(self.write_bytes('s.su', self.su_bytes(endian, data))) as f:
                self.assertEqual(f.endian, endian)
                self.assertEqual([list(t) for t in f.traces()], data)
                self.assertEqual(f.sample_interval, 500)
                self.assertEqual(f.header(1)['trace_sequence_line'], 2)

    def test_varying_lengths_and_round_trip(self):
        data = [[1.0], [2.0, 3.0, 4.0], [5.0, 6.0]]
        with segy.open_su(self.write_bytes('v.su', self.su_bytes('big', data))) as f:
            self.assertEqual([list(t) for t in f.traces()], data)
        self.assertEqual(segy.write_su(self.path('w.su'), data, 250,
                                       trace_headers=[{'offset': 9}] * 3), 3)
        head = bytearray(m.trace_header(sys.byteorder, 0, 1, 250, 9))
        head[4:8] = head[0:4]  # the sequence number in the file
        self.assertEqual(self.read_bytes('w.su')[:240 + 4],
                         bytes(head) + m.sample_bytes(5, [1.0], sys.byteorder))
        with segy.open_su(self.path('w.su')) as f:
            self.assertEqual([list(t) for t in f.traces()], data)

    def test_zero_sample_count_named(self):
        raw = self.su_bytes(sys.byteorder, [[1.0]])
        raw = raw[:114] + b'\0\0' + raw[116:]
        with self.assertRaises(FormatError) as e:
            segy.open_su(self.write_bytes('z.su', raw))
        self.assertIn("'sample_count' (bytes 115-116)", str(e.exception))
