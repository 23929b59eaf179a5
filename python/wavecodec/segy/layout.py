"""What a SEG-Y or SU file is and where everything in it lies, decided once when it is opened from
all the evidence the file holds: decide() for SEG-Y, decide_su() for SU. The file object
(reader.py) only reads where the answer says.

The answer is a Layout:
    endian               'big' or 'little': the order of every header field and sample
    revision, minor      0, 1 or 2, and the minor revision (1 for 2.1); None for SU
    sample_format        the samples.Format of the samples
    samples_per_trace    the traces' length as read (where they vary, and in a file without
                         traces, the binary header's; in SU the first trace's)
    binary_samples       the binary header's length (its extended count in revision 2)
    sample_interval      microseconds, 0 when unknown
    additional_trace_headers  240-byte headers after each trace's own (the most any has)
    binary_header        the binary header's fields by name
    raw_text_header, raw_binary_header, encoding, text_header   the first 3600 bytes
    records              the extended text records, each (raw bytes, encoding): 'ebcdic',
                         'ascii', 'empty' (zeros) or 'binary' (a binary stanza)
    data_start, data_end the bytes holding the traces (after the records and any gap, before
                         the trailer records)
    traces               where each trace lies: Fixed or Scanned (walk.py), below
    notes                what was assumed where the file left it open, in words
    truncated            with strict=False, why the last trace was left out; else None

Where the traces lie (Layout.traces, kept by the file object as f._layout):
    count                the number of traces
    varying              False for Fixed, True for Scanned (positions found one by one)
    lengths_vary         whether the traces' sample counts differ
    span(i)              (offset of trace i's 240-byte header, its number of samples)
    extras(i)            its additional 240-byte headers, which follow the standard one
    Fixed                every trace alike: trace i at start + i * size; start, size (bytes a
                         trace, headers included), header_size (240 * (1 + extra)), samples, extra
    Scanned              offsets[i], counts[i], extra_counts[i]: one of each per trace

The evidence and its order are in docs/host.md, "How the reader decides".
"""
import struct

from ..errors import FormatError
from . import samples, text
from .fields import BINARY, BINARY_HEADER_SIZE, EXTENSION1, TEXT_HEADER_SIZE, TRACE
from .walk import Fixed, Scanned, arithmetic, walk  # noqa: F401 - the positions classes

BYTE_ORDER_MARK = 0x01020304
_MARKS = {0x01020304: 'big', 0x04030201: 'little'}
# The mark as a file of byte pairs swapped holds it (either way round).
PAIR_SWAPPED = (0x02010403, 0x03040102)
# Additional 240-byte trace headers per trace a file may announce.
MAX_ADDITIONAL_HEADERS = 1000
# The largest sample interval taken from the extended field: 1,000 s.
MAX_INTERVAL_US = 1e9
HEADERS_SIZE = TEXT_HEADER_SIZE + BINARY_HEADER_SIZE


def lenient(message, what='the whole traces before it'):
    """A refusal that strict=False reads otherwise, saying so."""
    return '%s (strict=False, or --lenient, reads %s)' % (message, what)


class Layout(object):
    """The decision about one file (see the module's docstring)."""

    def __init__(self, name):
        self.name = name
        self.notes = []
        self.truncated = None
        self.revision = self.minor = None
        self.raw_text_header = self.raw_binary_header = b''
        self.encoding = None
        self.text_header = ''
        self.binary_header = {}
        self.records = []
        self.additional_trace_headers = 0
        self.sample_interval = 0

    def note(self, message):
        self.notes.append(message)


def _field(name):
    return BINARY.describe(name)


def guess_endian(raw_binary):
    """The order in which the format code, the sample count and the interval are plausible
    (big on a tie)."""
    scores = {}
    for endian in ('big', 'little'):
        h = BINARY.decode(raw_binary, endian)
        scores[endian] = ((h['format'] in samples.FORMATS) * 2 + (0 < h['samples_per_trace'])
                          + (0 < h['sample_interval']))
    return 'little' if scores['little'] > scores['big'] else 'big'


def _byte_order(L, raw_binary, endian):
    mark = struct.unpack_from('>I', raw_binary, BINARY.field_offset('byte_order'))[0]
    if mark in PAIR_SWAPPED and not endian:
        raise FormatError('%s holds 0x%08x: the bytes of this file are swapped in pairs, an '
                          'order this reader does not read' % (_field('byte_order'), mark))
    if endian:
        if _MARKS.get(mark, endian) != endian or mark in PAIR_SWAPPED:
            L.note('%s holds 0x%08x; read %s-endian as asked' % (_field('byte_order'), mark,
                                                                 endian))
        return endian
    if mark in _MARKS:
        return _MARKS[mark]
    guessed = guess_endian(raw_binary)
    if mark and raw_binary[300] >= 2:
        L.note('%s holds 0x%08x, not a byte-order mark: read %s-endian, the order in which '
               'the format code and the sample count are plausible'
               % (_field('byte_order'), mark, guessed))
    return guessed


