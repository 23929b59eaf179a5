"""The Zarr group of a SEG-Y survey: its layout, the plan of an ingest made once on the client
and the source its blocks read (the task that fills one block: zarrblocks.py).

A store (a folder) holds:
    seismic                  (inline, crossline[, offset], sample) in the samples' own type:
                             float32 for IBM and IEEE singles, the integer type of integer
                             formats (int32 for 24-bit ones), float64 for IEEE doubles; cells no
                             trace holds are NaN (floats) or 0
    live                     bool per cell; trace_index: the trace's number in the source file,
                             -1 where no trace is (the order the SEG-Y is written back in)
    inline, crossline, offset, time (or depth): the axes, as coordinate arrays
    headers/<field>          one array per trace header field that varies over the survey (the
                             names of segy.TRACE_FIELDS; 0 where no trace is); constant fields
                             are the attribute headers_constant. Bytes no field covers
                             (unassigned_233_240) and additional trace headers
                             (additional_headers) are uint8 arrays with one more axis, or base64
                             in headers_constant_bytes when the same in every trace
    ibm_words/<block>        IBM words whose value no float32 holds exactly (beyond its range,
                             unnormalized words, zeros with an exponent): rows of (cell, sample,
                             word), so that from_zarr writes them back as they were
and the group's attributes: the text, binary and extended headers decoded and as raw bytes
(base64), the bytes between the headers and the first trace and after the last one, the source
byte order, format, revision, sorting and the reader's notes. Every array names its dimensions
in _ARRAY_DIMENSIONS, so xarray opens the store as it is (zarrread.open_zarr).

Chunks default to 64 x 64 x 64 post-stack (1 MiB of float32); pre-stack to 16 inlines x 16
crosslines x 16 offsets x 64 samples; a 2-D line to 1024 traces x 256 samples (64 x 16 x 256
pre-stack). A block, the work of one task, is one chunk along the file's slow axis (inlines for
inline sorting) and BLOCK_CHUNKS chunks along the other, all offsets and samples; the arrays of
cells (live, trace_index, headers) are chunked by block (layout 2; layout 1 chunked them like the
seismic's cells, and is still read), so no two blocks share a chunk of any array.
"""
import contextlib
import io
import mmap
import os

import numpy

from ..errors import FormatError
from .fetch import sample_type
from .fields import TRACE, TRACE_HEADER_SIZE
from .samples import FORMATS

# Version of the layout above, in the attribute wavecodec_segy_store; the versions read (1: the
# arrays of cells chunked like the seismic's cells).
LAYOUT = 2
LAYOUTS_READ = (1, 2)
# Chunks along the file's fast axis in a block, and in a chunk of the arrays of cells.
BLOCK_CHUNKS = 4
# Bytes of samples from_zarr holds at a time (zarrread.py).
BLOCK_BYTES = 64 << 20
# Header rows compared at a time while looking for the fields that vary.
SCAN_ROWS = 1 << 15
ORDER = {'big': '>', 'little': '<'}


def default_chunks(two_d, prestack):
    """The store's chunks (without the axes it lacks), by the rule of the module docstring."""
    if two_d:
        return (64, 16, 256) if prestack else (1024, 256)
    return (16, 16, 16, 64) if prestack else (64, 64, 64)


def field_type(width, kind):
    return numpy.dtype('<%s%d' % ('u' if kind == 'u' else 'i', width))


def raw_ranges(head):
    """(name, offset, width) of the header bytes no trace field covers, and of the additional
    trace headers when a trace has them (`head` bytes of header per trace)."""
    covered = numpy.zeros(TRACE_HEADER_SIZE, bool)
    for _, first, width, _ in TRACE.fields:
        covered[first - 1:first - 1 + width] = True
    ranges, at = [], 0
    while at < TRACE_HEADER_SIZE:
        if covered[at]:
            at += 1
            continue
        end = at
        while end < TRACE_HEADER_SIZE and not covered[end]:
            end += 1
        ranges.append(('unassigned_%d_%d' % (at + 1, end), at, end - at))
        at = end
    if head > TRACE_HEADER_SIZE:
        ranges.append(('additional_headers', TRACE_HEADER_SIZE, head - TRACE_HEADER_SIZE))
    return ranges


class Source(object):
    """The traces of a Job's file for the blocks run in one process: the file mapped read-only
    and cut into rows by the layout the client found (the file is not read again to find it);
    only checked to be the file that was planned (its size and modification time)."""

    def __init__(self, job):
        start, size, _, _ = job.layout
        self.fmt = FORMATS[job.format]
        self.endian = job.endian
        self.stream = io.open(job.source, 'rb')
        try:
            stat = os.fstat(self.stream.fileno())
            if (stat.st_size, stat.st_mtime_ns) != job.stamp:
                raise FormatError('%s: the file changed since the ingest was planned (%d bytes '
                                  'then, %d now)' % (job.source, job.stamp[0], stat.st_size))
            self.map = mmap.mmap(self.stream.fileno(), 0, access=mmap.ACCESS_READ)
        except BaseException:
            self.stream.close()
            raise
        self.rows = numpy.ndarray((job.count, size), numpy.uint8, self.map, start, (size, 1))

    def close(self):
        self.rows = None
        try:
            self.map.close()
        except BufferError:   # a view still lives somewhere: the map goes with it
            pass
        self.stream.close()


