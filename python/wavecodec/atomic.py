"""Output files written safely (kept for callers of this module; the layer is in safeio)."""
import os

from .safeio import SafeOutput, SameFileError, open_output, write_bytes

__all__ = ['AtomicOutput', 'SameFileError', 'open_output', 'write_bytes']


class AtomicOutput(object):
    """Context manager for code that writes through a descriptor: `detach()` gives a descriptor
    of the staged output that the caller closes itself; `temp` is the name to use in messages
    (the target's). Commits as open_output does."""

    def __init__(self, path, inputs=()):
        self._output = SafeOutput(path, inputs)
        self.path = path
        self.temp = path

    def __enter__(self):
        self.file = self._output.__enter__()
        return self

    def __exit__(self, kind, value, trace):
        return self._output.__exit__(kind, value, trace)

    def detach(self):
        return os.dup(self.file.fileno())
