"""The WID2 and STA2 lines: field tables, parsing from the line's own text, checks, printing.

Values are read from the characters of the line (never through single-precision floats), so a
rate written 1234.567891 reads 1234.567891 and seconds 12.345 read 12.345.
"""
import datetime
import decimal
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


# Printable ASCII: the characters a text field may hold.
_PRINTABLE = bytes(bytearray(range(32, 127)))
_INFINITY = float('inf')


def parse_wid2(line):
    """(header dict, first fault or None) from a WID2 line (bytes, without its end of line).

    Every field of the table is in the dict; a numeric field that does not convert is None and
    makes the fault, which names the field. The values are then checked (see check_read)."""
    line = bytes(line)
    if len(line) != _WID2_WIDTH:
        line = line[:_WID2_WIDTH].ljust(_WID2_WIDTH)
    fields = _WID2_STRUCT.unpack(line)
    texts = _WID2_TEXTS(fields)
    station, channel, aux_id, data_format, instrument = texts
    if not PY2:
        station = station.decode('latin-1')
        channel = channel.decode('latin-1')
        aux_id = aux_id.decode('latin-1')
        data_format = data_format.decode('latin-1')
        instrument = instrument.decode('latin-1')
    station = station.strip()
    channel = channel.strip()
    aux_id = aux_id.strip()
    data_format = data_format.strip()
    instrument = instrument.strip()
    numbers = _WID2_NUMBER_TEXTS(fields)
    try:
        # Fast road: every character is one of a number's, and each field converts.
        if b''.join(numbers).translate(None, _FLOAT_CHARS):
            raise ValueError
        year, month, day, hour, minute, second, count, rate, calib, period, horizontal, \
            vertical = numbers
        year, month, day, hour, minute, second, count, rate, calib, period, horizontal, \
            vertical = values = (
                int(year), int(month), int(day), int(hour), int(minute), float(second),
                int(count), float(rate), float(calib), float(period), float(horizontal),
                float(vertical))
        # Only an exponent makes a value too large for a float; their sum is then infinite or
        # not a number (or a huge sum overflows: the slow road gives the same values).
        total = sum(values)
        if total - total != 0:
            raise ValueError
    except ValueError:
        header = {'station': station, 'channel': channel, 'aux_id': aux_id,
                  'data_format': data_format, 'instrument_type': instrument}
        values = tuple(map(_number, numbers, _WID2_NUMBER_KINDS))
        header.update(zip(_WID2_NUMBER_NAMES, values))
        if None in values:
            name, text = next((n, t) for n, t, v in zip(_WID2_NUMBER_NAMES, numbers, values)
                              if v is None)
            return header, 'WID2 field %s %r is not a number' % (name, _text(text))
        return header, check_read(header)
    # The keys in the order of the slow road's dict: texts, then numbers.
    header = {'station': station, 'channel': channel, 'aux_id': aux_id,
              'data_format': data_format, 'instrument_type': instrument,
              'year': year, 'month': month, 'day': day, 'hour': hour, 'minute': minute,
              'second': second, 'sample_count': count, 'sample_rate': rate,
              'calibration': calib, 'calibration_period': period,
              'horizontal_angle': horizontal, 'vertical_angle': vertical}
    # The usual header passes these checks at once: printable texts, a day every month has,
    # a positive finite rate. Anything else is judged, and named, by check_read.
    if 1 <= year <= 9999 and 1 <= month <= 12 and 1 <= day <= 28 and 0 <= hour <= 23 and \
            0 <= minute <= 59 and 0.0 <= second < 60.0 and 0 < rate < _INFINITY and \
            count >= 0 and not b''.join(texts).translate(None, _PRINTABLE):
        return header, None
    return header, check_read(header)


def millis(second):
    """`second` (a number of seconds) in whole milliseconds, rounded half to even on its exact
    decimal value (the shortest text of a float): the same under Python 2.7 and 3."""
    if isinstance(second, float):
        if math.isnan(second) or math.isinf(second):
            raise ValueError('%r seconds' % second)
        exact = decimal.Decimal(repr(second))
    else:
        exact = decimal.Decimal(second)
    return int((exact * 1000).to_integral_value(rounding=decimal.ROUND_HALF_EVEN))


def seconds_of(whole, microsecond):
    """The float nearest to `whole` seconds and `microsecond` microseconds: its shortest text is
    the exact decimal value, so millis() rounds that value."""
    return float(decimal.Decimal(whole) + decimal.Decimal(microsecond) / 1000000)


