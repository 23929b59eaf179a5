"""Host speed: writes and reads back 1,000,000 samples of a seismogram-like signal in CM6.

Usage: python3 python/bench_host.py [SAMPLES]   (reports the best of 5 runs of each step)
Targets on the project machine: write under 0.5 s, read and verify under 1 s.
"""
from __future__ import print_function

import math
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import wavecodec  # noqa: E402


def realistic(n, rate=100.0):
    """Noise, a microseism and decaying event wavelets every 200 s; counts up to ~1e5."""
    out = []
    x = 12345
    smooth = 0.0
    for i in range(n):
        x = (1103515245 * x + 12345) & 0x7fffffff
        smooth = 0.9 * smooth + 0.1 * ((x >> 8) % 2001 - 1000)
        t = i / rate
        v = 8.0 * smooth + 300.0 * math.sin(0.4 * math.pi * t)
        dt = t % 200.0 - 50.0
        if dt > 0:
            v += 80000.0 * math.exp(-dt / 8.0) * math.sin(2 * math.pi * 2.0 * dt)
        out.append(int(v))
    return out


def best(step, runs=5):
    times = []
    for _ in range(runs):
        start = time.perf_counter() if hasattr(time, 'perf_counter') else time.time()
        result = step()
        times.append((time.perf_counter() if hasattr(time, 'perf_counter') else time.time())
                     - start)
    return min(times), result


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 1000000
    header = dict(station='BENCH', channel='HHZ', year=2024, month=1, day=1, sample_rate=100.0)
    wave = wavecodec.Waveform(header, realistic(n))
    directory = tempfile.mkdtemp(prefix='bench-host-')
    try:
        path = os.path.join(directory, 'bench.gse')
        wavecodec.load_wavecodec()
        write_s, _ = best(lambda: wavecodec.write(path, [wave]))
        read_s, back = best(lambda: wavecodec.read(path, verify=True))
        assert back[0].samples == wave.samples and back[0].ok
        size = os.path.getsize(path)
        print('%d samples, file %d bytes (%d lines), Python %s' % (
            n, size, size // 81, sys.version.split()[0]))
        print('write:           %.3f s (target < 0.5 s)' % write_s)
        print('read and verify: %.3f s (target < 1 s)' % read_s)
    finally:
        shutil.rmtree(directory)


if __name__ == '__main__':
    main()
