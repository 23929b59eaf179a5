"""The work done on one file of an archive, in whichever process runs it: its index rows, its
verification, its conversion. A task returns a file's faults as its result; only a library
that cannot be loaded (the same for every file) is raised. `crashed(item, reason)` makes the
result of a file whose work failed in an unexpected way or ended its worker process.

A task holds the calling process's working folder (`base`): relative paths are resolved there,
whichever machine runs the task, and results name the paths as they were given."""
import collections
import os

from .. import read
from ..commandline import STDIO, display
from ..errors import LibraryNotFoundError, WaveformError
from ..sniff import looks_like_records
from . import inputs
from .inputs import SEGY_HEAD, kind_of, open_input

IndexRow = collections.namedtuple('IndexRow', [
    'path', 'offset', 'kind', 'station', 'network', 'channel', 'start', 'end', 'sample_rate',
    'samples', 'format', 'format_code', 'traces', 'interval', 'byte_order', 'checked',
    'fault'])
IndexRow.__new__.__defaults__ = (None,) * (len(IndexRow._fields) - 2) + (0, None)

# tuple.__new__(NamedTuple, values) builds a named tuple without the Python-level checks of
# its constructor: a quarter of the cost of _make for thousands of rows.
new_tuple = tuple.__new__

# One verified file: as many waveforms, the messages of the faulty ones, and the error that
# stopped the file (None or its message).
FileCheck = collections.namedtuple('FileCheck', 'path waveforms faults error notes')
# notes: lines worth showing that are no fault (the gaps and overlaps of a miniSEED file).
FileCheck.__new__.__defaults__ = ((),)

# One converted file: its output (None when nothing was written), the waveforms written, the
# fault (None when converted; 'skipped: ...' when the file is not one the target takes) and what
# its waveforms carry that the target has no place for (gse2.waveform.extras_of; None for none).
Converted = collections.namedtuple('Converted', 'path target waveforms fault extras')
Converted.__new__.__defaults__ = (None,)


def message(e, path):
    """One line for an exception about file `path`: 'FILE: reason' for system errors (a read
    that fails names no file by itself), the text otherwise."""
    if isinstance(e, EnvironmentError) and getattr(e, 'strerror', None):
        return '%s: %s' % (e.filename or display(path), e.strerror)
    return ' '.join(str(e).split()) or type(e).__name__


