"""The records of one input as runs (libmseedio's mseedio_read over blocks of the input): each
run is one channel's contiguous records with their samples, or records without samples.
Damaged records stop the input with a FormatError naming the file, record and byte, or, read
leniently, are listed in the report and passed as libmseed passes them (its next record header
searched every 128 bytes)."""
from array import array

from ..compat import PY2
from ..errors import FormatError
from . import shim
from .codes import single_precision_reading

# Bytes of a file read at a time.
BLOCK = 1 << 20
_TYPECODES = {shim.RUN_INT32: 'i', shim.RUN_FLOAT32: 'f', shim.RUN_FLOAT64: 'd'}


class Run(object):
    """A run of records as the reader hands it on: `key` (network, station, location, channel
    as text), `kind` ('int32', 'float32', 'float64', 'text', 'empty'), `start` and `end`
    (microseconds: first and last sample), `rate`, `samples` (a view of the reader's buffer:
    copy() gives an array of 'i', 'f' or 'd', or a bytearray of text), and where it comes from:
    `name`, `record` (number of its first record, from 1), `offset` (its byte), `records`,
    `quality`, `encoding`, `record_length` and `flags` (of its first record)."""

    __slots__ = ('key', 'kind', 'start', 'end', 'rate', 'samples', 'name', 'record', 'offset',
                 'records', 'quality', 'encoding', 'record_length', 'flags')


def code_text(value):
    """A code of the records as native text: bytes beyond ASCII kept one for one (Latin-1
    under Python 3), so that codes that differ stay apart."""
    return value if PY2 else value.decode('latin-1')


def rate_of(run):
    """The rate a record gives: blockette 100's float read as its shortest decimal, else the
    factor and multiplier's."""
    if run.blockette100_rate:
        return single_precision_reading(run.blockette100_rate)
    return run.nominal_rate


def _run(c, name, base, samples, other):
    """A Run of libmseedio's run `c`; its samples a view of the reader's buffers, valid until
    the reader reads again (the joiner copies them)."""
    s = c.stream
    run = Run()
    run.key = (code_text(s.network), code_text(s.station), code_text(s.location),
               code_text(s.channel))
    run.kind = shim.KIND_NAMES.get(c.kind, 'empty')
    run.start = s.start
    run.end = c.end
    run.rate = rate_of(c)
    run.name = name
    run.record = c.first_record
    run.offset = base + c.offset
    run.records = c.records
    run.quality = code_text(s.quality)
    run.encoding = shim.ENCODING_NAMES.get(s.encoding, str(s.encoding))
    run.record_length = s.record_length
    run.flags = c.flags
    n = c.sample_count
    if c.kind == shim.RUN_INT32:
        run.samples = _View('i', samples, 4 * c.sample_start, 4 * n)
    elif c.kind in _TYPECODES:
        size = 4 if c.kind == shim.RUN_FLOAT32 else 8
        run.samples = _View(_TYPECODES[c.kind], other, c.sample_start, size * n)
    elif c.kind == shim.RUN_TEXT:
        run.samples = _View(None, other, c.sample_start, n)
    else:
        run.samples = None
    return run


class _View(object):
    """Samples in a buffer of the reader: copied out as an array (or a bytearray of text), or
    added to one."""

    __slots__ = ('typecode', 'buffer', 'start', 'size')

    def __init__(self, typecode, buffer, start, size):
        self.typecode, self.buffer, self.start, self.size = typecode, buffer, start, size

    def _bytes(self):
        if PY2:
            return bytes(self.buffer[self.start:self.start + self.size])
        return memoryview(self.buffer)[self.start:self.start + self.size]

    def copy(self):
        if self.typecode is None:
            return bytearray(self._bytes())
        a = array(self.typecode)
        self.add_to(a)
        return a

    def add_to(self, target):
        if not self.size:
            return
        if self.typecode is None:
            target.extend(self._bytes())
        elif PY2:
            target.fromstring(self._bytes())
        else:
            target.frombytes(self._bytes())

    def insert_into(self, target):
        target[0:0] = self.copy()


def path_blocks(path):
    """(bytes, whether they end the input) pieces of the file at `path`."""
    with open(path, 'rb') as f:
        for piece in stream_blocks(f):
            yield piece


def stream_blocks(stream):
    """(bytes, whether they end the input) pieces of a binary file object, the end told by an
    empty read; read into one buffer when the file object can (the pieces are then views of it,
    valid until the next)."""
    readinto = None if PY2 else getattr(stream, 'readinto', None)
    buffer = bytearray(BLOCK) if readinto is not None else None
    while True:
        if buffer is not None:
            size = readinto(buffer)
            if size is None:
                raise TypeError('the file object is not blocking; give a blocking one')
            block = memoryview(buffer)[:size]
        else:
            block = stream.read(BLOCK)
            if not isinstance(block, (bytes, bytearray)):
                raise TypeError('the file object is opened in text mode; open it in binary '
                                'mode')
        yield block, not len(block)
        if not len(block):
            return


def data_blocks(data):
    """The one piece of bytes already read."""
    yield data, True


def scan(blocks, name, report, selection=None, lenient=False):
    """Yields the runs of the input whose pieces `blocks` yields (path_blocks, stream_blocks,
    data_blocks); faults, records without samples and records passed over go to `report`."""
    reader = shim.BlockReader(selection)
    try:
        for run in _runs(reader, blocks, name, report, lenient):
            yield run
    finally:
        reader.close()
    report.files.append(name)
    report.records += reader.state.record_number
    report.passed_over += reader.state.passed_over


def _runs(reader, blocks, name, report, lenient):
    state = reader.state
    carry = b''
    base = 0  # byte of the input where `data` begins
    seen = False
    for block, final in blocks:
        data = carry + bytes(block) if carry else block
        seen = seen or len(data) > 0
        state.position = 0
        while True:
            status = reader.read(data, final)
            for i in range(state.run_count):
                run = _run(reader.runs[i], name, base, reader.samples, reader.other)
                if run.kind == 'empty':
                    report.empty_records(run)
                else:
                    yield run
            progressed = state.run_count > 0
            reader.reset()
            if status == shim.ESPACE:
                if not progressed:
                    raise FormatError('%s: record %d: no room to decode it'
                                      % (name, state.record_number + 1))
                continue
            if status < 0:
                _fault(report, name, state, base, status, reader.message(), lenient)
                continue
            break
        base += state.position
        # A copy: the block may be a view of a buffer the next block is read into.
        carry = bytes(data[state.position:])
    if not seen:
        report.empty_inputs.append(name)


def _fault(report, name, state, base, status, text, lenient):
    where = '%s: record %d (byte %d)' % (name, state.record_number, base + state.position)
    if status == shim.EVERSION:
        raise FormatError('%s: %s' % (where, text) if state.record_number > 1 else
                          '%s: a miniSEED 3 file (it begins \'MS\' and format version 3); '
                          'libmseed 2.19, which reads these records, reads miniSEED 2 only'
                          % name)
    if not lenient:
        raise FormatError('%s: %s%s' % (where, text, '' if status in (
            shim.ENOTRECORD, shim.ETRUNCATED) and state.record_number == 1 else
            '; --lenient skips damaged records'))
    report.damaged.append((name, state.record_number, base + state.position, text))
