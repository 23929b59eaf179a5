"""Output files written under a temporary name in the target's directory, renamed when done."""
import errno
import os
import tempfile

from .compat import replace_file


def _umask():
    mask = os.umask(0o22)
    os.umask(mask)
    return mask


class AtomicOutput(object):
    """Context manager: yields (fd, temporary path); on success renames the temporary file to
    `path` (permissions as a newly created file would get), on any exception removes it."""

    def __init__(self, path):
        self.path = path
        self.fd = None
        self.temp = None

    def __enter__(self):
        directory = os.path.dirname(os.path.abspath(self.path))
        if not os.path.isdir(directory):
            raise IOError(errno.ENOENT, 'no such directory for the output file', self.path)
        self.fd, self.temp = tempfile.mkstemp(prefix='.%s.' % os.path.basename(self.path),
                                              suffix='.part', dir=directory)
        os.fchmod(self.fd, 0o666 & ~_umask())
        return self

    def __exit__(self, kind, value, trace):
        if self.fd is not None:
            try:
                os.close(self.fd)
            except OSError:
                pass
        if kind is None:
            replace_file(self.temp, self.path)
        else:
            try:
                os.unlink(self.temp)
            except OSError:
                pass
        return False

    def detach(self):
        """Hands the descriptor over to a caller that closes it itself."""
        fd, self.fd = self.fd, None
        return fd


def write_bytes(path, data):
    """Writes `data` to `path` through a temporary file."""
    with AtomicOutput(path) as out:
        with os.fdopen(out.detach(), 'wb') as f:
            f.write(data)
