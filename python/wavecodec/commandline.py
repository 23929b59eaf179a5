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
    """Bad usage; `parser` (when known) is the parser whose usage line goes with the message."""

    def __init__(self, message, parser=None):
        Exception.__init__(self, message)
        self.parser = parser


class _Commands(argparse._SubParsersAction):
    """Subcommands whose --help opens with a description: the one given, else the command's
    one-line help (so no command goes without)."""

    def add_parser(self, name, **kwargs):
        summary = kwargs.get('help')
        if summary and not kwargs.get('description'):
            kwargs['description'] = summary[:1].upper() + summary[1:] + (
                '' if summary.endswith('.') else '.')
        return argparse._SubParsersAction.add_parser(self, name, **kwargs)


class Parser(argparse.ArgumentParser):
    """The parser of the command and of each subcommand: usage errors raise UsageError (the
    caller prints one line and exits 2), and an output given after the inputs (add_output's
    older form) lands in `output`."""

    def __init__(self, *args, **kwargs):
        argparse.ArgumentParser.__init__(self, *args, **kwargs)
        self.register('action', 'parsers', _Commands)

    def error(self, message):
        raise UsageError(message, self)

    def usage_line(self):
        """The usage, on one line whatever its length."""
        formatter = argparse.HelpFormatter(self.prog, width=1 << 20)
        formatter.add_usage(self.usage, self._actions, self._mutually_exclusive_groups,
                            prefix='usage: ')
        return ' '.join(formatter.format_help().split())

    def parse_known_args(self, args=None, namespace=None):
        namespace, extras = argparse.ArgumentParser.parse_known_args(self, args, namespace)
        if hasattr(namespace, _OLDER_OUTPUT):
            older = getattr(namespace, _OLDER_OUTPUT)
            delattr(namespace, _OLDER_OUTPUT)
            if older is not None and namespace.output is not None:
                self.error('the output is given twice (-o %s and %s): give -o only'
                           % (namespace.output, older))
            if older is None and namespace.output is None:
                self.error('the following arguments are required: -o/--output')
            if older is not None:
                namespace.output = older
        return namespace, extras


_OLDER_OUTPUT = 'output_after_inputs'


def add_output(parser, metavar, help, after_inputs=False):
    """The output option, -o/--output `metavar`, which every command that writes takes. With
    `after_inputs` the output may also follow the inputs as a positional argument, the form
    that command took before -o (kept working)."""
    if not after_inputs:
        parser.add_argument('-o', '--output', required=True, metavar=metavar, help=help)
        return
    parser.add_argument('-o', '--output', metavar=metavar,
                        help=help + ' (required; %s after the inputs works as well)' % metavar)
    parser.add_argument(_OLDER_OUTPUT, nargs='?', metavar=metavar,
                        help='the same as -o %s (the older form)' % metavar)


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
