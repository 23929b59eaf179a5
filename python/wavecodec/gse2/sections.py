"""Decoding of the data sections of a GSE2 text held in memory, CM6 and INT, through the library
(one call per section), each checked against its WID2 line's count and its CHK2 line.

A section ends at the next WID2 line at the latest, so a short or broken section never swallows
the next waveform. Faults go to the reader's `fail(wave, index, message, kind, pos)`.
"""
import re

from . import datasection
from .. import native
from ..compat import native_str
from ..errors import ChecksumError, WaveformError
from .scan import checksum_value, keyword

_BLANK_LINES = re.compile(br'(?:[ \t\r\f\v\0]*\n)*')
# A word of INT data: what lies between the white space samples_from_text passes over.
_WORD = re.compile(br'[^ \t\n\r\x0b\x0c]+')
# A character that is neither six-bit code nor white space.
_NOT_CODE = re.compile(br'[^+\-0-9A-Za-z \t\r\n\f\v]')


class SectionDecoder(object):
    def __init__(self, scanner, lib, verify, fail):
        self.scan = scanner
        self.lib = lib
        self.verify = verify
        self.fail = fail

    def skip(self, wave, start):
        """Passes over the section at `start`, keeping its CHK2 value; returns where scanning
        goes on."""
        after, value = self.scan.skip_section(start)
        if value is not None:
            wave.checksum = value
        return after

    def decode(self, wave, index, at, start):
        """Reads the data section beginning at `start` (after the DAT2 line) of waveform number
        `index`, whose WID2 line is at `at`. Returns the position where scanning goes on."""
        header = wave.header
        count = header['sample_count']
        fmt = (header['data_format'] or '').upper()
        if count is None or count < 0:
            # The header's fault is recorded already.
            return self.skip(wave, start)
        if fmt not in ('CM6', 'INT'):
            self.fail(wave, index, 'unsupported sub-format %r (supported: CM6, INT)'
                      % header['data_format'], pos=at)
            return self.skip(wave, start)
        end = self.scan.next_wid2(start)
        if fmt == 'CM6':
            return self._cm6(wave, index, at, start, end, count)
        return self._int(wave, index, at, start, end, count)

    def _where(self, pos):
        """'line L, column C' of position `pos`."""
        line = self.scan.line_number(pos)
        return 'line %d, column %d' % (line, pos - self.scan.data.rfind(b'\n', 0, pos))

    def _damage(self, start, stop):
        """Where the code text in [start, stop) holds a character that is not six-bit code,
        as '; line L, column C holds '!', not six-bit code', else ''. Looked for on faults
        only."""
        found = _NOT_CODE.search(self.scan.data, start, stop)
        if found is None:
            return ''
        return '; %s holds %r, not six-bit code' % (self._where(found.start()),
                                                     native_str(found.group()))

    def _cm6(self, wave, index, at, start, end, count):
        """Decodes a CM6 section; a fault found in it also names the first character that is
        not six-bit code, if any (raised when strict, else in `.error`)."""
        clean = wave.error is None
        try:
            after = self._cm6_section(wave, index, at, start, end, count)
        except WaveformError as e:
            e.args = (e.args[0] + self._damage(start, self.scan.next_checksum_line(start, end)),
                      ) + e.args[1:]
            raise
        if clean and wave.error is not None:
            wave.error += self._damage(start, self.scan.next_checksum_line(start, end))
        return after

    def _cm6_section(self, wave, index, at, start, end, count):
        scan = self.scan
        if count > end - start:
            self.fail(wave, index, 'the WID2 line declares %d samples, more than its data '
                      'section of %d bytes can hold' % (count, end - start), pos=at)
            return self.skip(wave, start)
        # One sample more than declared: code left after the last sample, even in its own
        # line, is found by the same call.
        samples, stored, used = datasection.decode_cm6(self.lib, scan.src, start, end,
                                                       count + 1)
        if stored < 0 or stored > count:
            # Past the declared samples (or inside one of them): decode just those, to know
            # where they end.
            samples, exact, used = datasection.decode_cm6(self.lib, scan.src, start, end,
                                                          count)
            if exact < 0:
                # The text ends inside a sample: keep the whole samples before it.
                exact = self._whole_samples(start, end, count)
                samples, exact, used = datasection.decode_cm6(self.lib, scan.src, start, end,
                                                              exact)
            stored = count + 1 if exact == count else exact
        kept = max(0, min(stored, count))
        datasection.restore(self.lib, samples, kept)
        wave.samples = samples
        pos = start + used
        if stored > count:
            # A line "CHK2" without a blank is code to the decoder but a checksum line here.
            pos = _BLANK_LINES.match(scan.data, pos).end()
            line, after = scan.line_at(pos) if pos < end else (b'', end)
            if keyword(line) not in (b'CHK2', b'CHK1') or line[4:5] == b' ':
                self.fail(wave, index, 'more data than the %d samples declared before the '
                          'CHK2 line' % count, pos=at)
                return self.skip(wave, start)
        line, after = scan.line_at(pos) if pos < end else (b'', end)
        if keyword(line) in (b'CHK2', b'CHK1'):
            if stored < count:
                self.fail(wave, index, 'short data section: %d samples declared, %d found '
                          'before the CHK2 line' % (count, stored), pos=at)
            self._checksum(wave, index, line, at)
            return after
        if stored < count:
            self.fail(wave, index, 'truncated: the data section ends after %d of the %d '
                      'samples declared' % (kept, count), pos=at)
        elif end >= scan.size:
            self.fail(wave, index, 'the file ends without the CHK2 line', pos=at)
        else:
            self.fail(wave, index, 'no CHK2 line before the next WID2 line', pos=at)
        return end

    def _whole_samples(self, start, end, count):
        """How many whole samples the section's text holds when it ends inside sample `count` or
        before: the largest k whose decoding succeeds, found by bisection (a fault path only)."""
        low, high = 0, count - 1
        while low < high:
            mid = (low + high + 1) // 2
            got = datasection.decode_cm6(self.lib, self.scan.src, start, end, mid)[1]
            if got == mid:
                low = mid
            else:
                high = mid - 1
        return low

    def _checksum(self, wave, index, line, at):
        samples = wave.samples
        wave.checksum = checksum_value(line)
        wave.computed_checksum = self.lib.check_sum(native.int_pointer(samples), len(samples),
                                                    0)
        if wave.checksum is None:
            self.fail(wave, index, 'the CHK2 line %r holds no number'
                      % native_str(bytes(line.rstrip())), pos=at)
        elif self.verify and wave.error is None and \
                wave.checksum not in (wave.computed_checksum, abs(wave.computed_checksum)):
            self.fail(wave, index, 'checksum mismatch: the CHK2 line gives %d, the %d samples '
                      'give %d' % (wave.checksum, len(samples), wave.computed_checksum),
                      ChecksumError, pos=at)

    def _int(self, wave, index, at, start, end, count):
        scan = self.scan
        chk = scan.next_checksum_line(start, end)
        samples, fault = datasection.decode_int(self.lib, scan.src, start, chk, count)
        if samples is None:
            offset, why = fault
            word = _WORD.match(scan.data, start + offset).group()
            self.fail(wave, index, 'bad INT sample %r at %s: %s' % (
                native_str(bytes(word)), self._where(start + offset), why), pos=at)
            return self.skip(wave, start)
        wave.samples = samples
        if len(samples) > count:
            self.fail(wave, index, 'more data than the %d samples declared' % count, pos=at)
        elif len(samples) < count:
            what = ('the file ends' if chk >= scan.size else
                    'the WID2 line comes' if chk == end else 'the CHK2 line comes')
            self.fail(wave, index, 'short data section: %d samples declared, %s after %d'
                      % (count, what, len(samples)), pos=at)
        if chk == end:
            if len(samples) == count:
                self.fail(wave, index, 'the file ends without the CHK2 line' if end >= scan.size
                          else 'no CHK2 line before the next WID2 line', pos=at)
            return end
        line, after = scan.line_at(chk)
        self._checksum(wave, index, line, at)
        return after
