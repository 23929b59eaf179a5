"""The time of a WID2 header: its fields checked, turned into a datetime, and seconds rounded to
the millisecond the line holds, the same under Python 2.7 and 3."""
import datetime
import decimal
import math

from .fields import DATE_FIELDS


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


def check_date(header):
    """The fault of a header's date and time fields (numbers), naming the field, or None."""
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
