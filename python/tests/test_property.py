"""Damaged copies of the example file: every truncation and many random byte mutations give a
FormatError or ChecksumError, or waveforms whose samples are the original's; never a waveform
marked sound with other samples, never another exception."""
import os
import random
import unittest

from .helpers import PYTHON_DIR, wavecodec

EXAMPLE = os.path.join(os.path.dirname(PYTHON_DIR), 'examples', 'event.gse')
CHARACTERS = bytearray(b'+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz'
                       b' \t\r\n\0./:_eE')


class DamagedExample(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(EXAMPLE, 'rb') as f:
            cls.data = f.read()
        cls.originals = [w.samples for w in wavecodec.read(cls.data)]
        starts = [0]
        at = cls.data.find(b'\nWID2 ')
        while at >= 0:
            starts.append(at + 1)
            at = cls.data.find(b'\nWID2 ', at + 1)
        cls.starts = starts + [len(cls.data)]

    def check(self, data, what, strict=False):
        """Reads `data`; a waveform without an error must hold one original's samples."""
        try:
            # A memoryview: under Python 2 a short str would name a file.
            waves = wavecodec.read(memoryview(data), strict=strict)
        except (wavecodec.FormatError, wavecodec.ChecksumError):
            return 0
        except Exception as e:  # noqa: B902 - any other exception is the fault looked for
            self.fail('%s: %s: %s' % (what, type(e).__name__, e))
        sound = 0
        for w in waves:
            if w.error is None:
                sound += 1
                if not any(w.samples == s for s in self.originals):
                    self.fail('%s: waveform %s marked sound with other samples' % (what, w))
        return sound

    def test_every_truncation(self):
        self.assertEqual(len(self.originals), 3)
        # A cut inside waveform j leaves the waveforms before it whole: they read exactly as in
        # the whole file (a section ends at the next WID2 line at the latest). So each cut is
        # tried on the text from waveform j's WID2 line, which keeps this test fast.
        sound = 0
        for j in range(len(self.starts) - 1):
            first, last = self.starts[j], self.starts[j + 1]
            for cut in range(first, last + 1):
                sound += self.check(self.data[first:cut], 'cut at %d' % cut)
        # Sound only where the cut leaves the whole section and its CHK2 line.
        self.assertGreater(sound, 0)
        self.assertLess(sound, 3 * 20)
        # And the whole file cut in each waveform, to check the tail-only shortcut above.
        for j in range(len(self.starts) - 1):
            cut = (self.starts[j] + self.starts[j + 1]) // 2
            self.check(self.data[:cut], 'cut at %d' % cut)
            self.check(self.data[:cut], 'cut at %d' % cut, strict=True)

    def test_random_byte_mutations(self):
        rng = random.Random(20240517)
        # A third of the mutations hit the lines around the data: WID2, DAT2 and CHK2 lines.
        hot = []
        for start in self.starts[:-1]:
            hot.extend(range(start, self.data.index(b'DAT2', start) + 5))
            chk = self.data.index(b'\nCHK2', start)
            hot.extend(range(chk - 100, self.data.index(b'\n', chk + 1) + 1))
        for trial in range(1500):
            data = bytearray(self.data)
            for _ in range(rng.choice((1, 1, 1, 2, 3))):
                at = rng.choice(hot) if rng.random() < 0.33 else rng.randrange(len(data))
                kind = rng.random()
                byte = rng.choice(CHARACTERS) if rng.random() < 0.8 else rng.randrange(256)
                if kind < 0.7:
                    data[at] = byte
                elif kind < 0.85:
                    data.insert(at, byte)
                else:
                    del data[at]
            what = 'mutation %d' % trial
            self.check(bytes(data), what)
            self.check(bytes(data), what, strict=True)


if __name__ == '__main__':
    unittest.main()
