"""Reading GSE2.0/GSE2.1/IMS1.0 waveform files and messages from any source.

The whole input is in memory (see source.py). The reader walks the lines outside the data
sections: WID2 (parsed by its field table), the lines of its block up to DAT2 (STA2, EID2, BEA2
read by field, others kept as text: block.py), CHK2 and the message envelope (envelope.py);
other lines between waveforms (comments, OUT2, DLY2, ...) are kept with the waveforms around
them. Searches over the text are scan.py's, the decoding of data sections is sections.py's.
"""
import fnmatch

from .. import native
from ..compat import native_str, string_types
from ..errors import FormatError
from .block import ATTRIBUTES, field_keyword, read_line
from .envelope import Envelope
from .runs import RunReader
from .scan import Scanner, keyword
from .sections import SectionDecoder
from .source import load
from .waveform import Waveform
from .wid2 import describe, parse_wid2


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
    """The line loop over one input: which waveforms there are, where their sections start, and
    how their faults are reported (raised when strict, else kept in `.error`)."""

    def __init__(self, source, verify, strict, headers_only, station, channel, name=None):
        lib = native.wavecodec()  # a library that cannot be loaded is named before any input
        src = load(source).with_line_feeds()
        if name is not None:
            src.name = name
        self.name = src.name
        self.scan = Scanner(src)
        self.strict = strict
        self.verify = verify
        self.headers_only = headers_only
        self.stations = _patterns(station, 'station')
        self.channels = _patterns(channel, 'channel')
        self.sections = SectionDecoder(self.scan, lib, verify, self.fail)
        self.runs = RunReader(self, lib, src) if self.bulk else None

    # Runs of usual records are read together (runs.py); False reads every line here.
    bulk = True

    def selected(self, header):
        """Whether the station and channel filters take a waveform of `header`."""
        return (self.stations is None and self.channels is None) or (
            _matches(header['station'], self.stations) and
            _matches(header['channel'], self.channels))

    def fail(self, wave, index, message, kind=FormatError, pos=None):
        where = '%s: waveform %d (%s' % (self.name, index, describe(wave.header))
        if pos is not None:
            where += ', line %d' % self.scan.line_number(pos)
        text = '%s): %s' % (where, message)
        if self.strict:
            raise kind(text)
        if wave.error is None:
            wave.error = text

    def waveforms(self):
        scan = self.scan
        size = scan.size
        pos = 0
        index = 0
        pending = None          # (waveform, index, position of its WID2 line, selected)
        last = None             # the last waveform returned
        held = None             # the last waveform returned since the message began
        kept = []               # lines kept since the last waveform or envelope line
        envelope = Envelope()
        data = scan.data
        find = data.find
        while pos < size:
            # scan.line_at, written out: three lines per waveform come through here.
            stop = find(b'\n', pos)
            if stop < 0:
                stop = size
            line = data[pos:stop]
            if line.endswith(b'\r'):
                line = line[:-1]
            after = stop + 1
            key = keyword(line)
            if key == b'WID2':
                if pending is not None and pending[3]:
                    self.fail(pending[0], pending[1], 'no DAT2 line after the WID2 line',
                              pos=pending[2])
                    last = held = pending[0]
                    yield pending[0]
                pending = None
                if self.runs is not None:
                    waves, ran_to, index = self.runs.run(pos, index, envelope.current,
                                                         tuple(kept))
                    for wave in waves:
                        last = held = wave
                        yield wave
                    if ran_to > pos:
                        kept = []
                        pos = ran_to
                        continue
                index += 1
                pending = self._header(line, index, pos, envelope.snapshot())
                pending[0].before = tuple(kept)
                kept = []
            elif key in (b'DAT2', b'DAT1'):
                if pending is None:
                    index += 1
                    wave = Waveform._from_file({})
                    wave.message = envelope.snapshot()
                    wave.offset = pos
                    wave.before = tuple(kept)
                    kept = []
                    wave.error = '%s: line %d: a data section (%s) that no WID2 line ' \
                        'introduces' % (self.name, scan.line_number(pos), native_str(key))
                    if self.strict:
                        raise FormatError(wave.error)
                    after = self.sections.skip(wave, after)
                    last = held = wave
                    yield wave
                else:
                    wave, number, at, selected = pending
                    pending = None
                    if selected:
                        after = self._section(wave, number, at, after)
                        last = held = wave
                        yield wave
                    else:
                        after = self.sections.skip(wave, after)
            elif line[:1].isalpha() and self._envelope_line(envelope, line, last):
                if envelope.current is None or line[:5].upper() == b'BEGIN':
                    # A message ends or begins: the lines before it are its last waveform's.
                    if held is not None and kept:
                        held.after = tuple(kept)
                    held = None
                    kept = []
            elif pending is not None:
                self._block_line(pending, key, line, pos)
            else:
                kept.append(native_str(bytes(line)))
            pos = after
        if pending is not None and pending[3]:
            self.fail(pending[0], pending[1], 'no DAT2 line after the WID2 line', pos=pending[2])
            last = held = pending[0]
            yield pending[0]
        if held is not None and kept:
            held.after = tuple(kept)
        if index == 0:
            raise FormatError('%s: no WID2 line: not a GSE2.0 file' % self.name)
        if envelope.current is not None:
            self._unended(envelope, last)

    def _envelope_line(self, envelope, line, last):
        """Takes `line` into the envelope when it is one of its lines (True), after naming the
        message it cuts short when it is a BEGIN line inside a message."""
        if envelope.current is not None and line[:5].upper() == b'BEGIN':
            self._unended(envelope, last)
        return envelope.feed(line)

    def _block_line(self, pending, key, line, pos):
        """A line of a waveform's block, between its WID2 and DAT2 lines: the first STA2, EID2
        or BEA2 line read by field, any other kept as text, in order."""
        wave, number, _, selected = pending
        name = field_keyword(key)
        if name is not None and name not in wave.block:
            values, fault = read_line(name, line)
            setattr(wave, ATTRIBUTES[name], values)
            wave.block += (name,)
            if fault and selected:
                self.fail(wave, number, fault, pos=pos)
        else:
            wave.block += (native_str(bytes(line)),)

    def _unended(self, envelope, last):
        """A message opened by BEGIN that ends without its STOP line may have lost waveforms:
        raised when strict, else the fault of its last waveform."""
        text = ' '.join(('%s: truncated: the message %s ends without its STOP line' % (
            self.name, envelope.current.get('msg_id') or '')).split())
        if self.strict:
            raise FormatError(text)
        if last is not None and last.error is None and last.message is not None:
            last.error = text

    def _header(self, line, index, pos, message):
        header, fault = parse_wid2(line)
        wave = Waveform._from_file(header)
        wave.message = message
        wave.offset = pos
        selected = self.selected(header)
        if fault and selected:
            self.fail(wave, index, fault, pos=pos)
        return wave, index, pos, selected

    def _section(self, wave, index, at, start):
        if self.headers_only:
            wave.headers_only = True
            after = self.sections.skip(wave, start)
            # Every sample takes a character at least: more than the section's size is a lie.
            count = wave.header.get('sample_count')
            if count is not None and count > after - start:
                self.fail(wave, index, 'the WID2 line declares %d samples, more than its data '
                          'section of %d bytes can hold' % (count, after - start), pos=at)
            return after
        return self.sections.decode(wave, index, at, start)


