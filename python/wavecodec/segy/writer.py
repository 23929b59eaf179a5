"""Writing SEG-Y files (and the trace part that Seismic Unix files share)."""
import contextlib
import struct

from ..safeio import open_output
from ..compat import string_types
from ..errors import FormatError
from . import samples, text
from .fields import BINARY, BINARY_HEADER_SIZE, TEXT_HEADER_SIZE, TRACE, TRACE_HEADER_SIZE
from .layout import BYTE_ORDER_MARK
from .text import END_TEXT

MAX_SAMPLES = 65535
# Fields the writer sets from its own arguments; a binary header given by the caller may repeat
# them only with the same value.
_OWNED = ('format', 'sample_interval', 'samples_per_trace')


@contextlib.contextmanager
def output(target, inputs=()):
    """A binary file object for `target`: a file object is written as it is; a path ('-' for
    standard output) gets the package's safe output (whole file or nothing, links followed,
    FIFOs written into, an input given as the output refused)."""
    if hasattr(target, 'write'):
        yield target
        return
    if not isinstance(target, string_types):
        raise TypeError('target must be a path or a binary file object, not %s'
                        % type(target).__name__)
    with open_output(target, inputs) as f:
        yield f


def _check_endian(endian):
    if endian not in ('big', 'little'):
        raise FormatError("endian must be 'big' or 'little', not %r" % (endian,))


def _sample_interval(value):
    try:
        ok = int(value) == value and 0 < value <= MAX_SAMPLES
    except (TypeError, ValueError, OverflowError):
        ok = False
    if not ok:
        raise FormatError('sample_interval %r: a whole number of microseconds from 1 to %d'
                          % (value, MAX_SAMPLES))
    return int(value)


def _field(name):
    return BINARY.describe(name)


def _refuse(name, value, why):
    raise FormatError('%s=%r: %s' % (_field(name), value, why))


def make_binary_header(fmt, interval, count, endian, given=None, varying=False,
                       extended_texts=0, trace_count=None, open_ended=False):
    """The 400 bytes of the binary header: revision 1 for big-endian files, revision 2 with its
    byte-order mark for little-endian ones (or the revision given). Fields the caller gives must
    describe the file as it is written: a field announcing what the writer does not write
    (records, trailers, additional trace headers, another length) is refused naming it.
    Returns (bytes, values written)."""
    given = dict(given or {})
    revision = given.get('revision_major', 1 if endian == 'big' else 2)
    if revision not in (0, 1, 2):
        _refuse('revision_major', revision, 'the revisions written are 0, 1 and 2')
    values = dict(format=fmt.code, sample_interval=interval, samples_per_trace=count,
                  revision_major=revision, revision_minor=0,
                  fixed_length_traces=0 if varying else 1, extended_text_headers=extended_texts)
    if revision >= 2 and trace_count is not None:
        values['trace_count'] = trace_count
    for name in _OWNED:
        if name in given and given[name] != values[name]:
            raise FormatError('binary header field %s=%r disagrees with the %s written (%r)'
                              % (name, given[name], name, values[name]))
    if given.get('fixed_length_traces', 1) not in (0, 1):
        _refuse('fixed_length_traces', given['fixed_length_traces'], '1 (one length) or 0')
    if varying and revision < 1:
        _refuse('fixed_length_traces', 0, 'revision 0 has no such field, so its traces are of '
                'one length: write revision 1 or 2 to vary them')
    if 'extended_text_headers' in given:
        announced = given['extended_text_headers']
        if announced != extended_texts and not (announced == -1 and open_ended):
            _refuse('extended_text_headers', announced, '%d extended text headers are written '
                    '(give them as extended_text_headers=[...]; -1 needs the last to hold '
                    '((SEG: EndText)))' % extended_texts)
        values['extended_text_headers'] = announced
    for name, written in (('extended_samples_per_trace', count),
                          ('extended_sample_interval', interval)):
        if given.get(name, 0) not in (0, written):
            _refuse(name, given[name], 'the file is written with %r' % written)
    for name in ('trailer_records', 'additional_trace_headers'):
        if given.get(name, 0):
            _refuse(name, given[name], 'the writer writes no such records: leave it 0')
    start = TEXT_HEADER_SIZE + BINARY_HEADER_SIZE + TEXT_HEADER_SIZE * extended_texts
    first = given.get('first_trace_offset', 0)
    if first and (revision < 2 or first < start):
        _refuse('first_trace_offset', first, 'a revision 2 file can start its traces at or '
                'after offset %d (the end of its headers); it is revision %d'
                % (start, revision))
    mark = given.get('byte_order', 0)
    if mark not in (0, BYTE_ORDER_MARK):
        _refuse('byte_order', mark, 'the field holds 0x01020304 in the byte order of the file')
    if revision >= 2 or mark:
        values['byte_order'] = BYTE_ORDER_MARK
    for name, value in sorted(given.items()):
        if name not in ('extended_text_headers', 'byte_order'):
            values[name] = value
    return BINARY.encode(values, endian), values


