"""Writing GSE2 files and messages: WID2 and STA2 lines, DAT2, CM6 or INT data, CHK2 line."""
import ctypes
from array import array

from . import header as hdr
from .. import native, output_target
from ..safeio import open_output
from ..compat import string_types
from ..errors import FormatError
from .waveform import Waveform, as_int32_array

# Largest magnitude of a second difference that the six-bit code carries.
CM6_MAX = 134217727
# Characters per data line.
LINE_WIDTH = 80
# Samples encoded per library call when a long waveform is written a block at a time.
BLOCK = 1 << 20
# Samples per waveform: the WID2 line gives the count in eight columns.
MAX_SAMPLES = 99999999


def _second_differences(lib, samples):
    diffs = samples[:]  # a copy of array('i') by slicing: one memcpy under 2.7 as well
    # The differencing state is this call's own, so threads encode at once.
    lib.diff_2nd_r(ctypes.byref(native.DiffState()), native.int_pointer(diffs), len(diffs), 0)
    return diffs


class _CodeBuffer(object):
    """One output buffer for the CM6 text of all the waveforms of a write, grown as needed."""

    def __init__(self):
        self.buffer = None
        self.capacity = 0
        self.length = ctypes.c_size_t(0)
        self.clamped = ctypes.c_int(0)
        # Made once: the encoder is called once a waveform.
        self.length_ref = ctypes.byref(self.length)
        self.clamped_ref = ctypes.byref(self.clamped)

    def room(self, capacity):
        if capacity > self.capacity:
            self.capacity = max(capacity, 2 * self.capacity)
            self.buffer = ctypes.create_string_buffer(self.capacity)
        return self.buffer


def _encode_lines(lib, diffs, code):
    """(status, clamped count, CM6 text in lines) of second differences `diffs`."""
    n = len(diffs)
    # Six characters a sample at most, a LF per line and one for the last line.
    capacity = 6 * n + 6 * n // LINE_WIDTH + 1
    out = code.room(capacity)
    status = lib.compress_6b_lines(native.int_pointer(diffs), n, LINE_WIDTH, None, out,
                                   capacity, code.length_ref, code.clamped_ref)
    return status, code.clamped.value, ctypes.string_at(out, code.length.value)


def _cm6_data(lib, samples, clamp, where, code):
    """(CM6 data lines, checksum) of `samples`. A second difference beyond the code's range is a
    FormatError unless `clamp`; then it is clamped to +-134217727 and the checksum is that of
    the samples the file will decode to, so that the file stays consistent. The encoder counts
    the differences it clamps, so the range is checked in the same pass as the encoding."""
    if not samples:
        return b'', 0
    diffs = _second_differences(lib, samples)
    status, clamped, text = _encode_lines(lib, diffs, code)
    if status == 0 and clamped == 0:
        return text, lib.check_sum(native.int_pointer(samples), len(samples), 0)
    if status not in (0, -1):
        raise FormatError('%s: the encoder failed (status %d after %d characters)'
                          % (where, status, len(text)))
    # Out of range (or -2147483648, which the encoder cannot take at all): the rare road.
    low, high = min(diffs), max(diffs)
    if not clamp:
        worst = low if -low > high else high
        raise FormatError('%s: second difference %d at sample %d is outside the CM6 range '
                          '+-%d (write with clamp=True to clamp it, or use INT)'
                          % (where, worst, diffs.index(worst) + 1, CM6_MAX))
    # Clamped here, so that the decoded samples, and with them the checksum, are known.
    diffs = array('i', [CM6_MAX if v > CM6_MAX else -CM6_MAX if v < -CM6_MAX else v
                        for v in diffs])
    status, _, text = _encode_lines(lib, diffs, code)
    if status != 0:
        raise FormatError('%s: the encoder failed (status %d after %d characters)'
                          % (where, status, len(text)))
    decoded = diffs[:]
    lib.rem_2nd_diff(native.int_pointer(decoded), len(decoded))
    return text, lib.check_sum(native.int_pointer(decoded), len(decoded), 0)


