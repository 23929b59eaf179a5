"""SEG-Y surveys to Zarr and back, checked against segyio (an independent SEG-Y library used as a
test client) and against themselves on Dask:
- one table of segyio-written surveys (post- and pre-stack, both sortings, formats 1, 2, 3, 5 and 8,
  both byte orders, holes, 2-D lines, hand-made IBM words no float32 holds, chunks of several
  Blosc blocks, cut short at every edge or empty) comes back byte for byte; the store holds
  segyio's samples and headers, each chunk the bytes zarr writes for the same values;
- other formats and byte orders: equal to segy.convert's output, read alike by segyio;
- the same store, byte for byte, from a serial run, 2 local processes (one killed) and a
  LocalCluster on 127.0.0.1 whose worker is killed; a block that kills every worker or process
  fails the ingest and leaves no store; the commands' round trip, refusals and exit codes.
Needs Debian's /usr/bin/python3 (python3-segyio, -zarr, -numcodecs, -dask, -distributed,
-xarray), as scripts/ci/python.sh runs it; skipped elsewhere. Cluster calls are bounded (within()).
"""
import logging
import os
import shutil
import signal
import struct
import sys
import threading
import unittest


from .helpers import PYTHON_DIR, TempDirCase, run, run_cli
from wavecodec import segy
from wavecodec.errors import FormatError

try:
    import dask
    import numpy
    import segyio
    import xarray  # noqa: F401 - open_zarr needs it
    import zarr  # noqa: F401 - to_zarr needs it
    from distributed import Client, LocalCluster
    from distributed.diagnostics.plugin import WorkerPlugin
except ImportError as e:  # pragma: no cover - depends on the interpreter
    MISSING = ("segyio, zarr, xarray or Dask is absent here (%s): these checks need Debian's "
               'python3-segyio, -zarr, -numcodecs, -xarray, -dask and -distributed under '
               '/usr/bin/python3' % e)
    WorkerPlugin = object
else:
    MISSING = None

LIMIT = 120   # seconds any one cluster call may take
DTYPES = {1: 'f4', 2: 'i4', 3: 'i2', 5: 'f4', 8: 'i1'}
INTEGERS = {2: 'i4', 3: 'i2', 8: 'i1'}


def within(test, step):
    """step() in a thread; the test fails when it has no result within LIMIT seconds."""
    box = []

    def run():
        try:
            box.append((True, step()))
        except BaseException as e:  # noqa: B902 - handed back to the test
            box.append((False, e))

    thread = threading.Thread(target=run)
    thread.daemon = True
    thread.start()
    thread.join(LIMIT)
    if not box:
        test.fail('no result from the cluster within %d s' % LIMIT)
    ok, value = box[0]
    if not ok:
        raise value
    return value


def cells(ilines, xlines, offsets, sorting, holes=()):
    order = ([(i, x, o) for i in ilines for x in xlines for o in offsets] if sorting == 'inline'
             else [(i, x, o) for x in xlines for i in ilines for o in offsets])
    return [c for c in order if c not in holes]


def their_survey(path, where, fmt, endian, samples=24, seed=0):
    """A survey written by segyio: `where` (inline, crossline, offset) per trace in file order;
    a few header fields vary, others are constant. Returns the samples."""
    rng = numpy.random.RandomState(seed)
    if fmt in INTEGERS:
        bits = 8 * numpy.dtype(INTEGERS[fmt]).itemsize
        data = rng.randint(-2 ** (bits - 1), 2 ** (bits - 1) - 1, (len(where), samples),
                           dtype='i8').astype(INTEGERS[fmt])
    else:
        data = (rng.randint(-2 ** 20, 2 ** 20, (len(where), samples)) / 8.0).astype('f4')
    layout = segyio.spec()
    layout.format, layout.samples, layout.tracecount = fmt, list(range(samples)), len(where)
    layout.endian = endian
    with segyio.create(path, layout) as f:
        f.bin.update({segyio.BinField.Interval: 2000, segyio.BinField.Samples: samples,
                      segyio.BinField.Format: fmt})
        for t, (il, xl, off) in enumerate(where):
            f.header[t] = {189: il, 193: xl, 37: off, 21: 1000 + t, 117: 2000, 115: samples,
                           73: int(rng.randint(-10 ** 6, 10 ** 6)), 71: -100, 109: 40}
            f.trace[t] = data[t]
    return data