def _revision(L, h):
    """Byte 3501 when it is 1 or 2; 0x0001 and 0x0002 (a revision written as a two-byte
    integer, big-endian) as 1 and 2; anything else revision 0."""
    major, minor = h['revision_major'], h['revision_minor']
    if major in (1, 2):
        return major, minor
    if major == 0 and minor in (1, 2):
        L.note('revision bytes 3501-3502 hold 0x%04x: read as revision %d written as an '
               'integer' % (minor, minor))
        return minor, 0
    if major:
        L.note('%s is %d, not a revision this reader knows: read as revision 0'
               % (_field('revision_major'), major))
    return 0, 0


def _additional(L, raw_binary, h):
    """Revision 2.1 counts additional trace headers in bytes 3507-3508 (3509-3510: the survey
    type); revision 2.0 in the four bytes 3507-3510."""
    if L.revision < 2:
        return 0
    count = h['additional_trace_headers']
    if L.minor == 0:
        order = '>' if L.endian == 'big' else '<'
        four = struct.unpack_from(order + 'i', raw_binary, 306)[0]
        field = "binary header field 'additional_trace_headers' (bytes 3507-3510)"
        if 0 <= four <= MAX_ADDITIONAL_HEADERS or not 0 <= count <= MAX_ADDITIONAL_HEADERS:
            h['additional_trace_headers'], h['survey_type'] = four, 0
            count = four
        else:
            L.note('%s is %d as the four-byte count of revision 2.0: read as revision 2.1 '
                   'fields, %d additional headers and survey type %d'
                   % (field, four, count, h['survey_type']))
    else:
        field = _field('additional_trace_headers')
    if not 0 <= count <= MAX_ADDITIONAL_HEADERS:
        raise FormatError('%s is %d: not a count of additional 240-byte trace headers (0 to %d)'
                          % (field, count, MAX_ADDITIONAL_HEADERS))
    return count


def file_headers(L, head, endian=None, fmt=None):
    """What the first 3600 bytes say: text header, byte order, revision, sample format,
    additional trace headers and the binary header's length. Refuses what no file can be."""
    L.raw_text_header = head[:TEXT_HEADER_SIZE]
    raw = L.raw_binary_header = head[TEXT_HEADER_SIZE:HEADERS_SIZE]
    L.encoding = text.detect(L.raw_text_header)
    L.text_header = text.decode(L.raw_text_header, L.encoding)
    L.endian = _byte_order(L, raw, endian)
    h = L.binary_header = BINARY.decode(raw, L.endian)
    L.revision, L.minor = _revision(L, h)
    if fmt is None:
        L.sample_format = samples.lookup(h['format'], _field('format'), hint=True)
    else:
        L.sample_format = samples.lookup(fmt, 'the format asked for')
    L.format = L.sample_format.code
    L.additional_trace_headers = _additional(L, raw, h)
    L.length_field = 'samples_per_trace'
    L.binary_samples = L.samples_per_trace = h['samples_per_trace']
    if L.revision >= 2 and h['extended_samples_per_trace'] > 0:
        L.length_field = 'extended_samples_per_trace'
        L.binary_samples = L.samples_per_trace = h['extended_samples_per_trace']
    return L


def decide(source, size, name, endian=None, fmt=None, strict=True):
    """The Layout of a SEG-Y file of `size` bytes. `source` reads its bytes:
    source.read_at(offset, size) and source.strided(offset, step, count, width), the `width`
    bytes at offset + k * step for k < count. `endian` and `fmt` replace what the binary
    header says; with `strict` False a truncated last trace is left out (Layout.truncated)."""
    L = Layout(name)
    if size < HEADERS_SIZE:
        raise FormatError('%d bytes: too short for the 3200-byte text header and the 400-byte '
                          'binary header of a SEG-Y file' % size)
    file_headers(L, source.read_at(0, HEADERS_SIZE), endian, fmt)
    h = L.binary_header
    L.records = text.read_records(source.read_at, size, HEADERS_SIZE, h['extended_text_headers'],
                                  L.revision >= 1, _field('extended_text_headers'), L.note)
    start = HEADERS_SIZE + TEXT_HEADER_SIZE * len(L.records)
    end = size
    if L.revision >= 2:
        if h['first_trace_offset']:
            if not start <= h['first_trace_offset'] <= size:
                raise FormatError('%s is %d, outside %d-%d' % (
                    _field('first_trace_offset'), h['first_trace_offset'], start, size))
            start = h['first_trace_offset']
        trailers = h['trailer_records']
        if trailers < 0 or start + trailers * TEXT_HEADER_SIZE > size:
            raise FormatError('%s is %d: not a count of the 3200-byte records at the end of '
                              'this file' % (_field('trailer_records'), trailers))
        end -= trailers * TEXT_HEADER_SIZE
    L.data_start, L.data_end = start, end
    _lengths(L, source, strict)
    _interval(L, h)
    announced = h['trace_count'] if L.revision >= 2 else 0
    if announced and announced != L.traces.count:
        message = '%s is %d but the file holds %d traces' % (
            _field('trace_count'), announced, L.traces.count)
        if strict:
            raise FormatError(lenient(message, 'the traces found'))
        L.note(message + ': the traces found are read')
    return L


