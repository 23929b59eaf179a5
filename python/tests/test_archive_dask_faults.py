"""Faults of the Dask cluster itself end a command with one message naming the scheduler, in
time, never a hang or a traceback: a malformed address, one that refuses, a scheduler without
workers, workers without the package or its libraries, a scheduler killed mid-run. And a
convert on Dask stopped by Ctrl-C or SIGTERM stops its tasks and leaves nothing behind. Real
`dask scheduler` and `dask worker` processes on 127.0.0.1, one set per test, killed at its
end; every command bounded in time."""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from tests.archive_maker import Cluster, dask_missing, make
from tests.helpers import PYTHON_DIR, communicate, end, run_cli, start
from tests.test_archive_convert import MISSING as NO_MSEED, stop_midway

MISSING = dask_missing()
# The commands' --timeout, and what a command may take beyond it (starting Python and Dask on
# a busy machine).
TIMEOUT = 4
SLACK = 40


def _closed_port():
    s = socket.socket()
    s.bind(('127.0.0.1', 0))
    port = s.getsockname()[1]
    s.close()
    return port


@unittest.skipIf(MISSING, MISSING)
class Faults(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='wavecodec-dask-faults-')
        self.root = os.path.join(self.dir, 'a')
        self.planted = make(self.root, 40)
        self.cluster = Cluster(self.dir)

    def tearDown(self):
        self.cluster.close()
        shutil.rmtree(self.dir)

    def one_message(self, args, status, *texts):
        got, out, err = run_cli(args + [self.root], timeout=TIMEOUT + SLACK)
        self.assertEqual((got, len(err.splitlines())), (status, 1), (args, err))
        for text in texts:
            self.assertIn(text, err)

    def test_cluster_faults_are_one_message(self):
        for args, status, text in (
                (['--scheduler', 'tcp://'], 2, "'tcp://' is not a Dask scheduler address"),
                (['--scheduler', 'tcp://127.0.0.1:99999'], 2, 'not a Dask scheduler address'),
                (['--scheduler', 'tcp://127.0.0.1:%d' % _closed_port()], 1,
                 'cannot reach the Dask scheduler tcp://127.0.0.1:')):
            for command in (['verify'], ['index', '-o', '-']):
                self.one_message(command + args + ['--timeout', str(TIMEOUT)], status, text)
        address = self.cluster.start_scheduler()
        args = ['verify', '--scheduler', address, '--timeout', str(TIMEOUT)]
        self.one_message(args, 1, 'the Dask scheduler %s has no workers (none joined within '
                         '%d s)' % (address, TIMEOUT))
        for env, text in (({'PYTHONPATH': None}, "cannot run wavecodec (ModuleNotFoundError: "
                           "No module named 'wavecodec')"),
                          ({'WAVECODEC_LIBRARY': os.path.join(self.dir, 'none.so')},
                           'cannot load libwavecodec')):
            workers = self.cluster.start_workers(2, env)
            self.cluster.wait_for_workers(2)
            self.one_message(args, 1, 'the Dask workers of %s' % address, text)
            self.cluster.kill(workers)

    def test_a_scheduler_killed_mid_run(self):
        address = self.cluster.start_scheduler()
        self.cluster.start_workers(2)
        self.cluster.wait_for_workers(2)
        env = dict(os.environ)
        env['PYTHONPATH'] = PYTHON_DIR
        p = start([sys.executable, '-m', 'wavecodec', 'verify', '--scheduler', address,
                   '--timeout', str(TIMEOUT), '--progress', '0.05'] + [self.root] * 200, env=env,
                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            deadline = time.time() + SLACK
            for line in iter(p.stderr.readline, b''):
                if b'verifying' in line or time.time() > deadline:
                    break
            self.assertIsNone(p.poll(), 'the run ended before its scheduler was killed')
            self.cluster.kill(self.cluster.scheduler)
            began = time.time()
            out, err = communicate(p, timeout=TIMEOUT + SLACK)
        finally:
            end(p)
        err = err.decode('utf-8', 'replace')
        self.assertEqual(p.returncode, 1)
        self.assertLess(time.time() - began, TIMEOUT + 10)
        lines = err.splitlines()
        if lines and not lines[0].startswith('wavecodec: '):
            lines = lines[1:]  # the end of a line read above
        lines = [line for line in lines if not line.startswith(
            'wavecodec: error: %s' % self.root) and not line.startswith('wavecodec: verifying')]
        self.assertEqual(len(lines), 1, err)
        self.assertTrue(re.match(r'^wavecodec: error: lost the Dask scheduler %s mid-run '
                                 r'\(\d+ of \d+ files done\)$' % address, lines[0]), lines)


# Loaded by each worker: every miniSEED output waits 3 s once its data are written to the
# temporary file, before the conversion commits it.
SLOW_WRITE = (
    'import time\n'
    'from wavecodec import mseed\n'
    'write = mseed.write\n'
    'def slow(target, waves, **options):\n'
    '    done = write(target, waves, **options)\n'
    '    time.sleep(3)\n'
    '    return done\n'
    'mseed.write = slow\n')


@unittest.skipIf(MISSING or NO_MSEED, MISSING or NO_MSEED)
class Stopped(unittest.TestCase):
    def test_a_stopped_convert_stops_its_tasks(self):
        top = tempfile.mkdtemp(prefix='wavecodec-dask-stop-')
        cluster = Cluster(top)
        try:
            make(os.path.join(top, 'in'), 40)
            preload = os.path.join(top, 'slow_write.py')
            with open(preload, 'w') as f:
                f.write(SLOW_WRITE)
            address = cluster.start_scheduler()
            cluster.start_workers(2, preload=preload)
            cluster.wait_for_workers(2)
            env = dict(os.environ)
            env['PYTHONPATH'] = PYTHON_DIR
            for signum, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
                out = os.path.join(top, 'out%d' % signum)
                got, err = stop_midway(self, [sys.executable, '-m', 'wavecodec', 'convert',
                                              os.path.join(top, 'in'), '-o', out,
                                              '--scheduler', address, '--timeout', '20'],
                                       out, signum, env)
                self.assertEqual(got, status, err)
                self.assertNotIn('Traceback', err)
                self.assertEqual([n for n in os.listdir(out) if n.startswith('.')], [])
        finally:
            cluster.close()
            shutil.rmtree(top)


if __name__ == '__main__':
    unittest.main()
