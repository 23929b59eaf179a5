"""The work done on one file of an archive, in whichever process runs it: its index rows, its
verification, its conversion. A task returns a file's faults as its result; only a library
that cannot be loaded (the same for every file) is raised. `crashed(item, reason)` makes the
result of a file whose work failed in an unexpected way or ended its worker process."""
import collections
import os

from .. import read
from ..commandline import STDIO, display, reader_input
from ..errors import LibraryNotFoundError, WaveformError
from ..sniff import is_records

# Extensions taken for GSE2, SEG-Y and Seismic Unix files without looking inside.
GSE2_EXTENSIONS = ('.gse', '.gse2', '.ims', '.msg')
SEGY_EXTENSIONS = ('.sgy', '.segy', '.seg')
SU_EXTENSIONS = ('.su',)
# A SEG-Y file opens with a 3200-byte text header of 40 card images, without line ends, and a
# 400-byte binary header; a GSE2 file is lines of text.
_SEGY_HEAD = 3600
_TEXT_HEADER = 3200

IndexRow = collections.namedtuple('IndexRow', [
    'path', 'offset', 'kind', 'station', 'network', 'channel', 'start', 'end', 'sample_rate',
    'samples', 'format', 'traces', 'interval', 'byte_order', 'fault'])
IndexRow.__new__.__defaults__ = (None,) * len(IndexRow._fields)

# tuple.__new__(NamedTuple, values) builds a named tuple without the Python-level checks of
# its constructor: a quarter of the cost of _make for thousands of rows.
_new_tuple = tuple.__new__

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


def kind_of(path):
    """'gse2', 'segy' or 'su': by the extension, else by the first bytes (a SEG-Y file has no
    line end in its 3200-byte text header). A file that cannot be opened is 'gse2': reading it
    reports why."""
    ext = os.path.splitext(path)[1].lower()
    if ext in GSE2_EXTENSIONS:
        return 'gse2'
    if ext in SEGY_EXTENSIONS:
        return 'segy'
    if ext in SU_EXTENSIONS:
        return 'su'
    if path == STDIO:
        return 'gse2'
    try:
        with open(path, 'rb') as f:
            head = f.read(_SEGY_HEAD)
    except (IOError, OSError):
        return 'gse2'
    if len(head) == _SEGY_HEAD and b'\n' not in head[:_TEXT_HEADER] and \
            b'WID2' not in head[:_TEXT_HEADER]:
        return 'segy'
    return 'gse2'


