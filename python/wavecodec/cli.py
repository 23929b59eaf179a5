"""The wavecodec command: info, verify, decode, encode, ibm2ieee and plot.

User errors (bad files, bad options) give one line on standard error and a non-zero exit:
1 for bad input, 2 for bad usage. Output files are written under a temporary name and renamed
when complete, so a failed command leaves none behind.
"""
from __future__ import print_function

import argparse
import os
import re
import sys

from . import svgplot
from .atomic import write_bytes
from .compat import array_from_bytes, array_to_bytes, native_str
from .errors import FormatError, LibraryNotFoundError, WaveformError
from .header import describe
from .ibm import ibm_to_float32
from .reader import read
from .segy import commands as segy_commands
from .waveform import Waveform
from .writer import write

PROG = 'wavecodec'
# Files from which verify shows progress on a terminal.
PROGRESS_FROM = 5


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


def _read_file(path):
    with open(path, 'rb') as f:
        return f.read()


def _numbered(path, index):
    stem, ext = os.path.splitext(path)
    return '%s-%d%s' % (stem, index, ext)


def _status(wave):
    if wave.error is None:
        return 'ok'
    return 'MISMATCH' if 'checksum mismatch' in wave.error else 'BAD'


def cmd_info(args):
    rows = [('FILE', 'STATION', 'CHAN', 'START', 'RATE', 'SAMPLES', 'FORMAT', 'CHECKSUM')]
    failed = False
    for path in args.files:
        try:
            waves = read(path, strict=False)
        except (WaveformError, IOError, OSError) as e:
            _error(e)
            failed = True
            continue
        for w in waves:
            h = w.header
            start = '%04d-%02d-%02dT%02d:%02d:%06.3f' % (h['year'], h['month'], h['day'],
                                                         h['hour'], h['minute'], h['second'])
            rows.append((path, h['station'], h['channel'], start, '%g' % h['sample_rate'],
                         str(h['sample_count']), h['data_format'], _status(w)))
            failed = failed or w.error is not None
    widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]))]
    for r in rows:
        print('  '.join(c.ljust(wd) for c, wd in zip(r, widths)).rstrip())
    return 1 if failed else 0


def cmd_verify(args):
    bad = 0
    total = 0
    progress = len(args.files) >= PROGRESS_FROM and sys.stderr.isatty()
    for k, path in enumerate(args.files, 1):
        if progress:
            sys.stderr.write('\rverifying %d/%d files' % (k, len(args.files)))
            sys.stderr.flush()
        try:
            waves = read(path, strict=False)
        except (WaveformError, IOError, OSError) as e:
            if progress:
                sys.stderr.write('\r\033[K')
            _error(e)
            bad += 1
            continue
        for w in waves:
            total += 1
            if w.error is not None:
                bad += 1
                if progress:
                    sys.stderr.write('\r\033[K')
                print('BAD %s' % w.error)
    if progress:
        sys.stderr.write('\r\033[K')
    print('%d waveform(s) in %d file(s): %s' % (total, len(args.files),
                                                 'all sound' if bad == 0 else '%d bad' % bad))
    return 1 if bad else 0


def _sample_bytes(samples, fmt):
    if fmt == 'text':
        return ('\n'.join(map(str, samples)) + ('\n' if len(samples) else '')).encode('ascii')
    out = array_from_bytes('i', array_to_bytes(samples))
    if sys.byteorder == 'big':
        out.byteswap()
    return array_to_bytes(out)


def cmd_decode(args):
    waves = read(args.file)
    if args.waveform is not None:
        if not 1 <= args.waveform <= len(waves):
            raise UsageError('--waveform %d: %s holds waveforms 1 to %d'
                             % (args.waveform, args.file, len(waves)))
        waves = [waves[args.waveform - 1]]
    for k, w in enumerate(waves, 1):
        target = args.output if len(waves) == 1 else _numbered(args.output, k)
        write_bytes(target, _sample_bytes(w.samples, args.format))
        print('%s: %s, %d samples' % (target, describe(w.header), len(w.samples)))
    return 0


def _parse_samples(path, fmt):
    data = _read_file(path)
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
    wave = Waveform(header, _parse_samples(args.samples, args.input))
    write(args.output, [wave], data_format=args.format, clamp=args.clamp)
    print('%s: %s, %d samples, %s' % (args.output, describe(header), len(wave.samples),
                                      args.format))
    return 0


def cmd_ibm2ieee(args):
    values = ibm_to_float32(_read_file(args.input))
    if sys.byteorder == 'big':
        values.byteswap()
    write_bytes(args.output, array_to_bytes(values))
    print('%s: %d float32 values' % (args.output, len(values)))
    return 0


def cmd_plot(args):
    waves = read(args.file)
    title = args.title if args.title is not None else os.path.basename(args.file)
    write_bytes(args.output, svgplot.render(waves, title).encode('utf-8'))
    print('%s: %d waveform(s) drawn' % (args.output, len(waves)))
    return 0


def build_parser():
    p = _Parser(prog=PROG, description='GSE2.0 waveform files (CM6 and INT) and IBM floats.')
    sub = p.add_subparsers(dest='command', metavar='COMMAND')

    s = sub.add_parser('info', help='one row per waveform: station, channel, start, rate, '
                       'samples, sub-format, checksum status')
    s.add_argument('files', nargs='+', metavar='FILE')
    s.set_defaults(run=cmd_info)

    s = sub.add_parser('verify', help='check every waveform; exit 0 only when all are sound')
    s.add_argument('files', nargs='+', metavar='FILE')
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
    return p


def _error(e):
    if isinstance(e, EnvironmentError) and getattr(e, 'strerror', None):
        where = getattr(e, 'filename', None)
        text = '%s: %s' % (where, e.strerror) if where else e.strerror
    else:
        text = str(e)
    print('%s: error: %s' % (PROG, text), file=sys.stderr)


def main(argv=None):
    parser = build_parser()
    argv = sys.argv[1:] if argv is None else list(argv)
    try:
        args = parser.parse_args(argv) if argv else None
        if getattr(args, 'run', None) is None:
            raise UsageError('no command given (commands: info, verify, decode, encode, '
                             'ibm2ieee, plot)')
        return args.run(args)
    except UsageError as e:
        print('%s: usage error: %s (see %s --help)' % (PROG, e, PROG), file=sys.stderr)
        return 2
    except (WaveformError, LibraryNotFoundError, EnvironmentError) as e:
        _error(e)
        return 1
    except KeyboardInterrupt:
        return 130


if __name__ == '__main__':
    sys.exit(main())
