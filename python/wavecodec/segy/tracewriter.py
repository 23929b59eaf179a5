"""Writing traces: each trace's 240-byte header, its additional headers (revision 2) and its
samples, for SEG-Y and Seismic Unix files alike."""
import struct

from ..errors import FormatError
from . import samples
from .fields import EXTENSION1, EXTENSION1_NAME, NAME_AT, TRACE, TRACE_HEADER_SIZE

# The most samples a trace header's two-byte count holds (more need revision 2's fields).
MAX_SAMPLES = 65535
# Bytes gathered before each write.
BLOCK_BYTES = 1 << 20

_SEQUENCE = dict((e, struct.Struct(o + 'ii')) for e, o in (('big', '>'), ('little', '<')))
_COUNT = dict((e, struct.Struct(o + 'HH')) for e, o in (('big', '>'), ('little', '<')))
_COUNT_AT = TRACE.field_offset('sample_count')
_MISSING = object()


class TraceOptions(object):
    """How traces are written: the sample Format, the two-byte interval of the trace headers,
    the byte order, IBM saturation, whether lengths may vary, the most samples a trace may
    hold, and the additional headers (one list per trace, or None; `extra` the most any
    trace has)."""

    def __init__(self, fmt, interval, endian, saturate=False, varying=False,
                 max_samples=MAX_SAMPLES, extensions=None, extra=0, revision=None):
        self.fmt = fmt
        self.interval = interval
        self.endian = endian
        self.saturate = saturate
        self.varying = varying
        self.max_samples = max_samples
        self.extensions = extensions
        self.extra = extra
        self.revision = revision   # None for Seismic Unix


def _sequence(values):
    return values if hasattr(values, '__len__') and hasattr(values, '__getitem__') \
        else list(values)


def _chain(first, rest):
    yield first
    for values in rest:
        yield values


def write_traces(out, first, rest, trace_headers, options, skip_first=False):
    """Writes the traces (`first`, then those of `rest`); returns the count written. A list of
    trace headers must hold one per trace. Traces are gathered into writes of about 1 MB; the
    rows of a 2-D array are converted a block of rows at a time."""
    headers = iter(trace_headers) if trace_headers is not None else None
    count = len(first)
    index = 0
    pending = []
    pending_size = 0
    for values in (rest if skip_first else _chain(first, rest)):
        if getattr(values, 'ndim', 1) == 2:   # a block of rows (write_array)
            heads = [_heads(index + k, _next_header(headers, index + k), count, options)
                     for k in range(len(values))]
            data = _encode_rows(options, values, index)
            size = len(data) // len(values)
            out.write(b''.join([part for k, head in enumerate(heads)
                                for part in (head, data[k * size:(k + 1) * size])]))
            index += len(values)
            continue
        values = _sequence(values)
        where = 'trace %d' % index
        if not len(values):
            raise FormatError('%s has no samples' % where)
        if len(values) != count and not options.varying:
            raise FormatError('%s has %d samples, the first %d: the traces of this file are '
                              'of one length (set fixed_length_traces=0 in the binary header '
                              'to vary it)' % (where, len(values), count))
        if len(values) > options.max_samples:
            raise FormatError('%s has %d samples; at most %d fit this file%s' % (
                where, len(values), options.max_samples, ': more need revision 2 (binary_header='
                "{'revision_major': 2})" if options.max_samples == MAX_SAMPLES and
                options.revision is not None else ''))
        if options.varying and len(values) > MAX_SAMPLES and len(values) != count and \
                not _has_extension1(options, index):
            raise FormatError("%s has %d samples: its header's %s holds at most %d, and in a "
                              "file of varying lengths only trace header extension 1's %s "
                              "(extension_headers=) can give more"
                              % (where, len(values), TRACE.describe('sample_count'),
                                 MAX_SAMPLES, EXTENSION1.describe('sample_count')))
        pending.append(_heads(index, _next_header(headers, index), len(values), options))
        pending.append(samples.encode(options.fmt, values, options.endian, options.saturate,
                                      where))
        pending_size += len(pending[-2]) + len(pending[-1])
        index += 1
        if pending_size >= BLOCK_BYTES:
            out.write(b''.join(pending))
            pending, pending_size = [], 0
    if pending:
        out.write(b''.join(pending))
    if headers is not None and next(headers, _MISSING) is not _MISSING:
        raise FormatError('trace_headers holds more headers than the %d traces' % index)
    if options.extensions is not None and len(options.extensions) != index:
        raise FormatError('extension_headers holds %d lists for %d traces'
                          % (len(options.extensions), index))
    return index


def _next_header(headers, index):
    if headers is None:
        return None
    given = next(headers, _MISSING)
    if given is _MISSING:
        raise FormatError('trace_headers ends at %d headers but there are more traces' % index)
    return given


def _encode_rows(options, rows, first):
    """The file bytes of the samples of a 2-D array's rows, in one conversion; a value that
    cannot be written is named by its own trace and sample."""
    fmt, endian, saturate = options.fmt, options.endian, options.saturate
    try:
        return samples.encode(fmt, rows.reshape(-1), endian, saturate, 'traces')
    except FormatError:
        for k in range(len(rows)):
            samples.encode(fmt, rows[k], endian, saturate, 'trace %d' % (first + k))
        raise


