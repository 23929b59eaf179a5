"""The archive subcommands of the wavecodec command: index, verify and convert, over folders
and many files, in local processes (--jobs) or on a Dask cluster (--scheduler).

Each prints faults as it goes (names escaped, one line each: names.py), progress on standard
error, then a one-line summary that accounts for every entry; the exit status is 1 when any
file, entry or waveform is faulty."""
from __future__ import print_function

import datetime
import os
import sys

from ..commandline import PROG, STDIO, UsageError, one_stdin
from ..gse2.waveform import extras_text
from ..safeio import check_output
from . import cluster, gaps, iter_convert, iter_index, iter_verify, listing_for, targets
from .report import IndexCsv, Progress, passed_note, say
from .tasks import Selection
from .walk import collect


def _jobs(args):
    if args.jobs < 0:
        raise UsageError('--jobs %d: give 1 or more (0: one per processor)' % args.jobs)
    return args.jobs or None


def _where(args):
    """(client, jobs): the scheduler address when given, else local processes."""
    if getattr(args, 'timeout', None) is not None and args.timeout <= 0:
        raise UsageError('--timeout %g: give a number of seconds above 0' % args.timeout)
    if getattr(args, 'progress', 0) < 0:
        raise UsageError('--progress %g: give 0 (none) or more seconds' % args.progress)
    if args.scheduler:
        try:
            cluster.check_address(args.scheduler)
        except ValueError as e:
            raise UsageError('--scheduler: %s' % e)
        try:
            import distributed  # noqa: F401 - only whether it imports
        except ImportError as e:
            raise UsageError('--scheduler needs Dask (dask.distributed) in this Python: %s' % e)
        _quiet_dask()
    return (args.scheduler or None), _jobs(args)


def _quiet_dask():
    """The run's own message names a lost or unreachable scheduler: Dask's log lines and
    tracebacks about it (its loggers have levels of their own) would only repeat it."""
    import logging
    for name in list(logging.root.manager.loggerDict):
        if name == 'distributed' or name.startswith('distributed.'):
            logging.getLogger(name).setLevel(logging.CRITICAL)
    # Records of loggers without a handler (a lost connection's traceback among them) would
    # reach Python's last-resort handler on standard error.
    logging.getLogger().addHandler(logging.NullHandler())


_TIME_FORMATS = ('%Y-%m-%dT%H:%M:%S.%f', '%Y-%m-%dT%H:%M:%S', '%Y-%m-%dT%H:%M', '%Y-%m-%d')


def _time(text, option):
    for form in _TIME_FORMATS:
        try:
            return datetime.datetime.strptime(text, form)
        except ValueError:
            continue
    raise UsageError('%s %s: give a UTC time as YYYY-MM-DD[THH:MM[:SS[.fff]]]' % (option, text))


def _selection(args):
    start = _time(args.start, '--start') if args.start else None
    end = _time(args.end, '--end') if args.end else None
    if start and end and end < start:
        raise UsageError('--end %s is before --start %s' % (args.end, args.start))
    return Selection(args.station, args.channel, start, end)


def _where_note(client, jobs, used):
    """With --jobs or --scheduler, who did the work (one process when too little to share)."""
    if client is not None:
        return ' (Dask cluster)'
    if jobs == 1:
        return ''
    processes = used.get('processes', 1)
    return ' (%d process%s)' % (processes, '' if processes == 1 else 'es')


def _error(err, progress, text):
    progress.clear()
    err.flush()
    say(err, '%s: error: %s' % (PROG, text))


# --- verify -------------------------------------------------------------------------------

def run_verify(paths, jobs=1, pattern=None, out=None, err=None, prog=PROG, client=None,
               exclude=(), follow=True, select=None, timeout=None, every=None):
    """Verifies `paths`; prints faults and the summary on `out`, file errors and progress on
    `err`. Returns the exit status: 0 when every waveform is sound, else 1."""
    out = out or sys.stdout
    err = err or sys.stderr
    listing = collect(paths, pattern, exclude, follow)
    progress = Progress('verifying', err, *(() if every is None else (every,)))
    bad = total = 0
    used = {}
    checks = iter_verify(listing, client, jobs, progress, verb='verify%s' % (
        ' matching %s' % pattern if pattern else ''), used=used, select=select,
        timeout=timeout)
    try:
        for path, count, faults, error, notes in checks:
            total += count
            if error is not None:
                _error(err, progress, error)
                bad += 1
            if faults:
                progress.clear()
            for fault in faults:
                say(out, 'BAD %s' % fault)
                bad += 1
            for note in notes:
                say(out, 'NOTE %s' % note)
            out.flush()
    finally:
        checks.close()
        progress.clear()
    say(out, '%d waveform(s) in %d file(s): %s%s%s' % (
        total, len(listing.files), 'all sound' if bad == 0 else '%d bad' % bad,
        _where_note(client, jobs, used), passed_note(listing)))
    return 1 if bad else 0


