"""What the SVG pictures of every format share: round axis ticks, their labels, and the
reduction of a long series to the minimum and maximum of each pixel column (which draws the same
envelope as every sample would)."""
import math


def escape(text):
    """`text` with the characters that XML text cannot hold as they are (&, <, >) as entities.
    (xml.sax.saxutils would do the same but pulls in urllib and http at import.)"""
    return text.replace('&', '&amp;').replace('<', '&lt;').replace('>', '&gt;')


def nice_ticks(low, high, target=6):
    """Round tick values covering [low, high]: steps of 1, 2 or 5 times a power of ten."""
    if not high > low:
        return [low]
    raw = (high - low) / float(target)
    power = 10.0 ** math.floor(math.log10(raw))
    step = next(m * power for m in (1, 2, 5, 10) if m * power >= raw)
    first = math.ceil(low / step) * step
    ticks = []
    value = first
    while value <= high + step * 1e-9:
        ticks.append(0.0 if abs(value) < step * 1e-9 else value)
        value += step
    return ticks


def label(value):
    return ('%.6g' % value)


def column_envelope(samples, columns):
    """(first index, min, max) per pixel column; every sample when there are few."""
    n = len(samples)
    if n <= 2 * columns:
        return [(i, v, v) for i, v in enumerate(samples)]
    result = []
    for c in range(columns):
        a = c * n // columns
        b = (c + 1) * n // columns
        chunk = samples[a:b]
        result.append((a, min(chunk), max(chunk)))
    return result
