"""The GSE2 commands of the wavecodec command line: info, decode, encode and plot (verify over
files and folders is the archive commands').

Argument parsing and printing only; the work is done by the gse2 package. Errors reach the
command line's main(), which prints one line and exits non-zero. Modules only some commands use
(plot) are imported by those commands.
"""
from __future__ import print_function

import os
import re

from ..commandline import STDIO, UsageError, display, done, one_stdin, print_error, reader_input
from ..errors import FormatError, LibraryNotFoundError, WaveformError
from ..safeio import check_output, open_output, write_bytes
from .complete import complete
from .reader import read
from .sampletext import parse_samples, write_samples
from .waveform import Waveform
from .wid2 import describe


LENIENT_HELP = ('read past faulty waveforms: the sound ones are used, each faulty one is '
                'reported and none is written; the exit status is 1 when one was faulty')


def _read(path, **options):
    """The waveforms of input `path` ('-': standard input), named as given in messages."""
    return read(reader_input(path), name=display(path), **options)


def _start_time(text):
    """(year, month, day, hour, minute, second) from 'YYYY-MM-DDTHH:MM:SS.fff' or
    'YYYY/MM/DD HH:MM:SS.fff' (time optional)."""
    m = re.match(r'^\s*(\d{4})[-/](\d{1,2})[-/](\d{1,2})(?:[T ](\d{1,2}):(\d{1,2})'
                 r'(?::(\d{1,2}(?:\.\d*)?))?)?\s*$', text)
    if not m:
        raise UsageError('bad --start %r: expected YYYY-MM-DDTHH:MM:SS.fff' % text)
    y, mo, d, h, mi, s = m.groups()
    return (int(y), int(mo), int(d), int(h or 0), int(mi or 0), float(s or 0.0))


def _numbered(path, index):
    stem, ext = os.path.splitext(path)
    return '%s-%d%s' % (stem, index, ext)


def _status(wave):
    if wave.error is None:
        return 'ok'
    return 'MISMATCH' if 'checksum mismatch' in wave.error else 'BAD'


def _reason(wave, path, index):
    """A faulty waveform's message without the file and waveform ('FILE: waveform N (...): ')
    that the row already shows."""
    text = wave.error
    prefix = '%s: waveform %d (' % (display(path), index)
    end = text.find('): ', len(prefix))
    return text[end + 3:] if text.startswith(prefix) and end >= 0 else text


