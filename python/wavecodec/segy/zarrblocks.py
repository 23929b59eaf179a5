"""The task that fills one block of a store (zarrstore.py), run serially, in local processes or on
Dask workers: it reads the block's traces from a map of the file (zarrstore.Source), a chunk at
a time, and writes each chunk of every array itself, encoded as zarr encodes it, so that no
chunk is read back or written twice.
"""
import contextlib
import itertools
import sys
import time

import numcodecs.blosc
import numpy
import zarr

from .. import native
from ..ibm import in_chunks
from .fetch import decode
from .zarrstore import ORDER, field_type


class Stages(object):
    """Seconds of wall-clock and processor time (the whole process's) spent in each stage of a
    block or of the client's work: `seconds`, a dict {stage: [wall, cpu]}."""

    def __init__(self):
        self.seconds = {}
        self._stage, self._wall, self._cpu = None, 0.0, 0.0

    def __call__(self, stage):
        """Ends the running stage and starts `stage` (None: none)."""
        wall, cpu = time.perf_counter(), time.process_time()
        if self._stage is not None:
            spent = self.seconds.setdefault(self._stage, [0.0, 0.0])
            spent[0] += wall - self._wall
            spent[1] += cpu - self._cpu
        self._stage, self._wall, self._cpu = stage, wall, cpu


def add_stages(total, seconds):
    """Adds the {stage: [wall, cpu]} of `seconds` into `total`; returns `total`."""
    for stage, (wall, cpu) in seconds.items():
        spent = total.setdefault(stage, [0.0, 0.0])
        spent[0] += wall
        spent[1] += cpu
    return total


def ibm_check(words, values, back=None):
    """(row, sample) of the host-order IBM words `words` (2-D) that their float32 `values` do
    not give back, each value converted back to IBM by the library (in `back`, a buffer of their
    shape, when given) and compared word for word; None when every word comes back."""
    if back is None:
        back = numpy.empty(words.shape, numpy.uint32)
    numpy.copyto(back, values.view(numpy.uint32))
    in_chunks(native.ibmfloat().ieee2ibm, back.size, (back.ctypes.data, 4))
    numpy.bitwise_xor(back, words, out=back)
    if not back.any():   # the common case
        return None
    return numpy.nonzero(back)


def even_steps(sub):
    """The trace numbers' steps along each axis of `sub` (a 3-D block of trace numbers, none
    missing) when they step evenly (a slice of a regular file, any sorting), else None."""
    first = int(sub.flat[0])
    steps = tuple(int(sub[tuple(1 if b == a else 0 for b in range(3))]) - first
                  if sub.shape[a] > 1 else 0 for a in range(3))
    even = first + sum(numpy.arange(n).reshape([n if b == a else 1 for b in range(3)]) * step
                       for a, (n, step) in enumerate(zip(sub.shape, steps)))
    return steps if numpy.array_equal(even, sub) else None


