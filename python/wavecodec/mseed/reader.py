"""Reading miniSEED records as Waveforms: records decoded a block at a time by libmseedio,
joined per channel as libmseed joins them (within and across inputs, in any order), gaps and
overlaps starting new waveforms; what is not a waveform of timed integers goes to the report."""
from .. import Waveform
from ..compat import PY2, string_types, text_type
from ..errors import FormatError
from . import codes, join, records
from ..sniff import looks_like_records
from .report import Channel, Report
from .select import Selection


class Waveforms(list):
    """The waveforms read, in the order of their first records; `report` (report.Report) tells
    what else the inputs held."""

    def __init__(self, waves, report):
        list.__init__(self, waves)
        self.report = report


def _looks_like_path(data):
    """Under Python 2 a str is both a name and bytes: one without NUL or line end that does not
    begin like a record (six digits or blanks and a quality letter) is a name."""
    if not 0 < len(data) < 4096 or b'\0' in data or b'\n' in data:
        return False
    return not looks_like_records(data)


def _source(source, name):
    """(the pieces of bytes records.scan reads, name for messages) of a path, bytes-like object
    or binary file object."""
    if isinstance(source, text_type) or hasattr(source, '__fspath__') or \
            (PY2 and isinstance(source, str) and _looks_like_path(source)):
        path = source.__fspath__() if hasattr(source, '__fspath__') else source
        return records.path_blocks(path), name or path
    if isinstance(source, (bytes, bytearray)):
        return records.data_blocks(source), name or '<bytes>'
    if hasattr(source, 'read'):
        stream_name = getattr(source, 'name', None)
        return records.stream_blocks(source), name or (
            stream_name if isinstance(stream_name, string_types) else '<file object>')
    try:
        return records.data_blocks(memoryview(source).tobytes()), name or '<bytes>'
    except TypeError:
        raise TypeError('cannot read records from %s: give a path, a bytes-like object or a '
                        'binary file object' % type(source).__name__)


def _where(segment):
    first = segment.first
    return '%s: record %d (byte %d, %s)' % (first.name, first.record, first.offset,
                                          '.'.join(segment.key))


def _waveform(segment, round_time):
    network, station, location, channel = segment.key
    start = segment.start
    rounded = 0
    if not codes.TIME_RANGE[0] <= start <= codes.TIME_RANGE[1]:
        raise FormatError('%s: the start time (%d us from 1970) lies outside the years 1 to '
                          '9999' % (_where(segment), start))
    if start % 1000:
        if not round_time:
            raise FormatError(
                '%s: the start %s has a fraction of a millisecond, which GSE2 cannot hold; '
                '--round-time rounds it to the millisecond'
                % (_where(segment), codes.from_microseconds(start).isoformat()))
        rounded = start - (start + 500) // 1000 * 1000
        start -= rounded
    when = codes.from_microseconds(start)
    header = dict(station=station, channel=channel, aux_id=location, year=when.year,
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
    first = segment.first
    wave.location = location
    wave.quality = first.quality
    wave.encoding = first.encoding
    wave.record_length = first.record_length
    wave.records = segment.records
    wave.rounded_time = rounded
    wave.source = (first.name, first.record, first.offset)
    return wave


def _cut(segment, selection):
    """Cuts the segment to the selection's window; False when nothing is left."""
    if selection is None or (selection.start is None and selection.end is None) or \
            not segment.timed():
        return True
    first, stop, start = selection.cut(segment.start, segment.rate, len(segment.samples))
    if first == stop:
        return False
    del segment.samples[stop:]
    del segment.samples[:first]
    segment.start = start
    return True


def read(source, round_time=False, name=None, lenient=False, network=None, station=None,
         location=None, channel=None, start=None, end=None):
    """The waveforms of miniSEED input: a path, a bytes-like object or a binary file object,
    or a list of them (records joined across them). Returns a list (Waveforms) whose `report`
    (mseed.report.Report) lists what is not a waveform.

    Records of one channel (network, station, location, channel) are joined as libmseed joins
    them into a trace, in any order within and across the inputs: a record continues a
    waveform when its rate is within 0.01 % and it starts within half a sample period of the
    time after the waveform's last sample (or ends that close before its first). Gaps and
    overlaps start new waveforms and are listed in report.gaps. Waveforms come in the order
    of their first records.
    Each has the header fields the GSE2 writer needs (calibration, angles and instrument type
    at their defaults, the location code as the WID2 auxiliary id), the network in `sta2`,
    and `location`, `quality`, `encoding`, `record_length`, `records`, `rounded_time`
    (microseconds taken off the start by round_time) and `source` (name, record, byte of its
    first record).

    Channels of float, double or text samples (log records), or of integers without a sample
    rate, are not waveforms: they come in report.other (report.Channel, samples included).
    Records without samples are counted in report.empty. A start with a fraction of a
    millisecond (GSE2 holds milliseconds) is a FormatError unless `round_time`. A record that
    cannot be read is a FormatError naming the file, the record and its byte offset; with
    `lenient` it is listed in report.damaged and reading goes on at the next record header,
    searched every 128 bytes as libmseed searches. A miniSEED 3 file is named as such.
    network, station, location, channel: glob patterns of the codes; start, end: a time window
    (datetime or 'YYYY-MM-DDTHH:MM:SS.ffffff', both ends included): records outside are passed
    over undecoded, waveforms cut to it. name: the input's name in messages.
    """
    selection = Selection(network, station, location, channel, start, end)
    sources = source if isinstance(source, (list, tuple)) else [source]
    names = name if isinstance(name, (list, tuple)) else [name] * len(sources)
    report = Report()
    joiner = join.Joiner()
    for one, its_name in zip(sources, names):
        data, its_name = _source(one, its_name)
        for run in records.scan(data, its_name, report, selection if selection else None,
                                lenient):
            joiner.add(run)
    joiner.heal()
    waves = []
    kept = []
    for segment in joiner.segments():
        if segment.kind != 'int32' or not segment.timed():
            report.other.append(Channel(segment))
        elif _cut(segment, selection):
            kept.append(segment)
        else:
            report.outside += 1
    report.gaps = join.gaps(kept)
    for segment in kept:
        waves.append(_waveform(segment, round_time))
    if not waves and not report.other:
        raise FormatError('%s: no samples: %s' % (', '.join(report.files) or '<no input>', (
            'the input is empty' if report.empty_inputs == report.files else
            'no record within the selection' if report.passed_over or report.outside else
            'no record holds any')))
    return Waveforms(waves, report)
