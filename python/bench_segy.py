"""SEG-Y speed side by side with segyio, on one IBM big-endian file of 20,000 traces of 1,000
samples (84.8 MB), best of 5 runs of each, in the same run of the same interpreter:

- one header field of every trace: f.attribute('offset') / segyio's f.attributes(offset)[:]
- all traces into one 2-D numpy array: f.to_numpy() / segyio's f.trace.raw[:]
- all traces one by one: f.traces() / the same segyio call
- writing the file from a float32 numpy array with an offset per trace (ours through the safe
  output layer: staged, fsynced, renamed), and with default headers / segyio's create
- segy.convert IBM to IEEE on the signal file, on a file of zeros and on a muted file (traces
  zero but for a tenth of them): no segyio counterpart; the three times should agree.

Usage: /usr/bin/python3 python/bench_segy.py [TRACES [SAMPLES]]
(Debian's python3 with python3-segyio and python3-numpy; without them only our figures are
printed, those that need numpy skipped).
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
except ImportError:
    numpy = None
try:
    import segyio
except ImportError:
    segyio = None

clock = getattr(time, 'perf_counter', time.time)


def best(step, runs=5):
    times = []
    result = None
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
    if numpy is not None:
        scale = 1.0 + (numpy.arange(count) % 97) / 13.0
        return (scale[:, None] * numpy.array(base)[None, :]).astype('f4')
    return [[v * (1.0 + (i % 97) / 13.0) for v in base] for i in range(count)]


def read_ours(path):
    total = 0
    with segy.open(path) as f:
        for values in f.traces():
            total += len(values)
    return total


def row(name, ours, theirs=None):
    if theirs is None:
        print('%-44s ours %.3f s' % (name, ours))
    else:
        print('%-44s ours %.3f s  segyio %.3f s  ratio ours/segyio %.2fx'
              % (name, ours, theirs, ours / theirs))


def segyio_write(path, data, offsets):
    layout = segyio.spec()
    layout.format = 1
    layout.samples = list(range(data.shape[1]))
    layout.tracecount = data.shape[0]
    layout.endian = 'big'
    with segyio.create(path, layout) as f:
        f.bin.update({segyio.BinField.Interval: 2000, segyio.BinField.Samples: data.shape[1],
                      segyio.BinField.Format: 1})
        if offsets is not None:
            for i, o in enumerate(offsets):
                f.header[i] = {segyio.TraceField.offset: o}
        f.trace = data


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    samples = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    directory = tempfile.mkdtemp(prefix='bench-segy-')
    try:
        path = os.path.join(directory, 'bench.sgy')
        data = make_traces(count, samples)
        offsets = [25 * (i % 240) - 3000 for i in range(count)]
        headers = [{'offset': o} for o in offsets]
        segy.write(path, data, 2000, format=1, trace_headers=headers)
        print('%d traces x %d IBM samples, file %.1f MB; Python %s; %s; segyio %s' % (
            count, samples, os.path.getsize(path) / 1e6, sys.version.split()[0], cpu_model(),
            getattr(segyio, '__version__', 'absent') if segyio else 'absent'))
        have = segyio is not None

        def field():
            with segy.open(path) as f:
                return f.attribute('offset')

        def their_field():
            with segyio.open(path, ignore_geometry=True) as f:
                return f.attributes(segyio.TraceField.offset)[:]
        ours, got = best(field)
        assert list(got) == offsets
        row('one header field of every trace', ours, best(their_field)[0] if have else None)

        def their_raw():
            with segyio.open(path, ignore_geometry=True) as f:
                return f.trace.raw[:]
        if numpy is not None:
            def to_numpy():
                with segy.open(path) as f:
                    return f.to_numpy()
            ours, got = best(to_numpy)
            assert got.shape == (count, samples)
            if have:
                theirs, raw = best(their_raw)
                assert (raw == got).all()
            row('all traces into one 2-D array', ours, theirs if have else None)
        ours, total = best(lambda: read_ours(path))
        assert total == count * samples
        row('all traces one by one (f.traces())', ours, theirs if have else None)

        out = os.path.join(directory, 'out.sgy')
        ours = best(lambda: segy.write(out, data, 2000, format=1, trace_headers=headers))[0]
        theirs = best(lambda: segyio_write(out + '.theirs', data, offsets))[0] if have else None
        row('writing, an offset per trace', ours, theirs)
        ours = best(lambda: segy.write(out, data, 2000, format=1))[0]
        theirs = best(lambda: segyio_write(out + '.theirs', data, None))[0] if have else None
        row('writing, default headers', ours, theirs)

        zeros = os.path.join(directory, 'zeros.sgy')
        muted = os.path.join(directory, 'muted.sgy')
        if numpy is not None:
            segy.write(zeros, numpy.zeros_like(data), 2000, format=1)
            quiet = data.copy()
            quiet[numpy.arange(count) % 10 != 0] = 0
            segy.write(muted, quiet, 2000, format=1)
        else:
            segy.write(zeros, [[0.0] * samples] * count, 2000, format=1)
            segy.write(muted, [t if i % 10 == 0 else [0.0] * samples
                               for i, t in enumerate(data)], 2000, format=1)
        for name, source in (('signal', path), ('zeros', zeros), ('muted', muted)):
            ours = best(lambda: segy.convert(source, out, 'ieee'), runs=3)[0]
            row('segy.convert IBM to IEEE, %s' % name, ours)
    finally:
        shutil.rmtree(directory)


if __name__ == '__main__':
    main()
