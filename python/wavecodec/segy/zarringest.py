"""segy.to_zarr: a SEG-Y survey into a chunked, compressed Zarr group (layout: zarrstore.py).

The client opens the file once, infers its geometry, finds the trace header fields that vary
and plans the blocks; each block is one task (zarrblocks.ingest_block) that reads its traces
straight from the file and writes whole chunks. Tasks run in this process (jobs 1), in `jobs`
local worker processes (a process pool made and ended here: zarrlocal.Processes) or on the
cluster of `client` (a distributed.Client or a scheduler address). The blocks of a worker or process that
dies run again elsewhere; a block writes the same bytes however often it runs. Workers reach
the SEG-Y file and the store by path: on a cluster, a shared file system.

The group is built under a temporary name beside `store` (STORE.partial-...) and renamed to
`store` once every block is written and its attributes and consolidated metadata are in place:
a failed or interrupted ingest leaves no store that looks whole (and removes its partial one
when it can).
"""
import base64
import errno
import os
import re
import shutil
import time
import uuid

import numcodecs
import numpy
import zarr

from ..compat import string_types
from ..errors import FormatError
from . import zarrblocks as zb, zarrstore as zs
from .zarrlocal import Processes
from .fetch import fill_value
from .fields import TRACE
from .geometry import sample_axis
from .reader import open as open_segy
from .survey import DEFAULT_ILINE, DEFAULT_OFFSET, DEFAULT_XLINE

# Seconds to reach a scheduler, and to start or close a local cluster.
CONNECT_SECONDS = 30
# Seconds a failed ingest waits for the blocks still running on a cluster to end.
SETTLE_SECONDS = 120
GRID_AXES = ('inline', 'crossline', 'offset')


def default_compressor():
    return numcodecs.Blosc(cname='lz4', clevel=5, shuffle=numcodecs.Blosc.SHUFFLE)


def _b64(data):
    return base64.b64encode(bytes(data)).decode('ascii')


def _plain(value):
    """A JSON-ready copy of a header value."""
    return float(value) if isinstance(value, float) else int(value)


def _chunks(chunks, g, ndim):
    """The store's chunks from the caller's (None: the default rule); for a pre-stack store, 3
    numbers give inline, crossline and sample chunks with every offset in one chunk."""
    if chunks is None:
        return zs.default_chunks(g.two_d, g.prestack)
    chunks = tuple(chunks)
    if g.prestack and len(chunks) == ndim - 1:
        chunks = chunks[:-1] + (len(g.offsets),) + chunks[-1:]
    if len(chunks) != ndim or not all(isinstance(c, (int, numpy.integer)) and c > 0
                                      for c in chunks):
        raise ValueError('chunks=%r: %d positive whole numbers, one per axis of %s'
                         % (chunks, ndim, 'the store'))
    return tuple(int(c) for c in chunks)


def _axes_attribute(g, times, vertical):
    axes = {'offset': [int(v) for v in g.offsets], 'crossline': [int(v) for v in g.xlines],
            vertical: [float(t) for t in times]}
    if not g.two_d:
        axes['inline'] = [int(v) for v in g.ilines]
    return axes


def _attributes(f, g, times, vertical, varying, constants, constant_bytes, chunks):
    start, size, head, samples = f.fixed_layout()
    lead_at = 3600 + 3200 * len(f.raw_extended_text_headers)
    end = start + len(f) * size
    stream = f.stream
    stream.seek(0, 2)
    total = stream.tell()
    stream.seek(min(lead_at, start))
    lead = stream.read(start - min(lead_at, start))
    stream.seek(end)
    tail = stream.read(total - end)
    return {
        'wavecodec_segy_store': zs.LAYOUT,
        'source': os.path.basename(f.name),
        'text_header': f.text_header, 'text_header_bytes': _b64(f.raw_text_header),
        'text_encoding': f.encoding,
        'extended_text_headers': list(f.extended_text_headers),
        'extended_text_headers_bytes': [_b64(r) for r in f.raw_extended_text_headers],
        'binary_header': dict((k, _plain(v)) for k, v in f.binary_header.items()),
        'binary_header_bytes': _b64(f.raw_binary_header),
        'lead_bytes': _b64(lead), 'tail_bytes': _b64(tail),
        'byte_order': f.endian, 'format': f.format, 'format_name': f.sample_format.name,
        'revision': f.revision, 'notes': list(f.notes), 'sorting': g.sorting,
        'fields': dict((w, s[0]) for w, s in zip(('iline', 'xline', 'offset'), g.fields)
                       if s is not None),
        'trace_count': len(f), 'samples_per_trace': samples, 'header_bytes': head,
        'sample_interval': f.sample_interval, 'vertical': vertical,
        'axes': _axes_attribute(g, times, vertical), 'chunks': list(chunks),
        'header_fields': [name for name, _, _, _ in varying],
        'headers_constant': constants, 'headers_constant_bytes': constant_bytes,
    }


