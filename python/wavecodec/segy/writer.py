"""Writing SEG-Y files (and the trace part that Seismic Unix files share)."""
import contextlib

from ..safeio import open_output
from ..compat import string_types
from ..errors import FormatError
from . import samples, text
from .fields import BINARY, TRACE, TRACE_HEADER_SIZE
from .layout import BYTE_ORDER_MARK

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


def make_binary_header(fmt, interval, count, endian, given=None, varying=False):
    """The 400 bytes of the binary header: revision 1 for big-endian files, revision 2 with its
    byte-order mark for little-endian ones."""
    values = dict(format=fmt.code, sample_interval=interval, samples_per_trace=count,
                  revision_major=1 if endian == 'big' else 2, revision_minor=0,
                  fixed_length_traces=0 if varying else 1, extended_text_headers=0)
    if endian == 'little':
        values['byte_order'] = BYTE_ORDER_MARK
    for name, value in sorted((given or {}).items()):
        if name in _OWNED and value != values[name]:
            raise FormatError('binary header field %s=%r disagrees with the %s written (%r)'
                              % (name, value, name, values[name]))
        values[name] = value
    return BINARY.encode(values, endian)


def _peek(traces):
    it = iter(traces)
    for first in it:
        return first, it
    raise FormatError('no traces to write')


def _sequence(values):
    return values if hasattr(values, '__len__') and hasattr(values, '__getitem__') \
        else list(values)


def write_traces(out, first, rest, trace_headers, fmt, interval, endian, saturate, varying):
    """Writes each trace's 240-byte header and its samples; returns the count written."""
    headers = iter(trace_headers) if trace_headers is not None else None
    count = len(first)
    index = 0
    for values in _chain(first, rest):
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
        given = next(headers, None) if headers is not None else None
        out.write(trace_header(index, given, len(values), interval, endian))
        out.write(samples.encode(fmt, values, endian, saturate, where))
        index += 1
    return index


def _chain(first, rest):
    yield first
    for values in rest:
        yield values


def trace_header(index, given, count, interval, endian):
    """240 header bytes: sequence numbers, sample count and interval, then the caller's fields
    (a dict) or bytes (a header as read, its count and interval made to agree)."""
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
          text_encoding='ebcdic'):
    """Writes a SEG-Y file of `traces` (sequences of numbers, all of one length unless the
    binary header given sets fixed_length_traces=0).

    `sample_interval` is in microseconds; `format` a sample format code (1 IBM, 5 IEEE, or any
    other code of samples.FORMATS) or 'ibm' / 'ieee'; `text_header` a str (lines or one block);
    `binary_header` a dict of extra binary header fields; `trace_headers` dicts (or 240-byte
    headers) in trace order. IBM refuses NaN and infinities unless `saturate`. A path ('-':
    standard output) gets the whole file or nothing; a binary file object is written as the
    traces come. Returns the number of traces written.
    """
    _check_endian(endian)
    fmt = samples.lookup(samples.NAMES.get(format, format)
                         if isinstance(format, string_types) else format)
    interval = _sample_interval(sample_interval)
    first, rest = _peek(traces)
    first = _sequence(first)
    varying = (binary_header or {}).get('fixed_length_traces', 1) == 0
    raw_text = text.encode(text_header if text_header is not None else text.default(
        ['SEG-Y written by wavecodec', 'samples: %s, interval %d us' % (fmt.name, interval),
         'SEG Y REV%d' % (1 if endian == 'big' else 2)]), text_encoding)
    if not len(first) or len(first) > MAX_SAMPLES:
        raise FormatError('trace 0 has %d samples: a trace holds 1 to %d'
                          % (len(first), MAX_SAMPLES))
    raw_binary = make_binary_header(fmt, interval, len(first), endian, binary_header, varying)
    with output(target) as out:
        out.write(raw_text)
        out.write(raw_binary)
        return write_traces(out, first, rest, trace_headers, fmt, interval, endian, saturate,
                            varying)
