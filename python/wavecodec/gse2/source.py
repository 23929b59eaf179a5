"""Inputs of the readers: a path, a bytes-like object or a binary file object, held in memory.

Every source is read once, in one piece: a path with one read of the whole file, a file object
(an open file, io.BytesIO, sys.stdin.buffer, gzip.open(...)) with read(). bytes, bytearray and
mmap objects are scanned where they are; other buffers (memoryview, array) are taken by their
bytes. The whole text in memory lets the readers find section ends with one search and hand a
data section to the library in one call.
"""
import ctypes
import gzip
import io
import mmap
import os
import zlib
from array import array

from .. import native
from ..compat import PY2, array_to_bytes, string_types, text_type
from ..errors import FormatError

# Bytes up to which a search costs less in Python than through a foreign call.
SHORT_SEARCH = 4096


class Source(object):
    """A file's bytes: `data` (bytes, bytearray or mmap), `name` for messages, and `address`
    (the C address of data[0]) for the library calls."""

    def __init__(self, data, name):
        self.data = data
        self.name = name
        self._view = None
        self._address = None
        self._memmem = None

    @property
    def address(self):
        if self._address is None:
            if isinstance(self.data, bytes):
                # A c_char_p made from bytes points at the object's own storage: no copy.
                self._view = ctypes.c_char_p(self.data)
                self._address = ctypes.cast(self._view, ctypes.c_void_p).value or 0
            else:
                self._view = (ctypes.c_char * len(self.data)).from_buffer(self.data)
                self._address = ctypes.addressof(self._view)
        return self._address

    def with_line_feeds(self):
        """This source, or one whose lines all end in LF when some end in a lone CR (CR, LF and
        CR LF end lines alike; LF and CR LF are left as they are, the readers take both)."""
        cr = self.find(b'\r', 0, len(self.data))
        if cr < 0 or self.data.count(b'\r', cr) == self.data.count(b'\r\n', cr):
            return self
        data = bytes(self.data[:]).replace(b'\r\n', b'\n').replace(b'\r', b'\n')
        return Source(data, self.name)

    def find(self, needle, start, end):
        """The index of the first `needle` (bytes) in data[start:end], or -1. libc's memmem
        scans several times faster than bytes.find on code text, but costs a foreign call:
        the first bytes of a range (where the sections of short waveforms end) are searched by
        the object's own find."""
        if end - start < len(needle):
            return -1
        if end - start <= SHORT_SEARCH:
            return self.data.find(needle, start, end)
        near = self.data.find(needle, start, start + SHORT_SEARCH)
        if near >= 0:
            return near
        # Matches that begin before here lie inside the part searched.
        start += SHORT_SEARCH - len(needle) + 1
        if self._memmem is None:
            self._memmem = native.libc().memmem
        found = self._memmem(self.address + start, end - start, needle, len(needle))
        return found - self.address if found else -1


def _buffer_bytes(source):
    """The bytes of a buffer object other than bytes/bytearray, using its storage when that is
    a bytes object already."""
    view = memoryview(source)
    if not PY2:
        whole = isinstance(view.obj, bytes) and view.nbytes == len(view.obj) and view.contiguous
        if whole:
            return view.obj
    return view.tobytes()


def load(source):
    """A Source for `source`: a path (text, or an os.PathLike), a bytes-like object, or a binary
    file object. Raises EnvironmentError for files that cannot be read and TypeError for other
    objects."""
    if isinstance(source, text_type) and ('\n' in source or '\r' in source) and \
            not os.path.exists(source):
        raise TypeError('read() was given text holding line ends, not a file name: give the '
                        "file's name, or its content as bytes (text.encode('latin-1'))")
    if isinstance(source, text_type) or hasattr(source, '__fspath__') or \
            (PY2 and isinstance(source, bytes) and _looks_like_path(source)):
        return _load_path(source)
    if isinstance(source, (bytes, bytearray)):
        return Source(_gunzipped(source, '<bytes>'), '<bytes>')
    if isinstance(source, mmap.mmap):
        try:
            (ctypes.c_char * 1).from_buffer(source)
            return Source(source, '<mmap>')
        except TypeError:  # a read-only map has no writable buffer for ctypes
            return Source(source[:], '<mmap>')
    if isinstance(source, array):
        return Source(array_to_bytes(source), '<array>')
    if hasattr(source, 'read'):
        data = source.read()
        if not isinstance(data, (bytes, bytearray)):
            raise TypeError('%s is opened in text mode; open it in binary mode (rb)'
                            % _stream_name(source))
        return Source(_gunzipped(data, _stream_name(source)), _stream_name(source))
    try:
        return Source(_buffer_bytes(source), '<bytes>')
    except TypeError:
        raise TypeError('cannot read waveforms from %s: give a path, a bytes-like object or '
                        'a binary file object' % type(source).__name__)


def _looks_like_path(data):
    """Under Python 2 a str is both a name and bytes: one that is not empty, holds no line end
    (LF or CR) and no NUL is a name. (bytearray, memoryview and file objects are always contents.)"""
    return 0 < len(data) < 4096 and b'\n' not in data and b'\r' not in data and \
        b'\0' not in data


def _stream_name(stream):
    name = getattr(stream, 'name', None)
    if isinstance(name, bytes) and not PY2:
        name = name.decode('utf-8', 'replace')
    return name if isinstance(name, string_types) else '<stream>'


def _load_path(path):
    if hasattr(os, 'fspath'):
        path = os.fspath(path)
    with open(path, 'rb') as f:
        name = path if isinstance(path, string_types) else _stream_name(f)
        return Source(_gunzipped(f.read(), name), name)


def _gunzipped(data, name):
    """`data` itself, or its decompressed content when it is gzip data (known by its magic
    number: a GSE2 text never begins with byte 0x1f)."""
    if data[:2] != b'\x1f\x8b':
        return data
    try:
        with gzip.GzipFile(fileobj=io.BytesIO(data), mode='rb') as f:
            return f.read()
    except (IOError, OSError, EOFError, zlib.error) as e:
        raise FormatError('%s: damaged gzip data (%s)' % (name, e))
