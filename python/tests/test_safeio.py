"""The output layer: what a write does to links, FIFOs, folders, permissions and failures."""
import errno
import fcntl
import os
import signal
import stat
import sys
import time
import unittest

from .helpers import (PYTHON_DIR, SUBPROCESS_SECONDS, TempDirCase, background, communicate,
                      header, run, signal as seismogram, start, wavecodec)
from wavecodec import fileops, output_strategies
from wavecodec.safeio import SameFileError, open_output, write_bytes


def cli_env():
    env = dict(os.environ)
    env['PYTHONPATH'] = PYTHON_DIR + os.pathsep + env.get('PYTHONPATH', '')
    return env


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

    def test_path_like_names_and_descriptors(self):
        class Named(object):
            def __init__(self, name):
                self.name = name

            def __fspath__(self):
                return self.name
        wavecodec.write(Named(self.path('a.gse')), [self.wave])
        self.assertEqual(list(wavecodec.read(self.path('a.gse'))[0].samples),
                         list(self.wave.samples))
        write_bytes(self.path('b.bin').encode('ascii'), b'bytes name')
        self.assertEqual(self.read_bytes('b.bin'), b'bytes name')
        # A descriptor is written at its position and stays open.
        fd = os.open(self.path('c.gse'), os.O_WRONLY | os.O_CREAT, 0o644)
        try:
            os.write(fd, b'before\n')
            wavecodec.write(fd, [self.wave])
            os.write(fd, b'after\n')
        finally:
            os.close(fd)
        data = self.read_bytes('c.gse')
        self.assertEqual(data, b'before\n' + self.gse('d.gse', [self.wave]) + b'after\n')
        with self.assertRaises(EnvironmentError) as caught:
            write_bytes(fd, b'closed')
        self.assertEqual((caught.exception.errno, caught.exception.filename),
                         (errno.EBADF, 'file descriptor %d' % fd))
        for bad in (2.5, [self.path('x')], True):
            with self.assertRaises(TypeError) as caught:
                write_bytes(bad, b'x')
            self.assertIn('not %s' % type(bad).__name__, str(caught.exception))
            self.assertRaises(TypeError, wavecodec.write, bad, [self.wave])
        self.assertEqual(self.leftovers(), ['a.gse', 'b.bin', 'c.gse', 'd.gse'])

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
        reader = background(drain)
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
        status, out, err = run([sys.executable, '-c', code] + targets, env=env)
        self.assertEqual(status, 0, err)
        self.assertEqual(out.decode('ascii').split(),
                         ['%d|%s' % (errno.EFBIG, t) for t in targets])
        self.assertUntouched()

    def test_interrupt_waits_for_an_in_place_copy(self):
        real_copy = fileops.copy

        def interrupted_copy(source, target):
            os.kill(os.getpid(), signal.SIGINT)
            return real_copy(source, target)
        fileops.copy = interrupted_copy
        try:
            with self.assertRaises(KeyboardInterrupt):
                write_bytes(self.target, b'complete new content\n')
        finally:
            fileops.copy = real_copy
        self.assertEqual(self.read_bytes('twin.gse'), b'complete new content\n')
        self.assertEqual(self.leftovers(), ['out.gse', 'twin.gse'])

    def test_rename_failure_names_the_target(self):
        single = self.write_bytes('single.gse', b'old')
        seen = []

        def failing_rename(source, target):
            seen.append(source)
            raise OSError(errno.EXDEV, os.strerror(errno.EXDEV), source)
        saved = output_strategies.replace_file
        output_strategies.replace_file = failing_rename
        try:
            with self.assertRaises(EnvironmentError) as caught:
                write_bytes(single, b'new')
        finally:
            output_strategies.replace_file = saved
        self.assertTrue(seen[0].endswith('.part'))
        self.assertEqual(caught.exception.filename, single)
        self.assertNotIn('.part', str(caught.exception))
        self.assertEqual(self.read_bytes('single.gse'), b'old')
        self.assertUntouched(['single.gse'])