def cmd_verify(args):
    one_stdin(args.paths)
    client, jobs = _where(args)
    select = _selection(args)
    sys.stdout.flush()
    return run_verify(args.paths, jobs, args.glob, client=client, exclude=args.exclude,
                      follow=args.follow, select=select, timeout=args.timeout,
                      every=args.progress)


# --- index --------------------------------------------------------------------------------

def cmd_index(args):
    one_stdin(args.paths)
    client, jobs = _where(args)
    select = _selection(args)
    inputs = [p for p in args.paths if p != STDIO]
    check_output(args.output, inputs)
    err = sys.stderr
    listing = collect(args.paths, args.glob, args.exclude, args.follow,
                      skip=[args.output] if args.output != STDIO else [])
    progress = Progress('indexing', err, args.progress)
    table = IndexCsv(args.output)
    kept = [] if args.gaps else None
    waves = seismic = faults = 0
    rows = iter_index(listing, client, jobs, progress, select, args.verify, args.timeout)
    complete = False
    try:
        for file_rows in rows:
            table.write(file_rows)
            for r in file_rows:
                if r.fault:
                    faults += 1
                    _error(err, progress, r.fault)
                if r.offset is not None:
                    if r.kind == 'gse2':
                        waves += 1
                    else:
                        seismic += 1
            if kept is not None:
                kept.extend(file_rows)
        complete = True
    finally:
        rows.close()
        progress.clear()
        table.close(complete)
    if args.verify:
        state = 'all sound' if not faults else '%d fault(s)' % faults
    else:
        state = 'headers read, %s' % ('no fault' if not faults else '%d fault(s)' % faults)
    report = err if args.output == STDIO else sys.stdout
    say(report, '%d waveform(s) and %d SEG-Y/SU file(s) indexed from %d file(s): %s%s' % (
        waves, seismic, len(listing.files), state, passed_note(listing)))
    for line in gaps.lines(kept) if kept is not None else ():
        say(report, line)
    return 1 if faults else 0


# --- convert ------------------------------------------------------------------------------

def cmd_convert(args):
    client, jobs = _where(args)
    select = _selection(args)
    if STDIO in args.paths:
        raise UsageError("convert takes files and folders, not '-' (standard input): use "
                         "gse2-to-mseed - -o FILE")
    if os.path.exists(args.output) and not os.path.isdir(args.output):
        raise UsageError('-o %s: not a folder' % args.output)
    listing = listing_for(args.paths, args.output, args.to, args.glob, args.exclude,
                          args.follow)
    try:
        targets(listing, args.output, args.to)
    except ValueError as e:
        raise UsageError(str(e))
    options = dict(record_length=args.record_length, encoding=args.encoding,
                   network=args.network, location=args.location, quality=args.quality)
    progress = Progress('converting', sys.stderr, args.progress)
    written = failed = waves = 0
    skipped = {}
    extras = {}
    rows = iter_convert(listing, args.output, args.to, client, jobs, progress, select,
                        args.skip_existing, args.timeout, **options)
    try:
        for row in rows:
            if row.fault is None:
                written += 1
                waves += row.waveforms
                for kind, count in (row.extras or {}).items():
                    extras[kind] = extras.get(kind, 0) + count
            elif row.fault.startswith('skipped: '):
                reason = row.fault[len('skipped: '):]
                skipped[reason] = skipped.get(reason, 0) + 1
            else:
                failed += 1
                _error(sys.stderr, progress, row.fault)
    finally:
        rows.close()
        progress.clear()
    say(sys.stdout, '%d file(s) converted (%d waveform(s)) into %s; %d skipped%s, %d failed%s%s'
        % (written, waves, args.output, sum(skipped.values()),
           ' (%s)' % ', '.join('%d %s' % (n, reason) for reason, n in sorted(skipped.items()))
           if skipped else '', failed, passed_note(listing),
           '; not carried (no place in miniSEED): %s' % extras_text(extras) if extras else ''))
    return 1 if failed else 0


