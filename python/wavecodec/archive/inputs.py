"""Opening the inputs of an archive run, and reading them with bounds.

An input is opened without blocking and checked to be a regular file after opening: a file
replaced by a FIFO after the walk is a fault, not a read that waits forever. Its format is
told from its first bytes: gzip data is inflated as a stream, at most INFLATE_BYTES (or
INFLATE_RATIO times its own size when that is more: gzip holds up to about 1000 times its size,
GSE2 text a few times); binary data (a NUL byte among the first bytes) is no GSE2 text; a text
that holds no keyword line (WID2, DAT2) is told so after a streamed search, never read whole."""
import errno
import gzip
import io
import os
import re
import stat
import zlib

from .. import read
from ..commandline import display, read_bytes
from ..compat import PY2
from ..errors import FormatError
from . import headers
from .headers import BLOCK

GSE2_EXTENSIONS = ('.gse', '.gse2', '.ims', '.msg')
SEGY_EXTENSIONS = ('.sgy', '.segy', '.seg')
SU_EXTENSIONS = ('.su',)
# A SEG-Y file opens with a 3200-byte text header of 40 card images, without line ends, and a
# 400-byte binary header; a GSE2 file is lines of text.
SEGY_HEAD = 3600
TEXT_HEADER = 3200
GZIP_MAGIC = b'\x1f\x8b'
# A GSE2 text holds no NUL byte: one among the first PROBE bytes makes the file binary.
PROBE = 4096
INFLATE_BYTES = 256 << 20
INFLATE_RATIO = 20

# A line that opens a waveform or a data section: the reader finds none in a file that is not
# GSE2. (Searched in blocks that begin with the last bytes of the one before, a line end
# standing for the file's start and end.)
_KEYWORD_LINE = re.compile(br'[\r\n](?:WID2|DAT[12])[ \t\r\n]')
_CARRY = 6


def _name(path):
    return display(path)


def open_input(path, name=None):
    """A binary file object over the regular file `path`, opened without blocking (a FIFO or
    device put in its place is never waited on); IOError naming the input (`name`, else
    `path`) for anything but a regular file. The file object is named `name` too."""
    name = path if name is None else name
    flags = os.O_RDONLY | getattr(os, 'O_NONBLOCK', 0) | getattr(os, 'O_NOCTTY', 0) | \
        getattr(os, 'O_CLOEXEC', 0)
    try:
        fd = os.open(path, flags)
    except OSError as e:
        raise IOError(e.errno, e.strerror, name)
    try:
        info = os.fstat(fd)
        if stat.S_ISDIR(info.st_mode):
            raise IOError(errno.EISDIR, os.strerror(errno.EISDIR), name)
        if not stat.S_ISREG(info.st_mode):
            what = 'a FIFO' if stat.S_ISFIFO(info.st_mode) else 'not a regular file'
            raise IOError(errno.EINVAL, what + ': not read', name)
        if hasattr(os, 'O_NONBLOCK'):
            import fcntl
            fcntl.fcntl(fd, fcntl.F_SETFL, fcntl.fcntl(fd, fcntl.F_GETFL) & ~os.O_NONBLOCK)
        raw = io.FileIO(fd, 'rb', closefd=True)
    except BaseException:
        os.close(fd)
        raise
    raw.name = name
    return io.BufferedReader(raw, BLOCK)


def kind_by_name(path):
    """'gse2', 'segy' or 'su' by the extension, else None."""
    ext = os.path.splitext(path)[1].lower()
    if ext in GSE2_EXTENSIONS:
        return 'gse2'
    if ext in SEGY_EXTENSIONS:
        return 'segy'
    if ext in SU_EXTENSIONS:
        return 'su'
    return None


