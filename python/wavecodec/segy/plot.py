"""A picture of the traces of a SEG-Y or SU file as SVG text, made with the standard library.

Time runs down from each trace's delay_recording_time (times its time_scalar, bytes 215-216);
traces run across, ticked at round values of their index or of a trace header field (`key`).
Each trace's mean may be removed (`bias`), amplitudes scaled (`gain`: a factor, or automatic
gain control over a window) and clipped at `clip` (a value, or a percentile of the magnitudes,
98 by default), which the picture states. Two styles: wiggles (a line per trace, its positive
lobes filled) for up to MAX_WIGGLES traces, and a density image (blue for negative, red for
positive, an embedded PNG, with a colour bar) for more. The picture is bounded whatever the
file's size: traces are picked evenly and long traces reduced to one value per pixel row, so
the SVG stays within a few hundred kilobytes (at most about 320 kB: 600 x 400 image pixels, or
24,000 wiggle points). So is the memory it takes: traces are read one at a time and kept only
as what is drawn of them (a few hundred values each) and a sample of their magnitudes.

NaN samples have no value and stay so (the gain keeps them): grey in the density image, and a
trace of NaN alone (a survey's missing trace) is a grey lane among wiggles. `section` draws
traces already read (a survey's line, surveycli.py); `levels` and `document` are the parts of
the picture that the survey's map shares. The drawing itself is plotsvg.py.
"""
import math

from ..svgplot import escape, label
from . import plotsvg
from .plotsvg import HEIGHT, LEFT, WIDTH

MAX_WIGGLES = 120
MAX_COLUMNS, MAX_ROWS = 600, 400
# Wiggle points in the whole picture: keeps the SVG near 250 kB at any trace count.
WIGGLE_POINTS = 24000
# Magnitudes sampled over the whole picture for a percentile clip.
CLIP_SAMPLES = 20000


def pick(count, limit):
    """Up to `limit` trace indices spread evenly over range(count), first and last included."""
    if count <= limit:
        return list(range(count))
    return sorted(set(int(round(k * (count - 1) / float(limit - 1))) for k in range(limit)))


def parse_clip(text):
    """('value', x) or ('percentile', q) from '1.5' or '99%' / 'p99'."""
    text = text.strip().lower()
    try:
        if text.endswith('%') or text.startswith('p'):
            q = float(text.strip('%p'))
            if not 0 < q <= 100:
                raise ValueError
            return 'percentile', q
        value = float(text)
        if not 0 < value < float('inf'):
            raise ValueError
        return 'value', value
    except ValueError:
        raise ValueError('--clip %r: a positive amplitude (1.5) or a percentile from 0 to 100 '
                         '(99%% or p99)' % text)


def _finite(v):
    return v == v and abs(v) != float('inf')


def agc(values, window):
    """`values` divided by their RMS over a window of `window` samples centred on each; NaN
    (no value) stays NaN and counts as no energy."""
    n = len(values)
    sums = [0.0]
    for v in values:
        sums.append(sums[-1] + (v * v if _finite(v) else 0.0))
    half = window // 2
    out = []
    for j in range(n):
        a, b = max(0, j - half), min(n, j + half + 1)
        energy = (sums[b] - sums[a]) / (b - a)
        v = values[j]
        out.append(v / math.sqrt(energy) if energy > 0 else v if v != v else 0.0)
    return out


def mean(values):
    """The mean of the finite values (0 when there are none)."""
    try:
        total = math.fsum(values)
    except (ValueError, OverflowError):   # infinities of both signs
        total = float('nan')
    if _finite(total):
        return total / len(values)
    kept = [v for v in values if _finite(v)]
    return math.fsum(kept) / len(kept) if kept else 0.0


