"""Inputs of the command line. '-' is standard input. Standard input, FIFOs and devices are
copied to a temporary file before reading (the reader needs a file it can size and seek); a
directory or a file that cannot be read is one error naming the path and the cause."""
import errno
import os
import shutil
import stat
import sys
import tempfile

from .cstdout import CapturedCStdout
from .errors import WaveformError
from .reader import read

STDIO = '-'
STDIN_NAME = 'standard input'


def display(path):
    return STDIN_NAME if path == STDIO else path


def _stdin():
    return getattr(sys.stdin, 'buffer', sys.stdin)


def check_input(path):
    """Raises IOError naming `path` when it is a directory or cannot be opened for reading."""
    if path == STDIO:
        return
    try:
        st = os.stat(path)
    except OSError as e:
        raise IOError(e.errno, e.strerror, path)
    if stat.S_ISDIR(st.st_mode):
        raise IOError(errno.EISDIR, os.strerror(errno.EISDIR), path)
    if stat.S_ISREG(st.st_mode):
        # Opening a FIFO here would end its writer's stream: only regular files are tried.
        try:
            open(path, 'rb').close()
        except (IOError, OSError) as e:
            raise IOError(e.errno, e.strerror, path)


def read_bytes(path):
    """The whole content of input `path` ('-': standard input)."""
    check_input(path)
    if path == STDIO:
        return _stdin().read()
    try:
        with open(path, 'rb') as f:
            return f.read()
    except (IOError, OSError) as e:
        raise IOError(e.errno, e.strerror, path)


class Source(object):
    """Context manager: `path` is a file the reader can open for input `name`, a temporary copy
    for standard input, FIFOs and devices (removed at the end); `shown` puts the input's own
    name back into messages."""

    def __init__(self, name):
        self.name = display(name)
        self.given = name
        self.path = name
        self.copied = False

    def __enter__(self):
        check_input(self.given)
        if self.given != STDIO and stat.S_ISREG(os.stat(self.given).st_mode):
            return self
        fd, self.path = tempfile.mkstemp(prefix='wavecodec-input-')
        self.copied = True
        try:
            with os.fdopen(fd, 'wb') as out:
                if self.given == STDIO:
                    shutil.copyfileobj(_stdin(), out)
                else:
                    with open(self.given, 'rb') as source:
                        shutil.copyfileobj(source, out)
        except BaseException as e:
            self.__exit__()
            if isinstance(e, EnvironmentError) and e.filename is None:
                raise IOError(e.errno, e.strerror, self.name)
            raise
        return self

    def __exit__(self, *exc):
        if self.copied:
            self.copied = False
            try:
                os.unlink(self.path)
            except OSError:
                pass
        return False

    def shown(self, text):
        return text.replace(self.path, self.name) if self.path != self.given else text


def read_quietly(path, report=None, **options):
    """wavecodec.read(path, **options) for the command line: messages name the input as given,
    and what the library prints on C standard output goes to `report(line)` (with the input's
    name)."""
    with Source(path) as src:
        captured = CapturedCStdout()
        try:
            with captured:
                waves = read(src.path, **options)
        except WaveformError as e:
            raise type(e)(src.shown(str(e)))
        except EnvironmentError as e:
            if e.filename == src.path and e.errno is not None:
                raise IOError(e.errno, e.strerror, src.name)
            raise
        finally:
            if report is not None:
                for line in captured.lines:
                    report('%s: %s' % (src.name, line))
        for w in waves:
            if w.error is not None:
                w.error = src.shown(w.error)
        return waves
