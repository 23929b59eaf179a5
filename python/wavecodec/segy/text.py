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


def _native(text):
    return text.encode('latin-1') if PY2 else text


def decode(raw, encoding):
    """The header bytes as a native str (EBCDIC through code page 037, ASCII as Latin-1)."""
    return _native(bytes(raw).decode(EBCDIC if encoding == 'ebcdic' else 'latin-1'))


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
    codec = EBCDIC if encoding == 'ebcdic' else 'ascii'
    try:
        return text.encode(codec)
    except UnicodeError:
        bad = next(c for c in text if not _encodes(c, codec))
        raise FormatError('the text header holds %r, which %s cannot encode'
                          % (bad, encoding.upper()))


def _encodes(char, codec):
    try:
        char.encode(codec)
        return True
    except UnicodeError:
        return False


def default(lines_):
    """A header of 'C 1 ...' lines from a list of texts (the numbering the standard uses)."""
    rows = ['C%2d %s' % (k, t) for k, t in enumerate(lines_, 1)]
    rows += ['C%2d' % k for k in range(len(rows) + 1, LINES + 1)]
    return '\n'.join(r[:LINE] for r in rows)
