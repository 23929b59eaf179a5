"""The archive package on a Dask cluster of real processes (`dask scheduler` and `dask worker`,
on 127.0.0.1), one cluster per test, started and killed by the test, every call bounded in
time: the rows of a tree holding every kind of entry equal those of one process and of local
workers; relative paths are the caller's; a worker killed mid-run has its files run again; the
commands take --scheduler. Also the index CSV read by pandas, numpy and dask.dataframe. Dask is
Debian's (python3-distributed), for /usr/bin/python3: elsewhere the module is skipped."""
import os
import shutil
import tempfile
import threading
import unittest

from tests.archive_maker import (Cluster, KillAlways, KillOnce, SmallShares, dask_missing, make,
                                 make_tree)
from tests.helpers import run_cli
from tests.test_archive_convert import MISSING as NO_MSEED

from wavecodec import archive
from wavecodec.archive import engine, names, tasks, walk

MISSING = dask_missing()
# Seconds any one run on the cluster may take.
LIMIT = 120


def within(test, step, limit=LIMIT):
    """step() in a thread; the test fails when it has no result within `limit` seconds."""
    box = []

    def run():
        try:
            box.append((True, step()))
        except BaseException as e:  # noqa: B902 - handed back to the test
            box.append((False, e))

    thread = threading.Thread(target=run)
    thread.daemon = True
    thread.start()
    thread.join(limit)
    if not box:
        test.fail('no result from the cluster within %d s' % limit)
    ok, value = box[0]
    if not ok:
        raise value
    return value


