"""GSE2 -> miniSEED -> GSE2 round trips: byte-identical for files whose fields the records
hold, at every encoding and record length, with sample counts that fill records exactly and
not, and values at the CM6 and Steim limits; the bundled example's samples, times, rates and
codes; the records read by Debian's mseed2sac, an independent reader."""
import datetime
import os

from .helpers import INT32_MAX, INT32_MIN, TempDirCase, run, signal
from .mseed_helpers import (find_program, gse2_bytes, limit_signal, needs_library, sac, wave,
                            STEIM2_HIGH)
import wavecodec
from wavecodec import mseed
from wavecodec.mseed import shim
from wavecodec.mseed.codes import float32
from wavecodec.mseed.writer import to_records

EXAMPLE = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), 'examples', 'event.gse')
ENCODINGS = ('steim1', 'steim2', 'int32')
LENGTHS = (512, 1024, 2048, 4096, 8192)


def record_counts(data):
    """The sample count of every record, read record by record."""
    unpacker = shim.Unpacker(data)
    counts, offset = [], 0
    while offset < len(data):
        length, record, samples = unpacker.unpack(offset)
        counts.append(len(samples))
        offset += length
    return counts


def test_samples(n):
    """The limit signal, then a seismogram-like signal continuing from its last value."""
    head = limit_signal()
    return (head + [head[-1] + v for v in signal(max(0, n - len(head)))])[:n]


@needs_library
class GSE2RoundTrips(TempDirCase):
    def round_trip(self, gse, data_format='CM6', **options):
        """(GSE2 bytes after the round trip, the records)."""
        packed = to_records(wavecodec.read(gse), **options)
        back = mseed.read(packed.data)
        return gse2_bytes(back, data_format=data_format), packed.data

    def test_generated_files_byte_identical(self):
        long_run = test_samples(12000)
        for encoding in ENCODINGS:
            for length in LENGTHS:
                what = '%s, %d-byte records' % (encoding, length)
                gse = gse2_bytes([wave(long_run)])
                back, data = self.round_trip(gse, encoding=encoding, record_length=length)
                self.assertEqual(back, gse, what)
                counts = record_counts(data)
                self.assertGreater(len(counts), 2, what)
                # The first two records' samples fill exactly two records; one more sample
                # starts a third; fewer than one record's worth leaves one record part full.
                exact = counts[0] + counts[1]
                for n, records in ((exact, [counts[0], counts[1]]),
                                   (exact + 1, [counts[0], counts[1], 1]),
                                   (counts[0] - 1, [counts[0] - 1])):
                    gse = gse2_bytes([wave(long_run[:n])])
                    back, data = self.round_trip(gse, encoding=encoding, record_length=length)
                    self.assertEqual(back, gse, '%s, %d samples' % (what, n))
                    self.assertEqual(record_counts(data), records, '%s, %d samples' % (what, n))
                    self.assertEqual(len(data), length * len(records))

    def test_several_waveforms_rates_and_times(self):
        waves = [wave(signal(700), channel='HHZ', second=0.001),
                 wave(signal(300, seed=3), channel='HHN', sample_rate=0.025, hour=23,
                      minute=59, second=59.999),
                 wave(signal(500, seed=5), station='STA12', channel='LH1', network='AB',
                      sample_rate=12.5, year=1999, month=12, day=31),
                 # Blockette 100: the factor and multiplier cannot hold this rate.
                 wave(signal(900, seed=9), channel='HHE', sample_rate=0.123457)]
        gse = gse2_bytes(waves)
        for encoding in ENCODINGS:
            back, _ = self.round_trip(gse, encoding=encoding, record_length=512)
            self.assertEqual(back, gse, encoding)
        again = mseed.read(to_records(wavecodec.read(gse), record_length=512).data)
        self.assertEqual([w.sample_rate for w in again], [40.0, 0.025, 12.5, 0.123457])
        self.assertEqual([w.start for w in again], [w.start for w in waves])

    def test_int_file_with_int32_extremes(self):
        samples = [0, INT32_MAX, INT32_MIN, INT32_MAX, -1, INT32_MIN, 1]
        gse = gse2_bytes([wave(samples)], data_format='INT')
        back, _ = self.round_trip(gse, 'INT', encoding='int32', record_length=256)
        self.assertEqual(back, gse)
        with self.assertRaises(wavecodec.FormatError) as caught:
            self.round_trip(gse, 'INT', encoding='steim1')
        self.assertIn('sample 3 (-2147483648) differs from the one before (2147483647)',
                      str(caught.exception))
        self.assertIn('waveform 1 (ABC BHZ 2024/03/05 06:07:08.500)', str(caught.exception))

    def test_bundled_example_keeps_samples_times_rates_and_codes(self):
        original = wavecodec.read(EXAMPLE)
        back = mseed.read(to_records(original, network='XX').data)
        self.assertEqual(len(back), len(original))
        for a, b in zip(original, back):
            self.assertEqual((a.station, a.channel, a.start, a.sample_rate, a.samples),
                             (b.station, b.channel, b.start, b.sample_rate, b.samples))
            self.assertEqual(b.sta2['network'], 'XX')
            # What the records do not carry comes back as GSE2's defaults.
            self.assertEqual((b.header['calibration'], b.header['instrument_type'],
                              b.header['horizontal_angle']), (1.0, '', -1.0))
        self.assertNotEqual(a.header['calibration'], b.header['calibration'])


