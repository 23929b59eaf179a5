"""Output files written safely: every writer of the package goes through open_output.

The target is the file the caller named (a str or bytes name, a path-like object, or an open
file descriptor):
- '-' is standard output; a file descriptor is written at its position and left open;
- a symbolic link is followed: the link stays and the file it points to gets the data;
- a directory is refused before anything is written, and so is a block device or socket;
- a FIFO or character device is written into directly, never replaced;
- a regular file is replaced in one step: the data goes to a temporary file beside it that is
  renamed over it when complete; an existing file keeps its permission bits and its owner;
- a regular file with more than one hard link, or owned by another user, or in a folder that
  takes no temporary file, is overwritten in place once the complete data is staged and the
  space it needs is reserved (a full disk fails before an old byte is replaced), under an
  exclusive lock (a second writer waits for the first): every link keeps seeing the file and the
  owner stays;
- an output that is the same file as one of the inputs is refused before anything is written.

Streams (standard output, FIFOs, devices) and in-place targets get the data only once it is
complete, so a failed writer sends nothing. On every failure, KeyboardInterrupt included, the
temporary file is removed, the old target is left as it was and the error names the target.

output_target decides what a target is and which strategy writes it; output_strategies holds the
strategies; fileops the file-system steps they are made of.
"""
import os

from .output_target import (STDIO, STDOUT_NAME, SameFileError, check_not_input, choose,
                            display, normalize, stage)

__all__ = ['STDIO', 'STDOUT_NAME', 'SafeOutput', 'SameFileError', 'check_not_input',
           'check_output', 'open_output', 'write_bytes']


def _rename_error(e, target, temp=None):
    """`e` naming `target` when it names nothing or only the temporary file; else `e` itself.
    An OS error is shown alone: the error it was made from, whose reason it carries, is not
    chained to its traceback."""
    if isinstance(e, EnvironmentError) and e.errno is not None \
            and (e.filename is None or e.filename == temp):
        e = IOError(e.errno, e.strerror or os.strerror(e.errno), target)
    if isinstance(e, EnvironmentError):
        e.__suppress_context__ = True
    return e


class SafeOutput(object):
    """Context manager over one output: yields a binary file object to write to, commits the
    data to the target when the block ends normally and removes every trace otherwise.

    mode: 'rename' (a temporary file beside the target, renamed over it), 'inplace' (a regular
    file overwritten when the data is complete) or 'stream' (standard output, FIFO, character
    device: written into when the data is complete).
    """

    def __init__(self, target, inputs=(), sync_folder=True):
        self.target = normalize(target)
        self.inputs = [p for p in inputs if p]
        self.sync_folder = sync_folder
        self.strategy = None
        self.file = None

    @property
    def mode(self):
        return self.strategy.mode if self.strategy is not None else None

    def _fail(self, e):
        """Removes what was made and raises `e`, naming the target."""
        temp = self.strategy.temp if self.strategy is not None else None
        self._discard()
        raised = _rename_error(e, display(self.target), temp)
        if raised is e:
            raise
        raise raised

    def _discard(self):
        if self.strategy is not None:
            self.strategy.discard()

    def __enter__(self):
        try:
            self.strategy = choose(self.target, self.inputs)
            self.strategy, self.file = stage(self.strategy)
            self.strategy.sync_folder = self.sync_folder
        except BaseException as e:
            self._fail(e)
        return self.file

    def __exit__(self, kind, value, trace):
        if kind is None:
            try:
                self.strategy.commit()
            except BaseException as e:
                self._fail(e)
            self._discard()
            return False
        temp = self.strategy.temp
        self._discard()
        raised = _rename_error(value, display(self.target), temp)
        if raised is not value:
            raise raised
        return False


def check_output(target, inputs=()):
    """Raises what open_output would raise about `target` before writing (a directory, a
    missing folder, the same file as an input, ...), without creating anything: lets a command
    refuse a bad output before its work."""
    target = normalize(target)
    try:
        choose(target, [p for p in inputs if p])
    except EnvironmentError as e:
        raised = _rename_error(e, display(target))
        if raised is e:
            raise
        raise raised


def open_output(target, inputs=(), sync_folder=True):
    """Context manager yielding a binary file object whose content becomes file `target` ('-':
    standard output) when the block ends normally; see the module text for what is guaranteed.
    Raises SameFileError when `target` is the same file as one of the paths in `inputs`.
    sync_folder=False leaves the fsync of the folder after a rename to the caller, who makes
    many files durable with one (the file's own data is synced either way)."""
    return SafeOutput(target, inputs, sync_folder)


def write_bytes(path, data, inputs=()):
    """Writes `data` to `path` ('-': standard output) through open_output."""
    with open_output(path, inputs) as f:
        f.write(data)
