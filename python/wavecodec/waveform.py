"""The Waveform record: a WID2 header dict and its samples as array('i')."""
import sys
from array import array

from .compat import array_from_bytes
from .errors import FormatError
from .header import describe

INT32_MIN = -2147483648
INT32_MAX = 2147483647


def _int32_buffer(samples):
    """The bytes of `samples` when it exposes a one-dimensional buffer of native 32-bit ints
    (a numpy int32 array, a memoryview of one), else None."""
    try:
        view = memoryview(samples)
    except TypeError:
        return None
    native = ('i', '@i', '=i', '<i' if sys.byteorder == 'little' else '>i')
    if view.ndim == 1 and view.itemsize == 4 and view.format in native:
        return view.tobytes()
    return None


def as_int32_array(samples):
    """`samples` (any sequence of ints, array('i'), or a buffer of int32 such as a numpy array)
    as a new array('i'); FormatError for values outside 32 bits or that are not integers."""
    if isinstance(samples, array) and samples.typecode == 'i':
        return array('i', samples)
    data = _int32_buffer(samples)
    if data is not None:
        # One copy of the raw buffer, no per-sample Python work.
        return array_from_bytes('i', data)
    try:
        return array('i', samples)
    except OverflowError:
        raise FormatError('samples outside the 32-bit range %d..%d' % (INT32_MIN, INT32_MAX))
    except TypeError as e:
        raise FormatError('samples must be integers (%s)' % e)


class Waveform(object):
    """One waveform. `header` is a dict of WID2 fields by their C names, `samples` an
    array('i') (numpy can view it without a copy: numpy.frombuffer(w.samples, 'i4')).

    Waveforms returned by read() also carry `checksum` (the CHK2 value of the file, or None),
    `computed_checksum` (over the samples) and `error` (None, or the message of the fault found
    when reading with strict=False).
    """

    def __init__(self, header, samples=()):
        if not isinstance(header, dict):
            raise FormatError('header must be a dict of WID2 fields')
        self.header = dict(header)
        self.samples = as_int32_array(samples)
        self.checksum = None
        self.computed_checksum = None
        self.error = None

    @property
    def ok(self):
        return self.error is None

    def __len__(self):
        return len(self.samples)

    def __repr__(self):
        return '<Waveform %s, %d samples%s>' % (describe(self.header), len(self.samples),
                                                '' if self.error is None else ', bad')