def is_leap_second(header):
    """True when the header's time is within a leap second: 23:59:60.000 to 23:59:60.999."""
    try:
        return header['hour'] == 23 and header['minute'] == 59 and \
            60.0 <= header['second'] < 61.0
    except (KeyError, TypeError):
        return False


def start_of(header):
    """The start time of a header as a naive datetime meaning UTC, to the millisecond, or None
    when the fields give no existing time. Seconds are rounded to the millisecond (half to even);
    59.9996 carries into the next minute. A leap second (23:59:60.xxx), which a datetime cannot
    hold, gives the time it is counted as in POSIX time: the next day's 00:00:00.xxx."""
    try:
        base = datetime.datetime(*[int(header[k]) for k in DATE_FIELDS[:5]])
        ms = millis(header['second'])
    except (KeyError, TypeError, ValueError, OverflowError, decimal.InvalidOperation):
        return None
    if not 0 <= ms < 61000:
        return None
    try:
        return base + datetime.timedelta(milliseconds=ms)
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
    if not 0.0 <= header['second'] < 60.0 and not is_leap_second(header):
        return 'WID2 field second %r is outside 0 <= second < 60 (60 <= second < 61 only at ' \
            '23:59, a leap second)' % header['second']
    return None


def check_read(header):
    """The first fault of a parsed header's values, naming the field, or None. Text fields
    must be printable ASCII, as the writer writes them."""
    for name in _WID2_TEXT_NAMES:
        value = header[name]
        if any(not (' ' <= ch <= '~') for ch in value):
            return 'WID2 field %s %r holds characters other than printable ASCII' % (
                name, _shown(value))
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
    if not isinstance(value, float):
        try:
            float(value)
        except OverflowError:
            raise FormatError('%s field %s %r is beyond the range of any float'
                              % (line, name, value))


# Tables of the checks in complete().
_TEXT_WIDTHS = tuple((name, last - first + 1) for name, first, last, kind, _, _ in WID2_TABLE
                     if kind == 'text' and name not in DERIVED)
_NUMBER_KINDS = tuple((name, kind) for name, _, _, kind, _, _ in WID2_TABLE
                      if kind != 'text' and name not in DERIVED)
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


# The values of the fields other than the date and time, with their types, of headers that
# passed complete()'s checks: the same station, channel, rate and calibration come back waveform
# after waveform, and only their time needs checking again. Emptied when it grows large.
_CHECKED_REST = {}
_CHECKED_REST_LIMIT = 4096
_REST_VALUES = operator.itemgetter(*[name for name in FIELDS
                                     if name not in DATE_FIELDS and name not in DERIVED])
_TIME_VALUES = operator.itemgetter(*DATE_FIELDS)
_COMPLETE_SIZE = len(FIELDS) - len(DERIVED)


def _complete_usual(header):
    """complete() of the usual header in a few steps, or None for anything else (which the full
    checks then judge): every field known and present once the defaults are added, the other
    fields than the time as in a header checked before (or passing the checks now), and a time
    that needs no check beyond its ranges and no carry (day 1 to 28, seconds below 59.999)."""
    full = dict(DEFAULTS)
    full.update(header)
    full.pop('sample_count', None)
    full.pop('data_format', None)
    if len(full) != _COMPLETE_SIZE or not _FIELD_SET.issuperset(full):
        return None
    rest = _REST_VALUES(full)
    key = rest + tuple(map(type, rest))
    try:
        known = key in _CHECKED_REST
    except TypeError:  # a value that cannot be a key
        return None
    if not known:
        if not _usual_values(full) or not full['sample_rate'] > 0:
            return None
        try:
            for name, first, last, kind, fmt, _ in WID2_TABLE:
                if kind == 'float' and name != 'second':
                    fit_number('WID2', name, full[name], last - first + 1, fmt)
        except FormatError:
            return None
        if len(_CHECKED_REST) >= _CHECKED_REST_LIMIT:
            _CHECKED_REST.clear()
        _CHECKED_REST[key] = True
    year, month, day, hour, minute, second = _TIME_VALUES(full)
    if not (type(year) is int and type(month) is int and type(day) is int and
            type(hour) is int and type(minute) is int and type(second) in (int, float)):
        return None
    if not (1 <= year <= 9999 and 1 <= month <= 12 and 1 <= day <= 28 and 0 <= hour <= 23 and
            0 <= minute <= 59 and 0 <= second < 59.999):
        return None
    if type(second) is int:
        ms = second * 1000
    else:
        text = repr(second)
        point = text.find('.')
        if point >= 0 and len(text) - point <= 4 and 'e' not in text:
            # At most three decimals: the product is within far less than half a unit of the
            # whole number of milliseconds written.
            ms = int(round(second * 1000))
        else:
            ms = millis(second)
    full['second'] = ms // 1000 + ms % 1000 / 1000.0
    return full