def plant_ibm_words(path, endian, trace_bytes, data):
    """IBM words written over samples of traces 0 and 1 (`data` gets their float32 values):
    five that no float32 gives back (an unnormalized word, a zero with an exponent, beyond the
    float32 range both ways and negative) and a negative zero, which float32 holds. Returns 5."""
    words = [0x41010000, 0x42000000, 0x80000000, 0x7f123456, 0x01123456, 0xff7fffff]
    values = [0.0625, 0.0, -0.0, numpy.inf, 0.0, -numpy.inf]
    with open(path, 'r+b') as f:
        for k, w in enumerate(words):
            f.seek(3600 + (k % 2) * trace_bytes + 240 + 4 * (3 + k))
            f.write(struct.pack('>I' if endian == 'big' else '<I', w))
            data[k % 2, 3 + k] = values[k]
    return len(words) - 1


EVERY = [(s, f, e) for s in ('inline', 'crossline') for f in (1, 2, 5)
         for e in ('big', 'little')]
HOLES = tuple((i, x, 0) for i in (1, 2) for x in (1, 2, 3)) + ((5, 7, 0), (6, 4, 0))
# name, inlines, crosslines, offsets, holes, chunks (two: a 2-D line), samples, and the (sorting,
# format, byte order) of each file. Chunks cut every axis and leave partial chunks at the ends;
# the single rows: chunks of several Blosc blocks, a chunk with no trace at all, line numbers
# falling in the file, offsets in two chunks, 16- and 8-bit samples.
ROWS = [
    ('post-stack', [1, 2, 3, 4, 5], [10, 12, 14, 16, 18, 20, 22], [0], (), (2, 3, 8), 24, EVERY),
    ('pre-stack', [3, 4, 5], [7, 8, 9, 10, 11], [100, 200, 300], (), (2, 3, 2, 8), 24, EVERY),
    ('post-stack with holes', [1, 2, 3, 4], [5, 6, 7, 8, 9], [0],
     ((1, 5, 0), (3, 7, 0), (4, 9, 0), (2, 6, 0)), (2, 3, 8), 24, EVERY),
    ('pre-stack with holes', [1, 2, 3], [20, 21, 22, 23], [0, 50],
     ((1, 20, 0), (1, 20, 50), (2, 22, 50), (3, 23, 0)), (2, 3, 2, 8), 24, EVERY),
    ('2-D line', [1], list(range(11)), [0], (), (3, 8), 24, EVERY[:6]),
    ('1 MiB chunks', list(range(1, 65)), list(range(1, 71)), [0], (), (64, 64, 64), 128,
     [('inline', 5, 'big')]),
    ('an empty chunk', list(range(1, 7)), list(range(1, 8)), [0], HOLES, (2, 3, 8), 24,
     [('crossline', 1, 'little')]),
    ('line numbers falling', list(range(9, 0, -1)), list(range(30, 20, -2)), [0], (), (4, 3, 8),
     20, [('inline', 2, 'big')]),
    ('pre-stack int16', [3, 4, 5], [1, 2, 3, 4], [10, 20, 30], ((4, 2, 20),), (2, 3, 2, 8), 16,
     [('inline', 3, 'little')]),
    ('2-D line of int8', [1], list(range(13)), [0], (), (4, 8), 12, [('inline', 8, 'big')]),
]
STAGES = {'plan', 'blocks', 'finish', 'open', 'read', 'encode', 'write', 'headers'}


