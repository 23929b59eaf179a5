"""The archive package on a Dask cluster: a distributed.LocalCluster of two worker processes on
the loopback address, started and closed here. Index and verify of a generated archive with
planted faults equal the serial results; a worker killed mid-run has its files run again;
the commands take --scheduler. Dask is Debian's (python3-distributed), for /usr/bin/python3:
elsewhere the module is skipped."""
import logging
import os
import shutil
import tempfile
import threading
import unittest

from tests.archive_maker import KillAlways, KillOnce, make
from tests.helpers import run_cli

from wavecodec import archive
from wavecodec.archive import engine, tasks, walk

try:
    import dask
    from distributed import Client, LocalCluster
except ImportError as e:  # pragma: no cover - depends on the interpreter
    MISSING = 'Dask is not importable here (%s): install python3-dask and ' \
        'python3-distributed (setup.sh test) and run under /usr/bin/python3' % e
else:
    MISSING = None


# Seconds any one run on the cluster may take: a run that waits for workers that never come
# back fails the test instead of holding up CI.
LIMIT = 60


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


@unittest.skipIf(MISSING, MISSING)
class OnLocalCluster(unittest.TestCase):
    files = 300

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix='wavecodec-dask-')
        cls.root = os.path.join(cls.dir, 'archive')
        cls.planted = make(cls.root, cls.files)
        cls.paths = [cls.root, cls.planted['vanished']]
        # A task whose worker dies is given to another worker once, then fails with
        # KilledWorker (the default allows 3 deaths, each a worker restart of ~1 s).
        cls.config = dask.config.set({'distributed.scheduler.allowed-failures': 1})
        cls.config.__enter__()
        cls.cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                   host='127.0.0.1', dashboard_address=None,
                                   worker_dashboard_address=None, silence_logs=logging.ERROR)
        cls.client = Client(cls.cluster)

    @classmethod
    def tearDownClass(cls):
        cls.client.close()
        cls.cluster.close()
        cls.config.__exit__(None, None, None)
        shutil.rmtree(cls.dir)

    def test_index_equals_the_serial_rows(self):
        serial = archive.index(self.paths, jobs=1)
        self.assertEqual(within(self, lambda: archive.index(self.paths, client=self.client)),
                         serial)
        faults = set(r.path for r in serial if r.fault)
        self.assertEqual(faults, set(self.planted[name] for name in (
            'short header', 'not gse2', 'unreadable', 'vanished', 'segy truncated')))

    def test_verify_equals_the_serial_report(self):
        serial = archive.verify(self.paths, jobs=1)
        # An address string: the run makes its own client and closes it.
        address = self.cluster.scheduler_address
        self.assertEqual(within(self, lambda: archive.verify(self.paths, client=address)),
                         serial)
        faulty = set(c.path for c in serial if c.faults or c.error)
        self.assertTrue(set([self.planted['checksum'], self.planted['truncated'],
                             self.planted['unreadable'], self.planted['vanished']]) <= faulty)

    def test_a_worker_killed_mid_run_has_its_files_rerun(self):
        files = walk.collect([self.root]).files
        serial = list(engine.run(tasks.Index(), files, jobs=1))
        marker = os.path.join(self.dir, 'killed-once')
        task = KillOnce(tasks.Index(), files[len(files) // 2], marker)
        self.assertEqual(within(self, lambda: list(engine.run(task, files, client=self.client))),
                         serial)
        self.assertTrue(os.path.exists(marker))

    def test_a_file_that_kills_every_worker_is_a_fault(self):
        # Few files: each death costs a worker restart of a second or more.
        files = walk.collect([os.path.join(self.root, 'ABC', 'd00')]).files[:3]
        serial = list(engine.run(tasks.Verify(), files, jobs=1))
        task = KillAlways(tasks.Verify(), files[1])
        got = within(self, lambda: list(engine.run(task, files, client=self.client)))
        self.assertEqual([got[0], got[2]], [serial[0], serial[2]])
        self.assertEqual(got[1].error, '%s: the Dask workers reading it died (KilledWorker)'
                         % files[1])

    def test_convert_equals_the_local_run(self):
        from tests.test_archive_convert import MISSING as NO_MSEED
        if NO_MSEED:
            self.skipTest(NO_MSEED)
        folder = os.path.join(self.root, 'DEF')
        local = archive.convert([folder], os.path.join(self.dir, 'mseed'), jobs=1)
        address = self.cluster.scheduler_address
        remote = within(self, lambda: archive.convert(
            [folder], os.path.join(self.dir, 'mseed-dask'), client=address))
        self.assertEqual([r._replace(target=r.target and r.target.replace('mseed-dask', 'mseed'))
                          for r in remote], local)
        self.assertEqual(sum(1 for r in local if r.fault), 3)   # checksum, header, unreadable

    def test_commands_take_the_scheduler(self):
        address = self.cluster.scheduler_address
        status, out, err = run_cli(['verify', '-j', '2'] + self.paths)
        self.assertEqual(status, 1)
        # The same report; the summary says who did the work.
        self.assertTrue(out.endswith(' bad (1 process)\n'), out)
        self.assertEqual(run_cli(['verify', '--scheduler', address] + self.paths),
                         (status, out.replace('(1 process)', '(Dask cluster)'), err))
        out_csv = os.path.join(self.dir, 'index.csv')
        status, out, err = run_cli(['index', '--scheduler', address, '-o', out_csv,
                                    os.path.join(self.root, 'JKL')])
        self.assertEqual(status, 0, err)
        with open(out_csv) as f:
            self.assertEqual(len(f.read().splitlines()),
                             1 + len(archive.index([os.path.join(self.root, 'JKL')], jobs=1)))


if __name__ == '__main__':
    unittest.main()
