"""archive.convert: every GSE2 file of a tree into miniSEED under a mirrored tree, on local
processes (and the convert command). Needs the miniSEED writer (wavecodec.mseed and its
library): skipped with the reason where it is missing."""
import io
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from tests.archive_maker import make
from tests.helpers import PYTHON_DIR, communicate, end, run_cli, start

import wavecodec
from wavecodec import archive


def _missing():
    try:
        from wavecodec import mseed
        wave = wavecodec.Waveform(dict(station='ABC', channel='BHZ', year=2024, month=1, day=1,
                                       sample_rate=20.0), [1, 2, 3])
        mseed.write(io.BytesIO(), [wave], network='XX')
    except (ImportError, EnvironmentError) as e:
        return 'the miniSEED writer is not usable here: %s' % e
    return None


MISSING = _missing()


@unittest.skipIf(MISSING, MISSING)
class Convert(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix='wavecodec-convert-')
        cls.root = os.path.join(cls.dir, 'archive')
        cls.planted = make(cls.root, 40)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def out(self, name):
        return os.path.join(self.dir, name)

    def test_tree_converted_and_faults_reported(self):
        rows = archive.convert([self.root], self.out('serial'), jobs=1)
        self.assertEqual(archive.convert([self.root], self.out('parallel'), jobs=2),
                         [r._replace(target=r.target.replace(self.out('serial'),
                                                             self.out('parallel'))
                                     if r.target else None) for r in rows])
        by_path = dict((r.path, r) for r in rows)
        for name in ('checksum', 'truncated', 'short header', 'unreadable', 'not gse2'):
            row = by_path[self.planted[name]]
            self.assertTrue(row.fault and not row.fault.startswith('skipped'), name)
            self.assertIsNone(row.target)
        for name in ('segy', 'segy truncated'):
            self.assertTrue(by_path[self.planted[name]].fault.startswith('skipped'))
        written = [r for r in rows if r.fault is None]
        self.assertEqual(len(written), 40 - 3)
        from wavecodec import mseed
        for r in written[::6]:
            relative = os.path.relpath(r.path, self.root)
            self.assertEqual(r.target, os.path.join(self.out('serial'),
                                                    os.path.splitext(relative)[0] + '.mseed'))
            original = wavecodec.read(r.path)
            back = mseed.read(r.target)
            self.assertEqual([(w.station, w.channel, w.start, list(w.samples)) for w in back],
                             [(w.station, w.channel, w.start, list(w.samples))
                              for w in original])
        # Nothing is written for the failed files.
        self.assertFalse(os.path.exists(os.path.join(
            self.out('serial'), os.path.relpath(self.planted['checksum'], self.root)[:-4]
            + '.mseed')))

    def test_command(self):
        status, out, err = run_cli(['convert', '-j', '2', '-o', self.out('cmd'),
                                    os.path.join(self.root, 'ABC')])
        self.assertEqual(status, 1, err)
        self.assertIn(self.planted['not gse2'], err)
        self.assertIn('file(s) converted', out.splitlines()[-1])
        status, out, err = run_cli(['convert', '-o', self.out('cmd2'),
                                    os.path.join(self.root, 'GHI')])
        self.assertEqual(status, 0, err)
        status, out, err = run_cli(['convert', '-o', self.planted['segy'], self.root])
        self.assertEqual(status, 2)


# A convert whose every output waits 30 s before it is committed (its temporary file written):
# the run is stopped meanwhile.
SLOW_COMMIT = (
    'import signal, sys, time\n'
    'signal.signal(signal.SIGINT, signal.default_int_handler)\n'
    'from wavecodec import output_strategies as o\n'
    'commit = o.RenameOutput.commit\n'
    'def slow(self):\n'
    '    time.sleep(30)\n'
    '    commit(self)\n'
    'o.RenameOutput.commit = slow\n'
    'import wavecodec.archive.local as l\n'
    'l.MIN_BYTES_PER_PROCESS = l.CHUNK_BYTES = 1\n'
    'from wavecodec.cli import main\n'
    'sys.exit(main(sys.argv[1:]))\n')


def outputs(folder):
    """{path: (size, mtime)} of every file below `folder`."""
    found = {}
    for where, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(where, name)
            info = os.stat(path)
            found[path] = (info.st_size, info.st_mtime)
    return found


def stop_midway(test, command, out, signum, env=None):
    """Starts `command` (a convert into `out`), sends `signum` once a temporary output
    exists, and checks that it ends within 20 s, leaves no temporary file, and that nothing
    appears in `out` after it has ended. Returns its (status, stderr)."""
    p = start(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        deadline = time.time() + 120
        while time.time() < deadline and p.poll() is None and \
                not any(n.endswith('.part') for n in outputs(out)):
            time.sleep(0.02)
        test.assertIsNone(p.poll(), 'the run ended before it could be stopped')
        p.send_signal(signum)
        _, err = communicate(p, timeout=20)
    finally:
        end(p)
    left = outputs(out)
    test.assertEqual([n for n in left if n.endswith('.part')], [])
    time.sleep(1.5)
    test.assertEqual(outputs(out), left)
    return p.returncode, err.decode('utf-8', 'replace')


@unittest.skipIf(MISSING, MISSING)
class Interrupted(unittest.TestCase):
    def test_a_stopped_convert_leaves_nothing_behind(self):
        top = tempfile.mkdtemp(prefix='wavecodec-stop-')
        try:
            make(os.path.join(top, 'in'), 24)
            env = dict(os.environ)
            env['PYTHONPATH'] = PYTHON_DIR
            for jobs, signum, status in (('2', signal.SIGINT, 130), ('2', signal.SIGTERM, 143),
                                         ('1', signal.SIGTERM, 143)):
                out = os.path.join(top, 'out%s%d' % (jobs, signum))
                got, err = stop_midway(self, [sys.executable, '-c', SLOW_COMMIT, 'convert',
                                              '-j', jobs, os.path.join(top, 'in'), '-o', out],
                                       out, signum, env)
                self.assertEqual(got, status, err)
                self.assertNotIn('Traceback', err)
        finally:
            shutil.rmtree(top)


if __name__ == '__main__':
    unittest.main()
