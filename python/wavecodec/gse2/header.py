"""The WID2 and STA2 lines: field tables, parsing from the line's own text, checks, printing.

Values are read from the characters of the line (never through single-precision floats), so a
rate written 1234.567891 reads 1234.567891 and seconds 12.345 read 12.345.
"""
import datetime
import math
import operator
import re
import struct

from ..compat import PY2, integer_types, string_types, text_type
from ..errors import FormatError

# WID2 fields: name, first and last column (1-based, inclusive), kind, print format, the
# character printed before the field.
WID2_TABLE = (
    ('year', 6, 9, 'int', '%04d', ' '),
    ('month', 11, 12, 'int', '%02d', '/'),
    ('day', 14, 15, 'int', '%02d', '/'),
    ('hour', 17, 18, 'int', '%02d', ' '),
    ('minute', 20, 21, 'int', '%02d', ':'),
    ('second', 23, 28, 'float', '%06.3f', ':'),
    ('station', 30, 34, 'text', '%-5s', ' '),
    ('channel', 36, 38, 'text', '%-3s', ' '),
    ('aux_id', 40, 43, 'text', '%-4s', ' '),
    ('data_format', 45, 47, 'text', '%-3s', ' '),
    ('sample_count', 49, 56, 'int', '%8d', ' '),
    ('sample_rate', 58, 68, 'float', '%11.6f', ' '),
    ('calibration', 70, 79, 'float', '%10.4e', ' '),
    ('calibration_period', 81, 87, 'float', '%7.3f', ' '),
    ('instrument_type', 89, 94, 'text', '%-6s', ' '),
    ('horizontal_angle', 96, 100, 'float', '%5.1f', ' '),
    ('vertical_angle', 102, 105, 'float', '%4.1f', ' '),
)
FIELDS = tuple(row[0] for row in WID2_TABLE)

# STA2 fields (IMS1.0): name, first and last column, kind, decimals of a number.
STA2_TABLE = (
    ('network', 6, 14, 'text', None),
    ('latitude', 16, 24, 'float', 5),
    ('longitude', 26, 35, 'float', 5),
    ('coordinate_system', 37, 48, 'text', None),
    ('elevation', 50, 54, 'float', 3),
    ('emplacement_depth', 56, 60, 'float', 3),
)
STA2_FIELDS = tuple(row[0] for row in STA2_TABLE)

# Fields a header to be written must give (the date may come as `start` instead); the rest
# default to DEFAULTS.
REQUIRED = ('station', 'channel', 'year', 'month', 'day', 'sample_rate')
DEFAULTS = {
    'hour': 0, 'minute': 0, 'second': 0.0,
    'aux_id': '', 'instrument_type': '',
    'calibration': 1.0, 'calibration_period': 1.0,
    # -1.0: orientation not known.
    'horizontal_angle': -1.0, 'vertical_angle': -1.0,
}
# Set by the writer from the samples and the chosen sub-format; ignored in a header given.
DERIVED = ('sample_count', 'data_format')
DATE_FIELDS = ('year', 'month', 'day', 'hour', 'minute', 'second')

# The characters of decimal numbers: a text with any other (nan, inf, 1_000, ...) is refused
# before int() and float() see it; they refuse wrong arrangements of these.
_INT_CHARS = b'0123456789+- '
_FLOAT_CHARS = b'0123456789+-.eE '


def _number(text, kind):
    """The value of a numeric field's text (blanks around it allowed), or None."""
    text = bytes(text)
    try:
        if kind == 'int':
            return int(text) if not text.translate(None, _INT_CHARS) else None
        value = float(text) if not text.translate(None, _FLOAT_CHARS) else None
    except ValueError:
        return None
    return value if value is None or not math.isinf(value) else None


def _text(raw):
    return raw.decode('latin-1').strip() if not isinstance(raw, str) else raw.strip()


