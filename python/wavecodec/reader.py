"""Reading GSE2.0/GSE2.1/IMS1.0 waveform files and messages from any source.

The whole input is in memory (see source.py). A line scanner in Python walks the lines outside
the data sections: WID2 and STA2 (parsed by their field tables), DAT2, CHK2 and the message
envelope (BEGIN, MSG_TYPE, MSG_ID, REF_ID, DATA_TYPE, STOP); other lines (comments, OUT2, DLY2,
EID2, BEA2, ...) are passed over. A data section is handed whole to the decoder, ending at the
next WID2 line at the latest, so a short or broken section never swallows the next waveform.

Keyword lines are the keyword followed by a blank or the line's end: a CM6 line may begin with
the same four letters ("WID2Hn...") and is data.
"""
import fnmatch
import re

from . import datasection
from . import header as hdr
from . import native
from .compat import native_str, string_types
from .errors import ChecksumError, FormatError
from .source import load
from .waveform import Waveform

_ENVELOPE = {'BEGIN': 'version', 'MSG_TYPE': 'msg_type', 'MSG_ID': 'msg_id',
             'REF_ID': 'ref_id', 'DATA_TYPE': 'data_type'}
_BLANK_LINES = re.compile(br'(?:[ \t\r\f\v\0]*\n)*')
_AFTER_KEYWORD = (b'', b' ', b'\t', b'\r', b'\n')


def _keyword(line):
    """The line's first four characters (bytes) when they can be a keyword: followed by a
    blank or the line's end. None otherwise."""
    if line[4:5] in _AFTER_KEYWORD:
        return bytes(line[:4])
    return None


def _checksum_value(line):
    """The number of a CHK2 line, or None when it has none."""
    fields = line[5:].split()
    try:
        return int(fields[0]) if fields else None
    except ValueError:
        return None


def _patterns(value, what):
    if value is None:
        return None
    if isinstance(value, string_types):
        value = [value]
    value = list(value)
    if not value or not all(isinstance(p, string_types) for p in value):
        raise TypeError('%s must be a pattern or a list of patterns' % what)
    return [p.upper() for p in value]


def _matches(value, patterns):
    if patterns is None:
        return True
    value = (value or '').upper()
    return any(fnmatch.fnmatchcase(value, p) for p in patterns)


