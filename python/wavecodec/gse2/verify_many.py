"""verify over many files: folders walked recursively, files checked in parallel processes,
one line per faulty waveform, a summary and progress on a terminal."""
from __future__ import print_function

import fnmatch
import os
import signal
import sys

from ..errors import LibraryNotFoundError, WaveformError
from ..commandline import PROG, STDIO, display, reader_input
from .reader import read

# Files from which verify shows progress on a terminal.
PROGRESS_FROM = 5
# Input bytes below which another worker process costs more than it saves (short waveforms
# are checked at a few MB/s), and the least input of one task handed to a worker.
MIN_BYTES_PER_PROCESS = 1 << 20
CHUNK_BYTES = 1 << 18
# Seconds to wait for one result before checking again (keeps Ctrl-C working under 2.7).
_POLL = 3600


def collect(paths, pattern=None):
    """(files, empty folders): each path as given, folders replaced by the files below them
    (sorted, hidden names passed over, those matching `pattern` when given)."""
    files = []
    empty = []
    for path in paths:
        if path == STDIO or not os.path.isdir(path):
            files.append(path)
            continue
        before = len(files)
        for folder, subdirs, names in os.walk(path):
            subdirs[:] = sorted(d for d in subdirs if not d.startswith('.'))
            for name in sorted(names):
                if name.startswith('.') or (pattern and not fnmatch.fnmatch(name, pattern)):
                    continue
                full = os.path.join(folder, name)
                if os.path.isfile(full):
                    files.append(full)
        if len(files) == before:
            empty.append(path)
    return files, empty


def _message(e):
    if isinstance(e, EnvironmentError) and getattr(e, 'strerror', None):
        return '%s: %s' % (e.filename, e.strerror) if e.filename else e.strerror
    return str(e)


def check_file(path):
    """Verifies one file. Returns (path, waveforms, faulty messages, error or None); never
    raises, so that it can run in a worker process. A library that cannot be used is returned
    as the error LibraryNotFoundError itself."""
    try:
        waves = read(reader_input(path), strict=False, name=display(path))
    except LibraryNotFoundError as e:
        return path, 0, [], LibraryNotFoundError(str(e))
    except (WaveformError, EnvironmentError) as e:
        return path, 0, [], _message(e)
    except Exception as e:  # noqa: B902 - a worker reports every failure as one line
        return path, 0, [], '%s: %s: %s' % (display(path), type(e).__name__, e)
    return path, len(waves), [w.error for w in waves if w.error is not None], None


def _worker_signals():
    # The parent handles Ctrl-C and ends the workers with SIGTERM.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, signal.SIG_DFL)


def check_files(paths):
    """check_file of each path: one task of a worker process."""
    return [check_file(path) for path in paths]


def _size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def plan(files, jobs):
    """(processes, tasks): how many worker processes pay for themselves on `files` (standard
    input excluded), at most `jobs`, each given at least MIN_BYTES_PER_PROCESS of input; and
    the files cut into tasks of consecutive files of about a quarter of a process's share
    (CHUNK_BYTES at least), so that a process's start and each task's round trip are small
    beside its work and the processes still end together. One process: no tasks."""
    others = [f for f in files if f != STDIO]
    sizes = [_size(f) for f in others]
    total = sum(sizes)
    processes = min(jobs, len(others), total // MIN_BYTES_PER_PROCESS)
    if processes <= 1:
        return 1, []
    share = max(CHUNK_BYTES, total // (4 * processes))
    tasks = [[]]
    held = 0
    for path, size in zip(others, sizes):
        if held >= share:
            tasks.append([])
            held = 0
        tasks[-1].append(path)
        held += size
    return min(processes, len(tasks)), tasks


def _results(files, processes, tasks):
    """check_file of every file, in order: here, or in `processes` worker processes that take
    `tasks` (see plan)."""
    if processes <= 1:
        for path in files:
            yield check_file(path)
        return
    import multiprocessing  # here: a costly import that one process does without
    for path in files:
        if path == STDIO:
            yield check_file(path)
    pool = multiprocessing.Pool(processes, _worker_signals)
    try:
        results = pool.imap(check_files, tasks, 1)
        for _ in tasks:
            for result in results.next(_POLL):
                yield result
        pool.close()
    finally:
        pool.terminate()
        pool.join()


def run(paths, jobs=1, pattern=None, out=None, err=None, prog=PROG):
    """Verifies `paths`; prints faults and the summary on `out`, file errors and progress on
    `err`. Returns the exit status: 0 when every waveform is sound, else 1."""
    out = out or sys.stdout
    err = err or sys.stderr
    files, empty = collect(paths, pattern)
    progress = len(files) >= PROGRESS_FROM and err.isatty()
    bad = total = 0
    for folder in empty:
        print('%s: error: %s: no files to verify%s'
              % (prog, folder, ' matching %s' % pattern if pattern else ''), file=err)
        bad += 1

    def clear():
        if progress:
            err.write('\r\033[K')

    processes, tasks = plan(files, jobs)
    results = _results(files, processes, tasks)
    try:
        for done, (path, count, faults, error) in enumerate(results, 1):
            if isinstance(error, LibraryNotFoundError):
                # The same for every file: one message, and no verdict on the files.
                clear()
                raise error
            total += count
            if error or faults:
                clear()
            if error is not None:
                err.flush()
                print('%s: error: %s' % (prog, error), file=err)
                bad += 1
            for fault in faults:
                print('BAD %s' % fault, file=out)
                bad += 1
            if progress:
                out.flush()
                err.write('\rverifying %d/%d files' % (done, len(files)))
                err.flush()
    finally:
        # Ends the worker processes now rather than when the generator is collected, which may
        # be during interpreter shutdown, where stopping a pool can hang.
        results.close()
    clear()
    # With --jobs, how many processes did the work (one when too little to share).
    used = '' if jobs == 1 else ' (%d process%s)' % (processes, '' if processes == 1 else 'es')
    print('%d waveform(s) in %d file(s): %s%s'
          % (total, len(files), 'all sound' if bad == 0 else '%d bad' % bad, used), file=out)
    return 1 if bad else 0