def _cm6_blocks(lib, samples, code):
    """Yields (status, clamped count, text) of the CM6 lines of `samples`, BLOCK samples at a
    time, the open line carried from block to block and ended after the last. Each block's
    second differences come from the block and the two samples before it, so no state passes
    between the library calls."""
    n = len(samples)
    column = ctypes.c_int(0)
    state = native.DiffState()
    for start in range(0, n, BLOCK):
        before = min(start, 2)
        part = samples[start - before:start + BLOCK]
        lib.diff_2nd_r(ctypes.byref(state), native.int_pointer(part), len(part), 0)
        count = len(part) - before
        capacity = 6 * count + 6 * count // LINE_WIDTH + 1
        out = code.room(capacity)
        status = lib.compress_6b_lines(native.int_pointer(part) + 4 * before, count, LINE_WIDTH,
                                       ctypes.byref(column), out, capacity,
                                       code.length_ref, code.clamped_ref)
        yield status, code.clamped.value, ctypes.string_at(out, code.length.value)
    if column.value:
        yield 0, 0, b'\n'


def _cm6_in_range(lib, samples, code):
    """Whether every second difference of `samples` has a code (checked a block at a time by
    the encoder: its count of clamped samples)."""
    return all(status == 0 and clamped == 0 for status, clamped, _ in
               _cm6_blocks(lib, samples, code))


def _int_data(samples):
    """INT data lines: the samples right-aligned in equal columns, at most 80 per line."""
    if not samples:
        return b''
    width = max(len(str(min(samples))), len(str(max(samples)))) + 1
    per_line = LINE_WIDTH // width
    row = ('%' + str(width) + 'd') * per_line
    lines = []
    for i in range(0, len(samples) - per_line + 1, per_line):
        lines.append(row % tuple(samples[i:i + per_line]))
    rest = len(samples) % per_line
    if rest:
        lines.append(('%' + str(width) + 'd') * rest % tuple(samples[len(samples) - rest:]))
    return ('\n'.join(lines) + '\n').encode('ascii')


def _message_lines(message_id):
    """The lines that open a message, and the line that closes it."""
    if not isinstance(message_id, string_types) or not message_id.strip():
        raise FormatError('message_id must be non-empty text, not %r' % (message_id,))
    words = message_id.split(' ')
    words = [w for w in words if w]
    if len(words) > 2 or len(words[0]) > 20 or \
            any(not ('!' <= ch <= '~') for ch in ''.join(words)):
        raise FormatError('message_id %r must be an identifier of at most 20 printable ASCII '
                          'characters, optionally followed by a source' % (message_id,))
    head = ('BEGIN GSE2.1\nMSG_TYPE DATA\nMSG_ID %s\nDATA_TYPE WAVEFORM GSE2.1\n'
            % ' '.join(words))
    return head.encode('ascii'), b'STOP\n'


class _Where(object):
    """'NAME: waveform N (station channel start)' for messages, made only when one is."""

    def __init__(self, name, index, header):
        self.args = (name, index, header)

    def __str__(self):
        name, index, header = self.args
        return '%s: waveform %d (%s)' % (name, index, hdr.describe(header))


def _waveform_chunks(lib, wave, data_format, clamp, allow_errors, where, code):
    """The text of one waveform in pieces: a long CM6 waveform a block of lines at a time (its
    second differences checked first, in a pass of the encoder that keeps nothing), all else in
    one piece from _waveform_bytes."""
    if data_format == 'CM6' and len(wave.samples) > BLOCK:
        header, samples = _checked(wave, allow_errors, where)
        # Out-of-range differences take the road that clamps them or names the first.
        if _cm6_in_range(lib, samples, code):
            yield _head(wave, header, len(samples), data_format)
            for _, _, text in _cm6_blocks(lib, samples, code):
                yield text
            yield _tail(lib.check_sum(native.int_pointer(samples), len(samples), 0))
            return
    yield _waveform_bytes(lib, wave, data_format, clamp, allow_errors, where, code)


def _checked(wave, allow_errors, where):
    """(complete header, samples as array('i')) of a waveform that may be written."""
    if wave.error is not None and not allow_errors:
        raise FormatError('%s was read with a fault (%s); write(..., allow_errors=True) writes '
                          'it anyway' % (where, wave.error))
    if getattr(wave, 'headers_only', False):
        raise FormatError('%s was read with headers_only=True and holds no samples' % where)
    header = hdr.complete(wave.header)
    samples = wave.samples
    if not (isinstance(samples, array) and samples.typecode == 'i'):
        # The caller may have replaced the array by another sequence.
        samples = as_int32_array(samples)
    if len(samples) > MAX_SAMPLES:
        raise FormatError('%d samples do not fit the WID2 line (at most %d per waveform)'
                          % (len(samples), MAX_SAMPLES))
    return header, samples


