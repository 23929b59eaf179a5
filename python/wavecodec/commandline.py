"""What every command of the wavecodec command line shares: usage errors, '-' for standard
input and output, the inputs' names in messages, and the closing line of a command."""
from __future__ import print_function

import argparse
import errno
import os
import stat
import sys

PROG = 'wavecodec'
STDIO = '-'
STDIN_NAME = 'standard input'


class UsageError(Exception):
    pass


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UsageError(message)


def display(path):
    """The name of input `path` in messages."""
    return STDIN_NAME if path == STDIO else path


def stdin():
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
    """The whole content of input `path` ('-': standard input; FIFOs and devices are read to
    their end)."""
    check_input(path)
    if path == STDIO:
        return stdin().read()
    try:
        with open(path, 'rb') as f:
            return f.read()
    except (IOError, OSError) as e:
        raise IOError(e.errno, e.strerror, path)


def reader_input(path):
    """What a reader takes for input `path`: the path of a regular file, else the input's bytes
    (standard input, FIFOs, devices), read once."""
    check_input(path)
    if path != STDIO and stat.S_ISREG(os.stat(path).st_mode):
        return path
    return read_bytes(path)


def done(target, text):
    """The closing line of a command: none when the output itself is standard output."""
    if target != STDIO:
        print('%s: %s' % (target, text))


def one_stdin(paths):
    if sum(1 for p in paths if p == STDIO) > 1:
        raise UsageError("'-' (standard input) can be given only once")


def error_text(e):
    """One line for exception `e`: an OS error as 'FILE: reason'."""
    if isinstance(e, EnvironmentError) and getattr(e, 'strerror', None):
        where = getattr(e, 'filename', None)
        text = '%s: %s' % (where, e.strerror) if where else e.strerror
    else:
        text = str(e)
    return ' '.join(text.split()) or type(e).__name__


def print_error(e):
    try:
        sys.stdout.flush()
    except (IOError, OSError, ValueError, AttributeError):
        pass
    print('%s: error: %s' % (PROG, error_text(e)), file=sys.stderr)
