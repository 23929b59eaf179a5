"""Reading GSE2.0 files: WID2 header, DAT2 data section (CM6 or INT), CHK2 checksum."""
import ctypes
import os
import sys
from array import array

from . import header as hdr
from . import native
from .compat import native_str
from .errors import ChecksumError, FormatError
from .stdio import CFile
from .waveform import Waveform


class _LineFeeder(object):
    """The decoder's line reader: hands over one line per call, at most 82 characters with its
    end-of-line, the rest of a longer line read and dropped; CRLF is passed on as LF. The first
    line handed over is `first` (the DAT2 line, already read by the host). Remembers the last
    line (the decoder consumes the CHK2 line when the data section is short)."""

    def __init__(self, stream, first):
        self.libc = stream.libc
        self.fp = stream.fp
        self.pending = first
        self.last = None
        self.failure = None
        self.scratch = ctypes.create_string_buffer(256)
        self.callback = native.LINE_READER(self._read)

    def _read(self, buf, _stream):
        # Exceptions cannot cross the C caller: keep the first and report the end of input.
        try:
            return self._next(buf)
        except Exception as e:  # pragma: no cover - only on interpreter failures
            self.failure = e
            return None

    def _next(self, buf):
        if self.pending is not None:
            line, self.pending = self.pending[:native.LINE_BUFFER - 1], None
            ctypes.memmove(buf, line + b'\0', len(line) + 1)
            self.last = line
            return buf
        if not self.libc.fgets(buf, native.LINE_BUFFER, self.fp):
            return None
        line = ctypes.string_at(buf)
        if line.endswith(b'\r\n'):
            line = line[:-2] + b'\n'
            ctypes.memmove(buf + len(line) - 1, b'\n\0', 2)
        elif not line.endswith(b'\n') and len(line) == native.LINE_BUFFER - 1:
            # An over-long line: drop the rest so that the next call starts a new line.
            while self.libc.fgets(self.scratch, len(self.scratch), self.fp):
                if self.scratch.value.endswith(b'\n'):
                    break
        self.last = line
        return buf


def _checksum_value(line):
    """The number of a "CHK2 " line, or None when it has none."""
    fields = line[5:].split()
    try:
        return int(fields[0]) if fields else None
    except ValueError:
        return None