class Plan(object):
    """The ingest of one file, made on the client: the group (created empty under `temp`), the
    job every task gets and the blocks."""

    def __init__(self, f, temp, chunks, compressor, vertical):
        g = f.geometry
        if g.problem:
            raise FormatError(g.problem)
        self.f, self.g = f, g
        dtype = zs.sample_type(f.sample_format).newbyteorder('<')
        start, size, head, samples = f.fixed_layout()
        store_axes = tuple(a for a, keep in enumerate((not g.two_d, True, g.prestack)) if keep)
        dims = [GRID_AXES[a] for a in store_axes]
        chunks = _chunks(chunks, g, len(dims) + 1)
        chunks3 = [1, 1, 1]
        for a, c in zip(store_axes, chunks):
            chunks3[a] = c
        rows = zs.trace_rows(f)
        varies = zs.varying_bytes(rows, head)
        first = TRACE.decode(rows[0, :240].tobytes(), f.endian)
        fields, constants = [], {}
        for name, at, width, kind in TRACE.fields:
            if varies[at - 1:at - 1 + width].any():
                fields.append((name, at - 1, width, kind))
            else:
                constants[name] = int(first[name])
        ranges, constant_bytes = [], {}
        for name, at, width in zs.raw_ranges(head):
            if varies[at:at + width].any():
                ranges.append((name, at, width))
            else:
                constant_bytes[name] = _b64(rows[0, at:at + width])
        times = sample_axis(f, f.header(0))
        self.attributes = _attributes(f, g, times, vertical, fields, constants, constant_bytes,
                                      chunks)
        group = zarr.open_group(temp, mode='w-')
        cell_shape = tuple(g.grid.shape[a] for a in store_axes)

        def array(name, shape, chunk, dtype, fill, names, data=None):
            a = group.create_dataset(name, shape=shape, chunks=chunk, dtype=dtype,
                                     compressor=compressor, fill_value=fill)
            a.attrs['_ARRAY_DIMENSIONS'] = names
            if data is not None:
                a[...] = data
            return a

        array('seismic', cell_shape + (samples,), chunks, dtype, fill_value(f.sample_format, None),
              dims + [vertical])
        slow = 1 if g.sorting == 'crossline' else 0
        cell_chunks = zs.cell_chunks(g.grid.shape, chunks3, slow, store_axes)
        array('live', cell_shape, cell_chunks, bool, False, dims)   # these two and the
        array('trace_index', cell_shape, cell_chunks, '<i8', -1, dims)   # headers: by blocks
        for axis, numbers in (('inline', g.ilines), ('crossline', g.xlines),
                              ('offset', g.offsets)):
            if GRID_AXES.index(axis) in store_axes:
                array(axis, numbers.shape, numbers.shape, '<i8', 0, [axis], numbers)
        array(vertical, times.shape, times.shape, '<f8', 0, [vertical], times)
        group.require_group('headers')
        for name, _, width, kind in fields:
            array('headers/' + name, cell_shape, cell_chunks, zs.field_type(width, kind), 0,
                  dims)
        for name, _, width in ranges:
            array('headers/' + name, cell_shape + (width,), cell_chunks + (width,), 'u1', 0,
                  dims + [name + '_byte'])
        self.job = zs.Job(f, temp, fields, ranges, store_axes, g.grid.shape, chunks3)
        self.blocks = zs.blocks(g.grid.shape, chunks3, slow)
        self.shape, self.chunks = cell_shape + (samples,), chunks

    def grid(self, block):
        lo0, hi0, lo1, hi1 = block
        return numpy.ascontiguousarray(self.g.grid[lo0:hi0, lo1:hi1])


