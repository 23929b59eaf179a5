"""Output files written safely: every writer of the package goes through open_output.

The target is the file the caller named:
- '-' is standard output;
- a symbolic link is followed: the link stays and the file it points to gets the data;
- a directory is refused before anything is written, and so is a block device or socket;
- a FIFO or character device is written into directly, never replaced;
- a regular file is replaced in one step: the data goes to a temporary file beside it that is
  renamed over it when complete; an existing file keeps its permission bits and its owner;
- a regular file with more than one hard link, or owned by another user, or in a folder that
  takes no temporary file, is overwritten in place once the complete data is staged: every link
  keeps seeing the file and the owner stays;
- an output that is the same file as one of the inputs is refused before anything is written.

Streams (standard output, FIFOs, devices) and in-place targets get the data only once it is
complete, so a failed writer sends nothing. On every failure, KeyboardInterrupt included, the
temporary file is removed, the old target is left as it was and the error names the target.
"""
import errno
import os
import signal
import stat
import sys

from .compat import replace_file

STDIO = '-'
# Name used for standard output in messages.
STDOUT_NAME = 'standard output'
# Bytes copied per system call when staged data goes to its target.
_CHUNK = 1 << 20


class SameFileError(IOError):
    """The output is the same file as one of the inputs."""

    def __str__(self):
        return '%s: %s' % (self.filename, self.strerror)


def _umask():
    """The process's umask; read without changing it where the system shows it (changing it
    for a moment would affect files other threads create meanwhile)."""
    try:
        with open('/proc/self/status') as f:
            for line in f:
                if line.startswith('Umask:'):
                    return int(line.split()[1], 8)
    except (IOError, OSError, ValueError, IndexError):
        pass
    mask = os.umask(0o22)
    os.umask(mask)
    return mask


def _fsync(fd):
    """Flushes a file to its device; file systems that cannot are passed over."""
    try:
        os.fsync(fd)
    except OSError as e:
        if e.errno not in (errno.EINVAL, errno.EROFS, errno.EOPNOTSUPP):
            raise


def _display(target):
    return STDOUT_NAME if target == STDIO else target


def _rename_error(e, target, temp=None):
    """`e` naming `target` when it names nothing or only the temporary file; else `e` itself."""
    if isinstance(e, EnvironmentError) and e.errno is not None \
            and (e.filename is None or e.filename == temp):
        return IOError(e.errno, e.strerror or os.strerror(e.errno), target)
    return e


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
                                'overwrite an input' % name, _display(target))


def _write_all(fd, data):
    view = memoryview(data)
    while len(view):
        done = os.write(fd, view)
        view = view[done:]


def _copy(source_fd, target_fd):
    """Copies the whole of `source_fd` (from its start) to `target_fd`; returns the size."""
    os.lseek(source_fd, 0, os.SEEK_SET)
    total = 0
    while True:
        chunk = os.read(source_fd, _CHUNK)
        if not chunk:
            return total
        _write_all(target_fd, chunk)
        total += len(chunk)


def _fsync_dir(directory):
    """Makes a rename durable; file systems that cannot sync a folder are passed over."""
    try:
        fd = os.open(directory, os.O_RDONLY)
    except OSError:
        return
    try:
        _fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


class _InterruptAfter(object):
    """Holds Ctrl-C back until the block ends (in the main thread; elsewhere signals cannot be
    handled anyway): a file being overwritten in place is not left half copied."""

    def __enter__(self):
        self.caught = []
        self.installed = False
        try:
            self.saved = signal.signal(signal.SIGINT, lambda *a: self.caught.append(a))
            self.installed = True
        except ValueError:
            pass
        return self

    def __exit__(self, kind, value, trace):
        if self.installed:
            # A handler installed outside Python reads back as None: restore the default.
            signal.signal(signal.SIGINT,
                          signal.default_int_handler if self.saved is None else self.saved)
            if self.caught and kind is None:
                raise KeyboardInterrupt
        return False


