"""What an output target is, and which way of writing it suits it; decided before anything is
written, so that a bad target is refused before the work that would fill it."""
import errno
import os
import stat

from .compat import PY2, fspath, integer_types
from .output_strategies import DescriptorOutput, InPlaceOutput, RenameOutput, StreamOutput

STDIO = '-'
# Name used for standard output in messages.
STDOUT_NAME = 'standard output'


class SameFileError(IOError):
    """The output is the same file as one of the inputs."""

    def __str__(self):
        return '%s: %s' % (self.filename, self.strerror)


def normalize(target):
    """`target` as this layer takes it: '-', a file name (str) or an open file descriptor (int,
    written at its position and left open). Path-like objects give their name; TypeError says
    what a target of any other kind is."""
    if isinstance(target, integer_types) and not isinstance(target, bool):
        if target < 0:
            raise IOError(errno.EBADF, os.strerror(errno.EBADF), display(target))
        return int(target)
    if target is None:
        raise IOError(errno.ENOENT, 'no output file named', repr(target))
    try:
        name = fspath(target)
    except TypeError:
        raise TypeError('an output is a file name, path-like object or file descriptor, not '
                        '%s %r' % (type(target).__name__, target))
    if not PY2 and isinstance(name, bytes):
        name = os.fsdecode(name)
    if not name:
        raise IOError(errno.ENOENT, 'no output file named', repr(target))
    return name


def display(target):
    """The target as messages name it."""
    if isinstance(target, integer_types):
        return 'file descriptor %d' % target
    return STDOUT_NAME if target == STDIO else target


def _stat_input(path):
    """os.stat of an input (standard input for '-'); None when it cannot be examined."""
    try:
        return os.fstat(0) if path == STDIO else os.stat(path)
    except (OSError, IOError, ValueError):
        return None


def check_not_input(target, target_stat, inputs):
    """Raises SameFileError when the regular file `target` (its os.stat in `target_stat`) is the
    same file as one of `inputs` (paths, '-' for standard input)."""
    if target_stat is None or not stat.S_ISREG(target_stat.st_mode):
        return
    for source in inputs:
        st = _stat_input(source)
        if st is not None and (st.st_dev, st.st_ino) == (target_stat.st_dev,
                                                           target_stat.st_ino):
            name = 'standard input' if source == STDIO else source
            raise SameFileError(errno.EINVAL, 'is the same file as the input %s; refusing to '
                                'overwrite an input' % name, display(target))


def _check_folder(target, path):
    folder = os.path.dirname(path) or os.curdir
    try:
        st = os.stat(folder)
    except OSError as e:
        raise IOError(e.errno, e.strerror, target)
    if not stat.S_ISDIR(st.st_mode):
        raise IOError(errno.ENOTDIR, os.strerror(errno.ENOTDIR), target)


def choose(target, inputs):
    """The strategy that writes `target` (as normalize gives it); raises IOError naming the
    target for one that cannot be written, SameFileError for one of `inputs`."""
    if target == STDIO or isinstance(target, integer_types):
        fd = 1 if target == STDIO else target
        try:
            st = os.fstat(fd)
        except OSError as e:
            raise IOError(e.errno, e.strerror, display(target))
        if stat.S_ISDIR(st.st_mode):
            raise IOError(errno.EISDIR, 'Is a directory', display(target))
        check_not_input(target, st, inputs)
        return DescriptorOutput(fd, st)
    if target.endswith(os.sep) and not os.path.isdir(target):
        # realpath would drop the slash: 'file/' must not write to 'file'.
        code = errno.ENOTDIR if os.path.lexists(target.rstrip(os.sep)) else errno.EISDIR
        raise IOError(code, os.strerror(code), target)
    # Symbolic links are followed, also a dangling one: its destination is created.
    path = os.path.realpath(target)
    try:
        st = os.stat(path)
    except OSError as e:
        if e.errno != errno.ENOENT:
            raise IOError(e.errno, e.strerror, target)
        _check_folder(target, path)
        return RenameOutput(path, None)
    if stat.S_ISDIR(st.st_mode):
        raise IOError(errno.EISDIR, 'Is a directory', target)
    if stat.S_ISFIFO(st.st_mode) or stat.S_ISCHR(st.st_mode):
        return StreamOutput(path, st)
    if not stat.S_ISREG(st.st_mode):
        raise IOError(errno.EINVAL, 'not a regular file, FIFO or character device; '
                      'refusing to write to it', target)
    check_not_input(target, st, inputs)
    if not os.access(path, os.W_OK):
        raise IOError(errno.EACCES, os.strerror(errno.EACCES), target)
    foreign = st.st_uid != os.geteuid() and os.geteuid() != 0
    if st.st_nlink > 1 or foreign:
        return InPlaceOutput(path, st)
    return RenameOutput(path, st)


def stage(strategy):
    """Starts `strategy`; returns (strategy, binary file object to write to). An existing file in
    a folder that takes no temporary file is overwritten in place instead."""
    try:
        return strategy, strategy.stage()
    except (OSError, IOError) as e:
        if not isinstance(strategy, RenameOutput) or strategy.stat is None \
                or e.errno not in (errno.EACCES, errno.EPERM, errno.EROFS):
            raise
    strategy = InPlaceOutput(strategy.path, strategy.stat)
    return strategy, strategy.stage()