class Samples(object):
    """The samples of a block's traces, a chunk at a time, straight from the map of the file:
    the chunk's bytes copied out in one pass (a strided view of the map when the trace numbers
    step evenly, else a numpy gather), byte-swapped and converted in place in buffers made once
    per block; for IBM words the check that each float32 gives its word back (ibm_check), while
    the chunk is still in the cache."""

    def __init__(self, job, source, most):
        self.head = job.layout[2]
        self.rows = source.rows
        self.fmt, self.endian = source.fmt, source.endian
        self.swap = source.endian != sys.byteorder
        self.ibm = native.ibmfloat().ibm2ieee if self.fmt.kind == 'ibm' else None
        self.raw = numpy.empty(most * self.fmt.size, numpy.uint8)   # most: samples of a chunk
        if self.ibm is not None:
            self.values = numpy.empty(most, numpy.uint32)
            self.back = numpy.empty(most, numpy.uint32)

    def traces(self, sub, live):
        """What read() takes for the traces of `sub` (a 3-D block of trace numbers) at cells
        `live` (flat indices into it): their numbers, and the steps of a strided view of the map
        when none is missing and the numbers step evenly."""
        ids = sub.reshape(-1)
        if len(live) < len(ids):
            return ids[live], None, None
        return ids, sub.shape, even_steps(sub)

    def _copy(self, traces, lo, hi):
        """Bytes lo..hi of the samples of `traces` (from traces()), one row a trace."""
        ids, shape, steps = traces
        if steps is None:
            return self.rows[ids, self.head + lo:self.head + hi]   # a gather: a copy
        rows, width = self.rows, hi - lo
        first = rows[ids[0], self.head + lo:self.head + hi]
        view = numpy.lib.stride_tricks.as_strided(
            first, shape + (width,), tuple(step * rows.strides[0] for step in steps) + (1,),
            writeable=False)
        out = self.raw[:len(ids) * width].reshape(shape + (width,))
        numpy.copyto(out, view)
        return out.reshape(len(ids), width)

    def read(self, traces, s0, s1):
        """(values, mismatches) of samples s0..s1 of `traces` (from traces()): values one row a
        trace in host order (in this object's buffers until the next read); mismatches None or
        the (row, sample, word) of the IBM words their float32 does not give back."""
        size = self.fmt.size
        raw = self._copy(traces, s0 * size, s1 * size)
        if self.ibm is None:
            return decode(raw, self.fmt, self.endian).reshape(len(traces[0]), s1 - s0), None
        words = raw.view(numpy.uint32)
        if self.swap:
            words.byteswap(True)
        values = self.values[:words.size].reshape(words.shape)
        numpy.copyto(values, words)
        in_chunks(self.ibm, values.size, (values.ctypes.data, 4))
        wrong = ibm_check(words, values, self.back[:words.size].reshape(words.shape))
        if wrong is not None:
            wrong = wrong + (words[wrong],)
        return values.view(numpy.float32), wrong


