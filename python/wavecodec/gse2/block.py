"""The lines a waveform keeps beyond its WID2 line and data: the block between its WID2 and DAT2
lines, and the lines of its message around it.

In the block, the first STA2, EID2 and BEA2 lines are read by their field tables into dicts
(Waveform.sta2, .eid2, .bea2); any other line is kept as text. `Waveform.block` gives the
block's order: the keyword ('STA2', 'EID2', 'BEA2') where a line read by field stands, the
text of any other line. Lines between waveforms (OUT2, DLY2, comments, blank lines, ...) are
kept as text in `Waveform.before` and, after the last waveform of a message or file, `.after`.
The writer prints each where it was read, so a message read and written again is the same.
"""
import re

from ..compat import native_str, string_types, text_type
from ..errors import FormatError
from .columns import check_text, fit_number, number, text
from .envelope import FIELDS as ENVELOPE_FIELDS
from .fields import BLOCK_TABLES
from .scan import keyword

# The lines read by field, in the order a block made here holds them, and their attributes.
KEYWORDS = tuple(key for key, _ in BLOCK_TABLES)
ATTRIBUTES = {'STA2': 'sta2', 'EID2': 'eid2', 'BEA2': 'bea2'}
_TABLES = dict(BLOCK_TABLES)
_NAMES = dict((key, tuple(row[0] for row in table)) for key, table in BLOCK_TABLES)
_KEYS = dict((key.encode('ascii'), key) for key in KEYWORDS)
# Lines a kept text may not be: the reader would take them for a waveform's structure or the
# message's envelope, and the file would read back otherwise.
_STRUCTURE = (b'WID2', b'DAT2', b'DAT1')
_ENVELOPE = frozenset(list(ENVELOPE_FIELDS) + ['STOP'])
# A line that begins with a keyword: four letters or digits, then a blank or the line's end.
_KEYWORD = re.compile(r'[A-Za-z0-9]{4}(?:[ \t]|\Z)')


def field_keyword(key):
    """'STA2', 'EID2' or 'BEA2' for the keyword (bytes) of a line read by field, else None."""
    return _KEYS.get(key)


def _by_columns(table, line):
    """The values of `line` read by the table's columns, or None when the line is not aligned
    with them (a character in a separator column, a number field that does not read, a text
    field holding words while a number field after it is empty: the numbers shifted into it)."""
    values = {}
    worded = False
    for name, first, last, kind, _ in table:
        raw = line[first - 1:last]
        if first > 1 and line[first - 2:first - 1].strip():
            return None
        if kind == 'text':
            values[name] = text(raw) or None
            worded = worded or len(raw.split()) > 1
            continue
        if not raw.strip():
            if worded:
                return None
            values[name] = None
            continue
        values[name] = number(raw, 'float')
        if values[name] is None:
            return None
    return values


def _by_words(key, table, line):
    """(values, first fault or None) from the line's words, for lines whose columns are shifted.
    As many words as fields fill them in order; with fewer, a text field whose word would be a
    number while number fields follow it (STA2's network, BEA2's beam id) is taken as absent. A
    number that does not read is None and the fault; the fields after it are None (which word is
    which is no longer known), so no field ever gets a neighbour's value."""
    words = line[5:].split()
    values = dict((row[0], None) for row in table)
    fields = [(name, kind) for name, _, _, kind, _ in table]
    spare = len(fields) - len(words)
    if spare < 0:
        return values, '%s line has %d fields, at most %d expected' % (key, len(words),
                                                                       len(fields))
    for word in words:
        name, kind = fields.pop(0)
        while kind == 'text' and spare > 0 and number(word, 'float') is not None and \
                any(k != 'text' for _, k in fields):
            spare -= 1
            name, kind = fields.pop(0)
        if kind == 'text':
            values[name] = text(word)
            continue
        values[name] = number(word, 'float')
        if values[name] is None:
            return values, '%s field %s %r is not a number' % (key, name, text(word))
    return values, None


