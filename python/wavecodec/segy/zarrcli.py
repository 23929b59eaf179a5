"""The Zarr subcommands of the wavecodec command: segy-to-zarr and zarr-to-segy (the work is
segy.to_zarr and segy.from_zarr; Python 3 with Debian's zarr, numcodecs, dask, distributed).

Each shows progress on a terminal, then one line saying what it wrote, and every note of the
source or change of the output on standard error."""
from __future__ import print_function

import os
import stat
import sys

from ..commandline import PROG, STDIO, UsageError, add_output, check_input, done
from .samples import FORMATS
from ..errors import WaveformError
from .zarrneeds import load as _load


def load(name):
    try:
        return _load(name)
    except ImportError as e:   # this Python lacks them: one line, as for any other fault
        raise WaveformError(str(e))


class Progress(object):
    """'VERB done/total UNIT' rewritten in place on standard error when it is a terminal."""

    def __init__(self, verb, unit):
        self.verb, self.unit = verb, unit
        self.shown = False

    def __call__(self, done, total):
        if sys.stderr.isatty():
            self.shown = True
            sys.stderr.write('\r%s %d/%d %s' % (self.verb, done, total, self.unit))
            sys.stderr.flush()

    def clear(self):
        if self.shown:
            self.shown = False
            sys.stderr.write('\r\033[K')
            sys.stderr.flush()


def _chunks(text):
    if text is None:
        return None
    try:
        chunks = tuple(int(v) for v in text.split(','))
    except ValueError:
        chunks = ()
    if len(chunks) not in (2, 3, 4) or min(chunks) < 1:
        raise UsageError('--chunks %s: positive numbers I,X,S (I,X,O,S pre-stack; X,S for a 2-D '
                         'line)' % text)
    return chunks


def _fields(args):
    from .surveycli import field_options
    try:
        fields = field_options(args)
    except ValueError as e:
        raise UsageError(str(e))
    return fields


def cmd_to_zarr(args):
    if args.input == STDIO:
        raise UsageError('segy-to-zarr reads a file by its path (workers open it): not '
                         'standard input')
    check_input(args.input)
    if not stat.S_ISREG(os.stat(args.input).st_mode):
        raise UsageError('%s: not a regular file; the ingest maps the file and its workers '
                         'open it by path' % args.input)
    if args.jobs < 0:
        raise UsageError('--jobs %d: give 1 or more (0: one per processor)' % args.jobs)
    if args.scheduler and args.jobs != 1:
        raise UsageError('--scheduler and --jobs: the cluster decides how many workers run')
    ingest = load('zarringest')
    progress = Progress('segy-to-zarr', 'blocks')
    try:
        report = ingest.to_zarr(
            args.input, args.output, chunks=_chunks(args.chunks), client=args.scheduler,
            jobs=args.jobs, compressor=None if args.raw else 'default', endian=args.endian,
            format=args.source_format, strict=not args.lenient, overwrite=args.overwrite,
            vertical='depth' if args.depth else 'time', progress=progress, **_fields(args))
    except ValueError as e:
        if type(e) is ValueError:   # a bad --chunks for this survey
            raise UsageError(str(e))
        raise
    finally:
        progress.clear()
    for note in report['notes']:
        print('%s: note: %s' % (PROG, note), file=sys.stderr)
    if report['ibm_words_kept']:
        print('%s: note: %d IBM words have no exact float32 (beyond its range, unnormalized or '
              'zeros with an exponent): seismic holds their float32 values, ibm_words the '
              'words, which zarr-to-segy writes back' % (PROG, report['ibm_words_kept']),
              file=sys.stderr)
    done(args.output, '%d traces in %s cells (%d missing), chunks %s, %d blocks; %d bytes from '
         '%d (%.0f%%)' % (report['traces'], ' x '.join(str(n) for n in report['shape'][:-1]),
                          report['missing'], 'x'.join(str(c) for c in report['chunks']),
                          report['blocks'], report['store_bytes'], report['source_bytes'],
                          100.0 * report['store_bytes'] / max(1, report['source_bytes'])))
    return 0


def cmd_to_segy(args):
    back = load('zarrread')
    progress = Progress('zarr-to-segy', 'traces')
    try:
        report = back.from_zarr(args.input, args.output, format=args.format,
                                endian=args.endian, progress=progress)
    finally:
        progress.clear()
    for change in report['changed']:
        print('%s: %s: changed: %s' % (PROG, args.output, change), file=sys.stderr)
    restored = report['ibm_words_restored']
    done(args.output, '%d traces, format %d, %s-endian%s' % (
        report['traces'], report['format'], report['endian'],
        ', %d IBM words written back as they were' % restored if restored else ''))
    return 0


def register(sub):
    """Adds segy-to-zarr and zarr-to-segy to the subparsers `sub`."""
    from .commands import _overrides, _survey_fields
    s = sub.add_parser('segy-to-zarr', help='a SEG-Y survey into a chunked, compressed Zarr '
                       'store (folder), serially, in local processes or on a Dask cluster')
    s.add_argument('input', metavar='IN', help='a SEG-Y file (a path the workers reach)')
    add_output(s, 'OUT', 'the store: a folder made when complete', after_inputs=True)
    s.add_argument('--chunks', metavar='I,X,S', help='chunk lengths: inlines, crosslines, '
                   'samples (I,X,O,S pre-stack; default 64,64,64, pre-stack 16,16,16,64)')
    s.add_argument('--scheduler', metavar='ADDRESS', help='a Dask scheduler (tcp://HOST:8786) '
                   'whose workers reach IN and OUT by the same paths')
    s.add_argument('--jobs', type=int, default=1, metavar='N',
                   help='local worker processes (default 1: this process; 0: one per '
                   'processor)')
    s.add_argument('--raw', action='store_true', help='chunks uncompressed (default: Blosc)')
    s.add_argument('--depth', action='store_true', help='name the sample axis depth, not time')
    s.add_argument('--overwrite', action='store_true', help='replace an existing store')
    _overrides(s)
    _survey_fields(s)
    s.set_defaults(run=cmd_to_zarr)

    s = sub.add_parser('zarr-to-segy', help='a store of segy-to-zarr written back as SEG-Y '
                       '(byte for byte the source unless --format or --endian change it)')
    s.add_argument('input', metavar='IN', help='a store written by segy-to-zarr')
    add_output(s, 'OUT', "the SEG-Y file ('-': standard output)", after_inputs=True)
    s.add_argument('--format', type=int, metavar='CODE', choices=sorted(FORMATS),
                   help="sample format code (default: the source's)")
    s.add_argument('--endian', choices=('big', 'little'),
                   help="byte order (default: the source's)")
    s.set_defaults(run=cmd_to_segy)
