"""libmseedio through ctypes: its structures (mseedio_stream, mseedio_record, mseedio_run,
mseedio_reader), its functions, and Python wrappers that turn its failures into exceptions.

The library is found like the package's others (explicit path, MSEEDIO_LIBRARY, installed
locations, build/release/mseedio of a checkout); it is loaded on first use only, so the rest of
the package works without it.
"""
import ctypes
import mmap
from array import array

from .. import native
from ..compat import PY2, array_from_bytes
from ..errors import FormatError

INT32 = 3
STEIM1 = 10
STEIM2 = 11
ENCODINGS = {'int32': INT32, 'steim1': STEIM1, 'steim2': STEIM2}
ENCODING_NAMES = {INT32: 'int32', STEIM1: 'steim1', STEIM2: 'steim2', 1: 'int16',
                  4: 'float32', 5: 'float64', 0: 'text'}

EARGUMENT, ERANGE, ESPACE, ETRUNCATED, ENOTRECORD, ECORRUPT, ESAMPLES, ELIBRARY, EVERSION = \
    -1, -2, -3, -4, -5, -6, -7, -8, -9
MAX_RECORD_SAMPLES = 65535
MAX_RECORD_LENGTH = 1 << 20
_MESSAGE_SIZE = 768

# Kinds of runs and their flags (mseedio.h).
RUN_INT32, RUN_FLOAT32, RUN_FLOAT64, RUN_TEXT, RUN_EMPTY = 1, 2, 3, 4, 5
KIND_NAMES = {RUN_INT32: 'int32', RUN_FLOAT32: 'float32', RUN_FLOAT64: 'float64',
              RUN_TEXT: 'text', RUN_EMPTY: 'empty'}
LITTLE_ENDIAN, NO_BLOCKETTE1000, NO_DATA_OFFSET = 1, 2, 4


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


class Run(ctypes.Structure):
    _fields_ = [
        ('stream', Stream),
        ('nominal_rate', ctypes.c_double),
        ('blockette100_rate', ctypes.c_float),
        ('kind', ctypes.c_int32),
        ('end', ctypes.c_int64),
        ('offset', ctypes.c_int64),
        ('first_record', ctypes.c_int64),
        ('records', ctypes.c_int64),
        ('sample_start', ctypes.c_int64),
        ('sample_count', ctypes.c_int64),
        ('flags', ctypes.c_int32),
        ('reserved', ctypes.c_int32),
    ]


class Reader(ctypes.Structure):
    _fields_ = [
        ('data', ctypes.c_void_p),
        ('length', ctypes.c_size_t),
        ('position', ctypes.c_size_t),
        ('final', ctypes.c_int32),
        ('seeking', ctypes.c_int32),
        ('record_number', ctypes.c_int64),
        ('samples', ctypes.c_void_p),
        ('capacity', ctypes.c_size_t),
        ('used', ctypes.c_size_t),
        ('other', ctypes.c_void_p),
        ('other_capacity', ctypes.c_size_t),
        ('other_used', ctypes.c_size_t),
        ('runs', ctypes.POINTER(Run)),
        ('max_runs', ctypes.c_size_t),
        ('run_count', ctypes.c_size_t),
        ('network', ctypes.c_char_p),
        ('station', ctypes.c_char_p),
        ('location', ctypes.c_char_p),
        ('channel', ctypes.c_char_p),
        ('window_start', ctypes.c_int64),
        ('window_end', ctypes.c_int64),
        ('passed_over', ctypes.c_int64),
        ('message', ctypes.c_char * 512),
    ]


assert ctypes.sizeof(Stream) == 48 and ctypes.sizeof(Record) == 72
assert ctypes.sizeof(Run) == 120 and ctypes.sizeof(Reader) == 680


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
    lib.mseedio_read.argtypes = [ctypes.POINTER(Reader)]
    lib.mseedio_read.restype = ctypes.c_int


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
        raise FormatError('sample rate %r has no factor and multiplier in libmseed '
                          '(rates are products or quotients of two numbers up to 32767)'
                          % (rate,))
    return status == 1, factor.value, multiplier.value


# Output buffers of this many bytes or more are anonymous maps, smaller ones bytearrays (which
# reuse memory the process freed before).
_MAPPED_OUTPUT = 1 << 24


