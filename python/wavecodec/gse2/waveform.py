"""The Waveform record: a WID2 header dict, its samples as array('i'), time and station."""
import datetime
import math
import sys
from array import array

from ..compat import array_from_bytes
from ..errors import FormatError
from .block import ATTRIBUTES, KEYWORDS, kind_of
from .times import seconds_of, start_of
from .wid2 import describe, parse_wid2

INT32_MIN = -2147483648
INT32_MAX = 2147483647


def _int32_buffer(samples):
    """The bytes of `samples` when it exposes a one-dimensional buffer of native 32-bit ints
    (a numpy int32 array, a memoryview of one), else None."""
    try:
        view = memoryview(samples)
    except TypeError:
        return None
    native = ('i', '@i', '=i', '<i' if sys.byteorder == 'little' else '>i')
    if view.ndim == 1 and view.itemsize == 4 and view.format in native:
        return view.tobytes()
    return None


def as_int32_array(samples):
    """`samples` (any sequence of ints, array('i'), or a buffer of int32 such as a numpy array)
    as a new array('i'); FormatError for values outside 32 bits or that are not integers."""
    if isinstance(samples, array) and samples.typecode == 'i':
        return samples[:]  # slicing copies in one step (array('i', a) goes item by item in 2.7)
    data = _int32_buffer(samples)
    if data is not None:
        # One copy of the raw buffer, no per-sample Python work.
        return array_from_bytes('i', data)
    try:
        return array('i', samples)
    except OverflowError:
        raise FormatError('samples outside the 32-bit range %d..%d' % (INT32_MIN, INT32_MAX))
    except TypeError as e:
        raise FormatError('samples must be integers (%s)' % e)


class _HeaderOnUse(object):
    """The header of a waveform read in a run of usual records (runs.py): its WID2 line, found
    faultless when it was read, is parsed when the header is first used, and the dict then
    stands in the instance as any other attribute (this is a non-data descriptor)."""

    def __get__(self, wave, owner=None):
        if wave is None:
            return self
        attributes = wave.__dict__
        line = attributes.get('_wid2')
        if line is None:
            raise AttributeError('header')
        header = attributes['header'] = parse_wid2(line)[0]
        attributes.pop('_wid2', None)
        return header