def _iso(when):
    if when is None:
        return '-'
    return '%04d-%02d-%02dT%02d:%02d:%02d.%03d' % (when.year, when.month, when.day, when.hour,
                                                   when.minute, when.second,
                                                   when.microsecond // 1000)


def _coordinate(sta2, name):
    value = sta2.get(name) if sta2 else None
    return '-' if value is None else '%.5f' % value


def _as_written(value):
    """A number read from a header as written (the shortest text of the float; no '.0')."""
    if value is None:
        return '-'
    text = repr(float(value))
    return text[:-2] if text.endswith('.0') else text


def _count(wave):
    """The SAMPLES column: those decoded; the count the WID2 line declares when the data were
    not decoded, or not all of them."""
    declared = wave.header.get('sample_count')
    if declared is None:
        return '-'
    return str(declared if wave.headers_only or wave.error is not None else len(wave.samples))


# Columns of info shown only when a waveform listed has what they show: the EID2 line's, the
# BEA2 line's, and the number of lines kept as text with a waveform (before, in and after its
# block).
_OPTIONAL = (
    (('EVENT', 'BULLETIN'), lambda w: w.eid2 is not None,
     lambda w: (_text(w.eid2, 'event_id'), _text(w.eid2, 'bulletin_type'))),
    (('BEAM', 'AZ', 'SLOW'), lambda w: w.bea2 is not None,
     lambda w: (_text(w.bea2, 'beam_id'), _as_written((w.bea2 or {}).get('azimuth')),
                _as_written((w.bea2 or {}).get('slowness')))),
    (('LINES',), lambda w: _kept_lines(w) > 0, lambda w: (str(_kept_lines(w)),)),
)


def _text(values, name):
    value = (values or {}).get(name)
    return value if value else '-'


def _kept_lines(wave):
    return sum(count for kind, count in wave.extras().items()
               if kind not in ('STA2', 'EID2', 'BEA2'))


def cmd_info(args):
    """One row per waveform from the headers (data sections passed over undecoded); with
    --verify the data are decoded and checked too. Faulty rows end with the reason."""
    one_stdin(args.files)
    listed = []
    reasons = {}
    failed = False
    from ..sniff import is_records
    notes = []
    for path in args.files:
        try:
            source = reader_input(path)
            if is_records(source):  # miniSEED: its rows, gaps and overlaps from that package
                from ..mseed.commands import info_rows
                found, lines, damaged = info_rows(source, display(path))
                listed.extend((path, row) for row in found)
                notes.extend(lines)
                failed = failed or damaged
                continue
            waves = read(source, name=display(path), strict=False,
                         headers_only=not args.verify)
        except LibraryNotFoundError:
            raise
        except (WaveformError, EnvironmentError) as e:
            print_error(e)
            failed = True
            continue
        for index, w in enumerate(waves, 1):
            listed.append((path, w))
            if w.error is not None:
                reasons[len(listed)] = _reason(w, path, index)
                failed = True
    optional = [(names, cells) for names, shown, cells in _OPTIONAL
                if any(not isinstance(w, tuple) and shown(w) for _, w in listed)]
    blank = ('-',) * sum(len(names) for names, _ in optional)
    rows = [('FILE', 'STATION', 'NET', 'CHAN', 'START', 'RATE', 'SAMPLES', 'FORMAT', 'LAT',
             'LON') + sum((names for names, _ in optional), ()) + ('STATUS',)]
    for path, w in listed:
        if isinstance(w, tuple):   # a miniSEED file's row, made whole: no optional columns
            rows.append(w[:-1] + blank + w[-1:])
            continue
        h = w.header
        sta2 = w.sta2 or {}
        rows.append((display(path), h.get('station') or '-', sta2.get('network') or '-',
                     h.get('channel') or '-', _iso(w.start),
                     _as_written(h.get('sample_rate')), _count(w),
                     h.get('data_format') or '-', _coordinate(sta2, 'latitude'),
                     _coordinate(sta2, 'longitude')) +
                    sum((cells(w) for _, cells in optional), ()) +
                    (_status(w) if args.verify or w.error else 'unverified',))
    widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]))]
    for k, r in enumerate(rows if len(rows) > 1 else ()):
        line = '  '.join(c.ljust(wd) for c, wd in zip(r, widths)).rstrip()
        print(line + ('  ' + reasons[k] if k in reasons else ''))
    for line in notes:
        print(line)
    return 1 if failed else 0


def _sound(waves, lenient):
    """The waveforms to use: all of them when reading was strict; with --lenient the sound
    ones, each faulty one reported on standard error. (waveforms, True when one was faulty)"""
    if not lenient:
        return waves, False
    faulty = [w for w in waves if w.error is not None]
    for w in faulty:
        print_error(FormatError(w.error))
    return [w for w in waves if w.error is None], bool(faulty)


def cmd_decode(args):
    inputs = [args.file]
    check_output(args.output, inputs)
    waves = _read(args.file, strict=not args.lenient)
    if args.waveform is not None:
        if not 1 <= args.waveform <= len(waves):
            raise UsageError('--waveform %d: %s holds waveforms 1 to %d'
                             % (args.waveform, display(args.file), len(waves)))
        waves = [waves[args.waveform - 1]]
    if len(waves) > 1 and args.output == STDIO:
        raise UsageError('%s holds %d waveforms: choose one with --waveform N to write it to '
                         'standard output' % (display(args.file), len(waves)))
    targets = [args.output] if len(waves) == 1 else \
        [_numbered(args.output, k) for k in range(1, len(waves) + 1)]
    sound, faulty = _sound(waves, args.lenient)
    targets = [t for t, w in zip(targets, waves) if w in sound]
    waves = sound
    # Every output is checked before the first is written.
    for target in targets:
        check_output(target, inputs)
    for target, w in zip(targets, waves):
        with open_output(target, inputs) as f:
            write_samples(f, w.samples, args.format)
        done(target, '%s, %d samples' % (describe(w.header), len(w.samples)))
    return 1 if faulty else 0


def cmd_encode(args):
    year, month, day, hour, minute, second = _start_time(args.start)
    header = dict(station=args.station, channel=args.channel, aux_id=args.aux_id,
                  year=year, month=month, day=day, hour=hour, minute=minute, second=second,
                  sample_rate=args.rate, calibration=args.calib,
                  calibration_period=args.calper, instrument_type=args.instrument,
                  horizontal_angle=args.hang, vertical_angle=args.vang)
    check_output(args.output, [args.samples])
    wave = Waveform(header)
    wave.samples = parse_samples(args.samples, args.input)  # taken as it is, not copied
    from .writer import to_chunks
    with open_output(args.output, [args.samples]) as f:
        for chunk in to_chunks([wave], data_format=args.format, clamp=args.clamp,
                               name=args.output):
            f.write(chunk)
    # As written: seconds that print as 60.000 have carried into the minute.
    done(args.output, '%s, %d samples, %s' % (describe(complete(header)), len(wave.samples),
                                                args.format))
    return 0