def killing_survey(path):
    """The survey the differential runs ingest: pre-stack, crossline-sorted, IBM words kept."""
    data = their_survey(path, cells([1, 2, 3, 4, 5, 6, 7], [1, 2, 3, 4, 5], [10, 20],
                                    'crossline', ((2, 2, 10), (5, 4, 20))), 1, 'little')
    plant_ibm_words(path, 'little', 240 + 4 * 24, data)


class Killer(WorkerPlugin):
    """On the worker: the first ingest task to start after `after` others kills its process
    (leaving `marker`, so that only one dies); with marker None every such task does."""

    def __init__(self, marker, after=2):
        self.marker, self.after, self.seen = marker, after, 0

    def transition(self, key, start, finish, **kwargs):
        if finish == 'executing' and str(key).startswith('segy-to-zarr'):
            self.seen += 1
            if self.seen > self.after and not (self.marker and os.path.exists(self.marker)):
                if self.marker:
                    open(self.marker, 'w').close()
                os.kill(os.getpid(), signal.SIGKILL)


def garble(path):
    with open(path, 'r+b') as f:
        f.write(b'\xff' * 64)


def tree(root, chunks=False):
    """{relative path: bytes} of every file under `root` (chunks: not the metadata)."""
    out = {}
    for folder, _, names in os.walk(root):
        for name in names:
            if not (chunks and name.startswith('.')):
                with open(os.path.join(folder, name), 'rb') as f:
                    out[os.path.relpath(f.name, root)] = f.read()
    return out


