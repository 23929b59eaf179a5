"""IBM System/360 single-precision words to and from IEEE floats.

IBM words travel as bytes, big-endian by default (as stored in files) or little-endian
(`byteorder='little'`). Input buffers may be any bytes-like object (bytes, bytearray, memoryview,
array.array, numpy arrays); they are read by their bytes, whatever their item type.
"""
import sys
from array import array

from . import native
from .compat import PY2, array_from_bytes, array_to_bytes, text_type
from .errors import FormatError

# Items per library call: keeps each count within a C int.
CHUNK = 1 << 28

# float32 buffer formats in host byte order, as memoryview reports them.
_HOST_FLOAT32 = ('f', '@f', '=f', '<f' if sys.byteorder == 'little' else '>f')

# IBM words that only infinities and NaNs give (finite floats have exponent fields up to 96).
_SATURATED = (0x7fffffff, -1)


def _check_byteorder(byteorder):
    if byteorder not in ('big', 'little'):
        raise ValueError("byteorder must be 'big' or 'little', not %r" % (byteorder,))


def _raw_bytes(data, caller):
    """The bytes of bytes-like `data`, as an object array.frombytes accepts (no copy when the
    buffer is contiguous)."""
    if isinstance(data, array):
        return array_to_bytes(data) if PY2 else memoryview(data).cast('B')
    if isinstance(data, text_type):
        raise TypeError('%s needs a bytes-like object, not text' % caller)
    if PY2 and isinstance(data, (str, bytearray)):
        return bytes(data)
    try:
        view = memoryview(data)
    except TypeError:
        raise TypeError('%s needs a bytes-like object (bytes, bytearray, memoryview, array or '
                        'numpy array), not %s' % (caller, type(data).__name__))
    if PY2 or not view.c_contiguous:
        return view.tobytes()
    return view.cast('B') if view.format != 'B' or view.ndim != 1 else view


def _words(data, byteorder, caller, typecode):
    """The words of `data` as an array of 4-byte `typecode` items in host order."""
    _check_byteorder(byteorder)
    raw = _raw_bytes(data, caller)
    if len(raw) % 4:
        raise FormatError('%s: IBM float data of %d bytes is not a whole number of 4-byte words'
                          % (caller, len(raw)))
    words = array_from_bytes(typecode, raw)
    if byteorder != sys.byteorder:
        words.byteswap()
    return words


def in_chunks(convert, count, *arrays):
    """Runs the library's `convert` over `count` items, CHUNK at a time: `arrays` are (address,
    item size) pairs, each call gets their addresses at the chunk and its length. The sum of
    the calls' results (none for functions that return nothing)."""
    total = 0
    for start in range(0, count, CHUNK):
        result = convert(*[address + size * start for address, size in arrays] +
                         [min(CHUNK, count - start)])
        total += result or 0
    return total


def ibm2ieee_in_place(values):
    """Converts the host-order IBM words held in array('f') `values` to IEEE, in place."""
    address, count = values.buffer_info()
    in_chunks(native.ibmfloat().ibm2ieee, count, (address, 4))


def ibm_to_float32(data, byteorder='big'):
    """The IBM words in bytes-like `data` (byte order `byteorder`) as an array('f') in host order.

    Each value is rounded once to the nearest float32, ties to even; zero fractions give zeros of
    the word's sign, values beyond the float range infinities of their sign. The length of `data`
    in bytes must be a multiple of 4 (FormatError otherwise).
    """
    # The words are converted in place in the array that is returned: no second copy.
    values = _words(data, byteorder, 'ibm_to_float32', 'f')
    ibm2ieee_in_place(values)
    return values


def ibm_to_float64(data, byteorder='big'):
    """The exact values of the IBM words in bytes-like `data` (byte order `byteorder`) as an
    array('d') in host order.

    Every IBM single is a double, so nothing is rounded, and unnormalised fractions convert like
    any other; a zero fraction gives a zero of the word's sign. The length of `data` in bytes must
    be a multiple of 4 (FormatError otherwise).
    """
    words = _words(data, byteorder, 'ibm_to_float64', 'i')
    count = len(words)
    values = array('d', [0.0]) * count
    in_chunks(native.ibmfloat().ibm2double, count, (words.buffer_info()[0], 4),
              (values.buffer_info()[0], 8))
    return values


def _float32_words(values):
    """The float32 bits of `values` as an array('i') in host order: the bytes of an array('f')
    or of a buffer of host-order float32 items, else the numbers of any iterable, each rounded
    to float32 (those beyond the float32 range become infinities)."""
    if isinstance(values, array) and values.typecode == 'f':
        return array_from_bytes('i', array_to_bytes(values) if PY2
                                else memoryview(values).cast('B'))
    if isinstance(values, (bytes, bytearray, text_type)):
        raise TypeError("float32_to_ibm needs numbers or float32 items, not %s (for raw float32 "
                        "bytes pass array('f', ...) built from them)" % type(values).__name__)
    try:
        view = memoryview(values)
    except TypeError:
        view = None
    if view is not None and view.format in _HOST_FLOAT32:
        return array_from_bytes('i', view.tobytes() if PY2 or not view.c_contiguous
                                else view.cast('B'))
    return array_from_bytes('i', array_to_bytes(array('f', values)))


def float32_to_ibm(values, byteorder='big', saturate=False):
    """IBM single-precision words, as bytes in byte order `byteorder`, for float32 `values`.

    `values` is an array('f'), a buffer of host-order float32 items (memoryview, numpy float32
    array) or any iterable of numbers, which are first rounded to float32. Each float gives the
    IBM word nearest to it, ties to the even fraction; every finite float32 has one.
    Infinities and NaNs have none: by default the first of them raises ValueError naming its
    index. With saturate=True they become the largest IBM magnitude of their sign (0x7FFFFFFF,
    0xFFFFFFFF) and the result is a pair (bytes, number of such values).
    """
    _check_byteorder(byteorder)
    words = _float32_words(values)
    address, count = words.buffer_info()
    no_value = in_chunks(native.ibmfloat().ieee2ibm, count, (address, 4))
    if no_value and not saturate:
        index = min(words.index(w) for w in _SATURATED if w in words)
        try:
            shown = ' (%r)' % (values[index],)
        except Exception:  # an iterable without indexing: the index says enough
            shown = ''
        raise ValueError('float32_to_ibm: value %d%s is infinite or NaN as a float32 and has no '
                         'IBM single; pass saturate=True to write the largest IBM magnitude of '
                         'its sign instead' % (index, shown))
    if byteorder != sys.byteorder:
        words.byteswap()
    data = array_to_bytes(words)
    return (data, no_value) if saturate else data
