"""What a read of miniSEED met besides the waveforms it gives: records without samples,
damaged records passed (lenient), channels whose samples are not timed integers, gaps and
overlaps, records passed over by the selection; and the lines the commands print of it."""
from . import codes


class Channel(object):
    """Samples of one channel that are not timed integers (float32, float64, text, or integers
    without a sample rate): `key` (network, station, location, channel), `kind`, `start`,
    `rate`, `samples` (array('f'), array('d'), array('i') or a bytearray of text), `records`,
    and its first record's `name`, `record` and `offset`."""

    def __init__(self, segment):
        first = segment.first
        self.key = segment.key
        self.kind = segment.kind
        self.start = codes.from_microseconds(segment.start) \
            if codes.TIME_RANGE[0] <= segment.start <= codes.TIME_RANGE[1] else None
        self.rate = segment.rate
        self.samples = segment.samples
        self.records = segment.records
        self.name, self.record, self.offset = first.name, first.record, first.offset

    def describe(self):
        reason = 'no sample rate' if self.kind == 'int32' else '%s samples' % self.kind
        return '%s (%s, %d records from %s record %d, byte %d)' % (
            '.'.join(self.key), reason, self.records, self.name, self.record, self.offset)


class Report(object):
    """`files` read; `records` met; `passed_over` by the selection; `empty` (name, record,
    offset, codes, records) of each run of records without samples (`no_offset`: those whose
    header gives no data offset either, counted apart); `damaged` (name, record, offset,
    message) of each damaged record passed when reading leniently; `other` Channel objects;
    `gaps` (join.Gap); `outside` waveforms the time window left without samples; `empty_inputs`
    (names of inputs without a byte)."""

    def __init__(self):
        self.files = []
        self.records = 0
        self.passed_over = 0
        self.empty = []
        self.no_offset = 0
        self.damaged = []
        self.other = []
        self.gaps = []
        self.outside = 0
        self.empty_inputs = []

    def empty_records(self, run):
        from .shim import NO_DATA_OFFSET
        self.empty.append((run.name, run.record, run.offset, run.key, run.records))
        if run.flags & NO_DATA_OFFSET:
            self.no_offset += run.records

    def empty_count(self):
        return sum(entry[4] for entry in self.empty)

    def notes(self):
        """Short notes for a command's closing line."""
        notes = []
        empty = self.empty_count()
        if empty:
            notes.append('%d records without samples passed over%s' % (
                empty, ' (%d with neither a count nor a data offset)' % self.no_offset
                if self.no_offset else ''))
        if self.passed_over:
            notes.append('%d records outside the selection' % self.passed_over)
        if self.other:
            notes.append('%d channels GSE2 cannot hold skipped' % len(self.other))
        if self.damaged:
            notes.append('%d damaged records skipped (--lenient)' % len(self.damaged))
        gaps = sum(1 for g in self.gaps if g.seconds > 0)
        if gaps:
            notes.append('%d gaps' % gaps)
        if len(self.gaps) > gaps:
            notes.append('%d overlaps' % (len(self.gaps) - gaps))
        return notes

    def lines(self):
        """One line per item worth naming: damaged records, channels skipped, records without
        samples, gaps and overlaps."""
        out = []
        for name, record, offset, text in self.damaged:
            out.append('damaged: %s: record %d (byte %d): %s' % (name, record, offset, text))
        for channel in self.other:
            out.append('skipped: %s' % channel.describe())
        for name, record, offset, key, records in self.empty:
            out.append('no samples: %s: record %d (byte %d, %s)%s' % (
                name, record, offset, '.'.join(key),
                ' and %d records after it' % (records - 1) if records > 1 else ''))
        for gap in self.gaps:
            out.append(gap_line(gap))
        return out


def _iso(microseconds):
    if codes.TIME_RANGE[0] <= microseconds <= codes.TIME_RANGE[1]:
        return codes.from_microseconds(microseconds).strftime('%Y-%m-%dT%H:%M:%S.%f')
    return '%d us' % microseconds


def gap_line(gap):
    names = gap.names[0] if gap.names[0] == gap.names[1] else '%s, %s' % gap.names
    return '%s: %s: %s after %s, next sample %s (%+.6f s)' % (
        gap.kind(), names, '.'.join(gap.key), _iso(gap.end), _iso(gap.start), gap.seconds)
