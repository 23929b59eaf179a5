"""Where the traces lie: fixed-length traces found by arithmetic, the others by a walk over every
trace header. The positions classes (Fixed, Scanned) are what layout.py hands the file object."""
import struct

from ..compat import array_from_bytes
from .fields import EXTENSION1, EXTENSION1_NAME, NAME_AT, TRACE, TRACE_HEADER_SIZE
from .samples import HOST

# Bytes read at a time by the header walk.
SCAN_BYTES = 1 << 20
_TWO = {'big': struct.Struct('>H'), 'little': struct.Struct('<H')}
_FOUR = {'big': struct.Struct('>I'), 'little': struct.Struct('<I')}
_COUNT_AT = TRACE.field_offset('sample_count')
_INTERVAL_AT = TRACE.field_offset('sample_interval')
_OWN_COUNT_AT = TRACE_HEADER_SIZE + EXTENSION1.field_offset('sample_count')
_OWN_EXTRA_AT = TRACE_HEADER_SIZE + EXTENSION1.field_offset('additional_trace_headers')
_NAME_AT = TRACE_HEADER_SIZE + NAME_AT


class Fixed(object):
    """Traces of one length from `start`: trace i at start + i * size, each `extra` additional
    240-byte headers after its standard one (header_size bytes of headers in all)."""

    varying = lengths_vary = False

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
    """Traces found one by one (their lengths, or their numbers of additional headers, vary):
    offsets[i], counts[i] and extra_counts[i] of each trace; lengths_vary when the counts
    differ."""

    varying = True

    def __init__(self, offsets, counts, extra_counts):
        self.offsets = offsets
        self.counts = counts
        self.extra_counts = extra_counts
        self.count = len(offsets)
        self.lengths_vary = len(set(counts)) > 1

    def span(self, i):
        return self.offsets[i], self.counts[i]

    def extras(self, i):
        return self.extra_counts[i]


def truncation(index, present, size):
    return 'trace %d (the last) is truncated: %d of its %d bytes are present' % (
        index, present, size)


class Reading(object):
    """One reading of the traces of [start, end): `traces` (Fixed or Scanned) of the whole
    traces found; `fits` when they end exactly at `end`, else `stop` says where and why;
    `by_headers` whether each trace header gave its length (else the binary header's did);
    `differ`, `first_differ` the trace headers that give another length than the one read
    (with its index and value); intervals() the trace headers' distinct intervals."""

    def __init__(self, traces, by_headers, stop=None):
        self.traces = traces
        self.count = traces.count
        self.by_headers = by_headers
        self.fits = stop is None
        self.stop = stop
        self.differ = 0
        self.first_differ = None
        self.interval_set = set()

    def intervals(self):
        """The distinct intervals (bytes 117-118) of the trace headers read."""
        return set(self.interval_set)


def strided_array(source, offset, step, count, endian):
    """The two-byte unsigned field at offset + k * step for k < count, as array('H')."""
    values = array_from_bytes('H', bytes(source.strided(offset, step, count, 2)) if count
                              else b'')
    if endian != HOST:
        values.byteswap()
    return values


def agreeing_counts(samples):
    """The two-byte counts that agree with a length of `samples`: 0 (none given) and the
    length itself, or above 65535, which no two-byte count holds, 65535 and the length's low
    sixteen bits (what writers put there)."""
    if samples <= 0xffff:
        return frozenset((0, samples))
    return frozenset((0, 0xffff, samples & 0xffff))


def arithmetic(source, start, end, samples, sample_size, endian):
    """Traces of the binary header's length without additional headers: found by arithmetic;
    the headers' own counts are counted (strided reads of one field) when the size fits."""
    traces = Fixed(start, samples, sample_size, 0)
    count, rest = divmod(end - start, traces.size)
    traces.count = count
    reading = Reading(traces, False, truncation(count, rest, traces.size) if rest else None)
    if rest or not count:
        return reading
    told = strided_array(source, start + _COUNT_AT, traces.size, count, endian)
    agreeing = agreeing_counts(samples)
    reading.differ = count - sum(told.count(v) for v in agreeing)
    if reading.differ:
        k = next(k for k, v in enumerate(told) if v not in agreeing)
        reading.first_differ = (k, told[k])
    reading.intervals = lambda: set(strided_array(source, start + _INTERVAL_AT, traces.size,
                                                  count, endian))
    return reading


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


def walk(source, start, end, samples, sample_size, endian, extra, by_headers):
    """The traces of [start, end) header by header. A trace's length: with `by_headers` its
    own count (extension 1's bytes 137-140 where it has one named SEG00001 and they are not 0,
    else bytes 115-116, else the binary header's `samples`), otherwise `samples`. With `extra`
    additional headers a trace has that many, or fewer where extension 1's bytes 157-158 say
    so. Traces that turn out to be of one length give the Fixed layout."""
    offsets, counts, extras = [], [], []
    intervals = set()
    differ, first_differ = 0, None
    two, four = _TWO[endian], _FOUR[endian]
    agreeing = agreeing_counts(samples)
    window = _Window(source.read_at, end)
    head = TRACE_HEADER_SIZE * (2 if extra else 1)
    at = start
    stop = None
    while at < end:
        index = len(offsets)
        got = window.get(at, head)
        if got is None:
            stop = ('trace %d (the last) is truncated: %d bytes, less than its %d bytes of '
                    'headers' % (index, end - at, head))
            break
        data, pos = got
        told = two.unpack_from(data, pos + _COUNT_AT)[0]
        intervals.add(two.unpack_from(data, pos + _INTERVAL_AT)[0])
        own, own_count = extra, 0
        if extra and data[pos + _NAME_AT:pos + _NAME_AT + 8] == EXTENSION1_NAME:
            own = two.unpack_from(data, pos + _OWN_EXTRA_AT)[0] or extra
            own_count = four.unpack_from(data, pos + _OWN_COUNT_AT)[0]
            if own > extra:
                stop = ('trace %d: %s is %d, more than the binary header allows (%d)'
                        % (index, EXTENSION1.describe('additional_trace_headers'), own, extra))
                break
        if by_headers:
            n = own_count or told or samples
            if not n:
                stop = ('trace %d: %s is 0 and the binary header gives no length'
                        % (index, TRACE.describe('sample_count')))
                break
        else:
            n = samples
            if (own_count and own_count != samples) or \
                    (not own_count and told not in agreeing):
                differ += 1
                first_differ = first_differ or (index, own_count or told)
        size = TRACE_HEADER_SIZE * (1 + own) + n * sample_size
        if at + size > end:
            stop = truncation(index, end - at, size)
            break
        offsets.append(at)
        counts.append(n)
        extras.append(own)
        at += size
    if offsets and len(set(counts)) == 1 and len(set(extras)) == 1:
        traces = Fixed(start, counts[0], sample_size, len(offsets), extras[0])
    elif offsets:
        traces = Scanned(offsets, counts, extras)
    else:
        traces = Fixed(start, max(samples, 0), sample_size, 0, extra)
    reading = Reading(traces, by_headers, stop)
    reading.differ, reading.first_differ, reading.interval_set = differ, first_differ, intervals
    return reading
