"""Runs of records joined into segments as libmseed joins records into traces: a run continues
a segment of the same channel (codes and kind of samples) when its rate is within 0.01 % of the
segment's and it starts within half a sample period of the time after the segment's last
sample, or ends that close before its first sample; segments that come to touch are healed
into one (records out of order, within a file and across files). Whatever does not join is a
gap or an overlap, listed by gaps()."""

# libmseed's tolerance of rates: |1 - a / b| < 0.0001.
RATE_TOLERANCE = 0.0001


def tolerable(a, b):
    return abs(1.0 - a / b) < RATE_TOLERANCE


def period(rate):
    """A sample period in whole microseconds, cut as libmseed cuts it."""
    return int(1e6 / rate)


def _fits(end, start, rate):
    """Whether a span starting at `start` follows one whose last sample is at `end`."""
    delta = period(rate)
    return abs(start - end - delta) <= int(0.5 * delta)


class Segment(object):
    """Joined runs: `key`, `kind`, `start`, `end` (first and last sample, microseconds), `rate`,
    `samples` (copied out of the reader's buffers), `records`, `first` (the run that begins it,
    for its name, record, quality, encoding and record length), `order` (when it was first
    met)."""

    __slots__ = ('key', 'kind', 'start', 'end', 'rate', 'samples', 'records', 'first', 'order')

    def __init__(self, run, order):
        self.key = run.key
        self.kind = run.kind
        self.start = run.start
        self.end = run.end
        self.rate = run.rate
        self.samples = run.samples.copy()
        self.records = run.records
        self.first = run
        self.order = order

    def timed(self):
        return self.rate > 0 and self.kind != 'text'

    def append(self, run):
        run.samples.add_to(self.samples)
        self.end = run.end
        self.records += run.records

    def prepend(self, run):
        run.samples.insert_into(self.samples)
        self.start = run.start
        self.first = run
        self.records += run.records


class Joiner(object):
    def __init__(self):
        self.by_key = {}
        self.count = 0

    def add(self, run):
        """Joins `run` to the first segment of its channel it continues or precedes, else makes
        it a segment of its own."""
        segments = self.by_key.setdefault((run.key, run.kind), [])
        timed = run.rate > 0 and run.kind != 'text'
        for segment in segments:
            if not timed:
                if not segment.timed():
                    segment.append(run)
                    return
                continue
            if not segment.timed() or not tolerable(run.rate, segment.rate):
                continue
            if _fits(segment.end, run.start, run.rate):
                segment.append(run)
                return
            if _fits(run.end, segment.start, run.rate):
                segment.prepend(run)
                return
        segments.append(Segment(run, self.count))
        self.count += 1

    def heal(self):
        """Joins segments that have come to touch, as libmseed heals a trace group."""
        for key, segments in self.by_key.items():
            segments.sort(key=lambda s: (not s.timed(), s.start))
            healed = []
            for segment in segments:
                last = healed[-1] if healed else None
                if last is not None and last.timed() and segment.timed() and \
                        tolerable(segment.rate, last.rate) and \
                        _fits(last.end, segment.start, segment.rate):
                    last.samples += segment.samples
                    last.end = segment.end
                    last.records += segment.records
                    last.order = min(last.order, segment.order)
                else:
                    healed.append(segment)
            self.by_key[key] = healed

    def segments(self):
        """Every segment, in the order they were first met."""
        found = [s for segments in self.by_key.values() for s in segments]
        found.sort(key=lambda s: s.order)
        return found


class Gap(object):
    """A discontinuity between two segments of one channel: `key`, `end` (last sample before
    it), `start` (first sample after it), `seconds` (positive: a gap after the sample period
    due; negative: an overlap), `rates` (the two rates), `names` (the inputs of the samples
    before and after it)."""

    __slots__ = ('key', 'end', 'start', 'seconds', 'rates', 'names')

    def __init__(self, before, after):
        self.key = before.key
        self.names = (before.first.name, after.first.name)
        self.end = before.end
        self.start = after.start
        self.seconds = (after.start - before.end - period(before.rate)) / 1e6
        self.rates = (before.rate, after.rate)

    def kind(self):
        if self.rates[0] != self.rates[1] and not tolerable(self.rates[1], self.rates[0]):
            return 'rate change'
        return 'gap' if self.seconds > 0 else 'overlap'


def gaps(segments):
    """The gaps and overlaps between `segments` (timed ones) of each channel, in time order."""
    by_key = {}
    for s in segments:
        if s.timed():
            by_key.setdefault(s.key, []).append(s)
    found = []
    for key in sorted(by_key, key=lambda k: min(s.order for s in by_key[k])):
        ordered = sorted(by_key[key], key=lambda s: s.start)
        found.extend(Gap(a, b) for a, b in zip(ordered, ordered[1:]))
    return found
