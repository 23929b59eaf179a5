"""The archive subcommands of the wavecodec command: index, verify and convert, over folders
and many files, in local processes (--jobs) or on a Dask cluster (--scheduler).

Each prints faults as it goes, progress on a terminal, then a one-line summary; the exit
status is 1 when any file or waveform is faulty."""
from __future__ import print_function

import csv
import io
import os
import sys

from ..commandline import PROG, STDIO, UsageError, one_stdin
from ..compat import PY2
from ..gse2.waveform import extras_text
from ..safeio import check_output, write_bytes
from . import IndexRow, collect, iter_verify, targets

# Files from which progress is shown on a terminal.
PROGRESS_FROM = 5


class Progress(object):
    """'VERB done/total files' rewritten in place on `err` when it is a terminal."""

    def __init__(self, verb, err):
        self.verb = verb
        self.err = err
        self.shown = False

    def __call__(self, done, total):
        if total >= PROGRESS_FROM and self.err.isatty():
            self.shown = True
            self.err.write('\r%s %d/%d files' % (self.verb, done, total))
            self.err.flush()

    def clear(self):
        if self.shown:
            self.shown = False
            self.err.write('\r\033[K')
            self.err.flush()


def _jobs(args):
    if args.jobs < 0:
        raise UsageError('--jobs %d: give 1 or more (0: one per processor)' % args.jobs)
    return args.jobs or None


def _where(args):
    """(client, jobs): the scheduler address when given, else local processes."""
    if args.scheduler:
        try:
            import distributed  # noqa: F401 - only whether it imports
        except ImportError as e:
            raise UsageError('--scheduler needs Dask (dask.distributed) in this Python: %s' % e)
    return (args.scheduler or None), _jobs(args)


# --- verify -------------------------------------------------------------------------------

def run_verify(paths, jobs=1, pattern=None, out=None, err=None, prog=PROG, client=None):
    """Verifies `paths`; prints faults and the summary on `out`, file errors and progress on
    `err`. Returns the exit status: 0 when every waveform is sound, else 1."""
    out = out or sys.stdout
    err = err or sys.stderr
    listing = collect(paths, pattern)
    progress = Progress('verifying', err)
    bad = total = 0
    used = {}
    checks = iter_verify(listing, client, jobs, progress, verb='verify%s' % (
        ' matching %s' % pattern if pattern else ''), used=used)
    try:
        for path, count, faults, error, notes in checks:
            total += count
            if error or faults:
                progress.clear()
            if error is not None:
                err.flush()
                print('%s: error: %s' % (prog, error), file=err)
                bad += 1
            for fault in faults:
                print('BAD %s' % fault, file=out)
                bad += 1
            for note in notes:
                print('NOTE %s' % note, file=out)
            out.flush()
    finally:
        # Ends the worker processes now, not when the generator is collected (which may be at
        # interpreter shutdown, where stopping processes can hang).
        checks.close()
        progress.clear()
    # With --jobs or --scheduler, who did the work (one process when too little to share).
    if client is not None:
        where = ' (Dask cluster)'
    elif jobs == 1:
        where = ''
    else:
        processes = used.get('processes', 1)
        where = ' (%d process%s)' % (processes, '' if processes == 1 else 'es')
    print('%d waveform(s) in %d file(s): %s%s'
          % (total, len(listing.files), 'all sound' if bad == 0 else '%d bad' % bad, where),
          file=out)
    return 1 if bad else 0


def cmd_verify(args):
    one_stdin(args.paths)
    client, jobs = _where(args)
    sys.stdout.flush()
    return run_verify(args.paths, jobs, args.glob, client=client)


# --- index --------------------------------------------------------------------------------

def _cell(value):
    if value is None:
        return ''
    if isinstance(value, float):
        return repr(value)
    return value if isinstance(value, str) else str(value)


def index_csv(rows):
    """The rows as CSV bytes (UTF-8; names that are not UTF-8 kept byte for byte), a header
    line first."""
    buf = io.BytesIO() if PY2 else io.StringIO(newline='')
    writer = csv.writer(buf, lineterminator='\n')
    writer.writerow(IndexRow._fields)
    for row in rows:
        writer.writerow([_cell(v) for v in row])
    text = buf.getvalue()
    return text if PY2 else text.encode('utf-8', 'surrogateescape')


