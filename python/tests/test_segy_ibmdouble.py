"""Doubles written as IBM singles: each word the nearest to the double given (one rounding),
checked against an exact model in fractions, ties and both ends of IBM's range included, for
array('d') input and (where numpy is present) numpy arrays."""
import math
import struct
import unittest
from array import array
from fractions import Fraction

from . import segy_model as m
from wavecodec.segy import ibmdouble
from wavecodec.errors import FormatError
from wavecodec import segy
from .helpers import TempDirCase

MAX_IBM = Fraction(2 ** 24 - 1, 2 ** 24) * Fraction(16) ** 63


def nearest_ibm(x):
    """The exact model: the IBM word nearest to `x` (ties to the even fraction), None beyond
    IBM's range."""
    sign = 0x80000000 if math.copysign(1.0, x) < 0 else 0
    v = abs(Fraction(x))
    if v == 0:
        return sign
    k = -64
    while v >= Fraction(16) ** k:
        k += 1
    scaled = v * 2 ** 24 / Fraction(16) ** k
    n = scaled.numerator // scaled.denominator
    rest = scaled - n
    if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and n % 2):
        n += 1
    if n == 2 ** 24:
        n, k = 2 ** 20, k + 1
    if k > 63:
        return None
    return sign | ((k + 64) << 24) | n if n else sign


def cases():
    rng = m.rng(17)
    values = [0.0, -0.0, 1.0, -100.0, 0.1, 1e-50, 1e39, -1e39, 1.0 + 2.0 ** -21 + 2.0 ** -40,
              7.2e75, float(MAX_IBM), -float(MAX_IBM), float(MAX_IBM + 2 ** 226),
              float(MAX_IBM + 2 ** 227 - 2 ** 200), 2.0 ** -280, 2.0 ** -281, 3 * 2.0 ** -282,
              2.0 ** -281 * 3, 5e-324, -5e-324, 2.2250738585072014e-308, 16.0 ** -65,
              16.0 ** -65 * (1 - 2.0 ** -30), 16.0 ** 63 * (1 - 2.0 ** -25), 1e-78, 1e-80]
    for k in (-64, -63, -10, -1, 0, 1, 5, 62, 63):
        for fraction in (1 << 20, (1 << 20) + 1, (1 << 24) - 2, (1 << 24) - 1, 0x3a5a5b,
                         0x5a5a5b, 0x9a5a5b):
            # Exactly halfway between two words (ties), and just either side.
            tie = (fraction + 0.5) * 2.0 ** (4 * k - 24)
            values += [tie, -tie, math.ldexp(1.0 + 2.0 ** -40, 0) * tie,
                       tie * (1 - 2.0 ** -45)]
    values += [rng.uniform(-1, 1) * 2.0 ** rng.randint(-1074, 250) for _ in range(3000)]
    values += [rng.uniform(-1, 1) * 2.0 ** rng.randint(-300, -250) for _ in range(500)]
    return values


class DoubleToIbm(unittest.TestCase):
    def roads(self):
        """The library's double2ibm, given an array('d') and a numpy array."""
        yield 'array', ibmdouble.float64_to_ibm
        if ibmdouble.numpy is not None:
            def by_numpy(doubles, byteorder, saturate):
                return ibmdouble.float64_to_ibm(ibmdouble.numpy.array(doubles), byteorder,
                                                saturate)
            yield 'numpy', by_numpy

    def test_nearest_word_against_exact_model(self):
        values = cases()
        finite = [v for v in values if nearest_ibm(v) is not None]
        self.assertGreater(len(values) - len(finite), 3)   # some are beyond the range
        want = [nearest_ibm(v) for v in finite]
        for name, road in self.roads():
            for endian in ('big', 'little'):
                data, count = road(array('d', finite), endian, False)
                self.assertEqual(list(struct.unpack(m.ORDER[endian] + '%dI' % len(finite),
                                                    data)), want, name)
                self.assertEqual(count, 0)

    def test_beyond_the_range_and_no_value(self):
        beyond = float(MAX_IBM + 2 ** 227)   # the tie above the largest word rounds up: out
        for name, road in self.roads():
            for bad, finite in ((beyond, True), (-1e76, True), (float('inf'), False),
                                (float('nan'), False)):
                with self.assertRaises(ibmdouble.NoIbmValue) as e:
                    road(array('d', [1.0, 2.0, bad]), 'big', False)
                self.assertEqual((e.exception.index, e.exception.finite), (2, finite), name)
            nan = struct.unpack('<d', struct.pack('<Q', 0x7ff8000000000000))[0]   # sign clear
            data, count = road(array('d', [float('-inf'), nan, 1.0]), 'big', True)
            self.assertEqual(struct.unpack('>3I', data), (0xffffffff, 0x7fffffff, 0x41100000))
            self.assertEqual(count, 2)
            # The largest IBM value itself, and a value that rounds to it, are not out of range;
            # a value beyond the range is found behind them, and also among NaN with saturate.
            largest = float(MAX_IBM)
            below_tie = float(MAX_IBM + 2 ** 227 - 2 ** 200)
            values = [-largest, below_tie, 1.0, -beyond, nan, 2.0]
            for saturate in (False, True):
                with self.assertRaises(ibmdouble.NoIbmValue) as e:
                    road(array('d', values), 'little', saturate)
                self.assertEqual((e.exception.index, e.exception.finite), (3, True), name)
            with self.assertRaises(ibmdouble.NoIbmValue) as e:
                road(array('d', [nan, 1.0, beyond]), 'little', True)
            self.assertEqual((e.exception.index, e.exception.finite), (2, True), name)
            values = [-largest, below_tie, nan, 1.0]
            data, count = road(array('d', values), 'little', True)
            self.assertEqual(struct.unpack('<4I', data),
                             (0xffffffff, 0x7fffffff, 0x7fffffff, 0x41100000), name)
            self.assertEqual(count, 1, name)


class WrittenFromDoubles(TempDirCase):
    def test_python_floats_and_double_arrays_rounded_once(self):
        values = [1e-50, 1.0 + 2.0 ** -21 + 2.0 ** -40, 1e39, -7.2e75, 0.1]
        for given in (values, array('d', values)):
            segy.write(self.path('d.sgy'), [given], 1000)
            raw = self.read_bytes('d.sgy')[3840:]
            self.assertEqual(list(struct.unpack('>5I', raw)), [nearest_ibm(v) for v in values])
        # float32 input keeps its values: 0.1 as a float32 is not 0.1.
        segy.write(self.path('f.sgy'), [array('f', [0.1])], 1000)
        self.assertEqual(struct.unpack('>I', self.read_bytes('f.sgy')[3840:])[0],
                         nearest_ibm(m.to_float32(0.1)))
        with self.assertRaises(FormatError) as e:
            segy.write(self.path('x.sgy'), [[1.0, 1e76]], 1000)
        self.assertIn('trace 0 sample 1: 1e+76 is beyond the IBM range', str(e.exception))