def cmd_plot(args):
    from . import plot
    check_output(args.output, [args.file])
    waves, faulty = _sound(_read(args.file, strict=not args.lenient), args.lenient)
    if not waves:
        return 1
    title = args.title if args.title is not None else os.path.basename(display(args.file))
    write_bytes(args.output, plot.render(waves, title).encode('utf-8'), [args.file])
    done(args.output, '%d waveform(s) drawn' % len(waves))
    return 1 if faulty else 0


def register(sub):
    """Adds info, decode, encode and plot to the subparsers `sub`."""
    s = sub.add_parser('info', help='one row per waveform from the headers: station, '
                       'network, channel, start, rate, samples, sub-format, coordinates, '
                       'event, beam and kept lines when a waveform has them, status')
    s.add_argument('files', nargs='+', metavar='FILE', help="GSE2 files ('-': standard input)")
    s.add_argument('--verify', action='store_true',
                   help='also decode the data and check the checksums')
    s.set_defaults(run=cmd_info)

    s = sub.add_parser('decode', help='samples as text (one per line) or raw little-endian '
                       'int32; several waveforms go to OUT-1.ext, OUT-2.ext, ...')
    s.add_argument('file', metavar='FILE', help="the GSE2 file ('-': standard input)")
    s.add_argument('-o', '--output', required=True, metavar='OUT',
                   help="the samples' file ('-': standard output); several waveforms go to "
                   "numbered files OUT-1.ext, OUT-2.ext, ...")
    s.add_argument('--format', choices=('text', 'int32'), default='text',
                   help='text, one sample per line (default), or raw little-endian int32')
    s.add_argument('--waveform', type=int, metavar='N', help='only waveform N (from 1)')
    s.add_argument('--lenient', action='store_true', help=LENIENT_HELP)
    s.set_defaults(run=cmd_decode)

    s = sub.add_parser('encode', help='write one waveform from a file of integer samples')
    s.add_argument('samples', metavar='SAMPLES',
                   help='integers separated by white space (or raw int32 with --input int32)')
    s.add_argument('-o', '--output', required=True, metavar='FILE.gse',
                   help="the GSE2 file ('-': standard output)")
    s.add_argument('--station', required=True, help='station code (up to 5 characters)')
    s.add_argument('--channel', required=True, help='channel code (up to 3 characters)')
    s.add_argument('--start', required=True, help='YYYY-MM-DDTHH:MM:SS.fff')
    s.add_argument('--rate', required=True, type=float, help='samples per second')
    s.add_argument('--aux-id', default='',
                   help='auxiliary identification code (up to 4 characters; default none)')
    s.add_argument('--calib', type=float, default=1.0, help='calibration (default 1.0)')
    s.add_argument('--calper', type=float, default=1.0,
                   help='calibration period in s (default 1.0)')
    s.add_argument('--instrument', default='', help='instrument type')
    s.add_argument('--hang', type=float, default=-1.0,
                   help='horizontal angle (default -1.0: unknown)')
    s.add_argument('--vang', type=float, default=-1.0,
                   help='vertical angle (default -1.0: unknown)')
    s.add_argument('--format', type=str.upper, choices=('CM6', 'INT'), default='CM6',
                   help='data format: CM6, the six-bit code of second differences (default), '
                   'or INT, the integers as text')
    s.add_argument('--input', choices=('text', 'int32'), default='text',
                   help='SAMPLES holds text (default) or raw little-endian int32')
    s.add_argument('--clamp', action='store_true',
                   help='clamp second differences beyond the CM6 range instead of failing')
    s.set_defaults(run=cmd_encode)

    s = sub.add_parser('plot', help='an SVG picture of each waveform of a file')
    s.add_argument('file', metavar='FILE', help="the GSE2 file ('-': standard input)")
    s.add_argument('-o', '--output', required=True, metavar='OUT.svg',
                   help="the SVG file ('-': standard output)")
    s.add_argument('--title', help="the picture's title (default: the file's name)")
    s.add_argument('--lenient', action='store_true', help=LENIENT_HELP)
    s.set_defaults(run=cmd_plot)
