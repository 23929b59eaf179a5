"""Archive speed: index, verify and convert of FILES GSE2 files of 10 waveforms each, in one
process, in local worker processes and on a Dask LocalCluster of 2 worker processes (one thread
each); then Dask's fixed cost for one command (verify of one file with and without --scheduler).

Usage: python3 python/bench_archive.py [FILES [SAMPLES]]   (defaults: 2000 files, 1000 samples
a waveform). Each time is the best of 5 runs; the rows compared take turns, so that a change
in the machine's other load falls on all of them. The Dask rows need dask.distributed
(Debian's python3-distributed, for /usr/bin/python3); elsewhere they are left out. The cluster
is started after the local rows and before its timed runs: its start-up (a few seconds) is not
counted, as on a cluster that runs already. Every run's results are compared with the first.
Beside each best time, the processor time of that run (user and system, os.times()): of this
process and of the local worker processes it ended (the Dask workers' is not seen here). The
conversion writes miniSEED (network XX) into a new folder of the same file system each run; its
cost per file is set beside that of verify.
"""
from __future__ import print_function

import multiprocessing
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import wavecodec  # noqa: E402
from wavecodec import archive  # noqa: E402

RUNS = 5


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


def timed(step):
    """(seconds, processor seconds of this process and its ended children, result)."""
    before = os.times()
    start = clock()
    result = step()
    seconds = clock() - start
    after = os.times()
    return seconds, sum(after[:4]) - sum(before[:4]), result


def _converted(out):
    def step(paths, **where):
        target = tempfile.mkdtemp(dir=out)
        try:
            done = archive.convert(paths, target, network='XX', **where)
            return [(r.path, r.waveforms, r.fault) for r in done]
        finally:
            shutil.rmtree(target)
    return step


STEPS = ('index', 'verify', 'convert')


def compare(rows, root, files, reference, out):
    """Index, verify and convert for each (name, where) of `rows`, the rows taking turns RUNS
    times so that a change in the machine's other load falls on all of them; prints the best
    time of each, the first row being the one the others are compared with."""
    steps = (archive.index, archive.verify, _converted(out))
    best = dict((name, [None] * len(steps)) for name, _ in rows)
    for _ in range(RUNS):
        for name, where in rows:
            for k, step in enumerate(steps):
                seconds, cpu, result = timed(lambda: step([root], **where))
                if k not in reference:
                    reference[k] = result
                elif result != reference[k]:
                    raise SystemExit('%s: %s results differ from one process' % (name,
                                                                                   STEPS[k]))
                if best[name][k] is None or seconds < best[name][k][0]:
                    best[name][k] = (seconds, cpu)
    base = best[rows[0][0]]
    for name, _ in rows:
        cells = ''.join('%9.3f %6.2f' % b for b in best[name])
        ratios = '' if name == rows[0][0] else '   ' + '  '.join(
            'x%.2f' % (base[k][0] / best[name][k][0]) for k in range(len(steps)))
        per_file = '  convert/verify x%.1f (%.2f / %.2f ms a file)' % (
            best[name][2][0] / best[name][1][0], 1e3 * best[name][2][0] / files,
            1e3 * best[name][1][0] / files)
        print('%-36s %s%s%s' % (name, cells, ratios, per_file))
    sys.stdout.flush()


def command_seconds(args, runs=3):
    """The best wall time of `python -m wavecodec ARGS` over `runs` runs."""
    env = dict(os.environ)
    env['PYTHONPATH'] = os.path.dirname(os.path.abspath(__file__))
    best = None
    for _ in range(runs):
        start = clock()
        subprocess.check_call([sys.executable, '-m', 'wavecodec'] + args, env=env,
                              stdout=subprocess.DEVNULL, timeout=300)
        seconds = clock() - start
        best = seconds if best is None else min(best, seconds)
    return best


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
        print('load average (1 min) before the runs: %.1f (other work shares the processors)'
              % os.getloadavg()[0])
        print('%-36s %9s %6s %9s %6s %9s %6s   speed-up' % (
            '', 'index s', 'cpu s', 'verify s', 'cpu s', 'convert s', 'cpu s'))
        reference = {}
        out = os.path.join(directory, 'out')
        os.mkdir(out)
        compare([('one process', dict(jobs=1)), ('2 local processes', dict(jobs=2))], root,
                files, reference, out)
        rows = reference[0]
        assert len(rows) == 10 * files and not any(r.fault for r in rows)
        assert all(c.waveforms == 10 and c.error is None for c in reference[1])
        assert all(fault is None for _, _, fault in reference[2])
        # The cluster runs only now: its scheduler and idle workers take a share of the
        # processors, so one process is timed again beside it.
        try:
            import logging
            from distributed import Client, LocalCluster
        except ImportError as e:
            print('Dask rows left out: %s' % e)
            return
        cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                               host='127.0.0.1', dashboard_address=None,
                               worker_dashboard_address=None, silence_logs=logging.ERROR)
        client = Client(cluster)
        compare([('one process (cluster idle beside)', dict(jobs=1)),
                 ('Dask LocalCluster, 2 workers', dict(client=client))], root, files,
                reference, out)
        one = os.path.join(root, 'st00', 'f00000.gse')
        alone = command_seconds(['verify', one])
        dask = command_seconds(['verify', one, '--scheduler', cluster.scheduler_address])
        print('verify of one file as a command: %.2f s alone, %.2f s with --scheduler: Dask '
              'costs %.2f s a command (best of 3)' % (alone, dask, dask - alone))
    finally:
        print('load average (1 min) at the end: %.1f' % os.getloadavg()[0])
        if client is not None:
            client.close()
        if cluster is not None:
            cluster.close()
        shutil.rmtree(directory)


if __name__ == '__main__':
    main()
