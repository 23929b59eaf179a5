"""Writing GSE2 files and messages: the lines kept before a waveform, its WID2 line and block
(STA2, EID2, BEA2 and kept lines), DAT2, CM6 or INT data printed by the library, CHK2, and the
lines kept after it."""
import ctypes
from array import array

from .. import native, output_target
from ..safeio import open_output
from ..compat import string_types
from ..errors import FormatError
from .block import block_bytes, kept_bytes
from .complete import complete
from .waveform import Waveform, as_int32_array
from .wid2 import describe, format_wid2

# Largest magnitude of a second difference that the six-bit code carries.
CM6_MAX = 134217727
# Characters per data line.
LINE_WIDTH = 80
# Samples per INT data line: the longest sample takes 11 characters, so a line of six takes 71
# at most.
INT_PER_LINE = 6
# Samples encoded per library call when a long waveform is written a block at a time: the
# output buffer (12 bytes a sample for INT) stays a few MB beside the samples themselves.
BLOCK = 1 << 18
# CM6 waveforms of at most this many samples are encoded in one piece, in one pass.
ONE_PIECE = 1 << 20
# Samples per waveform: the WID2 line gives the count in eight columns.
MAX_SAMPLES = 99999999


def _second_differences(lib, samples):
    diffs = samples[:]  # a copy of array('i') by slicing: one memcpy under 2.7 as well
    # The differencing state is this call's own, so threads encode at once.
    lib.diff_2nd_r(ctypes.byref(native.DiffState()), native.int_pointer(diffs), len(diffs), 0)
    return diffs


class _CodeBuffer(object):
    """One output buffer for the CM6 or INT text of all the waveforms of a write, grown as
    needed. A bytearray: its memory comes zeroed from the system, page by page as the library
    writes, where a ctypes buffer would be filled with zeros first."""

    def __init__(self):
        self.buffer = None
        self.view = None
        self.address = None
        self.capacity = 0
        self.length = ctypes.c_size_t(0)
        self.clamped = ctypes.c_int(0)
        # Made once: the encoder is called once a waveform.
        self.length_ref = ctypes.byref(self.length)
        self.clamped_ref = ctypes.byref(self.clamped)

    def room(self, capacity):
        """The address of the buffer, of `capacity` bytes at least."""
        if capacity > self.capacity:
            self.capacity = max(capacity, 2 * self.capacity)
            self.buffer = bytearray(self.capacity)
            self.view = (ctypes.c_char * self.capacity).from_buffer(self.buffer)
            self.address = ctypes.addressof(self.view)
        return self.address


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
    for start in range(0, n, BLOCK):
        before = min(start, 2)
        part = samples[start - before:start + BLOCK]
        lib.diff_2nd_r(ctypes.byref(native.DiffState()), native.int_pointer(part), len(part), 0)
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


def _int_blocks(lib, samples, code):
    """Yields the INT data lines of `samples`, printed by the library BLOCK samples at a time:
    INT_PER_LINE samples a line, one blank between them, the open line carried from block to
    block and ended after the last."""
    n = len(samples)
    column = ctypes.c_int(0)
    address = native.int_pointer(samples)
    for start in range(0, n, BLOCK):
        count = min(BLOCK, n - start)
        capacity = 12 * count + 1
        out = code.room(capacity)
        printed = lib.samples_to_text(address + 4 * start, count, INT_PER_LINE,
                                      ctypes.byref(column), out, capacity, code.length_ref)
        if printed != count:
            raise FormatError('samples_to_text printed %d of %d samples (status %d)'
                              % (max(printed, 0), count, printed))
        yield ctypes.string_at(out, code.length.value)
    if column.value:
        yield b'\n'


def _message_lines(message_id, message):
    """The lines that open a message, and the line that closes it: of `message_id` (a GSE2.1
    message of this package), or of `message` (the envelope of a message read); None for
    neither."""
    if message is not None:
        if message_id is not None:
            raise FormatError('give message_id or message, not both')
        return _envelope_lines(message)
    if message_id is None:
        return None
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


# The envelope's lines in the order they are written, with their keys in Waveform.message.
_ENVELOPE = (('BEGIN', 'version'), ('MSG_TYPE', 'msg_type'), ('MSG_ID', 'msg_id'),
             ('REF_ID', 'ref_id'), ('DATA_TYPE', 'data_type'))


def _envelope_lines(message):
    """The opening lines of a message from a dict as Waveform.message holds it (a value that is
    None leaves its line out; BEGIN is always written), and STOP."""
    if not isinstance(message, dict) or \
            not set(message) <= set(name for _, name in _ENVELOPE):
        raise FormatError('message must be a dict of %s (as Waveform.message), not %r'
                          % (', '.join(name for _, name in _ENVELOPE), message))
    lines = []
    for word, name in _ENVELOPE:
        value = message.get(name)
        if value is None and word != 'BEGIN':
            continue
        if value is not None and (not isinstance(value, string_types) or
                                  any(not (' ' <= ch <= '~') for ch in value)):
            raise FormatError('message field %s %r must be printable ASCII text'
                              % (name, value))
        lines.append(word + (' ' + value if value else '') + '\n')
    return ''.join(lines).encode('ascii'), b'STOP\n'


class _Where(object):
    """'NAME: waveform N (station channel start)' for messages, made only when one is."""

    def __init__(self, name, index, header):
        self.args = (name, index, header)

    def __str__(self):
        name, index, header = self.args
        return '%s: waveform %d (%s)' % (name, index, describe(header))