def reduce_trace(values, points):
    """(index, value) pairs drawing `values` with at most about `points` points: every sample
    when they are few, else the minimum and maximum of each stretch in the order they occur
    (the same outline as every sample would give)."""
    n = len(values)
    if n <= points:
        return list(enumerate(values))
    stretches = max(1, points // 2)
    out = []
    for c in range(stretches):
        a, b = c * n // stretches, (c + 1) * n // stretches
        chunk = values[a:b]
        low = min(range(len(chunk)), key=chunk.__getitem__)
        high = max(range(len(chunk)), key=chunk.__getitem__)
        for k in sorted(set((low, high))):
            out.append((a + k, chunk[k]))
    return out


def resolve_style(count, style='auto'):
    """'wiggle' or 'density': `style` itself, or for 'auto' wiggles up to MAX_WIGGLES traces."""
    if style == 'auto':
        return 'wiggle' if count <= MAX_WIGGLES else 'density'
    return style


def time_scale(scalar):
    """The factor of a trace's time_scalar: itself when positive, its inverse when negative,
    1 when 0."""
    if scalar > 0:
        return float(scalar)
    return 1.0 / -scalar if scalar < 0 else 1.0


def _times(f, indices, lengths):
    """(first time, last time, delay of each trace, interval) in ms; an interval of 0 (unknown)
    gives sample numbers instead."""
    dt = f.sample_interval / 1000.0
    if not dt:
        return 0.0, float(max(lengths) if lengths else 1), [0.0] * len(indices), 0.0
    delays = f.attribute('delay_recording_time')
    scalars = f.attribute('time_scalar')
    delays = [float(delays[i]) * time_scale(int(scalars[i])) for i in indices]
    t0 = min(delays) if delays else 0.0
    t1 = max(d + (n - 1) * dt for d, n in zip(delays, lengths)) if lengths else t0 + dt
    return t0, t1, delays, dt


class Magnitudes(object):
    """A sample of the magnitudes of the live (finite, non-zero) values drawn, at most about
    CLIP_SAMPLES over `count` traces, and the largest finite magnitude."""

    def __init__(self, count):
        self.per_trace = max(1, CLIP_SAMPLES // max(1, count))
        self.kept = []
        self.peak = 0.0

    def add(self, values, shift=0.0, factor=1.0):
        """Some of `values`, as drawn: (v - shift) * factor."""
        for v in values[::max(1, len(values) // self.per_trace)]:
            v = (v - shift) * factor
            if _finite(v):
                self.peak = max(self.peak, abs(v))
                if v:
                    self.kept.append(abs(v))

    def level(self, q):
        """The `q`-th percentile of the live magnitudes (so that muted stretches do not count
        and a few spikes do not flatten the rest); the largest magnitude where none is live."""
        if self.kept:
            self.kept.sort()
            m = self.kept
            return m[min(len(m) - 1, int(len(m) * q / 100.0))] or 1.0
        return self.peak or 1.0


class _Kept(object):
    """What is kept of the traces while they are read: what is drawn of each (None for a
    missing trace among wiggles) and a sample of the magnitudes."""

    def __init__(self, style, count, times, longest):
        self.style = style
        self.times = times
        self.longest = longest
        self.rows = min(longest, MAX_ROWS)
        self.points = max(50, WIGGLE_POINTS // max(1, count))
        self.magnitudes = Magnitudes(count)
        self.drawn = []

    def add(self, values, delay, shift, factor):
        """One trace's values, drawn as (v - shift) * factor."""
        def scaled(v):
            return (v - shift) * factor
        if self.style == 'wiggle':
            missing = bool(len(values)) and not any(v == v for v in values)
            self.drawn.append(None if missing else
                              [(i, scaled(v)) for i, v in reduce_trace(values, self.points)])
        else:
            self.drawn.append([None if v is None else scaled(v) for v in self._rows(values,
                                                                                    delay)])
        self.magnitudes.add(values, shift, factor)

    def _rows(self, values, delay):
        """The trace's value at each pixel row: row r at time t0 + (r + 0.5) * step, the sample
        at that time after the trace's delay (None outside the trace)."""
        t0, t1, _, dt = self.times
        span = (t1 - t0) or 1.0
        n = len(values)
        out = []
        for r in range(self.rows):
            t = t0 + (r + 0.5) * span / self.rows
            j = int((t - delay) / dt) if dt else r * self.longest // self.rows
            out.append(values[j] if 0 <= j < n else None)
        return out


def _gained(values, gain, bias, interval):
    """(values, shift, factor): a trace as drawn is (v - shift) * factor for v in values; `bias`
    removes its mean, `gain` None, ('scalar', k) or ('agc', window ms)."""
    shift = mean(values) if bias and len(values) else 0.0
    if gain and gain[0] == 'agc':
        window = int(round(gain[1] * 1000.0 / interval)) if interval else int(gain[1])
        return agc([v - shift for v in values] if shift else values, max(1, window)), 0.0, 1.0
    return values, shift, gain[1] if gain else 1.0


def levels(traces, clip, gain, bias=False):
    """(clip level, the notes printed under the picture) for `clip`, `gain` and `bias`;
    `traces` are the values as drawn (lists) or their Magnitudes."""
    if not isinstance(traces, Magnitudes):
        sample = Magnitudes(len(traces))
        for values in traces:
            sample.add(values)
        traces = sample
    kind, amount = clip or ('percentile', 98.0)
    level = amount if kind == 'value' else traces.level(amount)
    notes = ['clip %s (%s)' % (label(level), 'given' if kind == 'value'
                                else '%g%% of magnitudes' % amount)]
    if bias:
        notes.append("each trace's mean removed")
    if gain:
        notes.append('gain: %s' % ('x%s' % label(gain[1]) if gain[0] == 'scalar'
                                   else 'AGC %g ms' % gain[1]))
    return level, notes


def document(caption, notes):
    """The opening of an SVG picture: its frame, the caption and the notes under it."""
    return ['<?xml version="1.0" encoding="UTF-8"?>',
            '<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" '
            'width="%d" height="%d" '
            'viewBox="0 0 %d %d" font-family="sans-serif">' % (WIDTH, HEIGHT, WIDTH, HEIGHT),
            '<rect width="100%" height="100%" fill="white"/>',
            '<text x="%d" y="%d" font-size="14">%s</text>'
            % (LEFT, HEIGHT - 28, escape(caption)),
            '<text x="%d" y="%d" font-size="12">%s</text>'
            % (LEFT, HEIGHT - 10, escape('; '.join(notes)))]


def _picture(kept, labels, key, clip, gain, bias, interval, caption):
    """The SVG of what `kept` holds; `caption` opens the title, which goes on with the style
    and the spacing of the samples."""
    level, notes = levels(kept.magnitudes, clip, gain, bias)
    if interval:
        spacing = '%d samples at %g ms' % (kept.longest, interval / 1000.0)
    else:
        spacing = '%d samples, interval 0 (unknown): time axis in samples' % kept.longest
    parts = document('%s, %s, %s)' % (caption, kept.style, spacing), notes)
    if kept.drawn:
        parts.extend(plotsvg.wiggles(kept.drawn, level, kept.times) if kept.style == 'wiggle'
                     else plotsvg.density(kept.drawn, level))
        parts.extend(plotsvg.axes(labels, key, kept.times))
    parts.append('</svg>\n')
    return '\n'.join(parts)


def section(traces, labels, key, times, style, clip, gain, interval, caption, bias=False):
    """The SVG of `traces` (lists of samples, already read) side by side, ticked at round
    values of `labels` (`key` names them), on the time axis `times` (see _times); a trace of
    NaN alone is a missing one, drawn as a grey lane. `interval` in microseconds (0: unknown);
    `caption` opens the title."""
    kept = _Kept(style, len(traces), times, max(len(v) for v in traces) if traces else 0)
    for values, delay in zip(traces, times[2]):
        values, shift, factor = _gained(values, gain, bias, interval)
        kept.add(values, delay, shift, factor)
    return _picture(kept, labels, key, clip, gain, bias, interval, caption)


def render(f, title='', style='auto', key=None, clip=None, gain=None, bias=False):
    """The SVG document (text) for open file `f`; `style` 'wiggle', 'density' or 'auto';
    `key` a trace header field along the trace axis; `clip` ('value', x) or ('percentile', q);
    `gain` None, ('scalar', k) or ('agc', window ms); `bias` removes each trace's mean. The
    traces are read one at a time."""
    style = resolve_style(len(f), style)
    indices = pick(len(f), MAX_WIGGLES if style == 'wiggle' else MAX_COLUMNS)
    labels = indices
    if key:
        values = f.attribute(key)
        labels = [values[i] for i in indices]
    lengths = [f.sample_count(i) for i in indices]
    times = _times(f, indices, lengths)
    kept = _Kept(style, len(indices), times, max(lengths) if lengths else 0)
    for k, i in enumerate(indices):
        values, shift, factor = _gained(f.trace(i), gain, bias, f.sample_interval)
        kept.add(values, times[2][k], shift, factor)
    return _picture(kept, labels, key, clip, gain, bias, f.sample_interval,
                    '%s  (%d of %d traces' % (title, len(indices), len(f)))
