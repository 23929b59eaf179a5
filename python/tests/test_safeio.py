"""The output layer: what a write does to links, FIFOs, folders, permissions and failures."""
import errno
import os
import signal
import stat
import subprocess
import sys
import threading
import unittest

from .helpers import PYTHON_DIR, TempDirCase, header, signal as seismogram, wavecodec
from wavecodec import safeio
from wavecodec.safeio import SameFileError, open_output, write_bytes


class Targets(TempDirCase):
    def setUp(self):
        TempDirCase.setUp(self)
        self.wave = wavecodec.Waveform(header(), seismogram(300))

    def test_symlink_is_followed(self):
        real = self.write_bytes('real.gse', b'old\n')
        os.symlink('real.gse', self.path('link.gse'))
        wavecodec.write(self.path('link.gse'), [self.wave])
        self.assertTrue(os.path.islink(self.path('link.gse')))
        self.assertEqual(list(wavecodec.read(real)[0].samples), list(self.wave.samples))
        # A dangling link: its destination is created, the link stays.
        os.symlink('made.bin', self.path('dangling'))
        write_bytes(self.path('dangling'), b'new')
        self.assertTrue(os.path.islink(self.path('dangling')))
        self.assertEqual(self.read_bytes('made.bin'), b'new')

    def test_permissions_kept_and_new_files_follow_umask(self):
        target = self.write_bytes('p.bin', b'old')
        os.chmod(target, 0o640)
        write_bytes(target, b'new')
        self.assertEqual(stat.S_IMODE(os.stat(target).st_mode), 0o640)
        self.assertEqual(self.read_bytes('p.bin'), b'new')
        mask = os.umask(0o027)
        try:
            write_bytes(self.path('fresh.bin'), b'x')
        finally:
            os.umask(mask)
        self.assertEqual(stat.S_IMODE(os.stat(self.path('fresh.bin')).st_mode), 0o640)

    def test_hard_links_keep_seeing_the_file(self):
        target = self.write_bytes('a.bin', b'a much longer old content\n')
        os.link(target, self.path('b.bin'))
        inode = os.stat(target).st_ino
        write_bytes(target, b'short')
        self.assertEqual(os.stat(target).st_ino, inode)
        self.assertEqual(os.stat(target).st_nlink, 2)
        self.assertEqual(self.read_bytes('b.bin'), b'short')
        self.assertEqual(self.leftovers(), ['a.bin', 'b.bin'])

    def test_fifo_is_written_into(self):
        fifo = self.path('pipe')
        os.mkfifo(fifo)
        got = []

        def drain():
            with open(fifo, 'rb') as f:
                got.append(f.read())
        reader = threading.Thread(target=drain)
        reader.start()
        wavecodec.write(fifo, [self.wave])
        reader.join(10)
        self.assertTrue(stat.S_ISFIFO(os.stat(fifo).st_mode))
        self.assertTrue(got[0].startswith(b'WID2 '))
        self.assertEqual(self.leftovers(), ['pipe'])

    def test_character_device_is_written_into(self):
        node = self.path('null')
        try:
            os.mknod(node, stat.S_IFCHR | 0o666, os.makedev(1, 3))
        except (OSError, AttributeError):
            self.skipTest('cannot make a device node here')
        wavecodec.write(node, [self.wave])
        write_bytes(node, b'data')
        self.assertTrue(stat.S_ISCHR(os.stat(node).st_mode))
        self.assertEqual(self.leftovers(), ['null'])

    def test_refused_targets_name_the_target(self):
        os.mkdir(self.path('dir'))
        self.write_bytes('file', b'keep')
        for target, code in (('dir', errno.EISDIR), ('dir' + os.sep, errno.EISDIR),
                             ('missing' + os.sep, errno.EISDIR),
                             ('file' + os.sep, errno.ENOTDIR),
                             (os.path.join('file', 'x'), errno.ENOTDIR),
                             (os.path.join('nowhere', 'x'), errno.ENOENT)):
            with self.assertRaises(EnvironmentError) as caught:
                wavecodec.write(self.path(target), [self.wave])
            self.assertEqual((caught.exception.errno, caught.exception.filename),
                             (code, self.path(target)))
        self.assertEqual(self.leftovers(), ['dir', 'file'])
        self.assertEqual(os.listdir(self.path('dir')), [])

    @unittest.skipIf(os.geteuid() == 0, 'root writes anywhere')
    def test_read_only_folder_and_file(self):
        os.mkdir(self.path('ro'))
        os.chmod(self.path('ro'), 0o555)
        try:
            with self.assertRaises(EnvironmentError) as caught:
                write_bytes(os.path.join(self.path('ro'), 'x'), b'data')
            self.assertEqual(caught.exception.errno, errno.EACCES)
            self.assertEqual(caught.exception.filename, os.path.join(self.path('ro'), 'x'))
        finally:
            os.chmod(self.path('ro'), 0o755)
        target = self.write_bytes('locked', b'keep')
        os.chmod(target, 0o444)
        self.assertRaises(EnvironmentError, write_bytes, target, b'new')
        self.assertEqual(self.read_bytes('locked'), b'keep')

    def test_same_file_as_an_input_is_refused(self):
        source = self.write_bytes('in.gse', b'input')
        os.link(source, self.path('hard'))
        os.symlink('in.gse', self.path('soft'))
        for target in ('in.gse', 'hard', 'soft'):
            with self.assertRaises(SameFileError) as caught:
                with open_output(self.path(target), inputs=[source]) as f:
                    f.write(b'clobbered')
            self.assertIn('same file', str(caught.exception))
            self.assertIn(self.path(target), str(caught.exception))
        self.assertEqual(self.read_bytes('in.gse'), b'input')
        self.assertEqual(self.leftovers(), ['hard', 'in.gse', 'soft'])


