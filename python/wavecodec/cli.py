"""The wavecodec command: info, verify, decode, encode, ibm2ieee and plot.

User errors (bad files, bad options, a missing library) give one line on standard error and a
non-zero exit: 1 for bad input, 2 for bad usage, 130 after Ctrl-C. '-' is standard input as an
input and standard output as an output. Outputs go through safeio: complete or not at all, never
one of the command's inputs.
"""
from __future__ import print_function

import argparse
import errno
import os
import re
import signal
import sys

from . import svgplot
from .archive import commands as archive_commands
from .compat import array_from_bytes, array_to_bytes, native_str
from .errors import FormatError, LibraryNotFoundError, WaveformError
from .header import complete, describe
from .ibm import ibm_to_float32
from .inputs import STDIO, display, read_bytes, read_quietly
from .safeio import check_output, write_bytes
from .segy import commands as segy_commands
from .waveform import Waveform
from .writer import write

PROG = 'wavecodec'


class UsageError(Exception):
    pass


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UsageError(message)


def _start_time(text):
    """(year, month, day, hour, minute, second) from 'YYYY-MM-DDTHH:MM:SS.fff' or
    'YYYY/MM/DD HH:MM:SS.fff' (time optional)."""
    m = re.match(r'^\s*(\d{4})[-/](\d{1,2})[-/](\d{1,2})(?:[T ](\d{1,2}):(\d{1,2})'
                 r'(?::(\d{1,2}(?:\.\d*)?))?)?\s*$', text)
    if not m:
        raise UsageError('bad --start %r: expected YYYY-MM-DDTHH:MM:SS.fff' % text)
    y, mo, d, h, mi, s = m.groups()
    return (int(y), int(mo), int(d), int(h or 0), int(mi or 0), float(s or 0.0))


def _note(line):
    """A line on standard error: what the decoder printed, with the file it was reading."""
    sys.stdout.flush()
    print('%s: %s' % (PROG, line), file=sys.stderr)


def _read(path, **options):
    return read_quietly(path, report=_note, **options)


def _done(target, text):
    """The closing line of a command: none when the output itself is standard output."""
    if target != STDIO:
        print('%s: %s' % (target, text))


def _one_stdin(paths):
    if sum(1 for p in paths if p == STDIO) > 1:
        raise UsageError("'-' (standard input) can be given only once")


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


def cmd_info(args):
    """One row per waveform from the headers (data sections passed over undecoded); with
    --verify the data are decoded and checked too. Faulty rows end with the reason."""
    _one_stdin(args.files)
    rows = [('FILE', 'STATION', 'NET', 'CHAN', 'START', 'RATE', 'SAMPLES', 'FORMAT', 'LAT',
             'LON', 'STATUS')]
    reasons = {}
    failed = False
    for path in args.files:
        try:
            waves = _read(path, strict=False, headers_only=not args.verify)
        except LibraryNotFoundError:
            raise
        except (WaveformError, EnvironmentError) as e:
            _error(e)
            failed = True
            continue
        for index, w in enumerate(waves, 1):
            h = w.header
            sta2 = w.sta2 or {}
            rows.append((display(path), h.get('station') or '-', sta2.get('network') or '-',
                         h.get('channel') or '-', _iso(w.start),
                         '%g' % h['sample_rate'] if h.get('sample_rate') is not None else '-',
                         str(w.npts if h.get('sample_count') is not None else '-'),
                         h.get('data_format') or '-', _coordinate(sta2, 'latitude'),
                         _coordinate(sta2, 'longitude'),
                         _status(w) if args.verify or w.error else 'unverified'))
            if w.error is not None:
                reasons[len(rows) - 1] = _reason(w, path, index)
                failed = True
    widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]))]
    for k, r in enumerate(rows if len(rows) > 1 else ()):
        line = '  '.join(c.ljust(wd) for c, wd in zip(r, widths)).rstrip()
        print(line + ('  ' + reasons[k] if k in reasons else ''))
    return 1 if failed else 0


def cmd_verify(args):
    _one_stdin(args.files)
    if args.jobs < 0:
        raise UsageError('--jobs %d: give 1 or more (0: one per processor)' % args.jobs)
    jobs = args.jobs or _processors()
    sys.stdout.flush()
    return archive_commands.run_verify(args.files, jobs, args.glob, args.scheduler, prog=PROG)


def _processors():
    try:
        import multiprocessing
        return multiprocessing.cpu_count()
    except (ImportError, NotImplementedError):
        return 1


