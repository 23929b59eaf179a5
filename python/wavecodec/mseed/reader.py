"""Reading miniSEED records as Waveforms: contiguous records of a channel merged into one
waveform, a gap, an overlap or a change of rate starting a new one."""
import os
from array import array

from .. import Waveform
from ..compat import PY2, string_types, text_type
from ..errors import FormatError
from . import codes, shim


def _looks_like_path(data):
    """Under Python 2 a str is both a name and bytes: one without NUL or line end that does not
    begin like a record (six digits or blanks and a quality letter) is a name."""
    if not 0 < len(data) < 4096 or b'\0' in data or b'\n' in data:
        return False
    return not (len(data) >= 7 and data[6] in 'DRQM' and
                all(c in '0123456789 ' for c in data[:6]))


def _load(source, name):
    """(bytes-like data, name for messages) of a path, bytes-like object or file object."""
    if isinstance(source, text_type) or hasattr(source, '__fspath__') or \
            (PY2 and isinstance(source, str) and _looks_like_path(source)):
        path = os.fspath(source) if hasattr(os, 'fspath') else source
        with open(path, 'rb') as f:
            return f.read(), name or path
    if isinstance(source, (bytes, bytearray)):
        return source, name or '<bytes>'
    if hasattr(source, 'read'):
        data = source.read()
        if not isinstance(data, (bytes, bytearray)):
            raise TypeError('the file object is opened in text mode; open it in binary mode')
        stream_name = getattr(source, 'name', None)
        return data, name or (stream_name if isinstance(stream_name, string_types)
                              else '<stream>')
    try:
        return memoryview(source).tobytes(), name or '<bytes>'
    except TypeError:
        raise TypeError('cannot read records from %s: give a path, a bytes-like object or a '
                        'binary file object' % type(source).__name__)


def _rate(record):
    """The rate a record gives: blockette 100's float read as its shortest decimal, else the
    factor and multiplier's."""
    if record.blockette100_rate:
        return codes.single_precision_reading(record.blockette100_rate)
    return record.nominal_rate


def _code(value):
    return value.decode('ascii', 'replace') if not PY2 else value


class _Segment(object):
    """A waveform being assembled from contiguous records."""

    def __init__(self, key, record, rate, index, offset):
        self.key = key
        self.start = record.stream.start
        self.rate = rate
        self.samples = array('i')
        self.quality = _code(record.stream.quality)
        self.encoding = shim.ENCODING_NAMES.get(record.stream.encoding,
                                                str(record.stream.encoding))
        self.record_length = record.stream.record_length
        self.first_record = (index, offset)
        self.records = 0

    def expected(self):
        """The time the next record's first sample is due, in microseconds."""
        return self.start + int(round(len(self.samples) * 1e6 / self.rate))

    def follows(self, record, rate):
        """Whether `record` continues this segment: same rate, first sample within the
        records' time resolution (a tenth of a millisecond, at most half a sample) of the
        time due."""
        if rate != self.rate:
            return False
        tolerance = min(100.0, 0.5e6 / rate)
        return abs(record.stream.start - self.expected()) <= tolerance


def _waveform(segment, name, round_time):
    network, station, location, channel = segment.key
    start = segment.start
    rounded = 0
    index, offset = segment.first_record
    if not codes.TIME_RANGE[0] <= start <= codes.TIME_RANGE[1]:
        raise FormatError('%s: record %d (byte %d, %s.%s.%s.%s): the start time (%d us from '
                          '1970) lies outside the years 1 to 9999' % (
                              name, index, offset, network, station, location, channel,
                              start))
    if start % 1000:
        if not round_time:
            raise FormatError(
                '%s: record %d (byte %d, %s.%s.%s.%s): the start %s has a fraction of a '
                'millisecond, which GSE2 cannot hold; read with round_time=True '
                '(--round-time) to round it to the millisecond' % (
                    name, index, offset, network, station, location, channel,
                    codes.from_microseconds(start).isoformat()))
        rounded = start - (start + 500) // 1000 * 1000
        start -= rounded
    when = codes.from_microseconds(start)
    header = dict(station=station, channel=channel, aux_id='', year=when.year,
                  month=when.month, day=when.day, hour=when.hour, minute=when.minute,
                  second=float('%d.%03d' % (when.second, when.microsecond // 1000)),
                  sample_count=len(segment.samples), sample_rate=segment.rate,
                  calibration=1.0, calibration_period=1.0, instrument_type='',
                  horizontal_angle=-1.0, vertical_angle=-1.0)
    sta2 = dict.fromkeys(codes.STA2_FIELDS)
    sta2['network'] = network
    wave = Waveform(header, sta2=sta2 if network else None)
    # The segment's array itself: Waveform() would copy it (element by element under 2.7).
    wave.samples = segment.samples
    wave.location = location
    wave.quality = segment.quality
    wave.encoding = segment.encoding
    wave.record_length = segment.record_length
    wave.records = segment.records
    wave.rounded_time = rounded
    return wave


def iter_records(data, name):
    """Yields (record number, byte offset, record length, Record, samples) of every record;
    a record that cannot be read is a FormatError naming the file, record and byte."""
    unpacker = shim.Unpacker(data)
    offset = 0
    index = 0
    size = len(data)
    while offset < size:
        index += 1
        try:
            length, record, samples = unpacker.unpack(offset)
        except shim.UnpackError as e:
            raise FormatError('%s: record %d (byte %d): %s' % (name, index, offset, e))
        yield index, offset, length, record, samples
        offset += length


def read(source, round_time=False, name=None):
    """The waveforms of a miniSEED file: a path, a bytes-like object or a binary file object.

    Records of one channel (network, station, location, channel) are merged while each starts
    where the one before ends, within the records' time resolution; a gap, an overlap or
    another rate starts a new waveform; records without samples are passed over. Waveforms
    come in the order of their first records.
    Each has the header fields the GSE2 writer needs (calibration, angles and instrument type
    as GSE2's defaults: the records do not hold them), the network in `sta2`, and `location`,
    `quality`, `encoding`, `record_length`, `records` and `rounded_time` (microseconds taken
    off the start by round_time; 0 otherwise).

    A start with a fraction of a millisecond (GSE2 holds milliseconds) is a FormatError unless
    `round_time`. A record that cannot be read (cut short, wrong length, corrupt Steim frames,
    samples that disagree with the integration constant, float or text samples) is a
    FormatError naming the file, the record and its byte offset; so is an input without
    samples. Under Python 2 a str that does not begin like a record is taken as a path: pass
    records as a bytearray to be sure. name: the file's name in
    messages (default: the path, or '<bytes>').
    """
    data, name = _load(source, name)
    done = []
    open_segments = {}
    for index, offset, length, record, samples in iter_records(data, name):
        if not len(samples):
            # A record without samples (an event or calibration record) adds nothing.
            continue
        stream = record.stream
        key = (_code(stream.network), _code(stream.station), _code(stream.location),
               _code(stream.channel))
        rate = _rate(record)
        if not rate > 0:
            raise FormatError('%s: record %d (byte %d): no sample rate' % (name, index, offset))
        segment = open_segments.get(key)
        if segment is None or not segment.follows(record, rate):
            segment = _Segment(key, record, rate, index, offset)
            open_segments[key] = segment
            done.append(segment)
        segment.samples.extend(samples)
        segment.records += 1
    if not done:
        raise FormatError('%s: no samples: %s' % (
            name, 'the input is empty' if not len(data) else 'no record holds any'))
    return [_waveform(segment, name, round_time) for segment in done]
