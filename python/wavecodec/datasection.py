"""Decoding of one GSE2 data section held in memory: CM6 through the library, INT in Python.

The CM6 road is one call of decomp_6b_chars over the section's text, then rem_2nd_diff and
check_sum over the whole array: no Python work per line or per sample. A library without
decomp_6b_chars is served by decomp_6b_buffer with one line per callback; what that decoder
prints on standard output is captured and returned as notes, never mixed into the host's output.
"""
import ctypes
import os
import re
import sys
import tempfile
from array import array

from . import native
from .compat import PY2

_INT_TEXT = re.compile(br'\s*(?:[+-]?[0-9]+(?:\s+|\Z))*\Z')
_INT_WORD = re.compile(br'^[+-]?[0-9]+$')


def zeros(count):
    """array('i') of `count` zeros, made without a Python loop."""
    a = array('i')
    if count:
        if PY2:
            a.fromstring(b'\0' * (4 * count))
        else:
            a.frombytes(bytes(4 * count))
    return a


def decode_cm6(lib, source, start, end, count, samples):
    """Decodes `count` samples of six-bit code from source.data[start:end] into `samples` (an
    array('i') of at least `count` entries) and removes the second differences of those
    stored. Returns (stored, used, notes): stored as decomp_6b_chars returns it (count, fewer
    when a CHK2 line comes early, -1 when the text ends mid-sample), `used` the bytes consumed,
    `notes` the decoder's diagnostics (a list of text lines)."""
    pointer = native.int_pointer(samples)
    if getattr(lib, 'decomp_6b_chars', None) is not None:
        used = ctypes.c_size_t(0)
        stored = lib.decomp_6b_chars(source.address + start, end - start, count, pointer,
                                     ctypes.byref(used))
        notes = []
        used = used.value
    else:
        stored, used, notes = _decode_by_lines(lib, source.data, start, end, count, pointer)
    if stored > 0:
        lib.rem_2nd_diff(pointer, stored)
    return stored, used, notes


class _CapturedStdout(object):
    """Catches what C code writes on file descriptor 1 while the block runs."""

    def __enter__(self):
        sys.stdout.flush()
        self.file = tempfile.TemporaryFile()
        self.saved = os.dup(1)
        os.dup2(self.file.fileno(), 1)
        return self

    def __exit__(self, *exc):
        try:
            native.libc().fflush(None)
        finally:
            os.dup2(self.saved, 1)
            os.close(self.saved)
        self.file.seek(0)
        self.text = self.file.read().decode('latin-1')
        self.file.close()
        return False


def _decode_by_lines(lib, data, start, end, count, pointer):
    """decomp_6b_buffer over data[start:end], one line per reader call, after a DAT2 line that
    the decoder looks for first. `used` ends after the last line read, or at the CHK2 line that
    stopped the decoder."""
    state = {'pos': start, 'line': start, 'heading': True}

    def read(buf, _stream):
        if state['heading']:
            state['heading'] = False
            ctypes.memmove(buf, b'DAT2\n\0', 6)
            return buf
        pos = state['pos']
        if pos >= end:
            return None
        newline = data.find(b'\n', pos, end)
        stop = end if newline < 0 else newline + 1
        line = bytes(data[pos:min(stop, pos + native.LINE_BUFFER - 1)])
        if line.endswith(b'\r\n'):
            line = line[:-2] + b'\n'
        state['line'], state['pos'] = pos, stop
        ctypes.memmove(buf, line + b'\0', len(line) + 1)
        return buf

    callback = native.LINE_READER(read)
    with _CapturedStdout() as out:
        stored = lib.decomp_6b_buffer(count, pointer, callback, None)
    notes = [line for line in out.text.splitlines() if line.strip()]
    if stored < 0:
        used = end - start
    elif stored < count:
        used = state['line'] - start
    else:
        used = state['pos'] - start
    return stored, used, notes


def decode_int(text):
    """The samples of INT data `text` as array('i'), or (None, the first bad word, why)."""
    if _INT_TEXT.match(text) is None:
        for word in text.split():
            if not _INT_WORD.match(word):
                return None, word, 'is not a decimal integer'
    words = text.split()
    try:
        return array('i', [int(w) for w in words]), None, None
    except OverflowError:
        for word in words:
            if not -2147483648 <= int(word) <= 2147483647:
                return None, word, 'is outside 32 bits'
        raise
