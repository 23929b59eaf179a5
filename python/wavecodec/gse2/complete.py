"""A header to be written, checked and completed: every field known and of its type, the date
existing, every value able to survive printing in its columns, defaults for the optional fields
and the time rounded to the millisecond. The usual header takes a road of a few steps, which
gives what the full checks give (test_header_roads.py compares them value by value).
"""
import datetime
import operator
import re

from ..compat import integer_types
from ..errors import FormatError
from .columns import check_number, check_text, fit_number
from .fields import DATE_FIELDS, DEFAULTS, DERIVED, FIELDS, REQUIRED, WID2_TABLE
from .times import check_date, is_leap_second, millis, seconds_of, start_of

# Tables of the checks.
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


def _fit_floats(full):
    """FormatError naming the first float field (all but the seconds) that does not fit its
    columns."""
    for name, first, last, kind, fmt, _ in WID2_TABLE:
        if kind == 'float' and name != 'second':
            fit_number('WID2', name, full[name], last - first + 1, fmt)


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
            _fit_floats(full)
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
            check_text('WID2', name, full[name], last - first + 1)
            continue
        check_number('WID2', name, full[name])
        if kind == 'int' and not isinstance(full[name], integer_types):
            raise FormatError('WID2 field %s must be an integer, not %r' % (name, full[name]))
    fault = check_date(full)
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
    _fit_floats(full)
    if not full['sample_rate'] > 0:
        raise FormatError('WID2 field sample_rate %r must be above zero' % full['sample_rate'])
    return full
