"""The per-station summary and the gaps and overlaps of each channel, from index rows
(`index --gaps`).

A channel is (network, station, channel). Its waveforms are taken in order of their start:
the next one is expected one sample interval after the end of those before it; one that starts
more than half an interval later leaves a gap, one that starts more than half an interval
sooner overlaps. A gap's seconds are the time missing beyond that expected sample; an
overlap's, the time by which the next one starts too soon. Times are the index's, to the millisecond: a jitter below that is not seen."""
import collections
import datetime

_ISO = '%Y-%m-%dT%H:%M:%S.%f'


def _when(text):
    return datetime.datetime.strptime(text, _ISO) if text else None


def _seconds(delta):
    return delta.days * 86400 + delta.seconds + delta.microseconds / 1e6


def _code(row):
    return '%s.%s.%s' % (row.network or '', row.station or '', row.channel or '')


class Station(object):
    def __init__(self):
        self.files = set()
        self.waveforms = 0
        self.faults = 0
        self.first = None
        self.last = None


def stations(rows):
    """[(NETWORK.STATION, Station)] of the GSE2 rows, sorted."""
    by = collections.defaultdict(Station)
    for row in rows:
        if row.kind != 'gse2' or row.offset is None:
            continue
        s = by['%s.%s' % (row.network or '', row.station or '')]
        s.files.add(row.path)
        s.waveforms += 1
        s.faults += 1 if row.fault else 0
        if row.start and (s.first is None or row.start < s.first):
            s.first = row.start
        if row.end and (s.last is None or row.end > s.last):
            s.last = row.end
    return sorted(by.items())


def breaks(rows):
    """[(kind 'gap' or 'overlap', channel code, from, to, seconds (see the module text), path
    before, path after)]
    over the sound GSE2 rows with times and a rate, per channel in order of time."""
    channels = collections.defaultdict(list)
    for row in rows:
        if row.kind == 'gse2' and row.fault is None and row.start and row.end and \
                row.sample_rate:
            channels[_code(row)].append((_when(row.start), _when(row.end), row.sample_rate,
                                         row.path))
    found = []
    for code in sorted(channels):
        parts = sorted(channels[code])
        end, path = parts[0][1], parts[0][3]
        for start, stop, rate, where in parts[1:]:
            step = 1.0 / rate
            expected = end + datetime.timedelta(seconds=step)
            off = _seconds(start - expected)
            if off > step / 2:
                found.append(('gap', code, end, start, off, path, where))
            elif off < -step / 2:
                found.append(('overlap', code, start, min(end, stop), -off, path, where))
            if stop > end:
                end, path = stop, where
    return found


def lines(rows):
    """The report's lines: one per station, then one per gap or overlap."""
    out = []
    for code, s in stations(rows):
        out.append('station %s: %d waveform(s) in %d file(s), %d fault(s), %s to %s'
                   % (code, s.waveforms, len(s.files), s.faults, s.first or '?', s.last or '?'))
    for kind, code, begin, end, seconds, before, after in breaks(rows):
        out.append('%s %s %s to %s (%.3f s) between %s and %s' % (
            kind.upper(), code, begin.strftime(_ISO)[:-3], end.strftime(_ISO)[:-3], seconds,
            before, after))
    return out


__all__ = ['breaks', 'lines', 'stations']
