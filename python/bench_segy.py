"""SEG-Y speed side by side with segyio, on one IBM big-endian file of 20,000 traces of 1,000
samples (84.8 MB), best of 5 runs of each, in the same run of the same interpreter:

- one header field of every trace: f.attribute('offset') / segyio's f.attributes(offset)[:]
- all traces into one 2-D numpy array: f.to_numpy() / segyio's f.trace.raw[:]
- all traces one by one: f.traces() / the same segyio call
- writing the file from a float32 numpy array with an offset per trace (ours through the safe
  output layer: staged, fsynced, renamed), and with default headers / segyio's create
- segy.convert IBM to IEEE on the signal file, on a file of zeros and on a muted file (traces
  zero but for a tenth of them): no segyio counterpart; the three times should agree.
- a survey of 250 inlines x 400 crosslines (100,000 traces of 250 IBM samples, 124 MB, written
  by write_cube): opening with the geometry (every trace's line numbers read) / segyio reading
  the inline and crossline fields of every trace (f.attributes(189)[:], (193)); one inline,
  one crossline, one gather, one depth slice (each averaged over 20 of them) and the cube /
  segyio's f.iline[n], f.xline[n], f.gather[il, xl], f.depth_slice[k], segyio.tools.cube(f),
  each on a file opened once.

The CPU's vector features and the load average (before and after) are printed with the figures.

Usage: /usr/bin/python3 python/bench_segy.py [TRACES [SAMPLES]]
       /usr/bin/python3 python/bench_segy.py survey      (the survey rows alone)
       /usr/bin/python3 python/bench_segy.py zarr        (the Zarr rows: bench_segy_zarr.py)
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


FEATURES = ('sse4_2', 'avx', 'avx2', 'fma', 'avx512f', 'avx512bw', 'avx512vl')


def cpu_model():
    try:
        with open('/proc/cpuinfo') as f:
            text = f.read()
    except IOError:
        return platform.processor() or 'unknown CPU'
    model = next((line.split(':', 1)[1].strip() for line in text.splitlines()
                  if line.startswith('model name')), 'unknown CPU')
    flags = set(next((line.split(':', 1)[1].split() for line in text.splitlines()
                      if line.startswith('flags')), []))
    return '%s (%s; %s AVX-512)' % (model, ' '.join(f for f in FEATURES if f in flags),
                                    'with' if 'avx512f' in flags else 'without')


def load():
    try:
        return 'load average %.2f %.2f %.2f' % os.getloadavg()
    except (AttributeError, OSError):
        return 'load average unknown'


def per_call(calls, runs=5):
    """The best over `runs` of the mean time of the calls (a list of functions)."""
    return best(lambda: [c() for c in calls], runs)[0] / len(calls)


def survey_rows(directory, inlines=250, crosslines=400, samples=250):
    """The survey rows (see the module docstring)."""
    path = os.path.join(directory, 'survey.sgy')
    wave = make_traces(crosslines, samples)
    cube = numpy.stack([wave * (1.0 + 0.01 * i) for i in range(inlines)])
    segy.write_cube(path, cube, list(range(1001, 1001 + inlines)),
                    list(range(2001, 2001 + crosslines)), 4000)
    del cube
    print('survey: %d inlines x %d crosslines, %d IBM samples, file %.1f MB'
          % (inlines, crosslines, samples, os.path.getsize(path) / 1e6))

    def opened():
        with segy.open(path) as f:
            return f.sorting, len(f.ilines), len(f.xlines)

    def their_fields():
        with segyio.open(path, ignore_geometry=True) as f:
            return f.attributes(189)[:], f.attributes(193)[:]
    ours, got = best(opened)
    assert got == ('inline', inlines, crosslines)
    row('opening with geometry (every line number)', ours, best(their_fields)[0])
    ils = [1001 + inlines * k // 20 for k in range(20)]
    xls = [2001 + crosslines * k // 20 for k in range(20)]
    ks = [samples * k // 20 for k in range(20)]
    with segy.open(path) as f, segyio.open(path) as g:
        assert (f.cube() == segyio.tools.cube(g)).all()
        for name, mine, theirs in (
                ('one inline: f.iline[n]', [lambda n=n: f.iline[n] for n in ils],
                 [lambda n=n: g.iline[n] for n in ils]),
                ('one crossline: f.xline[n]', [lambda n=n: f.xline[n] for n in xls],
                 [lambda n=n: g.xline[n] for n in xls]),
                ('one gather: f.gather[il, xl]', [lambda n=n, x=x: f.gather[n, x]
                                                  for n, x in zip(ils, xls)],
                 [lambda n=n, x=x: g.gather[n, x] for n, x in zip(ils, xls)]),
                ('one depth slice: f.depth_slice[k]', [lambda k=k: f.depth_slice[k] for k in ks],
                 [lambda k=k: g.depth_slice[k] for k in ks]),
                ('the cube: f.cube() / tools.cube(f)', [f.cube], [lambda: segyio.tools.cube(g)])):
            row(name, per_call(mine), per_call(theirs))


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
    """One line of figures: seconds, or milliseconds below a tenth of a second."""
    def shown(t):
        return '%.3f s' % t if t >= 0.1 else '%.3f ms' % (t * 1000)
    if theirs is None:
        print('%-44s ours %s' % (name, shown(ours)))
    else:
        print('%-44s ours %s  segyio %s  ratio ours/segyio %.2fx'
              % (name, shown(ours), shown(theirs), ours / theirs))


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
    if sys.argv[1:] == ['zarr']:
        from bench_segy_zarr import zarr_rows
        directory = tempfile.mkdtemp(prefix='bench-segy-')
        try:
            print('Python %s; %s; segyio %s; %s' % (sys.version.split()[0], cpu_model(),
                                                   segyio.__version__, load()))
            zarr_rows(directory, best, per_call, load)
            print(load())
        finally:
            shutil.rmtree(directory)
        return
    if sys.argv[1:] == ['survey']:
        directory = tempfile.mkdtemp(prefix='bench-segy-')
        try:
            print('Python %s; %s; segyio %s; %s' % (sys.version.split()[0], cpu_model(),
                                                   segyio.__version__, load()))
            survey_rows(directory)
            print(load())
        finally:
            shutil.rmtree(directory)
        return
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    samples = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    directory = tempfile.mkdtemp(prefix='bench-segy-')
    try:
        path = os.path.join(directory, 'bench.sgy')
        data = make_traces(count, samples)
        offsets = [25 * (i % 240) - 3000 for i in range(count)]
        headers = [{'offset': o} for o in offsets]
        segy.write(path, data, 2000, format=1, trace_headers=headers)
        print('%d traces x %d IBM samples, file %.1f MB; Python %s; %s; segyio %s; %s' % (
            count, samples, os.path.getsize(path) / 1e6, sys.version.split()[0], cpu_model(),
            getattr(segyio, '__version__', 'absent') if segyio else 'absent', load()))
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
        for name in ('zeros.sgy', 'muted.sgy', 'out.sgy', 'out.sgy.theirs'):
            os.remove(os.path.join(directory, name))
        if have and numpy is not None:
            survey_rows(directory)
        else:
            print('survey rows skipped: they need segyio and numpy')
        print(load())
    finally:
        shutil.rmtree(directory)


if __name__ == '__main__':
    main()
