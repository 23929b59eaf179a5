"""Whole-file reads without per-trace Python work: one header field of every trace, and every
trace's samples into one 2-D numpy array."""
import io
import mmap

from .. import native
from ..ibm import in_chunks
from ..compat import array_from_bytes
from ..errors import FormatError
from .fields import TRACE
from .samples import HOST

try:
    import numpy
except ImportError:  # attribute() gives array.array; to_numpy() says numpy is needed
    numpy = None

_ITEMS = {(2, 'i'): 'h', (2, 'u'): 'H', (4, 'i'): 'i', (4, 'u'): 'I'}
# Bytes of traces read at a time where the file cannot be mapped, and per block of to_numpy.
BLOCK_BYTES = 1 << 20
# Strides from which fields are read one by one rather than through a map of the file.
SPARSE_STEP = 1 << 16


def _field(name):
    try:
        _, first, width, kind = TRACE.by_name[name]
    except KeyError:
        raise ValueError("unknown trace header field %r (known: %s)"
                         % (name, ', '.join(TRACE.names)))
    return first - 1, width, _ITEMS[width, kind]


def _mapped(f):
    """A read-only map of the file behind `f`, or None (streams in memory, pipes)."""
    try:
        fd = f._stream.fileno()
        return mmap.mmap(fd, 0, access=mmap.ACCESS_READ)
    except (AttributeError, ValueError, EnvironmentError, mmap.error,
            io.UnsupportedOperation):
        return None


def strided(f, offset, step, n, width):
    """The `width` bytes at offset + k * step for k < n, packed together: strided slices of the
    mapped file (only the pages holding them are touched), else of 1 MB blocks."""
    out = bytearray(n * width)
    if not n:
        return out
    if step >= SPARSE_STEP:
        # Fields far apart: one small read each (a map would be faulted in around each field,
        # many pages for a few bytes).
        for k in range(n):
            out[k * width:(k + 1) * width] = f._read_exact(offset + k * step, width,
                                                           'a trace header field')
        return out
    mapped = _mapped(f)
    if mapped is not None and len(mapped) < offset + (n - 1) * step + width:
        mapped.close()   # the file shrank since it was opened: the reads below say so
        mapped = None
    if mapped is not None:
        try:
            if numpy is not None:  # one pass over the fields
                fields = numpy.ndarray((n, width), numpy.uint8, mapped, offset, (step, 1))
                out = fields.tobytes()
                del fields  # the map closes only without views into it
            else:
                for b in range(width):
                    at = offset + b
                    out[b::width] = mapped[at:at + (n - 1) * step + 1:step]
        finally:
            mapped.close()
        return out
    per_block = max(1, BLOCK_BYTES // step)
    for first in range(0, n, per_block):
        k = min(per_block, n - first)
        data = f._read_exact(offset + first * step, (k - 1) * step + width, 'trace headers')
        for b in range(width):
            out[(first * width) + b:(first + k) * width:width] = data[b::step]
    return out


def _as_array(data, item, endian):
    if numpy is not None:
        order = '>' if endian == 'big' else '<'
        return numpy.frombuffer(bytes(data), dtype=order + item).astype('=' + item)
    values = array_from_bytes(item, bytes(data))
    if endian != HOST:
        values.byteswap()
    return values


def attribute(f, name, start=0, stop=None):
    at, width, item = _field(name)
    start, stop, _ = slice(start, stop).indices(len(f))
    n = max(0, stop - start)
    layout = f._layout
    if not layout.varying:
        data = strided(f, layout.start + start * layout.size + at, layout.size, n, width)
    else:
        data = b''.join(f._read_exact(layout.span(i)[0] + at, width, 'trace %d' % i)
                        for i in range(start, stop))
    return _as_array(data, item, f.endian)


def to_numpy(f, start=0, stop=None):
    if numpy is None:
        raise ImportError('to_numpy() needs numpy; traces() gives array.array per trace')
    layout = f._layout
    fmt = f.sample_format
    start, stop, _ = slice(start, stop).indices(len(f))
    n = max(0, stop - start)
    if layout.lengths_vary:
        raise FormatError("%s: the traces' lengths vary: no 2-D array holds them (read them "
                          "with traces())" % f.name)
    dtype = numpy.dtype('=' + fmt.typecode)
    out = numpy.empty((n, layout.span(0)[1] if layout.count else 0), dtype=dtype)
    if fmt.kind == 'int24' or layout.varying:   # 3-byte samples; traces found one by one
        for k, values in enumerate(f._traces(start, stop)):
            out[k] = values
        return out
    words = layout.size // fmt.size
    skip = layout.header_size // fmt.size
    per_block = max(1, BLOCK_BYTES // layout.size)
    block = numpy.empty((min(per_block, n), words), dtype=dtype)
    swap = f.endian != HOST and fmt.size > 1
    lib = native.ibmfloat() if fmt.kind == 'ibm' else None
    for first in range(start, stop, per_block):
        k = min(per_block, stop - first)
        part = block[:k]
        view = memoryview(part.reshape(-1).view(numpy.uint8))
        f.read_into(view, layout.start + first * layout.size, first)
        view.release()
        if swap:
            part.byteswap(True)
        if lib is not None:
            in_chunks(lib.ibm2ieee, k * words, (part.ctypes.data, 4))
        out[first - start:first - start + k] = part[:, skip:]
    return out
