"""The headers of a large GSE2 file without holding its data: what `index` reads.

The reader takes its input in memory. For a file of SPARSE_FROM bytes or more, the index hands
it a copy in which the data lines the reader passes over are left out: a private anonymous map
of the file's size, holding the file's bytes at their own offsets everywhere but in those
lines, which read as NUL bytes followed by as many line feeds (pages never written take no
memory). Offsets, line numbers and the size of each data section stay those of the file, so
the rows and their faults are the reader's own on the whole file; a 20-million-sample waveform
costs a few MB instead of its size.

Which lines the reader passes over is decided here as its headers-only road decides it: a data
section (after a DAT2 or DAT1 line) ends at the first line holding a blank or tab when that is
a CHK2, CHK1 or WID2 line; otherwise at the last CHK line before the next WID2 line (or at that
WID2 line). Left out are the lines of a section before its end, except those the reader's
searches stop at: WID2 and CHK lines and the first line with a blank. The file is read a block
at a time. A file with a lone carriage return (old line ends, which the reader turns into line
feeds, moving every offset) is read whole instead (None from sparse_text)."""
import mmap

# Bytes read at a time.
BLOCK = 1 << 20
SPARSE_FROM = 16 << 20
# Runs of lines shorter than this are kept as they are: they cost little.
ELIDE_FROM = 64 << 10

_AFTER_KEYWORD = (b'', b' ', b'\t', b'\r', b'\n')
_KEEP = (b'WID2', b'CHK2', b'CHK1')


def _keyword(line):
    return bytes(line[:4]) if line[4:5] in _AFTER_KEYWORD else None


class Sparse(mmap.mmap):
    """The map handed to the reader: an mmap (scanned where it is) with bytes' count()."""

    def count(self, sub, start=0, end=None):
        end = len(self) if end is None else min(end, len(self))
        total = 0
        step = BLOCK
        while start < end:
            stop = min(end, start + step)
            part = self[start:min(end, stop + len(sub) - 1)]
            total += part.count(sub)
            # A match that begins in the overlap is counted with the next part.
            total -= part.count(sub, stop - start) if stop < end else 0
            start = stop
        return total


class _File(object):
    """Random access to a file object through a window of a block or more."""

    def __init__(self, f, size):
        self.f = f
        self.size = size
        self.base = 0
        self.data = b''

    def window(self, pos, length=BLOCK):
        """(bytes, offset): the window holds the file from `pos` (at `offset` in it), at least
        `length` bytes of it unless the file ends first."""
        have = self.base + len(self.data)
        if pos < self.base or (pos + length > have and have < self.size):
            self.f.seek(pos)
            self.data = self.f.read(max(length, BLOCK))
            self.base = pos
        return self.data, pos - self.base

    def line(self, pos):
        """(the line at `pos` without its line feed, the position after it)."""
        length = 256
        while True:
            data, at = self.window(pos, length)
            end = data.find(b'\n', at)
            if end >= 0:
                return data[at:end], self.base + end + 1
            if self.base + len(data) >= self.size:
                return data[at:], self.size
            length = 2 * (len(data) - at + 1)

    def head(self, pos, length=8):
        data, at = self.window(pos, length)
        return data[at:at + length]

    def find(self, needle, start, end=None):
        """The first `needle` wholly in [start, end), or -1."""
        end = self.size if end is None else end
        while start + len(needle) <= end:
            data, at = self.window(start)
            found = data.find(needle, at, at + (end - start))
            if found >= 0:
                return self.base + found
            covered = self.base + len(data)
            if covered >= end:
                return -1
            start = max(start + 1, covered - len(needle) + 1)
        return -1

    def line_start(self, pos, floor):
        """The start of the line holding `pos`, not before `floor`."""
        back = pos
        while back > floor:
            begin = max(floor, back - 4096)
            data, at = self.window(begin, back - begin)
            found = data.rfind(b'\n', at, at + (back - begin))
            if found >= 0:
                return self.base + found + 1
            back = begin
        return floor

    def keyword_lines(self, start, end, keys):
        """[(position, keyword)] of the lines in [start, end) whose keyword is in `keys`;
        `start` is a line start."""
        found = []
        at = start
        # The next place of each needle at or after `at` (searched again once passed).
        ahead = dict((b'\n' + k[:3], -2) for k in keys)
        while 0 <= at < end:
            key = _keyword(self.head(at))
            if key in keys:
                found.append((at, key))
            for needle, place in ahead.items():
                if place != -1 and place < at:
                    ahead[needle] = self.find(needle, at, end)
            places = [p + 1 for p in ahead.values() if p >= 0]
            at = min(places) if places else -1
        return found


