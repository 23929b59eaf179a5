"""The records of one input as runs (libmseedio's mseedio_read over blocks of the input): each
run is one channel's contiguous records with their samples, or records without samples.
Damaged records stop the input with a FormatError naming the file, record and byte, or, read
leniently, are listed in the report and passed as libmseed passes them (its next record header
searched every 128 bytes)."""
import os
from array import array

from ..compat import PY2, string_types, text_type
from ..errors import FormatError
from . import shim

# Bytes of a file read at a time.
BLOCK = 1 << 20
_TYPECODES = {shim.RUN_INT32: 'i', shim.RUN_FLOAT32: 'f', shim.RUN_FLOAT64: 'd'}


class Run(object):
    """A run of records as the reader hands it on: `key` (network, station, location, channel
    as text), `kind` ('int32', 'float32', 'float64', 'text', 'empty'), `start` and `end`
    (microseconds: first and last sample), `rate`, `samples` (array of 'i', 'f' or 'd', or a
    bytearray of text), and where it comes from: `name`, `record` (number of its first record,
    from 1), `offset` (its byte), `records`."""

    __slots__ = ('key', 'kind', 'start', 'end', 'rate', 'samples', 'name', 'record', 'offset',
                 'records', 'quality', 'encoding', 'record_length', 'flags', 'raw_key')


def code_text(value):
    """A code of the records as native text: bytes beyond ASCII kept one for one (Latin-1
    under Python 3), so that codes that differ stay apart."""
    return value if PY2 else value.decode('latin-1')


def rate_of(run):
    """The rate a record gives: blockette 100's float read as its shortest decimal, else the
    factor and multiplier's."""
    from .codes import single_precision_reading
    if run.blockette100_rate:
        return single_precision_reading(run.blockette100_rate)
    return run.nominal_rate


def _run(c, name, base, samples, other):
    s = c.stream
    run = Run()
    run.raw_key = (s.network, s.station, s.location, s.channel)
    run.key = tuple(code_text(v) for v in run.raw_key)
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
        run.samples = _array('i', samples, 4 * c.sample_start, 4 * n)
    elif c.kind in _TYPECODES:
        size = 4 if c.kind == shim.RUN_FLOAT32 else 8
        run.samples = _array(_TYPECODES[c.kind], other, c.sample_start, size * n)
    elif c.kind == shim.RUN_TEXT:
        run.samples = bytearray(other[c.sample_start:c.sample_start + n])
    else:
        run.samples = None
    return run


def _array(typecode, buffer, start, size):
    a = array(typecode)
    if size:
        if PY2:
            a.fromstring(bytes(buffer[start:start + size]))
        else:
            a.frombytes(memoryview(buffer)[start:start + size])
    return a


def _blocks(source):
    """(bytes of the input, whether they end it) pieces of a path, bytes-like object or binary
    file object."""
    if isinstance(source, (bytes, bytearray)):
        yield source, True
        return
    if isinstance(source, memoryview):
        yield source.tobytes(), True
        return
    stream = source
    if isinstance(source, string_types) or hasattr(source, '__fspath__'):
        path = os.fspath(source) if hasattr(os, 'fspath') else source
        stream = open(path, 'rb')
    try:
        while True:
            block = stream.read(BLOCK)
            if not isinstance(block, (bytes, bytearray)):
                raise TypeError('the file object is opened in text mode; open it in binary mode')
            yield block, len(block) < BLOCK
            if len(block) < BLOCK:
                return
    finally:
        if stream is not source:
            stream.close()


def scan(source, name, report, selection=None, lenient=False):
    """Yields the runs of `source` (see read); faults, records without samples and records
    passed over go to `report`."""
    reader = shim.BlockReader(selection)
    state = reader.state
    carry = b''
    base = 0  # byte of the input where `data` begins
    seen = False
    for block, final in _blocks(source):
        data = carry + block if carry else block
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
        carry = data[state.position:]
    report.files.append(name)
    report.records += state.record_number
    report.passed_over += state.passed_over
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


def looks_like_records(head):
    """Whether the first bytes of an input begin a miniSEED record (2 or 3): six digits, blanks
    or NULs, then a quality letter; or 'MS' and format version 3."""
    if isinstance(head, text_type):
        return False
    head = bytearray(head[:8])
    if len(head) >= 3 and head[:2] == b'MS' and head[2] == 3:
        return True
    return len(head) >= 7 and chr(head[6]) in 'DRQM' and \
        all(chr(c) in '0123456789 \0' for c in head[:6])