def _sample_bytes(samples, fmt):
    if fmt == 'text':
        return ('\n'.join(map(str, samples)) + ('\n' if len(samples) else '')).encode('ascii')
    out = array_from_bytes('i', array_to_bytes(samples))
    if sys.byteorder == 'big':
        out.byteswap()
    return array_to_bytes(out)


def cmd_decode(args):
    inputs = [args.file]
    check_output(args.output, inputs)
    waves = _read(args.file)
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
    # Every output is checked before the first is written.
    for target in targets:
        check_output(target, inputs)
    for target, w in zip(targets, waves):
        write_bytes(target, _sample_bytes(w.samples, args.format), inputs)
        _done(target, '%s, %d samples' % (describe(w.header), len(w.samples)))
    return 0


def _parse_samples(path, fmt):
    data = read_bytes(path)
    path = display(path)
    if fmt == 'int32':
        if len(data) % 4:
            raise FormatError('%s: %d bytes is not a whole number of int32 samples'
                              % (path, len(data)))
        samples = array_from_bytes('i', data)
        if sys.byteorder == 'big':
            samples.byteswap()
        return samples
    fields = data.split()
    try:
        return [int(f) for f in fields]
    except ValueError:
        bad = next(f for f in fields if not re.match(br'^[-+]?\d+$', f))
        raise FormatError('%s: %r is not an integer sample' % (path, native_str(bad)))


def cmd_encode(args):
    year, month, day, hour, minute, second = _start_time(args.start)
    header = dict(station=args.station, channel=args.channel, aux_id=args.aux_id,
                  year=year, month=month, day=day, hour=hour, minute=minute, second=second,
                  sample_rate=args.rate, calibration=args.calib,
                  calibration_period=args.calper, instrument_type=args.instrument,
                  horizontal_angle=args.hang, vertical_angle=args.vang)
    check_output(args.output, [args.samples])
    wave = Waveform(header, _parse_samples(args.samples, args.input))
    write(args.output, [wave], data_format=args.format, clamp=args.clamp)
    # As written: seconds that print as 60.000 have carried into the minute.
    _done(args.output, '%s, %d samples, %s' % (describe(complete(header)), len(wave.samples),
                                                args.format))
    return 0


def cmd_ibm2ieee(args):
    check_output(args.output, [args.input])
    values = ibm_to_float32(read_bytes(args.input))
    if sys.byteorder == 'big':
        values.byteswap()
    write_bytes(args.output, array_to_bytes(values), [args.input])
    _done(args.output, '%d float32 values' % len(values))
    return 0


def cmd_plot(args):
    check_output(args.output, [args.file])
    waves = _read(args.file)
    title = args.title if args.title is not None else os.path.basename(display(args.file))
    write_bytes(args.output, svgplot.render(waves, title).encode('utf-8'), [args.file])
    _done(args.output, '%d waveform(s) drawn' % len(waves))
    return 0


