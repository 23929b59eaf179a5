"""The Waveform record: a WID2 header dict and its samples as array('i')."""
from array import array

from .compat import array_from_bytes
from .errors import FormatError
from .header import describe

INT32_MIN = -2147483648
INT32_MAX = 2147483647


def as_int32_array(samples):
    """`samples` (any sequence of ints, array('i') or an int32-compatible numpy array) as a new
    array('i'); FormatError for values outside 32 bits or that are not integers."""
    if isinstance(samples, array) and samples.typecode == 'i':
        return array('i', samples)
    dtype = getattr(samples, 'dtype', None)
    if dtype is not None and getattr(dtype, 'kind', '') in 'iu':
        # numpy: one range check and a single copy of the raw buffer, no per-sample Python work.
        if len(samples) and (samples.min() < INT32_MIN or samples.max() > INT32_MAX):
            raise FormatError('samples outside the 32-bit range (%d..%d)'
                              % (samples.min(), samples.max()))
        return array_from_bytes('i', samples.astype('=i4').tobytes())
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