def cmd_index(args):
    from . import index
    one_stdin(args.paths)
    client, jobs = _where(args)
    check_output(args.output, [p for p in args.paths if p != STDIO])
    err = sys.stderr
    progress = Progress('indexing', err)
    try:
        rows = index(args.paths, client, jobs, args.glob, progress)
    finally:
        progress.clear()
    write_bytes(args.output, index_csv(rows), [p for p in args.paths if p != STDIO])
    faults = [r for r in rows if r.fault]
    for r in faults:
        print('%s: error: %s' % (PROG, r.fault), file=err)
    waves = sum(1 for r in rows if r.kind == 'gse2' and r.offset is not None)
    files = len(set(r.path for r in rows if r.kind != 'folder'))
    seismic = sum(1 for r in rows if r.kind in ('segy', 'su') and r.offset is not None)
    summary = '%d waveform(s) and %d SEG-Y/SU file(s) indexed from %d file(s): %s' % (
        waves, seismic, files, 'all sound' if not faults else '%d fault(s)' % len(faults))
    print(summary, file=err if args.output == STDIO else sys.stdout)
    return 1 if faults else 0


# --- convert ------------------------------------------------------------------------------

def cmd_convert(args):
    from . import convert
    client, jobs = _where(args)
    if os.path.exists(args.output) and not os.path.isdir(args.output):
        raise UsageError('-o %s: not a folder' % args.output)
    listing = collect(args.paths, args.glob)
    try:
        targets(listing, args.output, args.to)
    except ValueError as e:
        raise UsageError(str(e))
    options = dict(record_length=args.record_length, encoding=args.encoding,
                   network=args.network, location=args.location, quality=args.quality)
    progress = Progress('converting', sys.stderr)
    try:
        rows = convert(args.paths, args.output, args.to, client, jobs, args.glob, progress,
                       **options)
    finally:
        progress.clear()
    written = skipped = failed = waves = 0
    extras = {}
    for row in rows:
        if row.fault is None:
            written += 1
            waves += row.waveforms
            for kind, count in (row.extras or {}).items():
                extras[kind] = extras.get(kind, 0) + count
        elif row.fault.startswith('skipped'):
            skipped += 1
        else:
            failed += 1
            print('%s: error: %s' % (PROG, row.fault), file=sys.stderr)
    print('%d file(s) converted (%d waveform(s)) into %s; %d skipped (not GSE2), %d failed%s'
          % (written, waves, args.output, skipped, failed,
             '; not carried (no place in miniSEED): %s' % extras_text(extras) if extras else ''))
    return 1 if failed else 0


# --- the parsers ----------------------------------------------------------------------------

def add_engine_options(s):
    s.add_argument('-j', '--jobs', type=int, default=1, metavar='N',
                   help='work in N local processes (0: one per processor; default 1)')
    s.add_argument('--scheduler', metavar='ADDRESS',
                   help='work on the Dask cluster of this scheduler (tcp://host:8786); its '
                   'workers must see the same paths')
    s.add_argument('--glob', metavar='PATTERN',
                   help="in folders, only files whose name matches PATTERN (e.g. '*.gse')")


def register(sub):
    """Adds verify, index and convert to the subparsers `sub`."""
    s = sub.add_parser('verify', help='check every waveform of the files and folders given '
                       '(folders recursively); exit 0 only when all are sound')
    s.add_argument('paths', nargs='+', metavar='PATH',
                   help="files and folders to check ('-': standard input)")
    add_engine_options(s)
    s.set_defaults(run=cmd_verify)

    s = sub.add_parser('index', help='one CSV row per GSE2 waveform (headers only) and per '
                       'SEG-Y file of the files and folders given; exit 0 only when all are '
                       'sound')
    s.add_argument('paths', nargs='+', metavar='PATH',
                   help="files and folders to index ('-': standard input)")
    s.add_argument('-o', '--output', required=True, metavar='INDEX.csv',
                   help="the CSV file, or '-' for standard output")
    add_engine_options(s)
    s.set_defaults(run=cmd_index)

    s = sub.add_parser('convert', help='every GSE2 file of the files and folders given into '
                       'one miniSEED file under OUT_DIR, mirroring the input tree')
    s.add_argument('paths', nargs='+', metavar='PATH',
                   help='GSE2 files and folders to convert (not standard input: each output '
                   "is named after its input)")
    s.add_argument('-o', '--output', required=True, metavar='OUT_DIR',
                   help='the folder the converted files go to (made when missing)')
    s.add_argument('--to', choices=('mseed',), default='mseed',
                   help='the output format (mseed, the default and only one)')
    s.add_argument('--record-length', type=int, default=4096, metavar='BYTES',
                   help='bytes per miniSEED record, a power of two from 256 to 65536 '
                   '(default 4096)')
    s.add_argument('--encoding', choices=('steim1', 'steim2', 'int32'), default='steim2',
                   help='miniSEED sample encoding (default steim2)')
    s.add_argument('--network', help="network code (default: each waveform's STA2 network)")
    s.add_argument('--location', help="location code (default: '')")
    s.add_argument('--quality', choices=('D', 'R', 'Q', 'M'), default='D',
                   help='miniSEED data quality indicator (default D)')
    add_engine_options(s)
    s.set_defaults(run=cmd_convert)
