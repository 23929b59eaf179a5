"""The drawing of segy-plot's picture: SVG elements of the wiggles, the density image (a palette
PNG), its colour bar and the axes, from what plot.py kept of each trace. Cells without a value
(NaN samples, missing traces of a survey) are grey: MISSING in the palette, a grey lane among
wiggles."""
import base64
import struct
import zlib

from ..svgplot import escape, label, nice_ticks

WIDTH, HEIGHT = 1000, 700
# Room right of the frame for the density plot's colour bar and its labels.
LEFT, RIGHT, TOP, BOTTOM = 80, 90, 40, 60
PLOT_W, PLOT_H = WIDTH - LEFT - RIGHT, HEIGHT - TOP - BOTTOM
PALETTE = 255
# The palette index and colour of cells without a value (NaN samples, missing traces).
MISSING, MISSING_RGB, MISSING_COLOUR = 255, (0xbb, 0xbb, 0xbb), '#bbbbbb'


def _palette():
    """255 colours from blue (-1) through white (0) to red (+1), then grey: no value."""
    colours = bytearray()
    for k in range(PALETTE):
        t = 2.0 * k / (PALETTE - 1) - 1.0
        fade = int(round(255 * (1 - abs(t))))
        colours.extend((255, fade, fade) if t >= 0 else (fade, fade, 255))
    return bytes(colours + bytearray(MISSING_RGB))


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
    """The palette index of `value`: white for 0 and outside a trace (None), the ends at +-clip
    and beyond, grey (MISSING) for NaN: no value."""
    if value is None:
        value = 0.0
    elif value != value:
        return MISSING
    t = max(-1.0, min(1.0, value / clip))
    return int(round((t + 1.0) * (PALETTE - 1) / 2.0))


def density(columns, clip):
    """The image of the traces: `columns` holds each trace's value at each pixel row (None
    outside the trace, NaN where it has no value)."""
    rows = max(len(c) for c in columns)
    lines = [bytearray(colour_index(c[r] if r < len(c) else None, clip) for c in columns)
             for r in range(rows)]
    data = base64.b64encode(palette_png(len(columns), rows, lines)).decode('ascii')
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


def wiggles(kept, clip, times):
    """Each trace (its (sample index, value) pairs) is one path, drawn twice: filled right of
    its zero line (the positive lobes, by a clip rectangle) and stroked. The path starts and
    ends on the zero line, so the fill's implicit closing runs along it. A missing trace (None:
    no value at all) is a grey lane. Everything is clipped to the frame."""
    t0, t1, delays, dt = times
    span = (t1 - t0) or 1.0
    lane = PLOT_W / float(len(kept))
    scale = 0.9 * lane / clip
    defs = ['<clipPath id="frame"><rect x="%d" y="%d" width="%d" height="%d"/></clipPath>'
            % (LEFT, TOP, PLOT_W, PLOT_H)]
    out = ['<g clip-path="url(#frame)">']
    for k, (pairs, delay) in enumerate(zip(kept, delays)):
        x0 = LEFT + lane * (k + 0.5)
        if pairs is None:
            out.append('<rect x="%.1f" y="%d" width="%.1f" height="%d" fill="%s"/>'
                       % (x0 - lane / 2, TOP, lane, PLOT_H, MISSING_COLOUR))
            continue
        points = []
        for i, v in pairs:
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


def trace_ticks(values):
    """(position in lanes, value) of the ticks along the trace axis, for the values of the
    traces drawn (a header field, or the trace index). Values that only rise or only fall are
    ticked at round values (1, 2 or 5 times a power of ten), placed between the traces they
    lie between; others at the traces whose value is a multiple of the round step, no two
    closer than an eighth of the axis."""
    n = len(values)
    if not n:
        return []
    low, high = min(values), max(values)
    if low == high:
        return [(0.0, values[0])]
    steps = list(zip(values, values[1:]))
    ticks = nice_ticks(low, high)
    if all(a <= b for a, b in steps) or all(a >= b for a, b in steps):
        out = []
        for t in ticks:
            for k, (a, b) in enumerate(steps):
                if min(a, b) <= t <= max(a, b):
                    out.append((k + (float(t - a) / (b - a) if a != b else 0.0), t))
                    break
        return out
    step = ticks[1] - ticks[0] if len(ticks) > 1 else 1
    out = []
    for k, v in enumerate(values):
        if v % step == 0 and (not out or k - out[-1][0] >= n / 8.0):
            out.append((float(k), v))
    return out


def axes(values, key, times):
    t0, t1, _, dt = times
    out = ['<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#444"/>'
           % (LEFT, TOP, PLOT_W, PLOT_H)]
    lane = PLOT_W / float(max(len(values), 1))
    for position, value in trace_ticks(values):
        x = LEFT + lane * (position + 0.5)
        out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#444"/>'
                   % (x, TOP - 4, x, TOP))
        out.append('<text x="%.1f" y="%d" font-size="11" text-anchor="middle">%s</text>'
                   % (x, TOP - 6, escape(label(value))))
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