def complete(header):
    """A full header dict ready to print: `header` checked, with defaults for the optional fields
    and the time rounded to the millisecond (seconds that would print as 60.000 carry into the
    minute). A `start` datetime may stand for the six date and time fields.

    Raises FormatError naming the field for unknown or missing fields, wrong types, dates that do
    not exist and values that would not survive printing in their columns of the WID2 line."""
    if type(header) is dict and 'start' not in header:
        full = _complete_usual(header)
        if full is not None:
            return full
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
                      minute=start.minute, second=seconds_of(start.second, start.microsecond))
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
    if is_leap_second(full) and millis(full['second']) < 61000:
        # Kept as written: a datetime cannot hold it.
        full['second'] = millis(full['second']) / 1000.0
    else:
        when = start_of(full)
        if when is None or when.year > 9999:
            raise FormatError('WID2 field second %r carries the time past year 9999'
                              % full['second'])
        full.update(year=when.year, month=when.month, day=when.day, hour=when.hour,
                    minute=when.minute, second=when.second + when.microsecond // 1000 / 1000.0)
    for name, first, last, kind, fmt, _ in WID2_TABLE:
        if kind == 'float' and name != 'second':
            fit_number('WID2', name, full[name], last - first + 1, fmt)
    if not full['sample_rate'] > 0:
        raise FormatError('WID2 field sample_rate %r must be above zero' % full['sample_rate'])
    return full


def rate_text(rate):
    """The sample rate as the WID2 line holds it."""
    return fit_number('WID2', 'sample_rate', rate, 11, '%11.6f')


def _compact_exponent(value, digits):
    """`value` in exponent form with `digits` decimals and the shortest exponent (1.5e-5)."""
    mantissa, exponent = ('%.*e' % (digits, value)).split('e')
    return '%se%d' % (mantissa, int(exponent))


def _whole_mantissa(value, digits):
    """`value` with `digits` + 1 significant digits as a whole mantissa and exponent (15e-6)."""
    mantissa, exponent = ('%.*e' % (digits, value)).split('e')
    return '%se%d' % (mantissa.replace('.', ''), int(exponent) - digits)


def _bare_fixed(value, digits):
    """Fixed form without the zero before the point (.125, -.5)."""
    text = '%.*f' % (digits, value)
    return text.replace('0.', '.', 1) if text.lstrip('-').startswith('0.') else text


# Texts made by fit_number, by (line, name, width, format, type, value): the same rates,
# calibrations and angles come back waveform after waveform. Zero is not kept (0.0 and -0.0
# are equal keys but print differently); the table is emptied when it grows large.
_FITTED = {}
_FITTED_LIMIT = 4096


def fit_number(line, name, value, width, fmt):
    """The text of number `value` in its `width` columns (see _fit_number), remembered for the
    values that come back."""
    key = (line, name, width, fmt, type(value), value)
    try:
        return _FITTED[key]
    except KeyError:
        pass
    except TypeError:  # a value that cannot be a key: _fit_number names the fault
        return _fit_number(line, name, value, width, fmt)
    text = _fit_number(line, name, value, width, fmt)
    if value:
        if len(_FITTED) >= _FITTED_LIMIT:
            _FITTED.clear()
        _FITTED[key] = text
    return text


def _fit_number(line, name, value, width, fmt):
    """The text of number `value` in its `width` columns: `fmt`, the field's usual format, when
    it holds the value exactly; else the form that fits and comes closest to it (the usual one,
    fixed with more or fewer decimals, or an exponent form), so that every value read from a
    line is written back as read. FormatError naming the field when none fits."""
    _check_number(name, value, line)
    text = fmt % value
    if len(text) <= width and float(text) == value:
        return text
    forms = [lambda d: '%.*e' % (d, value), lambda d: _compact_exponent(value, d),
             lambda d: _whole_mantissa(value, d), lambda d: '%.*f' % (d, value),
             lambda d: _bare_fixed(value, d)]
    if not fmt.endswith('e'):
        forms = forms[3:] + forms[:3]
    best = (abs(float(text) - value), text) if len(text) <= width else None
    # The closest; of equally close ones, the usual format, then the field's usual style.
    for form in forms:
        for digits in range(width, -1, -1):
            candidate = form(digits)
            if len(candidate) <= width:
                error = abs(float(candidate) - value)
                if best is None or error < best[0]:
                    best = (error, candidate)
                break
    if best is None:
        raise FormatError('%s field %s %r does not fit its %d columns'
                          % (line, name, value, width))
    return best[1].rjust(width)


def _wid2_format():
    """One format for the whole WID2 line: the fields' own formats, '%s' for the floats whose
    text fit_number makes (all but the seconds)."""
    parts = ['WID2']
    for name, _, _, kind, fmt, before in WID2_TABLE:
        parts.append(before + ('%s' if kind == 'float' and name != 'second' else fmt))
    return ''.join(parts) + '\n'


_WID2_FORMAT = _wid2_format()


# The texts of the floats after the time (rate, calibration, period, angles) by their values:
# one look-up for the five. Sets holding a zero are not kept (0.0 and -0.0 are equal keys but
# print differently).
_FLOAT_FIELDS = tuple((name, last - first + 1, fmt) for name, first, last, kind, fmt, _
                      in WID2_TABLE if kind == 'float' and name != 'second')
_FLOAT_VALUES_OF = operator.itemgetter(*[name for name, _, _ in _FLOAT_FIELDS])
_FLOAT_TEXTS = {}
_FLOAT_TEXTS_LIMIT = 4096


def _float_texts(full):
    values = _FLOAT_VALUES_OF(full)
    try:
        return _FLOAT_TEXTS[values]
    except (KeyError, TypeError):
        pass
    texts = tuple(fit_number('WID2', name, value, width, fmt)
                  for (name, width, fmt), value in zip(_FLOAT_FIELDS, values))
    if all(values):
        if len(_FLOAT_TEXTS) >= _FLOAT_TEXTS_LIMIT:
            _FLOAT_TEXTS.clear()
        _FLOAT_TEXTS[values] = texts
    return texts


def format_wid2(full, sample_count, data_format):
    """The WID2 line (with its newline) of a header from complete()."""
    rate, calibration, period, horizontal, vertical = _float_texts(full)
    return (_WID2_FORMAT % (full['year'], full['month'], full['day'], full['hour'],
                            full['minute'], full['second'], full['station'], full['channel'],
                            full['aux_id'], data_format, sample_count, rate, calibration, period,
                            full['instrument_type'], horizontal, vertical)).encode('ascii')


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


_STA2_KINDS = tuple((name, kind) for name, _, _, kind, _ in STA2_TABLE)


def _sta2_words(line):
    """(STA2 values, first fault or None) from the line's words, for lines whose columns are
    shifted. Six words fill the six fields in order; with fewer, a text field (network,
    coordinate system) whose word would be a number is taken as absent. A number that does not
    read is None and the fault; the fields after it are None (which word is which is no longer
    known), so no field ever gets a neighbour's value."""
    words = line[5:].split()
    values = dict((name, None) for name in STA2_FIELDS)
    fields = list(_STA2_KINDS)
    spare = len(fields) - len(words)
    if spare < 0:
        return values, 'STA2 line has %d fields, at most 6 expected' % len(words)
    for word in words:
        name, kind = fields.pop(0)
        while kind == 'text' and spare > 0 and _number(word, 'float') is not None:
            spare -= 1
            name, kind = fields.pop(0)
        if kind == 'text':
            values[name] = _text(word)
            continue
        values[name] = _number(word, 'float')
        if values[name] is None:
            return values, 'STA2 field %s %r is not a number' % (name, _text(word))
    return values, None


def read_sta2(line):
    """(the STA2 line's values as a dict of STA2_FIELDS, first fault or None). A value that is
    absent is None; one that does not read is None and makes the fault, which names the field.
    Read by the IMS1.0 columns when the line keeps them, else by its words."""
    line = bytes(line)
    return (_sta2_columns(line), None) if _sta2_columns(line) is not None \
        else _sta2_words(line)


def parse_sta2(line):
    """The STA2 line's values (see read_sta2), without its fault."""
    return read_sta2(line)[0]


def _fit(name, value, width, decimals):
    """`value` printed in `width` columns, with `decimals` decimals when they fit."""
    return fit_number('STA2', name, value, width, '%%%d.%df' % (width, decimals))


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


# The columns of the WID2 struct's fields, by kind, for the parse of many lines at once.
_WID2_TEXT_COLUMNS = tuple(i for i, row in enumerate(WID2_TABLE) if row[3] == 'text')
_WID2_INT_COLUMNS = tuple(i for i, row in enumerate(WID2_TABLE) if row[3] == 'int')
_WID2_FLOAT_COLUMNS = tuple(i for i, row in enumerate(WID2_TABLE) if row[3] == 'float')
_WID2_NUMBER_COLUMNS = tuple(i for i, row in enumerate(WID2_TABLE) if row[3] != 'text')
# The usual ranges of the int columns (year, month, day, hour, minute, sample_count): those
# parse_wid2 passes at once.
_WID2_INT_RANGES = ((1, 9999), (1, 12), (1, 31), (0, 23), (0, 59), (0, None))


# Structs that cut many WID2 lines at once, by their number of lines.
_WID2_STRUCTS = {}


def _wid2_structs(count):
    try:
        return _WID2_STRUCTS[count]
    except KeyError:
        if len(_WID2_STRUCTS) >= 64:
            _WID2_STRUCTS.clear()
        made = _WID2_STRUCTS[count] = struct.Struct(_WID2_STRUCT.format * count)
        return made


def _usual_columns(lines):
    """The columns of WID2 lines (bytes of exactly 105 columns) converted as parse_wid2
    converts them, when every line is one parse_wid2 passes at once without a fault; else None.
    Checked a column at a time (characters, conversions, least and greatest values)."""
    fields = _wid2_structs(len(lines)).unpack(b''.join(lines))
    width = len(WID2_TABLE)
    columns = [fields[i::width] for i in range(width)]
    if b''.join([b''.join(columns[i]) for i in _WID2_NUMBER_COLUMNS]).translate(
            None, _FLOAT_CHARS):
        return None
    if b''.join([b''.join(columns[i]) for i in _WID2_TEXT_COLUMNS]).translate(
            None, _PRINTABLE):
        return None
    try:
        for i in _WID2_INT_COLUMNS:
            columns[i] = list(map(int, columns[i]))
        for i in _WID2_FLOAT_COLUMNS:
            columns[i] = list(map(float, columns[i]))
    except ValueError:
        return None
    for i, (low, high) in zip(_WID2_INT_COLUMNS, _WID2_INT_RANGES):
        values = columns[i]
        if min(values) < low or (high is not None and max(values) > high):
            return None
    for i in _WID2_FLOAT_COLUMNS:
        values = columns[i]
        if not (-_INFINITY < min(values) and max(values) < _INFINITY):
            return None
    second, rate = columns[5], columns[11]
    if min(second) < 0.0 or max(second) >= 60.0 or not min(rate) > 0.0:
        return None
    if max(columns[2]) > 28:
        # Days every month has pass at once; the others only in a month that has them.
        try:
            for year, month, day in zip(columns[0], columns[1], columns[2]):
                if day > 28:
                    datetime.date(year, month, day)
        except ValueError:
            return None
    for i in _WID2_TEXT_COLUMNS:
        if PY2:
            columns[i] = list(map(str.strip, columns[i]))
        else:
            # One decode of the column; its texts are printable, so no LF among them.
            columns[i] = list(map(str.strip, b'\n'.join(columns[i]).decode('latin-1').split(
                '\n')))
    return columns


def parse_usual_wid2(lines):
    """The header dicts of WID2 lines (bytes of exactly 105 columns, the usual length) when
    parse_wid2 finds no fault in any of them, parsed together: the same dicts as parse_wid2's,
    made with a few passes over each field's column instead of work per line. None when a line
    is not the usual clean case (a fault, a leap second, a number parse_wid2 takes its slow
    road for): then each line is for parse_wid2."""
    if not lines:
        return []
    columns = _usual_columns(lines)
    if columns is None:
        return None
    return [{'station': station, 'channel': channel, 'aux_id': aux_id,
             'data_format': data_format, 'instrument_type': instrument,
             'year': y, 'month': mo, 'day': d, 'hour': h, 'minute': mi,
             'second': s, 'sample_count': count, 'sample_rate': rate,
             'calibration': calib, 'calibration_period': period,
             'horizontal_angle': horizontal, 'vertical_angle': vertical}
            for y, mo, d, h, mi, s, station, channel, aux_id, data_format, count, rate, calib,
            period, instrument, horizontal, vertical in zip(*columns)]


# The usual form of each numeric WID2 field, as this package and most others write it: a line
# whose fields all have it is one parse_wid2 passes without a fault (dates in range, a day every
# month has, seconds below 60, a count of digits, a positive rate, finite numbers of at most two
# exponent digits), so its parse can wait until its header is used.
# Each pattern matches a text one way only: a failure late in a column never retries earlier
# fields.
_DECIMAL = br'(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)'
_FLOAT = br' *[+-]?' + _DECIMAL + br'(?:[eE][+-]?[0-9]{1,2})?'
_USUAL_FIELDS = {
    'year': br'(?!0000)[0-9]{4}', 'month': br'0[1-9]|1[0-2]', 'day': br'0[1-9]|1[0-9]|2[0-8]',
    'hour': br'[01][0-9]|2[0-3]', 'minute': br'[0-5][0-9]', 'second': br'[0-5][0-9]\.[0-9]{3}',
    'sample_count': br' *[0-9]+',
    'sample_rate': br' *(?=[0-9.]*[1-9])' + _DECIMAL,
    'calibration': _FLOAT, 'calibration_period': _FLOAT, 'horizontal_angle': _FLOAT,
    'vertical_angle': _FLOAT}

def _usual(*names):
    """The usual forms of fields `names` in a row, each followed by its line's next character."""
    return b''.join(br'(?:' + _USUAL_FIELDS[name] + br')[^\n]' for name in names)


# A usual WID2 line is cut into four blocks (a struct unpack of many lines at once): the date and
# time, the text fields, the sample count and the rest; the separator columns, which the parser
# passes over, are checked with the fields. The date and time block of each distinct text is
# matched at once; the last block, most often one text for a whole file, field by field.
_BLOCKS = struct.Struct('5x24s18s1x8s1x48s')
_DATE_TIME = re.compile(br'(?:' + _usual('year', 'month', 'day', 'hour', 'minute') +
                        _USUAL_FIELDS['second'] + br'[^\n]\n)*\Z')
_COUNTS = re.compile(br'(?:' + _USUAL_FIELDS['sample_count'] + br'\n)*\Z')
_REST = struct.Struct('11s1x10s1x7s1x6s1x5s1x4s')
_REST_FIELDS = tuple(re.compile(br'(?:' + _USUAL_FIELDS[name] + br')\Z') if name else None
                     for name in ('sample_rate', 'calibration', 'calibration_period', None,
                                  'horizontal_angle', 'vertical_angle'))
_BLOCK_STRUCTS = {}


def _usual_rest(rest):
    """Whether the last block of a WID2 line (columns 58 to 105) holds usual fields."""
    return all(pattern is None or pattern.match(field) is not None
               for pattern, field in zip(_REST_FIELDS, _REST.unpack(rest)))


def usual_wid2(lines):
    """For WID2 lines (bytes of exactly 105 columns): (their sample counts, their data format
    fields as written) when every line is in the usual form, which parse_wid2 passes without a
    fault; else None. Checked a block of columns at a time, without parsing the lines."""
    if not lines:
        return [], []
    count = len(lines)
    cut = _BLOCK_STRUCTS.get(count)
    if cut is None:
        if len(_BLOCK_STRUCTS) >= 64:
            _BLOCK_STRUCTS.clear()
        cut = _BLOCK_STRUCTS[count] = struct.Struct(_BLOCKS.format * count)
    blocks = cut.unpack(b''.join(lines))
    texts, counts, rests = blocks[1::4], blocks[2::4], set(blocks[3::4])
    if _DATE_TIME.match(b'\n'.join(set(blocks[0::4])) + b'\n') is None or \
            _COUNTS.match(b'\n'.join(set(counts)) + b'\n') is None or \
            (b''.join(texts) + b''.join(rests)).translate(None, _PRINTABLE) or \
            not all(map(_usual_rest, rests)):
        return None
    return list(map(int, counts)), [text[15:] for text in texts]
