"""The WID2 line: parsed from the line's own text (the one parser of it), the values read
checked, the line printed from a header that complete.py has checked, and the check of many
lines at once that lets the runs road (runs.py) leave their parse until a header is used.

Values are read from the characters of the line (never through single-precision floats), so a
rate written 1234.567891 reads 1234.567891 and seconds 12.345 read 12.345.
"""
import math
import operator
import re
import struct

from ..compat import PY2
from .columns import FLOAT_CHARS, PRINTABLE, fit_number, number, shown, text
from .fields import WID2_TABLE
from .times import check_date

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


_WID2_STRUCT, WIDTH = _wid2_struct()
_TEXT_NAMES = tuple(name for name, _, _, kind, _, _ in WID2_TABLE if kind == 'text')
_TEXTS = operator.itemgetter(*[i for i, row in enumerate(WID2_TABLE) if row[3] == 'text'])
_NUMBER_NAMES = tuple(name for name, _, _, kind, _, _ in WID2_TABLE if kind != 'text')
_NUMBER_KINDS = tuple(kind for _, _, _, kind, _, _ in WID2_TABLE if kind != 'text')
_NUMBER_TEXTS = operator.itemgetter(*[i for i, row in enumerate(WID2_TABLE) if row[3] != 'text'])
_INFINITY = float('inf')


def parse_wid2(line):
    """(header dict, first fault or None) from a WID2 line (bytes, without its end of line).

    Every field of the table is in the dict; a numeric field that does not convert is None and
    makes the fault, which names the field. The values are then checked (see check_read)."""
    line = bytes(line)
    if len(line) != WIDTH:
        line = line[:WIDTH].ljust(WIDTH)
    fields = _WID2_STRUCT.unpack(line)
    texts = _TEXTS(fields)
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
    numbers = _NUMBER_TEXTS(fields)
    try:
        # Usual lines: every character is one of a number's, and each field converts.
        if b''.join(numbers).translate(None, FLOAT_CHARS):
            raise ValueError
        year, month, day, hour, minute, second, count, rate, calib, period, horizontal, \
            vertical = numbers
        year, month, day, hour, minute, second, count, rate, calib, period, horizontal, \
            vertical = values = (
                int(year), int(month), int(day), int(hour), int(minute), float(second),
                int(count), float(rate), float(calib), float(period), float(horizontal),
                float(vertical))
        # Only an exponent makes a value too large for a float; their sum is then infinite or
        # not a number (or a huge sum overflows: the field by field reading gives the same
        # values).
        total = sum(values)
        if total - total != 0:
            raise ValueError
    except ValueError:
        # Field by field: the first that does not convert is the fault.
        header = {'station': station, 'channel': channel, 'aux_id': aux_id,
                  'data_format': data_format, 'instrument_type': instrument}
        values = tuple(map(number, numbers, _NUMBER_KINDS))
        header.update(zip(_NUMBER_NAMES, values))
        if None in values:
            name, raw = next((n, t) for n, t, v in zip(_NUMBER_NAMES, numbers, values)
                             if v is None)
            return header, 'WID2 field %s %r is not a number' % (name, text(raw))
        return header, check_read(header)
    # The keys in the order of the field by field dict: texts, then numbers.
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
            count >= 0 and not b''.join(texts).translate(None, PRINTABLE):
        return header, None
    return header, check_read(header)


def check_read(header):
    """The first fault of a parsed header's values, naming the field, or None. Text fields
    must be printable ASCII, as the writer writes them."""
    for name in _TEXT_NAMES:
        value = header[name]
        if any(not (' ' <= ch <= '~') for ch in value):
            return 'WID2 field %s %r holds characters other than printable ASCII' % (
                name, shown(value))
    fault = check_date(header)
    if fault:
        return fault
    rate = header['sample_rate']
    if not (rate > 0 and not math.isinf(rate)):
        return 'WID2 field sample_rate %r must be finite and above zero' % rate
    if header['sample_count'] < 0:
        return 'WID2 field sample_count %d is below zero' % header['sample_count']
    return None


def describe(header):
    """Station, channel and start time of a header dict, for messages."""
    try:
        return '%s %s %04d/%02d/%02d %02d:%02d:%06.3f' % (
            shown(header.get('station', '?')), shown(header.get('channel', '?')),
            header.get('year', 0),
            header.get('month', 0), header.get('day', 0), header.get('hour', 0),
            header.get('minute', 0), header.get('second', 0.0))
    except (TypeError, ValueError):
        return '%s %s' % (shown(header.get('station', '?')), shown(header.get('channel', '?')))


def rate_text(rate):
    """The sample rate as the WID2 line holds it."""
    return fit_number('WID2', 'sample_rate', rate, 11, '%11.6f')


def _wid2_format():
    """One format for the whole WID2 line: the fields' own formats, '%s' for the floats whose
    text fit_number makes (all but the seconds)."""
    parts = ['WID2']
    for name, _, _, kind, fmt, before in WID2_TABLE:
        parts.append(before + ('%s' if kind == 'float' and name != 'second' else fmt))
    return ''.join(parts) + '\n'


WID2_FORMAT = _wid2_format()


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
    return (WID2_FORMAT % (full['year'], full['month'], full['day'], full['hour'],
                           full['minute'], full['second'], full['station'], full['channel'],
                           full['aux_id'], data_format, sample_count, rate, calibration, period,
                           full['instrument_type'], horizontal, vertical)).encode('ascii')


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
            (b''.join(texts) + b''.join(rests)).translate(None, PRINTABLE) or \
            not all(map(_usual_rest, rests)):
        return None
    return list(map(int, counts)), [fields[15:] for fields in texts]