def _iso(when):
    if when is None:
        return None
    return '%04d-%02d-%02dT%02d:%02d:%02d.%03d' % (when.year, when.month, when.day, when.hour,
                                                   when.minute, when.second,
                                                   when.microsecond // 1000)


def _times(wave):
    """(start, end) datetimes of a waveform, None where its header gives none."""
    try:
        start = wave.start
    except (ValueError, OverflowError, TypeError):
        return None, None
    try:
        return start, wave.end
    except (ValueError, OverflowError, TypeError):
        return start, None


class Selection(object):
    """Which waveforms a run takes: station and channel patterns (fnmatch, any case, as the
    reader takes them) and a time window (datetimes; a waveform is taken when it overlaps
    [start, end]). A waveform whose times are unknown (a faulty header) is taken: its fault
    is reported."""

    def __init__(self, stations=None, channels=None, start=None, end=None):
        self.stations = list(stations) if stations else None
        self.channels = list(channels) if channels else None
        self.start = start
        self.end = end

    @property
    def narrowed(self):
        """Whether anything is asked: then a file of no waveforms (SEG-Y) has no row."""
        return bool(self.stations or self.channels or self.start or self.end)

    def takes_times(self, begin, end):
        if self.start is not None and end is not None and end < self.start:
            return False
        if self.end is not None and begin is not None and begin > self.end:
            return False
        return True

    def waves(self, waves):
        if self.start is None and self.end is None:
            return waves
        return [w for w in waves if self.takes_times(*_times(w))]

    def read(self, data, path, **options):
        return self.waves(read(data, name=display(path), station=self.stations,
                               channel=self.channels, **options))


ALL = Selection()


class Task(object):
    """A task's items are paths, except where said otherwise."""

    def __init__(self, select=None):
        self.select = select or ALL
        self.base = os.getcwd()
        # Inputs given themselves that are read to their end here (walk.Listing.streams).
        self.streams = frozenset()

    def full(self, path):
        """`path` resolved against the caller's working folder."""
        return os.path.join(self.base, path)

    def here(self, item):
        """Whether `item` must be read by this process: standard input, and FIFOs and devices
        given themselves, are the caller's."""
        return item == STDIO or item in self.streams

    def size(self, item):
        """The bytes of input of `item`, to share the work out (0 when unknown)."""
        try:
            return os.path.getsize(self.full(item))
        except (OSError, TypeError):
            return 0

    def finish(self, items):
        """Called after each batch of items, in the process that ran it: {position in
        `items`: result that replaces the one made} (a conversion whose output could not be
        committed)."""
        return {}

    def abandon(self):
        """Called when a batch ends in an exception (a stop): drops what it holds."""

    def pack(self, result):
        """A result as it travels from a worker process (see unpack): plain tuples, lists,
        strings and numbers travel fastest."""
        return result

    def unpack(self, packed):
        return packed

    def gse2_waves(self, path, f, **options):
        """The selected waveforms of GSE2 input `path` (`f` open at its start, None for
        standard input)."""
        data = inputs.gse2_text(path, f, options.get('headers_only', False))
        return self.select.read(data, path, **options)


def open_item(task, path):
    """(open file, or None for a stream (Task.streams), kind)."""
    if task.here(path):
        return None, 'gse2'
    f = open_input(task.full(path), path)
    try:
        head = f.read(SEGY_HEAD)
        f.seek(0)
    except BaseException:
        f.close()
        raise
    return f, kind_of(path, head)


def _gse2_rows(path, waves, checked):
    # Equal strings of a file's rows (its station, format, and the start and end shared by
    # the channels of a recording) made one object: the rows take less memory, and they
    # travel from a worker process several times quicker (a marshal or pickle string holds a
    # shared object once).
    share = {}.setdefault
    rows = []
    for w in waves:
        h = w.header
        start, end = _times(w)
        end = _iso(end) if start is not None else None
        start = _iso(start)
        station = h.get('station')
        channel = h.get('channel')
        network = (w.sta2 or {}).get('network')
        data_format = h.get('data_format')
        # Fields in IndexRow's order.
        rows.append(new_tuple(IndexRow, (
            path, w.offset, 'gse2', share(station, station), share(network, network),
            share(channel, channel), share(start, start), share(end, end),
            h.get('sample_rate'), h.get('sample_count'), share(data_format, data_format),
            None, None, None, None, checked, w.error)))
    return rows


def _segy_row(path, f, kind, checked):
    from .. import segy  # here: GSE2 archives do without the SEG-Y package
    opener = segy.open_su if kind == 'su' else segy.open
    with opener(f, strict=False) as s:
        counts = [s.sample_count(i) for i in range(len(s))] if s.varying else ()
        if checked:
            for _ in s.traces():
                pass
        return [IndexRow(path=path, offset=0, kind=kind, traces=len(s),
                         samples=max(counts) if counts else s.samples_per_trace,
                         interval=s.sample_interval, format_code=s.format,
                         byte_order=s.endian, checked=checked, fault=s.truncated or None)]


class Index(Task):
    """The index rows of one file: one per waveform of a GSE2 file (headers only, or decoded
    and checked with `verify`), one for a SEG-Y or SU file; a file that cannot be read is one
    row with its fault."""

    def __init__(self, select=None, verify=False):
        Task.__init__(self, select)
        self.verify = verify

    def __call__(self, path):
        kind = None
        try:
            f, kind = open_item(self, path)
            try:
                if kind == 'gse2':
                    checked = 1 if self.verify else 0
                    return _gse2_rows(path, self.gse2_waves(
                        path, f, strict=False, headers_only=not self.verify), checked)
                if self.select.narrowed:
                    return []
                return _segy_row(path, f, kind, 1 if self.verify else 0)
            finally:
                if f is not None:
                    f.close()
        except LibraryNotFoundError:
            raise
        except (WaveformError, EnvironmentError) as e:
            return self.crashed(path, message(e, path), kind)

    def crashed(self, path, reason, kind=None):
        return [IndexRow(path=path, kind=kind or inputs.kind_by_name(path) or 'gse2',
                         fault=reason)]

    # Plain tuples cost a third of what named tuples cost to pickle and unpickle, which
    # matters next to the quick reading of headers.
    def pack(self, rows):
        return [tuple(r) for r in rows]

    def unpack(self, packed):
        return [new_tuple(IndexRow, r) for r in packed]


class Verify(Task):
    """Every selected waveform of one GSE2 file decoded and its checksum compared."""

    def __call__(self, path):
        try:
            f, kind = open_item(self, path)
            try:
                if f is not None and looks_like_records(f.read(8)):
                    from ..mseed.commands import verify_file
                    count, faults, notes = verify_file(self.full(path), display(path))
                    return FileCheck(path, count, faults, None, notes)
                if f is not None:
                    f.seek(0)
                waves = self.gse2_waves(path, f, strict=False)
            finally:
                if f is not None:
                    f.close()
        except LibraryNotFoundError:
            raise
        except (WaveformError, EnvironmentError) as e:
            return FileCheck(path, 0, [], message(e, path))
        return FileCheck(path, len(waves), [w.error for w in waves if w.error is not None],
                         None)

    def crashed(self, path, reason):
        return FileCheck(path, 0, [], '%s: %s' % (display(path), reason))

    def pack(self, check):
        return tuple(check)

    def unpack(self, packed):
        return new_tuple(FileCheck, packed)
