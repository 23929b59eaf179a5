"""The SEG-Y subcommands of the wavecodec command: segy-info, segy-convert and segy-plot.

Argument parsing and printing only; the work is done by the segy package. Errors reach the
command's main(), which prints one line and exits non-zero.
"""
from __future__ import print_function

import os
import sys

from ..commandline import (PROG, STDIO, STDIN_NAME, UsageError, add_output, check_input,
                           done as _done, stdin)
from ..errors import WaveformError
from ..safeio import check_output, write_bytes

try:
    import numpy
except ImportError:  # sample ranges by the standard library
    numpy = None
from . import plot, surveycli, text
from .convert import convert
from .reader import SegyFile
from .samples import FORMATS

TEXT_LINES = 6


def _source(path):
    """The path, or for '-' standard input's binary stream. The reader holds what cannot seek
    (standard input from a pipe, FIFOs, devices) within bounds, refusing at its first bytes
    what cannot start a file (segy/stream.py)."""
    check_input(path)
    return stdin() if path == STDIO else path


def _open(args):
    try:
        fields = surveycli.field_options(args)
    except ValueError as e:   # a field the trace headers lack
        raise UsageError(str(e))
    return SegyFile(_source(args.file), args.endian, getattr(args, 'source_format', None),
                    strict=not args.lenient, su=getattr(args, 'su', False),
                    name=_name(args.file), **fields)


def _name(path):
    return STDIN_NAME if path == STDIO else path


def _warn(f):
    """In lenient mode, what was left out or accepted, on standard error."""
    if f.truncated:
        print('%s: warning: %s (left out)' % (PROG, f.truncated), file=sys.stderr)


def _block_range(values):
    """(lowest, highest, NaN count) of one array of samples, NaN left out; None for the range
    when every value is NaN."""
    if numpy is not None:
        a = numpy.frombuffer(values, dtype=values.typecode)
        if a.dtype.kind != 'f':
            return (a.min(), a.max(), 0) if len(a) else (None, None, 0)
        nans = int(numpy.count_nonzero(numpy.isnan(a)))
        if nans == len(a):
            return None, None, nans
        return float(numpy.nanmin(a)), float(numpy.nanmax(a)), nans
    if not len(values):
        return None, None, 0
    if values.typecode in 'fd':
        total = sum(values)
        if total != total:  # a NaN among them (or infinities of both signs)
            kept = [v for v in values if v == v]
            nans = len(values) - len(kept)
            return (min(kept), max(kept), nans) if kept else (None, None, nans)
    return min(values), max(values), 0


def _sample_range(f):
    """(lowest, highest, NaN count) over every sample of the file."""
    low = high = None
    nans = 0
    for values in f.traces():
        lo, hi, n = _block_range(values)
        nans += n
        if lo is not None:
            low = lo if low is None else min(low, lo)
            high = hi if high is None else max(high, hi)
    return low, high, nans


def cmd_info(args):
    with _open(args) as f:
        _warn(f)
        kind = 'Seismic Unix' if f.su else 'SEG-Y revision %d' % f.revision
        lengths = '%d' % f.samples_per_trace
        if f.varying:
            counts = [f.sample_count(i) for i in range(len(f))]
            lengths = '%d to %d (varying: each trace header gives its own)' % (min(counts),
                                                                               max(counts))
        rows = [('file', f.name),
                ('kind', '%s, %s-endian%s' % (kind, f.endian, ', text header %s'
                                              % f.encoding.upper() if f.encoding else '')),
                ('traces', '%d' % len(f)),
                ('samples per trace', lengths),
                ('sample interval', '%g us' % f.sample_interval if f.sample_interval
                 else '0 (unknown)'),
                ('format', '%d (%s)' % (f.format, f.sample_format.name))]
        if f.extended_text_headers:
            rows.append(('extended text headers', '%d (%s)' % (
                len(f.extended_text_headers), ', '.join(f.extended_text_encodings))))
        if f.additional_trace_headers:
            rows.append(('additional headers', '%d per trace (240 bytes each)'
                         % f.additional_trace_headers))
        if f.truncated:
            rows.append(('truncated', f.truncated))
        for note in f.notes:
            rows.append(('assumed', note))
        rows.extend(surveycli.info_rows(f))
        low, high, nans = _sample_range(f)
        rows.append(('sample range', 'none' if low is None else '%.9g to %.9g' % (low, high)))
        if f.sample_format.kind in ('ibm', 'float'):
            rows.append(('NaN samples', '%d' % nans))
        for name, value in rows:
            print('%-22s %s' % (name + ':', text.escaped(str(value))))
        if not f.su and args.lines > 0:
            shown = [line for line in text.lines(f.text_header) if line.strip()][:args.lines]
            print('text header (first %d non-blank lines):' % len(shown))
            for line in shown:
                print('  ' + text.escaped(line))
    return 0