def kind_of(path, head):
    """'gse2', 'segy' or 'su': by the extension, else by the first bytes `head` (a SEG-Y file
    has no line end and no NUL byte in its 3200-byte text header); everything else is read as
    GSE2 (reading says why it is not)."""
    kind = kind_by_name(path)
    if kind is not None:
        return kind
    text = head[:TEXT_HEADER]
    if len(head) >= SEGY_HEAD and b'\n' not in text and b'WID2' not in text and \
            b'\0' not in text and head[:2] != GZIP_MAGIC:
        return 'segy'
    return 'gse2'


def head_of(f, size=SEGY_HEAD):
    """The first bytes of `f` (left where they end: use rewind)."""
    return f.read(size)


def not_gse2(name):
    """The reader's own fault for an input without a WID2 line (FormatError)."""
    try:
        read(b'', name=name)
    except FormatError as e:
        return e
    return FormatError('%s: no WID2 line: not a GSE2.0 file' % name)  # pragma: no cover


def _binary(head, name):
    nul = head.find(b'\0', 0, PROBE)
    if nul >= 0:
        raise FormatError('%s: binary data (a NUL byte at offset %d): not a GSE2.0 file'
                          % (name, nul))


def has_keyword_line(f, first):
    """Whether the text of `f`, of which `first` was read already (from its start), holds a
    line that opens a waveform or a data section; searched a block at a time."""
    carry = b'\n'
    block = first
    while True:
        more = f.read(BLOCK) if block else b''
        text = carry + block + (b'' if more else b'\n')
        if _KEYWORD_LINE.search(text):
            return True
        if not more:
            return False
        carry = text[-_CARRY:]
        block = more


def inflated(f, name, size):
    """The content of gzip data `f` (at its start; `size`: its bytes), inflated as a stream
    and refused beyond its bound (see the module text)."""
    limit = max(INFLATE_BYTES, INFLATE_RATIO * (size or 0))
    parts = []
    total = 0
    try:
        with gzip.GzipFile(fileobj=f, mode='rb') as z:
            while True:
                part = z.read(BLOCK)
                if not part:
                    break
                total += len(part)
                if total > limit:
                    raise FormatError('%s: gzip data inflating to more than %d MB: not read'
                                      % (name, limit >> 20))
                parts.append(part)
    except (IOError, OSError, EOFError, zlib.error) as e:
        raise FormatError('%s: damaged gzip data (%s)' % (name, e))
    data = b''.join(parts)
    if data[:2] == GZIP_MAGIC:
        raise FormatError('%s: gzip data inside gzip data: not read' % name)
    return bytearray(data) if PY2 else data


def gse2_text(path, f=None, headers_only=False):
    """The GSE2 input `path` for the reader: its bytes (gzip inflated, within its bound); for
    `headers_only`, a large file as headers.sparse_text gives it. FormatError when the first
    bytes, or a streamed search, tell it is no GSE2 text. `f`: the open input (at its start);
    standard input is read here."""
    name = _name(path)
    if f is None:
        data = read_bytes(path)
        if data[:2] == GZIP_MAGIC:
            return inflated(io.BytesIO(data), name, len(data))
        return bytearray(data) if PY2 else data
    size = os.fstat(f.fileno()).st_size
    first = f.read(BLOCK)
    if first[:2] == GZIP_MAGIC:
        f.seek(0)
        return inflated(f, name, size)
    _binary(first, name)
    if len(first) < BLOCK:
        # (Python 2 takes a short str without line ends for a file name.)
        return bytearray(first) if PY2 else first
    if not _KEYWORD_LINE.search(b'\n' + first) and not has_keyword_line(f, first):
        raise not_gse2(name)
    f.seek(0)
    if headers_only and size >= headers.SPARSE_FROM:
        sparse = headers.sparse_text(f, size)
        if sparse is not None:
            return sparse
        f.seek(0)
    return bytearray(f.read()) if PY2 else f.read()


__all__ = ['BLOCK', 'GZIP_MAGIC', 'gse2_text', 'has_keyword_line', 'inflated', 'kind_by_name',
           'kind_of', 'not_gse2', 'open_input']