class Workers(object):
    """The distributed.Client the blocks run on: `client` itself, or one made for its address
    (and closed here)."""

    def __init__(self, client):
        from distributed import Client
        if isinstance(client, string_types):
            try:
                client = Client(client, timeout=CONNECT_SECONDS)
            except (OSError, IOError) as e:
                raise IOError('scheduler %s not reached within %d s: %s'
                              % (client, CONNECT_SECONDS, e))
            self.owned = True
        else:
            self.owned = False
        self.client = client

    def run(self, plan, progress):
        from distributed import as_completed
        prefix = 'segy-to-zarr-%s-' % uuid.uuid4().hex[:12]
        futures = [self.client.submit(zb.ingest_block, plan.job, block, plan.grid(block),
                                      key='%s%d' % (prefix, k), pure=False)
                   for k, block in enumerate(plan.blocks)]
        finished = False
        try:
            results = []
            for done, future in enumerate(as_completed(futures), 1):
                try:
                    results.append(future.result())
                except Exception as e:  # noqa: B902 - named with the block
                    k = futures.index(future)
                    if type(e).__name__ == 'KilledWorker':
                        raise FormatError('%s: block %r: the Dask workers running it died '
                                          'again and again (KilledWorker)'
                                          % (plan.f.name, plan.blocks[k]))
                    raise
                if progress:
                    progress(done, len(futures))
            finished = True
            return results
        finally:
            self.client.cancel(futures)
            if not finished:
                self._settle(prefix)

    def _settle(self, prefix):
        """Waits (bounded) until no worker still runs a block of this ingest: a cancelled task
        runs on to its end on a cluster that is not ours to close, and it would write into the
        partial store after its removal."""
        deadline = time.time() + SETTLE_SECONDS
        while time.time() < deadline:
            try:
                # a worker that fails to answer (dying, restarting) runs none of them
                running = self.client.run(_blocks_running, prefix, on_error='ignore')
            except Exception:  # noqa: B902 - a cluster that is going away runs nothing more
                return
            if not any(running.values()):
                return
            time.sleep(0.1)

    def close(self):
        if self.owned:
            self.client.close(timeout=CONNECT_SECONDS)


def _blocks_running(prefix, dask_worker=None):
    """On a worker: how many tasks whose keys start with `prefix` it is still running."""
    state = getattr(dask_worker, 'state', None)
    tasks = getattr(state, 'all_running_tasks', None)
    if tasks is None:
        tasks = getattr(dask_worker, 'executing', ()) or ()
    return sum(1 for ts in tasks if str(getattr(ts, 'key', ts)).startswith(prefix))


def _serial(plan, progress):
    results = []
    plan.job.keep()   # one map of the file for every block
    try:
        for done, block in enumerate(plan.blocks, 1):
            results.append(zb.ingest_block(plan.job, block, plan.grid(block)))
            if progress:
                progress(done, len(plan.blocks))
    finally:
        plan.job.release()
    return results


def _close(workers):
    if workers is not None:
        workers.close()


def _target(store, overwrite):
    if not isinstance(store, string_types):
        raise TypeError('store must be a path (a folder that the workers reach), not %s'
                        % type(store).__name__)
    store = os.path.abspath(store)
    parent = os.path.dirname(store)
    if not os.path.isdir(parent):
        raise IOError(errno.ENOENT, 'no such folder for the store', parent)
    _replaceable(store, overwrite)
    return store


