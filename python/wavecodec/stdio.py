"""A C stdio stream (FILE *) opened through libc, for the library's header functions."""
import ctypes
import errno
import os

from . import native
from .compat import fs_path


class CFile(object):
    """A libc FILE * with line reading, position and closing; usable in a with statement."""

    def __init__(self, path, mode, fd=None):
        self.libc = native.libc()
        self.path = path
        if fd is None and os.path.isdir(path):
            # fopen opens a folder for reading; its first read would fail without a word.
            raise IOError(errno.EISDIR, os.strerror(errno.EISDIR), path)
        if fd is None:
            self.fp = self.libc.fopen(fs_path(path), mode.encode('ascii'))
        else:
            self.fp = self.libc.fdopen(fd, mode.encode('ascii'))
        if not self.fp:
            err = ctypes.get_errno()
            raise IOError(err, os.strerror(err), path)
        self._buffer = ctypes.create_string_buffer(4096)

    def readline(self):
        """The next whole line as bytes (end-of-line kept), or None at the end of the file."""
        parts = []
        while True:
            if not self.libc.fgets(self._buffer, len(self._buffer), self.fp):
                break
            part = self._buffer.value
            parts.append(part)
            if part.endswith(b'\n') or len(part) < len(self._buffer) - 1:
                break
        return b''.join(parts) if parts else None

    def tell(self):
        return self.libc.ftell(self.fp)

    def seek(self, offset):
        if self.libc.fseek(self.fp, offset, 0) != 0:
            raise IOError('%s: cannot seek' % self.path)

    def write(self, data):
        if data and self.libc.fwrite(data, 1, len(data), self.fp) != len(data):
            err = ctypes.get_errno()
            raise IOError(err, os.strerror(err) if err else 'write failed', self.path)

    def close(self):
        """Closes the stream; IOError when buffered output could not be written."""
        if self.fp:
            fp, self.fp = self.fp, None
            failed = self.libc.ferror(fp) != 0
            if self.libc.fclose(fp) != 0 or failed:
                err = ctypes.get_errno()
                raise IOError(err, os.strerror(err) if err else 'input/output error', self.path)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        try:
            self.close()
        except IOError:
            if exc[0] is None:
                raise