def build_parser():
    p = _Parser(prog=PROG, description='GSE2.0 waveform files (CM6 and INT) and IBM floats.')
    sub = p.add_subparsers(dest='command', metavar='COMMAND')

    s = sub.add_parser('info', help='one row per waveform from the headers: station, '
                       'network, channel, start, rate, samples, sub-format, coordinates, '
                       'status')
    s.add_argument('files', nargs='+', metavar='FILE')
    s.add_argument('--verify', action='store_true',
                   help='also decode the data and check the checksums')
    s.set_defaults(run=cmd_info)

    s = sub.add_parser('verify', help='check every waveform of the files and folders given '
                       '(folders recursively); exit 0 only when all are sound')
    s.add_argument('files', nargs='+', metavar='PATH')
    s.add_argument('-j', '--jobs', type=int, default=1, metavar='N',
                   help='check files in N processes (0: one per processor; default 1)')
    s.add_argument('--glob', metavar='PATTERN',
                   help="in folders, only files whose name matches PATTERN (e.g. '*.gse')")
    s.add_argument('--scheduler', metavar='ADDRESS',
                   help='check the files on the Dask cluster of this scheduler '
                   '(tcp://host:8786); its workers must see the same paths')
    s.set_defaults(run=cmd_verify)

    s = sub.add_parser('decode', help='samples as text (one per line) or raw little-endian '
                       'int32; several waveforms go to OUT-1.ext, OUT-2.ext, ...')
    s.add_argument('file', metavar='FILE')
    s.add_argument('-o', '--output', required=True, metavar='OUT')
    s.add_argument('--format', choices=('text', 'int32'), default='text')
    s.add_argument('--waveform', type=int, metavar='N', help='only waveform N (from 1)')
    s.set_defaults(run=cmd_decode)

    s = sub.add_parser('encode', help='write one waveform from a file of integer samples')
    s.add_argument('samples', metavar='SAMPLES',
                   help='integers separated by white space (or raw int32 with --input int32)')
    s.add_argument('-o', '--output', required=True, metavar='FILE.gse')
    s.add_argument('--station', required=True)
    s.add_argument('--channel', required=True)
    s.add_argument('--start', required=True, help='YYYY-MM-DDTHH:MM:SS.fff')
    s.add_argument('--rate', required=True, type=float, help='samples per second')
    s.add_argument('--aux-id', default='')
    s.add_argument('--calib', type=float, default=1.0, help='calibration (default 1.0)')
    s.add_argument('--calper', type=float, default=1.0,
                   help='calibration period in s (default 1.0)')
    s.add_argument('--instrument', default='', help='instrument type')
    s.add_argument('--hang', type=float, default=-1.0,
                   help='horizontal angle (default -1.0: unknown)')
    s.add_argument('--vang', type=float, default=-1.0,
                   help='vertical angle (default -1.0: unknown)')
    s.add_argument('--format', type=str.upper, choices=('CM6', 'INT'), default='CM6')
    s.add_argument('--input', choices=('text', 'int32'), default='text')
    s.add_argument('--clamp', action='store_true',
                   help='clamp second differences beyond the CM6 range instead of failing')
    s.set_defaults(run=cmd_encode)

    s = sub.add_parser('ibm2ieee', help='raw big-endian IBM words to little-endian float32')
    s.add_argument('input', metavar='IN')
    s.add_argument('output', metavar='OUT')
    s.set_defaults(run=cmd_ibm2ieee)

    s = sub.add_parser('plot', help='an SVG picture of each waveform of a file')
    s.add_argument('file', metavar='FILE')
    s.add_argument('-o', '--output', required=True, metavar='OUT.svg')
    s.add_argument('--title')
    s.set_defaults(run=cmd_plot)

    segy_commands.register(sub)
    archive_commands.register(sub)
    return p


def _error(e):
    if isinstance(e, EnvironmentError) and getattr(e, 'strerror', None):
        where = getattr(e, 'filename', None)
        text = '%s: %s' % (where, e.strerror) if where else e.strerror
    else:
        text = str(e)
    # One line whatever the message holds.
    text = ' '.join(text.split()) or type(e).__name__
    try:
        sys.stdout.flush()
    except (IOError, OSError):
        pass
    print('%s: error: %s' % (PROG, text), file=sys.stderr)


def _quiet_broken_pipe():
    """After the reader of standard output has gone: nothing more is written there, not even by
    the interpreter's final flush."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        os.close(devnull)
    except OSError:
        pass


def _terminated(signum, frame):
    # Unwinds like Ctrl-C, so that every output staged so far is removed.
    raise SystemExit(128 + signum)


def main(argv=None):
    try:
        if signal.getsignal(signal.SIGTERM) == signal.SIG_DFL:
            signal.signal(signal.SIGTERM, _terminated)
    except ValueError:  # not the main thread: signals stay as they are
        pass
    parser = build_parser()
    argv = sys.argv[1:] if argv is None else list(argv)
    try:
        args = parser.parse_args(argv) if argv else None
        if getattr(args, 'run', None) is None:
            raise UsageError('no command given (commands: info, verify, index, convert, '
                             'decode, encode, ibm2ieee, plot)')
        return args.run(args)
    except (UsageError, archive_commands.UsageError) as e:
        print('%s: usage error: %s (see %s --help)' % (PROG, e, PROG), file=sys.stderr)
        return 2
    except (WaveformError, LibraryNotFoundError, EnvironmentError) as e:
        if isinstance(e, EnvironmentError) and e.errno == errno.EPIPE:
            _quiet_broken_pipe()
            return 1
        _error(e)
        return 1
    except KeyboardInterrupt:
        return 130
    except Exception as e:  # noqa: B902 - the command line never ends in a traceback
        _error(Exception('unexpected %s: %s' % (type(e).__name__, e)))
        return 1


if __name__ == '__main__':
    sys.exit(main())
