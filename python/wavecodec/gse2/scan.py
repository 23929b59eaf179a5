"""Positions and lines of a GSE2 text held in memory: line numbers, keyword lines, and the ends
of data sections found by searching rather than by reading line by line.

Keyword lines are the keyword followed by a blank or the line's end: a CM6 line may begin with
the same four letters ("WID2Hn...") and is data.
"""
AFTER_KEYWORD = (b'', b' ', b'\t', b'\r', b'\n')


def keyword(line):
    """The line's first four characters (bytes) when they can be a keyword: followed by a
    blank or the line's end. None otherwise."""
    if line[4:5] in AFTER_KEYWORD:
        return bytes(line[:4])
    return None


def checksum_value(line):
    """The number of a CHK2 line, or None when it has none."""
    fields = line[5:].split()
    try:
        return int(fields[0]) if fields else None
    except ValueError:
        return None


class Scanner(object):
    """Line and keyword searches over `source` (a source.Source)."""

    def __init__(self, source):
        self.src = source
        self.data = source.data
        self.size = len(self.data)
        self._counted = (0, 1)

    def line_number(self, pos):
        """The 1-based number of the line holding position `pos` (counted incrementally)."""
        at, number = self._counted
        if pos < at:
            at, number = 0, 1
        number += self.data.count(b'\n', at, pos)
        self._counted = (pos, number)
        return number

    def line_at(self, pos):
        """(line without its end of line, position of the next line)."""
        newline = self.data.find(b'\n', pos)
        stop = self.size if newline < 0 else newline
        line = self.data[pos:stop]
        if line.endswith(b'\r'):
            line = line[:-1]
        return line, stop + 1

    def find_keyword(self, key, pos, limit, fourth=None):
        """The start of the first keyword line `key` in [pos, limit) (pos is a line start),
        else `limit`. With `fourth`, `key` is the first three letters and the fourth must be
        one of `fourth` (CHK2 and CHK1 in one scan)."""
        data = self.data
        first = pos if data[pos:pos + len(key)] == key else -1
        search = pos
        while True:
            if first < 0:
                at = self.src.find(b'\n' + key, search, limit)
                if at < 0:
                    return limit
                first = at + 1
            if (fourth is None or data[first + 3:first + 4] in fourth) and \
                    data[first + 4:first + 5] in AFTER_KEYWORD:
                return first
            search, first = first, -1

    def next_wid2(self, pos):
        return self.find_keyword(b'WID2', pos, self.size)

    def next_checksum_line(self, pos, limit):
        return self.find_keyword(b'CHK', pos, limit, (b'2', b'1'))

    def last_checksum_line(self, pos, limit):
        """The start of the last CHK2/CHK1 keyword line in [pos, limit), else -1; searched
        backwards, as it usually ends the section."""
        data = self.data
        while True:
            at = data.rfind(b'CHK', pos, limit)
            if at < 0:
                return -1
            if (at == pos or data[at - 1:at] == b'\n') and data[at + 3:at + 4] in (b'2', b'1') \
                    and data[at + 4:at + 5] in AFTER_KEYWORD:
                return at
            limit = at + 2

    def _first_line_with_blank(self, start):
        """The keyword (b'CHK2', b'CHK1', b'WID2') and start of the first line at or after
        `start` that holds a blank or tab, when that line is one of those; else (None, -1).
        Code lines hold no blanks, so over CM6 data this is a search for one byte, several
        times faster than a search for a keyword. (A line "WID2" with no fields holds no
        blank either: passed over here, while a full read takes it for a WID2 line.)"""
        data = self.data
        found = self.src.find(b' ', start, self.size)
        tab = self.src.find(b'\t', start, found if found >= 0 else self.size)
        found = tab if tab >= 0 else found
        if found < 0:
            return None, -1
        first = max(start, data.rfind(b'\n', start, found) + 1)
        key = keyword(data[first:first + 5])
        return (key, first) if key in (b'CHK2', b'CHK1', b'WID2') else (None, -1)

    def skip_section(self, start):
        """Passes over a data section undecoded. Returns (position after its CHK2 line, or that
        of the next WID2 line, or the end; the CHK2 line's value or None)."""
        key, at = self._first_line_with_blank(start)
        if key == b'WID2':
            return at, None
        if key is None:
            end = self.next_wid2(start)
            at = self.last_checksum_line(start, end)
            if at < 0:
                return end, None
        line, after = self.line_at(at)
        return after, checksum_value(line)
