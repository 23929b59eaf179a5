"""What the miniSEED conversion refuses or reports rather than losing: damaged records (cut
short, wrong record length, corrupt Steim frames, a wrong integration constant, float samples),
start times finer than GSE2's milliseconds, rates and codes the records cannot hold, Steim
differences out of range; and how records are merged into waveforms."""
import struct
from array import array

from .helpers import TempDirCase, signal
from .mseed_helpers import (libmseed_read, libmseed_write, needs_library, needs_tool, stream,
                            wave)
import wavecodec
from wavecodec import FormatError, mseed
from wavecodec.compat import PY2
from wavecodec.mseed import codes, shim
from wavecodec.mseed.writer import to_records


def records(waves, **options):
    """The miniSEED bytes of `waves` (512-byte records unless given)."""
    options.setdefault('record_length', 512)
    return bytes(to_records(waves, **options).data)


@needs_library
class DamagedRecords(TempDirCase):
    def setUp(self):
        TempDirCase.setUp(self)
        self.good = records([wave(signal(3000))])
        self.assertGreater(len(self.good), 4 * 512)

    def refused(self, data, row, *texts):
        path = self.write_bytes('bad.mseed', bytes(data))
        with self.assertRaises(FormatError) as caught:
            mseed.read(path)
        message = str(caught.exception)
        self.assertTrue(message.startswith(path + ': '), (row, message))
        for text in texts:
            self.assertIn(text, message, row)
        return message

    def test_damage_named(self):
        good, n = self.good, len(self.good)
        # The reverse integration constant of record 2: third word of its first frame (its
        # data at byte 64).
        last = struct.unpack('>i', good[512 + 72:512 + 76])[0]
        # (row, change of the good records, texts of the refusal)
        for row, change, texts in (
                ('cut short', lambda d: d[:-100], ['record %d (byte %d)' % (n // 512, n - 512),
                                                   'cut short: 412 bytes are left']),
                ('less than a header', lambda d: d[:20],
                 ['record 1 (byte 0)', 'less than a record header']),
                # Blockette 1000 (at byte 48) gives the record length's power of two at 54.
                ('claims more', lambda d: _set(d, 54, b'\x0c'), [
                    'record 1 (byte 0)',
                    'a record header at byte 512 inside the record of 4096 bytes']),
                ('claims less', lambda d: _set(d, 512 + 54, b'\x08'),
                 ['record 2 (byte 512)', 'cannot decode it']),
                ('integration constant',
                 lambda d: _set(d, 512 + 72, struct.pack('>i', last + 1)),
                 ['record 2 (byte 512)', 'integration constant',
                  'the last sample decodes as %d, the frame gives %d' % (last, last + 1)]),
                ('garbage', lambda d: b'not miniSEED at all\n' * 20,
                 ['record 1 (byte 0)', 'not a miniSEED data record']),
                ('zeros after', lambda d: d + b'\0' * 600, ['record %d' % (n // 512 + 1)]),
                ('empty', lambda d: b'', ['no samples: the input is empty'])):
            message = self.refused(change(good), row)
            for text in texts:
                self.assertIn(text, message, row)
        # Every word of the second record's frames changed, one at a time: each is found.
        for word in range(16, 128, 7):
            at = 512 + 4 * word
            self.refused(_set(good, at, struct.pack(
                '>I', struct.unpack('>I', good[at:at + 4])[0] ^ 0x00400010)),
                'word %d' % word, 'record 2 (byte 512)')

    def test_lookalike_header_and_float_samples_read(self):
        # Samples that look like a record header at byte 256 of a genuine record are data.
        offset = struct.unpack('>H', records([wave([0])], encoding='int32')[44:46])[0]
        lookalike = list(struct.unpack('>12i', self.good[:48]))
        before = (256 - offset) // 4
        samples = list(range(before)) + lookalike + list(range((512 - offset) // 4 - before - 12))
        genuine = records([wave(samples)], encoding='int32')
        self.assertEqual(genuine[256:304], self.good[:48])
        self.assertEqual(list(mseed.read(genuine)[0].samples), samples)
        # Blockette 1000's encoding float32: a channel GSE2 cannot hold, listed apart.
        other = mseed.read(_set(records([wave(signal(50))], encoding='int32'), 52, b'\x04')
                           ).report.other
        self.assertEqual([(c.kind, len(c.samples), c.record) for c in other],
                         [('float32', 50, 1)])

    def test_records_without_samples_are_passed_over(self):
        data = bytearray(records([wave(signal(300), sample_rate=1.0)], record_length=256))
        unpacker = shim.Unpacker(bytes(data))
        counts = [len(unpacker.unpack(at)[2]) for at in range(0, len(data), 256)]
        self.assertGreaterEqual(len(counts), 3)
        # The sample count of the fixed header (bytes 30-31) set to zero in the second record:
        # its data are then a fault; without data it is a record without samples, passed over
        # (the records after it follow a gap).
        data[256 + 30:256 + 32] = b'\0\0'
        self.refused(data, 'no samples, data', 'record 2 (byte 256): the header gives no '
                     'samples, but the data area holds data')
        data[256 + 64:512] = b'\0' * 192
        self.assertEqual([len(w.samples) for w in mseed.read(bytes(data))],
                         [counts[0], sum(counts[2:])])
        self.refused(data[256:512], 'none with samples', 'no samples: no record holds any')

    def test_every_cut_and_changed_byte(self):
        """No change of one byte and no cut crashes: each gives an error naming a record, or
        as many samples as before, nearly always the original ones."""
        data = records([wave(signal(400))], record_length=256)
        def values(waves):
            # Samples of waveforms, and of channels listed apart (a rate changed to 0).
            return sorted([v for w in waves for v in w.samples] +
                          [v for c in waves.report.other for v in c.samples])

        original = values(mseed.read(data))
        for cut in range(0, len(data), 7):
            with self.assertRaises(FormatError):
                mseed.read(data[:cut])
        kept = altered = 0
        for at in range(len(data)):
            for value in (0, 0x5A, 0xFF):
                changed = bytearray(data)
                if changed[at] == value:
                    continue
                changed[at] = value
                try:
                    waves = mseed.read(bytes(changed))
                except FormatError as e:
                    self.assertIn('record ', str(e))
                    continue
                # A changed code or time may regroup the records; the count never changes.
                back = values(waves)
                self.assertEqual(len(back), len(original), (at, value))
                if back == original:
                    kept += 1
                else:
                    altered += 1
        # Header and padding changes that harm nothing are read. Steim frames carry no
        # checksum: a change that moves two neighbouring differences by opposite amounts keeps
        # the integration constant and goes unseen; it must stay rare (1 of 3072 here).
        self.assertGreater(kept, 0)
        self.assertLess(altered * 100, len(data) * 3)


@needs_library
class Exactness(TempDirCase):
    def test_start_with_a_fraction_of_a_millisecond(self):
        start = 1700000000123000
        data, _ = shim.pack(stream(start + 500), array('i', range(100)))
        with self.assertRaises(FormatError) as caught:
            mseed.read(data)
        self.assertIn('<bytes>: record 1 (byte 0, XX.ABC..HHZ): the start '
                      '2023-11-14T22:13:20.123500 has a fraction of a millisecond',
                      str(caught.exception))
        back = mseed.read(data, round_time=True)[0]
        self.assertEqual((back.rounded_time, codes.to_microseconds(back.start)),
                         (-500, start + 1000))
        exact, _ = shim.pack(stream(start), array('i', range(100)))
        self.assertEqual(mseed.read(exact)[0].rounded_time, 0)

    def test_time_fields_default_as_in_gse2(self):
        # A header without hour, minute and second means midnight, as the GSE2 writer takes it.
        w = wavecodec.Waveform(dict(station='ABC', channel='HHZ', year=2024, month=2, day=29,
                                    sample_rate=1.0), [1, 2], sta2={'network': 'XX'})
        back = mseed.read(records([w]))[0]
        wavecodec.write(self.path('w.gse'), [w])
        self.assertEqual(back.start, wavecodec.read(self.path('w.gse'))[0].start)
        self.assertEqual((back.header['hour'], back.header['second']), (0, 0.0))
        # The last millisecond of a year is exact in the records.
        w = wave(signal(10), second=59.999, minute=59, hour=23, day=31, month=12, year=2023)
        record = shim.Unpacker(records([w])).unpack(0)[1]
        self.assertEqual(record.stream.start, codes.to_microseconds(w.start))
        self.assertEqual(record.stream.start % 1000, 0)

    def test_rates_codes_and_steim_ranges(self):
        for rate, blockette in ((100.0, False), (0.025, False), (12.5, False),
                                (0.123457, True), (40000.0, False)):
            self.assertEqual(shim.rate_fields(rate)[0], not blockette, rate)
            back = mseed.read(records([wave(signal(2000), sample_rate=rate)]))[0]
            self.assertEqual(back.sample_rate, rate)
            record = shim.Unpacker(records([wave(signal(10), sample_rate=rate)])).unpack(0)[1]
            self.assertEqual(record.blockette100_rate != 0, blockette, rate)
        good = wave(signal(10), station='ABCDE', channel='HHZ', network='AB')
        back = mseed.read(records([good], location='00', quality='Q'))[0]
        self.assertEqual((back.station, back.channel, back.sta2['network'], back.location,
                          back.quality), ('ABCDE', 'HHZ', 'AB', '00', 'Q'))
        # The first sample has no difference to check.
        big = [1 << 30, (1 << 30) + 5, (1 << 30) + 5 + (1 << 29) - 1]
        self.assertEqual(mseed.read(records([wave(big)]))[0].samples, array('i', big))
        text = self.gse('a.gse', [wave(signal(50))])
        checksum = text[text.index(b'CHK2'):].split()[1]
        unchecked = wavecodec.read(text.replace(b'CHK2 ' + checksum.rjust(8),
                                                b'CHK2 ' + b'1'.rjust(8)), strict=False)
        self.assertEqual(mseed.read(records(unchecked, allow_errors=True))[0].samples,
                         unchecked[0].samples)
        at = 'waveform 1 (ABC BHZ 2024/03/05 06:07:08.500'
        # (row, waveforms, options of the writer, texts of the refusal)
        for row, waves, options, texts in (
                ('inexact rate', [wave(signal(10), sample_rate=1234.567891)], {},
                 ['sample rate 1234.567891 cannot be written exactly', at]),
                ('negative rate', [wave(signal(10), sample_rate=-1.0)], {}, ['above 0', at]),
                ('station', [wave(signal(10), station='ABCDEF')], {},
                 ["station code 'ABCDEF' is longer than the 5"]),
                ('channel', [wave(signal(10), channel='HHZZ')], {},
                 ["channel code 'HHZZ' is longer than the 3"]),
                ('network of STA2', [wave(signal(10), network='XYZ')], {},
                 ["network code 'XYZ' is longer than the 2"]),
                ('network given', [wave(signal(10))], dict(network='XYZ'),
                 ["network code 'XYZ' is longer than the 2"]),
                ('location', [wave(signal(10))], dict(location='ABC'),
                 ["location code 'ABC' is longer than the 2"]),
                ('network blank', [wave(signal(10))], dict(network='A '),
                 ["network code 'A ' holds characters"]),
                ('no network', [wave(signal(10), network=None)], {}, ['no network code']),
                ('steim2 up', [wave([0, 1 << 29])], {}, [at + '): sample 2 ']),
                ('steim2 down', [wave([5, 5, 5 - (1 << 29) - 1])], {}, [at + '): sample 3 ']),
                ('steim1', [wave([-(1 << 31), 1])], dict(encoding='steim1'),
                 [at + '): sample 2 ']),
                ('no samples', [wave(signal(5)), wave([])], {},
                 ['waveform 2 (ABC BHZ 2024/03/05 06:07:08.500) has no samples']),
                ('checksum', unchecked, {}, ['checksum mismatch'])):
            with self.assertRaises(FormatError) as caught:
                records(waves, **options)
            for text in texts:
                self.assertIn(text, str(caught.exception), row)


@needs_library
class Merging(TempDirCase):
    def test_contiguous_gaps_overlaps_and_channels(self):
        first = wave(signal(1000), channel='HHZ', sample_rate=100.0)
        def later(seconds, channel='HHZ', sample_rate=100.0):
            return wave(signal(500, seed=4), channel=channel, second=8.5 + seconds,
                        sample_rate=sample_rate)

        other = records([wave(signal(700, seed=6), channel='HHN')])
        cases = ((later(10.0), [1500]),                      # contiguous: one waveform
                 (later(10.01), [1000, 500]),                # a gap of one sample
                 (later(9.99), [1000, 500]),                 # an overlap of one sample
                 (later(10.0, sample_rate=50.0), [1000, 500]),  # another rate
                 (later(10.0, channel='HHE'), [1000, 500]))  # another channel
        for second, counts in cases:
            data = records([first]) + other + records([second])
            waves = mseed.read(data)
            self.assertEqual([len(w.samples) for w in waves if w.channel != 'HHN'], counts,
                             second.header)
            self.assertEqual(waves[0].samples[:1000], first.samples)
            self.assertEqual([len(w.samples) for w in waves if w.channel == 'HHN'], [700])


def _set(data, at, raw):
    data = bytearray(data)
    data[at:at + len(raw)] = raw
    return bytes(data)


# Damage done to a file of 512-byte Steim-2 records that libmseed wrote: (what, change,
# the record named when read strictly, text of the refusal). Read leniently, the package skips
# the damaged record as libmseed does and gives libmseed's samples.
DAMAGE = (
    ('blockette 1001 first, pointing back', lambda d: _set(d, 3 * 512 + 48, b'\x03\xe9\0\x28'),
     4, 'the blockette chain is broken (libmseed: Error: Invalid blockette offset (40)'),
    ('header count beyond the frames', lambda d: _set(d, 4 * 512 + 30, b'\x7f\xff'),
     5, 'libmseed cannot decode it'),
    ('data offset past the record', lambda d: _set(d, 2 * 512 + 44, b'\x03\x00'),
     3, 'data offset 768 lies outside the record of 512 bytes'),
    ('junk between records', lambda d: d[:5 * 512] + b'\x17' * 384 + d[5 * 512:],
     6, 'not a miniSEED data record'),
    ('last record cut short', lambda d: d[:10 * 512 - 100], 10,
     'the record of 512 bytes is cut short'),
)


@needs_tool
class LibmseedDamage(TempDirCase):
    def test_damaged_records_refused_or_skipped_as_libmseed_skips_them(self):
        samples = signal(2200)
        path = libmseed_write(self.dir, 'good.mseed', samples, 'steim2', 1, 512)
        with open(path, 'rb') as f:
            good = f.read()
        self.assertGreater(len(good), 10 * 512)
        for what, change, record, text in DAMAGE:
            bad = self.write_bytes('bad.mseed', change(good))
            with self.assertRaises(FormatError) as caught:
                mseed.read(bad)
            message = str(caught.exception)
            self.assertTrue(message.startswith('%s: record %d (byte ' % (bad, record)),
                            (what, message))
            self.assertIn(text, message, what)
            self.assertLessEqual(message.count('libmseed:'), 1, what)
            waves = mseed.read(bad, lenient=True)
            self.assertEqual([r[1] for r in waves.report.damaged], [record], what)
            traces = libmseed_read(self.dir, [bad])
            self.assertEqual([w.samples for w in waves], [t.samples for t in traces], what)
            self.assertEqual([codes.to_microseconds(w.start) for w in waves],
                             [t.start for t in traces], what)

    def test_what_is_read_apart(self):
        samples = signal(1000)
        path = libmseed_write(self.dir, 'good.mseed', samples, 'steim2', 1, 512)
        with open(path, 'rb') as f:
            good = f.read()
        # A record whose header gives neither samples nor a data offset: passed over, counted.
        empty = bytearray(good[:512])
        empty[30:32] = empty[44:46] = b'\0\0'
        empty[64:] = b'\0' * 448
        waves = mseed.read(good[:1024] + bytes(empty) + good[1024:])
        self.assertEqual(waves.report.empty_count(), 1)
        self.assertEqual(waves.report.no_offset, 1)
        self.assertEqual(waves.report.empty[0][1:3], (3, 1024))
        self.assertEqual([w.samples.tolist() for w in waves], [samples])
        # Codes beyond ASCII: two stations kept apart, as libmseed keeps them.
        first = libmseed_write(self.dir, 'e9.mseed', samples[:500], 'steim2', 1, 512,
                               codes=(b'XX', b'AB\xe9', b'', b'HHZ'))
        later = libmseed_write(self.dir, 'e8.mseed', samples[500:], 'steim2', 1, 512,
                               start=1700000005000000, codes=(b'XX', b'AB\xe8', b'', b'HHZ'))
        waves = mseed.read([first, later])
        self.assertEqual([w.station for w in waves], [u'AB\xe9', u'AB\xe8'] if not PY2
                         else ['AB\xe9', 'AB\xe8'])
        self.assertEqual(len(libmseed_read(self.dir, [first, later])), 2)
        # A miniSEED 3 file is named as such, even when read leniently.
        three = self.write_bytes('three.mseed', b'MS\x03' + b'\0' * 200)
        for lenient in (False, True):
            with self.assertRaises(FormatError) as caught:
                mseed.read(three, lenient=lenient)
            self.assertIn('%s: a miniSEED 3 file' % three, str(caught.exception))