# One struct unpack cuts a WID2 line into its fields (the columns of the table, in order; the
# separators skipped). Lines of another length are cut to, or padded with blanks to, the 105
# columns first: a missing field reads as blanks, as an empty one does.
def _wid2_struct():
    layout = []
    column = 0
    for _, first, last, _, _, _ in WID2_TABLE:
        layout.append('%dx%ds' % (first - 1 - column, last - first + 1))
        column = last
    return struct.Struct(''.join(layout)), column


_WID2_STRUCT, _WID2_WIDTH = _wid2_struct()
_WID2_TEXT_NAMES = tuple(name for name, _, _, kind, _, _ in WID2_TABLE if kind == 'text')
_WID2_TEXTS = operator.itemgetter(*[i for i, row in enumerate(WID2_TABLE) if row[3] == 'text'])
_WID2_NUMBER_NAMES = tuple(name for name, _, _, kind, _, _ in WID2_TABLE if kind != 'text')
_WID2_NUMBER_KINDS = tuple(kind for _, _, _, kind, _, _ in WID2_TABLE if kind != 'text')
_WID2_NUMBER_TEXTS = operator.itemgetter(*[i for i, row in enumerate(WID2_TABLE)
                                           if row[3] != 'text'])
_CONVERT = {'int': int, 'float': float}
_WID2_CONVERTERS = tuple(_CONVERT[kind] for kind in _WID2_NUMBER_KINDS)


def parse_wid2(line):
    """(header dict, first fault or None) from a WID2 line (bytes, without its end of line).

    Every field of the table is in the dict; a numeric field that does not convert is None and
    makes the fault, which names the field. The values are then checked (see check_read)."""
    line = bytes(line)
    if len(line) != _WID2_WIDTH:
        line = line[:_WID2_WIDTH].ljust(_WID2_WIDTH)
    fields = _WID2_STRUCT.unpack(line)
    if PY2:
        header = dict(zip(_WID2_TEXT_NAMES, [t.strip() for t in _WID2_TEXTS(fields)]))
    else:
        header = dict(zip(_WID2_TEXT_NAMES,
                          [t.decode('latin-1').strip() for t in _WID2_TEXTS(fields)]))
    texts = _WID2_NUMBER_TEXTS(fields)
    try:
        # Fast road: every character is one of a number's, and each field converts.
        joined = b''.join(texts)
        if joined.translate(None, _FLOAT_CHARS):
            raise ValueError
        values = [convert(text) for convert, text in zip(_WID2_CONVERTERS, texts)]
        # Only an exponent makes a value too large for a float; their sum is then infinite or
        # not a number (or a huge sum overflows: the slow road gives the same values).
        total = sum(values)
        if total - total != 0:
            raise ValueError
    except ValueError:
        values = list(map(_number, texts, _WID2_NUMBER_KINDS))
    header.update(zip(_WID2_NUMBER_NAMES, values))
    if None in values:
        name, text = next((n, t) for n, t, v in zip(_WID2_NUMBER_NAMES, texts, values)
                          if v is None)
        return header, 'WID2 field %s %r is not a number' % (name, _text(text))
    return header, check_read(header)


def start_of(header):
    """The start time of a header as a naive datetime meaning UTC, to the millisecond, or None
    when the fields give no existing time. Seconds are rounded to the millisecond; 59.9996
    carries into the next minute."""
    try:
        base = datetime.datetime(*[int(header[k]) for k in DATE_FIELDS[:5]])
        millis = int(round(float(header['second']) * 1000.0))
    except (KeyError, TypeError, ValueError, OverflowError):
        return None
    if not 0 <= millis < 61000:
        return None
    try:
        return base + datetime.timedelta(milliseconds=millis)
    except OverflowError:
        return None


