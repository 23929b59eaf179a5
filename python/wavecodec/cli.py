"""The wavecodec command line: parses the command name and hands the arguments to the module
of that format's commands (gse2.commands, ibm_commands, segy.commands, mseed.commands).

User errors (bad files, bad options, a missing library) give one line on standard error and a
non-zero exit: 1 for bad input, 2 for bad usage, 130 after Ctrl-C. '-' is standard input as an
input and standard output as an output. Outputs go through safeio: complete or not at all, never
one of the command's inputs.
"""
from __future__ import print_function

import errno
import os
import signal
import sys

from importlib import import_module

from . import __version__
from .commandline import PROG, Parser, UsageError, print_error
from .errors import LibraryNotFoundError, WaveformError

# Each module adds its commands to the parser with register(subparsers); the names it adds are
# listed here, so that a command imports its own module only (a GSE2 command never loads the
# SEG-Y package, for instance). Every module is loaded for help, usage errors and unknown names.
COMMAND_MODULES = (
    ('wavecodec.gse2.commands', ('info', 'decode', 'encode', 'plot')),
    ('wavecodec.archive.commands', ('verify', 'index', 'convert')),
    ('wavecodec.ibm_commands', ('ibm2ieee',)),
    ('wavecodec.segy.commands', ('segy-info', 'segy-convert', 'segy-plot')),
    ('wavecodec.segy.zarrcli', ('segy-to-zarr', 'zarr-to-segy')),
    ('wavecodec.mseed.commands', ('gse2-to-mseed', 'mseed-to-gse2')),
)


def build_parser(command=None):
    """The parser of every command, or of only the module that has `command`."""
    p = Parser(prog=PROG, description='GSE2.0 waveform files (CM6 and INT), IBM floats, '
               'SEG-Y/SU files and miniSEED conversion.')
    p.add_argument('--version', action='version', version='%s %s' % (PROG, __version__))
    sub = p.add_subparsers(dest='command', metavar='COMMAND')
    chosen = [name for name, commands in COMMAND_MODULES if command in commands]
    for name in chosen or [name for name, _ in COMMAND_MODULES]:
        import_module(name).register(sub)
    return p


def _commands(parser):
    """{name: parser} of the commands, in the order the modules add them."""
    for action in parser._subparsers._group_actions:
        return action.choices
    return {}


def _names(parser):
    """The command names, in the order the modules add them."""
    return list(_commands(parser))


def _usage_parser(parser, error, argv):
    """The parser whose usage goes with `error`: the one that raised it, or the command named
    first (an unknown option is found after the command's own parser has finished), else the
    whole command line's."""
    chosen = getattr(error, 'parser', None)
    if chosen is None or chosen is parser:
        chosen = _commands(parser).get(argv[0]) if argv else None
    return chosen or parser


def _quiet_broken_pipe():
    """After the reader of standard output has gone: nothing more is written there, not even by
    the interpreter's final flush."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        os.close(devnull)
    except OSError:
        pass


def _stdout_open():
    """False when the process was started with standard output closed (`>&-`)."""
    if sys.stdout is None:
        return False
    try:
        fd = sys.stdout.fileno()
    except (OSError, IOError, ValueError, AttributeError):
        return True  # an object standing in for it (a test's buffer)
    try:
        os.fstat(fd)
    except (OSError, IOError):
        return False
    return True


def _terminated(signum, frame):
    # Unwinds like Ctrl-C, so that every output staged so far is removed.
    raise SystemExit(128 + signum)


def main(argv=None):
    try:
        if signal.getsignal(signal.SIGTERM) == signal.SIG_DFL:
            signal.signal(signal.SIGTERM, _terminated)
    except ValueError:  # not the main thread: signals stay as they are
        pass
    argv = sys.argv[1:] if argv is None else list(argv)
    parser = build_parser(argv[0] if argv else None)
    try:
        args = parser.parse_args(argv) if argv else None
        if getattr(args, 'run', None) is None:
            raise UsageError('no command given (commands: %s)' % ', '.join(_names(parser)))
        if not _stdout_open():
            print_error(IOError(errno.EBADF, 'is closed; every command reports there',
                                'standard output'))
            return 1
        return args.run(args)
    except UsageError as e:
        usage = _usage_parser(parser, e, argv)
        print('%s: usage error: %s; %s (see %s --help)'
              % (PROG, e, usage.usage_line(), usage.prog), file=sys.stderr)
        return 2
    except (WaveformError, LibraryNotFoundError, EnvironmentError) as e:
        if isinstance(e, EnvironmentError) and e.errno == errno.EPIPE:
            _quiet_broken_pipe()
            return 1
        print_error(e)
        return 1
    except KeyboardInterrupt:
        return 130
    except Exception as e:  # noqa: B902 - the command line never ends in a traceback
        print_error(Exception('unexpected %s: %s' % (type(e).__name__, e)))
        return 1


if __name__ == '__main__':
    sys.exit(main())
