"""Reading SEG-Y (revisions 0, 1 and 2) and Seismic Unix files: the file object of open()."""
import io
import operator
import struct
import sys

from ..compat import PY2, array_from_bytes, string_types
from ..errors import FormatError
from . import bulk, layout, samples, text
from .survey import DEFAULT_ILINE, DEFAULT_OFFSET, DEFAULT_XLINE, SurveyViews
from .fields import (BINARY, BINARY_HEADER_SIZE, EXTENSION1, TEXT_HEADER_SIZE, TRACE,
                     TRACE_HEADER_SIZE)

_COUNT_BYTES = {'big': struct.Struct('>H'), 'little': struct.Struct('<H')}

# Bytes read at a time by traces(): a few hundred traces, small enough to stay in cache.
CHUNK_BYTES = 1 << 20
# The stanza that ends a variable number of extended text headers (blanks ignored).
END_TEXT = '((SEG:ENDTEXT))'
# Extended text headers read when their count is -1 before the end stanza must come.
MAX_OPEN_TEXT_HEADERS = 1000
# Additional 240-byte trace headers per trace a file may announce.
MAX_ADDITIONAL_HEADERS = 1000
# The largest sample interval taken from the extended field: 1,000 s.
MAX_INTERVAL_US = 1e9


def _check_endian(endian):
    if endian not in (None, 'big', 'little'):
        raise ValueError("endian must be 'big', 'little' or None, not %r" % (endian,))


def _format_code(fmt):
    if isinstance(fmt, string_types) and fmt.lower() in samples.NAMES:
        return samples.NAMES[fmt.lower()]
    return fmt


def _seekable(stream):
    seekable = getattr(stream, 'seekable', None)
    if seekable is not None:
        return seekable()
    try:  # Python 2 files have no seekable()
        stream.seek(0, 1)
        return True
    except (IOError, OSError):
        return False