def _heads(index, given, count, options):
    head = trace_header(index, given, count, options.interval, options.endian)
    if options.extensions is None:
        return head
    return head + extension_headers(index, _items(options, index), count, options.extra,
                                    options.endian)


def _items(options, index):
    if index >= len(options.extensions):
        raise FormatError('extension_headers holds %d lists, none for trace %d'
                          % (len(options.extensions), index))
    return options.extensions[index]


def _has_extension1(options, index):
    if options.extensions is None or index >= len(options.extensions):
        return False
    items = options.extensions[index]
    return bool(items) and _is_extension1(items[0])


def _is_extension1(item):
    return isinstance(item, dict) or (isinstance(item, (bytes, bytearray)) and
                                      bytes(item[NAME_AT:NAME_AT + 8]) == EXTENSION1_NAME)


def _raw(index, given, what):
    """240 bytes given for a header, and the byte order they carry (None when plain bytes)."""
    if len(given) != TRACE_HEADER_SIZE:
        raise FormatError('trace %d: a raw %s is %d bytes, not %d'
                          % (index, what, TRACE_HEADER_SIZE, len(given)))
    return bytes(given), getattr(given, 'endian', None)


def trace_header(index, given, count, interval, endian):
    """240 header bytes: sequence numbers, sample count (0 above 65535: the binary header's
    extended count, or extension 1's, holds it) and interval, then the caller's fields (a dict)
    or bytes (a header as read: its count made to agree, and its fields rewritten in this
    file's byte order when they carry another, as headers read by segy.open do)."""
    told = count if count <= MAX_SAMPLES else 0
    if given is None:
        raw = bytearray(TRACE_HEADER_SIZE)
        _SEQUENCE[endian].pack_into(raw, 0, index + 1, index + 1)
        _COUNT[endian].pack_into(raw, _COUNT_AT, told, interval)
        return bytes(raw)
    values = dict(trace_sequence_line=index + 1, trace_sequence_file=index + 1,
                  sample_count=told, sample_interval=interval)
    base = None
    if isinstance(given, (bytes, bytearray)):
        base, order = _raw(index, given, 'trace header')
        base = TRACE.swap(base, order or endian, endian)
        values = dict(sample_count=told)
    elif not isinstance(given, dict):
        raise FormatError('trace %d: a trace header is a dict or 240 bytes, not %s'
                          % (index, type(given).__name__))
    else:
        if given.get('sample_count', told) != told:
            raise FormatError('trace %d: header field sample_count=%r but the trace has %d '
                              'samples%s' % (index, given['sample_count'], count,
                                             ' (0 is written above 65535)' if not told else ''))
        values.update(given)
    return TRACE.encode(values, endian, base)


def extension_headers(index, items, count, extra, endian):
    """The additional 240-byte headers of trace `index`: `items` a list of dicts (extension 1's
    fields by name: the first only) or 240 bytes each. Extension 1 is named SEG00001 and gets
    the trace's sample count and its own number of additional headers; a trace with fewer than
    `extra` needs it to say so. Raw extension 1 bytes of another byte order are rewritten
    field by field; other raw headers of another order are refused (their fields are
    unknown)."""
    if not isinstance(items, (list, tuple)):
        raise FormatError('extension_headers: trace %d: a list of additional headers, not %s'
                          % (index, type(items).__name__))
    if len(items) < extra and not (items and _is_extension1(items[0])):
        raise FormatError('extension_headers: trace %d has %d additional headers, fewer than '
                          'the %d of the binary header: only extension 1 (a dict, or bytes '
                          'named SEG00001, first) can say so' % (index, len(items), extra))
    out = []
    own = dict(sample_count=count, additional_trace_headers=len(items))
    for k, item in enumerate(items):
        where = 'extension_headers: trace %d, header %d' % (index, k + 1)
        if isinstance(item, dict):
            if k:
                raise FormatError('%s: only extension 1 (the first) is given by field name; '
                                  'give the others as 240 bytes' % where)
            if item.get('sample_count', count) != count:
                raise FormatError('%s: sample_count=%r but the trace has %d samples'
                                  % (where, item['sample_count'], count))
            raw = bytearray(TRACE_HEADER_SIZE)
            raw[NAME_AT:NAME_AT + 8] = EXTENSION1_NAME
            values = dict(item)
            values.update(own)
            out.append(EXTENSION1.encode(values, endian, bytes(raw)))
        elif isinstance(item, (bytes, bytearray)):
            raw, order = _raw(index, item, 'additional header')
            if not k and _is_extension1(raw):
                out.append(EXTENSION1.encode(own, endian, EXTENSION1.swap(
                    raw, order or endian, endian)))
            elif order and order != endian:
                raise FormatError('%s: read from a %s-endian file, and its fields are not '
                                  'known here to be rewritten in %s-endian order'
                                  % (where, order, endian))
            else:
                out.append(raw)
        else:
            raise FormatError('%s: a dict or 240 bytes, not %s' % (where, type(item).__name__))
    return b''.join(out)
