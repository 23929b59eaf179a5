"""What the records and the Waveform record share: codes, times, rates, and waveform names for
messages."""
import datetime
import struct

from .. import HEADER_DEFAULTS, Waveform
from ..compat import PY2, string_types, text_type
from ..errors import FormatError

EPOCH = datetime.datetime(1970, 1, 1)
# Widths of the codes in a record's fixed header.
WIDTHS = {'network': 2, 'station': 5, 'location': 2, 'channel': 3}
QUALITIES = ('D', 'R', 'Q', 'M')
# Microseconds since 1970 of the first and last times a datetime (and GSE2) holds, rounding to
# the millisecond included.
TIME_RANGE = (-62135596800000000, 253402300799999000)
STA2_FIELDS = ('network', 'latitude', 'longitude', 'coordinate_system', 'elevation',
               'emplacement_depth')


def start_of(wave):
    """The waveform's start, its hour, minute and second defaulting as the GSE2 writer's do;
    None when the header gives no valid time."""
    start = wave.start
    if start is None and any(k not in wave.header for k in HEADER_DEFAULTS):
        start = Waveform(dict(HEADER_DEFAULTS, **wave.header)).start
    return start


def describe(wave, index):
    """'waveform N (STATION CHANNEL START)' for messages."""
    start = start_of(wave)
    when = start.strftime('%Y/%m/%d %H:%M:%S.') + '%03d' % (start.microsecond // 1000) \
        if start is not None else 'no start time'
    return 'waveform %d (%s %s %s)' % (index, _shown(wave.station), _shown(wave.channel), when)


def _shown(value):
    if value is None:
        return '?'
    if PY2 and isinstance(value, text_type):
        return value.encode('ascii', 'backslashreplace')
    return value


def check_code(name, value, may_be_empty=False):
    """`value` as native ASCII text, or FormatError naming the code: printable ASCII without
    blanks, at most the code's width in a record (WIDTHS)."""
    width = WIDTHS[name]
    if not isinstance(value, string_types):
        raise FormatError('%s code must be text, not %r' % (name, value))
    if len(value) > width:
        raise FormatError('%s code %r is longer than the %d characters miniSEED holds'
                          % (name, value, width))
    if not value and not may_be_empty:
        raise FormatError('%s code is empty' % name)
    if any(not ('!' <= ch <= '~') for ch in value):
        raise FormatError('%s code %r holds characters other than printable ASCII without '
                          'blanks' % (name, value))
    return str(value)


def to_microseconds(when):
    """A naive UTC datetime as microseconds since 1970."""
    delta = when - EPOCH
    return (delta.days * 86400 + delta.seconds) * 1000000 + delta.microseconds


def from_microseconds(value):
    """A time in microseconds since 1970 (within TIME_RANGE) as a naive UTC datetime."""
    return EPOCH + datetime.timedelta(microseconds=value)


def float32(value):
    """`value` rounded to single precision, as blockette 100 stores it."""
    return struct.unpack('<f', struct.pack('<f', value))[0]


def single_precision_reading(value):
    """The shortest decimal that rounds to the single-precision `value` (blockette 100's rate),
    as a float: 40.000001 stored as a float reads 40.000001, not 40.00000095367432."""
    for digits in range(1, 10):
        shortest = float('%.*g' % (digits, value))
        if float32(shortest) == value:
            return shortest
    return value
