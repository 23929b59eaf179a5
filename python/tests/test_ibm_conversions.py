"""IBM words from float32 values and to exact doubles; the byte inputs the IBM readers take."""
import math
import struct
import unittest
from array import array

from .helpers import wavecodec
from .test_native import ibm_model, words_for_test
from wavecodec.compat import PY2

try:
    import numpy
except ImportError:
    numpy = None


def float_bits(value):
    return struct.unpack('<I', struct.pack('<f', value))[0]


def bits_float(word):
    return struct.unpack('<f', struct.pack('<I', word))[0]


def to_ibm_model(bits):
    """The IBM word nearest to the float32 with bits `bits`, from its exact value m * 2^e."""
    sign = bits & 0x80000000
    field, mantissa = (bits >> 23) & 0xff, bits & 0x7fffff
    if field == 0xff:
        return sign | 0x7fffffff
    if field == 0 and mantissa == 0:
        return sign
    m, e = (mantissa, -149) if field == 0 else (mantissa | 0x800000, field - 150)
    x = 0
    while m * 2.0 ** e >= 2.0 ** (4 * x - 256):  # powers of two: exact comparisons
        x += 1
    shift = 4 * x - 280 - e
    if shift <= 0:
        fraction = m << -shift
    else:
        fraction, remainder = divmod(m, 1 << shift)
        if 2 * remainder > (1 << shift) or (2 * remainder == (1 << shift) and fraction & 1):
            fraction += 1
    if fraction == 1 << 24:
        fraction, x = fraction >> 4, x + 1
    return sign | (x << 24) | fraction


def ibm_value(word):
    value = math.ldexp(word & 0xffffff, 4 * ((word >> 24) & 0x7f) - 280)
    return -value if word & 0x80000000 else value


def big(*words):
    return struct.pack('>%dI' % len(words), *words)


class FromFloat32(unittest.TestCase):
    def test_matches_model(self):
        floats = [bits_float(w) for w in words_for_test()
                  if (w >> 23) & 0xff != 0xff]  # NaN payloads do not survive Python floats
        data = wavecodec.float32_to_ibm(floats)
        got = struct.unpack('>%dI' % len(floats), data)
        for value, word in zip(floats, got):
            self.assertEqual(word, to_ibm_model(float_bits(value)), repr(value))

    def test_worked_values(self):
        cases = [(1.0, 0x41100000), (-100.0, 0xC2640000), (bits_float(1), 0x1B800000),
                 (bits_float(0x7F7FFFFF), 0x60FFFFFF), (1.0 + 2.0 ** -21, 0x41100000),
                 (1.0 + 3 * 2.0 ** -21, 0x41100002), (0.0, 0), (-0.0, 0x80000000)]
        data = wavecodec.float32_to_ibm([v for v, _ in cases])
        self.assertEqual(data, big(*[w for _, w in cases]))
        self.assertEqual(wavecodec.float32_to_ibm([1.0, -100.0], byteorder='little'),
                         struct.pack('<2I', 0x41100000, 0xC2640000))
        self.assertEqual(wavecodec.float32_to_ibm([]), b'')

    def test_infinities_and_nans(self):
        inf, nan = float('inf'), float('nan')
        with self.assertRaises(ValueError) as cm:
            wavecodec.float32_to_ibm([1.0, 2.0, 3.0, 1e39, inf])
        self.assertIn('value 3', str(cm.exception))  # 1e39 is infinite as a float32
        with self.assertRaises(ValueError) as cm:
            wavecodec.float32_to_ibm(v for v in [0.0, nan])
        self.assertIn('value 1', str(cm.exception))
        data, count = wavecodec.float32_to_ibm([-inf, 1.0, nan, inf], saturate=True)
        self.assertEqual(count, 3)
        self.assertEqual(struct.unpack('>4I', data)[:2], (0xFFFFFFFF, 0x41100000))
        self.assertEqual(struct.unpack('>I', data[12:])[0], 0x7FFFFFFF)
        self.assertEqual(wavecodec.float32_to_ibm([1.0], saturate=True), (big(0x41100000), 0))

    def test_value_forms(self):
        wanted = big(0x41100000, 0xC2640000, 0x40800000)
        values = [1.0, -100.0, 0.5]
        forms = [values, tuple(values), array('f', values), array('d', values), iter(values)]
        if not PY2:
            forms.append(memoryview(array('f', values)))
        if numpy is not None:
            strided = numpy.array([1.0, 9.0, -100.0, 9.0, 0.5], dtype='float32')[::2]
            forms += [numpy.array(values, dtype='float32'), numpy.array(values, dtype='>f4'),
                      numpy.array(values), strided]
        for form in forms:
            self.assertEqual(wavecodec.float32_to_ibm(form), wanted, repr(form))
        # A value beyond float32 precision is rounded to float32 first.
        self.assertEqual(wavecodec.float32_to_ibm([1.0 + 2.0 ** -30]), big(0x41100000))
        for bad in (b'\x00\x00\x80\x3f', bytearray(4), u'1.0'):
            self.assertRaises(TypeError, wavecodec.float32_to_ibm, bad)
        self.assertRaises(ValueError, wavecodec.float32_to_ibm, [1.0], byteorder='native')

    def test_round_trips(self):
        # Floats with at most 21 significant bits are IBM singles: they come back unchanged.
        floats = [bits_float(w & 0xFFFFFFF8) for w in words_for_test()
                  if 0 < (w >> 23) & 0xff < 0xff]
        data = wavecodec.float32_to_ibm(floats)
        self.assertEqual(list(wavecodec.ibm_to_float32(data)), floats)
        # Any float: the IBM word is within half an IBM unit (2^-21 relative, at most).
        doubles = wavecodec.ibm_to_float64(wavecodec.float32_to_ibm(
            [bits_float(w) for w in words_for_test() if (w >> 23) & 0xff != 0xff]))
        for w, d in zip([w for w in words_for_test() if (w >> 23) & 0xff != 0xff], doubles):
            exact = bits_float(w)
            self.assertLessEqual(abs(d - exact), abs(exact) * 2.0 ** -21, hex(w))


