"""libmseedio through ctypes: its two records (mseedio_stream, mseedio_record), its functions,
and Python wrappers that turn its failures into exceptions.

The library is found like the package's others (explicit path, MSEEDIO_LIBRARY, installed
locations, build/release/mseedio of a checkout); it is loaded on first use only, so the rest of
the package works without it.
"""
import ctypes
from array import array

from .. import native
from ..compat import array_from_bytes
from ..errors import FormatError

INT32 = 3
STEIM1 = 10
STEIM2 = 11
ENCODINGS = {'int32': INT32, 'steim1': STEIM1, 'steim2': STEIM2}
ENCODING_NAMES = {INT32: 'int32', STEIM1: 'steim1', STEIM2: 'steim2', 1: 'int16',
                  4: 'float32', 5: 'float64', 0: 'text'}

EARGUMENT, ERANGE, ESPACE, ETRUNCATED, ENOTRECORD, ECORRUPT, ESAMPLES, ELIBRARY = \
    -1, -2, -3, -4, -5, -6, -7, -8
MAX_RECORD_SAMPLES = 65535
_MESSAGE_SIZE = 768


class Stream(ctypes.Structure):
    _fields_ = [
        ('network', ctypes.c_char * 3),
        ('station', ctypes.c_char * 6),
        ('location', ctypes.c_char * 3),
        ('channel', ctypes.c_char * 4),
        ('quality', ctypes.c_char),
        ('reserved', ctypes.c_char * 3),
        ('start', ctypes.c_int64),
        ('rate', ctypes.c_double),
        ('record_length', ctypes.c_int32),
        ('encoding', ctypes.c_int32),
    ]


class Record(ctypes.Structure):
    _fields_ = [
        ('stream', Stream),
        ('nominal_rate', ctypes.c_double),
        ('blockette100_rate', ctypes.c_float),
        ('sample_count', ctypes.c_int32),
        ('sequence_number', ctypes.c_int32),
        ('reserved', ctypes.c_int32),
    ]


assert ctypes.sizeof(Stream) == 48 and ctypes.sizeof(Record) == 72


def _declare(lib):
    size_p = ctypes.POINTER(ctypes.c_size_t)
    lib.mseedio_rate_fields.argtypes = [ctypes.c_double, ctypes.POINTER(ctypes.c_int16),
                                        ctypes.POINTER(ctypes.c_int16)]
    lib.mseedio_rate_fields.restype = ctypes.c_int
    lib.mseedio_pack.argtypes = [ctypes.POINTER(Stream), ctypes.c_void_p, ctypes.c_size_t,
                                 ctypes.c_int32, ctypes.c_void_p, ctypes.c_size_t, size_p,
                                 ctypes.c_char_p, ctypes.c_size_t]
    lib.mseedio_pack.restype = ctypes.c_int
    lib.mseedio_unpack.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.POINTER(Record),
                                   ctypes.c_void_p, ctypes.c_size_t, ctypes.c_char_p,
                                   ctypes.c_size_t]
    lib.mseedio_unpack.restype = ctypes.c_int


native.register('mseedio', 'MSEEDIO_LIBRARY', ('libmseedio.so.1', 'libmseedio.so'), 'mseedio',
                _declare, hint=' (it is built only where libmseed is installed: Debian package '
                'libmseed-dev; scripts/setup.sh build installs it)')


def library(path=None):
    """The loaded libmseedio (LibraryNotFoundError naming every place tried)."""
    return native.load('mseedio', path)


def _text(buffer):
    return buffer.value.decode('ascii', 'replace')


def rate_fields(rate):
    """(exact, factor, multiplier) of `rate` as the records write it: exact is False when the
    records need blockette 100. FormatError for a rate the records cannot hold."""
    factor, multiplier = ctypes.c_int16(), ctypes.c_int16()
    status = library().mseedio_rate_fields(rate, ctypes.byref(factor), ctypes.byref(multiplier))
    if status < 0:
        raise FormatError('sample rate %r is not above 0 and at most 32767' % (rate,))
    return status == 1, factor.value, multiplier.value


class PackError(FormatError):
    """A waveform that the records cannot hold; `.sample` is the 1-based sample at fault for a
    difference out of the encoding's range, else None."""

    def __init__(self, text, sample=None):
        FormatError.__init__(self, text)
        self.sample = sample


def pack(stream, samples, first_sequence=1):
    """(records as bytes, number of records) of array('i') `samples` for `stream` (a Stream)."""
    lib = library()
    count = len(samples)
    address = samples.buffer_info()[0] if count else None
    message = ctypes.create_string_buffer(_MESSAGE_SIZE)
    used = ctypes.c_size_t(0)
    # Room for the usual case (compressed data are rarely larger than the int32 samples); the
    # library says how much it needs otherwise, and the second call gets exactly that.
    capacity = 4 * count + 2 * stream.record_length
    for _ in range(2):
        out = ctypes.create_string_buffer(capacity)
        status = lib.mseedio_pack(ctypes.byref(stream), address, count, first_sequence, out,
                                  capacity, ctypes.byref(used), message, _MESSAGE_SIZE)
        if status != ESPACE:
            break
        capacity = used.value
    if status < 0:
        raise PackError(_text(message), used.value + 1 if status == ERANGE else None)
    return ctypes.string_at(out, used.value), status


class UnpackError(FormatError):
    """A record that cannot be read; `.code` is the library's failure code."""

    def __init__(self, text, code):
        FormatError.__init__(self, text)
        self.code = code


class Unpacker(object):
    """Reads records one by one from a bytes-like object, reusing one sample buffer."""

    def __init__(self, data):
        self.lib = library()
        self.data = data
        self.size = len(data)
        if isinstance(data, bytes):
            self._keep = ctypes.c_char_p(data)
            self.address = ctypes.cast(self._keep, ctypes.c_void_p).value or 0
        else:
            self._keep = (ctypes.c_char * self.size).from_buffer(data)
            self.address = ctypes.addressof(self._keep)
        self.record = Record()
        self.samples = (ctypes.c_int32 * MAX_RECORD_SAMPLES)()
        self.message = ctypes.create_string_buffer(_MESSAGE_SIZE)

    def unpack(self, offset):
        """(record length, Record, array('i') of its samples) of the record at `offset`."""
        status = self.lib.mseedio_unpack(self.address + offset, self.size - offset,
                                         ctypes.byref(self.record), self.samples,
                                         MAX_RECORD_SAMPLES, self.message, _MESSAGE_SIZE)
        if status < 0:
            raise UnpackError(_text(self.message), status)
        n = self.record.sample_count
        return status, self.record, array_from_bytes('i', ctypes.string_at(self.samples, 4 * n)) \
            if n else array('i')