def _waveform_chunks(lib, wave, data_format, clamp, allow_errors, where, code):
    """The text of one waveform in pieces: INT data and long CM6 data a block of lines at a
    time (in CM6 the second differences checked first, in a pass of the encoder that keeps
    nothing), a short CM6 waveform in one piece from _waveform_bytes. Every line but the data
    is made before the first piece."""
    if data_format == 'CM6' and len(wave.samples) <= ONE_PIECE:
        yield _waveform_bytes(lib, wave, clamp, allow_errors, where, code)
        return
    header, samples = _checked(wave, allow_errors, where)
    if data_format == 'CM6' and not _cm6_in_range(lib, samples, code):
        # Out-of-range differences take the road that clamps them or names the first.
        yield _waveform_bytes(lib, wave, clamp, allow_errors, where, code)
        return
    head = _head(wave, header, len(samples), data_format, where)
    after = kept_bytes(wave.after, where)
    yield head
    if data_format == 'CM6':
        for _, _, text in _cm6_blocks(lib, samples, code):
            yield text
    else:
        for text in _int_blocks(lib, samples, code):
            yield text
    yield _tail(lib.check_sum(native.int_pointer(samples), len(samples), 0), after)


def _checked(wave, allow_errors, where):
    """(complete header, samples as array('i')) of a waveform that may be written."""
    if wave.error is not None and not allow_errors:
        raise FormatError('%s was read with a fault (%s); write(..., allow_errors=True) writes '
                          'it anyway' % (where, wave.error))
    if getattr(wave, 'headers_only', False):
        raise FormatError('%s was read with headers_only=True and holds no samples' % where)
    header = complete(wave.header)
    samples = wave.samples
    if not (isinstance(samples, array) and samples.typecode == 'i'):
        # The caller may have replaced the array by another sequence.
        samples = as_int32_array(samples)
    if len(samples) > MAX_SAMPLES:
        raise FormatError('%d samples do not fit the WID2 line (at most %d per waveform)'
                          % (len(samples), MAX_SAMPLES))
    return header, samples


def _head(wave, header, count, data_format, where):
    """The lines kept before the waveform, its WID2 line and block, and DAT2."""
    head = format_wid2(header, count, data_format)
    if wave.block or wave.sta2 is not None or wave.eid2 is not None or wave.bea2 is not None:
        head += block_bytes(wave, where)
    if wave.before:
        head = kept_bytes(wave.before, where) + head
    return head + b'DAT2\n'


def _tail(checksum, after):
    """The CHK2 line and the lines kept after the waveform (bytes)."""
    return ('CHK2 %8d\n' % checksum).encode('ascii') + after


def _waveform_bytes(lib, wave, clamp, allow_errors, where, code):
    """The lines before, WID2, its block, DAT2, the CM6 data lines, CHK2 and the lines after
    one waveform."""
    header, samples = _checked(wave, allow_errors, where)
    data, checksum = _cm6_data(lib, samples, clamp, where, code)
    after = kept_bytes(wave.after, where) if wave.after else b''
    return b''.join((_head(wave, header, len(samples), 'CM6', where), data,
                     _tail(checksum, after)))


def to_bytes(waveforms, data_format='CM6', clamp=False, message_id=None, allow_errors=False,
             name='<bytes>', message=None):
    """The text of a GSE2 file holding `waveforms` (see write), as bytes."""
    return b''.join(to_chunks(waveforms, data_format, clamp, message_id, allow_errors, name,
                              message))


def to_chunks(waveforms, data_format='CM6', clamp=False, message_id=None, allow_errors=False,
              name='<bytes>', message=None):
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
    envelope = _message_lines(message_id, message)
    lib = native.wavecodec()
    code = _CodeBuffer()
    if envelope is not None:
        yield envelope[0]
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
    if envelope is not None:
        yield envelope[1]


def write(target, waveforms, data_format='CM6', clamp=False, message_id=None,
          allow_errors=False, message=None):
    """Writes `waveforms` (Waveform objects) in sub-format `data_format` ('CM6' or 'INT') to
    `target`: a path (str, bytes or path-like), an open file descriptor (written at its
    position, left open) or a binary file object (written with one write call).

    A path gets the file complete or not at all: nothing is written until every waveform has
    been converted, and the file is written under a temporary name and renamed at the end.

    Each header's sample_count and data_format are set from the samples and `data_format`; the
    start may be given as the six date and time fields or as `start` (a datetime). Every value
    is checked to survive printing in its columns (FormatError naming the field otherwise).
    A waveform's block (STA2, EID2, BEA2 and the lines kept with it: `block`, `before`,
    `after`) is written where it was read (block.py). In CM6 a second difference beyond
    +-134217727 raises FormatError unless `clamp` is true. INT data lines hold six samples.
    message_id: when given, the waveforms are wrapped in a complete message (BEGIN GSE2.1,
    MSG_TYPE DATA, MSG_ID, DATA_TYPE WAVEFORM GSE2.1, ..., STOP).
    message: instead, the envelope of a message read (a waveform's `.message`): its BEGIN,
    MSG_TYPE, MSG_ID, REF_ID and DATA_TYPE lines as read, ..., STOP.
    allow_errors: write waveforms whose `.error` is set (read with strict=False); refused
    otherwise, so that a faulty waveform is never re-saved as a clean file.
    """
    if hasattr(target, 'write'):
        name = getattr(target, 'name', '<stream>')
        target.write(to_bytes(waveforms, data_format, clamp, message_id, allow_errors, name,
                              message))
        return
    # A name, path-like object or file descriptor; TypeError for anything else.
    target = output_target.normalize(target)
    # Staged a piece at a time: the file appears only when every piece is written.
    with open_output(target) as f:
        for chunk in to_chunks(waveforms, data_format, clamp, message_id, allow_errors,
                               output_target.display(target), message):
            f.write(chunk)