class ToFloat64(unittest.TestCase):
    def test_matches_exact_values(self):
        words = words_for_test()
        got = wavecodec.ibm_to_float64(big(*words))
        singles = wavecodec.ibm_to_float32(big(*words))
        self.assertEqual(got.typecode, 'd')
        for word, value, single in zip(words, got, singles):
            wanted = ibm_value(word)
            self.assertEqual(value, wanted, hex(word))
            self.assertEqual(math.copysign(1.0, value), -1.0 if word >> 31 else 1.0, hex(word))
            # Rounded to float32, the exact value is what ibm_to_float32 gives.
            try:
                rounded = float_bits(value)
            except OverflowError:
                rounded = float_bits(math.copysign(float('inf'), value))
            self.assertEqual(rounded, float_bits(single), hex(word))

    def test_worked_values(self):
        words = [0x41100000, 0xC2640000, 0x41000001, 0x7FFFFFFF, 0x00000001, 0xFF000000]
        self.assertEqual(list(wavecodec.ibm_to_float64(struct.pack('<6I', *words), 'little')),
                         [1.0, -100.0, 2.0 ** -20, (2 ** 24 - 1) * 2.0 ** 228, 2.0 ** -280, -0.0])


class ByteInputs(unittest.TestCase):
    """Every function that reads IBM words takes any bytes-like object by its bytes."""

    functions = [wavecodec.ibm_to_float32, wavecodec.ibm_to_float64]

    def forms(self):
        words = [0x41100000, 0xC2640000]
        raw = big(*words)
        host = array('I' if array('I').itemsize == 4 else 'L', raw)
        forms = [raw, bytearray(raw), memoryview(raw), array('B', raw), host]
        if not PY2:
            doubled = bytes(bytearray(b for b in bytearray(raw) for _ in (0, 1)))
            forms += [memoryview(host), memoryview(raw).cast('H'),
                      memoryview(doubled)[::2]]  # not contiguous
        if numpy is not None:
            forms += [numpy.frombuffer(raw, dtype='uint32'), numpy.frombuffer(raw, 'uint8'),
                      numpy.frombuffer(raw, dtype='>u4').reshape(1, 2),
                      numpy.frombuffer(raw * 2, dtype='uint32')[::2][:1]]
        return forms

    def test_any_bytes_like_object(self):
        for function in self.functions:
            for form in self.forms():
                got = list(function(form))
                if numpy is not None and isinstance(form, numpy.ndarray) and form.size == 1:
                    self.assertEqual(got, [1.0])
                else:
                    self.assertEqual(got, [1.0, -100.0], '%s of %r' % (function.__name__, form))

    def test_byte_order_and_bad_input(self):
        for function in self.functions:
            self.assertEqual(list(function(struct.pack('<I', 0x41100000), byteorder='little')),
                             [1.0])
            self.assertEqual(len(function(b'')), 0)
            with self.assertRaises(wavecodec.FormatError) as cm:
                function(array('H', [0x4110, 0, 0]))  # 6 bytes in 3 items
            self.assertIn('6 bytes', str(cm.exception))
            self.assertRaises(ValueError, function, b'', byteorder='BIG')
            self.assertRaises(TypeError, function, u'\x41\x10\x00\x00')
            self.assertRaises(TypeError, function, [0x41100000])


if __name__ == '__main__':
    unittest.main()
