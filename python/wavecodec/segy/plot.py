"""A picture of the traces of a SEG-Y or SU file as SVG text, made with the standard library.

Time runs down from each trace's delay_recording_time; traces run across, labelled by their
index or by a trace header field (`key`). Amplitudes may be scaled (`gain`: a factor, or
automatic gain control over a window) and are clipped at `clip` (a value, or a percentile of the
magnitudes, 98 by default), which the picture states. Two styles: wiggles (a line per trace, its
positive lobes filled) for up to MAX_WIGGLES traces, and a density image (blue for negative, red
for positive, an embedded PNG, with a colour bar) for more. The picture is bounded whatever the
file's size: traces are picked evenly and long traces reduced to one value per pixel row, so the
SVG stays within a few hundred kilobytes (at most about 320 kB: 600 x 400 image pixels, or
24,000 wiggle points).
"""
import base64
import math
import struct
import zlib

from ..svgplot import escape, label, nice_ticks

WIDTH, HEIGHT = 1000, 700
# Room right of the frame for the density plot's colour bar and its labels.
LEFT, RIGHT, TOP, BOTTOM = 80, 90, 40, 60
MAX_WIGGLES = 120
MAX_COLUMNS, MAX_ROWS = 600, 400
# Wiggle points in the whole picture: keeps the SVG near 250 kB at any trace count.
WIGGLE_POINTS = 24000
PLOT_W, PLOT_H = WIDTH - LEFT - RIGHT, HEIGHT - TOP - BOTTOM


def pick(count, limit):
    """Up to `limit` trace indices spread evenly over range(count), first and last included."""
    if count <= limit:
        return list(range(count))
    return sorted(set(int(round(k * (count - 1) / float(limit - 1))) for k in range(limit)))


def gather(f, limit):
    """(indices, sample lists) of the traces picked from open file `f`."""
    indices = pick(len(f), limit)
    wanted = set(indices)
    chosen = []
    for i, values in enumerate(f.traces(0, indices[-1] + 1 if indices else 0)):
        if i in wanted:
            chosen.append(list(values))
    return indices, chosen


def percentile(traces, q):
    """The `q`-th percentile of the finite magnitudes (from at most ~20,000 of them), or None."""
    magnitudes = []
    for values in traces:
        step = max(1, len(values) * len(traces) // 20000)
        magnitudes.extend(abs(v) for v in values[::step] if v == v and abs(v) != float('inf'))
    if not magnitudes:
        return None
    magnitudes.sort()
    return magnitudes[min(len(magnitudes) - 1, int(len(magnitudes) * q / 100.0))]


def clip_level(traces, q=98.0):
    """The `q`-th percentile of the magnitudes: the amplitude that fills a wiggle's lane or
    saturates a colour, so that a few spikes do not flatten the rest. Muted (all-zero) stretches
    do not count, so sparse data keeps its events' shape."""
    live = [[v for v in values if v] for values in traces]
    level = percentile([v for v in live if v], q)
    if not level:
        level = percentile(traces, 100.0)
    return level or 1.0


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


def agc(values, window):
    """`values` divided by their RMS over a window of `window` samples centred on each."""
    n = len(values)
    sums = [0.0]
    for v in values:
        sums.append(sums[-1] + (v * v if v == v and abs(v) != float('inf') else 0.0))
    half = window // 2
    out = []
    for j in range(n):
        a, b = max(0, j - half), min(n, j + half + 1)
        energy = (sums[b] - sums[a]) / (b - a)
        v = values[j]
        out.append(v / math.sqrt(energy) if energy > 0 else v if v != v else 0.0)
    return out


def apply_gain(traces, gain, interval_us):
    """`gain`: None, ('scalar', k) or ('agc', window in ms)."""
    if not gain:
        return traces
    kind, amount = gain
    if kind == 'scalar':
        return [[v * amount for v in values] for values in traces]
    window = int(round(amount * 1000.0 / interval_us)) if interval_us else int(amount)
    return [agc(values, max(1, window)) for values in traces]


def _palette():
    """255 colours from blue (-1) through white (0) to red (+1), then grey: no value."""
    colours = bytearray()
    for k in range(PALETTE):
        t = 2.0 * k / (PALETTE - 1) - 1.0
        fade = int(round(255 * (1 - abs(t))))
        colours.extend((255, fade, fade) if t >= 0 else (fade, fade, 255))
    return bytes(colours + bytearray(MISSING_RGB))


PALETTE = 255
# The palette index and colour of cells without a value (NaN samples, missing traces).
MISSING, MISSING_RGB, MISSING_COLOUR = 255, (0xbb, 0xbb, 0xbb), '#bbbbbb'


def palette_png(width, height, rows):
    """A palette PNG of `rows` (one colour index byte per pixel)."""
    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data
                + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff))
    raw = b''.join(b'\x00' + bytes(r) for r in rows)
    return (b'\x89PNG\r\n\x1a\n'
            + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 3, 0, 0, 0))
            + chunk(b'PLTE', _palette()) + chunk(b'IDAT', zlib.compress(raw, 9))
            + chunk(b'IEND', b''))


