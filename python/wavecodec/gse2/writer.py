"""Writing GSE2 files and messages: WID2 and STA2 lines, DAT2, CM6 or INT data, CHK2 line."""
import ctypes
import threading
from array import array

from . import header as hdr
from .. import native
from ..safeio import write_bytes
from ..compat import string_types
from ..errors import FormatError
from .waveform import Waveform, as_int32_array

# Largest magnitude of a second difference that the six-bit code carries.
CM6_MAX = 134217727
# Characters per data line.
LINE_WIDTH = 80
# Samples per waveform: the WID2 line gives the count in eight columns.
MAX_SAMPLES = 99999999
# diff_2nd keeps its state process-wide: one series at a time.
_diff_lock = threading.Lock()


def _second_differences(lib, samples):
    diffs = array('i', samples)
    with _diff_lock:
        lib.diff_2nd(native.int_pointer(diffs), len(diffs), 0)
    return diffs


def _split_lines(data, width=LINE_WIDTH):
    return b''.join(data[i:i + width] + b'\n' for i in range(0, len(data), width))


def _cm6_data(lib, samples, clamp, where):
    """(CM6 data lines, checksum) of `samples`. A second difference beyond the code's range is a
    FormatError unless `clamp`; then it is clamped to +-134217727 and the checksum is that of
    the samples the file will decode to, so that the file stays consistent."""
    if not samples:
        return b'', 0
    diffs = _second_differences(lib, samples)
    low, high = min(diffs), max(diffs)
    clamped = low < -CM6_MAX or high > CM6_MAX
    if clamped and not clamp:
        worst = low if -low > high else high
        raise FormatError('%s: second difference %d at sample %d is outside the CM6 range '
                          '+-%d (write with clamp=True to clamp it, or use INT)'
                          % (where, worst, diffs.index(worst) + 1, CM6_MAX))
    if clamped:
        # The encoder clamps on its own except at -2147483648, which has no code at all; both
        # are done here so that the decoded samples, and with them the checksum, are known.
        diffs = array('i', [CM6_MAX if v > CM6_MAX else -CM6_MAX if v < -CM6_MAX else v
                            for v in diffs])
        decoded = array('i', diffs)
        lib.rem_2nd_diff(native.int_pointer(decoded), len(decoded))
        checksum = lib.check_sum(native.int_pointer(decoded), len(decoded), 0)
    else:
        checksum = lib.check_sum(native.int_pointer(samples), len(samples), 0)
    capacity = 6 * len(diffs)
    out = ctypes.create_string_buffer(capacity)
    length = ctypes.c_size_t(0)
    status = lib.compress_6b_chars(native.int_pointer(diffs), len(diffs), out, capacity,
                                   ctypes.byref(length))
    if status != 0:
        raise FormatError('%s: the encoder failed (status %d after %d characters)'
                          % (where, status, length.value))
    return _split_lines(ctypes.string_at(out, length.value)), checksum


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
    words = message_id.split()
    if len(words) > 2 or len(words[0]) > 20 or \
            any(not ('!' <= ch <= '~') for ch in ''.join(words)):
        raise FormatError('message_id %r must be an identifier of at most 20 printable ASCII '
                          'characters, optionally followed by a source' % (message_id,))
    head = ('BEGIN GSE2.1\nMSG_TYPE DATA\nMSG_ID %s\nDATA_TYPE WAVEFORM GSE2.1\n'
            % ' '.join(words))
    return head.encode('ascii'), b'STOP\n'


def _waveform_bytes(lib, wave, data_format, clamp, allow_errors, where):
    """WID2, STA2, DAT2, the data lines and CHK2 of one waveform."""
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
    if data_format == 'CM6':
        data, checksum = _cm6_data(lib, samples, clamp, where)
    else:
        data = _int_data(samples)
        checksum = lib.check_sum(native.int_pointer(samples), len(samples), 0)
    parts = [hdr.format_wid2(header, len(samples), data_format)]
    if wave.sta2 is not None:
        parts.append(hdr.format_sta2(wave.sta2))
    parts.append(b'DAT2\n' + data + ('CHK2 %8d\n' % checksum).encode('ascii'))
    return b''.join(parts)


def to_bytes(waveforms, data_format='CM6', clamp=False, message_id=None, allow_errors=False,
             name='<bytes>'):
    """The text of a GSE2 file holding `waveforms` (see write), as bytes."""
    data_format = str(data_format).upper()
    if data_format not in ('CM6', 'INT'):
        raise FormatError('%s: unsupported sub-format %r (supported: CM6, INT)'
                          % (name, data_format))
    if isinstance(waveforms, Waveform):
        waveforms = [waveforms]
    lib = native.wavecodec()
    parts = []
    if message_id is not None:
        head, tail = _message_lines(message_id)
        parts.append(head)
    for index, wave in enumerate(waveforms, 1):
        if not isinstance(wave, Waveform):
            raise FormatError('%s: item %d is not a Waveform' % (name, index))
        where = '%s: waveform %d (%s)' % (name, index, hdr.describe(wave.header))
        try:
            parts.append(_waveform_bytes(lib, wave, data_format, clamp, allow_errors, where))
        except FormatError as e:
            text = str(e)
            raise FormatError(text if text.startswith(where) else '%s: %s' % (where, text))
    if message_id is not None:
        parts.append(tail)
    return b''.join(parts)


def write(target, waveforms, data_format='CM6', clamp=False, message_id=None,
          allow_errors=False):
    """Writes `waveforms` (Waveform objects) in sub-format `data_format` ('CM6' or 'INT') to
    `target`: a path, or a binary file object (written with one write call).

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
    name = getattr(target, 'name', '<stream>') if hasattr(target, 'write') else target
    data = to_bytes(waveforms, data_format, clamp, message_id, allow_errors, name)
    if hasattr(target, 'write'):
        target.write(data)
    else:
        write_bytes(target, data)
