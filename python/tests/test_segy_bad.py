"""Bad input gives FormatError naming the field or trace, never another exception: random
bytes, every kind of truncation and seeded random mutations of the bundled example file."""
import io
import os
import random
import struct

from .helpers import PYTHON_DIR, TempDirCase
from . import segy_model as m
from wavecodec import segy
from wavecodec.errors import FormatError

EXAMPLE = os.path.join(os.path.dirname(PYTHON_DIR), 'examples', 'shot.sgy')


def read_everything(data, su=False, strict=True):
    """Opens `data` and touches every header and sample; the count of traces read."""
    opener = segy.open_su if su else segy.open
    with opener(io.BytesIO(data), strict=strict) as f:
        count = 0
        for values in f.traces():
            count += 1
            len(values)
        for i in range(len(f)):
            f.header(i)
            f.trace(i)
        f.text_header, f.binary_header
        return count


class BadInput(TempDirCase):
    def setUp(self):
        TempDirCase.setUp(self)
        with open(EXAMPLE, 'rb') as f:
            self.example = f.read()

    def fails(self, data, text, **options):
        with self.assertRaises(FormatError) as e:
            read_everything(data, **options)
        self.assertIn(text, str(e.exception))
        # The message names the file (a stream without a name is '<stream>').
        self.assertTrue(str(e.exception).startswith('<stream>: '), str(e.exception))

    def test_fields_named(self):
        good = m.segy_file('big', 1, [[0x41100000] * 4])
        # No length in the binary header nor in the trace header (before, the binary
        # header's 0 was refused even where the trace headers gave the length).
        self.fails(good[:3220] + b'\0\0' + good[3222:3714] + b'\0\0' + good[3716:],
                   "binary header field 'samples_per_trace' (bytes 3221-3222) is 0")
        for code in (0, 4, 13, 255):
            self.fails(good[:3224] + struct.pack('>h', code) + good[3226:],
                       "binary header field 'format' (bytes 3225-3226) %r is not" % code)
        self.fails(good[:3504] + struct.pack('>h', 5) + good[3506:],
                   "'extended_text_headers' (bytes 3505-3506) is 5 but the file ends")
        self.fails(good[:3599], 'too short')
        self.fails(good[:3600 + 100], 'trace 0 (the last) is truncated: 100 of its 256 bytes')
        self.fails(b'', 'too short')

    def test_random_bytes(self):
        rng = random.Random(3)
        for n in (0, 1, 239, 240, 3599, 3600, 5000, 20000):
            for su in (False, True):
                data = bytes(bytearray(rng.getrandbits(8) for _ in range(n)))
                try:
                    read_everything(data, su=su)
                except FormatError:
                    pass

    def test_every_truncation_of_the_example(self):
        size = len(self.example)
        # Every cut in the file headers' neighbourhood and the first traces, then a stride.
        cuts = list(range(0, 3700, 7)) + list(range(3700, size, 97))
        read = 0
        for cut in cuts:
            data = self.example[:cut]
            try:
                read += read_everything(data)
            except FormatError as e:
                self.assertTrue(any(w in str(e) for w in ('truncated', 'too short', 'cut short',
                                                          'ends within')), str(e))
            # Not strict: the whole traces before the cut are read.
            if cut >= 3600:
                self.assertEqual(read_everything(data, strict=False), (cut - 3600) // 2244)
        self.assertGreater(read, 0)

    def test_random_mutations_of_the_example(self):
        rng = random.Random(13)
        spots = list(range(3200, 3600)) + list(range(3600, 3840))
        outcomes = {'read': 0, 'refused': 0}
        for trial in range(300):
            data = bytearray(self.example)
            for _ in range(rng.randint(1, 6)):
                at = rng.choice(spots) if rng.random() < 0.8 else rng.randrange(len(data))
                data[at] = rng.getrandbits(8)
            if rng.random() < 0.3:
                del data[rng.randrange(len(data)):]
            for su in (False, True):
                try:
                    read_everything(bytes(data), su=su, strict=rng.random() < 0.5)
                    outcomes['read'] += 1
                except FormatError:
                    outcomes['refused'] += 1
        # Both outcomes occur: the mutations reach the checks and do not break everything.
        self.assertGreater(outcomes['read'], 30, outcomes)
        self.assertGreater(outcomes['refused'], 30, outcomes)

    def test_example_reads_whole(self):
        self.assertEqual(read_everything(self.example), 48)
