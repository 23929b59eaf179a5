"""The Zarr rows of bench_segy.py (`bench_segy.py zarr`): a post-stack survey of 400 inlines x
400 crosslines x 480 IBM samples (160,000 traces, 345.6 MB, written by write_cube), in one run:

- serial ingest, segy.to_zarr(jobs=1) / a plain loop of segyio reads of 64 inlines at a time
  assigned to zarr.open(...)[...] with the same chunks and compressor: the traces of 64
  inlines by f.trace.raw[a:b] (segyio's fastest read), and 64 f.iline[n] stacked; / segyio
  reading every trace into one array (f.trace.raw[:]); the same with raw chunks
  (compressor=None), to show what the compression costs;
- 2 local processes (jobs=2: the call starts and closes its LocalCluster, counted) and a
  LocalCluster of 2 workers (started before the clock) / the serial ingest;
- one inline, one crossline and one time slice (each averaged over 10) read from the store
  (zarr: z[i], z[:, j], z[:, :, k]) / from the SEG-Y file (segyio f.iline[n], f.xline[n],
  f.depth_slice[k], the file opened once);
- the store's size against the file's.
Best of RUNS runs of each; the load average is printed before and after.
"""
from __future__ import print_function

import logging
import os
import shutil
import time

import numpy
import segyio
import zarr

from wavecodec import segy
from wavecodec.segy.zarringest import default_compressor

RUNS = 3
clock = time.perf_counter


def shown(t):
    return '%.3f s' % t if t >= 0.1 else '%.3f ms' % (t * 1000)


def row(name, a, b, them='segyio'):
    print('%-46s ours %s  %s %s  ratio %.2fx' % (name, shown(a), them, shown(b), a / b))


def zarr_rows(directory, best, per_call, load, inlines=400, crosslines=400, samples=480):
    path = os.path.join(directory, 'post.sgy')
    t = numpy.linspace(0, 12 * numpy.pi, samples, dtype='f4')
    wave = numpy.sin(t)[None, :] * numpy.linspace(1, 3, crosslines, dtype='f4')[:, None]
    cube = numpy.stack([wave * (1.0 + 0.01 * i) for i in range(inlines)]).astype('f4')
    rng = numpy.random.RandomState(5)
    cube += rng.standard_normal(cube.shape).astype('f4') * numpy.float32(0.05)
    ilines, xlines = list(range(1001, 1001 + inlines)), list(range(2001, 2001 + crosslines))
    segy.write_cube(path, cube, ilines, xlines, 4000)
    del cube
    size = os.path.getsize(path)
    print('zarr: post-stack survey %d inlines x %d crosslines x %d IBM samples, file %.1f MB, '
          'chunks 64x64x64, Blosc lz4 with byte shuffle' % (inlines, crosslines, samples,
                                                             size / 1e6))
    store = os.path.join(directory, 'post.zarr')

    def ours(**where):
        def run():
            shutil.rmtree(store, ignore_errors=True)
            return segy.to_zarr(path, store, **where)
        return run

    def their_loop():
        loop = os.path.join(directory, 'loop.zarr')
        shutil.rmtree(loop, ignore_errors=True)
        z = zarr.open(loop, mode='w', shape=(inlines, crosslines, samples), chunks=(64, 64, 64),
                      dtype='f4', compressor=default_compressor())
        with segyio.open(path) as f:
            for i0 in range(0, inlines, 64):
                i1 = min(i0 + 64, inlines)
                z[i0:i1] = f.trace.raw[i0 * crosslines:i1 * crosslines].reshape(
                    i1 - i0, crosslines, samples)

    def their_lines():
        loop = os.path.join(directory, 'loop.zarr')
        shutil.rmtree(loop, ignore_errors=True)
        z = zarr.open(loop, mode='w', shape=(inlines, crosslines, samples), chunks=(64, 64, 64),
                      dtype='f4', compressor=default_compressor())
        with segyio.open(path) as f:
            for i0 in range(0, inlines, 64):
                z[i0:i0 + 64] = numpy.stack([f.iline[n] for n in ilines[i0:i0 + 64]])

    def their_raw():
        with segyio.open(path, ignore_geometry=True) as f:
            return f.trace.raw[:]

    serial, report = best(ours(jobs=1), RUNS)
    loop = best(their_loop, RUNS)[0]
    lines = best(their_lines, RUNS)[0]
    raw = best(their_raw, RUNS)[0]
    uncompressed = best(ours(jobs=1, compressor=None), RUNS)[0]
    row('ingest, serial / segyio trace.raw loop to zarr', serial, loop)
    row('ingest, serial / segyio f.iline loop to zarr', serial, lines)
    row('ingest, serial / segyio f.trace.raw[:]', serial, raw)
    row('ingest, serial, raw chunks / f.trace.raw[:]', uncompressed, raw)
    print('  (%.0f MB/s serial ingest; %s)' % (size / 1e6 / serial, load()))
    jobs = best(ours(jobs=2), RUNS)[0]
    row('ingest, jobs=2 (cluster start-up in) / serial', jobs, serial, 'serial')
    from distributed import Client, LocalCluster
    started = clock()
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host='127.0.0.1',
                      dashboard_address='127.0.0.1:0', worker_dashboard_address='127.0.0.1:0',
                      silence_logs=logging.ERROR) as cluster, Client(cluster) as client:
        print('  (LocalCluster of 2 workers started in %.1f s; %s)' % (clock() - started,
                                                                       load()))
        on_cluster = best(ours(client=client), RUNS)[0]
    row('ingest, LocalCluster of 2 workers / serial', on_cluster, serial, 'serial')
    print('  (%s)' % load())
    z = zarr.open(store, mode='r')['seismic']
    picks = range(0, inlines, inlines // 10)
    with segyio.open(path) as f:
        assert numpy.array_equal(z[5], f.iline[ilines[5]])
        for name, mine, theirs in (
                ('one inline: z[i] / f.iline[n]', [lambda i=i: z[i] for i in picks],
                 [lambda i=i: f.iline[ilines[i]] for i in picks]),
                ('one crossline: z[:, j] / f.xline[n]', [lambda j=j: z[:, j] for j in picks],
                 [lambda j=j: f.xline[xlines[j]] for j in picks]),
                ('one time slice: z[:, :, k] / f.depth_slice[k]',
                 [lambda k=k: z[:, :, k] for k in range(0, samples, samples // 10)],
                 [lambda k=k: f.depth_slice[k] for k in range(0, samples, samples // 10)])):
            row(name, per_call(mine), per_call(theirs))
    stored = report['store_bytes']
    print('%-44s store %.1f MB, file %.1f MB: %.0f%% of the file'
          % ('size', stored / 1e6, size / 1e6, 100.0 * stored / size))