@unittest.skipIf(MISSING, MISSING)
class RoundTrips(TempDirCase):
    def check_store(self, store, src, endian, where, data, two_d, prestack, fmt, what):
        """The store holds what segyio wrote (samples per cell, the fill value in the holes);
        once a grid (fmt None: not through xarray), open_zarr's view of it and a header field;
        each chunk is the bytes zarr writes for the same values (its fill value past the edges,
        one Blosc thread)."""
        from wavecodec.segy import zarrblocks
        group, ref = zarr.open_group(store, mode='r'), self.path('ref')
        kept = [k for k in range(3) if (k == 1 or not two_d) and (k < 2 or prestack)]
        axes = [sorted(set(c[k] for c in where)) for k in range(3)]
        seismic = group['seismic']
        expected = numpy.full(seismic.shape, seismic.fill_value, seismic.dtype)
        source_x = numpy.zeros(seismic.shape[:-1], 'i4')
        with segyio.open(src, ignore_geometry=True, endian=endian) as f:
            for t, c in enumerate(where):
                cell = tuple(axes[k].index(c[k]) for k in kept)
                expected[cell], source_x[cell] = data[t], f.header[t][73]
        self.assertTrue(numpy.array_equal(seismic[...], expected, equal_nan=True), what)
        if fmt is not None:
            ds = segy.open_zarr(store)
            for k, axis in enumerate(('inline', 'crossline', 'offset')[:3 if prestack else 2]):
                self.assertEqual(ds[axis].values.tolist(), axes[k], what)
            self.assertEqual(ds['seismic'].values.dtype, numpy.dtype(DTYPES[fmt]), what)
            self.assertTrue(numpy.array_equal(ds['seismic'].values, expected, equal_nan=True))
            self.assertEqual(int(ds['live'].values.sum()), len(where), what)
            self.assertEqual(ds.attrs['headers_constant']['coordinate_scalar'], -100, what)
            self.assertTrue(numpy.array_equal(ds['header_source_x'].values, source_x), what)
            return
        with zarrblocks.one_blosc_thread():
            for path in ['seismic', 'live', 'trace_index'] + \
                    ['headers/' + h for h in group['headers'].array_keys()]:
                a = group[path]
                zarr.open_array(os.path.join(ref, path), mode='w', shape=a.shape, chunks=a.chunks,
                                dtype=a.dtype, fill_value=a.fill_value,
                                compressor=a.compressor)[...] = a[...]
                ours, theirs = tree(os.path.join(store, path), True), tree(os.path.join(ref, path),
                                                                           True)
                self.assertEqual(sorted(k for k in set(ours) | set(theirs)
                                        if ours.get(k) != theirs.get(k)), [], (what, path))
        shutil.rmtree(ref)

    def test_segyio_surveys_come_back_byte_for_byte(self):
        row = 0
        for name, ils, xls, offs, holes, chunks, samples, files in ROWS:
            two_d, prestack = len(chunks) == 2, len(offs) > 1
            # A 2-D line: its traces numbered by cdp (21), which their_survey counts from 1000.
            options = dict(iline=None, xline='cdp') if two_d else {}
            for sorting, fmt, endian in files:
                row += 1
                what = '%s %s-sorted format %d %s-endian' % (name, sorting, fmt, endian)
                where = cells(ils, xls, offs, sorting, holes)
                src, store = self.path('s%d.sgy' % row), self.path('s%d.zarr' % row)
                data = their_survey(src, where, fmt, endian, samples, seed=row)
                if two_d:
                    where = [(1, 1000 + t, 0) for t in range(len(where))]
                # IBM words no float32 holds, at the same place as a sample of data
                planted = plant_ibm_words(src, endian, 240 + 4 * samples, data) if fmt == 1 \
                    else 0
                if fmt != 1:   # segyio writes little-endian 16-bit samples with each pair
                    # swapped, and reads the file as it is: the values as it reads them back
                    with segyio.open(src, ignore_geometry=True, endian=endian) as f:
                        data = f.trace.raw[:]
                report = segy.to_zarr(src, store, chunks=chunks, **options)
                self.assertEqual((report['missing'], report['ibm_words_kept']),
                                 (len(holes), planted), what)
                self.assertTrue(STAGES <= set(report['stages']), what)
                if row % 6 == 1 and not two_d or len(files) == 1:   # once a grid, each single
                    self.check_store(store, src, endian, where, data, two_d, prestack,
                                     None if len(files) == 1 else fmt, what)
                back = segy.from_zarr(store, self.path('b%d.sgy' % row))
                self.assertEqual((back['changed'], self.read_bytes('b%d.sgy' % row)),
                                 ([], self.read_bytes('s%d.sgy' % row)), what)

    def test_other_formats_and_byte_orders(self):
        where = cells([1, 2, 3], [4, 5, 6], [0], 'crossline', ((2, 5, 0),))
        src = self.path('a.sgy')
        data = their_survey(src, where, 1, 'big')
        store = self.path('a.zarr')
        segy.to_zarr(src, store, chunks=(2, 2, 8))
        # IBM -> IEEE equals segy.convert's output (every byte but the samples and format).
        segy.from_zarr(store, self.path('ieee.sgy'), format=5)
        segy.convert(src, self.path('convert.sgy'), 'ieee')
        self.assertEqual(self.read_bytes('ieee.sgy'), self.read_bytes('convert.sgy'))
        # With IBM words no float32 holds: their float32 values, and the report says so.
        plant_ibm_words(src, 'big', 240 + 4 * 24, data.copy())
        segy.to_zarr(src, self.path('w.zarr'), chunks=(2, 2, 8))
        report = segy.from_zarr(self.path('w.zarr'), self.path('w.sgy'), format=5)
        self.assertEqual(report['changed'][1:], ['5 IBM words that no float32 holds exactly '
                                                 'are written as their float32 values'])
        # Little-endian: segyio reads the same headers and samples.
        report = segy.from_zarr(store, self.path('little.sgy'), endian='little')
        self.assertTrue(report['changed'])
        with segyio.open(self.path('little.sgy'), ignore_geometry=True, endian='little') as f, \
                segyio.open(src, ignore_geometry=True) as g:
            self.assertEqual([dict(h) for h in f.header], [dict(h) for h in g.header])
            self.assertTrue(numpy.array_equal(f.trace.raw[:], data))
        # A format that cannot hold the samples: refused, naming the trace; nothing written.
        with self.assertRaises(FormatError) as caught:
            segy.from_zarr(store, self.path('int16.sgy'), format=3)
        self.assertIn('trace', str(caught.exception))
        self.assertFalse(os.path.exists(self.path('int16.sgy')))

    def test_failed_ingest_leaves_no_store(self):
        where = cells([1, 2, 3], [4, 5, 6], [0], 'inline')
        src = self.path('bad.sgy')
        their_survey(src, where, 5, 'big')
        # The second block fails after the first was written (a file damaged under the run).
        from wavecodec.segy import zarrblocks
        ingest, calls = zarrblocks.ingest_block, []

        def failing(job, block, grid):
            calls.append(block)
            if len(calls) == 2:
                raise FormatError('bad.sgy: trace 3 is cut short')
            return ingest(job, block, grid)
        zarrblocks.ingest_block = failing
        try:
            with self.assertRaises(FormatError):
                segy.to_zarr(src, self.path('bad.zarr'), chunks=(1, 3, 8))
        finally:
            zarrblocks.ingest_block = ingest
        self.assertEqual(len(calls), 2)
        self.assertEqual(self.leftovers(), ['bad.sgy'])
        os.mkdir(self.path('taken.zarr'))   # a folder that is no store is not replaced either
        self.assertRaises(IOError, segy.to_zarr, self.path('bad.sgy'), self.path('taken.zarr'))

    def test_stores_of_both_layouts_read_and_others_are_refused(self):
        src, store = self.path('s.sgy'), self.path('s.zarr')
        their_survey(src, cells(range(1, 7), range(1, 8), [0], 'crossline', HOLES), 1, 'little')
        segy.to_zarr(src, store, chunks=(2, 3, 8))
        group = zarr.open_group(store, mode='r+')
        # Layout 1: the arrays of cells chunked like the seismic's cells.
        cell_chunks = group['seismic'].chunks[:-1]
        for path in ['live', 'trace_index'] + ['headers/' + h for h in
                                               group['headers'].array_keys()]:
            a = group[path]
            values, attrs = a[...], a.attrs.asdict()
            b = group.create_dataset(path, shape=a.shape, dtype=a.dtype, fill_value=a.fill_value,
                                     chunks=cell_chunks + a.chunks[len(cell_chunks):],
                                     compressor=a.compressor, overwrite=True)
            b[...] = values
            b.attrs.update(attrs)
        for layout in (1, 2, 3, None):
            if layout is None:
                del group.attrs['wavecodec_segy_store']
            else:
                group.attrs['wavecodec_segy_store'] = layout
            zarr.consolidate_metadata(store)
            if layout not in (1, 2):
                self.assertRaises(FormatError, segy.open_zarr, store)
                continue
            segy.from_zarr(store, self.path('back%d.sgy' % layout))
            self.assertEqual(self.read_bytes('back%d.sgy' % layout), self.read_bytes('s.sgy'))
            self.assertEqual(int(segy.open_zarr(store)['live'].values.sum()), 34, layout)

    def test_a_block_refuses_a_file_changed_since_the_plan(self):
        from wavecodec.segy import zarrblocks
        from wavecodec.segy.zarringest import Plan, default_compressor
        src = self.path('s.sgy')
        for k, change in enumerate(('appended', 'touched')):
            their_survey(src, cells([1, 2, 3], [4, 5], [0], 'inline'), 5, 'big')
            with segy.open(src) as f:
                plan = Plan(f, self.path('p%d.zarr' % k), (2, 2, 8), default_compressor(), 'time')
            if change == 'appended':
                with open(src, 'ab') as f:
                    f.write(b'\0' * 4)
            else:
                os.utime(src, ns=(0, os.stat(src).st_mtime_ns + 10 ** 9))
            with self.assertRaises(FormatError) as caught:
                zarrblocks.ingest_block(plan.job, plan.blocks[0], plan.grid(plan.blocks[0]))
            self.assertIn('changed since the ingest was planned', str(caught.exception), change)

    def test_even_steps(self):
        from wavecodec.segy.zarrblocks import even_steps
        grid = numpy.arange(60).reshape(3, 4, 5)
        for sub, steps in ((grid, (20, 5, 1)), (grid[::-1, ::-2], (-20, -10, 1)),
                           (grid.transpose(1, 0, 2), (5, 20, 1)), (grid[:1, :1, :1], (0, 0, 0)),
                           (grid[:, 1:2, 2:3], (20, 0, 0)),
                           (grid.reshape(-1)[numpy.random.RandomState(1).permutation(60)]
                            .reshape(3, 4, 5), None), (grid[[0, 2, 1]], None)):
            self.assertEqual(even_steps(numpy.ascontiguousarray(sub)), steps, sub.shape)

    def test_the_blocks_of_a_killed_local_process_run_again(self):
        src = self.path('p.sgy')
        killing_survey(src)
        segy.to_zarr(src, self.path('serial.zarr'), chunks=(2, 1, 2, 8))
        env = dict(os.environ, PYTHONPATH=PYTHON_DIR + os.pathsep + os.environ.get('PYTHONPATH',
                                                                                  ''))
        for every, status in (('once', 0), ('every', 3)):
            marker = self.path('killed-' + every)
            code, out, err = run([sys.executable, '-c', KILLING, src, self.path(every + '.zarr'),
                                  marker, every], timeout=LIMIT, env=env)
            self.assertEqual(code, status, (every, out, err))
            self.assertTrue(os.path.exists(marker), every)   # a process died mid-run
        self.assertEqual(tree(self.path('once.zarr')), tree(self.path('serial.zarr')))
        self.assertIn(b'block (0, 7, 1, 2): the local process running it died 5 times', out)
        self.assertEqual(sorted(self.leftovers()), ['killed-every', 'killed-once', 'once.zarr',
                                                    'p.sgy', 'serial.zarr'])

    def test_commands(self):
        src = self.path('c.sgy')
        their_survey(src, cells([1, 2], [3, 4, 5], [0, 9], 'inline'), 5, 'little')
        store = self.path('c.zarr')
        status, out, err = run_cli(['segy-to-zarr', src, store, '--chunks', '1,2,8'],
                                   timeout=LIMIT)
        self.assertEqual((status, err), (0, ''))
        self.assertIn('12 traces in 2 x 3 x 2 cells (0 missing)', out)
        self.assertEqual(run_cli(['zarr-to-segy', store, self.path('c2.sgy')], timeout=LIMIT)[0],
                         0)
        self.assertEqual(self.read_bytes('c2.sgy'), self.read_bytes('c.sgy'))
        # Damaged stores: a chunk gone (zarr alone would read fill values), a chunk garbled.
        for name, damage in (('gone', os.remove), ('garbled', garble)):
            shutil.copytree(store, self.path(name))
            damage(os.path.join(self.path(name), 'seismic', '1.1.0.1'))
        # Refusals: an existing store (1), bad chunks (2), a FIFO input (2), not a store (1),
        # damaged stores (1).
        os.mkfifo(self.path('fifo'))
        for args, code in ((['segy-to-zarr', src, store], 1),
                           (['segy-to-zarr', src, self.path('x.zarr'), '--chunks', '0,1,1'], 2),
                           (['segy-to-zarr', self.path('fifo'), self.path('y.zarr')], 2),
                           (['zarr-to-segy', self.dir, self.path('z.sgy')], 1),
                           (['zarr-to-segy', self.path('gone'), self.path('z.sgy')], 1),
                           (['zarr-to-segy', self.path('garbled'), self.path('z.sgy')], 1)):
            status, out, err = run_cli(args, timeout=LIMIT)
            self.assertEqual(status, code, (args, err))
            self.assertTrue(err.startswith('wavecodec: '), err)
        self.assertEqual(sorted(self.leftovers()), ['c.sgy', 'c.zarr', 'c2.sgy', 'fifo', 'garbled',
                                                    'gone'])