def _peek(traces):
    it = iter(traces)
    for first in it:
        return first, it
    raise FormatError('no traces to write')


def _sequence(values):
    return values if hasattr(values, '__len__') and hasattr(values, '__getitem__') \
        else list(values)


# Bytes gathered before each write.
BLOCK_BYTES = 1 << 20


def write_traces(out, first, rest, trace_headers, fmt, interval, endian, saturate, varying,
                 skip_first=False):
    """Writes each trace's 240-byte header and its samples; returns the count written. A list
    of trace headers must hold one per trace. Traces are gathered into writes of about 1 MB;
    the rows of a 2-D array are converted a block of rows at a time."""
    headers = iter(trace_headers) if trace_headers is not None else None
    count = len(first)
    index = 0
    pending = []
    pending_size = 0
    for values in (rest if skip_first else _chain(first, rest)):
        if getattr(values, 'ndim', 1) == 2:   # a block of rows (write_array)
            heads = []
            for k in range(len(values)):
                given = _next_header(headers, index + k)
                heads.append(trace_header(index + k, given, count, interval, endian))
            data = _encode_rows(fmt, values, endian, saturate, index)
            size = len(data) // len(values)
            pending.append(b''.join([part for k, head in enumerate(heads)
                                     for part in (head, data[k * size:(k + 1) * size])]))
            index += len(values)
            out.write(pending.pop())
            continue
        values = _sequence(values)
        where = 'trace %d' % index
        if not len(values):
            raise FormatError('%s has no samples' % where)
        if len(values) != count and not varying:
            raise FormatError('%s has %d samples, the first %d: the traces of this file are '
                              'of one length (set fixed_length_traces=0 in the binary header '
                              'to vary it)' % (where, len(values), count))
        if len(values) > MAX_SAMPLES:
            raise FormatError('%s has %d samples; at most %d fit a trace header'
                              % (where, len(values), MAX_SAMPLES))
        given = _next_header(headers, index)
        pending.append(trace_header(index, given, len(values), interval, endian))
        pending.append(samples.encode(fmt, values, endian, saturate, where))
        pending_size += TRACE_HEADER_SIZE + len(pending[-1])
        index += 1
        if pending_size >= BLOCK_BYTES:
            out.write(b''.join(pending))
            pending, pending_size = [], 0
    if pending:
        out.write(b''.join(pending))
    if headers is not None and next(headers, _MISSING) is not _MISSING:
        raise FormatError('trace_headers holds more headers than the %d traces' % index)
    return index


_MISSING = object()


def _next_header(headers, index):
    if headers is None:
        return None
    given = next(headers, _MISSING)
    if given is _MISSING:
        raise FormatError('trace_headers ends at %d headers but there are more traces' % index)
    return given


def _encode_rows(fmt, rows, endian, saturate, first):
    """The file bytes of the samples of a 2-D array's rows, in one conversion; a value that
    cannot be written is named by its own trace and sample."""
    try:
        return samples.encode(fmt, rows.reshape(-1), endian, saturate, 'traces')
    except FormatError:
        for k in range(len(rows)):
            samples.encode(fmt, rows[k], endian, saturate, 'trace %d' % (first + k))
        raise


