"""What the archive commands print: progress, one escaped line per fault, the note of what was
passed over, and the index CSV written as the rows come."""
from __future__ import print_function

import io
import sys
import time

from . import names, walk
from .tasks import IndexRow

# Runs of fewer files show no progress.
PROGRESS_FROM = 5
# Seconds between progress lines when standard error is not a terminal (--progress).
PROGRESS_SECONDS = 5.0
# On a terminal the line is rewritten at most this often.
TERMINAL_SECONDS = 0.1


def _encoding(stream):
    return getattr(stream, 'encoding', None) or 'utf-8'


def say(stream, text):
    """Prints `text` on `stream` as one escaped line (names.line)."""
    print(names.line(text, _encoding(stream)), file=stream)


class Progress(object):
    """'VERB done/total files' with an estimate of the time left: rewritten in place on `err`
    when it is a terminal, else one line every `every` seconds (none when `every` is 0) once
    the run has taken that long."""

    def __init__(self, verb, err, every=PROGRESS_SECONDS, clock=time.time):
        self.verb = verb
        self.err = err
        self.every = every
        self.clock = clock
        self.began = clock()
        self.last = self.began
        self.terminal = _isatty(err)
        self.shown = False

    def _left(self, done, total, now):
        if done == 0 or done >= total:
            return ''
        seconds = (now - self.began) / done * (total - done)
        if seconds >= 90:
            return ', about %d min left' % round(seconds / 60.0)
        return ', about %d s left' % max(1, round(seconds))

    def __call__(self, done, total):
        if total < PROGRESS_FROM or not self.every:
            return
        now = self.clock()
        if self.terminal:
            if now - self.last < TERMINAL_SECONDS and done < total:
                return
            self.last = now
            self.shown = True
            self.err.write('\r%s %d/%d files%s\033[K' % (self.verb, done, total,
                                                         self._left(done, total, now)))
            self.err.flush()
        elif now - self.last >= self.every and done < total:
            self.last = now
            self.err.write('wavecodec: %s %d/%d files (%d%%)%s\n' % (
                self.verb, done, total, 100 * done // total, self._left(done, total, now)))
            self.err.flush()

    def clear(self):
        if self.shown:
            self.shown = False
            self.err.write('\r\033[K')
            self.err.flush()


def _isatty(stream):
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False


def passed_note(listing):
    """'; passed over: 2 hidden, ...' for the entries a walk passed over that no option of the
    command asked to leave out (--glob and --exclude do), or ''."""
    order = (walk.HIDDEN, walk.NOT_FOLLOWED, walk.WALKED, walk.OUTPUTS)
    parts = ['%d %s' % (listing.passed[k], k) for k in order if listing.passed.get(k)]
    return '; passed over: ' + ', '.join(parts) if parts else ''


# The CSV's columns and their types, for readers that are told them (pandas.read_csv,
# dask.dataframe.read_csv: dtype=INDEX_DTYPES): text, whole numbers that may be missing
# ('Int64'), and real numbers. Each column holds one kind of value.
INDEX_DTYPES = dict(
    [(name, 'string') for name in ('path', 'kind', 'station', 'network', 'channel', 'start',
                                   'end', 'format', 'byte_order', 'fault')] +
    [(name, 'Int64') for name in ('offset', 'samples', 'format_code', 'traces', 'interval',
                                  'checked')] +
    [('sample_rate', 'float64')])


def _cell(value):
    if value is None:
        return u''
    if isinstance(value, float):
        return u'%r' % value
    return names.csv_field(value)


def csv_line(row):
    """One row (or the header, a tuple of names) as a CSV line: fields that need no quoting
    (names.csv_field), UTF-8."""
    return (u','.join(_cell(v) for v in row) + u'\n').encode('utf-8')


class IndexCsv(object):
    """The index CSV, written as the rows come (a run that is stopped keeps the rows written so
    far), flushed at most once every FLUSH_SECONDS and at the end. The target is opened with
    the first rows: a run that fails before any leaves no file."""

    FLUSH_SECONDS = 1.0

    def __init__(self, target):
        self.target = target
        self.file = None
        self.owned = False
        self.flushed = time.time()

    def _open(self):
        from ..commandline import STDIO
        if self.target == STDIO:
            self.file = getattr(sys.stdout, 'buffer', sys.stdout)
        else:
            self.file = io.open(self.target, 'wb')
            self.owned = True
        self.file.write(csv_line(IndexRow._fields))

    def write(self, rows):
        if self.file is None:
            self._open()
        self.file.write(b''.join(csv_line(r) for r in rows))
        now = time.time()
        if now - self.flushed >= self.FLUSH_SECONDS:
            self.file.flush()
            self.flushed = now

    def close(self, complete=True):
        """Flushes and closes; a complete run without rows still writes the header."""
        if self.file is None:
            if not complete:
                return
            self._open()
        try:
            self.file.flush()
        finally:
            if self.owned:
                self.file.close()


__all__ = ['INDEX_DTYPES', 'IndexCsv', 'Progress', 'csv_line', 'passed_note', 'say']