def _section(f, start):
    """(where the reader goes on after the data section at `start`, [(a, b)] the lines in it it
    may pass over as NUL bytes) as the module text says."""
    size = f.size
    blank = f.find(b' ', start)
    tab = f.find(b'\t', start, blank if blank >= 0 else size)
    first = tab if tab >= 0 else blank
    line = key = None
    if first >= 0:
        line = f.line_start(first, start)
        key = _keyword(f.head(line))
    if key in (b'CHK2', b'CHK1'):
        resume = f.line(line)[1]
        kept, edge = [], line
    elif key == b'WID2':
        resume = line
        kept, edge = [], line
    else:
        ends = f.keyword_lines(start, size, (b'WID2',))
        end = ends[0][0] if ends else size
        checks = f.keyword_lines(start, end, (b'CHK2', b'CHK1'))
        resume = f.line(checks[-1][0])[1] if checks else end
        kept = [line] if line is not None and line < resume else []
        edge = resume
    kept += [at for at, _ in f.keyword_lines(start, edge, _KEEP)]
    runs = []
    pos = start
    for at in sorted(set(kept)):
        if at > pos:
            runs.append((pos, at))
        pos = max(pos, f.line(at)[1])
    if edge > pos:
        runs.append((pos, edge))
    return resume, runs


def _plan(f):
    """The runs of lines to leave out, [(a, b)], over the whole file."""
    runs = []
    pos = 0
    while pos < f.size:
        line, after = f.line(pos)
        if _keyword(line) in (b'DAT2', b'DAT1'):
            pos, more = _section(f, after)
            runs.extend((a, b) for a, b in more if b - a >= ELIDE_FROM)
            continue
        pos = after
    return runs


def _blocks(f, start, end):
    """The bytes of [start, end) a block at a time."""
    f.seek(start)
    while start < end:
        part = f.read(min(BLOCK, end - start))
        if not part:
            return
        start += len(part)
        yield part


def _lone_cr(part, following):
    return b'\r' in part and part.count(b'\r') != (part + following).count(b'\r\n')


def sparse_text(f, size):
    """A Sparse map of file `f` (`size` bytes) for the reader's headers-only road, or None
    when the file has a lone carriage return (see the module text)."""
    if size == 0:
        return b''
    plan = _File(f, size)
    runs = _plan(plan)
    m = Sparse(-1, size, flags=mmap.MAP_PRIVATE)
    pos = 0
    for a, b in runs + [(size, size)]:
        if _copy(f, m, pos, a) or _lone_cr_in(f, a, b):
            m.close()
            return None
        # A run ends with a line feed: its lines become NULs, then their line feeds.
        if b > a:
            lines = sum(part.count(b'\n') for part in _blocks(f, a, b))
            m[b - lines:b] = b'\n' * lines
        pos = b
    return m


def _copy(f, m, start, end):
    """Copies [start, end) of the file into the map; True when it holds a lone CR."""
    pos = start
    for part in _blocks(f, start, end):
        following = f.read(1) if part.endswith(b'\r') else b''
        if following:
            f.seek(-1, 1)
        if _lone_cr(part, following):
            return True
        m[pos:pos + len(part)] = part
        pos += len(part)
    return False


def _lone_cr_in(f, start, end):
    for part in _blocks(f, start, end):
        if b'\r' in part:
            following = f.read(1) if part.endswith(b'\r') else b''
            if following:
                f.seek(-1, 1)
            if _lone_cr(part, following):
                return True
    return False


__all__ = ['BLOCK', 'ELIDE_FROM', 'SPARSE_FROM', 'Sparse', 'sparse_text']
