"""IBM singles nearest to IEEE doubles, rounded once (no float32 step), by the ibmfloat library's
double2ibm on whole arrays (array('d'), numpy arrays, any sequence of numbers). double2ibm counts
the doubles without an IBM value; only when there are some do whole-block flags tell NaN and
infinities from finite values beyond IBM's range, so no value takes a Python step of its own.
"""
import sys
from array import array

from .. import native
from ..compat import array_to_bytes
from ..ibm import in_chunks
from . import wordflags

try:
    import numpy
except ImportError:  # array('d') holds the doubles instead
    numpy = None

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


def _doubles(values):
    """(`values` as contiguous host-order doubles, their address, their bytes when asked): an
    array('d') as it is, a numpy array (of any shape) viewed flat, anything else copied."""
    if isinstance(values, array) and values.typecode == 'd':
        return values, values.buffer_info()[0], lambda: array_to_bytes(values)
    if numpy is not None:
        flat = numpy.ascontiguousarray(values, dtype=numpy.float64).reshape(-1)
        return flat, flat.ctypes.data, flat.tobytes
    doubles = array('d', values)
    return doubles, doubles.buffer_info()[0], lambda: array_to_bytes(doubles)


def float64_to_ibm(values, byteorder='big', saturate=False):
    """(bytes of the IBM words nearest to the doubles `values`, in `byteorder`; number of NaN
    and infinities written as the largest IBM magnitude of their sign). Without `saturate`
    these raise NoIbmValue, as does a finite value beyond IBM's range in any case."""
    doubles, address, raw = _doubles(values)
    n = len(doubles)
    words = array(_WORD_TYPECODE, [0]) * n
    count = in_chunks(native.ibmfloat().double2ibm, n, (address, 8), (words.buffer_info()[0], 4))
    if count:
        count = _no_value(doubles, raw(), words, count, saturate)
    if byteorder != sys.byteorder:
        words.byteswap()
    return array_to_bytes(words), count


def _no_value(doubles, raw, words, count, saturate):
    """The number of NaN and infinities among the doubles (bytes `raw`) when double2ibm found
    `count` without an IBM value. A count above theirs means a finite value beyond IBM's range,
    looked for among the words of the largest magnitude that are not NaN or infinity."""
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
    return specials


def _host_byte(k, width=4):
    """Index within a host-order `width`-byte word of its k-th most significant byte."""
    return k if sys.byteorder == 'big' else width - 1 - k


_TOP_ONES = wordflags.table(lambda b: b & 0x7f == 0x7f)
_NEXT_HIGH_NIBBLE_ONES = wordflags.table(lambda b: b & 0xf0 == 0xf0)
_NOT_FF = wordflags.table(lambda b: b != 0xff)
