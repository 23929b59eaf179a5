"""File-system steps the output layer is built of: syncing, copying and holding Ctrl-C back
while a file is overwritten in place."""
import errno
import os
import signal

# Bytes copied per system call when staged data goes to its target.
CHUNK = 1 << 20


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
