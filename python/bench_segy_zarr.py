"""The Zarr rows of bench_segy.py (`bench_segy.py zarr`): a post-stack survey of 400 inlines x
400 crosslines x 480 IBM samples (160,000 traces, 345.6 MB, written by write_cube), in one run.
Every row gives wall-clock and processor time (user + system, the whole process: threads
included); the runs of a row and of its comparison alternate, and each keeps its best wall time
(and the processor time of that run).

- serial ingest, segy.to_zarr(jobs=1), against: a plain loop of segyio reads of 64 inlines at a
  time assigned to zarr.open(...)[...] with the same chunks and zarr's own default compressor
  (zarr 2.13: Blosc lz4, level 5, byte shuffle, the ingest's default too; zarr lets Blosc use
  its threads from the main thread, the ingest uses one, see zarrblocks.one_blosc_thread), the
  traces by f.trace.raw[a:b] (segyio's fastest read) and by 64 f.iline[n] stacked; segyio
  reading every trace into one array (f.trace.raw[:]); the same ingest with raw chunks;
- what every writer of this store pays whatever it reads with: the cube, already in memory,
  assigned to zarr.open(...)[...] (its compression and chunk files), and what the loop's reads
  alone take; the ingest's own stages (report['stages']);
- 2 local processes (jobs=2: the call makes and ends its process pool, counted) and a
  LocalCluster of 2 workers (started before the clock) against the serial ingest;
- for chunks of 64 x 64 x 64 (the default), 16 x 16 x 480 and 1 x 64 x 480: the ingest, the
  store's size and one inline, one crossline and one time slice (mean over 10 of each) read
  from the store by zarr (z[i], z[:, j], z[:, :, k]) and by open_zarr (xarray over dask,
  .values), against the SEG-Y file read by segyio (f.iline[n], f.xline[n], f.depth_slice[k])
  and by this package (segy.open: the same names), each file opened once.
The load average is printed with each group of rows.
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

RUNS = 3
clock = time.perf_counter
SHAPES = [(64, 64, 64), (16, 16, 480), (1, 64, 480)]


def processor():
    t = os.times()
    return t[0] + t[1]   # user + system of this process (threads included)


def shown(t):
    return '%.3f s' % t if t >= 0.1 else '%.3f ms' % (t * 1000)


def alternate(steps, runs=RUNS):
    """{name: (best wall, its processor time, its result)} of `steps` ({name: function}), run
    in turn `runs` times."""
    out = {}
    for _ in range(runs):
        for name, step in steps:
            start, cpu = clock(), processor()
            result = step()
            wall, cpu = clock() - start, processor() - cpu
            if name not in out or wall < out[name][0]:
                out[name] = (wall, cpu, result)
    return out


def row(name, a, b, them):
    print('%-48s ours %s (cpu %s)  %s %s (cpu %s)  wall %.2fx  cpu %.2fx'
          % (name, shown(a[0]), shown(a[1]), them, shown(b[0]), shown(b[1]), a[0] / b[0],
             a[1] / max(b[1], 1e-9)))


def read_row(name, a, b, them):
    print('%-48s ours %s  %s %s  ratio %.2fx' % (name, shown(a), them, shown(b), a / b))


def survey(path, inlines, crosslines, samples):
    t = numpy.linspace(0, 12 * numpy.pi, samples, dtype='f4')
    wave = numpy.sin(t)[None, :] * numpy.linspace(1, 3, crosslines, dtype='f4')[:, None]
    cube = numpy.stack([wave * (1.0 + 0.01 * i) for i in range(inlines)]).astype('f4')
    rng = numpy.random.RandomState(5)
    cube += rng.standard_normal(cube.shape).astype('f4') * numpy.float32(0.05)
    ilines, xlines = list(range(1001, 1001 + inlines)), list(range(2001, 2001 + crosslines))
    segy.write_cube(path, cube, ilines, xlines, 4000)
    return ilines, xlines


def zarr_rows(directory, best, per_call, load, inlines=400, crosslines=400, samples=480):
    path = os.path.join(directory, 'post.sgy')
    ilines, xlines = survey(path, inlines, crosslines, samples)
    size = os.path.getsize(path)
    print('zarr: post-stack survey %d inlines x %d crosslines x %d IBM samples, file %.1f MB, '
          'chunks 64x64x64, Blosc lz4 level 5 with byte shuffle' % (inlines, crosslines, samples,
                                                                   size / 1e6))
    store = os.path.join(directory, 'post.zarr')
    shape = (inlines, crosslines, samples)

    def ours(**where):
        def run():
            shutil.rmtree(store, ignore_errors=True)
            return segy.to_zarr(path, store, **where)
        return run

    def plain_store():
        loop = os.path.join(directory, 'loop.zarr')
        shutil.rmtree(loop, ignore_errors=True)
        return zarr.open(loop, mode='w', shape=shape, chunks=(64, 64, 64), dtype='f4')

    def their_loop():
        z = plain_store()
        with segyio.open(path) as f:
            for i0 in range(0, inlines, 64):
                i1 = min(i0 + 64, inlines)
                z[i0:i1] = f.trace.raw[i0 * crosslines:i1 * crosslines].reshape(
                    i1 - i0, crosslines, samples)

    def their_lines():
        z = plain_store()
        with segyio.open(path) as f:
            for i0 in range(0, inlines, 64):
                z[i0:i0 + 64] = numpy.stack([f.iline[n] for n in ilines[i0:i0 + 64]])

    def their_reads():
        with segyio.open(path) as f:
            for i0 in range(0, inlines, 64):
                f.trace.raw[i0 * crosslines:min(i0 + 64, inlines) * crosslines]

    def their_raw():
        with segyio.open(path, ignore_geometry=True) as f:
            return f.trace.raw[:]

    with segyio.open(path, ignore_geometry=True) as f:
        cube = f.trace.raw[:].reshape(shape)

    def writes_only():
        z = plain_store()
        for i0 in range(0, inlines, 64):
            z[i0:i0 + 64] = cube[i0:i0 + 64]

    print('  (%s)' % load())
    got = alternate([('serial', ours(jobs=1)), ('loop', their_loop), ('lines', their_lines),
                     ('raw', their_raw), ('uncompressed', ours(jobs=1, compressor=None)),
                     ('writes', writes_only), ('reads', their_reads)])
    del cube
    serial = got['serial']
    row('ingest, serial / segyio trace.raw loop to zarr', serial, got['loop'], 'segyio')
    row('ingest, serial / segyio f.iline loop to zarr', serial, got['lines'], 'segyio')
    row('ingest, serial / segyio f.trace.raw[:]', serial, got['raw'], 'segyio')
    row('ingest, serial, raw chunks / f.trace.raw[:]', got['uncompressed'], got['raw'], 'segyio')
    row('floor: the cube in memory into zarr / the loop', got['writes'], got['loop'], 'loop')
    row('the loop\'s segyio reads alone / the loop', got['reads'], got['loop'], 'loop')
    print('  (%.0f MB/s serial ingest; its stages, wall / cpu: %s; %s)'
          % (size / 1e6 / serial[0], ', '.join(
              '%s %.2f / %.2f s' % (k, w, c)
              for k, (w, c) in sorted(serial[2]['stages'].items())), load()))
    # jobs=2 first: with no other thread in this process its workers fork from it
    got = alternate([('serial', ours(jobs=1)), ('jobs', ours(jobs=2))])
    row('ingest, jobs=2 (pool start in) / serial', got['jobs'], got['serial'], 'serial')
    from distributed import Client, LocalCluster
    started = clock()
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host='127.0.0.1',
                      dashboard_address='127.0.0.1:0', worker_dashboard_address='127.0.0.1:0',
                      silence_logs=logging.ERROR) as cluster, Client(cluster) as client:
        print('  (LocalCluster of 2 workers started in %.1f s; %s)' % (clock() - started,
                                                                       load()))
        got = alternate([('serial', ours(jobs=1)), ('cluster', ours(client=client))])
    row('ingest, LocalCluster of 2 workers / serial', got['cluster'], got['serial'], 'serial')
    print('  (cpu: of this process only, the workers\' is theirs; %s)' % load())
    picks = range(0, inlines, inlines // 10)
    slices = range(0, samples, samples // 10)
    with segyio.open(path) as g, segy.open(path) as f:
        files = {}
        for name, fh in (('segyio', g), ('ours', f)):
            files[name] = [per_call([lambda i=i: fh.iline[ilines[i]] for i in picks]),
                           per_call([lambda j=j: fh.xline[xlines[j]] for j in picks]),
                           per_call([lambda k=k: fh.depth_slice[k] for k in slices], 2)]
        for chunks in SHAPES:
            start = clock()
            report = ours(jobs=1, chunks=chunks)()
            took = clock() - start
            z = zarr.open(store, mode='r')['seismic']
            assert numpy.array_equal(z[5], g.iline[ilines[5]])
            ds = segy.open_zarr(store)['seismic']
            mine = {
                'zarr': [per_call([lambda i=i: z[i] for i in picks]),
                         per_call([lambda j=j: z[:, j] for j in picks]),
                         per_call([lambda k=k: z[:, :, k] for k in slices])],
                'open_zarr': [per_call([lambda i=i: ds.isel(inline=i).values for i in picks], 2),
                              per_call([lambda j=j: ds.isel(crossline=j).values
                                        for j in picks], 2),
                              per_call([lambda k=k: ds.isel(time=k).values for k in slices],
                                       2)]}
            print('chunks %s: ingest %.2f s, store %.1f MB (%.0f%% of the file), %d blocks; %s'
                  % ('x'.join(str(c) for c in chunks), took, report['store_bytes'] / 1e6,
                     100.0 * report['store_bytes'] / size, report['blocks'], load()))
            for reader, times in sorted(mine.items()):
                for k, what in enumerate(('one inline', 'one crossline', 'one time slice')):
                    for them in ('segyio', 'ours'):
                        read_row('  %s: %s / %s file' % (what, reader, them), times[k],
                                 files[them][k], them)
