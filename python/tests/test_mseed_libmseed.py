"""The package against libmseed itself (through the test tool mseed_tool.c) and Debian's
mseed2sac, on files libmseed wrote with every encoding, both byte orders, record lengths 128 to
65536 and the rates data centres use; and libmseed reading what the package writes."""
import itertools
import random

from .helpers import TempDirCase, signal
from .mseed_helpers import (libmseed_read, libmseed_write, mseed2sac_read, needs_tool,
                            strip_blockette1000, wave)
from wavecodec import mseed
from wavecodec.mseed import codes, records

RATES = (100.0, 1000.0 / 3, 16000.0, 40000.0, 1e-5, 0.123457, 7000.0, 2.5e-5)
LENGTHS = tuple(1 << k for k in range(7, 17))
INTEGER_ENCODINGS = ('int16', 'int32', 'steim1', 'steim2')


def small_signal(n, seed=7):
    """Samples that int16 holds and SAC's floats hold exactly."""
    return [max(-32768, min(32767, v)) for v in signal(n, seed)]


def same_rate(a, b):
    return abs(a - b) <= 1e-6 * b


@needs_tool
class LibmseedFiles(TempDirCase):
    """Files libmseed wrote, read by the package as libmseed reads them."""

    def compare(self, path, what, sac=True):
        traces = sorted(libmseed_read(self.dir, [path]), key=lambda t: (t.key, t.start))
        waves = sorted(mseed.read(path, round_time=True),
                       key=lambda w: (codes.to_microseconds(w.start) + w.rounded_time))
        self.assertEqual(len(waves), len(traces), what)
        # Read in small pieces, every record across pieces: the same waveforms.
        records.BLOCK, block = 700, records.BLOCK
        try:
            pieces = sorted(mseed.read(path, round_time=True),
                            key=lambda w: (codes.to_microseconds(w.start) + w.rounded_time))
        finally:
            records.BLOCK = block
        self.assertEqual([(w.start, w.samples) for w in pieces],
                         [(w.start, w.samples) for w in waves], what)
        for w, t in zip(waves, traces):
            start = codes.to_microseconds(w.start) + w.rounded_time
            self.assertEqual(((w.sta2 or {}).get('network'), w.station, w.location, w.channel),
                             t.key, what)
            self.assertEqual(start, t.start, what)
            self.assertTrue(same_rate(w.sample_rate, t.rate), (what, w.sample_rate, t.rate))
            self.assertEqual(w.samples, t.samples, what)
        if not sac:
            return waves
        by_sac = mseed2sac_read(self.dir, path)
        if by_sac is not None:
            found = sorted((when, samples) for runs in by_sac.values()
                           for when, delta, samples in runs)
            mine = sorted((codes.from_microseconds(codes.to_microseconds(w.start) +
                                                   w.rounded_time), [float(v) for v in w.samples])
                          for w in waves)
            self.assertEqual(len(found), len(mine), what)
            for (when, samples), (start, values) in zip(found, mine):
                self.assertLess(abs((when - start).total_seconds()), 2e-6, what)
                self.assertEqual(list(samples), values, what)
        return waves

    def test_every_encoding_byte_order_length_and_rate(self):
        combos = itertools.product(INTEGER_ENCODINGS, (1, 0), LENGTHS)
        for i, (encoding, order, length) in enumerate(combos):
            rate = RATES[i % len(RATES)]
            samples = small_signal(length // 2 + 3 * i + 40, seed=i)
            what = '%s, %s-endian, %d bytes, %r Hz' % (encoding, 'big' if order else 'little',
                                                       length, rate)
            path = libmseed_write(self.dir, 'f%d.mseed' % i, samples, encoding, order, length,
                                  rate, start=1700000000123000 + 100 * i)
            waves = self.compare(path, what, sac=i % 3 == 0)
            self.assertEqual(sum(len(w.samples) for w in waves), len(samples), what)
            if encoding == 'steim1' and 256 <= length <= 4096:
                # Without blockette 1000, as old data centres wrote: Steim-1, the length from
                # the next header (the last from the end of the file), the data in the
                # header's byte order.
                with open(path, 'rb') as f:
                    self.write_bytes('nob.mseed', strip_blockette1000(f.read(), length))
                waves = self.compare(self.path('nob.mseed'), what + ', no blockette 1000',
                                     sac=False)
                self.assertEqual(set(w.record_length for w in waves), set([length]), what)

    def test_float_double_and_text_channels(self):
        floats = [v / 7.0 for v in small_signal(900)]
        for encoding, samples, length in (('float32', floats, 512), ('float64', floats, 4096),
                                          ('text', b'log line one\nlog line two\n' * 40, 256)):
            path = libmseed_write(self.dir, encoding + '.mseed', samples, encoding, 0, length,
                                  rate=0.0 if encoding == 'text' else 40.0)
            traces = libmseed_read(self.dir, [path])
            report = mseed.read(path).report
            # libmseed makes a trace of each text record; the package joins a channel's text.
            self.assertEqual(set((c.kind, c.key) for c in report.other),
                             set((encoding, t.key) for t in traces), encoding)
            self.assertEqual(len(report.other), 1, encoding)
            got = report.other[0].samples
            if encoding == 'text':
                self.assertEqual(bytes(got), b''.join(bytes(t.samples) for t in traces))
            else:
                self.assertEqual(list(got), [v for t in traces for v in t.samples], encoding)


@needs_tool
class LibmseedReadsOurs(TempDirCase):
    """What the package writes, read by libmseed and mseed2sac."""

    def test_record_counts_fit_and_high_rates_are_one_trace(self):
        quiet = [i % 3 - 1 for i in range(300000)]
        busy = small_signal(40000)
        # The last column: the rate read back, when the records hold another than the one
        # given (GSE2's six decimals of 1000/3 Hz are written as 1000/3 Hz).
        for samples, rate, length, encoding, back_rate in (
                (quiet, 100.0, 65536, 'steim2', None),
                (busy, 100.0, 65536, 'steim2', None),
                (busy, 16000.0, 512, 'steim2', None),
                (busy, 7000.0, 4096, 'steim1', None),
                (busy[:3000], 1000.0 / 3, 256, 'int32', None),
                (busy[:3000], 333.333333, 512, 'steim2', 1000.0 / 3),
                (busy[:3000], 40000.0, 128, 'steim2', None),
                (busy[:200], 1e-5, 1024, 'steim2', None),
                (busy[:500], 0.123457, 512, 'steim2', None)):
            what = '%d samples, %r Hz, %d bytes, %s' % (len(samples), rate, length, encoding)
            w = wave(samples, sample_rate=rate, second=8.125)
            path = self.path('ours.mseed')
            mseed.write(path, [w], record_length=length, encoding=encoding)
            traces = libmseed_read(self.dir, [path])
            self.assertEqual(len(traces), 1, what)
            self.assertEqual(traces[0].samples.tolist(), samples, what)
            self.assertEqual(traces[0].start, codes.to_microseconds(w.start), what)
            self.assertTrue(same_rate(traces[0].rate, rate), what)
            back = mseed.read(path)
            self.assertEqual([x.samples.tolist() for x in back], [samples], what)
            self.assertEqual(back[0].sample_rate, back_rate or rate, what)

    def test_records_joined_out_of_order_and_across_files(self):
        samples = small_signal(6000)
        path = libmseed_write(self.dir, 'whole.mseed', samples, 'steim2', 1, 512, 100.0)
        with open(path, 'rb') as f:
            data = f.read()
        records = [data[i:i + 512] for i in range(0, len(data), 512)]
        shuffled = records[:]
        random.Random(5).shuffle(shuffled)
        half = len(records) // 2
        cases = (('shuffled', [b''.join(shuffled)]),
                 ('second half first, in two files', [b''.join(records[half:]),
                                                      b''.join(records[:half])]),
                 ('a record missing and one twice', [b''.join(records[:5] + records[6:] +
                                                             records[9:10])]))
        for what, parts in cases:
            paths = [self.write_bytes('%s%d.mseed' % (what[:3], k), part)
                     for k, part in enumerate(parts)]
            traces = libmseed_read(self.dir, paths)
            waves = mseed.read(paths)
            self.assertEqual([(codes.to_microseconds(w.start), w.samples) for w in waves],
                             [(t.start, t.samples) for t in traces], what)
            gaps = waves.report.gaps
            self.assertEqual(len(gaps), len(traces) - 1, what)
