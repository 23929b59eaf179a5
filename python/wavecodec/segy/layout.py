"""Where the traces of a file lie: fixed-length traces found by arithmetic, varying ones by a
scan of their headers. Also the byte-order guess for headers that do not state it."""
import struct

from ..errors import FormatError
from .fields import BINARY, TRACE, TRACE_HEADER_SIZE
from .samples import FORMATS

BYTE_ORDER_MARK = 0x01020304
_SAMPLE_COUNT = TRACE.field_offset('sample_count')
_COUNT = {'big': struct.Struct('>H'), 'little': struct.Struct('<H')}


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


def header_sample_count(raw_header, endian):
    return _COUNT[endian].unpack_from(raw_header, _SAMPLE_COUNT)[0]


class Fixed(object):
    """Traces of one length from `start`: trace i at start + i * size."""

    varying = False

    def __init__(self, start, samples, sample_size, count):
        self.start = start
        self.samples = samples
        self.size = TRACE_HEADER_SIZE + samples * sample_size
        self.count = count

    def span(self, i):
        return self.start + i * self.size, self.samples


class Scanned(object):
    """Traces whose lengths vary: the offset and sample count of each, from their headers."""

    varying = True

    def __init__(self, offsets, counts):
        self.offsets = offsets
        self.counts = counts
        self.count = len(offsets)

    def span(self, i):
        return self.offsets[i], self.counts[i]


def fixed(name, start, end, samples, sample_size, strict):
    """The Fixed layout of [start, end); (layout, truncation message or None)."""
    size = TRACE_HEADER_SIZE + samples * sample_size
    count, rest = divmod(end - start, size)
    note = None
    if rest:
        note = ('%s: trace %d (the last) is truncated: %d of its %d bytes are present'
                % (name, count, rest, size))
        if strict:
            raise FormatError(note)
    return Fixed(start, samples, sample_size, count), note


def scan(name, read_at, start, end, default_samples, sample_size, endian, strict, su=False):
    """The Scanned layout of [start, end): each trace header's sample count gives the trace's
    length (a count of zero means `default_samples`, where there is one)."""
    offsets, counts = [], []
    at = start
    note = None
    while at < end:
        index = len(offsets)
        raw = read_at(at, min(TRACE_HEADER_SIZE, end - at))
        if len(raw) < TRACE_HEADER_SIZE:
            note = ('%s: trace %d (the last) is truncated: %d bytes, less than its 240-byte '
                    'header' % (name, index, len(raw)))
            break
        samples = header_sample_count(raw, endian) or default_samples
        if not samples:
            raise FormatError("%s: trace %d: %s is 0 and the traces' lengths vary"
                              % (name, index, TRACE.describe('sample_count')))
        size = TRACE_HEADER_SIZE + samples * sample_size
        if at + size > end:
            note = ('%s: trace %d (the last) is truncated: %d of its %d bytes are present'
                    % (name, index, end - at, size))
            break
        offsets.append(at)
        counts.append(samples)
        at += size
    if note and strict:
        raise FormatError(note)
    return Scanned(offsets, counts), note
