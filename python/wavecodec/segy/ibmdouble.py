"""IBM singles nearest to IEEE doubles, rounded once (no float32 step): integer arithmetic on the
doubles' 64-bit patterns, on whole arrays with numpy when it is present. Without numpy the
ibmfloat library converts the doubles rounded to float32, and whole-block flags pick the few
doubles for which that rounding could change the nearest IBM word; only those take the integer
arithmetic one at a time.

A double M * 2^E (M the 53-bit significand) has the IBM word with exponent k (value below 16^k,
k at least -64) and fraction round(M / 2^s), s = 4k - 24 - E, ties to the even fraction; a
fraction that rounds up to 2^24 becomes 2^20 with k + 1. Values below 16^-64 keep k = -64 with
a smaller fraction, down to zero of the value's sign; k above 63 is beyond IBM's range.
"""
import struct
import sys
from array import array

from .. import native
from ..compat import PY2, array_from_bytes, array_to_bytes
from . import wordflags

try:
    import numpy
except ImportError:  # the standard library road below
    numpy = None

_MASK52 = (1 << 52) - 1
# Words per library call: keeps each count within a C int.
_CHUNK = 1 << 28
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
    return _words_by_blocks(doubles, byteorder, saturate)


def _host_byte(k):
    """Index within a host-order 4-byte word of its k-th most significant byte."""
    return k if sys.byteorder == 'big' else 3 - k


def _table(test):
    return wordflags.table(test)


# A float32 with exponent field E lies where IBM keeps (2 - E) mod 4 fewer bits than it has
# (0 to 3); it is the midpoint of two IBM neighbours when those dropped bits are 1 then zeros.
# Flags per case of E mod 4 (the exponent's two low bits: bit 24 in the top byte, bit 23 in
# the next), with the dropped bits' pattern in the lowest byte.
_MIDPOINT_CASES = [(_table(lambda b, c=c: (b & 1) == c >> 1),
                    _table(lambda b, c=c: (b >> 7) == c & 1),
                    _table(lambda b, d=drop: d and (b & ((1 << d) - 1)) == 1 << (d - 1)))
                   for c, drop in ((0, 2), (1, 1), (3, 3))]
_TOP_ZERO = _table(lambda b: b & 0x7f == 0)
_NEXT_ZERO = _table(lambda b: b & 0x80 == 0)
_TOP_ONES = _table(lambda b: b & 0x7f == 0x7f)
_NEXT_ONE = _table(lambda b: b & 0x80)


def _words_by_blocks(doubles, byteorder, saturate):
    """The library's words for the doubles rounded to float32, then exact integer arithmetic for
    the few doubles where that rounding can matter: those that changed when rounded to a float32
    that is an IBM midpoint, an infinity, a zero or a subnormal. All flags are whole-block
    operations; only the flagged doubles take a Python step."""
    singles = array('f', doubles)
    words = array_from_bytes('I' if array('I').itemsize == 4 else 'L', array_to_bytes(singles))
    address, n = words.buffer_info()
    convert = native.ibmfloat().ieee2ibm
    for start in range(0, n, _CHUNK):
        convert(address + 4 * start, min(_CHUNK, n - start))
    f32 = array_to_bytes(singles)
    top = wordflags.flags(f32, _host_byte(0), _TOP_ZERO), wordflags.flags(f32, _host_byte(1),
                                                                          _NEXT_ZERO)
    ones = wordflags.both(wordflags.flags(f32, _host_byte(0), _TOP_ONES),
                          wordflags.flags(f32, _host_byte(1), _NEXT_ONE))
    extreme = wordflags.either(wordflags.both(*top), ones)
    midpoint = wordflags.either(*[wordflags.both(wordflags.both(
        wordflags.flags(f32, _host_byte(0), a), wordflags.flags(f32, _host_byte(1), b)),
        wordflags.flags(f32, _host_byte(3), low)) for a, b, low in _MIDPOINT_CASES])
    changed = wordflags.differ(array_to_bytes(array('d', singles)), array_to_bytes(doubles), 8)
    suspects = wordflags.both(wordflags.either(extreme, midpoint), changed)
    no_value = wordflags.both(ones, wordflags.negate(changed))   # infinities and NaN kept
    first_bad = no_value.find(b'\x01')
    count = no_value.count(b'\x01')
    at = suspects.find(b'\x01')
    if at >= 0:
        pattern = struct.Struct('=Q')
        raw = array_to_bytes(doubles)
        while at >= 0:
            bits = pattern.unpack_from(raw, 8 * at)[0]
            word = word_of(bits)
            if word is None:
                word = ((bits >> 32) & 0x80000000) | MAX_WORD
                count += 1
                first_bad = at if first_bad < 0 else min(first_bad, at)
            elif word < 0:
                raise NoIbmValue(at, True)
            words[at] = word
            at = suspects.find(b'\x01', at + 1)
    if first_bad >= 0 and not saturate:
        raise NoIbmValue(first_bad, False)
    if byteorder != sys.byteorder:
        words.byteswap()
    return array_to_bytes(words), count


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