def cmd_convert(args):
    check_output(args.output, [args.input])
    result = convert(_source(args.input), args.output, args.format, endian=args.endian,
                     source_format=args.source_format, saturate=args.saturate,
                     exact=args.exact, name=_name(args.input), strict=not args.lenient)
    if result.truncated:
        print('%s: warning: %s (left out)' % (PROG, result.truncated), file=sys.stderr)
    notes = []
    if result.rounded:
        notes.append('%d samples rounded to the nearest IBM value' % result.rounded)
    if result.saturated:
        notes.append('%d NaN or infinite samples saturated' % result.saturated)
    _done(args.output, '%d traces, samples as %s%s' % (
        result.traces, FORMATS[1 if args.format == 'ibm' else 5].name,
        '; ' + ', '.join(notes) if notes else ''))
    return 0


def _clip(text):
    try:
        return plot.parse_clip(text)
    except ValueError as e:
        raise UsageError(str(e))


def _gain(words):
    """None, ('scalar', k) or ('agc', window ms) from --gain none | K | agc MS."""
    words = ' '.join(words).replace(':', ' ').split()
    try:
        if words == ['none']:
            return None
        if len(words) == 2 and words[0] == 'agc' and float(words[1]) > 0:
            return 'agc', float(words[1])
        if len(words) == 1 and 0 < abs(float(words[0])) < float('inf'):
            return 'scalar', float(words[0])
    except ValueError:
        pass
    raise UsageError('--gain %s: none, a factor (2.5) or agc WINDOW_MS' % ' '.join(words))


def cmd_plot(args):
    check_output(args.output, [args.file])
    clip = _clip(args.clip) if args.clip else None
    gain = _gain(args.gain) if args.gain else None
    with _open(args) as f:
        _warn(f)
        title = args.title if args.title is not None else os.path.basename(f.name)
        if args.iline is not None or args.xline is not None or args.depth_slice is not None:
            svg, what = _survey_plot(f, args, title, clip, gain)
        else:
            try:
                svg = plot.render(f, title, args.style, args.key, clip, gain, args.remove_bias)
            except ValueError as e:
                if args.key and 'unknown trace header field' in str(e):
                    raise UsageError('--key: %s' % e)
                raise
            what = '%d traces, drawn as %s' % (len(f), plot.resolve_style(len(f), args.style))
    write_bytes(args.output, svg.encode('utf-8'), inputs=(args.file,))
    _done(args.output, what)
    return 0


def _survey_plot(f, args, title, clip, gain):
    """(SVG, summary) of segy-plot --iline / --xline / --depth-slice."""
    if args.key:
        raise UsageError('--key: the traces of a line are labelled by their line numbers')
    if args.depth_slice is not None and (gain or args.remove_bias or args.style == 'wiggle'):
        raise UsageError('--gain, --remove-bias and --style wiggle draw sections; a depth '
                         'slice is a map')
    try:
        if args.depth_slice is not None:
            svg = surveycli.depth_map(f, args.depth_slice, args.offset, title, clip)
            return svg, 'depth slice at %g, drawn as a map' % args.depth_slice
        axis, number = (0, args.iline) if args.iline is not None else (1, args.xline)
        svg, style = surveycli.line_section(f, axis, number, args.offset, title, args.style,
                                            clip, gain, args.remove_bias)
        return svg, '%s %d, drawn as %s' % (('inline', 'crossline')[axis], number, style)
    except (KeyError, ValueError) as e:   # no such line, offset or time; a 2-D line
        if isinstance(e, WaveformError):
            raise
        raise UsageError(e.args[0] if e.args else str(e))
    except ImportError as e:   # no numpy here: one line, as for any other fault
        raise WaveformError(str(e))


