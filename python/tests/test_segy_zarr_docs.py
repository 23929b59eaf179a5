"""docs/host.md's "Surveys on a cluster": its `dask scheduler`, `dask worker`, `segy-to-zarr`
and `zarr-to-segy` lines run as written (HEAD and WORKER 127.0.0.1, a free port, a temporary
folder for /shared and /tmp), the store compared with a serial run's and the SEG-Y written back
with the source. Needs Debian's /usr/bin/python3 and /usr/bin/dask (python3-distributed); the
children are ended in tearDown, every wait bounded.
"""
import os
import shlex
import socket
import subprocess
import unittest

from .helpers import PYTHON_DIR, TempDirCase, end, run_cli, start
from .test_segy_zarr import LIMIT, MISSING, cells, their_survey, tree
from wavecodec import segy

if not MISSING:
    from distributed import Client

DOCS = os.path.join(os.path.dirname(PYTHON_DIR), 'docs', 'host.md')
DASK = '/usr/bin/dask'


def documented_commands():
    """The command lines of docs/host.md's "Surveys on a cluster", in order."""
    with open(DOCS) as f:
        text = f.read()
    part = text.split('\n## Surveys on a cluster\n', 1)[1].split('\n## ', 1)[0]
    return [line.strip() for line in part.splitlines()
            if line.startswith('    dask ') or line.startswith('    wavecodec ')]


@unittest.skipIf(MISSING or not os.path.exists(DASK), MISSING or '%s is absent' % DASK)
class DocumentedCommands(TempDirCase):
    """The docs' dask scheduler / dask worker / wavecodec lines, run as written on 127.0.0.1."""

    def setUp(self):
        TempDirCase.setUp(self)
        self.children = []

    def tearDown(self):
        for p in self.children:
            end(p)
        TempDirCase.tearDown(self)

    def test_the_documented_cluster_commands(self):
        probe = socket.socket()
        probe.bind(('127.0.0.1', 0))
        port = probe.getsockname()[1]
        probe.close()
        shared, local = self.path('shared'), self.path('local')
        os.mkdir(shared)
        os.mkdir(local)
        their_survey(os.path.join(shared, 'survey.sgy'),
                     cells([1, 2, 3, 4], [5, 6, 7], [0], 'crossline', ((2, 6, 0),)), 5, 'big')
        lines = documented_commands()
        self.assertEqual([shlex.split(l)[:2] for l in lines], [
            ['dask', 'scheduler'], ['dask', 'worker'], ['wavecodec', 'segy-to-zarr'],
            ['wavecodec', 'zarr-to-segy']])
        env = dict(os.environ, PYTHONPATH=PYTHON_DIR + os.pathsep + os.environ.get(
            'PYTHONPATH', ''))
        address = 'tcp://127.0.0.1:%d' % port
        for line in lines:
            line = (line.replace('HEAD', '127.0.0.1').replace('WORKER', '127.0.0.1')
                    .replace('8786', str(port)).replace(':8787', ':0')
                    .replace('/tmp', local).replace('/shared', shared))
            words = shlex.split(line)
            if words[0] == 'dask':
                log = open(self.path('%s.log' % words[1]), 'w+b')
                self.children.append(start([DASK] + words[1:], env=env, cwd=local,
                                           stdout=log, stderr=subprocess.STDOUT))
                log.close()
                if words[1] == 'worker':
                    self.wait_for_workers(address, int(words[words.index('--nworkers') + 1]))
                continue
            status, out, err = run_cli(words[1:], env=env, cwd=self.dir, timeout=LIMIT)
            self.assertEqual((status, err), (0, ''), line)
        segy.to_zarr(os.path.join(shared, 'survey.sgy'), self.path('serial.zarr'))
        self.assertEqual(tree(os.path.join(shared, 'survey.zarr')), tree(self.path('serial.zarr')))
        with open(os.path.join(shared, 'again.sgy'), 'rb') as a, \
                open(os.path.join(shared, 'survey.sgy'), 'rb') as b:
            self.assertEqual(a.read(), b.read())

    def wait_for_workers(self, address, count):
        # connect() retries until the timeout while the scheduler starts
        with Client(address, timeout=LIMIT) as client:
            client.wait_for_workers(count, timeout=LIMIT)


if __name__ == '__main__':
    unittest.main()