def iter_waveforms(source, verify=True, strict=True, headers_only=False, station=None,
                   channel=None, name=None):
    """Yields the waveforms of a GSE2.0/GSE2.1/IMS1.0 file or message in order.

    source: a path, a bytes-like object (bytes, bytearray, memoryview, mmap) or a binary file
    object (open file, io.BytesIO, sys.stdin.buffer, gzip.open(...)); read once, in one piece.
    verify: compare each CHK2 line with the checksum of the samples (a value equal to the
    checksum or to its magnitude is accepted).
    strict: raise ChecksumError / FormatError at the first fault. With strict=False every
    waveform is returned, a faulty one with its message in `.error`, and reading goes on with
    the next waveform. (A message that ends without its STOP line is known only at its end:
    its last waveform, already yielded, then gets that fault in `.error`.)
    headers_only: header and STA2 only; data sections are passed over without decoding
    (`samples` stays empty, `headers_only` is true, the CHK2 value is kept in `.checksum`).
    station, channel: fnmatch patterns (or lists of them), compared without regard to case;
    the sections of other waveforms are passed over undecoded and not returned.
    name: the input's name in messages (default: the path, or the file object's name).
    """
    reader = _Reader(source, verify, strict, headers_only, station, channel, name)
    for wave in reader.waveforms():
        yield wave


def read(source, verify=True, strict=True, headers_only=False, station=None, channel=None,
         name=None):
    """All waveforms of a GSE2.0 file or message as a list (see iter_waveforms)."""
    return list(iter_waveforms(source, verify, strict, headers_only, station, channel, name))
