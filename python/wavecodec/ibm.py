"""IBM System/360 single-precision words (big-endian, as stored in files) to IEEE float32."""
import sys

from . import native
from .compat import array_from_bytes
from .errors import FormatError

# Words per library call: keeps each count within a C int.
_CHUNK = 1 << 28


def ibm_to_float32(data):
    """The big-endian IBM words in `data` (bytes, bytearray or memoryview) as an array('f')
    in host order.

    Zero fractions give zeros, values beyond the float range infinities of their sign; the
    length of `data` must be a multiple of 4.
    """
    if len(data) % 4:
        raise FormatError('IBM float data of %d bytes is not a whole number of 4-byte words'
                          % len(data))
    lib = native.ibmfloat()
    # The words are converted in place in the array that is returned: no second copy.
    values = array_from_bytes('f', data)
    if sys.byteorder == 'little':
        values.byteswap()
    address, count = values.buffer_info()
    for start in range(0, count, _CHUNK):
        lib.ibm2ieee(address + 4 * start, min(_CHUNK, count - start))
    return values
