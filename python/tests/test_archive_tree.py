"""One tree holding every kind of entry an archive meets (archive_maker.TREE): each is a row,
read or a fault naming it, or passed over for a stated reason; one process and several give
the same rows; names that are not UTF-8 or hold a line feed print as one escaped line each.
Also under Python 2.7."""
import os
import pwd
import shutil
import subprocess
import tempfile
import unittest

from tests.archive_maker import SmallShares, _gse, expected_tree, fs_name, make_tree
from tests.helpers import PYTHON_DIR, TempDirCase, communicate, run_cli, start

from wavecodec import archive
from wavecodec.archive import names, walk


def _outcome(check):
    """What a FileCheck says of its file, in TREE's terms."""
    if check.error:
        return 'fault'
    return 'bad' if check.faults else 'read'


class Tree(SmallShares, TempDirCase):
    def setUp(self):
        super(Tree, self).setUp()
        self.root = self.path('tree')
        os.mkdir(self.root)
        self.sock = make_tree(self.root)
        self.addCleanup(self.sock.close)
        self.expected = expected_tree(self.root)

    def test_every_entry_is_a_row_and_processes_agree(self):
        ex = ['skip_*']
        checks = archive.verify([self.root], jobs=1, exclude=ex)
        rows = archive.index([self.root], jobs=1, exclude=ex)
        out = self.path('out')
        done = archive.convert([self.root], out, jobs=1, exclude=ex)
        # Every entry a row, in walk order, the faults naming their entry.
        self.assertEqual(sorted(c.path for c in checks), sorted(self.expected))
        self.assertEqual([c.path for c in checks], [d.path for d in done])
        for check in checks:
            want = self.expected[check.path]
            self.assertEqual(_outcome(check), want.split(':')[0], check)
            if want.startswith('fault: '):
                self.assertIn(want[7:], check.error)
                self.assertTrue(check.error.startswith(check.path), check)
        by_path = dict((r.path, r) for r in rows if r.fault)
        for path, want in self.expected.items():
            if want.startswith('fault: '):
                self.assertIn(want[7:], by_path[path].fault)
        written = [d for d in done if d.fault is None]
        self.assertEqual(len(written), sum(1 for w in self.expected.values() if w == 'read'))
        # The same rows from worker processes.
        self.assertEqual(archive.verify([self.root], jobs=2, exclude=ex), checks)
        self.assertEqual(archive.index([self.root], jobs=2, exclude=ex), rows)
        self.assertEqual(archive.convert([self.root], out + '2', jobs=2, exclude=ex),
                         [d._replace(target=d.target and out + '2' + d.target[len(out):])
                          for d in done])

    def test_the_summary_and_names_one_line_each(self):
        # The summary counts what was passed over; the two files with a bad checksum are two
        # BAD lines whatever their names hold, under any output encoding.
        forged = os.path.join(self.root, fs_name(b'evil\nBAD forged.gse'))
        latin = os.path.join(self.root, fs_name(b'caf\xe9.gse'))
        for encoding, more, note in (
                ('utf-8', [], '1 linked folder(s) walked already'),
                ('ascii', ['--no-follow'], '2 linked folder(s) not followed (--no-follow)')):
            env = {'PYTHONIOENCODING': encoding, 'LC_ALL': 'C.UTF-8'}
            args = ['--exclude', 'skip_*', self.root] + more
            status, out, err = run_cli(['verify'] + args, env=env, timeout=120)
            lines = out.splitlines()
            self.assertEqual((status, len(lines)), (1, 3), (encoding, out, err))
            self.assertEqual(sum(1 for line in lines if line.startswith('BAD ')), 2, out)
            self.assertIn('passed over: 1 hidden, %s' % note, lines[-1])
            self.assertIn(names.line(forged), out)
            self.assertTrue(all(line.startswith('wavecodec: error: ')
                                for line in err.splitlines()), err)
            status, out, err = run_cli(['index', '-o', '-'] + args, env=env, timeout=120)
            self.assertIn(names.csv_field(latin), out)
            self.assertEqual(len(out.splitlines()), 1 + len(archive.index(
                [self.root], exclude=['skip_*'], follow=not more)), encoding)
        listing = walk.collect([self.root], follow=False)
        self.assertNotIn(os.path.join(self.root, 'linked', 'c.gse'), listing.files)
        self.assertIn(os.path.join(self.root, 'real', 'c.gse'), listing.files)

    def test_a_file_replaced_by_a_fifo_after_the_walk(self):
        listing = walk.collect([self.root], exclude=['skip_*'])
        target = os.path.join(self.root, 'a.gse')
        os.remove(target)
        os.mkfifo(target)
        for jobs in (1, 2):
            checks = list(archive.iter_verify(listing, jobs=jobs))
            check = [c for c in checks if c.path == target][0]
            self.assertEqual(check.error, '%s: a FIFO: not read' % target)


