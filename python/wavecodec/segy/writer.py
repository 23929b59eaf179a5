"""Writing SEG-Y files: the file headers and the file; tracewriter.py writes the traces (for
Seismic Unix files too)."""
import contextlib

from ..safeio import open_output
from ..compat import string_types
from ..errors import FormatError
from . import samples, text
from .fields import BINARY, BINARY_HEADER_SIZE, TEXT_HEADER_SIZE
from .layout import BYTE_ORDER_MARK, MAX_ADDITIONAL_HEADERS, MAX_INTERVAL_US
from .text import END_TEXT
from .tracewriter import BLOCK_BYTES, MAX_SAMPLES, TraceOptions, _chain, _sequence, write_traces

# The most samples revision 2's extended count holds (a four-byte signed field).
MAX_EXTENDED_SAMPLES = (1 << 31) - 1
# Fields the writer sets from its own arguments; a binary header given by the caller may repeat
# them only with the same value.
_OWNED = ('format', 'sample_interval', 'samples_per_trace')


@contextlib.contextmanager
def output(target, inputs=()):
    """A binary file object for `target`: a file object is written as it is; a path (str,
    bytes or path-like; '-' for standard output) gets the package's safe output (whole file or
    nothing, links followed, FIFOs written into, an input given as the output refused)."""
    if hasattr(target, 'write'):
        yield target
        return
    with open_output(target, inputs) as f:
        yield f


def _check_endian(endian):
    if endian not in ('big', 'little'):
        raise FormatError("endian must be 'big' or 'little', not %r" % (endian,))


def interval_fields(value, extended=True):
    """(two-byte interval, extended interval) for `value` microseconds: a whole number up to
    65535 goes in the two-byte fields; with `extended` (revision 2) any other positive value up
    to MAX_INTERVAL_US goes in the extended (double) field, the two-byte ones 0."""
    try:
        number = float(value)
        whole = number == int(number) and 0 < number <= MAX_SAMPLES
    except (TypeError, ValueError, OverflowError):
        number, whole = None, False
    if whole:
        return int(number), 0.0
    if extended and number is not None and 0 < number <= MAX_INTERVAL_US:
        return 0, number
    raise FormatError('sample_interval %r: a whole number of microseconds from 1 to %d%s'
                      % (value, MAX_SAMPLES, ', or (revision 2) any interval above 0 up to '
                         '%g' % MAX_INTERVAL_US if extended else ''))


def _field(name):
    return BINARY.describe(name)


def _refuse(name, value, why):
    raise FormatError('%s=%r: %s' % (_field(name), value, why))


class Shape(object):
    """What a SEG-Y file is written as: the fields make_binary_header() fills from it."""

    def __init__(self, fmt, endian, interval, extended_interval=0.0, count=1, varying=False,
                 extended_texts=0, trace_count=None, open_ended=False, extra=0):
        self.fmt = fmt
        self.endian = endian
        self.interval = interval
        self.extended_interval = extended_interval
        self.count = count
        self.varying = varying
        self.extended_texts = extended_texts
        self.trace_count = trace_count
        self.open_ended = open_ended
        self.extra = extra

    def needs(self):
        """What only revision 2 can say, in words (or None)."""
        if self.extended_interval:
            return 'the interval %r us (not a whole number up to %d)' % (
                self.extended_interval, MAX_SAMPLES)
        if self.count > MAX_SAMPLES:
            return '%d samples a trace (more than %d)' % (self.count, MAX_SAMPLES)
        if self.extra:
            return 'additional trace headers'
        return None