def _check_date(header):
    """The fault of the date and time fields, or None."""
    limits = (('month', 1, 12), ('hour', 0, 23), ('minute', 0, 59))
    for name, low, high in (('year', 1, 9999),) + limits:
        if not low <= header[name] <= high:
            return 'WID2 field %s %d is outside %d..%d' % (name, header[name], low, high)
    try:
        datetime.date(header['year'], header['month'], header['day'])
    except ValueError:
        return 'WID2 field day: %04d/%02d/%02d does not exist' % (
            header['year'], header['month'], header['day'])
    if not 0.0 <= header['second'] < 60.0:
        return 'WID2 field second %r is outside 0 <= second < 60' % header['second']
    return None


def check_read(header):
    """The first fault of a parsed header's values, naming the field, or None."""
    fault = _check_date(header)
    if fault:
        return fault
    rate = header['sample_rate']
    if not (rate > 0 and not math.isinf(rate)):
        return 'WID2 field sample_rate %r must be finite and above zero' % rate
    if header['sample_count'] < 0:
        return 'WID2 field sample_count %d is below zero' % header['sample_count']
    return None


def _shown(value):
    """A text field for a message: under Python 2 as a plain str (non-ASCII escaped)."""
    if PY2 and isinstance(value, text_type):
        return value.encode('ascii', 'backslashreplace')
    return value


def describe(header):
    """Station, channel and start time of a header dict, for messages."""
    try:
        return '%s %s %04d/%02d/%02d %02d:%02d:%06.3f' % (
            _shown(header.get('station', '?')), _shown(header.get('channel', '?')),
            header.get('year', 0),
            header.get('month', 0), header.get('day', 0), header.get('hour', 0),
            header.get('minute', 0), header.get('second', 0.0))
    except (TypeError, ValueError):
        return '%s %s' % (_shown(header.get('station', '?')), _shown(header.get('channel', '?')))


def _check_text(name, value, width, line='WID2'):
    if not isinstance(value, string_types):
        raise FormatError('%s field %s must be text, not %r' % (line, name, value))
    if len(value) > width:
        raise FormatError('%s field %s %r is longer than its %d columns'
                          % (line, name, value, width))
    if any(not (' ' <= ch <= '~') for ch in value) or value != value.lstrip():
        raise FormatError('%s field %s %r holds characters other than printable ASCII, or '
                          'begins with a blank' % (line, name, value))


def _check_number(name, value, line='WID2'):
    if isinstance(value, bool) or not isinstance(value, integer_types + (float,)):
        raise FormatError('%s field %s must be a number, not %r' % (line, name, value))
    if isinstance(value, float) and (math.isnan(value) or math.isinf(value)):
        raise FormatError('%s field %s %r is not finite' % (line, name, value))


# Tables of the checks in complete() and of format_wid2.
_TEXT_WIDTHS = tuple((name, last - first + 1) for name, first, last, kind, _, _ in WID2_TABLE
                     if kind == 'text' and name not in DERIVED)
_NUMBER_KINDS = tuple((name, kind) for name, _, _, kind, _, _ in WID2_TABLE
                      if kind != 'text' and name not in DERIVED)
_FLOAT_FORMATS = tuple((name, fmt, last - first + 1) for name, first, last, kind, fmt, _
                       in WID2_TABLE if kind == 'float' and name != 'second')
_FIELD_SET = frozenset(FIELDS)
_REQUIRED_SET = frozenset(REQUIRED)
_TEXT_VALUES = operator.itemgetter(*[name for name, _ in _TEXT_WIDTHS])
_INT_VALUES = operator.itemgetter(*[name for name, kind in _NUMBER_KINDS if kind == 'int'])
_FLOAT_VALUES = operator.itemgetter(*[name for name, kind in _NUMBER_KINDS if kind == 'float'])
_INT_TYPE_SET = frozenset(integer_types)
_NUMBER_TYPE_SET = frozenset(integer_types + (float,))
# The text fields joined by NULs: each printable ASCII within its width, not beginning with a
# blank.
_TEXT_FIELDS_PATTERN = re.compile(u'\0'.join(u'(?:[!-~][ -~]{0,%d})?' % (width - 1)
                                              for _, width in _TEXT_WIDTHS) + u'\\Z')
