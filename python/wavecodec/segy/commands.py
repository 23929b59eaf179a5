"""The SEG-Y subcommands of the wavecodec command: segy-info, segy-convert and segy-plot.

Argument parsing and printing only; the work is done by the segy package. Errors reach the
command's main(), which prints one line and exits non-zero.
"""
from __future__ import print_function

import os

from ..commandline import STDIO, STDIN_NAME, done as _done, stdin
from ..safeio import check_output, write_bytes
from . import plot, text
from .convert import convert
from .reader import SegyFile
from .samples import FORMATS

TEXT_LINES = 6


def _source(path):
    """A path, or for '-' standard input (read whole: the reader needs random access)."""
    return stdin() if path == STDIO else path


def _open(args):
    return SegyFile(_source(args.file), args.endian, getattr(args, 'source_format', None),
                    su=getattr(args, 'su', False), name=_name(args.file))


def _name(path):
    return STDIN_NAME if path == STDIO else None


def _sample_range(f):
    low = high = None
    for values in f.traces():
        finite = [v for v in (min(values), max(values)) if v == v] if len(values) else []
        if finite:
            low = min(finite) if low is None else min(low, min(finite))
            high = max(finite) if high is None else max(high, max(finite))
    return low, high


def cmd_info(args):
    with _open(args) as f:
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
                ('sample interval', '%g us' % f.sample_interval),
                ('format', '%d (%s)' % (f.format, f.sample_format.name))]
        if f.extended_text_headers:
            rows.append(('extended text headers', '%d' % len(f.extended_text_headers)))
        if f.truncated:
            rows.append(('truncated', f.truncated))
        low, high = _sample_range(f)
        rows.append(('sample range', 'none' if low is None else '%.9g to %.9g' % (low, high)))
        for name, value in rows:
            print('%-22s %s' % (name + ':', value))
        if not f.su and args.lines > 0:
            shown = [line for line in text.lines(f.text_header) if line.strip()][:args.lines]
            print('text header (first %d non-blank lines):' % len(shown))
            for line in shown:
                print('  ' + line)
    return 0


def cmd_convert(args):
    check_output(args.output, [args.input])
    result = convert(_source(args.input), args.output, args.format, endian=args.endian,
                     source_format=args.source_format, saturate=args.saturate,
                     exact=args.exact, name=_name(args.input))
    notes = []
    if result.rounded:
        notes.append('%d samples rounded to the nearest IBM value' % result.rounded)
    if result.saturated:
        notes.append('%d NaN or infinite samples saturated' % result.saturated)
    _done(args.output, '%d traces, samples as %s%s' % (
        result.traces, FORMATS[1 if args.format == 'ibm' else 5].name,
        '; ' + ', '.join(notes) if notes else ''))
    return 0


def cmd_plot(args):
    check_output(args.output, [args.file])
    with _open(args) as f:
        title = args.title if args.title is not None else os.path.basename(f.name)
        svg = plot.render(f, title, args.style)
        count, style = len(f), plot.resolve_style(len(f), args.style)
    write_bytes(args.output, svg.encode('utf-8'), inputs=(args.file,))
    _done(args.output, '%d traces, drawn as %s' % (count, style))
    return 0


def _overrides(s, formats=True):
    s.add_argument('--endian', choices=('big', 'little'),
                   help="byte order, replacing the file's (or the guess)")
    if formats:
        s.add_argument('--source-format', type=int, metavar='CODE', choices=sorted(FORMATS),
                       help="sample format code replacing the binary header's")


def register(sub):
    """Adds segy-info, segy-convert and segy-plot to the subparsers `sub`."""
    s = sub.add_parser('segy-info', help='a SEG-Y or SU file: traces, samples, interval, '
                       'format, byte order, text header lines, sample range')
    s.add_argument('file', metavar='FILE', help="a path, or '-' for standard input")
    s.add_argument('--su', action='store_true', help='a Seismic Unix file')
    s.add_argument('--lines', type=int, default=TEXT_LINES, metavar='N',
                   help='text header lines shown (default %d)' % TEXT_LINES)
    _overrides(s)
    s.set_defaults(run=cmd_info)

    s = sub.add_parser('segy-convert', help='a SEG-Y file with its samples as IBM or IEEE '
                       'floats; every other byte kept but the format code')
    s.add_argument('input', metavar='IN')
    s.add_argument('output', metavar='OUT', help="a path, or '-' for standard output")
    s.add_argument('--format', required=True, choices=('ibm', 'ieee'))
    s.add_argument('--saturate', action='store_true',
                   help='write NaN and infinities as the largest IBM magnitude')
    s.add_argument('--exact', action='store_true',
                   help='refuse IEEE values that an IBM single does not hold exactly')
    _overrides(s)
    s.set_defaults(run=cmd_convert)

    s = sub.add_parser('segy-plot', help='an SVG picture of the traces of a SEG-Y or SU file '
                       '(wiggles or density)')
    s.add_argument('file', metavar='FILE')
    s.add_argument('-o', '--output', required=True, metavar='OUT.svg')
    s.add_argument('--style', choices=('auto', 'wiggle', 'density'), default='auto')
    s.add_argument('--su', action='store_true', help='a Seismic Unix file')
    s.add_argument('--title')
    _overrides(s)
    s.set_defaults(run=cmd_plot)