def _nobody():
    try:
        return pwd.getpwnam('nobody').pw_uid
    except KeyError:
        return None


# The interpreter of the walk run as nobody: one it can reach (not one under /root).
SYSTEM_PYTHON = '/usr/bin/python3'


@unittest.skipUnless(os.geteuid() == 0 and _nobody() and os.path.exists(SYSTEM_PYTHON),
                     'needs root and %s to run a walk as nobody' % SYSTEM_PYTHON)
def _reachable_package(folder):
    """The environment for a child that runs as another user: the package and its libraries
    copied into `folder`, which that user can read wherever the checkout lies (a clone in a
    private temporary folder is out of its reach)."""
    env = dict(os.environ)
    shutil.copytree(os.path.join(PYTHON_DIR, 'wavecodec'), os.path.join(folder, 'wavecodec'),
                    ignore=shutil.ignore_patterns('__pycache__', '*.pyc'))
    env['PYTHONPATH'] = folder
    for name in ('WAVECODEC_LIBRARY', 'IBMFLOAT_LIBRARY', 'MSEEDIO_LIBRARY'):
        if env.get(name):
            env[name] = os.path.join(folder, os.path.basename(env[name]))
            shutil.copy(os.path.realpath(os.environ[name]), env[name])
    return env


class Permissions(unittest.TestCase):
    """Folders that can be listed but not entered, entered but not listed, and a file that
    cannot be read, walked by a user they bar (root reads everything): the command runs as
    nobody under Debian's interpreter."""

    def test_each_barred_entry_is_a_fault(self):
        top = tempfile.mkdtemp(prefix='wavecodec-perm-')
        try:
            os.chmod(top, 0o755)
            root = os.path.join(top, 'tree')
            for folder in ('listed', 'entered', 'open'):
                os.makedirs(os.path.join(root, folder))
            for name in ('listed/x.gse', 'entered/y.gse', 'open/locked.gse', 'open/ok.gse'):
                _gse(os.path.join(root, name), 1)
            os.chmod(os.path.join(root, 'listed'), 0o444)
            os.chmod(os.path.join(root, 'entered'), 0o311)
            os.chmod(os.path.join(root, 'open', 'locked.gse'), 0)
            env = _reachable_package(os.path.join(top, 'pkg'))
            uid = _nobody()
            p = start([SYSTEM_PYTHON, '-m', 'wavecodec', 'verify', root],
                      env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=top,
                      preexec_fn=lambda: (os.setsid(), os.setgid(uid), os.setuid(uid)))
            out, err = communicate(p, timeout=120)
            err = err.decode('utf-8')
            self.assertEqual(p.returncode, 1, err)
            for path in ('listed/x.gse', 'entered', 'open/locked.gse'):
                self.assertIn('%s: Permission denied' % os.path.join(root, path), err)
            self.assertIn(b'2 waveform(s) in 2 file(s): 3 bad', out)
        finally:
            for path, _, _ in os.walk(top):
                os.chmod(path, 0o755)
            shutil.rmtree(top)


if __name__ == '__main__':
    unittest.main()