class Failures(TempDirCase):
    """Every failure leaves the old target as it was, no temporary file, a message naming the
    target."""

    def setUp(self):
        TempDirCase.setUp(self)
        self.target = self.write_bytes('out.gse', b'previous\n')
        os.link(self.target, self.path('twin.gse'))

    def assertUntouched(self, extra=()):
        self.assertEqual(self.read_bytes('out.gse'), b'previous\n')
        self.assertEqual(self.read_bytes('twin.gse'), b'previous\n')
        self.assertEqual(self.leftovers(), sorted(['out.gse', 'twin.gse'] + list(extra)))

    def test_writer_failure_midway(self):
        good = wavecodec.Waveform(header(), seismogram(500))
        bad = wavecodec.Waveform(header(), [0, 200000000, 0])
        for target in (self.target, self.path('new.gse')):
            with self.assertRaises(wavecodec.FormatError):
                wavecodec.write(target, [good, bad])
        self.assertUntouched()

    def test_interrupt_and_disk_full(self):
        for target in (self.target, self.path('single.gse')):
            with self.assertRaises(KeyboardInterrupt):
                with open_output(target) as f:
                    f.write(b'partial')
                    raise KeyboardInterrupt
            with self.assertRaises(EnvironmentError) as caught:
                with open_output(target) as f:
                    f.write(b'partial')
                    raise IOError(errno.ENOSPC, os.strerror(errno.ENOSPC))
            self.assertEqual((caught.exception.errno, caught.exception.filename),
                             (errno.ENOSPC, target))
        self.assertUntouched()

    def test_file_size_limit(self):
        """A real write failure (EFBIG under a file size limit, which binds root as well)."""
        code = ('import resource, signal, sys, wavecodec\n'
                'from tests.helpers import header, signal as seismogram\n'
                'signal.signal(signal.SIGXFSZ, signal.SIG_IGN)\n'
                'resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))\n'
                'w = wavecodec.Waveform(header(), seismogram(20000))\n'
                'for target in sys.argv[1:]:\n'
                '    try:\n'
                '        wavecodec.write(target, [w])\n'
                '    except EnvironmentError as e:\n'
                '        print("%s|%s" % (e.errno, e.filename))\n')
        env = dict(os.environ)
        env['PYTHONPATH'] = PYTHON_DIR + os.pathsep + env.get('PYTHONPATH', '')
        targets = [self.target, self.path('fresh.gse')]
        out = subprocess.check_output([sys.executable, '-c', code] + targets, env=env)
        self.assertEqual(out.decode('ascii').split(),
                         ['%d|%s' % (errno.EFBIG, t) for t in targets])
        self.assertUntouched()

    def test_interrupt_waits_for_an_in_place_copy(self):
        real_copy = safeio._copy

        def interrupted_copy(source, target):
            os.kill(os.getpid(), signal.SIGINT)
            return real_copy(source, target)
        safeio._copy = interrupted_copy
        try:
            with self.assertRaises(KeyboardInterrupt):
                write_bytes(self.target, b'complete new content\n')
        finally:
            safeio._copy = real_copy
        self.assertEqual(self.read_bytes('twin.gse'), b'complete new content\n')
        self.assertEqual(self.leftovers(), ['out.gse', 'twin.gse'])

    def test_rename_failure_names_the_target(self):
        single = self.write_bytes('single.gse', b'old')
        seen = []

        def failing_rename(source, target):
            seen.append(source)
            raise OSError(errno.EXDEV, os.strerror(errno.EXDEV), source)
        saved = safeio.replace_file
        safeio.replace_file = failing_rename
        try:
            with self.assertRaises(EnvironmentError) as caught:
                write_bytes(single, b'new')
        finally:
            safeio.replace_file = saved
        self.assertTrue(seen[0].endswith('.part'))
        self.assertEqual(caught.exception.filename, single)
        self.assertNotIn('.part', str(caught.exception))
        self.assertEqual(self.read_bytes('single.gse'), b'old')
        self.assertUntouched(['single.gse'])


if __name__ == '__main__':
    unittest.main()
