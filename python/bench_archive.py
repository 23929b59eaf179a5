"""Archive speed: index and verify of FILES GSE2 files of 10 waveforms each, in one process,
in local worker processes and on a Dask LocalCluster of 2 worker processes (one thread each).

Usage: python3 python/bench_archive.py [FILES [SAMPLES]]   (defaults 2000 files, 1000 samples
a waveform; the best of 3 runs of each). The Dask rows need dask.distributed (Debian's
python3-distributed, for /usr/bin/python3); elsewhere they are left out. The cluster is started
before the timed runs: its start-up (a few seconds) is not counted, as on a cluster that runs
already. Every run's results are compared with the one-process run.
"""
from __future__ import print_function

import multiprocessing
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import wavecodec  # noqa: E402
from wavecodec import archive  # noqa: E402

RUNS = 3


def clock():
    return time.perf_counter() if hasattr(time, 'perf_counter') else time.time()


def samples(n, seed):
    out = []
    x = seed
    value = 0
    for _ in range(n):
        x = (1103515245 * x + 12345) & 0x7fffffff
        value = int(value * 0.9) + (x >> 8) % 2001 - 1000
        out.append(value)
    return out


def make(root, files, n):
    """FILES files of 10 waveforms (channels of one station), 100 files a folder."""
    base = [samples(n, seed) for seed in range(10)]
    for k in range(files):
        folder = os.path.join(root, 'st%02d' % (k // 100))
        if not os.path.isdir(folder):
            os.makedirs(folder)
        waves = [wavecodec.Waveform(dict(station='S%03d' % (k % 1000), channel='H%02d' % c,
                                         year=2024, month=1, day=1 + k % 28, hour=k % 24,
                                         sample_rate=100.0), base[c][k % 7:] + base[c][:k % 7])
                 for c in range(10)]
        wavecodec.write(os.path.join(folder, 'f%05d.gse' % k), waves)


def best(step):
    times = []
    result = None
    for _ in range(RUNS):
        start = clock()
        result = step()
        times.append(clock() - start)
    return min(times), result


def main():
    files = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    cores = multiprocessing.cpu_count()
    directory = tempfile.mkdtemp(prefix='bench-archive-')
    cluster = client = None
    try:
        root = os.path.join(directory, 'archive')
        start = clock()
        make(root, files, n)
        size = sum(os.path.getsize(os.path.join(d, f)) for d, _, names in os.walk(root)
                   for f in names)
        print('%d files of 10 waveforms x %d samples, %.1f MB, written in %.1f s; Python %s, '
              '%d processors' % (files, n, size / 1e6, clock() - start,
                                 sys.version.split()[0], cores))
        runs = [('one process', dict(jobs=1)), ('2 local processes', dict(jobs=2))]
        try:
            import logging
            from distributed import Client, LocalCluster
            cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                   host='127.0.0.1', dashboard_address=None,
                                   silence_logs=logging.ERROR)
            client = Client(cluster)
            runs.append(('Dask LocalCluster, 2 workers', dict(client=client)))
        except ImportError as e:
            print('Dask rows left out: %s' % e)
        print('%-30s %12s %12s %12s %12s' % ('', 'index s', 'files/s', 'verify s', 'files/s'))
        reference = {}
        for name, where in runs:
            index_s, rows = best(lambda: archive.index([root], **where))
            verify_s, checks = best(lambda: archive.verify([root], **where))
            if not reference:
                reference = dict(index=rows, verify=checks)
                assert len(rows) == 10 * files and not any(r.fault for r in rows)
                assert all(c.waveforms == 10 and c.error is None for c in checks)
            elif (rows, checks) != (reference['index'], reference['verify']):
                raise SystemExit('%s: results differ from one process' % name)
            if name == 'one process':
                base = (index_s, verify_s)
            print('%-30s %12.3f %12.0f %12.3f %12.0f%s' % (
                name, index_s, files / index_s, verify_s, files / verify_s,
                '' if name == 'one process' else '   (x%.2f, x%.2f)' % (base[0] / index_s,
                                                                      base[1] / verify_s)))
    finally:
        if client is not None:
            client.close()
        if cluster is not None:
            cluster.close()
        shutil.rmtree(directory)


if __name__ == '__main__':
    main()