def _seismic(job, source, group, block, grid, stages):
    """Writes every chunk of `seismic` in `block`; returns the IBM words kept aside, as rows of
    (cell, sample, word) in cell and sample order."""
    z = group['seismic']
    samples = Samples(job, source, int(numpy.prod(job.chunks3)) * z.chunks[-1])
    c3, cs, count = job.chunks3, z.chunks[-1], job.layout[3]
    origin = (block[0], block[2], 0)
    kept = []
    for a0 in range(0, grid.shape[0], c3[0]):
        for a1 in range(0, grid.shape[1], c3[1]):
            for a2 in range(0, grid.shape[2], c3[2]):
                sub = grid[a0:a0 + c3[0], a1:a1 + c3[1], a2:a2 + c3[2]]
                ids = sub.reshape(-1)
                live = numpy.flatnonzero(ids >= 0)
                whole = len(live) == len(ids)
                corner = (a0, a1, a2)
                coords = tuple((origin[a] + corner[a]) // c3[a] for a in job.store_axes)
                traces = samples.traces(sub, live)
                for s0 in range(0, count, cs):
                    s1 = min(s0 + cs, count)
                    stages('read')
                    values, wrong = samples.read(traces, s0, s1)
                    if wrong is not None:
                        where = numpy.unravel_index(live[wrong[0]], sub.shape)
                        cell = numpy.ravel_multi_index(
                            tuple(where[a] + origin[a] + corner[a] for a in range(3)),
                            job.grid_shape)
                        kept.append(numpy.stack([cell, wrong[1] + s0,
                                                 wrong[2].astype(numpy.int64)], 1))
                    part = values
                    if not whole:   # missing traces: their cells hold the fill value
                        part = numpy.empty((len(ids), s1 - s0), z.dtype)
                        part[...] = z.fill_value
                        part[live] = values
                    part = numpy.asarray(part, z.dtype).reshape(
                        tuple(sub.shape[a] for a in job.store_axes) + (s1 - s0,))
                    chunk = part if part.shape == z.chunks else edge_chunk(z, part)
                    stages('encode')
                    data = z._encode_chunk(chunk)
                    stages('write')
                    z.chunk_store[z._chunk_key(coords + (s0 // cs,))] = data
    stages(None)
    if not kept:
        return numpy.zeros((0, 3), numpy.int64)
    kept = numpy.concatenate(kept)
    return kept[numpy.lexsort((kept[:, 1], kept[:, 0]))]


@contextlib.contextmanager
def one_blosc_thread():
    """Blosc compresses with one thread inside (numcodecs' use_threads, put back after): its
    threads place a chunk's blocks in the order they finish, so the same chunk would not always
    give the same bytes. The ingest's parallel work is its blocks, in processes."""
    before = numcodecs.blosc.use_threads
    numcodecs.blosc.use_threads = False
    try:
        yield
    finally:
        numcodecs.blosc.use_threads = before


def put_chunk(z, coords, chunk):
    """Writes `chunk` (the whole chunk `coords` of zarr array `z`, in its type and shape) as
    z[...] = does: encoded by the array's filters and compressor, under the array's key."""
    z.chunk_store[z._chunk_key(coords)] = z._encode_chunk(chunk)


def edge_chunk(z, part):
    """The whole chunk of `z` whose first cells are `part` (a chunk cut short by the array's
    edge): the rest is the array's fill value, as z[...] = leaves it."""
    chunk = numpy.empty(z.chunks, z.dtype)
    chunk[...] = z.fill_value
    chunk[tuple(slice(0, n) for n in part.shape)] = part
    return chunk


def put_block(z, origin, data):
    """Writes `data`, whole chunks of zarr array `z` from `origin` (a chunk's first cell) on
    (cut short only by the array's edge), chunk by chunk with put_chunk."""
    chunks = z.chunks
    for corner in itertools.product(*[range(0, n, c) for n, c in zip(data.shape, chunks)]):
        part = data[tuple(slice(a, a + c) for a, c in zip(corner, chunks))]
        chunk = numpy.ascontiguousarray(part, z.dtype) if part.shape == chunks else \
            edge_chunk(z, part)
        put_chunk(z, tuple((o + a) // c for o, a, c in zip(origin, corner, chunks)), chunk)


def ingest_block(job, block, grid):
    """Fills the chunks of `block` ((lo0, hi0, lo1, hi1) of the grid) in every array of the
    store from the source; `grid` is the trace number of each of its cells (-1: none). Returns
    (traces written, IBM words kept aside, the seconds of its stages (Stages))."""
    with one_blosc_thread():
        return _ingest_block(job, block, grid)


def _ingest_block(job, block, grid):
    lo0, hi0, lo1, hi1 = block
    stages = Stages()
    stages('open')
    flat = grid.reshape(-1)
    live = numpy.flatnonzero(flat >= 0)
    order = ORDER[job.endian]
    group = zarr.open_group(job.store, mode='r+')
    origin = job.shape((lo0, lo1, 0))
    shape = job.shape(grid.shape)
    with job.reader() as source:
        table = _seismic(job, source, group, block, grid, stages)
        stages('headers')
        picked = source.rows[flat[live], :job.layout[2]]
    if len(table):
        group.require_group('ibm_words').create_dataset(
            'b%d_%d' % (lo0, lo1), data=table, chunks=(1 << 16, 3), overwrite=True)
    put_block(group['live'], origin, (grid >= 0).reshape(shape))
    put_block(group['trace_index'], origin, grid.reshape(shape))
    for name, at, width, kind in job.fields:
        values = numpy.zeros(len(flat), field_type(width, kind))
        values[live] = picked[:, at:at + width].copy().view(order + field_type(width, kind).str[1:]
                                                            ).reshape(-1)
        put_block(group['headers/' + name], origin, values.reshape(shape))
    for name, at, width in job.ranges:
        values = numpy.zeros((len(flat), width), numpy.uint8)
        values[live] = picked[:, at:at + width]
        put_block(group['headers/' + name], origin + (0,), values.reshape(shape + (width,)))
    stages(None)
    return len(live), len(table), stages.seconds


__all__ = ['Stages', 'add_stages', 'edge_chunk', 'even_steps', 'ibm_check', 'ingest_block',
           'one_blosc_thread', 'put_block', 'put_chunk']
