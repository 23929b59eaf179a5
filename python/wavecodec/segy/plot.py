"""A picture of the traces of a SEG-Y or SU file as SVG text, made with the standard library.

Time runs down, traces run across. Two styles: wiggles (a line per trace, its positive lobes
filled) for up to MAX_WIGGLES traces, and a density image (blue for negative, red for positive,
an embedded PNG) for more. The picture is bounded whatever the file's size: traces are picked
evenly and long traces reduced to one value per pixel row, so the SVG stays within a few hundred
kilobytes (at most about 320 kB: 600 x 400 image pixels, or 24,000 wiggle points).
"""
import base64
import struct
import zlib

from ..svgplot import escape, nice_ticks

WIDTH, HEIGHT = 1000, 700
LEFT, RIGHT, TOP, BOTTOM = 80, 20, 40, 50
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


def clip_level(traces):
    """The 98th percentile of the magnitudes (from at most ~20,000 of them): the amplitude that
    fills a wiggle's lane or saturates a colour, so that a few spikes do not flatten the rest."""
    magnitudes = []
    for values in traces:
        step = max(1, len(values) * len(traces) // 20000)
        magnitudes.extend(abs(v) for v in values[::step] if v == v and abs(v) != float('inf'))
    if not magnitudes:
        return 1.0
    magnitudes.sort()
    level = magnitudes[min(len(magnitudes) - 1, int(len(magnitudes) * 0.98))]
    return level or magnitudes[-1] or 1.0


def _palette():
    """255 colours from blue (-1) through white (0) to red (+1)."""
    colours = bytearray()
    for k in range(PALETTE):
        t = 2.0 * k / (PALETTE - 1) - 1.0
        fade = int(round(255 * (1 - abs(t))))
        colours.extend((255, fade, fade) if t >= 0 else (fade, fade, 255))
    return bytes(colours)


PALETTE = 255


def _png(width, height, rows):
    """A palette PNG of `rows` (one colour index byte per pixel)."""
    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data
                + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff))
    raw = b''.join(b'\x00' + bytes(r) for r in rows)
    return (b'\x89PNG\r\n\x1a\n'
            + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 3, 0, 0, 0))
            + chunk(b'PLTE', _palette()) + chunk(b'IDAT', zlib.compress(raw, 9))
            + chunk(b'IEND', b''))


def _index(value, clip):
    """The palette index of `value`: white for 0, the ends at +-clip and beyond."""
    t = value / clip if value == value else 0.0
    t = max(-1.0, min(1.0, t))
    return int(round((t + 1.0) * (PALETTE - 1) / 2.0))


def _density(traces, clip):
    samples = max(len(v) for v in traces)
    rows = min(samples, MAX_ROWS)
    white = _index(0.0, clip)
    lines = []
    for r in range(rows):
        j = r * samples // rows
        lines.append(bytearray(_index(values[j], clip) if j < len(values) else white
                               for values in traces))
    data = base64.b64encode(_png(len(traces), rows, lines)).decode('ascii')
    return ['<image x="%d" y="%d" width="%d" height="%d" preserveAspectRatio="none" '
            'style="image-rendering:pixelated" xlink:href="data:image/png;base64,%s"/>'
            % (LEFT, TOP, PLOT_W, PLOT_H, data)]


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


def _wiggles(traces, clip, samples):
    """Each trace is one path, drawn twice: filled right of its zero line (the positive lobes,
    by a clip rectangle) and stroked. The path starts and ends on the zero line, so the fill's
    implicit closing runs along it."""
    lane = PLOT_W / float(len(traces))
    scale = 0.9 * lane / clip
    budget = max(50, WIGGLE_POINTS // len(traces))
    defs, out = [], []
    for k, values in enumerate(traces):
        x0 = LEFT + lane * (k + 0.5)
        points = []
        for i, v in reduce_trace(values, budget):
            v = max(-clip * 1.5, min(clip * 1.5, v)) if v == v else 0.0
            points.append('%.1f,%.1f' % (x0 + v * scale, TOP + PLOT_H * (i + 0.5) / samples))
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
    return ['<defs>'] + defs + ['</defs>'] + out


def _axes(indices, samples, interval_us):
    out = ['<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#444"/>'
           % (LEFT, TOP, PLOT_W, PLOT_H)]
    lane = PLOT_W / float(max(len(indices), 1))
    for t in nice_ticks(indices[0], indices[-1]) if indices else []:
        # The tick goes to the picked trace nearest to trace number t.
        k = min(range(len(indices)), key=lambda n: abs(indices[n] - t))
        x = LEFT + lane * (k + 0.5)
        out.append('<text x="%.1f" y="%d" font-size="11" text-anchor="middle">%d</text>'
                   % (x, TOP - 6, indices[k]))
    duration = (samples - 1) * interval_us / 1000.0 if samples > 1 else 1.0
    for t in nice_ticks(0.0, duration):
        y = TOP + PLOT_H * (t / duration if duration else 0)
        out.append('<line x1="%d" y1="%.1f" x2="%d" y2="%.1f" stroke="#444"/>'
                   % (LEFT - 4, y, LEFT, y))
        out.append('<text x="%d" y="%.1f" font-size="11" text-anchor="end">%g</text>'
                   % (LEFT - 6, y + 4, t))
    out.append('<text x="%d" y="%d" font-size="11" text-anchor="middle">trace</text>'
               % (LEFT + PLOT_W // 2, TOP - 22))
    out.append('<text x="16" y="%d" font-size="11" text-anchor="middle" '
               'transform="rotate(-90 16 %d)">time (ms)</text>'
               % (TOP + PLOT_H // 2, TOP + PLOT_H // 2))
    return out


def resolve_style(count, style='auto'):
    """'wiggle' or 'density': `style` itself, or for 'auto' wiggles up to MAX_WIGGLES traces."""
    if style == 'auto':
        return 'wiggle' if count <= MAX_WIGGLES else 'density'
    return style


def render(f, title='', style='auto'):
    """The SVG document (text) for open file `f`; `style` 'wiggle', 'density' or 'auto'."""
    style = resolve_style(len(f), style)
    indices, traces = gather(f, MAX_WIGGLES if style == 'wiggle' else MAX_COLUMNS)
    samples = max(len(v) for v in traces) if traces else 0
    interval = f.sample_interval or 1000
    parts = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" '
             'width="%d" height="%d" '
             'viewBox="0 0 %d %d" font-family="sans-serif">' % (WIDTH, HEIGHT, WIDTH, HEIGHT),
             '<rect width="100%" height="100%" fill="white"/>',
             '<text x="%d" y="%d" font-size="14">%s</text>'
             % (LEFT, HEIGHT - 14, escape('%s  (%d of %d traces, %s, %d samples at %g ms)' % (
                 title, len(traces), len(f), style, samples, interval / 1000.0)))]
    if traces:
        clip = clip_level(traces)
        parts.extend(_wiggles(traces, clip, samples) if style == 'wiggle'
                     else _density(traces, clip))
        parts.extend(_axes(indices, samples, interval))
    parts.append('</svg>\n')
    return '\n'.join(parts)
