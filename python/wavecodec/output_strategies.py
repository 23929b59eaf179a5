"""The ways an output reaches its target, one class each: a temporary file renamed over a regular
file, a regular file overwritten in place, a FIFO or device written into, an open descriptor
(standard output).

Each stages the data in a file object (`stage`), sends it to the target once it is complete
(`commit`) and removes what it made (`discard`, also after a commit).
"""
import os
import stat
import sys

from . import fileops
from .compat import replace_file


class Staged(object):
    """Data staged in an unnamed temporary file: nothing is left behind even if the process is
    killed. Subclasses say where the data goes."""

    mode = None
    temp = None

    def __init__(self, path=None, st=None):
        self.path = path
        self.stat = st
        self.file = None

    def stage(self, folder=None):
        import tempfile  # here: its imports cost a command that writes nothing
        self.file = tempfile.TemporaryFile(dir=folder)
        return self.file

    def commit(self):
        self.file.flush()
        self.send(self.file.fileno())

    def send(self, fd):
        raise NotImplementedError

    def discard(self):
        if self.file is not None:
            try:
                self.file.close()
            except (OSError, IOError):
                pass


class DescriptorOutput(Staged):
    """An open file descriptor (standard output for '-'): written into at its position once the
    data is complete, and left open."""

    mode = 'stream'

    def __init__(self, fd, st=None):
        Staged.__init__(self, None, st)
        self.fd = fd

    def send(self, fd):
        if self.fd == 1:
            # Python's own buffered output first, then the data.
            sys.stdout.flush()
        fileops.copy(fd, self.fd)


class StreamOutput(Staged):
    """A FIFO or character device: opened and written into once the data is complete."""

    mode = 'stream'

    def send(self, fd):
        out = os.open(self.path, os.O_WRONLY)
        try:
            fileops.copy(fd, out)
        finally:
            os.close(out)


class InPlaceOutput(Staged):
    """A regular file overwritten once the data is complete: every hard link keeps seeing it
    and its owner stays."""

    mode = 'inplace'

    def stage(self, folder=None):
        folder = os.path.dirname(self.path)
        try:
            return Staged.stage(self, folder)
        except (OSError, IOError):
            # A folder that takes no new file: stage in the temporary folder.
            return Staged.stage(self)

    def send(self, fd):
        size = os.fstat(fd).st_size
        out = os.open(self.path, os.O_WRONLY)
        try:
            # One in-place writer at a time: two would interleave their data.
            fileops.lock(out)
            # The space first: a full disk then fails before the first old byte is replaced.
            fileops.reserve(out, size)
            with fileops.InterruptAfter():
                fileops.copy(fd, out)
                os.ftruncate(out, size)
            fileops.fsync(out)
        finally:
            os.close(out)


class RenameOutput(Staged):
    """A regular file, or a new one, replaced in one step: the data goes to a temporary file
    beside it that is renamed over it when complete."""

    mode = 'rename'
    # False when the caller makes the folder's entry durable itself (one fsync of a folder for
    # many files: the archive conversion does it once per batch).
    sync_folder = True

    def stage(self, folder=None):
        try:
            import tempfile
            fd, self.temp = tempfile.mkstemp(prefix='.%s.' % os.path.basename(self.path),
                                             suffix='.part', dir=os.path.dirname(self.path))
        except EnvironmentError as e:
            # The error names a temporary name the caller never gave: messages name the target.
            raise IOError(e.errno, e.strerror)
        self.file = os.fdopen(fd, 'w+b')
        return self.file

    def commit(self):
        self.file.flush()
        fd = self.file.fileno()
        self._keep_attributes(fd)
        fileops.fsync(fd)
        self.file.close()
        replace_file(self.temp, self.path)
        self.temp = None
        if self.sync_folder:
            fileops.fsync_dir(os.path.dirname(self.path))

    def _keep_attributes(self, fd):
        """Gives the temporary file the target's owner and permission bits (a new file's
        permissions when there is no target yet)."""
        st = self.stat
        if st is None:
            os.fchmod(fd, 0o666 & ~fileops.umask())
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

    def discard(self):
        Staged.discard(self)
        if self.temp is not None:
            try:
                os.unlink(self.temp)
            except OSError:
                pass
            self.temp = None