@unittest.skipIf(MISSING, MISSING)
class OnDask(TempDirCase):
    """A LocalCluster of two worker processes on 127.0.0.1, made and closed by the test."""

    def setUp(self):
        TempDirCase.setUp(self)
        # A block whose worker dies runs once more elsewhere, then fails with KilledWorker.
        self.config = dask.config.set({'distributed.scheduler.allowed-failures': 1})
        self.config.__enter__()
        self.cluster = within(self, lambda: LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, host='127.0.0.1',
            dashboard_address='127.0.0.1:0', worker_dashboard_address='127.0.0.1:0',
            silence_logs=logging.ERROR))
        self.client = within(self, lambda: Client(self.cluster, timeout=LIMIT))

    def tearDown(self):
        within(self, lambda: self.client.close(timeout=LIMIT))
        within(self, lambda: self.cluster.close(timeout=LIMIT))
        self.config.__exit__(None, None, None)
        TempDirCase.tearDown(self)

    def test_a_killed_worker_changes_nothing_and_one_killing_every_worker_fails(self):
        src = self.path('p.sgy')
        killing_survey(src)
        chunks = (2, 1, 2, 8)   # 5 crossline blocks (crossline sorting)
        segy.to_zarr(src, self.path('serial.zarr'), chunks=chunks)
        marker = self.path('killed')
        within(self, lambda: self.client.register_worker_plugin(Killer(marker), name='killer'))
        within(self, lambda: segy.to_zarr(src, self.path('cluster.zarr'), chunks=chunks,
                                          client=self.client))
        self.assertTrue(os.path.exists(marker))    # a worker died mid-run
        within(self, lambda: segy.to_zarr(src, self.path('address.zarr'), chunks=chunks,
                                          client=self.cluster.scheduler_address))
        serial = tree(self.path('serial.zarr'))
        self.assertIn('ibm_words/b0_0/0.0', serial)
        for other in ('cluster.zarr', 'address.zarr'):
            self.assertEqual(tree(self.path(other)), serial, other)
        segy.from_zarr(self.path('cluster.zarr'), self.path('back.sgy'))
        self.assertEqual(self.read_bytes('back.sgy'), self.read_bytes('p.sgy'))
        within(self, lambda: self.client.register_worker_plugin(Killer(None), name='killer'))
        with self.assertRaises(FormatError) as caught:
            within(self, lambda: segy.to_zarr(src, self.path('x.zarr'), chunks=chunks,
                                              client=self.client))
        self.assertIn('KilledWorker', str(caught.exception))
        self.assertEqual(sorted(self.leftovers()), ['address.zarr', 'back.sgy', 'cluster.zarr',
                                                    'killed', 'p.sgy', 'serial.zarr'])


# Run in a child of its own (no other thread, so the local processes fork from it and share
# its replaced ingest_block): the process running block 1 kills itself, once or every time.
KILLING = """
import os, signal, sys
from wavecodec import segy
from wavecodec.errors import FormatError
from wavecodec.segy import zarrblocks
src, store, marker, every = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4] == 'every'
ingest, blocks = zarrblocks.ingest_block, []
def dying(job, block, grid):
    if block[2] == 1 and (every or not os.path.exists(marker)):
        open(marker, 'a').close()
        # what a process killed in the middle of a write leaves: the store's temporary file
        open(os.path.join(job.store, 'seismic', '.0.0.0.%s.partial' % ('5a' * 16)), 'w').close()
        os.kill(os.getpid(), signal.SIGKILL)
    return ingest(job, block, grid)
zarrblocks.ingest_block = dying
try:
    segy.to_zarr(src, store, chunks=(2, 1, 2, 8), jobs=2)
except FormatError as e:
    print(e)
    sys.exit(3)
"""


if __name__ == '__main__':
    unittest.main()