def _iso(when):
    if when is None:
        return None
    return '%04d-%02d-%02dT%02d:%02d:%02d.%03d' % (when.year, when.month, when.day, when.hour,
                                                   when.minute, when.second,
                                                   when.microsecond // 1000)


def _start(wave):
    try:
        return wave.start
    except (ValueError, OverflowError, TypeError):
        return None


def _end(wave):
    try:
        return wave.end
    except (ValueError, OverflowError, TypeError):
        return None


def _gse2_rows(path):
    waves = read(reader_input(path), strict=False, headers_only=True, name=display(path))
    # Equal strings of a file's rows (its station, format, and the start and end shared by
    # the channels of a recording) made one object: the rows take less memory, and they
    # travel from a worker process several times quicker (a marshal or pickle string holds a
    # shared object once).
    share = {}.setdefault
    rows = []
    for w in waves:
        h = w.header
        start = _start(w)
        end = _iso(_end(w)) if start is not None else None
        start = _iso(start)
        station = h.get('station')
        channel = h.get('channel')
        network = (w.sta2 or {}).get('network')
        data_format = h.get('data_format')
        # Fields in IndexRow's order.
        rows.append(_new_tuple(IndexRow, (
            path, w.offset, 'gse2', share(station, station), share(network, network),
            share(channel, channel), share(start, start), share(end, end),
            h.get('sample_rate'), h.get('sample_count'), share(data_format, data_format),
            None, None, None, w.error)))
    return rows


def _segy_row(path, kind):
    from .. import segy  # here: GSE2 archives do without the SEG-Y package
    opener = segy.open_su if kind == 'su' else segy.open
    with opener(path, strict=False) as f:
        counts = [f.sample_count(i) for i in range(len(f))] if f.varying else ()
        return [IndexRow(path=path, offset=0, kind=kind, traces=len(f),
                         samples=max(counts) if counts else f.samples_per_trace,
                         interval=f.sample_interval, format=f.format, byte_order=f.endian,
                         fault=f.truncated or None)]


class Task(object):
    """A task's items are paths, except where said otherwise."""

    def here(self, item):
        """Whether `item` must be read by this process: standard input is the parent's."""
        return item == STDIO

    def size(self, item):
        """The bytes of input of `item`, to share the work out (0 when unknown)."""
        try:
            return os.path.getsize(item)
        except (OSError, TypeError):
            return 0

    def pack(self, result):
        """A result as it travels from a worker process (see unpack): plain tuples, lists,
        strings and numbers travel fastest."""
        return result

    def unpack(self, packed):
        return packed



class Index(Task):
    """The index rows of one file: one per waveform of a GSE2 file (headers only), one for a
    SEG-Y or SU file; a file that cannot be read is one row with its fault."""

    def __call__(self, path):
        kind = kind_of(path)
        try:
            if kind == 'gse2':
                return _gse2_rows(path)
            return _segy_row(path, kind)
        except LibraryNotFoundError:
            raise
        except (WaveformError, EnvironmentError) as e:
            return self.crashed(path, message(e, path), kind)

    def crashed(self, path, reason, kind=None):
        return [IndexRow(path=path, kind=kind or kind_of(path), fault=reason)]

    # Plain tuples cost a third of what named tuples cost to pickle and unpickle, which
    # matters next to the quick reading of headers.
    def pack(self, rows):
        return [tuple(r) for r in rows]

    def unpack(self, packed):
        return [_new_tuple(IndexRow, r) for r in packed]


class Verify(Task):
    """Every waveform of one GSE2 file decoded and its checksum compared."""

    def __call__(self, path):
        try:
            source = reader_input(path)
            if is_records(source):
                from ..mseed.commands import verify_file
                count, faults, notes = verify_file(source, display(path))
                return FileCheck(path, count, faults, None, notes)
            waves = read(source, strict=False, name=display(path))
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
        return _new_tuple(FileCheck, packed)


class Convert(Task):
    """One GSE2 file into one miniSEED file (items are (input, output) pairs). The input is
    read whole and verified first: a faulty waveform stops the file and nothing is written."""

    def __init__(self, to='mseed', options=None):
        self.to = to
        self.options = dict(options or {})

    def here(self, item):
        return item[0] == STDIO

    def size(self, item):
        return Task.size(self, item[0])

    def __call__(self, item):
        path, target = item
        if kind_of(path) != 'gse2':
            return Converted(path, None, 0, 'skipped: not a GSE2 file')
        try:
            from .. import mseed
            from ..gse2.waveform import extras_of
            waves = read(reader_input(path), name=display(path))
            folder = os.path.dirname(target)
            if folder and not os.path.isdir(folder):
                try:
                    os.makedirs(folder)
                except OSError:
                    if not os.path.isdir(folder):  # made meanwhile by another worker
                        raise
            mseed.write(target, waves, **self.options)
        except LibraryNotFoundError:
            raise
        except (WaveformError, EnvironmentError, ImportError, ValueError) as e:
            return Converted(path, None, 0, message(e, path))
        return Converted(path, target, len(waves), None, extras_of(waves) or None)

    def crashed(self, item, reason):
        return Converted(item[0], None, 0, reason)

    def pack(self, done):
        return tuple(done)

    def unpack(self, packed):
        return _new_tuple(Converted, packed)