class Waveform(object):
    """One waveform: `header`, a dict of WID2 fields by their C names (text without padding,
    numbers as written in the file), and `samples`, an array('i').

    Time: `start` is a naive datetime.datetime meaning UTC, exact to the millisecond (the WID2
    line's resolution); `end` is the time of the last sample, start + (n - 1) * delta.
    `sample_rate` is the rate as written, `delta` its inverse (None when the rate is not a
    positive number). Setting `start` sets the header's date and time fields.

    `sta2` is None or a dict of the STA2 line's values (network, latitude, longitude,
    coordinate_system, elevation, emplacement_depth; a value absent from the line is None);
    `eid2` of the EID2 line's (event_id, bulletin_type), `bea2` of the BEA2 line's (beam_id,
    azimuth, slowness). `block` is the order of the lines between the WID2 and DAT2 lines:
    'STA2', 'EID2' or 'BEA2' where such a line stands, the text of any other line (kept as
    read). `before` holds the lines kept between the previous waveform and this one (OUT2,
    DLY2, comments, ...), `after` those after the last waveform of a message or file. The
    writer writes them all where they were (block.py); extras() counts them.

    Waveforms returned by read() also carry `checksum` (the CHK2 value of the file, or None),
    `computed_checksum` (over the samples), `error` (None, or the message of the fault found
    when reading with strict=False), `message` (None, or a dict of the message envelope: version,
    msg_type, msg_id, ref_id, data_type), `headers_only` (true when the data section was skipped:
    `samples` is empty and the count is the header's sample_count) and `offset` (the byte offset
    of the waveform's WID2 line in its source; None for a waveform made here).
    """

    header = _HeaderOnUse()
    # Waveforms of the runs road keep no lines around them: these stand for theirs.
    eid2 = None
    bea2 = None
    block = ()
    before = ()
    after = ()

    def __init__(self, header, samples=(), start=None, sta2=None, eid2=None, bea2=None):
        if not isinstance(header, dict):
            raise FormatError('header must be a dict of WID2 fields')
        self.header = dict(header)
        when = self.header.pop('start', None)
        if start is not None or when is not None:
            self.start = start if start is not None else when
        self.samples = as_int32_array(samples)
        self.sta2 = dict(sta2) if sta2 is not None else None
        self.eid2 = dict(eid2) if eid2 is not None else None
        self.bea2 = dict(bea2) if bea2 is not None else None
        self.block = ()
        self.before = ()
        self.after = ()
        self.checksum = None
        self.computed_checksum = None
        self.error = None
        self.message = None
        self.headers_only = False
        self.offset = None

    @classmethod
    def _from_file(cls, header):
        """A waveform for the reader: the header dict taken as it is, no samples yet."""
        wave = cls.__new__(cls)
        wave.header = header
        wave.samples = array('i')
        wave.sta2 = None
        wave.eid2 = None
        wave.bea2 = None
        wave.block = ()
        wave.before = ()
        wave.after = ()
        wave.checksum = None
        wave.computed_checksum = None
        wave.error = None
        wave.message = None
        wave.headers_only = False
        wave.offset = None
        return wave

    @property
    def ok(self):
        return self.error is None

    @property
    def station(self):
        return self.header.get('station')

    @property
    def channel(self):
        return self.header.get('channel')

    @property
    def start(self):
        return start_of(self.header)

    @start.setter
    def start(self, when):
        if not isinstance(when, datetime.datetime):
            raise FormatError('start must be a datetime.datetime, not %r' % (when,))
        if when.tzinfo is not None and when.utcoffset() is not None:
            when = when.replace(tzinfo=None) - when.utcoffset()
        self.header.update(year=when.year, month=when.month, day=when.day, hour=when.hour,
                           minute=when.minute,
                           second=seconds_of(when.second, when.microsecond))

    @property
    def sample_rate(self):
        return self.header.get('sample_rate')

    @property
    def delta(self):
        rate = self.sample_rate
        try:
            if rate > 0 and not math.isinf(rate):
                return 1.0 / rate
        except TypeError:
            pass
        return None

    @property
    def npts(self):
        """The number of samples: those held, or the header's count after headers_only."""
        if self.headers_only:
            return self.header.get('sample_count') or 0
        return len(self.samples)

    @property
    def end(self):
        start, delta, n = self.start, self.delta, self.npts
        if start is None or delta is None or n == 0:
            return None
        return start + datetime.timedelta(seconds=(n - 1) * delta)

    def extras(self):
        """What the waveform carries beyond its WID2 header, its STA2 network code and its
        samples, counted by kind: 'STA2' (a STA2 line with a position), 'EID2' and 'BEA2' (1
        each when set), and the lines kept as text by their keyword ('OUT2', 'DLY2', ...),
        'comment', 'blank' or 'text'. {} for none. Conversions report what they cannot carry
        from it (extras_text)."""
        counts = {}
        if any(value is not None for name, value in (self.sta2 or {}).items()
               if name != 'network'):
            counts['STA2'] = 1
        for key in KEYWORDS[1:]:
            if getattr(self, ATTRIBUTES[key]) is not None:
                counts[key] = 1
        texts = list(self.before) + list(self.after)
        placed = set()
        for entry in self.block:
            if entry in ATTRIBUTES and entry not in placed:
                placed.add(entry)
            else:
                texts.append(entry)
        for line in texts:
            kind = kind_of(line)
            counts[kind] = counts.get(kind, 0) + 1
        return counts

    def to_numpy(self):
        """The samples as a numpy int32 array sharing the storage of `samples` (no copy)."""
        import numpy
        if not len(self.samples):
            return numpy.zeros(0, dtype=numpy.int32)
        return numpy.frombuffer(self.samples, dtype=numpy.int32)

    def __len__(self):
        return len(self.samples)

    def __repr__(self):
        return '<Waveform %s, %d samples%s>' % (describe(self.header), self.npts,
                                                '' if self.error is None else ', bad')


def extras_of(waves):
    """The extras() of `waves` added up: {kind: count}."""
    total = {}
    for wave in waves:
        for kind, count in wave.extras().items():
            total[kind] = total.get(kind, 0) + count
    return total


def extras_text(counts):
    """Counts from extras_of() for a report: '2 EID2, 2 BEA2, 1 OUT2 line, 3 comment lines'
    ('' for none): the lines read by field first, then the kinds of kept lines."""
    parts = ['%d %s' % (counts[key], key) for key in KEYWORDS if key in counts]
    parts += ['%d %s line%s' % (counts[kind], kind, '' if counts[kind] == 1 else 's')
              for kind in sorted(counts) if kind not in KEYWORDS]
    return ', '.join(parts)
