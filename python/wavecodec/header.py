"""The WID2 header as a dict of the C record's fields: defaults, checks and conversions."""
import ctypes

from .compat import integer_types, native_str, string_types, to_bytes
from .errors import FormatError
from .native import Wid2Header

# Text fields and their widths on the WID2 line.
TEXT_FIELDS = (('station', 5), ('channel', 3), ('aux_id', 4), ('data_format', 3),
               ('instrument_type', 6))
INT_FIELDS = ('year', 'month', 'day', 'hour', 'minute', 'sample_count')
# Float fields, their printf formats on the WID2 line and their column widths.
FLOAT_FIELDS = (('second', '%06.3f', 6), ('sample_rate', '%11.6f', 11),
                ('calibration', '%10.4e', 10), ('calibration_period', '%7.3f', 7),
                ('horizontal_angle', '%5.1f', 5), ('vertical_angle', '%4.1f', 4))
FIELDS = tuple(name for name, _ in Wid2Header._fields_)

# Fields a header to be written must give; the rest default to DEFAULTS.
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

_RANGES = {'year': (0, 9999), 'month': (1, 12), 'day': (1, 31), 'hour': (0, 23),
           'minute': (0, 59)}


def from_struct(h):
    """The fields of a Wid2Header as a dict; text without its padding."""
    d = {}
    for name, _ in TEXT_FIELDS:
        # A char array field reads up to its first NUL; the padding blanks are dropped.
        d[name] = native_str(getattr(h, name)).strip()
    for name in INT_FIELDS:
        d[name] = int(getattr(h, name))
    for name, _, _ in FLOAT_FIELDS:
        d[name] = float(getattr(h, name))
    return d


def blank_struct():
    """A record for read_header: numeric fields the line does not give stay recognisably unset."""
    h = Wid2Header()
    h.sample_count = -1
    h.sample_rate = -1.0
    return h


def describe(header):
    """Station, channel and start time of a header dict, for messages."""
    try:
        return '%s %s %04d/%02d/%02d %02d:%02d:%06.3f' % (
            header.get('station', '?'), header.get('channel', '?'), header.get('year', 0),
            header.get('month', 0), header.get('day', 0), header.get('hour', 0),
            header.get('minute', 0), header.get('second', 0.0))
    except (TypeError, ValueError):
        return '%s %s' % (header.get('station', '?'), header.get('channel', '?'))


def complete(header):
    """A full header dict: `header` checked, with defaults for the optional fields.

    Raises FormatError naming the field for unknown or missing fields, wrong types, values out of
    range and values that would not fit their columns of the WID2 line.
    """
    if not isinstance(header, dict):
        raise FormatError('header must be a dict of WID2 fields, not %s' % type(header).__name__)
    unknown = sorted(set(header) - set(FIELDS))
    if unknown:
        raise FormatError('unknown header field(s): %s (known: %s)'
                          % (', '.join(map(str, unknown)), ', '.join(FIELDS)))
    missing = [name for name in REQUIRED if name not in header]
    if missing:
        raise FormatError('header lacks required field(s): %s' % ', '.join(missing))
    full = dict(DEFAULTS)
    full.update(header)
    for name, width in TEXT_FIELDS:
        if name in DERIVED:
            continue
        value = full[name]
        if not isinstance(value, string_types):
            raise FormatError('header field %s must be text, not %r' % (name, value))
        if len(value) > width:
            raise FormatError('header field %s %r is longer than its %d columns'
                              % (name, value, width))
        if any(not (' ' <= ch <= '~') for ch in value):
            raise FormatError('header field %s %r holds characters other than printable ASCII'
                              % (name, value))
    for name in INT_FIELDS:
        if name in DERIVED:
            continue
        value = full[name]
        if isinstance(value, bool) or not isinstance(value, integer_types):
            raise FormatError('header field %s must be an integer, not %r' % (name, value))
        low, high = _RANGES[name]
        if not low <= value <= high:
            raise FormatError('header field %s %d is outside %d..%d' % (name, value, low, high))
    for name, fmt, width in FLOAT_FIELDS:
        value = full[name]
        if isinstance(value, bool) or not isinstance(value, integer_types + (float,)):
            raise FormatError('header field %s must be a number, not %r' % (name, value))
        # The value as the C record stores it (single precision), printed as write_header does.
        stored = ctypes.c_float(value).value
        if stored != stored:
            raise FormatError('header field %s is not a number' % name)
        if len(fmt % stored) > width:
            raise FormatError('header field %s %r does not fit its %d columns (%s)'
                              % (name, value, width, fmt))
    # 59.9996 would print as 60.000: refused like 60 itself.
    if not 0.0 <= full['second'] < 60.0 or \
            ('%06.3f' % ctypes.c_float(full['second']).value).startswith('60'):
        raise FormatError('header field second %r is outside 0 <= second < 60' % full['second'])
    if not full['sample_rate'] > 0:
        raise FormatError('header field sample_rate %r must be positive' % full['sample_rate'])
    return full


def to_struct(header, sample_count, data_format):
    """A Wid2Header from a header dict already passed through complete()."""
    h = Wid2Header()
    for name, _ in TEXT_FIELDS:
        setattr(h, name, to_bytes(data_format if name == 'data_format' else header[name]))
    for name in INT_FIELDS:
        setattr(h, name, sample_count if name == 'sample_count' else header[name])
    for name, _, _ in FLOAT_FIELDS:
        setattr(h, name, float(header[name]))
    return h
