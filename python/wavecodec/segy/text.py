"""Textual file headers: 3200 bytes, 40 lines of 80 columns, in EBCDIC or ASCII."""
from ..compat import PY2, string_types, text_type
from ..errors import FormatError
from .fields import TEXT_HEADER_SIZE

LINE = 80
LINES = TEXT_HEADER_SIZE // LINE
EBCDIC = 'cp037'

# Bytes of blanks, digits and capital letters: the bulk of any text header. The EBCDIC and the
# ASCII sets are disjoint, so counting both tells the two encodings apart.
_EBCDIC_MARKS = frozenset([0x40] + list(range(0xf0, 0xfa)) + list(range(0xc1, 0xca)) +
                          list(range(0xd1, 0xda)) + list(range(0xe2, 0xea)))
_ASCII_MARKS = frozenset([0x20] + list(range(0x30, 0x3a)) + list(range(0x41, 0x5b)))


def detect(raw):
    """'ebcdic' or 'ascii': the encoding whose blanks, digits and capitals are more frequent."""
    counts = bytearray(raw)
    ebcdic = sum(1 for b in counts if b in _EBCDIC_MARKS)
    ascii_ = sum(1 for b in counts if b in _ASCII_MARKS)
    return 'ebcdic' if ebcdic > ascii_ else 'ascii'


# EBCDIC as SEG-Y writers use it: code page 037, except that five ASCII characters have the
# bytes of the other common EBCDIC table ('[' 0x4A, ']' 0x5A, '!' 0x4F, '^' 0x5F, '|' 0x6A), as
# segyio and others write them. Reading also takes code page 037's own bytes of '[', ']' and '^'
# (0xBA, 0xBB, 0xB0, which mean nothing else); the characters whose bytes those five took
# (cent, not and broken bar) are not written.
_MOVED = {u'[': 0x4a, u']': 0x5a, u'!': 0x4f, u'^': 0x5f, u'|': 0x6a}
_ALSO_READ = {0xba: u'[', 0xbb: u']', 0xb0: u'^'}


def _tables():
    decode_ = [bytes(bytearray([b])).decode(EBCDIC) for b in range(256)]
    for char, byte in _MOVED.items():
        decode_[byte] = char
    for byte, char in _ALSO_READ.items():
        decode_[byte] = char
    # latin-1 character of a byte -> its EBCDIC character, for unicode.translate.
    reading = dict((b, decode_[b]) for b in range(256))
    writing = {}
    for b in range(256):
        if b not in _ALSO_READ:
            writing[ord(decode_[b])] = unichr_(b)
    return reading, writing


try:
    unichr_ = unichr  # Python 2: the character of a code point as unicode
except NameError:
    unichr_ = chr


_READING, _WRITING = _tables()


def _native(text):
    return text.encode('latin-1') if PY2 else text


def decode(raw, encoding):
    """The header bytes as a native str (EBCDIC by the table above, ASCII as Latin-1)."""
    text = bytes(raw).decode('latin-1')
    if encoding == 'ebcdic':
        text = text.translate(_READING)
        if PY2:  # characters beyond Latin-1 (none in this table) would not survive
            return text.encode('latin-1', 'replace')
    return _native(text)


def ebcdic_bytes(text):
    """`text` (unicode) in EBCDIC by the table above; UnicodeError for a character it lacks."""
    for char in text:
        if ord(char) not in _WRITING:
            raise UnicodeError(char)
    return text.translate(_WRITING).encode('latin-1')


# Bytes that occur in text: printable characters of either encoding.
_PRINTABLE = {
    'ascii': frozenset(range(0x20, 0x7f)),
    'ebcdic': frozenset(b for b in range(0x40, 0x100)
                        if _READING[b] == u' ' or (u'!' <= _READING[b] <= u'~')),
}


def looks_like_text(raw):
    """Whether a 3200-byte record is text: nine tenths of its bytes printable in one of the
    encodings, and at least one letter, digit or blank (records of binary data are not)."""
    counts = bytearray(raw)
    n = len(counts) or 1
    for encoding in ('ebcdic', 'ascii'):
        printable = _PRINTABLE[encoding]
        if sum(1 for b in counts if b in printable) * 10 >= n * 9:
            return True
    return False


def escaped(line):
    """A line safe for a terminal: control characters shown as \\xNN (a header holding escape
    sequences would otherwise drive the terminal)."""
    chars = line.decode('latin-1') if PY2 else line
    return _native(u''.join(c if u' ' <= c <= u'~' or c >= u'\xa0' else u'\\x%02x' % ord(c)
                            for c in chars))


def lines(text):
    """The 80-column lines of a decoded header, trailing blanks removed."""
    return [text[i:i + LINE].rstrip() for i in range(0, len(text), LINE)]


def encode(text, encoding='ebcdic'):
    """3200 bytes from `text`: either one block of at most 3200 characters, or lines (separated
    by newlines) of at most 80 characters each, at most 40 of them, padded with blanks."""
    if isinstance(text, bytes) and not PY2:
        raise FormatError('a text header is given as str, not bytes')
    if not isinstance(text, string_types):
        raise FormatError('a text header must be a str, not %s' % type(text).__name__)
    if PY2 and not isinstance(text, text_type):
        text = text.decode('latin-1')
    if '\n' in text:
        rows = text.rstrip('\n').split('\n')
        if len(rows) > LINES:
            raise FormatError('a text header holds at most %d lines, not %d' % (LINES, len(rows)))
        for k, row in enumerate(rows, 1):
            if len(row) > LINE:
                raise FormatError('text header line %d has %d characters; at most %d fit'
                                  % (k, len(row), LINE))
        text = ''.join(row.ljust(LINE) for row in rows)
    if len(text) > TEXT_HEADER_SIZE:
        raise FormatError('a text header holds at most %d characters, not %d'
                          % (TEXT_HEADER_SIZE, len(text)))
    text = text.ljust(TEXT_HEADER_SIZE)
    try:
        return ebcdic_bytes(text) if encoding == 'ebcdic' else text.encode('ascii')
    except UnicodeError:
        bad = next(c for c in text if not _encodes(c, encoding))
        raise FormatError('the text header holds %r, which %s cannot encode'
                          % (bad, encoding.upper()))


def _encodes(char, encoding):
    try:
        if encoding == 'ebcdic':
            ebcdic_bytes(char)
        else:
            char.encode('ascii')
        return True
    except UnicodeError:
        return False


def default(lines_):
    """A header of 'C 1 ...' lines from a list of texts (the numbering the standard uses)."""
    rows = ['C%2d %s' % (k, t) for k, t in enumerate(lines_, 1)]
    rows += ['C%2d' % k for k in range(len(rows) + 1, LINES + 1)]
    return '\n'.join(r[:LINE] for r in rows)