# The floats printed in their columns, all in one: longer than this when one does not fit.
_FLOATS_FORMAT = ' '.join(fmt for _, fmt, _ in _FLOAT_FORMATS)
_FLOATS_WIDTH = sum(width for _, _, width in _FLOAT_FORMATS) + len(_FLOAT_FORMATS) - 1
_FLOAT_NAMES = operator.itemgetter(*[name for name, _, _ in _FLOAT_FORMATS])
_WID2_FORMAT = 'WID2' + ''.join(before + fmt for _, _, _, _, fmt, before in WID2_TABLE) + '\n'


def _usual_values(full):
    """Whether every field of `full` passes complete()'s type and character checks, tested at
    once: the text fields by one pattern over them joined (widths, printable ASCII, no leading
    blank), the numbers by their types (plain int; plain int or float where a float is taken)
    and a finite sum of the floats. False for anything else, which the full checks then name."""
    try:
        if not _TEXT_FIELDS_PATTERN.match(u'\0'.join(_TEXT_VALUES(full))):
            return False
        if not _INT_TYPE_SET.issuperset(map(type, _INT_VALUES(full))):
            return False
        floats = _FLOAT_VALUES(full)
        if not _NUMBER_TYPE_SET.issuperset(map(type, floats)):
            return False
        total = sum(floats)
    except (TypeError, ValueError, OverflowError):  # not text, text not ASCII, huge int
        return False
    return total - total == 0


