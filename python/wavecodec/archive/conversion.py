"""Conversion of an archive: the Convert task, which writes each GSE2 file as one miniSEED
file and commits the outputs of a batch together, the outputs' names mirroring the input tree,
and the test of an output that is up to date (--skip-existing)."""
import ctypes
import os
import signal

from ..errors import LibraryNotFoundError, WaveformError
from ..gse2.waveform import extras_of
from . import walk
from .batching import Stopped
from .tasks import Converted, Task, new_tuple, open_item, message

SUFFIXES = {'mseed': '.mseed'}
UP_TO_DATE = 'skipped: up to date (--skip-existing)'


class _Held(object):
    """Holds SIGINT and SIGTERM back until the block ends, then lets them act (in the main
    thread; elsewhere their handlers cannot be changed, nor run)."""

    SIGNALS = (signal.SIGINT, signal.SIGTERM)

    def __enter__(self):
        self.caught = []
        self.saved = {}
        try:
            for signum in self.SIGNALS:
                self.saved[signum] = signal.signal(signum, self._catch)
        except ValueError:
            pass
        return self

    def _catch(self, signum, frame):
        self.caught.append(signum)

    def __exit__(self, kind, value, trace):
        for signum, handler in self.saved.items():
            if handler is None:  # installed outside Python: its default
                handler = signal.default_int_handler if signum == signal.SIGINT else \
                    signal.SIG_DFL
            signal.signal(signum, handler)
        for signum in self.caught:
            os.kill(os.getpid(), signum)
        return False


_WRITEBACK = []
_SYNC_FILE_RANGE_WRITE = 2


def _start_writeback(fd):
    """Starts writing the dirty pages of `fd` to its device without waiting (Linux's
    sync_file_range; elsewhere nothing: the sync that follows writes them)."""
    if not _WRITEBACK:
        try:
            call = ctypes.CDLL(None, use_errno=True).sync_file_range
            call.argtypes = [ctypes.c_int, ctypes.c_int64, ctypes.c_int64, ctypes.c_uint]
            call.restype = ctypes.c_int
        except (AttributeError, OSError):
            call = None
        _WRITEBACK.append(call)
    if _WRITEBACK[0] is not None:
        _WRITEBACK[0](fd, 0, 0, _SYNC_FILE_RANGE_WRITE)


def _naming(e, target):
    """An OS error about an output naming `target` (the staged file it was about has a name
    the caller never gave)."""
    if isinstance(e, EnvironmentError) and e.errno is not None and not e.filename:
        return IOError(e.errno, e.strerror or os.strerror(e.errno), target)
    return e


