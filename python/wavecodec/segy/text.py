"""Textual file headers: 3200 bytes, 40 lines of 80 columns, in EBCDIC or ASCII."""
from ..compat import PY2, string_types, text_type
from ..errors import FormatError
from .fields import TEXT_HEADER_SIZE

LINE = 80
# The stanza that ends a variable number of extended text records (blanks and case ignored).
END_TEXT = '((SEG:ENDTEXT))'

LINES = TEXT_HEADER_SIZE // LINE
EBCDIC = 'cp037'

# Bytes of blanks, digits and capital letters: the bulk of any text header. The EBCDIC and the
# ASCII sets are disjoint, so counting both tells the two encodings apart.
_EBCDIC_MARKS = frozenset([0x40] + list(range(0xf0, 0xfa)) + list(range(0xc1, 0xca)) +
                          list(range(0xd1, 0xda)) + list(range(0xe2, 0xea)))
_ASCII_MARKS = frozenset([0x20] + list(range(0x30, 0x3a)) + list(range(0x41, 0x5b)))


def _flags(members):
    """A bytes.translate table turning the bytes of the set `members` into 1, others into 0."""
    return bytes(bytearray(1 if b in members else 0 for b in range(256)))


_MARK_FLAGS = {'ebcdic': _flags(_EBCDIC_MARKS), 'ascii': _flags(_ASCII_MARKS)}


def _count(raw, flags):
    """How many bytes of `raw` the table `flags` marks (counted in C)."""
    return bytes(raw).translate(flags).count(b'\x01')


def detect(raw):
    """'ebcdic' or 'ascii': the encoding whose blanks, digits and capitals are more frequent."""
    ebcdic = _count(raw, _MARK_FLAGS['ebcdic'])
    return 'ebcdic' if ebcdic > _count(raw, _MARK_FLAGS['ascii']) else 'ascii'


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
_PRINTABLE_FLAGS = dict((k, _flags(v)) for k, v in _PRINTABLE.items())


def _printable(raw, encoding):
    """How many bytes of `raw` are printable characters of `encoding`."""
    return _count(raw, _PRINTABLE_FLAGS[encoding])


def looks_like_text(raw):
    """Whether a 3200-byte record is text: nine tenths of its bytes printable in one of the
    encodings (records of binary data are not)."""
    n = len(raw) or 1
    return any(_printable(raw, e) * 10 >= n * 9 for e in ('ebcdic', 'ascii'))


def record_encoding(raw):
    """The encoding of one 3200-byte record on its own evidence: 'empty' (zeros only),
    'binary' (a stanza whose header line says its content is not text), 'ebcdic' or 'ascii'
    (the one in which nine tenths of it is printable, else the one detect() finds), or None
    (neither text nor a binary stanza)."""
    raw = bytes(raw)
    if not raw.strip(b'\0'):
        return 'empty'
    if _binary_stanza(raw):
        return 'binary'
    n = len(raw)
    printable = [e for e in ('ebcdic', 'ascii') if _printable(raw, e) * 10 >= n * 9]
    if len(printable) == 1:
        return printable[0]
    return detect(raw) if printable else None


def _binary_stanza(raw):
    """Whether `raw` starts with a stanza header line, '((...))' in either encoding, that
    declares a content type other than text (or binary content)."""
    for encoding in ('ascii', 'ebcdic'):
        head = decode(raw[:TEXT_HEADER_SIZE // 4], encoding).lstrip()
        if head.startswith('((') and '))' in head:
            words = head[:head.index('))')].upper().replace(' ', '')
            if 'CONTENT-TYPE:' in words:
                return not words.split('CONTENT-TYPE:', 1)[1].startswith('TEXT/')
            return 'BINARY' in words or 'OCTET-STREAM' in words
    return False


def record_text(raw, encoding):
    """What f.extended_text_headers holds for a record: its text, '' for an empty record, the
    bytes themselves for a binary stanza."""
    if encoding == 'binary':
        return bytes(raw)
    if encoding == 'empty':
        return ''
    return decode(raw, encoding)


def ends_text(raw, encoding):
    """Whether the record holds the ((SEG: EndText)) stanza (blanks and case ignored)."""
    if encoding not in ('ebcdic', 'ascii'):
        return False
    return END_TEXT in decode(raw, encoding).replace(' ', '').upper()


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


# Extended text records read when their count is -1 before the end stanza must come.
MAX_OPEN_RECORDS = 1000


def read_records(read_at, size, at, declared, stated, field, note):
    """The extended text records from offset `at`, each (raw bytes, encoding by
    record_encoding), of the count `declared` (binary header `field`).

    `stated`: the revision defines the count (1 and 2), and a count the file cannot hold is
    refused. Other writers fill it in revision 0 files too: there a positive count is honoured
    when the file has room and each record is text, empty or a binary stanza, and ignored
    otherwise; either way stated through `note`. A count of -1 means records up to the one
    holding ((SEG: EndText)), at most MAX_OPEN_RECORDS of them, each text or a binary stanza
    (which may go on in records that are not text); without that stanza it is refused, or in
    revision 0 ignored."""
    if declared == 0:
        return []
    if declared < -1:
        if stated:
            raise FormatError('%s is %d: not a count' % (field, declared))
        note('%s is %d: not a count; ignored (revision 0)' % (field, declared))
        return []
    records = []
    if declared > 0:
        room = (size - at) // TEXT_HEADER_SIZE
        if declared > room:
            if stated:
                raise FormatError('%s is %d but the file ends within extended text header %d'
                                  % (field, declared, room + 1))
            note('%s is %d but the file has room for %d records; ignored (revision 0)'
                 % (field, declared, room))
            return []
        for k in range(declared):
            raw = read_at(at + k * TEXT_HEADER_SIZE, TEXT_HEADER_SIZE)
            encoding = record_encoding(raw)
            if encoding is None and not stated:
                note('%s is %d but record %d after the binary header is not text; ignored '
                     '(revision 0)' % (field, declared, k + 1))
                return []
            records.append((raw, encoding or detect(raw)))
    else:
        binary = False
        while True:
            k = len(records)
            where = at + k * TEXT_HEADER_SIZE
            raw = read_at(where, TEXT_HEADER_SIZE)
            encoding = record_encoding(raw) if len(raw) == TEXT_HEADER_SIZE else None
            if encoding in (None, 'empty') and binary:
                encoding = 'binary'   # a binary stanza going on
            elif encoding == 'empty':
                encoding = None   # zeros: the traces of a file whose count lies
            problem = None
            if len(raw) < TEXT_HEADER_SIZE:
                problem = 'the file ends within extended text header %d' % (k + 1)
            elif encoding is None:
                problem = 'record %d after the binary header (offset %d) is not text' % (
                    k + 1, where)
            elif k == MAX_OPEN_RECORDS:
                problem = '%d records came without one' % k
            if problem:
                if stated:
                    raise FormatError('%s is -1 (records up to a ((SEG: EndText)) stanza) but %s'
                                      % (field, problem))
                note('%s is -1 but %s; ignored (revision 0)' % (field, problem))
                return []
            binary = encoding == 'binary'
            records.append((raw, encoding))
            if ends_text(raw, encoding):
                break
    if not stated:
        note('%s is %d: honoured although the revision bytes say 0 (the records are text)'
             % (field, declared))
    return records
