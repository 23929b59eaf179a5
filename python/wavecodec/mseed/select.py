"""Selection of waveforms by their codes and a time window, the same for both conversions:
glob patterns of the codes (fnmatch: * ? [...], case as written) and a window of times, each
end included. Records outside the selection are passed over without being decoded; waveforms
that reach beyond the window are cut to the samples inside it."""
import datetime
import fnmatch
import re

from ..compat import string_types, text_type
from ..errors import FormatError
from . import codes

_TIME = re.compile(r'^\s*(\d{4})[-/](\d{1,2})[-/](\d{1,2})(?:[T ](\d{1,2})(?::(\d{1,2})'
                   r'(?::(\d{1,2})(?:\.(\d{1,6})\d*)?)?)?)?\s*Z?\s*$')


def parse_time(value, what='time'):
    """Microseconds since 1970 of a datetime (naive: UTC), or of text
    'YYYY-MM-DD[THH:MM[:SS.ffffff]]' (also with '/' and a blank), UTC."""
    if isinstance(value, datetime.datetime):
        offset = value.utcoffset()  # an aware time is taken to UTC
        return codes.to_microseconds(value.replace(tzinfo=None) - (offset or datetime.timedelta()))
    if not isinstance(value, string_types):
        raise FormatError('%s %r is neither a datetime nor text' % (what, value))
    m = _TIME.match(value)
    if not m:
        raise FormatError('%s %r: expected YYYY-MM-DDTHH:MM:SS.ffffff' % (what, value))
    y, mo, d, h, mi, s, frac = m.groups()
    try:
        when = datetime.datetime(int(y), int(mo), int(d), int(h or 0), int(mi or 0),
                                 int(s or 0), int((frac or '0').ljust(6, '0')))
    except ValueError as e:
        raise FormatError('%s %r: %s' % (what, value, e))
    return codes.to_microseconds(when)


class Selection(object):
    """Patterns of the codes (None: any) and a window [start, end] in microseconds (None: open);
    `passed` counts what was left out."""

    def __init__(self, network=None, station=None, location=None, channel=None, start=None,
                 end=None):
        self.patterns = (network, station, location, channel)
        for p in self.patterns:
            if p is not None and not isinstance(p, string_types):
                raise FormatError('a code pattern must be text, not %r' % (p,))
        self.start = parse_time(start, 'start') if start is not None else None
        self.end = parse_time(end, 'end') if end is not None else None
        if self.start is not None and self.end is not None and self.end < self.start:
            raise FormatError('the end of the window (%s) comes before its start (%s)'
                              % (codes.from_microseconds(self.end).isoformat(),
                                 codes.from_microseconds(self.start).isoformat()))

    def __bool__(self):
        return any(p is not None for p in self.patterns) or self.start is not None or \
            self.end is not None

    __nonzero__ = __bool__

    def configure(self, state):
        """Sets the selection of a libmseedio reader (shim.Reader)."""
        def pattern(p):
            return p.encode('latin-1') if isinstance(p, text_type) else p
        self._keep = [pattern(p) for p in self.patterns]
        state.network, state.station, state.location, state.channel = self._keep
        if self.start is not None:
            state.window_start = self.start
        if self.end is not None:
            state.window_end = self.end

    def matches(self, network, station, location, channel):
        return all(p is None or fnmatch.fnmatchcase(v or '', p)
                   for p, v in zip(self.patterns, (network, station, location, channel)))

    def cut(self, start, rate, count):
        """(first, stop, start of the first) of samples `count` at `rate` from `start` kept by
        the window; first == stop when none is."""
        def time(i):
            return start + int(round(i * 1e6 / rate))
        first, stop = 0, count
        if self.start is not None and count and time(0) < self.start:
            first = max(0, int((self.start - start) * rate / 1e6) - 1)
            while first < count and time(first) < self.start:
                first += 1
        if self.end is not None and count and time(count - 1) > self.end:
            stop = min(count, max(0, int((self.end - start) * rate / 1e6) + 2))
            while stop > first and time(stop - 1) > self.end:
                stop -= 1
        return first, max(first, stop), time(first)