def make_binary_header(shape, given=None):
    """The 400 bytes of the binary header: revision 1 for big-endian files, revision 2 with its
    byte-order mark for little-endian ones and for what only revision 2 says (an interval that
    is not a whole number up to 65535 us, more than 65535 samples, additional trace headers:
    revision 2.1), or the revision given. Fields the caller gives must describe the file as it
    is written: a field announcing what the writer does not write (records, trailers, another
    count of additional headers, another length) is refused naming it.
    Returns (bytes, values written)."""
    given = dict(given or {})
    needs = shape.needs()
    revision = given.get('revision_major', 2 if needs or shape.endian == 'little' else 1)
    if revision not in (0, 1, 2):
        _refuse('revision_major', revision, 'the revisions written are 0, 1 and 2')
    if needs and revision < 2:
        _refuse('revision_major', revision, '%s need revision 2' % needs)
    minor = 1 if shape.extra else 0
    if given.get('revision_minor', minor) != minor:
        _refuse('revision_minor', given['revision_minor'], 'revision 2.%d is written (%s)' % (
            minor, 'its two-byte count of additional trace headers' if minor else
            'no additional trace headers'))
    count = shape.count
    values = dict(format=shape.fmt.code, sample_interval=shape.interval,
                  samples_per_trace=count if count <= MAX_SAMPLES else 0,
                  revision_major=revision, revision_minor=minor,
                  fixed_length_traces=0 if shape.varying else 1,
                  extended_text_headers=shape.extended_texts)
    if revision >= 2:
        values.update(extended_samples_per_trace=count if count > MAX_SAMPLES else 0,
                      extended_sample_interval=shape.extended_interval,
                      additional_trace_headers=shape.extra)
        if shape.trace_count is not None:
            values['trace_count'] = shape.trace_count
    for name in _OWNED:
        if name in given and given[name] != values[name]:
            raise FormatError('binary header field %s=%r disagrees with the %s written (%r)'
                              % (name, given[name], name, values[name]))
    if given.get('fixed_length_traces', 1) not in (0, 1):
        _refuse('fixed_length_traces', given['fixed_length_traces'], '1 (one length) or 0')
    if shape.varying and revision < 1:
        _refuse('fixed_length_traces', 0, 'revision 0 has no such field, so its traces are of '
                'one length: write revision 1 or 2 to vary them')
    if 'extended_text_headers' in given:
        announced = given['extended_text_headers']
        if announced != shape.extended_texts and not (announced == -1 and shape.open_ended):
            _refuse('extended_text_headers', announced, '%d extended text headers are written '
                    '(give them as extended_text_headers=[...]; -1 needs the last to hold '
                    '((SEG: EndText)))' % shape.extended_texts)
        values['extended_text_headers'] = announced
    for name, written in (('extended_samples_per_trace', count),
                          ('extended_sample_interval', shape.extended_interval or
                           shape.interval),
                          ('additional_trace_headers', shape.extra)):
        if given.get(name, 0) not in (0, written):
            _refuse(name, given[name], 'the file is written with %r%s' % (
                written, ' (extension_headers= writes them)'
                if name == 'additional_trace_headers' else ''))
    if given.get('trailer_records', 0):
        _refuse('trailer_records', given['trailer_records'], 'the writer writes no such '
                'records: leave it 0')
    start = TEXT_HEADER_SIZE + BINARY_HEADER_SIZE + TEXT_HEADER_SIZE * shape.extended_texts
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
        if name not in ('extended_text_headers', 'byte_order', 'additional_trace_headers',
                        'extended_samples_per_trace', 'extended_sample_interval'):
            values[name] = value
    return BINARY.encode(values, shape.endian), values


def _peek(traces):
    it = iter(traces)
    for first in it:
        return first, it
    raise FormatError('no traces to write')