class _Reader(object):
    def __init__(self, path, verify, strict):
        self.path = path
        self.verify = verify
        self.strict = strict
        self.lib = native.wavecodec()
        self.size = os.path.getsize(path)
        self.stream = CFile(path, 'rb')

    def close(self):
        self.stream.close()

    def _fail(self, wave, index, message, kind=FormatError):
        text = '%s: waveform %d (%s): %s' % (self.path, index, hdr.describe(wave.header), message)
        if self.strict:
            raise kind(text)
        if wave.error is None:
            wave.error = text

    def _skip_section(self):
        """Recovery after a fault: skips to just after the next CHK2 line, or to just before the
        next WID2 line, or to the end of the file."""
        while True:
            at = self.stream.tell()
            line = self.stream.readline()
            if line is None or line.startswith(b'CHK2') or line.startswith(b'CHK1'):
                return
            if line.startswith(b'WID2'):
                self.stream.seek(at)
                return

    def _find_data(self):
        """Reads up to the DAT2 line and returns it; None (stream left before any following WID2
        line) when the file ends or the next waveform begins first."""
        while True:
            at = self.stream.tell()
            line = self.stream.readline()
            if line is None:
                return None
            if line.startswith(b'DAT2') or line.startswith(b'DAT1'):
                return line
            if line.startswith(b'WID2'):
                self.stream.seek(at)
                return None

    def _next_nonblank(self):
        while True:
            at = self.stream.tell()
            line = self.stream.readline()
            if line is None or line.strip():
                return at, line

    def waveforms(self):
        index = 0
        while True:
            h = hdr.blank_struct()
            if self.lib.read_header(self.stream.fp, ctypes.byref(h)) != 0:
                if index == 0:
                    raise FormatError('%s: no WID2 line: not a GSE2.0 file' % self.path)
                return
            index += 1
            yield self._waveform(hdr.from_struct(h), index)

    def _waveform(self, header, index):
        wave = Waveform(header)
        count = header['sample_count']
        fmt = header['data_format'].upper()
        if count < 0:
            self._fail(wave, index, 'the WID2 line has no valid sample count')
            self._skip_section()
            return wave
        if count > self.size:
            self._fail(wave, index, 'the WID2 line declares %d samples, more than a file of %d '
                       'bytes can hold' % (count, self.size))
            self._skip_section()
            return wave
        if fmt not in ('CM6', 'INT'):
            self._fail(wave, index, 'unsupported sub-format %r (supported: CM6, INT)'
                       % header['data_format'])
            self._skip_section()
            return wave
        heading = self._find_data()
        if heading is None:
            self._fail(wave, index, 'no DAT2 line after the WID2 line')
            return wave
        if fmt == 'CM6':
            checksum_line = self._read_cm6(wave, index, heading, count)
        else:
            checksum_line = self._read_int(wave, index, count)
        if checksum_line is None:
            return wave
        wave.checksum = _checksum_value(checksum_line)
        wave.computed_checksum = self.lib.check_sum(native.int_pointer(wave.samples),
                                                    len(wave.samples), 0)
        if wave.checksum is None:
            self._fail(wave, index, 'the CHK2 line %r holds no number'
                       % native_str(checksum_line.rstrip()))
        elif self.verify and wave.error is None and \
                wave.checksum not in (wave.computed_checksum, abs(wave.computed_checksum)):
            self._fail(wave, index, 'checksum mismatch: the CHK2 line gives %d, the %d samples '
                       'give %d' % (wave.checksum, len(wave.samples), wave.computed_checksum),
                       ChecksumError)
        return wave

    def _expect_checksum(self, wave, index, count):
        """Reads the CHK2 line that must follow a complete data section; None after a fault."""
        at, line = self._next_nonblank()
        if line is not None and (line.startswith(b'CHK2') or line.startswith(b'CHK1')):
            return line
        if line is None:
            self._fail(wave, index, 'the file ends without the CHK2 line')
        elif line.startswith(b'WID2'):
            self.stream.seek(at)
            self._fail(wave, index, 'no CHK2 line before the next WID2 line')
        else:
            self._fail(wave, index, 'more data than the %d samples declared: expected the CHK2 '
                       'line, found %r' % (count, native_str(line.rstrip()[:40])))
            self._skip_section()
        return None

    def _read_cm6(self, wave, index, heading, count):
        samples = array('i', [0]) * count
        wave.samples = samples
        if count == 0:
            return self._expect_checksum(wave, index, count)
        feeder = _LineFeeder(self.stream, heading)
        # The decoder reports on C stdout: put Python's pending output first.
        sys.stdout.flush()
        got = self.lib.decomp_6b_buffer(count, native.int_pointer(samples), feeder.callback, None)
        if feeder.failure is not None:
            raise feeder.failure
        if got < 0:
            del samples[:]
            self._fail(wave, index, 'truncated: the data section ends before the %d samples '
                       'declared were decoded' % count)
            return None
        if got < count:
            # The decoder stopped at the CHK2 line and has consumed it.
            del samples[got:]
        self.lib.rem_2nd_diff(native.int_pointer(samples), got)
        if got < count:
            self._fail(wave, index, 'short data section: %d samples declared, %d found before '
                       'the CHK2 line' % (count, got))
            return feeder.last
        return self._expect_checksum(wave, index, count)

    def _read_int(self, wave, index, count):
        samples = array('i')
        wave.samples = samples
        while len(samples) < count:
            at = self.stream.tell()
            line = self.stream.readline()
            if line is None or line.startswith(b'WID2') or line.startswith(b'CHK2'):
                if line is not None and line.startswith(b'WID2'):
                    self.stream.seek(at)
                what = ('the file ends' if line is None
                        else 'the %s line comes' % native_str(line[:4]))
                self._fail(wave, index, 'short data section: %d samples declared, %s after %d'
                           % (count, what, len(samples)))
                return line if line is not None and line.startswith(b'CHK2') else None
            fields = line.split()
            try:
                samples.extend(map(int, fields))
            except (ValueError, OverflowError):
                bad = [f for f in fields if not _is_int32(f)]
                self._fail(wave, index, 'bad INT sample %r' % native_str(bad[0]))
                self._skip_section()
                return None
            if len(samples) > count:
                self._fail(wave, index, 'more data than the %d samples declared' % count)
                self._skip_section()
                return None
        return self._expect_checksum(wave, index, count)


def _is_int32(field):
    try:
        return -2147483648 <= int(field) <= 2147483647
    except ValueError:
        return False


def iter_waveforms(path, verify=True, strict=True):
    """Yields the waveforms of GSE2.0 file `path` in order.

    verify: compare each CHK2 line with the checksum of the samples (a value equal to the
    checksum or to its magnitude is accepted).
    strict: raise ChecksumError / FormatError at the first fault. With strict=False every
    waveform is returned, a faulty one with its message in `.error`, and reading goes on with
    the next waveform wherever the file allows.
    """
    reader = _Reader(path, verify, strict)
    try:
        for wave in reader.waveforms():
            yield wave
    finally:
        reader.close()


def read(path, verify=True, strict=True):
    """All waveforms of GSE2.0 file `path` as a list (see iter_waveforms)."""
    return list(iter_waveforms(path, verify, strict))