def _head(wave, header, count, data_format):
    """The WID2 line, the STA2 line when there is one, and DAT2."""
    head = hdr.format_wid2(header, count, data_format)
    if wave.sta2 is not None:
        head += hdr.format_sta2(wave.sta2)
    return head + b'DAT2\n'


def _tail(checksum):
    return ('CHK2 %8d\n' % checksum).encode('ascii')


def _waveform_bytes(lib, wave, data_format, clamp, allow_errors, where, code):
    """WID2, STA2, DAT2, the data lines and CHK2 of one waveform."""
    header, samples = _checked(wave, allow_errors, where)
    if data_format == 'CM6':
        data, checksum = _cm6_data(lib, samples, clamp, where, code)
    else:
        data = _int_data(samples)
        checksum = lib.check_sum(native.int_pointer(samples), len(samples), 0)
    return b''.join((_head(wave, header, len(samples), data_format), data, _tail(checksum)))


def to_bytes(waveforms, data_format='CM6', clamp=False, message_id=None, allow_errors=False,
             name='<bytes>'):
    """The text of a GSE2 file holding `waveforms` (see write), as bytes."""
    return b''.join(to_chunks(waveforms, data_format, clamp, message_id, allow_errors, name))


def to_chunks(waveforms, data_format='CM6', clamp=False, message_id=None, allow_errors=False,
              name='<bytes>'):
    """The text of a GSE2 file holding `waveforms` (see write) in pieces of bounded size (one
    per short waveform; a long CM6 waveform in blocks of lines): a FormatError comes before
    the piece it concerns."""
    data_format = str(data_format).upper()
    if data_format not in ('CM6', 'INT'):
        raise FormatError('%s: unsupported sub-format %r (supported: CM6, INT)'
                          % (name, data_format))
    if isinstance(waveforms, Waveform):
        waveforms = [waveforms]
    waveforms = list(waveforms)
    if not waveforms:
        raise FormatError('%s: no waveforms to write (a GSE2 file holds one at least)' % name)
    lib = native.wavecodec()
    code = _CodeBuffer()
    if message_id is not None:
        head, tail = _message_lines(message_id)
        yield head
    for index, wave in enumerate(waveforms, 1):
        if not isinstance(wave, Waveform):
            raise FormatError('%s: item %d is not a Waveform' % (name, index))
        where = _Where(name, index, wave.header)
        try:
            for chunk in _waveform_chunks(lib, wave, data_format, clamp, allow_errors, where,
                                          code):
                yield chunk
        except FormatError as e:
            # The same exception, named: one traceback.
            text = str(e)
            where = str(where)
            if not text.startswith(where):
                e.args = ('%s: %s' % (where, text),) + e.args[1:]
            raise
    if message_id is not None:
        yield tail


def write(target, waveforms, data_format='CM6', clamp=False, message_id=None,
          allow_errors=False):
    """Writes `waveforms` (Waveform objects) in sub-format `data_format` ('CM6' or 'INT') to
    `target`: a path (str, bytes or path-like), an open file descriptor (written at its
    position, left open) or a binary file object (written with one write call).

    A path gets the file complete or not at all: nothing is written until every waveform has
    been converted, and the file is written under a temporary name and renamed at the end.

    Each header's sample_count and data_format are set from the samples and `data_format`; the
    start may be given as the six date and time fields or as `start` (a datetime). Every value
    is checked to survive printing in its columns (FormatError naming the field otherwise).
    A waveform with `sta2` gets its STA2 line after the WID2 line. In CM6 a second difference
    beyond +-134217727 raises FormatError unless `clamp` is true.
    message_id: when given, the waveforms are wrapped in a complete message (BEGIN GSE2.1,
    MSG_TYPE DATA, MSG_ID, DATA_TYPE WAVEFORM GSE2.1, ..., STOP).
    allow_errors: write waveforms whose `.error` is set (read with strict=False); refused
    otherwise, so that a faulty waveform is never re-saved as a clean file.
    """
    if hasattr(target, 'write'):
        name = getattr(target, 'name', '<stream>')
        target.write(to_bytes(waveforms, data_format, clamp, message_id, allow_errors, name))
        return
    # A name, path-like object or file descriptor; TypeError for anything else.
    target = output_target.normalize(target)
    # Staged a piece at a time: the file appears only when every piece is written.
    with open_output(target) as f:
        for chunk in to_chunks(waveforms, data_format, clamp, message_id, allow_errors,
                               output_target.display(target)):
            f.write(chunk)
