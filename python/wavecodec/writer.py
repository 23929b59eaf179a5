"""Writing GSE2.0 files: WID2 line (by the library), DAT2, CM6 or INT data, CHK2 line."""
import ctypes
import os
import threading
from array import array

from . import header as hdr
from . import native
from .errors import FormatError
from .safeio import open_output
from .stdio import CFile
from .waveform import Waveform, as_int32_array

# Largest magnitude of a second difference that the six-bit code carries.
CM6_MAX = 134217727
# Characters per data line.
LINE_WIDTH = 80
# Samples per waveform: the WID2 line gives the count in eight columns.
MAX_SAMPLES = 99999999
# Length of the WID2 line write_header prints, newline included.
WID2_LENGTH = 106

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


def _write_one(stream, lib, wave, data_format, clamp, index, path):
    if not isinstance(wave, Waveform):
        raise FormatError('%s: item %d is not a Waveform' % (path, index))
    where = '%s: waveform %d (%s)' % (path, index, hdr.describe(wave.header))
    try:
        header = hdr.complete({k: v for k, v in wave.header.items() if k not in hdr.DERIVED})
    except FormatError as e:
        raise FormatError('%s: %s' % (where, e))
    samples = wave.samples
    if not (isinstance(samples, array) and samples.typecode == 'i'):
        # The caller may have replaced the array by another sequence.
        try:
            samples = as_int32_array(samples)
        except FormatError as e:
            raise FormatError('%s: %s' % (where, e))
    if len(samples) > MAX_SAMPLES:
        raise FormatError('%s: %d samples do not fit the WID2 line (at most %d per waveform)'
                          % (where, len(samples), MAX_SAMPLES))
    if data_format == 'CM6':
        data, checksum = _cm6_data(lib, samples, clamp, where)
    else:
        data = _int_data(samples)
        checksum = lib.check_sum(native.int_pointer(samples), len(samples), 0)
    record = hdr.to_struct(header, len(samples), data_format)
    written = lib.write_header(stream.fp, ctypes.byref(record))
    if written != WID2_LENGTH:
        raise FormatError('%s: the WID2 line came out %d characters long, not %d'
                          % (where, written, WID2_LENGTH))
    stream.write(b'DAT2\n' + data + ('CHK2 %8d\n' % checksum).encode('ascii'))


def write(path, waveforms, data_format='CM6', clamp=False):
    """Writes `waveforms` (Waveform objects) to GSE2.0 file `path` in sub-format `data_format`
    ('CM6' or 'INT'), '-' being standard output. The file appears complete or not at all, a
    symbolic link keeps pointing to it and its permissions stay (see safeio).

    Each header's sample_count and data_format are set from the samples and `data_format`.
    In CM6 a second difference beyond +-134217727 raises FormatError unless `clamp` is true.
    """
    data_format = str(data_format).upper()
    if data_format not in ('CM6', 'INT'):
        raise FormatError('%s: unsupported sub-format %r (supported: CM6, INT)'
                          % (path, data_format))
    if isinstance(waveforms, Waveform):
        waveforms = [waveforms]
    lib = native.wavecodec()
    with open_output(path) as out:
        with CFile(path, 'wb', fd=os.dup(out.fileno())) as stream:
            for index, wave in enumerate(waveforms, 1):
                _write_one(stream, lib, wave, data_format, clamp, index, path)