def _row_blocks(data):
    """The rows of a 2-D array in blocks of about BLOCK_BYTES (each a 2-D array itself)."""
    per_block = max(1, BLOCK_BYTES // max(1, data.shape[1] * data.itemsize))
    for start in range(0, len(data), per_block):
        yield data[start:start + per_block]


def _extensions(extension_headers, traces):
    """The lists of additional headers, one per trace, and the most any has."""
    if extension_headers is None:
        return None, 0
    lists = list(extension_headers)
    if hasattr(traces, '__len__') and len(lists) != len(traces):
        raise FormatError('extension_headers holds %d lists for %d traces'
                          % (len(lists), len(traces)))
    extra = max([len(items) if hasattr(items, '__len__') else 0 for items in lists] or [0])
    if extra > MAX_ADDITIONAL_HEADERS:
        raise FormatError('extension_headers: %d additional headers a trace; at most %d'
                          % (extra, MAX_ADDITIONAL_HEADERS))
    return lists, extra


def write(target, traces, sample_interval, format=samples.IBM, text_header=None,
          binary_header=None, trace_headers=None, endian='big', saturate=False,
          text_encoding='ebcdic', extended_text_headers=None, extension_headers=None):
    """Writes a SEG-Y file of `traces` (sequences of numbers, all of one length unless the
    binary header given sets fixed_length_traces=0).

    `sample_interval` is in microseconds: a whole number up to 65535 goes in the two-byte
    fields, any other (up to 1e9) in revision 2's extended interval. `format` is a sample
    format code (1 IBM, 5 IEEE, or any other code of samples.FORMATS) or 'ibm' / 'ieee';
    `text_header` a str (lines or one block); `extended_text_headers` a list of such str,
    written after the binary header (which counts them); `binary_header` a dict of extra binary
    header fields (fields announcing what is not written are refused); `trace_headers` dicts
    (or 240-byte headers), one per trace in trace order; `extension_headers` one list per trace
    of its additional headers (revision 2.1): a dict of extension 1's fields by name (first
    only) or 240 bytes each. More than 65535 samples go in revision 2's extended count (the
    two-byte counts then 0). IBM refuses NaN and infinities unless `saturate`. A path ('-':
    standard output) gets the whole file or nothing; a binary file object is written as the
    traces come. Returns the number of traces written.
    """
    _check_endian(endian)
    fmt = samples.lookup(samples.NAMES.get(format, format)
                         if isinstance(format, string_types) else format)
    interval, extended_interval = interval_fields(sample_interval)
    given = dict(binary_header or {})
    if trace_headers is not None and hasattr(trace_headers, '__len__') \
            and hasattr(traces, '__len__') and len(trace_headers) != len(traces):
        raise FormatError('trace_headers holds %d headers for %d traces'
                          % (len(trace_headers), len(traces)))
    extensions, extra = _extensions(extension_headers, traces)
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
    if not len(first) or len(first) > MAX_EXTENDED_SAMPLES:
        raise FormatError('trace 0 has %d samples: a trace holds 1 to %d'
                          % (len(first), MAX_EXTENDED_SAMPLES))
    extended = [text.encode(t, text_encoding) for t in (extended_text_headers or ())]
    # A count of -1 announces records up to one holding the end stanza: the last given.
    open_ended = bool(extended) and END_TEXT in text.decode(
        extended[-1], text_encoding).replace(' ', '').upper()
    shape = Shape(fmt, endian, interval, extended_interval, len(first), varying, len(extended),
                  trace_count, open_ended, extra)
    raw_binary, values = make_binary_header(shape, given)
    revision = values['revision_major']
    raw_text = text.encode(text_header if text_header is not None else text.default(
        ['SEG-Y written by wavecodec', 'samples: %s, interval %s us' % (
            fmt.name, '%d' % interval if interval else repr(extended_interval)),
         'SEG Y REV%s' % revision]), text_encoding)
    gap = values.get('first_trace_offset', 0)
    if gap:
        gap -= TEXT_HEADER_SIZE + BINARY_HEADER_SIZE + TEXT_HEADER_SIZE * len(extended)
    options = TraceOptions(fmt, interval, endian, saturate, varying,
                           MAX_EXTENDED_SAMPLES if revision >= 2 else MAX_SAMPLES,
                           extensions, extra, revision)
    with output(target) as out:
        out.write(raw_text)
        out.write(raw_binary)
        for raw in extended:
            out.write(raw)
        out.write(b'\0' * gap)
        # Without a first row written on its own, the blocks hold every row.
        written = write_traces(out, first, rest, trace_headers, options,
                               skip_first=not first_written)
        announced = values.get('trace_count', 0)
        if announced and announced != written:
            _refuse('trace_count', announced, '%d traces were written' % written)
        return written
