"""IBM singles nearest to IEEE doubles, rounded once (no float32 step). The ibmfloat library's
double2ibm converts whole arrays, with numpy or without; whole-array checks then tell values
beyond IBM's range from NaN and infinities, so no value takes a Python step of its own.

With an older library that lacks double2ibm: integer arithmetic on the doubles' 64-bit patterns
on whole arrays with numpy when it is present (also when the library cannot be loaded at all);
without numpy the library's ieee2ibm converts the doubles rounded to float32, and whole-block
flags pick the few doubles for which that rounding could change the nearest IBM word; only those
take the integer arithmetic one at a time. word_of is the exact model all roads are tested
against.

A double M * 2^E (M the 53-bit significand) has the IBM word with exponent k (value below 16^k,
k at least -64) and fraction round(M / 2^s), s = 4k - 24 - E, ties to the even fraction; a
fraction that rounds up to 2^24 becomes 2^20 with k + 1. Values below 16^-64 keep k = -64 with
a smaller fraction, down to zero of the value's sign; k above 63 is beyond IBM's range.
"""
import os
import struct
import sys
from array import array

from .. import native
from ..compat import PY2, array_from_bytes, array_to_bytes
from ..errors import LibraryNotFoundError
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
# The smallest magnitude beyond IBM's range: the tie above the largest IBM value
# (2^24 - 1) x 2^228, which rounds up to 16^64. Exactly a double.
_BEYOND = float((2 ** 25 - 1) << 227)
_WORD_TYPECODE = 'I' if array('I').itemsize == 4 else 'L'


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
        doubles = numpy.ascontiguousarray(values, dtype=numpy.float64)
        convert = _double2ibm(missing_library_ok=True)
        if convert is not None:
            return _words_by_library_numpy(convert, doubles, byteorder, saturate)
        words, count = _words_numpy(doubles, saturate)
        return words.astype('>u4' if byteorder == 'big' else '<u4').tobytes(), count
    doubles = values if isinstance(values, array) and values.typecode == 'd' \
        else array('d', values)
    convert = _double2ibm()
    if convert is not None:
        return _words_by_library(convert, doubles, byteorder, saturate)
    return _words_by_blocks(doubles, byteorder, saturate)


def _double2ibm(missing_library_ok=False):
    """The library's double2ibm; None for an older library without it, or (with
    `missing_library_ok`, for the numpy road, which can do without) no library found. A library
    named by IBMFLOAT_LIBRARY must load, as everywhere: a wrong one is an error."""
    try:
        lib = native.ibmfloat()
    except LibraryNotFoundError:
        if missing_library_ok and not os.environ.get('IBMFLOAT_LIBRARY'):
            return None
        raise
    return getattr(lib, 'double2ibm', None)


def _convert_all(convert, doubles_address, words_address, n):
    """Runs double2ibm over n doubles in chunks; the number without an IBM value."""
    count = 0
    for start in range(0, n, _CHUNK):
        count += convert(doubles_address + 8 * start, words_address + 4 * start,
                         min(_CHUNK, n - start))
    return count


def _words_by_library_numpy(convert, doubles, byteorder, saturate):
    """double2ibm on a contiguous float64 numpy array; NaN, infinities and values beyond IBM's
    range told apart by whole-array comparisons."""
    n = doubles.size
    words = numpy.empty(n, dtype=numpy.uint32)
    count = _convert_all(convert, doubles.ctypes.data, words.ctypes.data, n) if n else 0
    special = 0
    if count:
        finite = numpy.isfinite(doubles)
        over = finite & (numpy.abs(doubles) >= _BEYOND)
        if over.any():
            raise NoIbmValue(int(numpy.argmax(over)), True)
        special = count
        if not saturate:
            raise NoIbmValue(int(numpy.argmax(~finite)), False)
    return words.astype('>u4' if byteorder == 'big' else '<u4').tobytes(), special


def _words_by_library(convert, doubles, byteorder, saturate):
    """double2ibm on an array('d'). Only when some doubles had no IBM value, whole-block flags
    find NaN and infinities; a count above theirs means a finite value beyond IBM's range, which
    is looked for among the words of the largest magnitude that are not NaN or infinity."""
    n = len(doubles)
    words = array(_WORD_TYPECODE, [0]) * n
    count = _convert_all(convert, doubles.buffer_info()[0], words.buffer_info()[0], n) \
        if n else 0
    if count:
        raw = array_to_bytes(doubles)
        special = wordflags.both(
            wordflags.flags(raw, _host_byte(0, 8), _TOP_ONES, 8),
            wordflags.flags(raw, _host_byte(1, 8), _NEXT_HIGH_NIBBLE_ONES, 8))
        specials = special.count(b'\x01')
        if count > specials:
            out = array_to_bytes(words)
            # Words of the largest magnitude (either sign) that are not NaN or infinity.
            other = wordflags.either(
                wordflags.negate(wordflags.flags(out, _host_byte(0), _TOP_ONES)), special,
                *[wordflags.flags(out, _host_byte(k), _NOT_FF) for k in (1, 2, 3)])
            candidates = wordflags.negate(other)
            at = candidates.find(b'\x01')
            while at >= 0:   # words of the largest magnitude: a few at most, in real data
                if abs(doubles[at]) >= _BEYOND:
                    raise NoIbmValue(at, True)
                at = candidates.find(b'\x01', at + 1)
        if specials and not saturate:
            raise NoIbmValue(special.find(b'\x01'), False)
        count = specials
    if byteorder != sys.byteorder:
        words.byteswap()
    return array_to_bytes(words), count


def _host_byte(k, width=4):
    """Index within a host-order `width`-byte word of its k-th most significant byte."""
    return k if sys.byteorder == 'big' else width - 1 - k


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
_NEXT_HIGH_NIBBLE_ONES = _table(lambda b: b & 0xf0 == 0xf0)
_NOT_FF = _table(lambda b: b != 0xff)


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
