"""verify over many files: folders walked recursively, files checked in parallel processes,
one line per faulty waveform, a summary and progress on a terminal."""
from __future__ import print_function

import fnmatch
import multiprocessing
import os
import signal
import sys

from ..errors import LibraryNotFoundError, WaveformError
from ..commandline import PROG, STDIO, display, reader_input
from .reader import read

# Files from which verify shows progress on a terminal.
PROGRESS_FROM = 5
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


def _results(files, jobs):
    """check_file of every file, in order; in `jobs` worker processes when jobs > 1."""
    local = [f for f in files if f == STDIO]
    others = [f for f in files if f != STDIO]
    if jobs <= 1 or len(others) <= 1:
        for path in files:
            yield check_file(path)
        return
    for path in local:
        yield check_file(path)
    pool = multiprocessing.Pool(min(jobs, len(others)), _worker_signals)
    try:
        results = pool.imap(check_file, others, 1)
        for _ in others:
            yield results.next(_POLL)
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

    results = _results(files, jobs)
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
    print('%d waveform(s) in %d file(s): %s'
          % (total, len(files), 'all sound' if bad == 0 else '%d bad' % bad), file=out)
    return 1 if bad else 0
