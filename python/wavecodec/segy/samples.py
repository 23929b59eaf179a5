"""Sample format codecs: the data sample format codes of SEG-Y, file bytes <-> arrays.

Reading gives array('f') for IBM (code 1, converted exactly by the ibmfloat library) and IEEE
singles, array('d') for IEEE doubles and integer arrays of the code's width and signedness for
the integer codes. All conversions run in C: array byte swaps, slice assignment and the
library's converters; no per-sample Python loop.
"""
import math
import sys
from array import array

from ..compat import PY2, array_from_bytes, array_to_bytes
from ..errors import FormatError
from ..ibm import float32_to_ibm, ibm2ieee_in_place
from .ibmdouble import NoIbmValue, float64_to_ibm

HOST = sys.byteorder


def _typecode(size, signed):
    for code in ('bhilq' if signed else 'BHILQ'):
        try:
            if array(code).itemsize == size:
                return code
        except ValueError:  # 'q' and 'Q' are absent from Python 2.7
            continue
    return None


class Format(object):
    """One data sample format: its code, name, bytes per sample and array typecode."""

    def __init__(self, code, name, size, typecode, kind):
        self.code = code
        self.name = name
        self.size = size
        self.typecode = typecode
        self.kind = kind  # 'ibm', 'float', 'int' or 'int24'

    def __repr__(self):
        return '<sample format %d: %s>' % (self.code, self.name)


def _formats():
    table = [(1, 'IBM float32', 4, 'f', 'ibm'), (2, 'int32', 4, 'i', 'int'),
             (3, 'int16', 2, 'h', 'int'), (5, 'IEEE float32', 4, 'f', 'float'),
             (6, 'IEEE float64', 8, 'd', 'float'), (7, 'int24', 3, 'i', 'int24'),
             (8, 'int8', 1, 'b', 'int'), (9, 'int64', 8, _typecode(8, True), 'int'),
             (10, 'uint32', 4, 'I', 'int'), (11, 'uint16', 2, 'H', 'int'),
             (12, 'uint64', 8, _typecode(8, False), 'int'), (15, 'uint24', 3, 'I', 'int24'),
             (16, 'uint8', 1, 'B', 'int')]
    return dict((code, Format(code, name, size, tc, kind))
                for code, name, size, tc, kind in table if tc is not None)


FORMATS = _formats()
IBM, IEEE = 1, 5
NAMES = {'ibm': IBM, 'ieee': IEEE}


def lookup(code, where='format', hint=False):
    """The Format of `code`; a FormatError naming `where` for a code this package cannot read
    (with `hint`, how to give the right code instead: the header is wrong more often than not)."""
    try:
        return FORMATS[code]
    except (KeyError, TypeError):
        raise FormatError('%s %r is not a sample format code this reader knows (%s)%s'
                          % (where, code, ', '.join(str(c) for c in sorted(FORMATS)),
                             '; if you know the samples\' format, give it: format=CODE, or '
                             '--source-format CODE on the command line' if hint else ''))


# Sign bytes of 24-bit integers: 0xff for a leading byte with its top bit set.
_SIGN = bytes(bytearray(0xff if b & 0x80 else 0 for b in range(256)))
_ZERO = bytes(bytearray(256))


def _widen24(data, endian, signed):
    """3-byte integers as the bytes of host-order 4-byte integers."""
    n = len(data) // 3
    src = bytes(data)
    wide = bytearray(4 * n)
    table = _SIGN if signed else _ZERO
    if endian == 'big':
        wide[0::4] = src[0::3].translate(table)
        wide[1::4], wide[2::4], wide[3::4] = src[0::3], src[1::3], src[2::3]
    else:
        wide[0::4], wide[1::4], wide[2::4] = src[0::3], src[1::3], src[2::3]
        wide[3::4] = src[2::3].translate(table)
    if endian != HOST:
        swapped = array_from_bytes('i', bytes(wide))
        swapped.byteswap()
        return array_to_bytes(swapped)
    return bytes(wide)


def finish(fmt, values, endian):
    """Turns `values`, an array of `fmt.typecode` holding the file's bytes, into samples in place:
    byte order, then IBM conversion."""
    if endian != HOST and fmt.size > 1:
        values.byteswap()
    if fmt.kind == 'ibm':
        ibm2ieee_in_place(values)
    return values


def decode(fmt, data, endian):
    """The samples of the file bytes `data` (a whole number of samples) as an array."""
    if fmt.kind == 'int24':
        return array_from_bytes(fmt.typecode, _widen24(data, endian, fmt.code == 7))
    return finish(fmt, array_from_bytes(fmt.typecode, data), endian)


def _as_array(values, typecode):
    if isinstance(values, array) and values.typecode == typecode:
        return array(typecode, values)
    dtype = {'f': 'f4', 'd': 'f8'}.get(typecode)
    if dtype and hasattr(values, 'astype') and hasattr(values, 'tobytes'):
        # A numpy array: converted in C rather than one Python float at a time.
        import numpy   # present: `values` is one of its arrays
        with numpy.errstate(over='ignore', invalid='ignore'):  # overflow is checked after
            return array_from_bytes(typecode, values.astype('=' + dtype).tobytes())
    return array(typecode, values)