@needs_library
class IndependentReader(TempDirCase):
    """Debian's mseed2sac reads the records written here with the same samples, times and
    rates (SAC holds float32 samples: the values stay within 2**24, where they are exact)."""

    def setUp(self):
        TempDirCase.setUp(self)
        self.program = find_program('mseed2sac')
        if self.program is None:
            self.skipTest('mseed2sac is not installed (Debian package mseed2sac; '
                          'scripts/setup.sh test)')

    def converted(self, waves, **options):
        mseed.write(self.path('in.mseed'), waves, **options)
        status, out, err = run([self.program, '-f', '3', 'in.mseed'], cwd=self.dir,
                                  timeout=120)
        self.assertEqual(status, 0, err)
        return dict((name.split('.')[3], sac(self.path(name)))
                    for name in os.listdir(self.dir) if name.endswith('.SAC'))

    def test_same_samples_times_and_rates(self):
        waves = [wave([v // 100 for v in signal(5000)], channel='HHZ', second=8.123),
                 wave(signal(3000, seed=2), channel='HHN', sample_rate=0.025),
                 wave(signal(2000, seed=3), channel='HHE', sample_rate=0.123457)]
        for encoding in ENCODINGS:
            files = self.converted(waves, encoding=encoding, record_length=512)
            self.assertEqual(sorted(files), ['HHE', 'HHN', 'HHZ'], encoding)
            for w in waves:
                start, delta, samples = files[w.channel]
                self.assertEqual(list(samples), list(w.samples), (encoding, w.channel))
                year, day, hour, minute, second, millisecond, b = start
                when = datetime.datetime(year, 1, 1, hour, minute, second) + \
                    datetime.timedelta(days=day - 1, milliseconds=millisecond, seconds=b)
                self.assertEqual(when, w.start, (encoding, w.channel))
                self.assertAlmostEqual(delta, 1.0 / w.sample_rate, delta=1e-6 / w.sample_rate)

    def test_steim2_limits(self):
        # Differences of exactly the Steim-2 limits. SAC rounds 536870911 to float32.
        values = [0, STEIM2_HIGH, 0, -STEIM2_HIGH - 1, -1]
        files = self.converted([wave(values, network='XX')], encoding='steim2')
        self.assertEqual(list(files['BHZ'][2]), [float32(v) for v in values])
