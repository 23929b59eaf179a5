"""IBM singles nearest to IEEE doubles, rounded once (no float32 step): integer arithmetic on the
doubles' 64-bit patterns, on whole arrays with numpy when it is present, else one value at a
time (after a check that sends doubles which are all float32 values to the ibmfloat library).

A double M * 2^E (M the 53-bit significand) has the IBM word with exponent k (value below 16^k,
k at least -64) and fraction round(M / 2^s), s = 4k - 24 - E, ties to the even fraction; a
fraction that rounds up to 2^24 becomes 2^20 with k + 1. Values below 16^-64 keep k = -64 with
a smaller fraction, down to zero of the value's sign; k above 63 is beyond IBM's range.
"""
import struct
import sys
from array import array

from ..compat import PY2, array_from_bytes, array_to_bytes
from ..ibm import float32_to_ibm

try:
    import numpy
except ImportError:  # the standard library road below
    numpy = None

_MASK52 = (1 << 52) - 1
# Largest IBM magnitude, and the words that NaN and infinities saturate to.
MAX_WORD = 0x7fffffff


class NoIbmValue(ValueError):
    """`index`: the first value that has no IBM single; `finite`: whether it is finite (then it
    is beyond IBM's range, about 7.2e75)."""

    def __init__(self, index, finite):
        ValueError.__init__(self, index, finite)
        self.index = index
        self.finite = finite


def word_of(bits):
    """The IBM word nearest to the double whose 64-bit pattern is `bits`; None for NaN and the
    infinities, -1 for a finite value beyond IBM's range."""
    sign = (bits >> 32) & 0x80000000
    e = (bits >> 52) & 0x7ff
    if e == 0x7ff:
        return None
    m = bits & _MASK52
    if e:
        m |= 1 << 52
    exp2 = max(e, 1) - 1075
    k = max(((exp2 + 52) >> 2) + 1, -64)
    s = min(4 * k - 24 - exp2, 63)
    fraction = m >> s
    rest = m & ((1 << s) - 1)
    half = 1 << (s - 1)
    if rest > half or (rest == half and fraction & 1):
        fraction += 1
    if fraction == 1 << 24:
        fraction, k = 1 << 20, k + 1
    if k > 63:
        return -1
    return sign | ((k + 64) << 24) | fraction if fraction else sign


def _words_numpy(doubles, saturate):
    bits = numpy.ascontiguousarray(doubles, dtype=numpy.float64).view(numpy.uint64)
    sign = ((bits >> numpy.uint64(32)) & numpy.uint64(0x80000000)).astype(numpy.uint32)
    e = ((bits >> numpy.uint64(52)) & numpy.uint64(0x7ff)).astype(numpy.int64)
    m = (bits & numpy.uint64(_MASK52)).astype(numpy.int64)
    m |= numpy.where(e > 0, numpy.int64(1 << 52), numpy.int64(0))
    exp2 = numpy.maximum(e, 1) - 1075
    k = numpy.maximum(((exp2 + 52) >> 2) + 1, -64)
    s = numpy.minimum(4 * k - 24 - exp2, 63)
    fraction = m >> s
    rest = m & ((numpy.int64(1) << s) - 1)
    half = numpy.int64(1) << (s - 1)
    fraction += (rest > half) | ((rest == half) & (fraction & 1 == 1))
    carry = fraction == 1 << 24
    fraction[carry] = 1 << 20
    k += carry
    special = e == 0x7ff
    over = (k > 63) & ~special
    if over.any():
        raise NoIbmValue(int(numpy.argmax(over)), True)
    if special.any() and not saturate:
        raise NoIbmValue(int(numpy.argmax(special)), False)
    words = numpy.where(fraction > 0, ((k + 64) << 24) | fraction, 0).astype(numpy.uint32)
    words |= sign
    words[special] = sign[special] | MAX_WORD
    return words, int(special.sum())


def float64_to_ibm(values, byteorder='big', saturate=False):
    """(bytes of the IBM words nearest to the doubles `values`, in `byteorder`; number of NaN
    and infinities written as the largest IBM magnitude of their sign). Without `saturate`
    these raise NoIbmValue, as does a finite value beyond IBM's range in any case."""
    if numpy is not None:
        words, count = _words_numpy(values if hasattr(values, 'dtype')
                                    else numpy.asarray(values, dtype=numpy.float64), saturate)
        return words.astype('>u4' if byteorder == 'big' else '<u4').tobytes(), count
    doubles = values if isinstance(values, array) and values.typecode == 'd' \
        else array('d', values)
    singles = array('f', doubles)
    if array_to_bytes(array('d', singles)) == array_to_bytes(doubles):
        # Every value is a float32 (none beyond its range, no NaN payload lost): the library
        # gives the same nearest words.
        try:
            data, count = float32_to_ibm(singles, byteorder=byteorder, saturate=True)
        except ValueError:
            data = None
        if data is not None and (saturate or not count):
            return data, count
    return _words_one_by_one(doubles, byteorder, saturate)


def _words_one_by_one(doubles, byteorder, saturate):
    patterns = array_from_bytes('d', array_to_bytes(doubles))
    raw = struct.unpack('=%dQ' % len(patterns), array_to_bytes(patterns))
    words = array('I' if array('I').itemsize == 4 else 'L')
    count = 0
    for index, bits in enumerate(raw):
        word = word_of(bits)
        if word is None:
            if not saturate:
                raise NoIbmValue(index, False)
            word = ((bits >> 32) & 0x80000000) | MAX_WORD
            count += 1
        elif word < 0:
            raise NoIbmValue(index, True)
        words.append(word)
    if byteorder != sys.byteorder:
        words.byteswap()
    return (words.tostring() if PY2 else words.tobytes()), count