def colour_index(value, clip):
    """The palette index of `value`: white for 0, the ends at +-clip and beyond, grey for NaN
    (no value)."""
    if value != value:
        return MISSING
    t = max(-1.0, min(1.0, value / clip))
    return int(round((t + 1.0) * (PALETTE - 1) / 2.0))


def _density(traces, clip, times):
    """The image of the traces: row r at time t0 + (r + 0.5) * step, each trace's sample at
    that time after its own delay (white outside the trace)."""
    t0, t1, delays, dt = times
    samples = max(len(v) for v in traces)
    rows = min(samples, MAX_ROWS)
    white = colour_index(0.0, clip)
    lines = []
    span = (t1 - t0) or 1.0
    for r in range(rows):
        t = t0 + (r + 0.5) * span / rows
        line = bytearray()
        for values, delay in zip(traces, delays):
            j = int((t - delay) / dt) if dt else r * samples // rows
            line.append(colour_index(values[j], clip) if 0 <= j < len(values) else white)
        lines.append(line)
    data = base64.b64encode(palette_png(len(traces), rows, lines)).decode('ascii')
    return ['<image x="%d" y="%d" width="%d" height="%d" preserveAspectRatio="none" '
            'style="image-rendering:pixelated" xlink:href="data:image/png;base64,%s"/>'
            % (LEFT, TOP, PLOT_W, PLOT_H, data)] + colour_bar(clip)


def colour_bar(clip):
    """The palette as a vertical bar right of the frame, labelled -clip, 0 and +clip."""
    x = LEFT + PLOT_W + 14
    bar = base64.b64encode(palette_png(1, PALETTE, [bytearray([PALETTE - 1 - k])
                                              for k in range(PALETTE)])).decode('ascii')
    out = ['<image x="%d" y="%d" width="14" height="%d" preserveAspectRatio="none" '
           'style="image-rendering:pixelated" xlink:href="data:image/png;base64,%s"/>'
           % (x, TOP, PLOT_H, bar),
           '<rect x="%d" y="%d" width="14" height="%d" fill="none" stroke="#444"/>'
           % (x, TOP, PLOT_H)]
    for value, y in ((clip, TOP), (0.0, TOP + PLOT_H / 2.0), (-clip, TOP + PLOT_H)):
        out.append('<text x="%d" y="%.1f" font-size="10">%s</text>'
                   % (x + 18, y + 4, escape(label(value))))
    return out


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