def _out_of_range(values, converted):
    """Index of the first finite value that became an infinity, or None. Float32 input cannot
    overflow; a float32 of a numpy array of doubles is looked at on the whole array."""
    if is_float32(values):
        return None
    if hasattr(values, 'dtype') and hasattr(values, 'astype'):
        import numpy   # present: `values` is one of its arrays
        single = numpy.frombuffer(array_to_bytes(converted), dtype='=f4')
        bad = numpy.flatnonzero(numpy.isinf(single) & ~numpy.isinf(values.reshape(-1)))
        return int(bad[0]) if len(bad) else None
    for inf in (float('inf'), float('-inf')):
        if inf in converted:
            for i, v in enumerate(converted):
                if math.isinf(v) and not math.isinf(values[i]):
                    return i
    return None


def is_float32(values):
    """Whether `values` holds float32 items (array('f'), a numpy float32 array, a buffer of
    them); anything else is taken as doubles when written as IBM."""
    if isinstance(values, array):
        return values.typecode == 'f'
    dtype = getattr(values, 'dtype', None)
    if dtype is not None:
        return getattr(dtype, 'kind', None) == 'f' and dtype.itemsize == 4
    if isinstance(values, memoryview):
        return values.format in ('f', '@f', '=f', '<f' if HOST == 'little' else '>f')
    return False


def _ibm(values, endian, saturate, where):
    """IBM words of `values`: float32 items through the library, anything else as doubles,
    rounded once to the nearest IBM single."""
    try:
        if is_float32(values):
            converted = _as_array(values, 'f')
            if saturate:
                return float32_to_ibm(converted, byteorder=endian, saturate=True)[0]
            return float32_to_ibm(converted, byteorder=endian)
        if not isinstance(values, array) and not hasattr(values, 'dtype'):
            values = array('d', values)
        return float64_to_ibm(values, byteorder=endian, saturate=saturate)[0]
    except (OverflowError, TypeError) as e:
        raise FormatError('%s: a sample cannot be written as IBM float32: %s' % (where, e))
    except NoIbmValue as e:
        raise FormatError('%s sample %d: %r is beyond the IBM range (magnitudes up to about '
                          '7.2e75)' % (where, e.index, values[e.index]) if e.finite else
                          '%s sample %d: %r has no IBM value (IBM floats hold neither NaN nor '
                          'infinity; saturate to write the largest IBM magnitude of its sign)'
                          % (where, e.index, values[e.index]))
    except ValueError:
        converted = _as_array(values, 'f')
        bad = next(i for i, v in enumerate(converted) if math.isinf(v) or math.isnan(v))
        raise FormatError('%s sample %d: %r has no IBM value (IBM floats hold neither NaN nor '
                          'infinity; saturate to write the largest IBM magnitude of its sign)'
                          % (where, bad, converted[bad]))


def encode(fmt, values, endian, saturate=False, where='trace'):
    """The file bytes of the sequence `values` in format `fmt`.

    Values that the format cannot hold are a FormatError naming `where` and the sample: integers
    beyond the code's range, finite floats beyond the float32 range (IEEE) or IBM's range (IBM),
    and for IBM NaN and the infinities (or, with `saturate`, these become the largest IBM
    magnitude of their sign). IBM words are the nearest to each value given: float32 items
    as they are, doubles (Python floats, array('d'), numpy float64) rounded once.
    """
    if fmt.kind == 'ibm':
        return _ibm(values, endian, saturate, where)
    try:
        if fmt.kind in ('int', 'int24'):
            converted = array(fmt.typecode, values)
        else:
            converted = _as_array(values, fmt.typecode)
    except (OverflowError, TypeError, ValueError) as e:
        raise FormatError('%s: a sample cannot be written as %s: %s' % (where, fmt.name, e))
    if fmt.typecode == 'f':
        bad = _out_of_range(values, converted)
        if bad is not None:
            raise FormatError('%s sample %d: %r is beyond the float32 range'
                              % (where, bad, values[bad]))
    if fmt.kind == 'int24':
        return _narrow24(converted, endian, fmt.code == 7, where)
    if endian != HOST and fmt.size > 1:
        converted.byteswap()
    return array_to_bytes(converted)


def _narrow24(values, endian, signed, where):
    low, high = (-(1 << 23), (1 << 23) - 1) if signed else (0, (1 << 24) - 1)
    if len(values) and (min(values) < low or max(values) > high):
        bad = next(i for i, v in enumerate(values) if not low <= v <= high)
        raise FormatError('%s sample %d: %d is beyond the 24-bit range' % (where, bad, values[bad]))
    words = array(values.typecode, values)
    if HOST != 'big':
        words.byteswap()
    wide = array_to_bytes(words)
    out = bytearray(3 * len(values))
    out[0::3], out[1::3], out[2::3] = wide[1::4], wide[2::4], wide[3::4]
    if endian == 'little':
        out[0::3], out[2::3] = out[2::3], out[0::3]
    return bytes(out)


if PY2:  # pragma: no cover - exercised by the 2.7 test run
    def new_buffer(typecode, count):
        return array(typecode, bytes(bytearray(count * array(typecode).itemsize)))
else:
    def new_buffer(typecode, count):
        return array(typecode, bytes(count * array(typecode).itemsize))