class _Reader(object):
    def __init__(self, source, verify, strict, headers_only, station, channel):
        self.lib = native.wavecodec()
        self.src = load(source)
        self.data = self.src.data
        self.name = self.src.name
        self.size = len(self.data)
        self.verify = verify
        self.strict = strict
        self.headers_only = headers_only
        self.stations = _patterns(station, 'station')
        self.channels = _patterns(channel, 'channel')
        self._counted = (0, 1)

    # --- positions and lines

    def line_number(self, pos):
        """The 1-based number of the line holding position `pos` (counted incrementally)."""
        at, number = self._counted
        if pos < at:
            at, number = 0, 1
        number += self.data.count(b'\n', at, pos)
        self._counted = (pos, number)
        return number

    def line_at(self, pos):
        """(line without its end of line, position of the next line)."""
        newline = self.data.find(b'\n', pos)
        stop = self.size if newline < 0 else newline
        line = self.data[pos:stop]
        if line.endswith(b'\r'):
            line = line[:-1]
        return line, stop + 1

    def find_keyword(self, key, pos, limit, fourth=None):
        """The start of the first keyword line `key` in [pos, limit) (pos is a line start),
        else `limit`. With `fourth`, `key` is the first three letters and the fourth must be
        one of `fourth` (CHK2 and CHK1 in one scan)."""
        data = self.data
        first = pos if data[pos:pos + len(key)] == key else -1
        search = pos
        while True:
            if first < 0:
                at = self.src.find(b'\n' + key, search, limit)
                if at < 0:
                    return limit
                first = at + 1
            if (fourth is None or data[first + 3:first + 4] in fourth) and \
                    data[first + 4:first + 5] in _AFTER_KEYWORD:
                return first
            search, first = first, -1

    def next_wid2(self, pos):
        return self.find_keyword(b'WID2', pos, self.size)

    def next_checksum_line(self, pos, limit):
        return self.find_keyword(b'CHK', pos, limit, (b'2', b'1'))

    def last_checksum_line(self, pos, limit):
        """The start of the last CHK2/CHK1 keyword line in [pos, limit), else -1; searched
        backwards, as it usually ends the section."""
        data = self.data
        while True:
            at = data.rfind(b'CHK', pos, limit)
            if at < 0:
                return -1
            if (at == pos or data[at - 1:at] == b'\n') and data[at + 3:at + 4] in (b'2', b'1') \
                    and data[at + 4:at + 5] in _AFTER_KEYWORD:
                return at
            limit = at + 2

    # --- faults

    def fail(self, wave, index, message, kind=FormatError, pos=None):
        where = '%s: waveform %d (%s' % (self.name, index, hdr.describe(wave.header))
        if pos is not None:
            where += ', line %d' % self.line_number(pos)
        text = '%s): %s' % (where, message)
        if self.strict:
            raise kind(text)
        if wave.error is None:
            wave.error = text

    # --- the scanner

    def waveforms(self):
        size = self.size
        pos = 0
        index = 0
        pending = None          # (waveform, index, position of its WID2 line, selected)
        message = None
        while pos < size:
            line, after = self.line_at(pos)
            key = _keyword(line)
            if key == b'WID2':
                if pending is not None and pending[3]:
                    self.fail(pending[0], pending[1], 'no DAT2 line after the WID2 line',
                              pos=pending[2])
                    yield pending[0]
                index += 1
                pending = self._header(line, index, pos, message)
            elif key == b'STA2':
                if pending is not None and pending[0].sta2 is None:
                    pending[0].sta2 = hdr.parse_sta2(line)
            elif key in (b'DAT2', b'DAT1'):
                if pending is None:
                    index += 1
                    wave = Waveform._from_file({})
                    wave.message = dict(message) if message is not None else None
                    wave.offset = pos
                    wave.error = '%s: line %d: a data section (%s) that no WID2 line ' \
                        'introduces' % (self.name, self.line_number(pos), native_str(key))
                    if self.strict:
                        raise FormatError(wave.error)
                    after = self.skip_section(wave, after)
                    yield wave
                else:
                    wave, number, at, selected = pending
                    pending = None
                    if selected:
                        after = self._data(wave, number, at, after)
                        yield wave
                    else:
                        after = self.skip_section(wave, after)
            elif line[:1].isalpha():
                word = native_str(bytes(line.split(None, 1)[0])).upper() if line.split() else ''
                if word in _ENVELOPE:
                    if message is None or word == 'BEGIN':
                        message = dict.fromkeys(_ENVELOPE.values())
                    rest = line.split(None, 1)
                    message[_ENVELOPE[word]] = native_str(bytes(rest[1])).strip() \
                        if len(rest) > 1 else ''
                elif word == 'STOP':
                    message = None
            pos = after
        if pending is not None and pending[3]:
            self.fail(pending[0], pending[1], 'no DAT2 line after the WID2 line', pos=pending[2])
            yield pending[0]
        if index == 0:
            raise FormatError('%s: no WID2 line: not a GSE2.0 file' % self.name)

    def _header(self, line, index, pos, message):
        header, fault = hdr.parse_wid2(line)
        wave = Waveform._from_file(header)
        wave.message = dict(message) if message is not None else None
        wave.offset = pos
        selected = _matches(header['station'], self.stations) and \
            _matches(header['channel'], self.channels)
        if fault and selected:
            self.fail(wave, index, fault, pos=pos)
        return wave, index, pos, selected

    # --- data sections

    def _first_line_with_blank(self, start):
        """The keyword (b'CHK2', b'CHK1', b'WID2') and start of the first line at or after
        `start` that holds a blank or tab, when that line is one of those; else (None, -1).
        Code lines hold no blanks, so over CM6 data this is a search for one byte, several
        times faster than a search for a keyword. (A line "WID2" with no fields holds no
        blank either: passed over here, while a full read takes it for a WID2 line.)"""
        data = self.data
        found = self.src.find(b' ', start, self.size)
        tab = self.src.find(b'\t', start, found if found >= 0 else self.size)
        found = tab if tab >= 0 else found
        if found < 0:
            return None, -1
        first = max(start, data.rfind(b'\n', start, found) + 1)
        key = _keyword(data[first:first + 5])
        return (key, first) if key in (b'CHK2', b'CHK1', b'WID2') else (None, -1)

    def skip_section(self, wave, start):
        """Passes over a data section undecoded: returns the position after its CHK2 line (whose
        value goes to wave.checksum), or that of the next WID2 line, or the end."""
        key, at = self._first_line_with_blank(start)
        if key == b'WID2':
            return at
        if key is None:
            end = self.next_wid2(start)
            at = self.last_checksum_line(start, end)
            if at < 0:
                return end
        line, after = self.line_at(at)
        wave.checksum = _checksum_value(line)
        return after

    def _data(self, wave, index, at, start):
        """Reads the data section beginning at `start` (after the DAT2 line) of the waveform
        whose WID2 line is at `at`. Returns the position where scanning goes on."""
        header = wave.header
        count = header['sample_count']
        fmt = (header['data_format'] or '').upper()
        if self.headers_only:
            wave.headers_only = True
            return self.skip_section(wave, start)
        if count is None or count < 0:
            # The header's fault is recorded already.
            return self.skip_section(wave, start)
        if fmt not in ('CM6', 'INT'):
            self.fail(wave, index, 'unsupported sub-format %r (supported: CM6, INT)'
                      % header['data_format'], pos=at)
            return self.skip_section(wave, start)
        end = self.next_wid2(start)
        if fmt == 'CM6':
            return self._cm6(wave, index, at, start, end, count)
        return self._int(wave, index, at, start, end, count)

    def _cm6(self, wave, index, at, start, end, count):
        if count > end - start:
            self.fail(wave, index, 'the WID2 line declares %d samples, more than its data '
                      'section of %d bytes can hold' % (count, end - start), pos=at)
            return self.skip_section(wave, start)
        # One sample more than declared: code left after the last sample, even in its own
        # line, is found by the same call.
        samples, stored, used = datasection.decode_cm6(self.lib, self.src, start, end,
                                                       count + 1)
        if stored < 0 or stored > count:
            # Past the declared samples (or inside one of them): decode just those, to know
            # where they end.
            samples, exact, used = datasection.decode_cm6(self.lib, self.src, start, end,
                                                          count)
            if exact < 0:
                # The text ends inside a sample: keep the whole samples before it.
                exact = self._whole_samples(start, end, count)
                samples, exact, used = datasection.decode_cm6(self.lib, self.src, start, end,
                                                              exact)
            stored = count + 1 if exact == count else exact
        kept = max(0, min(stored, count))
        datasection.restore(self.lib, samples, kept)
        wave.samples = samples
        pos = start + used
        if stored > count:
            # A line "CHK2" without a blank is code to the decoder but a checksum line here.
            pos = _BLANK_LINES.match(self.data, pos).end()
            line, after = self.line_at(pos) if pos < end else (b'', end)
            if _keyword(line) not in (b'CHK2', b'CHK1') or line[4:5] == b' ':
                self.fail(wave, index, 'more data than the %d samples declared before the '
                          'CHK2 line' % count, pos=at)
                return self.skip_section(wave, start)
        line, after = self.line_at(pos) if pos < end else (b'', end)
        if _keyword(line) in (b'CHK2', b'CHK1'):
            if stored < count:
                self.fail(wave, index, 'short data section: %d samples declared, %d found '
                          'before the CHK2 line' % (count, stored), pos=at)
            self._checksum(wave, index, line, at)
            return after
        if stored < count:
            self.fail(wave, index, 'truncated: the data section ends after %d of the %d '
                      'samples declared' % (kept, count), pos=at)
        elif end >= self.size:
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
            got = datasection.decode_cm6(self.lib, self.src, start, end, mid)[1]
            if got == mid:
                low = mid
            else:
                high = mid - 1
        return low

    def _checksum(self, wave, index, line, at):
        samples = wave.samples
        wave.checksum = _checksum_value(line)
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
        chk = self.next_checksum_line(start, end)
        samples, bad, why = datasection.decode_int(self.data[start:chk])
        if samples is None:
            self.fail(wave, index, 'bad INT sample %r: %s' % (native_str(bytes(bad)), why),
                      pos=at)
            return self.skip_section(wave, start)
        wave.samples = samples
        if len(samples) > count:
            self.fail(wave, index, 'more data than the %d samples declared' % count, pos=at)
        elif len(samples) < count:
            what = ('the file ends' if chk >= self.size else
                    'the WID2 line comes' if chk == end else 'the CHK2 line comes')
            self.fail(wave, index, 'short data section: %d samples declared, %s after %d'
                      % (count, what, len(samples)), pos=at)
        if chk == end:
            if len(samples) == count:
                self.fail(wave, index, 'the file ends without the CHK2 line' if end >= self.size
                          else 'no CHK2 line before the next WID2 line', pos=at)
            return end
        line, after = self.line_at(chk)
        self._checksum(wave, index, line, at)
        return after