def _wiggles(traces, clip, times):
    """Each trace is one path, drawn twice: filled right of its zero line (the positive lobes,
    by a clip rectangle) and stroked. The path starts and ends on the zero line, so the fill's
    implicit closing runs along it. Everything is clipped to the frame."""
    t0, t1, delays, dt = times
    span = (t1 - t0) or 1.0
    lane = PLOT_W / float(len(traces))
    scale = 0.9 * lane / clip
    budget = max(50, WIGGLE_POINTS // len(traces))
    defs = ['<clipPath id="frame"><rect x="%d" y="%d" width="%d" height="%d"/></clipPath>'
            % (LEFT, TOP, PLOT_W, PLOT_H)]
    out = ['<g clip-path="url(#frame)">']
    for k, (values, delay) in enumerate(zip(traces, delays)):
        x0 = LEFT + lane * (k + 0.5)
        if not any(v == v for v in values):   # a missing trace: its lane grey
            out.append('<rect x="%.1f" y="%d" width="%.1f" height="%d" fill="%s"/>'
                       % (x0 - lane / 2, TOP, lane, PLOT_H, MISSING_COLOUR))
            continue
        points = []
        for i, v in reduce_trace(values, budget):
            v = max(-clip * 1.5, min(clip * 1.5, v)) if v == v else 0.0
            t = delay + i * dt if dt else i + 0.5
            points.append('%.1f,%.1f' % (x0 + v * scale, TOP + PLOT_H * (t - t0) / span))
        if not points:
            continue
        first, last = points[0].split(',')[1], points[-1].split(',')[1]
        defs.append('<path id="w%d" d="M%.1f,%s %s %.1f,%s"/>'
                    % (k, x0, first, ' '.join(points), x0, last))
        defs.append('<clipPath id="c%d"><rect x="%.1f" y="%d" width="%.1f" height="%d"/>'
                    '</clipPath>' % (k, x0, TOP, 2 * lane, PLOT_H))
        out.append('<use xlink:href="#w%d" fill="#222" stroke="none" clip-path="url(#c%d)"/>'
                   % (k, k))
        out.append('<use xlink:href="#w%d" fill="none" stroke="#222" stroke-width="0.6"/>' % k)
    return ['<defs>'] + defs + ['</defs>'] + out + ['</g>']


def _axes(labels, key, times):
    t0, t1, _, dt = times
    out = ['<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#444"/>'
           % (LEFT, TOP, PLOT_W, PLOT_H)]
    lane = PLOT_W / float(max(len(labels), 1))
    for t in nice_ticks(0, len(labels) - 1) if len(labels) else []:
        k = int(round(t))
        if not 0 <= k < len(labels):
            continue
        x = LEFT + lane * (k + 0.5)
        out.append('<text x="%.1f" y="%d" font-size="11" text-anchor="middle">%s</text>'
                   % (x, TOP - 6, escape(label(labels[k]))))
    span = (t1 - t0) or 1.0
    for t in nice_ticks(t0, t1 if t1 > t0 else t0 + 1.0):
        y = TOP + PLOT_H * (t - t0) / span
        out.append('<line x1="%d" y1="%.1f" x2="%d" y2="%.1f" stroke="#444"/>'
                   % (LEFT - 4, y, LEFT, y))
        out.append('<text x="%d" y="%.1f" font-size="11" text-anchor="end">%g</text>'
                   % (LEFT - 6, y + 4, t))
    out.append('<text x="%d" y="%d" font-size="11" text-anchor="middle">%s</text>'
               % (LEFT + PLOT_W // 2, TOP - 22, escape(key or 'trace')))
    out.append('<text x="16" y="%d" font-size="11" text-anchor="middle" '
               'transform="rotate(-90 16 %d)">%s</text>'
               % (TOP + PLOT_H // 2, TOP + PLOT_H // 2, 'time (ms)' if dt else 'sample'))
    return out


def resolve_style(count, style='auto'):
    """'wiggle' or 'density': `style` itself, or for 'auto' wiggles up to MAX_WIGGLES traces."""
    if style == 'auto':
        return 'wiggle' if count <= MAX_WIGGLES else 'density'
    return style


def _times(f, indices, traces):
    """(first time, last time, delay of each trace, interval) in ms; an interval of 0 (unknown)
    gives sample numbers instead."""
    dt = f.sample_interval / 1000.0
    if dt and indices:
        delays = [float(d) for d in f.attribute('delay_recording_time')]
        delays = [delays[i] for i in indices]
    else:
        delays = [0.0] * len(indices)
    if not dt:
        return 0.0, float(max(len(v) for v in traces) if traces else 1), delays, 0.0
    t0 = min(delays) if delays else 0.0
    t1 = max(d + (len(v) - 1) * dt for d, v in zip(delays, traces)) if traces else t0 + dt
    return t0, t1, delays, dt


def render(f, title='', style='auto', key=None, clip=None, gain=None):
    """The SVG document (text) for open file `f`; `style` 'wiggle', 'density' or 'auto';
    `key` a trace header field labelling the x axis; `clip` ('value', x) or ('percentile', q);
    `gain` None, ('scalar', k) or ('agc', window ms)."""
    style = resolve_style(len(f), style)
    indices, traces = gather(f, MAX_WIGGLES if style == 'wiggle' else MAX_COLUMNS)
    labels = indices
    if key:
        values = f.attribute(key)
        labels = [values[i] for i in indices]
    return section(traces, labels, key, _times(f, indices, traces), style, clip, gain,
                   f.sample_interval, '%s  (%d of %d traces' % (title, len(traces), len(f)))


def levels(traces, clip, gain):
    """(clip level, the notes printed under the picture) for `clip` and `gain`."""
    kind, amount = clip or ('percentile', 98.0)
    level = amount if kind == 'value' else clip_level(traces, amount)
    notes = ['clip %s (%s)' % (label(level), 'given' if kind == 'value'
                                else '%g%% of magnitudes' % amount)]
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


def section(traces, labels, key, times, style, clip, gain, interval, caption):
    """The SVG of `traces` (lists of samples) side by side, labelled `labels` across (`key`
    names them), on the time axis `times` (see _times); a trace of NaN alone is a missing one,
    drawn as a grey lane. `caption` opens the title, which goes on with the style and spacing."""
    samples = max(len(v) for v in traces) if traces else 0
    traces = apply_gain(traces, gain, interval)
    level, notes = levels(traces, clip, gain)
    if interval:
        spacing = '%d samples at %g ms' % (samples, interval / 1000.0)
    else:
        spacing = '%d samples, interval 0 (unknown): time axis in samples' % samples
    parts = document('%s, %s, %s)' % (caption, style, spacing), notes)
    if traces:
        parts.extend(_wiggles(traces, level, times) if style == 'wiggle'
                     else _density(traces, level, times))
        parts.extend(_axes(labels, key, times))
    parts.append('</svg>\n')
    return '\n'.join(parts)
