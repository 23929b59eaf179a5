"""Where the traces of a file lie: fixed-length traces found by arithmetic, the others by a scan
of every trace header. Also the byte-order guess for headers that do not state it."""
import struct

from ..errors import FormatError
from .fields import BINARY, EXTENSION1, TRACE, TRACE_HEADER_SIZE
from .samples import FORMATS

BYTE_ORDER_MARK = 0x01020304
_SAMPLE_COUNT = TRACE.field_offset('sample_count')
_EXTRA_COUNT = EXTENSION1.field_offset('additional_trace_headers')
_COUNT = {'big': struct.Struct('>H'), 'little': struct.Struct('<H')}
# Bytes read at a time by the header scan.
SCAN_BYTES = 1 << 20


def guess_endian(raw_binary):
    """'big' or 'little' for a binary header: its byte-order field where it holds the mark, else
    the order in which the format code and the sample count are plausible (big on a tie)."""
    mark = struct.unpack_from('>I', raw_binary, BINARY.field_offset('byte_order'))[0]
    if mark == BYTE_ORDER_MARK:
        return 'big'
    if mark == 0x04030201:
        return 'little'
    scores = {}
    for endian in ('big', 'little'):
        h = BINARY.decode(raw_binary, endian)
        scores[endian] = ((h['format'] in FORMATS) * 2 + (0 < h['samples_per_trace'])
                          + (0 < h['sample_interval']))
    return 'little' if scores['little'] > scores['big'] else 'big'


def header_sample_count(raw_header, endian, at=0):
    return _COUNT[endian].unpack_from(raw_header, at + _SAMPLE_COUNT)[0]


class Fixed(object):
    """Traces of one length from `start`: trace i at start + i * size, each `extra` additional
    240-byte headers after its standard one."""

    varying = False

    def __init__(self, start, samples, sample_size, count, extra=0):
        self.start = start
        self.samples = samples
        self.extra = extra
        self.header_size = TRACE_HEADER_SIZE * (1 + extra)
        self.size = self.header_size + samples * sample_size
        self.count = count

    def span(self, i):
        return self.start + i * self.size, self.samples

    def extras(self, i):
        return self.extra


class Scanned(object):
    """Traces whose lengths vary: the offset, sample count and additional headers of each."""

    varying = True

    def __init__(self, offsets, counts, extras):
        self.offsets = offsets
        self.counts = counts
        self._extras = extras
        self.count = len(offsets)

    def span(self, i):
        return self.offsets[i], self.counts[i]

    def extras(self, i):
        return self._extras[i]


def fixed(name, start, end, samples, sample_size, strict, extra=0):
    """The Fixed layout of [start, end); (layout, truncation message or None)."""
    size = TRACE_HEADER_SIZE * (1 + extra) + samples * sample_size
    count, rest = divmod(end - start, size)
    note = None
    if rest:
        note = ('%s: trace %d (the last) is truncated: %d of its %d bytes are present'
                % (name, count, rest, size))
        if strict:
            raise FormatError(note)
    return Fixed(start, samples, sample_size, count, extra), note


def contradiction(name, index, found, samples):
    return FormatError("%s: trace %d: %s is %d but the file's traces are all %d samples long "
                       "(its binary header says so): the file is not what its headers say"
                       % (name, index, TRACE.describe('sample_count'), found, samples))


class _Window(object):
    """Bytes of [start, end) read SCAN_BYTES at a time: header look-ups without a read each."""

    def __init__(self, read_at, end):
        self.read_at = read_at
        self.end = end
        self.at = 0
        self.data = b''

    def get(self, offset, size):
        """(buffer, position in it) holding `size` bytes at `offset`, or None past the end."""
        if not (self.at <= offset and offset + size <= self.at + len(self.data)):
            self.at = offset
            self.data = self.read_at(offset, min(max(SCAN_BYTES, size), self.end - offset))
            if len(self.data) < size:
                return None
        return self.data, offset - self.at


def scan(name, read_at, start, end, default_samples, sample_size, endian, strict, extra=0,
         fixed_samples=None):
    """The layout of [start, end) from every trace header: its sample count gives the trace's
    length (zero means `default_samples` where there is one), or with `fixed_samples` every trace
    has that length and a header saying otherwise is a fault. With `extra` additional headers
    a trace's own count (extension 1's bytes 157-158) may be smaller. Traces that turn out to be
    of one length give the Fixed layout. (layout, truncation message or None)."""
    offsets, counts, extras = [], [], []
    window = _Window(read_at, end)
    at = start
    note = None
    # The standard header and, with additional headers, extension 1 (its own count).
    head = TRACE_HEADER_SIZE * (2 if extra else 1)
    while at < end:
        index = len(offsets)
        got = window.get(at, head)
        if got is None:
            note = ('%s: trace %d (the last) is truncated: %d bytes, less than its %d bytes of '
                    'headers' % (name, index, end - at, head))
            break
        data, pos = got
        found = header_sample_count(data, endian, pos)
        if fixed_samples is not None:
            if found and found != fixed_samples:
                raise contradiction(name, index, found, fixed_samples)
            samples = fixed_samples
        else:
            samples = found or default_samples
        if not samples:
            raise FormatError("%s: trace %d: %s is 0 and the traces' lengths vary"
                              % (name, index, TRACE.describe('sample_count')))
        own = extra
        if extra:
            own = _COUNT[endian].unpack_from(data, pos + TRACE_HEADER_SIZE + _EXTRA_COUNT)[0] \
                or extra
            if own > extra:
                raise FormatError('%s: trace %d: %s is %d, more than the %d of %s'
                                  % (name, index, EXTENSION1.describe('additional_trace_headers'),
                                     own, extra, BINARY.describe('additional_trace_headers')))
        size = TRACE_HEADER_SIZE * (1 + own) + samples * sample_size
        if at + size > end:
            note = ('%s: trace %d (the last) is truncated: %d of its %d bytes are present'
                    % (name, index, end - at, size))
            break
        offsets.append(at)
        counts.append(samples)
        extras.append(own)
        at += size
    if note and strict:
        raise FormatError(note)
    if offsets and len(set(counts)) == 1 and len(set(extras)) == 1:
        return Fixed(start, counts[0], sample_size, len(offsets), extras[0]), note
    if not offsets:
        return Fixed(start, default_samples or fixed_samples or 0, sample_size, 0, extra), note
    return Scanned(offsets, counts, extras), note
