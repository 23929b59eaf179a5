"""File-system steps the output layer is built of: syncing, copying, reserving space, locking
and holding Ctrl-C back while a file is overwritten in place."""
import ctypes
import errno
import os
import signal

try:
    import fcntl
except ImportError:  # pragma: no cover - not a POSIX system
    fcntl = None

# Bytes copied per system call when staged data goes to its target.
CHUNK = 1 << 20
# Errors of a file system or kernel that cannot reserve space; zeros are written instead.
_NO_FALLOCATE = (errno.EINVAL, errno.EOPNOTSUPP, errno.ENOSYS)


def umask():
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


def fsync(fd):
    """Flushes a file to its device; file systems that cannot are passed over."""
    try:
        os.fsync(fd)
    except OSError as e:
        if e.errno not in (errno.EINVAL, errno.EROFS, errno.EOPNOTSUPP):
            raise


def fsync_dir(directory):
    """Makes a rename durable; file systems that cannot sync a folder are passed over."""
    try:
        fd = os.open(directory, os.O_RDONLY)
    except OSError:
        return
    try:
        fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


def write_all(fd, data):
    view = memoryview(data)
    while len(view):
        done = os.write(fd, view)
        view = view[done:]


def copy(source_fd, target_fd):
    """Copies the whole of `source_fd` (from its start) to `target_fd`; returns the size."""
    os.lseek(source_fd, 0, os.SEEK_SET)
    total = 0
    while True:
        chunk = os.read(source_fd, CHUNK)
        if not chunk:
            return total
        write_all(target_fd, chunk)
        total += len(chunk)


def _posix_fallocate(fd, offset, length):
    """posix_fallocate of the C library (Python 2.7 has no os.posix_fallocate)."""
    if hasattr(os, 'posix_fallocate'):
        os.posix_fallocate(fd, offset, length)
        return
    try:
        function = ctypes.CDLL(None).posix_fallocate
    except (OSError, AttributeError):
        raise OSError(errno.ENOSYS, os.strerror(errno.ENOSYS))
    function.argtypes = [ctypes.c_int, ctypes.c_int64, ctypes.c_int64]
    function.restype = ctypes.c_int
    code = function(fd, offset, length)
    if code:
        raise OSError(code, os.strerror(code))


def reserve(fd, size):
    """Grows the file `fd` to `size` bytes of allocated space, touching none of its present
    bytes; a full disk (or a file size limit) fails here, and the file keeps its old size.
    Where the file system cannot reserve space, zeros are appended instead."""
    old = os.fstat(fd).st_size
    if size <= old:
        return
    try:
        try:
            _posix_fallocate(fd, old, size - old)
        except OSError as e:
            if e.errno not in _NO_FALLOCATE:
                raise
            os.lseek(fd, old, os.SEEK_SET)
            left = size - old
            zeros = b'\0' * min(left, CHUNK)
            while left:
                write_all(fd, zeros[:left])
                left -= min(left, len(zeros))
            fsync(fd)
    except BaseException:
        os.ftruncate(fd, old)
        raise
    os.lseek(fd, 0, os.SEEK_SET)


def lock(fd):
    """Waits for an exclusive lock on the file open for writing as `fd` (released when it is
    closed): two processes overwriting one file in place take turns."""
    if fcntl is None:
        return
    while True:
        try:
            fcntl.lockf(fd, fcntl.LOCK_EX)
            return
        except (IOError, OSError) as e:
            if e.errno == errno.EINTR:
                continue
            if e.errno in (errno.ENOLCK, errno.EOPNOTSUPP, errno.EINVAL):
                return  # a file system without locks: nothing to wait for
            raise


class InterruptAfter(object):
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
