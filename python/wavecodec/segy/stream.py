"""Input that cannot seek (standard input, FIFOs, devices, pipes): held for the reader's random
access, in bounded memory and up to a bounded size.

The first bytes are looked at before anything else is held, so that what cannot start a file
(zeros from /dev/zero, the text of `yes`) is refused at once; then the stream is held in memory
up to MEMORY_BYTES and in an unnamed temporary file beyond, and a stream that goes on past the
limit (WAVECODEC_STREAM_LIMIT bytes in the environment, else DEFAULT_LIMIT) is stopped with a
message.
"""
import io
import os
import tempfile

from ..errors import FormatError

MEMORY_BYTES = 32 << 20
DEFAULT_LIMIT = 4 << 30
LIMIT_VARIABLE = 'WAVECODEC_STREAM_LIMIT'
CHUNK_BYTES = 1 << 20


def limit():
    """The most bytes a stream may bring: WAVECODEC_STREAM_LIMIT when it is a whole number."""
    value = os.environ.get(LIMIT_VARIABLE, '').strip()
    if value.isdigit():
        return int(value)
    return DEFAULT_LIMIT


def _size(n):
    for unit, shift in (('GiB', 30), ('MiB', 20), ('KiB', 10)):
        if n >= 1 << shift and not n % (1 << (shift - 4)):
            return '%g %s' % (n / float(1 << shift), unit)
    return '%d bytes' % n


def _read(stream, size):
    """Up to `size` bytes: fewer only at the end of the stream."""
    parts = []
    got = 0
    while got < size:
        data = stream.read(size - got)
        if not data:
            break
        parts.append(data)
        got += len(data)
    return b''.join(parts)


def hold(stream, name, first, check):
    """A seekable binary file object with the content of `stream`. `check(head)` is given the
    first `first` bytes (fewer in a shorter stream) and raises FormatError for a start no file
    has; the rest is then read CHUNK_BYTES at a time."""
    head = _read(stream, first)
    if len(head) == first:
        check(head)
    cap = limit()
    held = io.BytesIO()
    held.write(head)
    total = len(head)
    try:
        while True:
            data = stream.read(CHUNK_BYTES)
            if not data:
                break
            total += len(data)
            if total > cap:
                raise FormatError(
                    '%s: the input goes on past %s without an end; a stream is held whole for '
                    'the reader (%s sets the limit in bytes): save it to a file and give its '
                    'path' % (name, _size(cap), LIMIT_VARIABLE))
            if isinstance(held, io.BytesIO) and total > MEMORY_BYTES:
                spilled = tempfile.TemporaryFile()
                spilled.write(held.getvalue())
                held = spilled
            held.write(data)
    except BaseException:
        held.close()
        raise
    held.seek(0)
    return held
