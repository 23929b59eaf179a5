"""The samples of chosen traces, or one sample of each, as numpy arrays: the reads behind the
survey views (lines.py) and the header scan of geometry.py.

A file of fixed-length traces is read through a read-only map of it (an in-memory stream through
its buffer): the traces asked for are copied out of the map in one numpy gather, then
byte-swapped and converted in place (IBM words by the ibmfloat library), so a depth slice is a
strided read of one sample per trace and a line one copy of its traces. File objects that
neither map nor lend their buffer are read trace by trace with f.raw_trace(). The map is made
once and released by close(); before every read the file's size is checked, so a file cut short
after opening is reported as the reader reports it, never read past its end.

    reader = Fetch(f)
    reader.traces(indices, fill)      # (len(indices), samples); index -1 gives `fill`
    reader.one(index, fill)           # (samples,)
    reader.depth(indices, k, fill)    # (len(indices),): sample k of each trace
    reader.buffer()                   # the whole file as a numpy uint8 array, or None
"""
import io
import mmap
import os
import sys

import numpy

from .. import native
from ..ibm import in_chunks
from ..errors import FormatError

_ORDER = {'big': '>', 'little': '<'}


def fill_value(fmt, fill):
    """The value of missing cells for samples of `fmt`: `fill`, or NaN for floats and 0 for
    integers; a ValueError when the samples' type cannot hold `fill` exactly."""
    dtype = sample_type(fmt)
    if fill is None:
        return dtype.type(numpy.nan if dtype.kind == 'f' else 0)
    try:
        with numpy.errstate(all='ignore'):
            value = numpy.array(fill).astype(dtype)
        if dtype.kind == 'f':  # any float, but a finite one must stay finite
            same = bool(numpy.isfinite(value) or not numpy.isfinite(fill))
        else:
            same = bool(value == fill)
    except (TypeError, ValueError, OverflowError):
        same = False
    if not same or numpy.ndim(fill):
        raise ValueError('fill=%r: the %s samples of this file cannot hold it'
                         % (fill, fmt.name))
    return value[()]


def sample_type(fmt):
    return numpy.dtype('=' + fmt.typecode)


def decode(raw, fmt, endian):
    """The samples of format `fmt` in `raw` (a contiguous uint8 array of rows of file bytes in
    byte order `endian`) in host order: swapped and converted in place where the type allows
    (IBM words by the ibmfloat library), 24-bit integers widened into a new array."""
    if fmt.kind == 'int24':
        return _widen24(raw, fmt, endian)
    values = raw.view(sample_type(fmt))
    if fmt.size > 1 and endian != sys.byteorder:
        values.byteswap(True)
    if fmt.kind == 'ibm' and values.size:
        in_chunks(native.ibmfloat().ibm2ieee, values.size, (values.ctypes.data, 4))
    return values


def _widen24(raw, fmt, endian):
    b = raw.reshape(raw.shape[0], -1, 3).astype(numpy.uint32)
    if endian == 'little':
        b = b[:, :, ::-1]
    words = (b[:, :, 0] << 16) | (b[:, :, 1] << 8) | b[:, :, 2]
    if fmt.code == 7:
        return ((words ^ 0x800000).astype(numpy.int32) - 0x800000).astype(sample_type(fmt))
    return words.astype(sample_type(fmt))


class Fetch(object):
    """Reads samples of the traces of open file `f` (fixed-length traces; see the module)."""

    def __init__(self, f):
        layout = f.fixed_layout()
        if layout is None:
            raise FormatError("%s: the traces' lengths vary: no survey array holds them (read "
                              "them with f.trace())" % f.name)
        self.f = f
        self.start, self.size, self.head, self.samples = layout
        self.count = len(f)
        self.fmt = f.sample_format
        self.dtype = sample_type(self.fmt)
        self._map = self._whole = self._traces = None
        self._opened = False

    # -- the map -----------------------------------------------------------------------------

    def _open(self):
        self._opened = True
        stream = self.f.stream
        if isinstance(stream, io.BytesIO):
            self._whole = numpy.frombuffer(stream.getbuffer(), numpy.uint8)
            return
        try:
            self._map = mmap.mmap(stream.fileno(), 0, access=mmap.ACCESS_READ)
        except (AttributeError, ValueError, EnvironmentError, io.UnsupportedOperation):
            return
        self._whole = numpy.frombuffer(self._map, numpy.uint8)

    def buffer(self):
        """The whole file as a numpy uint8 array when it holds every trace, else None."""
        if not self._opened:
            self._open()
        if self._whole is None:
            return None
        end = self.start + self.count * self.size
        if self._map is not None and os.fstat(self.f.stream.fileno()).st_size < end:
            return None  # cut short since it was opened: the stream reads say so
        if len(self._whole) < end:
            return None
        return self._whole

    def _trace_rows(self):
        """The traces as a (count, bytes per trace) view of the map, or None."""
        whole = self.buffer()
        if whole is None:
            return None
        if self._traces is None:
            self._traces = numpy.ndarray((self.count, self.size), numpy.uint8, whole,
                                         self.start, (self.size, 1))
        return self._traces

    def close(self):
        self._traces = self._whole = None
        mapped, self._map = self._map, None
        if mapped is not None:
            try:
                mapped.close()
            except BufferError:  # a view still lives somewhere: the map goes with it
                pass

    # -- reads -------------------------------------------------------------------------------

    def _raw(self, live, lo, hi):
        """Bytes lo..hi of the samples of traces `live` (an index array), one row a trace."""
        rows = self._trace_rows()
        if rows is None:
            out = numpy.empty((len(live), hi - lo), numpy.uint8)
            for k, i in enumerate(live):
                out[k] = numpy.frombuffer(self.f.raw_trace(int(i))[1][lo:hi], numpy.uint8)
            return out
        part = rows[:, self.head + lo:self.head + hi]
        if len(live) and live[-1] - live[0] == len(live) - 1 and \
                (len(live) == 1 or (numpy.diff(live) == 1).all()):
            return numpy.array(part[live[0]:live[-1] + 1])
        return part[live]

    def decode(self, raw):
        """The samples of `raw` (a contiguous array of rows of file bytes) in host order, in place
        where the type allows."""
        return decode(raw, self.fmt, self.f.endian)

    def _gather(self, indices, lo, hi, fill):
        indices = numpy.asarray(indices, dtype=numpy.int64).reshape(-1)
        width = (hi - lo) // self.fmt.size
        if not indices.size or indices.min() >= 0:
            return self.decode(self._raw(indices, lo, hi)).reshape(len(indices), width)
        live = indices >= 0
        out = numpy.full((len(indices), width), fill, dtype=self.dtype)
        if live.any():
            out[live] = self.decode(self._raw(indices[live], lo, hi)).reshape(-1, width)
        return out

    def one(self, index, fill):
        """The samples of trace `index` (-1: missing, all `fill`): the short road of a gather."""
        rows = self._trace_rows() if index >= 0 else None
        if rows is None:
            return self.traces([index], fill)[0]
        width = self.samples * self.fmt.size
        return self.decode(rows[index:index + 1, self.head:self.head + width].copy())[0]

    def traces(self, indices, fill):
        """The samples of the traces `indices` (-1: a missing trace, filled with `fill`)."""
        return self._gather(indices, 0, self.samples * self.fmt.size, fill)

    def depth(self, indices, k, fill):
        """Sample `k` of each of the traces `indices`, as a 1-D array."""
        size = self.fmt.size
        return self._gather(indices, k * size, (k + 1) * size, fill).reshape(-1)
