"""The survey side of the SEG-Y commands: segy-info's geometry rows, and segy-plot's inline and
crossline sections (wiggles or density, traces labelled by their line numbers) and depth-slice
maps (crosslines across, inlines down, a colour bar). Cells no trace holds are grey in both.
"""
import base64

from ..errors import FormatError
from ..svgplot import escape, label
from . import plot, plotsvg
from .fields import TRACE
from .survey import NEEDS, resolve_field


def field_options(args):
    """open()'s iline, xline and offset from --iline-field and friends (a field name, a byte
    number, or 'none' for the inline field of a 2-D line), checked; ValueError naming a field
    the trace headers lack."""
    fields = {}
    for what in ('iline', 'xline', 'offset'):
        text = getattr(args, what + '_field', None)
        if text is None:
            continue
        if text.lower() == 'none' and what != 'iline':
            raise ValueError('--%s-field none: only the inline field may be absent (a 2-D '
                             'line)' % what)
        value = None if text.lower() == 'none' else int(text) if text.isdigit() else text
        resolve_field(value, '--%s-field' % what)
        fields[what] = value
    return fields


def _numbers(values):
    """'250 from 1 to 250, step 1' for sorted line numbers."""
    if len(values) == 1:
        return '1 (%d)' % values[0]
    steps = sorted(set(int(d) for d in values[1:] - values[:-1]))
    step = ('step %d' % steps[0] if len(steps) == 1
            else 'steps %d to %d (irregular)' % (steps[0], steps[-1]))
    return '%d from %d to %d, %s' % (len(values), values[0], values[-1], step)


def info_rows(f):
    """segy-info's rows about the survey geometry: (name, text) pairs."""
    if NEEDS:
        return [('geometry', 'not read: Python 3 with numpy is needed')]
    g = f.geometry
    fields = ', '.join(_field_text(s) for s in g.fields if s is not None)
    if g.problem:
        return [('geometry', 'none (%s)' % g.problem.split(': no survey grid: ', 1)[-1])]
    kind = ('2-D line' if g.two_d else '%s sorting (%s vary fastest)' % (
        g.sorting, 'crosslines' if g.sorting == 'inline' else 'inlines'))
    rows = [('geometry', '%s; fields %s' % (kind, fields))]
    if not g.two_d:
        rows.append(('inlines', _numbers(g.ilines)))
    rows += [('crosslines', _numbers(g.xlines)), ('offsets', _numbers(g.offsets))]
    cells, live = g.grid.size, g.live_count()
    rows.append(('grid cells', '%d: %d live, %d missing' % (cells, live, cells - live)))
    return rows


def _field_text(field):
    _, first, width, _ = TRACE.by_name[field[0]]
    return '%s (bytes %d-%d)' % (field[0], first, first + width - 1)


def _times(f):
    """(the sample axis in ms, the interval in ms: 0 when unknown, the axis then counting
    samples)."""
    axis = f.samples
    interval = float(axis[1] - axis[0]) if len(axis) > 1 else 0.0
    if not (f.sample_interval or f.header(0).get('sample_interval')):
        interval = 0.0
    return axis, interval


def _grid(f):
    """The geometry of `f`; FormatError saying why when its traces form no grid."""
    g = f.geometry
    if g.problem:
        raise FormatError(g.problem)
    return g


def _offset_at(f, offset):
    g = f.geometry
    if offset is None:
        return 0, ''
    return g.position(2, offset), ', offset %d' % offset


def line_section(f, axis, number, offset, title, style, clip, gain, bias=False):
    """(the SVG, its style) of inline (axis 0) or crossline (axis 1) `number` at `offset`
    (None: the first), each trace's mean removed when `bias`; KeyError for a line or offset the
    survey lacks."""
    g = _grid(f)
    if g.two_d:
        raise ValueError('a 2-D line has no %s sections: plot the line itself (segy-plot FILE)'
                         % ('inline' if axis == 0 else 'crossline'))
    position = g.position(axis, number)
    k, at_offset = _offset_at(f, offset)
    view = f.iline if axis == 0 else f.xline
    values = view[number, int(g.offsets[k])]
    cells = g.grid[position, :, k] if axis == 0 else g.grid[:, position, k]
    labels_all = g.xlines if axis == 0 else g.ilines
    style = plot.resolve_style(len(cells), style)
    picked = plot.pick(len(cells), plot.MAX_WIGGLES if style == 'wiggle' else plot.MAX_COLUMNS)
    nan = float('nan')
    traces = [values[c].astype(float).tolist() if cells[c] >= 0 else [nan] * values.shape[1]
              for c in picked]
    axis_ms, interval = _times(f)
    t0 = float(axis_ms[0])
    t1 = float(axis_ms[-1]) if interval else float(len(axis_ms))
    times = (t0 if interval else 0.0, t1, [t0 if interval else 0.0] * len(traces),
             interval)
    missing = int((cells < 0).sum())
    what = ('inline', 'crossline')
    caption = '%s  (%s %d%s: %d of %d %ss, %d missing' % (
        title, what[axis], number, at_offset, len(traces), len(cells), what[1 - axis], missing)
    return plot.section(traces, [int(labels_all[c]) for c in picked], what[1 - axis], times,
                        style, clip, gain, interval * 1000.0, caption, bias), style