# --- the parsers ----------------------------------------------------------------------------

def add_engine_options(s):
    s.add_argument('-j', '--jobs', type=int, default=1, metavar='N',
                   help='work in N local processes (0: one per processor; default 1)')
    s.add_argument('--scheduler', metavar='ADDRESS',
                   help='work on the Dask cluster of this scheduler (tcp://host:8786); its '
                   'workers must see the same paths')
    s.add_argument('--timeout', type=float, default=cluster.TIMEOUT, metavar='SECONDS',
                   help='with --scheduler: seconds allowed to reach the scheduler, to find a '
                   'worker, and to go without one (default %g)' % cluster.TIMEOUT)
    s.add_argument('--glob', metavar='PATTERN',
                   help="in folders, only files whose name matches PATTERN (e.g. '*.gse')")
    s.add_argument('--exclude', action='append', default=[], metavar='PATTERN',
                   help='in folders, pass over files and folders whose name or path below the '
                   'folder given matches PATTERN (repeatable)')
    s.add_argument('--no-follow', dest='follow', action='store_false',
                   help='do not enter linked folders (by default each is walked once)')
    s.add_argument('--station', action='append', metavar='PATTERN',
                   help='only waveforms of stations matching PATTERN (repeatable)')
    s.add_argument('--channel', action='append', metavar='PATTERN',
                   help='only waveforms of channels matching PATTERN (repeatable)')
    s.add_argument('--start', metavar='TIME',
                   help='only waveforms that end at or after TIME (UTC, YYYY-MM-DDTHH:MM:SS)')
    s.add_argument('--end', metavar='TIME',
                   help='only waveforms that start at or before TIME (UTC)')
    s.add_argument('--progress', type=float, default=5.0, metavar='SECONDS',
                   help='when standard error is no terminal, a progress line every SECONDS '
                   '(default 5; 0: none)')


def register(sub):
    """Adds verify, index and convert to the subparsers `sub`."""
    s = sub.add_parser('verify', help='check every waveform of the files and folders given '
                       '(folders recursively); exit 0 only when all are sound')
    s.add_argument('paths', nargs='+', metavar='PATH',
                   help="files and folders to check ('-': standard input)")
    add_engine_options(s)
    s.set_defaults(run=cmd_verify)

    s = sub.add_parser('index', help='one CSV row per GSE2 waveform (headers only) and per '
                       'SEG-Y file of the files and folders given; exit 0 only when no fault '
                       'is found')
    s.add_argument('paths', nargs='+', metavar='PATH',
                   help="files and folders to index ('-': standard input)")
    s.add_argument('-o', '--output', required=True, metavar='INDEX.csv',
                   help="the CSV file, written as the rows come, or '-' for standard output")
    s.add_argument('--verify', action='store_true',
                   help='also decode every waveform and compare its checksum (column checked)')
    s.add_argument('--gaps', action='store_true',
                   help='after the summary, one line per station and one per gap or overlap '
                   'of each channel')
    add_engine_options(s)
    s.set_defaults(run=cmd_index)

    s = sub.add_parser('convert', help='every GSE2 file of the files and folders given into '
                       'one miniSEED file under OUT_DIR, mirroring the input tree')
    s.add_argument('paths', nargs='+', metavar='PATH',
                   help='GSE2 files and folders to convert (not standard input: each output '
                   'is named after its input)')
    s.add_argument('-o', '--output', required=True, metavar='OUT_DIR',
                   help='the output folder (may be an input folder: outputs are never read '
                   'as inputs)')
    s.add_argument('--to', choices=('mseed',), default='mseed', help='the output format')
    s.add_argument('--skip-existing', action='store_true',
                   help='pass over files whose output is newer than them and complete')
    s.add_argument('--record-length', type=int, default=4096, metavar='BYTES',
                   help='miniSEED record length (default 4096)')
    s.add_argument('--encoding', choices=('steim1', 'steim2', 'int32'), default='steim2',
                   help='miniSEED encoding (default steim2)')
    s.add_argument('--network', help="network code (default: each waveform's STA2 network)")
    s.add_argument('--location', help="location code (default: '')")
    s.add_argument('--quality', choices=('D', 'R', 'Q', 'M'), default='D',
                   help='miniSEED quality indicator (default D)')
    add_engine_options(s)
    s.set_defaults(run=cmd_convert)
