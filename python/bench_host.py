"""Host speed: writes and reads back 1,000,000 samples of a seismogram-like signal in CM6.

Usage: python3 python/bench_host.py [SAMPLES]   (reports the best of 5 runs of each step)
Steps: write; read and verify (the whole file: one decoder call, checksum over the array);
read with headers_only=True (data sections passed over undecoded); the same two on a file of
100 waveforms of SAMPLES / 100 each.
Targets on the project machine: write under 0.5 s, read and verify under 0.025 s, headers only
at least 5 times faster than the full read.
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
        head_s, heads = best(lambda: wavecodec.read(path, headers_only=True))
        assert heads[0].header == back[0].header and not heads[0].samples
        size = os.path.getsize(path)
        print('%d samples, file %d bytes (%d lines), Python %s' % (
            n, size, size // 81, sys.version.split()[0]))
        print('write:              %.4f s (target < 0.5 s)' % write_s)
        print('read and verify:    %.4f s (target < 0.025 s)' % read_s)
        print('headers only:       %.4f s (%.1fx faster)' % (head_s, read_s / head_s))
        parts = [wavecodec.Waveform(dict(header, channel='H%02d' % (k % 100)),
                                    wave.samples[k * (n // 100):(k + 1) * (n // 100)])
                 for k in range(100)]
        wavecodec.write(path, parts)
        many_s, _ = best(lambda: wavecodec.read(path, verify=True))
        many_head_s, _ = best(lambda: wavecodec.read(path, headers_only=True))
        print('100 waveforms:      %.4f s read and verify, %.4f s headers only (%.1fx)'
              % (many_s, many_head_s, many_s / many_head_s))
    finally:
        shutil.rmtree(directory)


if __name__ == '__main__':
    main()