def read_line(key, line):
    """(the values of a STA2, EID2 or BEA2 line as a dict of its fields, first fault or None).
    A value that is absent is None; one that does not read is None and makes the fault, which
    names the field. Read by the line's columns when it keeps them, else by its words."""
    line = bytes(line)
    table = _TABLES[key]
    values = _by_columns(table, line)
    return (values, None) if values is not None else _by_words(key, table, line)


def format_line(key, values):
    """The STA2, EID2 or BEA2 line (with its newline) of a dict of the line's fields; a value
    missing or None is left blank."""
    if not isinstance(values, dict):
        raise FormatError('%s must be a dict of %s fields, not %s'
                          % (ATTRIBUTES[key], key, type(values).__name__))
    unknown = sorted(set(values) - set(_NAMES[key]))
    if unknown:
        raise FormatError('unknown %s field(s): %s (known: %s)'
                          % (key, ', '.join(map(str, unknown)), ', '.join(_NAMES[key])))
    parts = [key]
    for name, first, last, kind, decimals in _TABLES[key]:
        width = last - first + 1
        value = values.get(name)
        if value is None:
            field = ' ' * width
        elif kind == 'text':
            check_text(key, name, value, width)
            field = value.ljust(width)
        else:
            field = fit_number(key, name, value, width, '%%%d.%df' % (width, decimals))
        parts.append(' ' + field)
    return (''.join(parts).rstrip() + '\n').encode('ascii')


def text_line(entry, where):
    """The bytes (with the newline) of a line kept as text; FormatError, naming `where`, for
    what is no line of text or would read back as another line."""
    if not isinstance(entry, string_types):
        raise FormatError('%s: %r is not a line of text' % (where, entry))
    try:
        line = entry.encode('latin-1') if isinstance(entry, text_type) else entry
    except UnicodeEncodeError:
        raise FormatError('%s: line %r holds characters beyond Latin-1' % (where, entry))
    if b'\n' in line or b'\r' in line:
        raise FormatError('%s: line %r holds a line end' % (where, entry))
    words = line.split(None, 1)
    if keyword(line) in _STRUCTURE or \
            (words and native_str(words[0]).upper() in _ENVELOPE):
        raise FormatError('%s: line %r would not read back as a kept line (a %s line)'
                          % (where, entry, native_str(words[0]).upper()))
    return line + b'\n'


def _ordered(wave):
    """The block's entries, with the lines read by field that have values but no place in it
    put at their usual place: after the last of the lines that come before it in KEYWORDS."""
    block = list(wave.block)
    for index, key in enumerate(KEYWORDS):
        if getattr(wave, ATTRIBUTES[key]) is not None and key not in block:
            at = 0
            for position, entry in enumerate(block):
                if entry in KEYWORDS[:index]:
                    at = position + 1
            block.insert(at, key)
    return block


def block_bytes(wave, where):
    """The lines of the waveform's block (between its WID2 and DAT2 lines) as bytes."""
    if not wave.block and wave.eid2 is None and wave.bea2 is None:
        return b'' if wave.sta2 is None else format_line('STA2', wave.sta2)
    lines = []
    printed = set()
    for entry in _ordered(wave):
        if entry in ATTRIBUTES and entry not in printed:
            printed.add(entry)
            values = getattr(wave, ATTRIBUTES[entry])
            if values is not None:
                lines.append(format_line(entry, values))
        else:
            lines.append(text_line(entry, where))
    return b''.join(lines)


def kept_bytes(lines, where):
    """Lines kept as text (a waveform's `before` or `after`) as bytes."""
    return b''.join([text_line(line, where) for line in lines]) if lines else b''


def kind_of(line):
    """The kind of a line kept as text: its keyword ('OUT2', 'DLY2', ...), 'comment' for a line
    in parentheses, 'blank', or 'text'."""
    if not isinstance(line, string_types):
        return 'text'
    stripped = line.strip()
    if not stripped:
        return 'blank'
    if stripped.startswith('('):
        return 'comment'
    if _KEYWORD.match(line):
        return str(line[:4].upper())
    return 'text'