def complete(header):
    """A full header dict ready to print: `header` checked, with defaults for the optional fields
    and the time rounded to the millisecond (seconds that would print as 60.000 carry into the
    minute). A `start` datetime may stand for the six date and time fields.

    Raises FormatError naming the field for unknown or missing fields, wrong types, dates that do
    not exist and values that would not survive printing in their columns of the WID2 line."""
    if not isinstance(header, dict):
        raise FormatError('header must be a dict of WID2 fields, not %s' % type(header).__name__)
    header = dict(header)
    for name in DERIVED:
        header.pop(name, None)
    start = header.pop('start', None)
    unknown = () if _FIELD_SET.issuperset(header) else sorted(set(header) - _FIELD_SET)
    if unknown:
        raise FormatError('unknown header field(s): %s (known: %s, start)'
                          % (', '.join(map(str, unknown)), ', '.join(FIELDS)))
    if start is not None:
        if not isinstance(start, datetime.datetime):
            raise FormatError('header field start must be a datetime, not %r' % (start,))
        if start.tzinfo is not None and start.utcoffset() is not None:
            start = start.replace(tzinfo=None) - start.utcoffset()
        header.update(year=start.year, month=start.month, day=start.day, hour=start.hour,
                      minute=start.minute, second=start.second + start.microsecond / 1e6)
    missing = () if _REQUIRED_SET.issubset(header) else \
        [name for name in REQUIRED if name not in header]
    if missing:
        raise FormatError('header lacks required field(s): %s' % ', '.join(missing))
    full = dict(DEFAULTS)
    full.update(header)
    # The usual values pass the quick tests; otherwise the full checks name the fault.
    for name, first, last, kind, fmt, _ in () if _usual_values(full) else WID2_TABLE:
        if name in DERIVED:
            continue
        if kind == 'text':
            _check_text(name, full[name], last - first + 1)
            continue
        _check_number(name, full[name])
        if kind == 'int' and not isinstance(full[name], integer_types):
            raise FormatError('WID2 field %s must be an integer, not %r' % (name, full[name]))
    fault = _check_date(full)
    if fault:
        raise FormatError(fault)
    when = start_of(full)
    if when is None or when.year > 9999:
        raise FormatError('WID2 field second %r carries the time past year 9999'
                          % full['second'])
    full.update(year=when.year, month=when.month, day=when.day, hour=when.hour,
                minute=when.minute, second=when.second + when.microsecond // 1000 / 1000.0)
    try:
        fits = len(_FLOATS_FORMAT % _FLOAT_NAMES(full)) == _FLOATS_WIDTH
    except (OverflowError, TypeError):  # an int beyond any float (TypeError under 2.7)
        fits = False
    for name, fmt, width in () if fits else _FLOAT_FORMATS:
        try:
            text = fmt % full[name]
        except (OverflowError, TypeError):
            text = None
        if text is None or len(text) > width:
            raise FormatError('WID2 field %s %r does not fit its %d columns (%s)'
                              % (name, full[name], width, fmt))
    rate = full['sample_rate']
    if not rate > 0 or float('%11.6f' % rate) == 0.0:
        raise FormatError('WID2 field sample_rate %r must be positive and print as a '
                          'positive number (%%11.6f)' % rate)
    return full


def format_wid2(full, sample_count, data_format):
    """The WID2 line (with its newline) of a header from complete()."""
    values = dict(full, sample_count=sample_count, data_format=data_format)
    return (_WID2_FORMAT % tuple([values[name] for name in FIELDS])).encode('ascii')


def _sta2_columns(line):
    """STA2 values read by their columns, or None when the line is not aligned with them."""
    values = {}
    for name, first, last, kind, _ in STA2_TABLE:
        raw = line[first - 1:last]
        if first > 1 and line[first - 2:first - 1].strip():
            return None
        if kind == 'text':
            values[name] = _text(raw) or None
            continue
        if not raw.strip():
            values[name] = None
            continue
        values[name] = _number(raw, 'float')
        if values[name] is None:
            return None
    return values


def _sta2_tokens(line):
    """STA2 values from the line's words, for lines whose columns are shifted: words that are
    numbers fill latitude, longitude, elevation and depth in order; a word before the
    latitude is the network, a word after the longitude the coordinate system."""
    values = dict((name, None) for name in STA2_FIELDS)
    numbers = ['latitude', 'longitude', 'elevation', 'emplacement_depth']
    for word in line[5:].split():
        value = _number(word, 'float')
        if value is not None and numbers:
            values[numbers.pop(0)] = value
        elif len(numbers) == 4 and values['network'] is None:
            values['network'] = _text(word)
        elif len(numbers) == 2 and values['coordinate_system'] is None:
            values['coordinate_system'] = _text(word)
    return values


def parse_sta2(line):
    """The STA2 line's values as a dict of STA2_FIELDS; a value that is absent or does not
    read is None. Parsed tolerantly: by the IMS1.0 columns when the line keeps them, else by
    its words."""
    return _sta2_columns(line) or _sta2_tokens(line)


def _fit(name, value, width, decimals):
    """`value` printed in `width` columns, with fewer decimals when needed."""
    _check_number(name, value, 'STA2')
    for places in range(decimals, -1, -1):
        text = '%*.*f' % (width, places, value)
        if len(text) <= width:
            return text
    raise FormatError('STA2 field %s %r does not fit its %d columns' % (name, value, width))


def format_sta2(sta2):
    """The STA2 line (with its newline) of a dict of STA2_FIELDS (missing values are blank)."""
    if not isinstance(sta2, dict):
        raise FormatError('sta2 must be a dict of STA2 fields, not %s' % type(sta2).__name__)
    unknown = sorted(set(sta2) - set(STA2_FIELDS))
    if unknown:
        raise FormatError('unknown STA2 field(s): %s (known: %s)'
                          % (', '.join(map(str, unknown)), ', '.join(STA2_FIELDS)))
    parts = ['STA2']
    for name, first, last, kind, decimals in STA2_TABLE:
        width = last - first + 1
        value = sta2.get(name)
        if value is None:
            text = ' ' * width
        elif kind == 'text':
            _check_text(name, value, width, 'STA2')
            text = value.ljust(width)
        else:
            text = _fit(name, value, width, decimals)
        parts.append(' ' + text)
    return (''.join(parts).rstrip() + '\n').encode('ascii')
