"""Reading SEG-Y (revisions 0, 1 and 2) and Seismic Unix files: the file object of open()."""
import io
import operator
import sys

from ..compat import PY2, array_from_bytes, string_types
from ..errors import FormatError
from . import layout, samples, text
from .fields import (BINARY, BINARY_HEADER_SIZE, TEXT_HEADER_SIZE, TRACE, TRACE_HEADER_SIZE)

# Bytes read at a time by traces(): a few hundred traces, small enough to stay in cache.
CHUNK_BYTES = 1 << 20
# The stanza that ends a variable number of extended text headers (blanks ignored).
END_TEXT = '((SEG:ENDTEXT))'


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


class SegyFile(object):
    """An open SEG-Y or SU file. Use as a context manager; see open() and open_su()."""

    def __init__(self, source, endian=None, format=None, strict=True, su=False, name=None):
        _check_endian(endian)
        self.strict = strict
        self.su = su
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
        self.revision = h['revision_major'] if h['revision_major'] in (1, 2) else 0
        if fmt is None:
            self.sample_format = samples.lookup(h['format'], BINARY.describe('format'))
        else:
            self.sample_format = samples.lookup(fmt, 'the format asked for')
        self.format = self.sample_format.code
        self.sample_interval = h['sample_interval']
        if self.revision >= 2 and not self.sample_interval and h['extended_sample_interval'] > 0:
            self.sample_interval = h['extended_sample_interval']
        count = h['samples_per_trace']
        if self.revision >= 2 and h['extended_samples_per_trace'] > 0:
            count = h['extended_samples_per_trace']
        if count <= 0:
            self._fail('%s is 0: a trace must hold samples' % BINARY.describe('samples_per_trace'))
        self.samples_per_trace = count
        start = self._read_extended_text(h)
        end = self._size
        if self.revision >= 2:
            if h['additional_trace_headers'] != 0:
                self._fail('%s is %d: additional trace headers are not supported'
                           % (BINARY.describe('additional_trace_headers'),
                              h['additional_trace_headers']))
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
        self._data_start, self._data_end = start, end
        self._plan_traces(start, end, count, may_vary=self.revision >= 1
                          and h['fixed_length_traces'] != 1)
        if (self.revision >= 2 and h['trace_count'] and h['trace_count'] != len(self)
                and self.strict):
            self._fail('%s is %d but the file holds %d traces'
                       % (BINARY.describe('trace_count'), h['trace_count'], len(self)))

    def _read_extended_text(self, h):
        """Reads the extended text headers; returns the offset after them."""
        self.extended_text_headers = []
        self.raw_extended_text_headers = []
        declared = h['extended_text_headers'] if self.revision >= 1 else 0
        if declared < -1:
            self._fail('%s is %d: not a count' % (BINARY.describe('extended_text_headers'),
                                                   declared))
        at = TEXT_HEADER_SIZE + BINARY_HEADER_SIZE
        k = 0
        while declared == -1 or k < declared:
            if at + TEXT_HEADER_SIZE > self._size:
                self._fail('%s is %d but the file ends within extended text header %d'
                           % (BINARY.describe('extended_text_headers'), declared, k + 1))
            raw = self._read_exact(at, TEXT_HEADER_SIZE, 'extended text header %d' % (k + 1))
            decoded = text.decode(raw, self.encoding)
            self.raw_extended_text_headers.append(raw)
            self.extended_text_headers.append(decoded)
            at += TEXT_HEADER_SIZE
            k += 1
            if declared == -1 and END_TEXT in decoded.replace(' ', '').upper():
                break
        return at

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
        self.sample_format = samples.FORMATS[samples.IEEE]
        self.format = samples.IEEE
        first = self._read_at(0, TRACE_HEADER_SIZE)
        if self._size == 0:
            self.endian, self.samples_per_trace, self.sample_interval = (
                endian or sys.byteorder), 0, 0
            self._layout, self.truncated = layout.Scanned([], []), None
            return
        if len(first) < TRACE_HEADER_SIZE:
            self._fail('%d bytes: too short for a 240-byte trace header' % len(first))
        self.endian = endian or self._su_endian(first)
        h = TRACE.decode(first, self.endian)
        if not h['sample_count']:
            self._fail('trace 0: %s is 0: a trace must hold samples'
                       % TRACE.describe('sample_count'))
        self.samples_per_trace = h['sample_count']
        self.sample_interval = h['sample_interval']
        self._data_start, self._data_end = 0, self._size
        self._plan_traces(0, self._size, h['sample_count'], may_vary=True)

    def _su_endian(self, first):
        """The host's byte order unless only the other one makes the first trace fit the file."""
        order = [sys.byteorder, 'little' if sys.byteorder == 'big' else 'big']
        for endian in order:
            n = layout.header_sample_count(first, endian)
            if n and TRACE_HEADER_SIZE + 4 * n <= self._size:
                return endian
        return order[0]

    # -- trace layout ------------------------------------------------------------------------

    def _plan_traces(self, start, end, count, may_vary):
        size = self.sample_format.size
        trace_size = TRACE_HEADER_SIZE + count * size
        if may_vary:
            may_vary = not self._one_length(start, end, count, trace_size)
        if may_vary:
            self._layout, self.truncated = layout.scan(
                self.name, self._read_at, start, end, 0 if self.su else count, size,
                self.endian, self.strict)
        else:
            self._layout, self.truncated = layout.fixed(self.name, start, end, count, size,
                                                        self.strict)

    def _one_length(self, start, end, count, trace_size):
        """Whether traces that may vary in length do not: the file is a whole number of traces
        and the headers of the first, middle and last one (by that length) give that length,
        or all three give zero (writers that leave the field blank)."""
        n, rest = divmod(end - start, trace_size)
        if rest or n == 0:
            return end == start
        probes = [layout.header_sample_count(self._read_at(start + i * trace_size,
                                                           TRACE_HEADER_SIZE), self.endian)
                  for i in sorted(set((0, n // 2, n - 1)))]
        return all(p == count for p in probes) or all(p == 0 for p in probes)

    @property
    def varying(self):
        """True when the traces' lengths differ (each header's sample count gives its own)."""
        return self._layout.varying and len(set(self._layout.counts)) > 1

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

    def header(self, i, raw=False):
        """Trace header `i` as a dict of fields by name, or its 240 bytes when `raw`."""
        i = self._index(i)
        offset, _ = self._layout.span(i)
        data = self._read_exact(offset, TRACE_HEADER_SIZE, 'trace %d' % i)
        return data if raw else TRACE.decode(data, self.endian)

    def trace(self, i):
        """The samples of trace `i` as an array (see the sample format's typecode)."""
        i = self._index(i)
        offset, count = self._layout.span(i)
        size = count * self.sample_format.size
        data = self._read_exact(offset + TRACE_HEADER_SIZE, size, 'trace %d' % i)
        return samples.decode(self.sample_format, data, self.endian)

    def raw_trace(self, i):
        """The 240-byte header and the sample bytes of trace `i`, as they are in the file."""
        i = self._index(i)
        offset, count = self._layout.span(i)
        data = self._read_exact(offset, TRACE_HEADER_SIZE + count * self.sample_format.size,
                                'trace %d' % i)
        return data[:TRACE_HEADER_SIZE], data[TRACE_HEADER_SIZE:]

    def headers(self, start=0, stop=None):
        """A generator of the trace headers (dicts) from `start` up to `stop`."""
        for i in range(*slice(start, stop).indices(len(self))):
            yield self.header(i)

    def traces(self, start=0, stop=None):
        """A generator of the sample arrays of traces `start` up to `stop`, in file order.

        Fixed-length traces are read many at a time and converted in one call per block: the
        fast road for whole files."""
        start, stop, _ = slice(start, stop).indices(len(self))
        fmt = self.sample_format
        if self._layout.varying or fmt.kind == 'int24' or stop <= start:
            for i in range(start, stop):
                yield self.trace(i)
            return
        trace_size = self._layout.size
        per_block = max(1, CHUNK_BYTES // trace_size)
        words = trace_size // fmt.size
        skip = TRACE_HEADER_SIZE // fmt.size
        count = self._layout.samples
        block = None
        for first in range(start, stop, per_block):
            n = min(per_block, stop - first)
            offset = self._layout.start + first * trace_size
            block = self._read_block(block, fmt.typecode, offset, n * trace_size)
            # Header words are converted along with the samples and never handed out.
            samples.finish(fmt, block, self.endian)
            for k in range(n):
                at = k * words + skip
                yield block[at:at + count]

    def _read_block(self, block, typecode, offset, size):
        """`size` bytes at `offset` as an array of `typecode`, reusing `block` when it has the
        same size (Python 3 reads straight into it)."""
        self._stream.seek(offset)
        if not PY2 and hasattr(self._stream, 'readinto'):
            if block is None or len(block) * block.itemsize != size:
                block = samples.new_buffer(typecode, size // samples.array(typecode).itemsize)
            view = memoryview(block).cast('B')
            got = 0
            while got < size:
                n = self._stream.readinto(view[got:])
                if not n:
                    break
                got += n
            view.release()
        else:  # Python 2.7, and streams that only read
            data = self._stream.read(size)
            got = len(data)
            if got == size:
                block = array_from_bytes(typecode, data)
        if got != size:
            self._fail('traces at offset %d are cut short: %d of %d bytes (did the file '
                       'change?)' % (offset, got, size))
        return block

    def __iter__(self):
        return self.traces()

    # -- closing -----------------------------------------------------------------------------

    def close(self):
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


def open(source, endian=None, format=None, strict=True):  # noqa: A001 - the module's door
    """Opens a SEG-Y file (a path or a seekable binary file object) for reading.

    `endian` ('big' or 'little') and `format` (a sample format code, or 'ibm' or 'ieee') replace
    what the binary header says. With `strict=False` a truncated last trace is left out and
    described in `.truncated` instead of raising FormatError.
    """
    return SegyFile(source, endian, format, strict)