def _overrides(s, formats=True):
    s.add_argument('--lenient', action='store_true',
                   help='a truncated last trace (or what follows a trace whose length no header '
                   'explains) is left out with a warning, and a revision 2 trace count that '
                   'disagrees is accepted, instead of refusing the file')
    s.add_argument('--endian', choices=('big', 'little'),
                   help="byte order, replacing the file's (or the guess)")
    if formats:
        s.add_argument('--source-format', type=int, metavar='CODE', choices=sorted(FORMATS),
                       help="sample format code replacing the binary header's")


def _survey_fields(s):
    for what, default in (('iline', 'inline (189)'), ('xline', 'crossline (193)'),
                          ('offset', 'offset (37)')):
        s.add_argument('--%s-field' % what, metavar='FIELD', help='trace header field of the '
                       "survey's %s numbers: a name or the first byte of a 4-byte field%s "
                       '(default %s)' % (what, ", or 'none' for a 2-D line" if what == 'iline'
                                         else '', default))


def register(sub):
    """Adds segy-info, segy-convert and segy-plot to the subparsers `sub`."""
    s = sub.add_parser('segy-info', help='a SEG-Y or SU file: traces, samples, interval, '
                       'format, byte order, text header lines, sample range')
    s.add_argument('file', metavar='FILE', help="a path, or '-' for standard input")
    s.add_argument('--su', action='store_true', help='a Seismic Unix file')
    s.add_argument('--lines', type=int, default=TEXT_LINES, metavar='N',
                   help='text header lines shown (default %d)' % TEXT_LINES)
    _overrides(s)
    _survey_fields(s)
    s.set_defaults(run=cmd_info)

    s = sub.add_parser('segy-convert', help='a SEG-Y file with its samples as IBM or IEEE '
                       'floats; every other byte kept but the format code')
    s.add_argument('input', metavar='IN', help="the SEG-Y file ('-': standard input)")
    add_output(s, 'OUT', "the converted SEG-Y file ('-': standard output)", after_inputs=True)
    s.add_argument('--format', required=True, choices=('ibm', 'ieee'),
                   help='the samples as IBM or as IEEE float32')
    s.add_argument('--saturate', action='store_true',
                   help='write NaN and infinities as the largest IBM magnitude')
    s.add_argument('--exact', action='store_true',
                   help='refuse IEEE values that an IBM single does not hold exactly')
    _overrides(s)
    s.set_defaults(run=cmd_convert)

    s = sub.add_parser('segy-plot', help='an SVG picture of the traces of a SEG-Y or SU file '
                       '(wiggles or density)')
    s.add_argument('file', metavar='FILE', help="the SEG-Y or SU file ('-': standard input)")
    s.add_argument('-o', '--output', required=True, metavar='OUT.svg',
                   help="the SVG file ('-': standard output)")
    s.add_argument('--style', choices=('auto', 'wiggle', 'density'), default='auto',
                   help='wiggle traces, a density picture, or auto (default): wiggles up to '
                   '%d traces' % plot.MAX_WIGGLES)
    s.add_argument('--su', action='store_true', help='a Seismic Unix file')
    s.add_argument('--title', help="the picture's title (default: the file's name)")
    s.add_argument('--key', metavar='FIELD',
                   help='trace header field along the trace axis, ticked at its round values '
                   '(offset, cdp, field_record, ...; default: the trace index)')
    s.add_argument('--clip', metavar='AMPLITUDE|Q%',
                   help='amplitude that fills a lane or saturates a colour: a value, or a '
                   'percentile of the magnitudes of the live samples (default 98%%)')
    s.add_argument('--gain', nargs='+', metavar='none|K|agc MS',
                   help='amplitude scaling before the clip: none, a factor, or automatic gain '
                   'control over a window of MS milliseconds')
    s.add_argument('--remove-bias', action='store_true',
                   help="subtract each trace's mean (its DC offset) before the gain and clip")
    view = s.add_mutually_exclusive_group()
    view.add_argument('--iline', type=int, metavar='N', help='the section of inline N, its '
                      'traces labelled by crossline number')
    view.add_argument('--xline', type=int, metavar='N', help='the section of crossline N')
    view.add_argument('--depth-slice', type=float, metavar='MS', help='the map of the samples '
                      'at time MS (the nearest sample): crosslines across, inlines down')
    s.add_argument('--offset', type=int, metavar='O', help='the offset of a pre-stack '
                   "survey's view (default: the first)")
    _overrides(s)
    _survey_fields(s)
    s.set_defaults(run=cmd_plot)
