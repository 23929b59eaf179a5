"""Reading SEG-Y (revisions 0, 1 and 2) and Seismic Unix files: the file object of open().
What the file is and where its traces lie is decided by layout.py when it is opened; this
object reads there."""
import io
import operator
import os
import stat

from ..compat import PY2, array_from_bytes, fspath, string_types
from ..errors import FormatError
from . import bulk, layout, samples, stream, text
from . import su_layout
from .fields import EXTENSION1, EXTENSION1_NAME, NAME_AT, TRACE, TRACE_HEADER_SIZE
from .survey import DEFAULT_ILINE, DEFAULT_OFFSET, DEFAULT_XLINE, SurveyViews
# Kept here for callers of earlier versions.
from .text import MAX_OPEN_RECORDS as MAX_OPEN_TEXT_HEADERS  # noqa: F401

# Bytes read at a time by traces(): a few hundred traces, small enough to stay in cache.
CHUNK_BYTES = 1 << 20


def _check_endian(endian):
    if endian not in (None, 'big', 'little'):
        raise ValueError("endian must be 'big', 'little' or None, not %r" % (endian,))


def _format_code(fmt):
    if isinstance(fmt, string_types) and fmt.lower() in samples.NAMES:
        return samples.NAMES[fmt.lower()]
    return fmt


def _seekable(f):
    seekable = getattr(f, 'seekable', None)
    if seekable is not None:
        return seekable()
    try:  # Python 2 files have no seekable()
        f.seek(0, 1)
        return True
    except (IOError, OSError):
        return False


def _open_source(source, name, su, endian, fmt):
    """(binary file object, name, whether it is ours to close). Paths (str, bytes or
    path-like) are opened; a path to something other than a regular file, and a file object
    that cannot seek, is held by stream.hold (bounded) after a look at its first bytes."""
    if isinstance(source, string_types + (bytes,)) or hasattr(source, '__fspath__'):
        path = fspath(source)
        f = io.open(path, 'rb')
        label = name or (path if isinstance(path, string_types) else
                         path.decode('utf-8', 'replace'))
        try:
            if stat.S_ISREG(os.fstat(f.fileno()).st_mode):
                return f, label, True
            held = _hold(f, label, su, endian, fmt)
        except BaseException:
            f.close()
            raise
        f.close()
        return held, label, True
    if not hasattr(source, 'read'):
        raise TypeError('source must be a path or a binary file object, not %s'
                        % type(source).__name__)
    label = getattr(source, 'name', None)
    label = name or (label if isinstance(label, string_types) else '<stream>')
    if not _seekable(source):
        return _hold(source, label, su, endian, fmt), label, True
    return source, label, False


def _hold(f, name, su, endian, fmt):
    if su:
        return stream.hold(f, name, TRACE_HEADER_SIZE, lambda head: su_layout.su_start(
            head, endian))
    return stream.hold(f, name, layout.HEADERS_SIZE, lambda head: layout.file_headers(
        layout.Layout(name), head, endian, fmt))


class RawHeader(bytes):
    """The bytes of a header as read, with the byte order of its file (`endian`): the writer
    rewrites its fields when it goes into a file of the other order."""

    def __new__(cls, data, endian=None, extension=0):
        self = bytes.__new__(cls, data)
        self.endian = endian
        self.extension = extension
        return self

    def __reduce__(self):   # pickled with its byte order (to worker processes, say)
        return RawHeader, (bytes(self), self.endian, self.extension)


class _Bytes(object):
    """What layout.decide() reads the file through."""

    def __init__(self, f):
        self.read_at = f._read_at
        self.strided = lambda offset, step, count, width: bulk.strided(f, offset, step, count,
                                                                      width)


# What the layout decided, taken as the file's attributes of the same names.
_DECIDED = ('notes', 'truncated', 'endian', 'revision', 'sample_format', 'format',
            'samples_per_trace', 'sample_interval', 'additional_trace_headers', 'raw_text_header',
            'raw_binary_header', 'text_header', 'encoding', 'binary_header')


