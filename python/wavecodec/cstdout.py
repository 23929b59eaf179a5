"""Capture of what C code prints on standard output (file descriptor 1) during a call, so that
the command line can report it on standard error instead of mixing it into its own output."""
import os
import sys
import tempfile

from . import native


class CapturedCStdout(object):
    """Context manager: while active, descriptor 1 goes to a temporary file; afterwards
    `lines` holds what was printed there, one string per line."""

    def __init__(self):
        self.lines = []
        self._saved = None
        self._file = None

    def __enter__(self):
        sys.stdout.flush()
        self._file = tempfile.TemporaryFile()
        self._saved = os.dup(1)
        os.dup2(self._file.fileno(), 1)
        return self

    def __exit__(self, *exc):
        try:
            native.libc().fflush(None)
        finally:
            os.dup2(self._saved, 1)
            os.close(self._saved)
            self._file.seek(0)
            text = self._file.read().decode('latin-1')
            self._file.close()
        self.lines = [line for line in text.splitlines() if line.strip()]
        return False