def iter_waveforms(source, verify=True, strict=True, headers_only=False, station=None,
                   channel=None):
    """Yields the waveforms of a GSE2.0/GSE2.1/IMS1.0 file or message in order.

    source: a path, a bytes-like object (bytes, bytearray, memoryview, mmap) or a binary file
    object (open file, io.BytesIO, sys.stdin.buffer, gzip.open(...)); read once, in one piece.
    verify: compare each CHK2 line with the checksum of the samples (a value equal to the
    checksum or to its magnitude is accepted).
    strict: raise ChecksumError / FormatError at the first fault. With strict=False every
    waveform is returned, a faulty one with its message in `.error`, and reading goes on with
    the next waveform.
    headers_only: header and STA2 only; data sections are passed over without decoding
    (`samples` stays empty, `headers_only` is true, the CHK2 value is kept in `.checksum`).
    station, channel: fnmatch patterns (or lists of them), compared without regard to case;
    the sections of other waveforms are passed over undecoded and not returned.
    """
    reader = _Reader(source, verify, strict, headers_only, station, channel)
    for wave in reader.waveforms():
        yield wave


def read(source, verify=True, strict=True, headers_only=False, station=None, channel=None):
    """All waveforms of a GSE2.0 file or message as a list (see iter_waveforms)."""
    return list(iter_waveforms(source, verify, strict, headers_only, station, channel))