class SegyFile(SurveyViews):
    """An open SEG-Y or SU file. Use as a context manager; see open() and open_su(). The survey
    properties and views (sorting, ilines, iline, depth_slice, cube(), ...) are in survey.py."""

    def __init__(self, source, endian=None, format=None, strict=True, su=False, name=None,
                 iline=DEFAULT_ILINE, xline=DEFAULT_XLINE, offset=DEFAULT_OFFSET, fill=None):
        _check_endian(endian)
        self._survey_options(iline, xline, offset, fill)
        self.strict = strict
        self.su = su
        self._stream = None
        fmt = _format_code(format)
        try:
            self._stream, self.name, self._owned = _open_source(source, name, su, endian, fmt)
            self._size = self._tell_end()
            if su:
                found = su_layout.decide_su(_Bytes(self), self._size, self.name, endian, strict)
            else:
                found = layout.decide(_Bytes(self), self._size, self.name, endian, fmt, strict)
            self._take(found)
        except FormatError as e:
            self.close()
            # Every message about the file's content names the file.
            name = getattr(self, 'name', None) or name or '<stream>'
            if str(e).startswith('%s: ' % name):
                raise
            raise FormatError('%s: %s' % (name, e))
        except BaseException:
            self.close()
            raise

    def _take(self, found):
        """The decision's facts as the file's attributes."""
        self.layout = found
        self._layout = found.traces
        for name in _DECIDED:
            setattr(self, name, getattr(found, name))
        self.raw_extended_text_headers = [raw for raw, _ in found.records]
        self.extended_text_encodings = [encoding for _, encoding in found.records]
        self.extended_text_headers = [text.record_text(raw, encoding)
                                      for raw, encoding in found.records]
        self._data_start, self._data_end = found.data_start, found.data_end

    def _tell_end(self):
        self._stream.seek(0, 2)
        return self._stream.tell()

    def _read_at(self, offset, size):
        self._stream.seek(offset)
        data = self._stream.read(size)
        return data if data is not None else b''

    def _read_exact(self, offset, size, what):
        data = self._read_at(offset, size)
        if len(data) != size:
            raise FormatError('%s: %s is cut short: %d of %d bytes at offset %d'
                              % (self.name, what, len(data), size, offset))
        return data

    def _fail(self, message):
        raise FormatError('%s: %s' % (self.name, message))

    @property
    def varying(self):
        """True when the traces' lengths differ (each header's sample count gives its own)."""
        return self._layout.lengths_vary

    def fixed_layout(self):
        """(offset of trace 0, bytes per trace, header bytes per trace, samples per trace) when
        every trace lies at a fixed stride (layout.Fixed), else None."""
        t = self._layout
        return None if t.varying else (t.start, t.size, t.header_size, t.samples)

    @property
    def stream(self):
        """The seekable binary stream the file is read from (None once closed)."""
        return self._stream

    # -- access ------------------------------------------------------------------------------

    def __len__(self):
        return self._layout.count

    def _index(self, i):
        n = self._layout.count
        i = operator.index(i)
        if i < 0:
            i += n
        if not 0 <= i < n:
            raise IndexError('trace index %d out of range: the file holds %d traces' % (i, n))
        return i

    def sample_count(self, i):
        """The number of samples of trace `i` (the same for every trace unless `varying`)."""
        return self._layout.span(self._index(i))[1]

    def header(self, i, raw=False, extension=0):
        """Trace header `i` as a dict of fields by name, or its 240 bytes when `raw` (a bytes
        object whose `endian` is the file's byte order).

        `extension` k (1, 2, ...) gives the trace's k-th additional 240-byte header instead
        (revision 2): by name for extension 1 when its bytes 233-240 name it SEG00001 (its
        fields are segy.EXTENSION1_FIELDS), as raw bytes for any."""
        i = self._index(i)
        offset, _ = self._layout.span(i)
        have = self._layout.extras(i)
        if extension:
            if not 0 < extension <= have:
                raise IndexError('trace %d has %d additional trace headers, no extension %r'
                                 % (i, have, extension))
        data = self._read_exact(offset + TRACE_HEADER_SIZE * extension, TRACE_HEADER_SIZE,
                                'trace %d' % i)
        if raw:
            return RawHeader(data, self.endian, extension)
        if not extension:
            return TRACE.decode(data, self.endian)
        if extension > 1 or data[NAME_AT:] != EXTENSION1_NAME:
            raise ValueError('additional header %d of trace %d is named %r, not %r: it is not '
                             'extension 1, read it with raw=True'
                             % (extension, i, bytes(data[NAME_AT:]), EXTENSION1_NAME))
        return EXTENSION1.decode(data, self.endian)

    def trace(self, i):
        """The samples of trace `i` as an array (see the sample format's typecode)."""
        return samples.decode(self.sample_format, self.raw_trace(i)[1], self.endian)

    def raw_trace(self, i):
        """The header bytes (the 240-byte header and any additional headers) and the sample
        bytes of trace `i`, as they are in the file."""
        i = self._index(i)
        offset, count = self._layout.span(i)
        head = TRACE_HEADER_SIZE * (1 + self._layout.extras(i))
        data = self._read_exact(offset, head + count * self.sample_format.size, 'trace %d' % i)
        return RawHeader(data[:head], self.endian), data[head:]

    def headers(self, start=0, stop=None):
        """A generator of the trace headers (dicts) from `start` up to `stop`."""
        for i in range(*slice(start, stop).indices(len(self))):
            yield self.header(i)

    def traces(self, start=0, stop=None, numpy=False):
        """A generator of the sample arrays of traces `start` up to `stop`, in file order; with
        `numpy`, instead one 2-D numpy array of them all (see to_numpy).

        Fixed-length traces are read many at a time and converted in one call per block: the
        fast road for whole files."""
        if numpy:
            return self.to_numpy(start, stop)
        return self._traces(start, stop)

    def _traces(self, start, stop):
        start, stop, _ = slice(start, stop).indices(len(self))
        fmt = self.sample_format
        if self._layout.varying or fmt.kind == 'int24' or stop <= start:
            for i in range(start, stop):
                yield self.trace(i)
            return
        trace_size = self._layout.size
        per_block = max(1, CHUNK_BYTES // trace_size)
        words = trace_size // fmt.size
        skip = self._layout.header_size // fmt.size
        count = self._layout.samples
        block = None
        for first in range(start, stop, per_block):
            n = min(per_block, stop - first)
            offset = self._layout.start + first * trace_size
            block = self._read_block(block, fmt.typecode, offset, n * trace_size, first)
            # Header words are converted along with the samples and never handed out.
            samples.finish(fmt, block, self.endian)
            for k in range(n):
                at = k * words + skip
                yield block[at:at + count]

    def _read_block(self, block, typecode, offset, size, first):
        """`size` bytes at `offset` (traces from `first` on) as an array of `typecode`, reusing
        `block` when it has the same size (Python 3 reads straight into it)."""
        if not PY2 and hasattr(self._stream, 'readinto'):
            if block is None or len(block) * block.itemsize != size:
                block = samples.new_buffer(typecode, size // samples.array(typecode).itemsize)
            view = memoryview(block).cast('B')
            try:
                self.read_into(view, offset, first)
            finally:
                view.release()
            return block
        self._stream.seek(offset)
        data = self._stream.read(size)  # Python 2.7, and streams that only read
        if len(data) != size:
            self._cut_short(offset, len(data), size)
        return array_from_bytes(typecode, data)

    def read_into(self, view, offset, first=None):
        """Fills the byte memoryview `view` with the bytes at `offset` (whole traces, from trace
        `first`)."""
        self._stream.seek(offset)
        size = len(view)
        got = 0
        if hasattr(self._stream, 'readinto'):
            while got < size:
                n = self._stream.readinto(view[got:])
                if not n:
                    break
                got += n
        else:
            data = self._stream.read(size)
            got = len(data)
            view[:got] = data
        if got != size:
            self._cut_short(offset, got, size)

    def _cut_short(self, offset, got, size):
        self._fail('traces at offset %d are cut short: %d of %d bytes (did the file '
                   'change?)' % (offset, got, size))

    def attribute(self, name, start=0, stop=None):
        """One trace header field of traces `start` up to `stop`, as one array (numpy's when
        numpy is present, else array.array): read straight from the file, no per-trace work."""
        return bulk.attribute(self, name, start, stop)

    def to_numpy(self, start=0, stop=None):
        """The samples of traces `start` up to `stop` as one 2-D numpy array (traces x samples),
        filled a block of traces at a time. Needs numpy and traces of one length."""
        return bulk.to_numpy(self, start, stop)

    def __iter__(self):
        return self.traces()

    # -- closing -----------------------------------------------------------------------------

    def close(self):
        self._release_survey()
        stream, self._stream = getattr(self, '_stream', None), None
        if stream is not None and self._owned:
            stream.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __repr__(self):
        kind = 'SU' if self.su else 'SEG-Y rev %s' % self.revision
        return '<%s file %r: %d traces, format %d, %s-endian>' % (
            kind, self.name, len(self), self.format, self.endian)


def open(source, endian=None, format=None, strict=True, iline=DEFAULT_ILINE,  # noqa: A001
         xline=DEFAULT_XLINE, offset=DEFAULT_OFFSET, fill=None):
    """Opens a SEG-Y file for reading: a path (str, bytes or path-like), or a binary file
    object (one that cannot seek is held whole, within a bounded size: see stream.py).

    `endian` ('big' or 'little') and `format` (a sample format code, or 'ibm' or 'ieee') replace
    what the binary header says. With `strict=False` a truncated last trace is left out and
    described in `.truncated` instead of raising FormatError. `iline`, `xline` and `offset` name
    the trace header fields of the survey geometry (a field name or the first byte of a 4-byte
    field; iline=None: a 2-D line), `fill` the value of grid cells no trace holds (survey.py).
    """
    return SegyFile(source, endian, format, strict, iline=iline, xline=xline, offset=offset,
                    fill=fill)