def _replaceable(store, overwrite):
    """IOError unless `store` is absent, or a Zarr group (not a link) and `overwrite`; checked
    before the work and again before the rename."""
    if not os.path.lexists(store):
        return False
    if not overwrite:
        raise IOError('%s exists: give overwrite=True (--overwrite) to replace it' % store)
    if not os.path.isdir(store) or os.path.islink(store) or \
            not os.path.exists(os.path.join(store, '.zgroup')):
        raise IOError('%s is not a Zarr group: not replaced' % store)
    return True


# The temporary file zarr's directory store writes a key to before renaming it into place.
_PARTIAL = re.compile(r'\.[0-9a-f]{32}\.partial$')


def _sweep_partials(temp):
    """Removes the temporary files of writes that never ended: a worker killed mid-write leaves
    one beside the key, which its block, run again, wrote whole."""
    for where, _, names in os.walk(temp):
        for name in names:
            if _PARTIAL.search(name):
                os.remove(os.path.join(where, name))


def _publish(temp, store, overwrite):
    """Renames the finished group to `store` (an old one set aside, then removed)."""
    old = None
    if _replaceable(store, overwrite):
        old = '%s.old-%s' % (store, uuid.uuid4().hex[:8])
        os.rename(store, old)
    os.rename(temp, store)
    if old:
        shutil.rmtree(old, ignore_errors=True)


def to_zarr(source, store, chunks=None, client=None, jobs=None, compressor='default',
            iline=DEFAULT_ILINE, xline=DEFAULT_XLINE, offset=DEFAULT_OFFSET, endian=None,
            format=None, strict=True, vertical='time', overwrite=False, progress=None):
    """See segy.to_zarr."""
    if not isinstance(source, string_types):
        raise TypeError('source must be a path (the workers open it by name), not %s'
                        % type(source).__name__)
    if vertical not in ('time', 'depth'):
        raise ValueError("vertical must be 'time' or 'depth', not %r" % (vertical,))
    if jobs == 0:
        jobs = os.cpu_count() or 1
    elif jobs is None:
        jobs = 1
    if isinstance(jobs, bool) or not isinstance(jobs, int) or jobs < 0:
        raise ValueError('jobs=%r: a number of processes (0: one per processor)' % (jobs,))
    compressor = default_compressor() if compressor == 'default' else compressor
    store = _target(store, overwrite)
    temp = '%s.partial-%s' % (store, uuid.uuid4().hex[:12])
    workers = None
    client_stages = zb.Stages()
    try:
        client_stages('plan')
        with open_segy(os.path.abspath(source), endian, format, strict, iline=iline,
                       xline=xline, offset=offset) as f, zb.one_blosc_thread():
            plan = Plan(f, temp, chunks, compressor, vertical)
            client_stages('blocks')
            if client is not None:
                workers = Workers(client)
                results = workers.run(plan, progress)
            elif jobs > 1:
                results = Processes(jobs).run(plan, progress)
            else:
                results = _serial(plan, progress)
            client_stages('finish')
            kept = sum(r[1] for r in results)
            _sweep_partials(temp)
            group = zarr.open_group(temp, mode='r+')
            group.attrs.update(dict(plan.attributes, ibm_words_kept=int(kept)))
            zarr.consolidate_metadata(temp)
            report = {'store': store, 'traces': len(f), 'cells': int(plan.g.grid.size),
                      'missing': int(plan.g.grid.size - len(f)), 'shape': plan.shape,
                      'chunks': plan.chunks, 'blocks': len(plan.blocks),
                      'ibm_words_kept': int(kept), 'source_bytes': os.path.getsize(f.name),
                      'notes': list(f.notes)}
        _close(workers)
        workers = None
        _publish(temp, store, overwrite)
        client_stages(None)
    except BaseException:
        _close(workers)   # before the partial store goes: no worker still writes into it
        if os.path.isdir(temp):
            shutil.rmtree(temp, ignore_errors=True)
        raise
    # Seconds [wall, processor] by stage: the client's plan, its wait for the blocks and its
    # finish; the blocks' own stages (summed over blocks, whichever process ran them).
    report['stages'] = stages = dict((k, v) for k, v in client_stages.seconds.items())
    for r in results:
        zb.add_stages(stages, r[2] if len(r) > 2 else {})
    report['store_bytes'] = zs.store_size(store)
    return report