class InPlaceOverwrite(TempDirCase):
    """A file overwritten in place (hard links) on a nearly full disk and by two writers."""

    def setUp(self):
        TempDirCase.setUp(self)
        self.mount = None

    def tearDown(self):
        if self.mount is not None:
            run(['umount', self.mount])
        TempDirCase.tearDown(self)

    def small_disk(self, size):
        """A tmpfs of `size` bytes mounted in the test's folder (needs root)."""
        folder = self.path('disk')
        os.mkdir(folder)
        status = run(['mount', '-t', 'tmpfs', '-o', 'size=%d' % size, 'tmpfs', folder])[0]
        if status != 0:
            self.skipTest('cannot mount a tmpfs here (needs root)')
        self.mount = folder
        return folder

    def fill(self, folder, leave):
        """Fills the file system of `folder` until `leave` bytes are free."""
        st = os.statvfs(folder)
        with open(os.path.join(folder, 'filler'), 'wb') as f:
            f.write(b'\0' * (st.f_bavail * st.f_frsize - leave))

    def assertContent(self, path, data):
        with open(path, 'rb') as f:
            got = f.read()
        self.assertTrue(got == data, '%s holds %d bytes beginning %r, not the %d expected'
                        % (path, len(got), got[:20], len(data)))

    def test_full_disk_keeps_the_old_file(self):
        folder = self.small_disk(2 << 20)
        target = os.path.join(folder, 'out.bin')
        old = b'old content\n' * 8000
        with open(target, 'wb') as f:
            f.write(old)
        os.link(target, os.path.join(folder, 'twin.bin'))
        new = b'N' * (600 << 10)
        # Room to stage the new data beside the target, but not to grow the target to it.
        self.fill(folder, len(new) + (len(new) - len(old)) // 2)
        real = fileops._posix_fallocate

        def unsupported(fd, offset, length):
            raise OSError(errno.EOPNOTSUPP, os.strerror(errno.EOPNOTSUPP))
        # Reserved by the system, and by writing zeros where the system cannot reserve.
        for fallocate in (real, unsupported):
            fileops._posix_fallocate = fallocate
            try:
                with self.assertRaises(EnvironmentError) as caught:
                    write_bytes(target, new)
            finally:
                fileops._posix_fallocate = real
            self.assertEqual((caught.exception.errno, caught.exception.filename),
                             (errno.ENOSPC, target))
            for name in ('out.bin', 'twin.bin'):
                self.assertContent(os.path.join(folder, name), old)
            self.assertEqual(sorted(os.listdir(folder)), ['filler', 'out.bin', 'twin.bin'])
        # With room, the same write goes through.
        os.unlink(os.path.join(folder, 'filler'))
        write_bytes(target, new)
        self.assertContent(os.path.join(folder, 'twin.bin'), new)

    def test_a_second_writer_waits_for_the_first(self):
        target = self.write_bytes('out.gse', b'old\n')
        os.link(target, self.path('twin.gse'))
        code = 'import sys\nfrom wavecodec.safeio import write_bytes\n' \
               'write_bytes(sys.argv[1], b"second writer\\n")\n'
        with open(target, 'r+b') as first:
            fcntl.lockf(first, fcntl.LOCK_EX)
            second = start([sys.executable, '-c', code, target], env=cli_env())
            waiting = False
            give_up = time.time() + SUBPROCESS_SECONDS
            while second.poll() is None and not waiting and time.time() < give_up:
                with open('/proc/locks') as locks:
                    waiting = any('->' in line and str(second.pid) in line.split()
                                  for line in locks)
                time.sleep(0.01)
            self.assertTrue(waiting, 'the second writer did not wait for the lock')
            # Read through the locked file: closing another descriptor would drop the lock.
            self.assertEqual(first.read(), b'old\n')
            first.seek(0)
            first.write(b'first writer, a longer line\n')
            first.flush()
            fcntl.lockf(first, fcntl.LOCK_UN)
        communicate(second)
        self.assertEqual(second.returncode, 0)
        self.assertEqual(self.read_bytes('twin.gse'), b'second writer\n')


class Unprivileged(TempDirCase):
    """Folders and files a user without root's rights cannot write. Run as root, the writer runs
    as user nobody (setpriv), keeping only the right to read and search folders so that the
    interpreter and the checkout stay reachable."""

    def run_writer(self, targets):
        """Writes b'new' to each of `targets` in another process; its lines, 'ok' or
        'errno|filename|message' per target."""
        code = ('import sys\nfrom wavecodec.safeio import write_bytes\n'
                'for target in sys.argv[1:]:\n'
                '    try:\n'
                '        write_bytes(target, b"new")\n'
                '        print("ok")\n'
                '    except EnvironmentError as e:\n'
                '        print("%s|%s|%s" % (e.errno, e.filename, e))\n')
        command = [sys.executable, '-c', code]
        if os.geteuid() == 0:
            # os.access checks without that right: the test's folder must be searchable.
            os.chmod(self.dir, 0o711)
            command = ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups',
                       '--inh-caps=+dac_read_search', '--ambient-caps=+dac_read_search'] + command
        try:
            status, out, err = run(command + list(targets), env=cli_env())
        except OSError:
            self.skipTest('setpriv is not installed')
        if status != 0:
            self.skipTest('cannot run as an unprivileged user here: %s' % err.decode('latin-1'))
        return out.decode('utf-8').splitlines()

    def test_read_only_folder_names_the_target(self):
        folder = self.path('ro')
        os.mkdir(folder)
        open_file, locked, new = (os.path.join(folder, n) for n in ('open', 'locked', 'new'))
        for path, mode in ((open_file, 0o666), (locked, 0o444)):
            with open(path, 'wb') as f:
                f.write(b'old')
            os.chmod(path, mode)
        os.chmod(folder, 0o555)
        try:
            lines = self.run_writer([new, locked, open_file])
        finally:
            os.chmod(folder, 0o755)
        self.assertEqual(len(lines), 3, lines)
        for line, target in zip(lines, (new, locked)):
            code, filename, message = line.split('|')
            self.assertEqual((int(code), filename), (errno.EACCES, target))
            self.assertNotIn('.part', message)
        # A writable file in the folder is overwritten in place.
        self.assertEqual(lines[2], 'ok')
        self.assertEqual(sorted(os.listdir(folder)), ['locked', 'open'])
        for path, data in ((locked, b'old'), (open_file, b'new')):
            with open(path, 'rb') as f:
                self.assertEqual(f.read(), data)


if __name__ == '__main__':
    unittest.main()