class Convert(Task):
    """One GSE2 file into one miniSEED file (items are (input, output) pairs). The input is
    read whole and verified first: a faulty waveform stops the file and nothing is written.

    Each output is written to a temporary file beside its target (through the safe output
    layer), and the batch's outputs are committed together (finish, or every PENDING
    outputs): the writing of all of them to the disk started, then each file synced and
    renamed into place, then each folder written synced once: one sync of each file and of
    each folder, the syncs after the first waiting for little, and nothing reported written
    before it is durable. A
    batch that ends in an exception leaves no temporary file (abandon). `stop_flag`: a path
    whose existence tells the task to stop (a Dask run's Ctrl-C), looked at before each file
    and before each commit."""

    PENDING = 64

    def __init__(self, to='mseed', options=None, select=None, stop_flag=None):
        Task.__init__(self, select)
        self.to = to
        self.options = dict(options or {})
        self.stop_flag = stop_flag
        self._clear()

    def _clear(self):
        self._pending = []      # (item, target, staged output)
        self._failed = {}       # item: message of an output that could not be committed
        self._folders = set()   # folders whose entries changed

    def __getstate__(self):
        state = dict(self.__dict__)
        for name in ('_pending', '_failed', '_folders'):
            state.pop(name, None)
        return state

    def __setstate__(self, state):
        self.__dict__.update(state)
        self._clear()

    def here(self, item):
        return Task.here(self, item[0])

    def size(self, item):
        return Task.size(self, item[0])

    def stopped(self):
        if self.stop_flag is not None and os.path.lexists(self.full(self.stop_flag)):
            raise Stopped('stopped')

    def __call__(self, item):
        path, target = item
        self.stopped()
        try:
            f, kind = open_item(self, path)
            try:
                if kind != 'gse2':
                    return Converted(path, None, 0, 'skipped: not a GSE2 file')
                waves = self.gse2_waves(path, f)
            finally:
                if f is not None:
                    f.close()
            if not waves:
                return Converted(path, None, 0, 'skipped: no waveform selected')
            self._write(item, waves)
        except (LibraryNotFoundError, Stopped):
            raise
        except (WaveformError, EnvironmentError, ImportError, ValueError) as e:
            return Converted(path, None, 0, message(e, path))
        return Converted(path, target, len(waves), None, extras_of(waves) or None)

    def _write(self, item, waves):
        from .. import mseed
        from ..output_target import choose, stage
        path, target = item
        full = self.full(target)
        self._made(os.path.dirname(full))
        try:
            strategy = choose(full, [] if self.here(item) else [self.full(path)])
        except EnvironmentError as e:
            raise _naming(e, target)
        staged = None
        try:
            # A stop that came while the temporary file is made would leave it unnamed.
            with _Held():
                staged, out = stage(strategy)
            mseed.write(out, waves, **self.options)
            self.stopped()
        except EnvironmentError as e:
            (staged or strategy).discard()
            raise _naming(e, target)
        except BaseException:
            (staged or strategy).discard()
            raise
        staged.sync_folder = False
        self._pending.append((item, target, staged))
        if staged.mode != 'rename' or len(self._pending) >= self.PENDING:
            self._commit()

    def _made(self, folder):
        """Makes `folder` and those above it that are missing; the parent of each one made
        is synced with the batch."""
        if os.path.isdir(folder):
            return
        parent = os.path.dirname(folder)
        if parent and parent != folder:
            self._made(parent)
        try:
            os.mkdir(folder)
        except OSError:
            if not os.path.isdir(folder):  # made meanwhile by another worker
                raise
        self._folders.add(parent or os.curdir)

    def _commit(self):
        pending, self._pending = self._pending, []
        try:
            # Every file's data on its way to the disk first: the syncs that follow then wait
            # for writes already made, and the first journal commit covers them all.
            for _, _, staged in pending:
                if staged.mode == 'rename':
                    staged.file.flush()
                    _start_writeback(staged.file.fileno())
            while pending:
                item, target, staged = pending[0]
                self.stopped()
                try:
                    staged.commit()
                    self._folders.add(os.path.dirname(self.full(target)))
                except EnvironmentError as e:
                    self._failed[item] = message(_naming(e, target), item[0])
                finally:
                    staged.discard()
                    pending.pop(0)
        finally:
            for _, _, staged in pending:
                staged.discard()

    def finish(self, items):
        from ..fileops import fsync_dir
        self._commit()
        for folder in sorted(self._folders):
            fsync_dir(folder)
        failed = self._failed
        self._clear()
        return dict((k, Converted(item[0], None, 0, failed[item]))
                    for k, item in enumerate(items) if item in failed)

    def abandon(self):
        for _, _, staged in self._pending:
            staged.discard()
        self._clear()

    def crashed(self, item, reason):
        return Converted(item[0], None, 0, reason)

    def pack(self, done):
        return tuple(done)

    def unpack(self, packed):
        return new_tuple(Converted, packed)


def targets(listing, out_dir, to='mseed'):
    """The output path of each file of `listing` under `out_dir`, mirroring the input tree;
    ValueError when two inputs would share an output."""
    if to not in SUFFIXES:
        raise ValueError('cannot convert to %r (formats: %s)' % (to, ', '.join(sorted(SUFFIXES))))
    out = [walk.mirrored(path, root, out_dir, SUFFIXES[to])
           for path, root in zip(listing.files, listing.roots)]
    seen = {}
    for path, target in zip(listing.files, out):
        key = os.path.normcase(os.path.abspath(target))
        if key in seen:
            raise ValueError('%s and %s would both be written to %s' % (seen[key], path, target))
        seen[key] = path
    return out


def complete(target, record_length):
    """Whether `target` looks like a whole miniSEED file of `record_length`-byte records: its
    size a multiple of it, its first and last record headers sound."""
    try:
        with open(target, 'rb') as f:
            size = os.fstat(f.fileno()).st_size
            if size == 0 or size % record_length:
                return False
            heads = [f.read(8)]
            f.seek(size - record_length)
            heads.append(f.read(8))
    except (IOError, OSError):
        return False
    for head in heads:
        if len(head) < 8 or not head[:6].replace(b' ', b'0').isdigit() or \
                head[6:7] not in (b'D', b'R', b'Q', b'M') or head[7:8] not in (b' ', b'\0'):
            return False
    return True


def up_to_date(path, mtime, target, record_length):
    try:
        made = os.stat(target).st_mtime
    except OSError:
        return False
    if mtime is None:
        try:
            mtime = os.stat(path).st_mtime
        except OSError:
            return False
    return made >= mtime and complete(target, record_length)


__all__ = ['Convert', 'SUFFIXES', 'UP_TO_DATE', 'complete', 'targets', 'up_to_date']