class PackError(FormatError):
    """A waveform that the records cannot hold; `.sample` is the 1-based sample at fault for a
    difference out of the encoding's range, else None."""

    def __init__(self, text, sample=None):
        FormatError.__init__(self, text)
        self.sample = sample


def pack(stream, samples, first_sequence=1):
    """(records as a bytes-like object, number of records) of array('i') `samples` for
    `stream`: a bytearray, or for many samples under Python 3 a view of an anonymous map (its
    pages cost only where records were written; a bytearray is zeroed whole)."""
    lib = library()
    count = len(samples)
    address = samples.buffer_info()[0] if count else None
    message = ctypes.create_string_buffer(_MESSAGE_SIZE)
    used = ctypes.c_size_t(0)
    # Room for the usual case (compressed data are rarely larger than the int32 samples); the
    # library says how much it needs otherwise, and the second call gets exactly that.
    capacity = 4 * count + 2 * stream.record_length
    for _ in range(2):
        mapped = capacity >= _MAPPED_OUTPUT and not PY2
        out = mmap.mmap(-1, capacity) if mapped else bytearray(capacity)
        view = (ctypes.c_char * capacity).from_buffer(out)
        status = lib.mseedio_pack(ctypes.byref(stream), address, count, first_sequence, view,
                                  capacity, ctypes.byref(used), message, _MESSAGE_SIZE)
        del view
        if status != ESPACE:
            break
        capacity = used.value
    if status < 0:
        raise PackError(_text(message), used.value + 1 if status == ERANGE else None)
    if mapped:
        return memoryview(out)[:used.value], status
    del out[used.value:]
    return out, status


class UnpackError(FormatError):
    """A record that cannot be read; `.code` is the library's failure code."""

    def __init__(self, text, code):
        FormatError.__init__(self, text)
        self.code = code


def _address(data):
    """(address, object keeping it valid) of a bytes-like object."""
    if isinstance(data, bytes):
        keep = ctypes.c_char_p(data)
        return ctypes.cast(keep, ctypes.c_void_p).value or 0, keep
    keep = (ctypes.c_char * len(data)).from_buffer(data)
    return ctypes.addressof(keep), keep


class Unpacker(object):
    """Reads records one by one from a bytes-like object, reusing one sample buffer."""

    def __init__(self, data):
        self.lib = library()
        self.data = data
        self.size = len(data)
        self.address, self._keep = _address(data)
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


# The block reader's buffers: integer samples, other samples (float, double, text) and runs.
SAMPLE_ROOM = 1 << 16
OTHER_ROOM = MAX_RECORD_LENGTH + (1 << 16)
RUN_ROOM = 256


class BlockReader(object):
    """mseedio_read over blocks of one input: feed(block, final) decodes what the block holds
    into runs, in buffers kept from block to block."""

    def __init__(self, selection=None):
        self.lib = library()
        self.state = Reader()
        # The samples' buffer is small and used at once; the other one (float and text samples,
        # rare) an anonymous map, whose pages cost nothing until written.
        self.samples = bytearray(4 * SAMPLE_ROOM)
        self.other = mmap.mmap(-1, OTHER_ROOM)
        self.runs = (Run * RUN_ROOM)()
        self._samples = (ctypes.c_char * len(self.samples)).from_buffer(self.samples)
        self._other = (ctypes.c_char * len(self.other)).from_buffer(self.other)
        s = self.state
        s.samples = ctypes.addressof(self._samples)
        s.capacity = SAMPLE_ROOM
        s.other = ctypes.addressof(self._other)
        s.other_capacity = OTHER_ROOM
        s.runs = self.runs
        s.max_runs = RUN_ROOM
        s.window_start = -(1 << 63)
        s.window_end = (1 << 63) - 1
        if selection is not None:
            selection.configure(s)

    def read(self, data, final):
        """Decodes from `data` (bytes, bytearray or a writable memoryview) at the state's
        position: returns the status of mseedio_read (the runs are in
        self.runs[:state.run_count])."""
        s = self.state
        s.data, self._keep = _address(data)
        s.length = len(data)
        s.final = 1 if final else 0
        return self.lib.mseedio_read(ctypes.byref(s))

    def reset(self):
        """Forgets the runs and samples taken by the caller."""
        s = self.state
        s.run_count = s.used = s.other_used = 0

    def message(self):
        return self.state.message.decode("ascii", "replace")

    def close(self):
        self._keep = None
        del self._samples, self._other
        self.other.close()