class SafeOutput(object):
    """Context manager over one output: yields a binary file object to write to, commits the
    data to the target when the block ends normally and removes every trace otherwise.

    mode: 'rename' (a temporary file beside the target, renamed over it), 'inplace' (a regular
    file overwritten when the data is complete) or 'stream' (standard output, FIFO, character
    device: written into when the data is complete).
    """

    def __init__(self, target, inputs=()):
        if not target:
            raise IOError(errno.ENOENT, 'no output file named', repr(target))
        self.target = target
        self.inputs = [p for p in inputs if p]
        self.file = None
        self.temp = None
        self.mode = None
        self.path = None
        self.stat = None

    # Deciding what the target is, before anything is written.

    def _examine(self):
        target = self.target
        if target == STDIO:
            self.mode = 'stream'
            self.stat = os.fstat(1)
            check_not_input(target, self.stat, self.inputs)
            return
        if target.endswith(os.sep) and not os.path.isdir(target):
            # realpath would drop the slash: 'file/' must not write to 'file'.
            code = errno.ENOTDIR if os.path.lexists(target.rstrip(os.sep)) else errno.EISDIR
            raise IOError(code, os.strerror(code), target)
        # Symbolic links are followed, also a dangling one: its destination is created.
        self.path = os.path.realpath(target)
        try:
            self.stat = os.stat(self.path)
        except OSError as e:
            if e.errno != errno.ENOENT:
                raise IOError(e.errno, e.strerror, target)
            self.stat = None
        st = self.stat
        if st is None:
            self._check_folder()
            self.mode = 'rename'
            return
        if stat.S_ISDIR(st.st_mode):
            raise IOError(errno.EISDIR, 'Is a directory', target)
        if stat.S_ISFIFO(st.st_mode) or stat.S_ISCHR(st.st_mode):
            self.mode = 'stream'
            return
        if not stat.S_ISREG(st.st_mode):
            raise IOError(errno.EINVAL, 'not a regular file, FIFO or character device; '
                          'refusing to write to it', target)
        check_not_input(target, st, self.inputs)
        if not os.access(self.path, os.W_OK):
            raise IOError(errno.EACCES, os.strerror(errno.EACCES), target)
        foreign = st.st_uid != os.geteuid() and os.geteuid() != 0
        self.mode = 'inplace' if st.st_nlink > 1 or foreign else 'rename'

    def _check_folder(self):
        folder = os.path.dirname(self.path) or os.curdir
        try:
            st = os.stat(folder)
        except OSError as e:
            raise IOError(e.errno, e.strerror, self.target)
        if not stat.S_ISDIR(st.st_mode):
            raise IOError(errno.ENOTDIR, os.strerror(errno.ENOTDIR), self.target)

    # Staging.

    def _stage(self):
        import tempfile  # here: its imports cost a command that writes nothing
        folder = os.path.dirname(self.path) if self.path else None
        if self.mode == 'rename':
            try:
                fd, self.temp = tempfile.mkstemp(prefix='.%s.' % os.path.basename(self.path),
                                                 suffix='.part', dir=folder)
            except (OSError, IOError) as e:
                if self.stat is None or e.errno not in (errno.EACCES, errno.EPERM,
                                                        errno.EROFS):
                    raise
                # A writable file in a folder that takes no new file: overwrite it in place.
                self.mode = 'inplace'
            else:
                self.file = os.fdopen(fd, 'w+b')
                return
        # Unnamed staging file: nothing is left behind even if the process is killed.
        try:
            self.file = tempfile.TemporaryFile(dir=folder if self.mode == 'inplace' else None)
        except (OSError, IOError):
            if self.mode != 'inplace':
                raise
            self.file = tempfile.TemporaryFile()

    # Committing.

    def _keep_attributes(self, fd):
        """Gives the temporary file the target's owner and permission bits (a new file's
        permissions when there is no target yet)."""
        st = self.stat
        if st is None:
            os.fchmod(fd, 0o666 & ~_umask())
            return
        if hasattr(os, 'fchown'):
            for uid in (st.st_uid, -1):
                try:
                    os.fchown(fd, uid, st.st_gid)
                    break
                except OSError:
                    continue
        # After fchown: changing the owner clears set-user-ID bits.
        os.fchmod(fd, stat.S_IMODE(st.st_mode))

    def _commit(self):
        self.file.flush()
        fd = self.file.fileno()
        if self.mode == 'rename':
            self._keep_attributes(fd)
            _fsync(fd)
            self.file.close()
            replace_file(self.temp, self.path)
            self.temp = None
            _fsync_dir(os.path.dirname(self.path))
        elif self.target == STDIO:
            # Python's own buffered output first, then the data.
            sys.stdout.flush()
            _copy(fd, 1)
        elif self.mode == 'stream':
            out = os.open(self.path, os.O_WRONLY)
            try:
                _copy(fd, out)
            finally:
                os.close(out)
        else:
            self._overwrite(fd)

    def _overwrite(self, fd):
        size = os.fstat(fd).st_size
        out = os.open(self.path, os.O_WRONLY)
        try:
            # Space first where the system can reserve it: a full disk then fails before the
            # file is touched.
            if size > os.fstat(out).st_size and hasattr(os, 'posix_fallocate'):
                try:
                    os.posix_fallocate(out, 0, size)
                except OSError as e:
                    if e.errno not in (errno.EINVAL, errno.EOPNOTSUPP, errno.ENOSYS):
                        raise
            with _InterruptAfter():
                _copy(fd, out)
                os.ftruncate(out, size)
            _fsync(out)
        finally:
            os.close(out)

    def _discard(self):
        if self.file is not None:
            try:
                self.file.close()
            except (OSError, IOError):
                pass
        if self.temp is not None:
            try:
                os.unlink(self.temp)
            except OSError:
                pass
            self.temp = None

    def __enter__(self):
        try:
            self._examine()
            self._stage()
        except BaseException as e:
            self._discard()
            raised = _rename_error(e, _display(self.target))
            if raised is e:
                raise
            raise raised
        return self.file

    def __exit__(self, kind, value, trace):
        if kind is None:
            try:
                self._commit()
            except BaseException as e:
                temp = self.temp
                self._discard()
                raised = _rename_error(e, _display(self.target), temp)
                if raised is e:
                    raise
                raise raised
            self._discard()
            return False
        temp = self.temp
        self._discard()
        raised = _rename_error(value, _display(self.target), temp)
        if raised is not value:
            raise raised
        return False


def check_output(target, inputs=()):
    """Raises what open_output would raise about `target` before writing (a directory, a
    missing folder, the same file as an input, ...), without creating anything: lets a command
    refuse a bad output before its work."""
    output = SafeOutput(target, inputs)
    try:
        output._examine()
    except EnvironmentError as e:
        raised = _rename_error(e, _display(target))
        if raised is e:
            raise
        raise raised


def open_output(target, inputs=()):
    """Context manager yielding a binary file object whose content becomes file `target` ('-':
    standard output) when the block ends normally; see the module text for what is guaranteed.
    Raises SameFileError when `target` is the same file as one of the paths in `inputs`."""
    return SafeOutput(target, inputs)


def write_bytes(path, data, inputs=()):
    """Writes `data` to `path` ('-': standard output) through open_output."""
    with open_output(path, inputs) as f:
        f.write(data)