class SegyFile(SurveyViews):
    """An open SEG-Y or SU file. Use as a context manager; see open() and open_su(). The survey
    properties and views (sorting, ilines, iline, depth_slice, cube(), ...) are in survey.py."""

    def __init__(self, source, endian=None, format=None, strict=True, su=False, name=None,
                 iline=DEFAULT_ILINE, xline=DEFAULT_XLINE, offset=DEFAULT_OFFSET, fill=None):
        _check_endian(endian)
        self._survey_options(iline, xline, offset, fill)
        self.strict = strict
        self.su = su
        # What the reader assumed where a file left it open, in words (segy-info shows them).
        self.notes = []
        self._stream, self.name, self._owned = self._open(source)
        self.name = name or self.name
        try:
            self._size = self._tell_end()
            if su:
                self._read_su(endian)
            else:
                self._read_segy(endian, _format_code(format))
        except FormatError as e:
            self.close()
            # Every message about the file's content names the file.
            if str(e).startswith('%s: ' % self.name):
                raise
            raise FormatError('%s: %s' % (self.name, e))
        except BaseException:
            self.close()
            raise

    # -- opening -----------------------------------------------------------------------------

    @staticmethod
    def _open(source):
        if isinstance(source, string_types) or isinstance(source, bytes):
            return io.open(source, 'rb'), source, True
        if not hasattr(source, 'read'):
            raise TypeError('source must be a path or a binary file object, not %s'
                            % type(source).__name__)
        name = getattr(source, 'name', None)
        name = name if isinstance(name, string_types) else '<stream>'
        if not _seekable(source):
            # Pipes: the whole stream, held in memory, gives the same random access.
            return io.BytesIO(source.read()), name, True
        return source, name, False

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

    # -- SEG-Y file headers ------------------------------------------------------------------

    def _note(self, message):
        self.notes.append(message)

    def _read_segy(self, endian, fmt):
        if self._size < TEXT_HEADER_SIZE + BINARY_HEADER_SIZE:
            self._fail('%d bytes: too short for the 3200-byte text header and the 400-byte '
                       'binary header of a SEG-Y file' % self._size)
        self.raw_text_header = self._read_exact(0, TEXT_HEADER_SIZE, 'the text header')
        self.raw_binary_header = self._read_exact(TEXT_HEADER_SIZE, BINARY_HEADER_SIZE,
                                                  'the binary header')
        self.encoding = text.detect(self.raw_text_header)
        self.text_header = text.decode(self.raw_text_header, self.encoding)
        self.endian = endian or layout.guess_endian(self.raw_binary_header)
        h = self.binary_header = BINARY.decode(self.raw_binary_header, self.endian)
        self.revision = self._revision(h)
        if fmt is None:
            self.sample_format = samples.lookup(h['format'], BINARY.describe('format'),
                                                hint=True)
        else:
            self.sample_format = samples.lookup(fmt, 'the format asked for')
        self.format = self.sample_format.code
        self.sample_interval = self._interval(h)
        count = h['samples_per_trace']
        if self.revision >= 2 and h['extended_samples_per_trace'] > 0:
            count = h['extended_samples_per_trace']
        may_vary = self.revision >= 1 and h['fixed_length_traces'] != 1
        if count <= 0 and not may_vary:
            self._fail('%s is 0: a trace must hold samples' % BINARY.describe('samples_per_trace'))
        self.samples_per_trace = count
        start = self._read_extended_text(h)
        end = self._size
        extra = 0
        if self.revision >= 2:
            extra = h['additional_trace_headers']
            if not 0 <= extra <= MAX_ADDITIONAL_HEADERS:
                self._fail('%s is %d: not a count of additional 240-byte trace headers (0 to %d)'
                           % (BINARY.describe('additional_trace_headers'), extra,
                              MAX_ADDITIONAL_HEADERS))
            if h['first_trace_offset']:
                if not start <= h['first_trace_offset'] <= self._size:
                    self._fail('%s is %d, outside %d-%d' % (
                        BINARY.describe('first_trace_offset'), h['first_trace_offset'], start,
                        self._size))
                start = h['first_trace_offset']
            trailers = h['trailer_records']
            if trailers < 0 or start + trailers * TEXT_HEADER_SIZE > self._size:
                self._fail('%s is %d: not a count of the 3200-byte records at the end of this '
                           'file' % (BINARY.describe('trailer_records'), trailers))
            end -= trailers * TEXT_HEADER_SIZE
        self.additional_trace_headers = extra
        self._data_start, self._data_end = start, end
        self._plan_traces(start, end, count, may_vary, extra)
        if self.revision >= 2 and h['trace_count'] and h['trace_count'] != len(self):
            message = ('%s is %d but the file holds %d traces'
                       % (BINARY.describe('trace_count'), h['trace_count'], len(self)))
            if self.strict:
                self._fail(message)
            self._note(message + ': the traces found are read')

    def _revision(self, h):
        """The revision: byte 3501 when it is 1 or 2; 0x0001 and 0x0002 (a revision written as
        a two-byte integer, big-endian) as 1 and 2; anything else revision 0."""
        major, minor = h['revision_major'], h['revision_minor']
        if major in (1, 2):
            return major
        if major == 0 and minor in (1, 2):
            self._note('revision bytes 3501-3502 hold 0x%04x: read as revision %d written as an '
                       'integer' % (minor, minor))
            return minor
        if major:
            self._note('%s is %d, not a revision this reader knows: read as revision 0'
                       % (BINARY.describe('revision_major'), major))
        return 0

    def _interval(self, h):
        """The sample interval in microseconds: the two-byte field, or revision 2's extended one
        when the two-byte one is 0 and the extended one is a plausible interval; 0 when unknown
        (stated in .notes)."""
        interval = h['sample_interval']
        extended = h['extended_sample_interval']
        if self.revision >= 2 and not interval and extended != 0:
            if 0 < extended <= MAX_INTERVAL_US:  # false for NaN too
                interval = extended
            else:
                self._note('%s is %r: not a sample interval in microseconds (0 to %g); ignored'
                           % (BINARY.describe('extended_sample_interval'), extended,
                              MAX_INTERVAL_US))
        if not interval:
            self._note('the sample interval is 0 (unknown): times are sample numbers')
        return interval

    def _read_extended_text(self, h):
        """Reads the extended text headers; returns the offset after them.

        Revisions 1 and 2 place the count in bytes 3505-3506; other writers put it there too
        in files whose revision bytes say 0. In a revision 0 file the count is honoured when
        the file has room for the records and each of them is text, and ignored otherwise
        (either way stated in .notes). A count of -1 means records up to the one holding
        ((SEG: EndText)); at most MAX_OPEN_TEXT_HEADERS of them, each of them text."""
        self.extended_text_headers = []
        self.raw_extended_text_headers = []
        declared = h['extended_text_headers']
        field = BINARY.describe('extended_text_headers')
        at = TEXT_HEADER_SIZE + BINARY_HEADER_SIZE
        stated = self.revision >= 1
        if declared == 0:
            return at
        if declared < -1:
            if stated:
                self._fail('%s is %d: not a count' % (field, declared))
            self._note('%s is %d: not a count; ignored (revision 0)' % (field, declared))
            return at
        records = []
        if declared > 0:
            room = (self._size - at) // TEXT_HEADER_SIZE
            if declared > room:
                if stated:
                    self._fail('%s is %d but the file ends within extended text header %d'
                               % (field, declared, room + 1))
                self._note('%s is %d but the file has room for %d records; ignored (revision 0)'
                           % (field, declared, room))
                return at
            for k in range(declared):
                raw = self._read_exact(at + k * TEXT_HEADER_SIZE, TEXT_HEADER_SIZE,
                                       'extended text header %d' % (k + 1))
                if not stated and not text.looks_like_text(raw):
                    self._note('%s is %d but record %d after the binary header is not text; '
                               'ignored (revision 0)' % (field, declared, k + 1))
                    return at
                records.append(raw)
        else:
            while True:
                k = len(records)
                where = at + k * TEXT_HEADER_SIZE
                raw = self._read_at(where, TEXT_HEADER_SIZE)
                problem = None
                if len(raw) < TEXT_HEADER_SIZE:
                    problem = 'the file ends within extended text header %d' % (k + 1)
                elif not text.looks_like_text(raw):
                    problem = 'record %d after the binary header (offset %d) is not text' % (
                        k + 1, where)
                elif k == MAX_OPEN_TEXT_HEADERS:
                    problem = '%d records came without one' % k
                if problem:
                    if stated or records:
                        self._fail('%s is -1 (records up to a ((SEG: EndText)) stanza) but %s'
                                   % (field, problem))
                    self._note('%s is -1 but %s; ignored (revision 0)' % (field, problem))
                    return at
                records.append(raw)
                if END_TEXT in text.decode(raw, self.encoding).replace(' ', '').upper():
                    break
        if not stated:
            self._note('%s is %d: honoured although the revision bytes say 0 (the records are '
                       'text)' % (field, declared))
        self.raw_extended_text_headers = records
        self.extended_text_headers = [text.decode(r, self.encoding) for r in records]
        return at + TEXT_HEADER_SIZE * len(records)

    # -- Seismic Unix ------------------------------------------------------------------------

    def _read_su(self, endian):
        self.raw_text_header = b''
        self.raw_binary_header = b''
        self.text_header = ''
        self.encoding = None
        self.binary_header = {}
        self.extended_text_headers = []
        self.raw_extended_text_headers = []
        self.revision = None
        self.additional_trace_headers = 0
        self.sample_format = samples.FORMATS[samples.IEEE]
        self.format = samples.IEEE
        self._data_start, self._data_end = 0, self._size
        self._verified = True
        first = self._read_at(0, TRACE_HEADER_SIZE)
        if self._size == 0:
            self.endian, self.samples_per_trace, self.sample_interval = (
                endian or sys.byteorder), 0, 0
            self._layout, self.truncated = layout.Fixed(0, 0, 4, 0), None
            return
        if len(first) < TRACE_HEADER_SIZE:
            self._fail('%d bytes: too short for a 240-byte trace header' % len(first))
        if endian:
            self.endian = endian
            self._layout, self.truncated = self._su_scan(endian, self.strict)
        else:
            self.endian, self._layout, self.truncated = self._su_endian(first)
        h = TRACE.decode(first, self.endian)
        self.samples_per_trace = h['sample_count']
        self.sample_interval = h['sample_interval']

    def _su_scan(self, endian, strict):
        return layout.scan(self.name, self._read_at, 0, self._size, 0, 4, endian, strict)

    def _su_endian(self, first):
        """The byte order in which the file divides into whole traces (each header's sample count
        giving its length); where both or neither do, the one with a plausible interval in the
        first header, then the host's. Returns (endian, layout, truncation note)."""
        order = [sys.byteorder, 'little' if sys.byteorder == 'big' else 'big']
        readings = []
        for rank, endian in enumerate(order):
            try:
                found, note = self._su_scan(endian, False)
                whole = note is None
            except FormatError:
                found, note, whole = None, None, False
            h = TRACE.decode(first, endian)
            plausible = 0 < h['sample_interval'] <= 1000000 and h['sample_count'] > 0
            readings.append(((whole, found is not None, plausible, -rank), endian, found, note))
        best = max(readings, key=lambda r: r[0])
        _, endian, found, note = best
        if found is None or (note and self.strict):
            self._su_scan(endian, self.strict)  # raises the reason
        return endian, found, note

    # -- trace layout ------------------------------------------------------------------------

    def _plan_traces(self, start, end, count, may_vary, extra):
        """Lengths that may vary, and additional trace headers, take a scan of every header.
        Otherwise the binary header's length gives the layout; trace headers that say another
        length are a fault (the first, middle and last now, the others as they are read)."""
        size = self.sample_format.size
        self._verified = may_vary or bool(extra) or not self.strict
        if may_vary or extra:
            self._layout, self.truncated = layout.scan(
                self.name, self._read_at, start, end, count, size, self.endian, self.strict,
                extra, None if may_vary else count)
            if self._layout.varying:
                self._note("the traces' lengths vary: each trace header's sample count gives "
                           "its own")
            return
        self._layout, self.truncated = layout.fixed(self.name, start, end, count, size,
                                                    self.strict)
        n = self._layout.count
        for i in sorted(set((0, n // 2, n - 1))) if n else ():
            self._check_count(i, self._read_at(self._layout.span(i)[0], TRACE_HEADER_SIZE))

    def _check_count(self, i, raw_header):
        if not self._verified:
            found = layout.header_sample_count(raw_header, self.endian)
            if found and found != self._layout.samples:
                raise layout.contradiction(self.name, i, found, self._layout.samples)

    def fixed_layout(self):
        """(offset of trace 0, bytes per trace, header bytes per trace, samples per trace) when
        every trace has one length, else None."""
        if self._layout.varying:
            return None
        return self._layout.start, self._layout.size, self._layout.header_size, \
            self._layout.samples

    @property
    def stream(self):
        """The seekable binary stream the file is read from (None once closed)."""
        return self._stream

    @property
    def varying(self):
        """True when the traces' lengths differ (each header's sample count gives its own)."""
        return self._layout.varying

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
        """Trace header `i` as a dict of fields by name, or its 240 bytes when `raw`.

        `extension` k (1, 2, ...) gives the trace's k-th additional 240-byte header instead
        (revision 2.1): by name for extension 1 (its fields are segy.EXTENSION1_FIELDS), as raw
        bytes for any."""
        i = self._index(i)
        offset, _ = self._layout.span(i)
        have = self._layout.extras(i)
        if extension:
            if not 0 < extension <= have:
                raise IndexError('trace %d has %d additional trace headers, no extension %r'
                                 % (i, have, extension))
            if extension > 1 and not raw:
                raise ValueError('extension %d is not defined by the standard: read it with '
                                 'raw=True' % extension)
        data = self._read_exact(offset + TRACE_HEADER_SIZE * extension, TRACE_HEADER_SIZE,
                                'trace %d' % i)
        if raw:
            return data
        return (EXTENSION1 if extension else TRACE).decode(data, self.endian)

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
        self._check_count(i, data)
        return data[:head], data[head:]

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
        self._check_counts(data, first)
        return array_from_bytes(typecode, data)

    def read_into(self, view, offset, first):
        """Fills the byte memoryview `view` with the whole traces at `offset` (trace `first`
        on), checking their sample counts."""
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
        self._check_counts(view, first)

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

    def _check_counts(self, data, first):
        """Every trace header in the bytes `data` (whole traces from trace `first`) gives the
        file's length or 0; two strided slices compared at once, a loop only on a fault."""
        if self._verified:
            return
        size = self._layout.size
        n = len(data) // size
        at = TRACE.field_offset('sample_count')
        pair = _COUNT_BYTES[self.endian].pack(self._layout.samples)
        high, low = bytes(data[at::size]), bytes(data[at + 1::size])
        if high == pair[0:1] * n and low == pair[1:2] * n:
            return
        for k in range(n):
            self._check_count(first + k, bytes(data[k * size:k * size + TRACE_HEADER_SIZE]))

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
    """Opens a SEG-Y file (a path or a seekable binary file object) for reading.

    `endian` ('big' or 'little') and `format` (a sample format code, or 'ibm' or 'ieee') replace
    what the binary header says. With `strict=False` a truncated last trace is left out and
    described in `.truncated` instead of raising FormatError. `iline`, `xline` and `offset` name
    the trace header fields of the survey geometry (a field name or the first byte of a 4-byte
    field; iline=None: a 2-D line), `fill` the value of grid cells no trace holds (survey.py).
    """
    return SegyFile(source, endian, format, strict, iline=iline, xline=xline, offset=offset,
                    fill=fill)


