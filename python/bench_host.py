"""Host speed: writes and reads back 1,000,000 samples of a seismogram-like signal in CM6.

Usage: python3 python/bench_host.py [SAMPLES]   (reports the best of 5 runs of each step)
Steps: write; read and verify (the whole file: one decoder call, checksum over the array);
read with headers_only=True (data sections passed over undecoded); the same two on a file of
100 waveforms of SAMPLES / 100 each; then, when libmseedio is built, the conversions both ways
(GSE2 file to Steim-2 miniSEED file, and back) against the GSE2 read.
Targets on the project machine: write under 0.5 s, read and verify under 0.025 s, headers only
at least 5 times faster than the full read, each conversion at most 3 times the GSE2 read.
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


def dict_wave(wave):
    """The benchmark waveform with an STA2 network, as miniSEED needs one."""
    return wavecodec.Waveform(wave.header, wave.samples, sta2={'network': 'XX'})


def miniseed(gse_path, mseed_path, read_s, wave):
    """Times GSE2 -> miniSEED and miniSEED -> GSE2, whole files, against the GSE2 read."""
    from wavecodec import mseed
    try:
        from wavecodec.mseed import shim
        shim.library()
    except wavecodec.LibraryNotFoundError as e:
        print('miniSEED:           SKIPPED (%s)' % str(e).split(';')[0])
        return
    back_path = gse_path + '.back.gse'

    def to_mseed():
        mseed.write(mseed_path, wavecodec.read(gse_path))

    def to_gse2():
        wavecodec.write(back_path, mseed.read(mseed_path))

    to_s, _ = best(to_mseed)
    with_network = dict_wave(wave)
    write_s, _ = best(lambda: mseed.write(mseed_path, [with_network]))
    mread_s, back = best(lambda: mseed.read(mseed_path))
    assert back[0].samples == wave.samples
    from_s, _ = best(to_gse2)
    assert wavecodec.read(back_path)[0].samples == wave.samples
    print('miniSEED (Steim-2, 4096-byte records, file %d bytes):' % os.path.getsize(mseed_path))
    print('  GSE2 -> miniSEED: %.4f s (%.1fx the GSE2 read; target <= 3x); miniSEED write '
          'alone %.4f s' % (to_s, to_s / read_s, write_s))
    print('  miniSEED -> GSE2: %.4f s (%.1fx the GSE2 read; target <= 3x); miniSEED read '
          'alone %.4f s' % (from_s, from_s / read_s, mread_s))


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
        wavecodec.write(path, [dict_wave(wave)])
        miniseed(path, os.path.join(directory, 'bench.mseed'), read_s, wave)
    finally:
        shutil.rmtree(directory)


if __name__ == '__main__':
    main()