def sample_index(f, ms):
    """The sample nearest time `ms` (a sample number when the interval is unknown)."""
    axis, interval = _times(f)
    step = interval or 1.0
    first = float(axis[0]) if interval else 0.0
    k = int(round((ms - first) / step))
    if not 0 <= k < len(axis):
        raise ValueError('--depth-slice %g: the traces run from %g to %g %s' % (
            ms, first, first + (len(axis) - 1) * step, 'ms' if interval else '(sample numbers)'))
    return k, first + k * step


def depth_map(f, ms, offset, title, clip):
    """The SVG of the depth slice nearest `ms` at `offset` (None: the first): a map of
    crosslines across and inlines down, grey where no trace is."""
    g = _grid(f)
    if g.two_d:
        raise ValueError('a 2-D line has no map view: plot the line itself (segy-plot FILE)')
    k, at = sample_index(f, ms)
    o, at_offset = _offset_at(f, offset)
    cut = f.depth_slice[k]
    cut = cut[:, :, o] if g.prestack else cut
    live = g.grid[:, :, o] >= 0
    rows = plot.pick(cut.shape[0], plot.MAX_ROWS)
    columns = plot.pick(cut.shape[1], plot.MAX_COLUMNS)
    values = cut.astype(float)
    shown = values[rows][:, columns]
    live_shown = live[rows][:, columns]
    level, notes = plot.levels([shown[live_shown].tolist()], clip, None)
    pixels = [bytearray(plotsvg.colour_index(v, level) if ok else plotsvg.MISSING
                        for v, ok in zip(row, ok_row))
              for row, ok_row in zip(shown.tolist(), live_shown.tolist())]
    png = base64.b64encode(plotsvg.palette_png(len(columns), len(rows), pixels)).decode('ascii')
    cells = live.size
    caption = ('%s  (depth slice at %g %s (sample %d)%s: %d inlines x %d crosslines, %d of %d '
               'cells missing)' % (title, at, 'ms' if f.sample_interval else 'samples', k,
                                   at_offset, cut.shape[0], cut.shape[1],
                                   cells - int(live.sum()), cells))
    parts = plot.document(caption, notes)
    parts.append('<image x="%d" y="%d" width="%d" height="%d" preserveAspectRatio="none" '
                 'style="image-rendering:pixelated" xlink:href="data:image/png;base64,%s"/>'
                 % (plotsvg.LEFT, plotsvg.TOP, plotsvg.PLOT_W, plotsvg.PLOT_H, png))
    parts.extend(plotsvg.colour_bar(level))
    parts.extend(_map_axes([int(g.xlines[c]) for c in columns], [int(g.ilines[r]) for r in rows]))
    parts.append('</svg>\n')
    return '\n'.join(parts)


def _map_axes(xlabels, ilabels):
    """The frame, crossline numbers along the top and inline numbers down the left, ticked at
    round line numbers as the sections' trace axis is."""
    left, top, width, height = plotsvg.LEFT, plotsvg.TOP, plotsvg.PLOT_W, plotsvg.PLOT_H
    out = ['<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#444"/>'
           % (left, top, width, height)]
    across = width / float(len(xlabels))
    for position, number in plotsvg.trace_ticks(xlabels):
        x = left + across * (position + 0.5)
        out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#444"/>'
                   % (x, top - 4, x, top))
        out.append('<text x="%.1f" y="%d" font-size="11" text-anchor="middle">%s</text>'
                   % (x, top - 6, escape(label(number))))
    down = height / float(len(ilabels))
    for position, number in plotsvg.trace_ticks(ilabels):
        y = top + down * (position + 0.5)
        out.append('<line x1="%d" y1="%.1f" x2="%d" y2="%.1f" stroke="#444"/>'
                   % (left - 4, y, left, y))
        out.append('<text x="%d" y="%.1f" font-size="11" text-anchor="end">%s</text>'
                   % (left - 6, y + 4, escape(label(number))))
    out.append('<text x="%d" y="%d" font-size="11" text-anchor="middle">crossline</text>'
               % (left + width // 2, top - 22))
    out.append('<text x="16" y="%d" font-size="11" text-anchor="middle" '
               'transform="rotate(-90 16 %d)">inline</text>' % (top + height // 2,
                                                                 top + height // 2))
    return out