def _row_blocks(data):
    """The rows of a 2-D array in blocks of about BLOCK_BYTES (each a 2-D array itself)."""
    per_block = max(1, BLOCK_BYTES // max(1, data.shape[1] * data.itemsize))
    for start in range(0, len(data), per_block):
        yield data[start:start + per_block]


def _chain(first, rest):
    yield first
    for values in rest:
        yield values


_SEQUENCE = dict((e, struct.Struct(o + 'ii')) for e, o in (('big', '>'), ('little', '<')))
_COUNT = dict((e, struct.Struct(o + 'HH')) for e, o in (('big', '>'), ('little', '<')))
_COUNT_AT = TRACE.field_offset('sample_count')


def trace_header(index, given, count, interval, endian):
    """240 header bytes: sequence numbers, sample count and interval, then the caller's fields
    (a dict) or bytes (a header as read, its count and interval made to agree)."""
    if given is None:
        raw = bytearray(TRACE_HEADER_SIZE)
        _SEQUENCE[endian].pack_into(raw, 0, index + 1, index + 1)
        _COUNT[endian].pack_into(raw, _COUNT_AT, count, interval)
        return bytes(raw)
    values = dict(trace_sequence_line=index + 1, trace_sequence_file=index + 1,
                  sample_count=count, sample_interval=interval)
    base = None
    if isinstance(given, (bytes, bytearray)):
        if len(given) != TRACE_HEADER_SIZE:
            raise FormatError('trace %d: a raw trace header is %d bytes, not %d'
                              % (index, TRACE_HEADER_SIZE, len(given)))
        base = given
        values = dict(sample_count=count)
    elif given is not None:
        if not isinstance(given, dict):
            raise FormatError('trace %d: a trace header is a dict or 240 bytes, not %s'
                              % (index, type(given).__name__))
        if given.get('sample_count', count) != count:
            raise FormatError('trace %d: header field sample_count=%r but the trace has %d '
                              'samples' % (index, given['sample_count'], count))
        values.update(given)
    return TRACE.encode(values, endian, base)


def write(target, traces, sample_interval, format=samples.IBM, text_header=None,
          binary_header=None, trace_headers=None, endian='big', saturate=False,
          text_encoding='ebcdic', extended_text_headers=None):
    """Writes a SEG-Y file of `traces` (sequences of numbers, all of one length unless the
    binary header given sets fixed_length_traces=0).

    `sample_interval` is in microseconds; `format` a sample format code (1 IBM, 5 IEEE, or any
    other code of samples.FORMATS) or 'ibm' / 'ieee'; `text_header` a str (lines or one block);
    `extended_text_headers` a list of such str, written after the binary header (which counts
    them); `binary_header` a dict of extra binary header fields (fields announcing what is not
    written are refused); `trace_headers` dicts (or 240-byte headers), one per trace in trace
    order. IBM refuses NaN and infinities unless `saturate`. A path ('-': standard output)
    gets the whole file or nothing; a binary file object is written as the traces come.
    Returns the number of traces written.
    """
    _check_endian(endian)
    fmt = samples.lookup(samples.NAMES.get(format, format)
                         if isinstance(format, string_types) else format)
    interval = _sample_interval(sample_interval)
    given = dict(binary_header or {})
    if trace_headers is not None and hasattr(trace_headers, '__len__') \
            and hasattr(traces, '__len__') and len(trace_headers) != len(traces):
        raise FormatError('trace_headers holds %d headers for %d traces'
                          % (len(trace_headers), len(traces)))
    trace_count = len(traces) if hasattr(traces, '__len__') else None
    varying = given.get('fixed_length_traces', 1) == 0
    if getattr(traces, 'ndim', None) == 2 and len(traces) and traces.shape[1]:
        blocks = _row_blocks(traces)
        first_block = next(blocks)
        first, rest = first_block[0], _chain(first_block, blocks)
        first_written = False
    else:
        first, rest = _peek(traces)
        first_written = True
    first = _sequence(first)
    revision = given.get('revision_major', 1 if endian == 'big' else 2)
    raw_text = text.encode(text_header if text_header is not None else text.default(
        ['SEG-Y written by wavecodec', 'samples: %s, interval %d us' % (fmt.name, interval),
         'SEG Y REV%s' % revision]), text_encoding)
    extended = [text.encode(t, text_encoding) for t in (extended_text_headers or ())]
    # A count of -1 announces records up to one holding the end stanza: the last given.
    open_ended = bool(extended) and END_TEXT in text.decode(
        extended[-1], text_encoding).replace(' ', '').upper()
    if not len(first) or len(first) > MAX_SAMPLES:
        raise FormatError('trace 0 has %d samples: a trace holds 1 to %d'
                          % (len(first), MAX_SAMPLES))
    raw_binary, values = make_binary_header(fmt, interval, len(first), endian, given, varying,
                                            len(extended), trace_count, open_ended)
    gap = values.get('first_trace_offset', 0)
    if gap:
        gap -= TEXT_HEADER_SIZE + BINARY_HEADER_SIZE + TEXT_HEADER_SIZE * len(extended)
    with output(target) as out:
        out.write(raw_text)
        out.write(raw_binary)
        for raw in extended:
            out.write(raw)
        out.write(b'\0' * gap)
        if first_written:
            written = write_traces(out, first, rest, trace_headers, fmt, interval, endian,
                                   saturate, varying)
        else:  # the first row only set the length: the blocks hold every row
            written = write_traces(out, first, rest, trace_headers, fmt, interval, endian,
                                   saturate, varying, skip_first=True)
        announced = values.get('trace_count', 0)
        if announced and announced != written:
            _refuse('trace_count', announced, '%d traces were written' % written)
        return written