@unittest.skipIf(MISSING, MISSING)
class OnCluster(SmallShares, unittest.TestCase):
    """Each test starts a scheduler and two worker processes (one thread each) and kills
    them when it ends."""

    # A task whose worker dies is given to another worker once, then fails with KilledWorker.
    SCHEDULER_ENV = {'DASK_DISTRIBUTED__SCHEDULER__ALLOWED_FAILURES': '1'}

    def setUp(self):
        super(OnCluster, self).setUp()
        self.dir = tempfile.mkdtemp(prefix='wavecodec-dask-')
        self.cluster = Cluster(self.dir)
        try:
            self.address = self.cluster.start_scheduler(self.SCHEDULER_ENV)
            self.cluster.start_workers(2)
            self.cluster.wait_for_workers(2)
        except BaseException:
            self.cluster.close()
            raise

    def tearDown(self):
        self.cluster.close()
        shutil.rmtree(self.dir)
        super(OnCluster, self).tearDown()

    def test_rows_equal_those_of_one_process(self):
        # (Local workers give the same rows as one process: test_archive_tree.)
        root = os.path.join(self.dir, 'tree')
        os.mkdir(root)
        self.addCleanup(make_tree(root).close)
        planted = make(os.path.join(root, 'planted'), 40)
        paths = [root, planted['vanished']]
        options = dict(exclude=['skip_*'])
        for run in (archive.index, archive.verify):
            self.assertEqual(within(self, lambda: run(paths, client=self.address, **options)),
                             run(paths, jobs=1, **options), run.__name__)
        if NO_MSEED:
            return
        out = os.path.join(self.dir, 'out')
        local = archive.convert(paths, out + '1', jobs=2, **options)
        remote = within(self, lambda: archive.convert(paths, out, client=self.address,
                                                      **options))
        self.assertEqual([r._replace(target=r.target and r.target.replace(out, out + '1'))
                          for r in remote], local)

    def test_commands_take_the_scheduler_and_the_callers_paths(self):
        # The output of one local process, but for the note of where the run went.
        make(os.path.join(self.dir, 'rel'), 18)
        remote = ['--scheduler', self.address, '--timeout', '30']
        for args, note, text in (
                (['verify', 'rel', 'rel/GHI/gone.gse'], ' (Dask cluster)',
                 'rel/ABC/notes.txt: no WID2 line'),
                (['index', '-o', '-', 'rel/JKL'], '', '\nrel/JKL/d03/f0003.gse,')):
            local = run_cli(args, cwd=self.dir, timeout=LIMIT)
            self.assertIn(text, local[1] + local[2], args)
            self.assertEqual(run_cli(args + remote, cwd=self.dir, timeout=LIMIT),
                             (local[0], local[1][:-1] + note + '\n', local[2]), args)
        if NO_MSEED:
            return

        def written(folder):
            top = os.path.join(self.dir, folder)
            return sorted(os.path.relpath(os.path.join(d, n), top)
                          for d, _, ns in os.walk(top) for n in ns)
        local = run_cli(['convert', 'rel', '-o', 'outlocal'], cwd=self.dir, timeout=LIMIT)
        got = run_cli(['convert', 'rel', '-o', 'outrel'] + remote, cwd=self.dir, timeout=LIMIT)
        self.assertEqual(got, (local[0], local[1].replace('outlocal', 'outrel'), local[2]))
        self.assertEqual(written('outrel'), written('outlocal'))
        self.assertEqual(len(written('outrel')), 15)

    def test_workers_killed_by_a_file(self):
        root = os.path.join(self.dir, 'a')
        make(root, 60)
        files = walk.collect([root]).files
        serial = list(engine.run(tasks.Index(), files, jobs=1))
        # Killed once: its batch runs again elsewhere.
        marker = os.path.join(self.dir, 'killed-once')
        task = KillOnce(tasks.Index(), files[len(files) // 2], marker)
        self.assertEqual(within(self, lambda: list(engine.run(task, files,
                                                              client=self.address))), serial)
        self.assertTrue(os.path.exists(marker))
        # Killing every worker that reads it: that file's fault, the others' rows.
        few = files[:3]
        serial = list(engine.run(tasks.Verify(), few, jobs=1))
        got = within(self, lambda: list(engine.run(KillAlways(tasks.Verify(), few[1]), few,
                                                   client=self.address)))
        self.assertEqual([got[0], got[2]], [serial[0], serial[2]])
        self.assertEqual(got[1].error, '%s: the Dask workers reading it died (KilledWorker)'
                         % few[1])


def _readers_missing():
    try:
        import dask.dataframe  # noqa: F401
        import numpy  # noqa: F401
        import pandas  # noqa: F401
    except ImportError as e:
        return 'pandas, numpy and dask.dataframe are needed: %s' % e
    return None


class FutureStates(unittest.TestCase):
    """A future seen done whose worker is lost before it is taken is computed again, not taken
    for a fault of the cluster (a race that once failed a run with "NoneType: None")."""

    def test_a_future_computed_again_is_waited_for(self):
        from wavecodec.archive import cluster

        class Future(object):
            def __init__(self, status):
                self.status = status

            def exception(self, timeout=None):
                return None   # it finished after all

        run = cluster._Run(tasks.Verify(), ['a'], None, 'tcp://x', 1, None)
        for status in ('lost', 'pending', 'error'):
            future = Future(status)
            run.futures[future] = (0, ['a'], 0)
            self.assertIsNone(run.take(future), status)
            self.assertIn(future, run.futures, status)


@unittest.skipIf(_readers_missing(), _readers_missing())
class CsvReaders(unittest.TestCase):
    """The index CSV of the tree of every entry (names with a line feed, not UTF-8, commas in
    faults) and of SEG-Y and GSE2 rows together, read by pandas, numpy and dask.dataframe."""

    def test_readers_take_the_index(self):
        import dask.dataframe as dd
        import numpy
        import pandas
        from wavecodec.archive.report import INDEX_DTYPES
        top = tempfile.mkdtemp(prefix='wavecodec-csv-')
        sock = None
        try:
            root = os.path.join(top, 'tree')
            os.mkdir(root)
            sock = make_tree(root)
            make(os.path.join(root, 'planted'), 60)
            table = os.path.join(top, 'index.csv')
            run_cli(['index', '-o', table, root], timeout=LIMIT)
            rows = archive.index([root])
            frame = pandas.read_csv(table, dtype=INDEX_DTYPES, keep_default_na=False,
                                    na_values={k: [''] for k in INDEX_DTYPES})
            self.assertEqual(len(frame), len(rows))
            self.assertEqual([names.unescape(p) for p in frame['path']],
                             [names.as_text(r.path) for r in rows])
            self.assertEqual([None if pandas.isna(v) else names.unescape(v)
                              for v in frame['fault']], [r.fault for r in rows])
            self.assertEqual([None if pandas.isna(v) else int(v) for v in frame['offset']],
                             [r.offset for r in rows])
            array = numpy.genfromtxt(table, delimiter=',', names=True, dtype=None,
                                     encoding='utf-8')
            self.assertEqual(len(array), len(rows))
            self.assertEqual(list(array['path']), list(frame['path']))
            # Several partitions, each of one type per column.
            parts = dd.read_csv(table, dtype=INDEX_DTYPES, blocksize=4096,
                                keep_default_na=False,
                                na_values={k: [''] for k in INDEX_DTYPES})
            self.assertGreater(parts.npartitions, 2)
            self.assertEqual(parts.compute(scheduler='sync').reset_index(drop=True)
                             .equals(frame), True)
        finally:
            if sock is not None:
                sock.close()
            shutil.rmtree(top)


if __name__ == '__main__':
    unittest.main()
