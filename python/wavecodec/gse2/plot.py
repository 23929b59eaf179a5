"""A picture of GSE2 waveforms as SVG text, made with the standard library alone.

Each waveform gets a panel: time axis in seconds from its start, amplitude axis in counts, a
title with station, channel, start and rate.
"""

from ..svgplot import column_envelope, escape, label as _label, nice_ticks
from .wid2 import describe

WIDTH = 1000
PANEL_HEIGHT = 220
LEFT, RIGHT, TOP, BOTTOM = 80, 20, 30, 40


def _panel(wave, top):
    samples = wave.samples
    h = wave.header
    # Without a usable rate (zero, negative, not finite) the axis counts samples.
    delta = getattr(wave, 'delta', None)
    rate = 1.0 / delta if delta else 1.0
    plot_w = WIDTH - LEFT - RIGHT
    plot_h = PANEL_HEIGHT - TOP - BOTTOM
    n = len(samples)
    duration = max(n - 1, 1) / rate
    low, high = (min(samples), max(samples)) if n else (0, 0)
    if low == high:
        low, high = low - 1, high + 1
    pad = (high - low) * 0.05
    low, high = low - pad, high + pad

    def x(i):
        return LEFT + plot_w * (i / rate) / duration

    def y(v):
        return top + TOP + plot_h * (high - v) / (high - low)

    out = ['<g>']
    out.append('<text x="%d" y="%d" font-size="14" font-weight="bold">%s  (%s Hz, %d samples)'
               '</text>' % (LEFT, top + 20, escape(describe(h)), h.get('sample_rate'), n))
    out.append('<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#444"/>'
               % (LEFT, top + TOP, plot_w, plot_h))
    for t in nice_ticks(0.0, duration):
        px = LEFT + plot_w * t / duration
        out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#ddd"/>'
                   % (px, top + TOP, px, top + TOP + plot_h))
        out.append('<text x="%.1f" y="%d" font-size="11" text-anchor="middle">%s</text>'
                   % (px, top + TOP + plot_h + 14, _label(t)))
    for v in nice_ticks(low, high, 4):
        py = y(v)
        out.append('<line x1="%d" y1="%.1f" x2="%d" y2="%.1f" stroke="#ddd"/>'
                   % (LEFT, py, LEFT + plot_w, py))
        out.append('<text x="%d" y="%.1f" font-size="11" text-anchor="end">%s</text>'
                   % (LEFT - 4, py + 4, _label(v)))
    out.append('<text x="%d" y="%d" font-size="11" text-anchor="middle">%s</text>'
               % (LEFT + plot_w // 2, top + TOP + plot_h + 30,
                  'time since start (s)' if delta else 'sample number (no valid rate)'))
    out.append('<text x="14" y="%d" font-size="11" text-anchor="middle" '
               'transform="rotate(-90 14 %d)">counts</text>'
               % (top + TOP + plot_h // 2, top + TOP + plot_h // 2))
    if n == 1:
        # A lone sample draws no line: mark it.
        out.append('<circle cx="%.1f" cy="%.1f" r="3" fill="#1f4e9c"/>' % (x(0), y(samples[0])))
    elif n:
        points = []
        for i, lo, hi in column_envelope(samples, plot_w):
            px = x(i)
            points.append('%.1f,%.1f' % (px, y(lo)))
            if hi != lo:
                points.append('%.1f,%.1f' % (px, y(hi)))
        out.append('<polyline fill="none" stroke="#1f4e9c" stroke-width="0.8" points="%s"/>'
                   % ' '.join(points))
    out.append('</g>')
    return '\n'.join(out)


def render(waveforms, title=''):
    """The SVG document (text) for a list of waveforms."""
    height = PANEL_HEIGHT * max(len(waveforms), 1) + 30
    parts = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
             'viewBox="0 0 %d %d" font-family="sans-serif">' % (WIDTH, height, WIDTH, height),
             '<rect width="100%" height="100%" fill="white"/>',
             '<text x="%d" y="20" font-size="15">%s</text>' % (LEFT, escape(title))]
    for k, wave in enumerate(waveforms):
        parts.append(_panel(wave, 30 + k * PANEL_HEIGHT))
    parts.append('</svg>\n')
    return '\n'.join(parts)