def _length_name(L):
    return '%s is %d' % (_field(L.length_field), L.binary_samples)


def _lengths(L, source, strict):
    """The trace lengths by the evidence order: the binary header's length and each trace
    header's own count are two readings; the first whose traces end exactly where the file's
    data does decides (the headers' first where the lengths may vary), and a revision 2 trace
    count picks between two that both do. Neither: a FormatError naming both."""
    extra = L.additional_trace_headers
    size = L.sample_format.size
    may_vary = L.revision >= 1 and L.binary_header['fixed_length_traces'] != 1
    order = (True, False) if may_vary else (False, True)
    announced = L.binary_header['trace_count'] if L.revision >= 2 else 0
    tried = []
    for by_headers in order:
        if not by_headers and L.binary_samples <= 0:
            continue
        if not by_headers and not extra:
            reading = arithmetic(source, L.data_start, L.data_end, L.binary_samples, size,
                                 L.endian)
        else:
            reading = walk(source, L.data_start, L.data_end, L.binary_samples, size,
                           L.endian, extra, by_headers)
        tried.append(reading)
        if reading.fits and (not announced or reading.count == announced):
            break
    fitting = [r for r in tried if r.fits]
    if fitting:
        chosen = next((r for r in fitting if r.count == announced), fitting[0])
    else:
        chosen = tried[0]
        message = _neither(L, tried)
        if strict:
            raise FormatError(lenient(message))
        L.truncated = '%s: %s' % (L.name, message)
    L.traces, L.reading = chosen.traces, chosen
    if chosen.count and not chosen.traces.lengths_vary:
        L.samples_per_trace = chosen.traces.span(0)[1]
    _say_why(L, chosen, tried, may_vary)


def _say_why(L, chosen, tried, may_vary):
    if not chosen.fits:
        return
    if chosen.by_headers and L.binary_samples <= 0 and not may_vary:
        L.note("%s: each trace header's %s gives its length" % (
            _length_name(L), TRACE.describe('sample_count')))
    elif chosen.by_headers and not may_vary:
        L.note("the file's size does not fit the binary header's length (%s: %s), but fits "
               "each trace header's own count: read so" % (_length_name(L), tried[0].stop))
    elif not chosen.by_headers and may_vary and tried[0] is not chosen:
        L.note("the trace headers' counts do not fit the file's size (%s); the binary "
               "header's length does (%s): read at that length" % (tried[0].stop,
                                                                   _length_name(L)))
    if chosen.differ:
        k, value = chosen.first_differ
        L.note('%d of %d trace headers give another sample count than the binary header\'s '
               '%d (the first: trace %d, %d); the file\'s size fits %d-sample traces '
               'exactly: read at that length' % (chosen.differ, chosen.count,
                                                  L.binary_samples, k, value,
                                                  L.binary_samples))
    if chosen.traces.lengths_vary:
        L.note("the traces' lengths vary: each trace header's sample count gives its own")
    elif chosen.traces.varying:
        L.note("the traces' numbers of additional headers vary: extension 1 gives each its "
               "own (%s)" % EXTENSION1.describe('additional_trace_headers'))


def _neither(L, tried):
    """Why no reading fits: the truncation alone when the readings agree up to it, else
    both named."""
    if len(tried) == 1:
        if L.binary_samples <= 0:
            return "%s, and the trace headers' own counts do not fit: %s" % (_length_name(L),
                                                                            tried[0].stop)
        return tried[0].stop
    if tried[0].count == tried[1].count and tried[0].stop == tried[1].stop:
        return tried[0].stop
    by_binary = next(r for r in tried if not r.by_headers)
    by_headers = next(r for r in tried if r.by_headers)
    return ("the file's size fits neither the binary header's length (%s: %d whole traces, "
            "then %s) nor the trace headers' own counts (%s: %d whole traces, then %s)"
            % (_length_name(L), by_binary.count, by_binary.stop,
               TRACE.describe('sample_count'), by_headers.count, by_headers.stop))


def _interval(L, h):
    """`sample_interval`; in revision 2, when it is 0, the extended one when it is plausible;
    then the trace headers' interval where they all agree; else 0 (unknown), stated."""
    interval = h['sample_interval']
    extended = h['extended_sample_interval']
    if L.revision >= 2 and not interval and extended != 0:
        if 0 < extended <= MAX_INTERVAL_US:  # false for NaN too
            interval = extended
        else:
            L.note('%s is %r: not a sample interval in microseconds (0 to %g); ignored'
                   % (_field('extended_sample_interval'), extended, MAX_INTERVAL_US))
    if not interval and L.traces.count:
        found = L.reading.intervals()
        if len(found) == 1 and 0 not in found:
            interval = found.pop()
            L.note('%s is 0: the trace headers all give %d us (%s), taken'
                   % (_field('sample_interval'), interval, TRACE.describe('sample_interval')))
    if not interval:
        L.note('the sample interval is 0 (unknown): times are sample numbers')
    L.sample_interval = interval
