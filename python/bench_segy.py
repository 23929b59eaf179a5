"""SEG-Y reading speed: every trace of an IBM file (20,000 traces of 1,000 samples, 80 MB of
samples) with wavecodec.segy's f.traces(), and with segyio's trace.raw[:] in the same run.

Usage: /usr/bin/python3 python/bench_segy.py [TRACES [SAMPLES]]
(Debian's python3 with python3-segyio and python3-numpy; without segyio only our figure is
printed). Reports the best of 5 runs of each, the file in the page cache; the target is
f.traces() at least as fast as segyio.
"""
from __future__ import print_function

import math
import os
import platform
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from wavecodec import segy  # noqa: E402

try:
    import numpy
    import segyio
except ImportError:
    segyio = None

clock = getattr(time, 'perf_counter', time.time)


def best(step, runs=5):
    times = []
    for _ in range(runs):
        start = clock()
        result = step()
        times.append(clock() - start)
    return min(times), result


def cpu_model():
    try:
        with open('/proc/cpuinfo') as f:
            text = f.read()
    except IOError:
        return platform.processor() or 'unknown CPU'
    model = next((line.split(':', 1)[1].strip() for line in text.splitlines()
                  if line.startswith('model name')), 'unknown CPU')
    return '%s, %s AVX-512' % (model, 'with' if ' avx512f' in text else 'without')


def make_traces(count, samples):
    """Decaying wavelets of varying frequency: values of every magnitude IBM files carry."""
    base = [math.exp(-j / 300.0) * math.sin(j / (3.0 + (j % 7))) * 1000.0
            for j in range(samples)]
    for i in range(count):
        scale = 1.0 + (i % 97) / 13.0
        yield [v * scale for v in base]


def read_ours(path):
    total = 0
    with segy.open(path) as f:
        for values in f.traces():
            total += len(values)
    return total


def read_segyio(path):
    with segyio.open(path, ignore_geometry=True) as f:
        return f.trace.raw[:].size


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    samples = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    directory = tempfile.mkdtemp(prefix='bench-segy-')
    try:
        path = os.path.join(directory, 'bench.sgy')
        segy.write(path, make_traces(count, samples), 2000, format=1)
        print('%d traces x %d IBM samples, file %.1f MB; Python %s; %s' % (
            count, samples, os.path.getsize(path) / 1e6, sys.version.split()[0], cpu_model()))
        ours, total = best(lambda: read_ours(path))
        assert total == count * samples
        print('wavecodec.segy f.traces(): %.3f s' % ours)
        if segyio is None:
            print("segyio's trace.raw[:]:     SKIPPED (segyio is absent for this Python; run "
                  "with Debian's /usr/bin/python3 after apt-get install python3-segyio)")
            return
        theirs, total = best(lambda: read_segyio(path))
        assert total == count * samples
        print("segyio trace.raw[:]:       %.3f s (segyio %s, numpy %s)"
              % (theirs, getattr(segyio, '__version__', '?'), numpy.__version__))
        print('ratio: %.2fx segyio\'s speed (target: at least 1.00x)' % (theirs / ours))
    finally:
        shutil.rmtree(directory)


if __name__ == '__main__':
    main()