class Job(object):
    """What every task needs, made once on the client and sent with each block: the source, its
    layout and stamp, the store and the fields to write."""

    def __init__(self, f, store, fields, ranges, store_axes, grid_shape, chunks3):
        self.source = f.name
        self.layout = f.fixed_layout()
        self.count = len(f)
        self.endian = f.endian
        self.format = f.format
        stat = os.stat(f.name)
        self.stamp = (stat.st_size, stat.st_mtime_ns)
        self.store = store
        self.fields = fields          # [(name, offset, width, kind)] that vary
        self.ranges = ranges          # [(name, offset, width)] raw bytes that vary
        self.store_axes = store_axes  # grid axes the store keeps (0 inline, 1 crossline, 2 offset)
        self.grid_shape = grid_shape
        self.chunks3 = tuple(chunks3)  # the store's chunks along the grid axes (1: axis absent)
        self.kept = None              # the Source kept open for the blocks of this process

    def __getstate__(self):
        state = dict(self.__dict__)
        state['kept'] = None          # each process maps the file itself
        return state

    @contextlib.contextmanager
    def reader(self):
        """The Source for one block: the one kept (keep()), else one made for the block."""
        if self.kept is not None:
            yield self.kept
            return
        source = Source(self)
        try:
            yield source
        finally:
            source.close()

    def keep(self):
        """Blocks run in this process read one Source from now on (release() closes it)."""
        if self.kept is None:
            self.kept = Source(self)

    def release(self):
        if self.kept is not None:
            self.kept.close()
            self.kept = None

    def shape(self, shape3):
        return tuple(shape3[a] for a in self.store_axes)


def trace_rows(f):
    """The file's traces as a (traces, bytes per trace) uint8 view of its map."""
    start, size, _, _ = f.fixed_layout()
    whole = f.fetch().buffer()
    if whole is None:
        raise FormatError('%s: the file is shorter than its %d traces (cut short while read?)'
                          % (f.name, len(f)))
    return numpy.ndarray((len(f), size), numpy.uint8, whole, start, (size, 1))


def varying_bytes(rows, head):
    """A bool per header byte: whether it differs between any two traces."""
    varies = numpy.zeros(head, bool)
    first = rows[0, :head]
    for lo in range(0, len(rows), SCAN_ROWS):
        varies |= (rows[lo:lo + SCAN_ROWS, :head] != first).any(axis=0)
    return varies


def block_span(grid_shape, chunks3, slow):
    """The cells of a block along the grid's fast axis (the other of 0 and 1 than `slow`):
    BLOCK_CHUNKS chunks, fewer when the grid has fewer."""
    fast = 1 - slow
    whole = -(-grid_shape[fast] // chunks3[fast]) * chunks3[fast]
    return min(chunks3[fast] * BLOCK_CHUNKS, whole)


def cell_chunks(grid_shape, chunks3, slow, store_axes):
    """The chunks of the arrays of cells (live, trace_index, headers): one block's cells."""
    cells = list(chunks3)
    cells[1 - slow] = block_span(grid_shape, chunks3, slow)
    return tuple(cells[a] for a in store_axes)


def blocks(grid_shape, chunks3, slow):
    """The blocks of the grid: (lo0, hi0, lo1, hi1), one chunk along the `slow` grid axis (0 or
    1) and block_span() cells along the other, all offsets and samples."""
    fast = 1 - slow
    span = block_span(grid_shape, chunks3, slow)
    out = []
    for s in range(0, grid_shape[slow], chunks3[slow]):
        for q in range(0, grid_shape[fast], span):
            s_end, q_end = min(s + chunks3[slow], grid_shape[slow]), \
                min(q + span, grid_shape[fast])
            out.append((s, s_end, q, q_end) if slow == 0 else (q, q_end, s, s_end))
    return out


def store_size(path):
    """Bytes of the files under `path`."""
    total = 0
    for root, _, names in os.walk(path):
        for name in names:
            total += os.path.getsize(os.path.join(root, name))
    return total


__all__ = ['Job', 'LAYOUT', 'LAYOUTS_READ', 'Source', 'blocks', 'cell_chunks', 'default_chunks',
           'field_type', 'raw_ranges', 'sample_type', 'store_size', 'trace_rows',
           'varying_bytes']
