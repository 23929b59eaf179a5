"""The command line with pipes, links, FIFOs, folders, its own inputs as outputs, faulty files,
a wrong library, and verify over folders in parallel."""
import os
import signal
import stat
import struct
import subprocess
import sys
import time
import unittest

from .helpers import (PYTHON_DIR, TempDirCase, background, communicate, header, run, run_cli,
                      run_on_terminal, signal as seismogram, start, wavecodec)


def cli_env(extra=None):
    env = dict(os.environ)
    env['PYTHONPATH'] = PYTHON_DIR + os.pathsep + env.get('PYTHONPATH', '')
    env.update(extra or {})
    return env


def run_piped(args, data=b'', stdout=subprocess.PIPE):
    """Runs the command with `data` on its standard input; (status, stdout bytes, stderr)."""
    status, out, err = run([sys.executable, '-m', 'wavecodec'] + list(args), data,
                           env=cli_env(), stdout=stdout)
    return status, out, err.decode('utf-8', 'replace')


class CliSafety(TempDirCase):
    def setUp(self):
        TempDirCase.setUp(self)
        self.samples = seismogram(1200)
        self.waves = [wavecodec.Waveform(header(channel=c), self.samples[:n])
                      for c, n in (('BHZ', 1200), ('BHN', 700))]
        self.good = self.path('good.gse')
        wavecodec.write(self.good, self.waves)
        self.data = self.read_bytes('good.gse')

    def one_error(self, args, text, status=1):
        got, out, err = run_cli(args)
        self.assertEqual(got, status, (out, err))
        self.assertNotIn('Traceback', err)
        self.assertEqual(len(err.strip().splitlines()), 1, err)
        self.assertIn(text, err)
        return out, err

    def test_dash_is_stdin_and_stdout(self):
        status, out, err = run_piped(['decode', '-', '-o', '-', '--waveform', '2'], self.data)
        self.assertEqual((status, err), (0, ''))
        self.assertEqual(out.decode('ascii').split(), [str(v) for v in self.samples[:700]])
        status, out, err = run_piped(['decode', '-', '-o', '-', '--waveform', '1', '--format',
                                      'int32'], self.data)
        self.assertEqual(list(struct.unpack('<1200i', out)), self.samples)
        # Several waveforms cannot share standard output without --waveform.
        status, out, err = run_piped(['decode', '-', '-o', '-'], self.data)
        self.assertEqual((status, out), (2, b''))
        self.assertIn('--waveform', err)
        text = '\n'.join(map(str, self.samples)).encode('ascii')
        status, gse, err = run_piped(['encode', '-', '-o', '-', '--station', 'XY', '--channel',
                                      'HHZ', '--start', '2020-01-02T03:04:05', '--rate', '50'],
                                     text)
        self.assertEqual((status, err), (0, ''))
        self.assertEqual(list(wavecodec.read(self.write_bytes('e.gse', gse))[0].samples),
                         self.samples)
        for command in (['verify', '-'], ['info', '-']):
            status, out, err = run_piped(command, self.data)
            self.assertEqual((status, err), (0, ''))
        self.assertIn(b'standard input', out)
        status, svg, err = run_piped(['plot', '-', '-o', '-'], self.data)
        self.assertTrue(svg.startswith(b'<?xml') or svg.startswith(b'<svg'), svg[:40])
        status, out, err = run_piped(['verify', '-', '-'], self.data)
        self.assertEqual(status, 2)
        self.assertEqual(self.leftovers(), ['e.gse', 'good.gse'])

    def test_decoder_lines_stay_off_the_sample_stream(self):
        cut = self.data[:len(self.data) // 3]
        status, out, err = run_piped(['decode', '-', '-o', '-', '--waveform', '1'], cut)
        self.assertEqual((status, out), (1, b''))
        lines = err.strip().splitlines()
        self.assertIn('truncated', lines[-1])
        for line in lines[:-1]:
            self.assertTrue(line.startswith('wavecodec: standard input: '), err)
        self.assertNotIn('Traceback', err)

    def test_broken_pipe_is_quiet(self):
        p = start([sys.executable, '-m', 'wavecodec', 'decode', self.good, '-o', '-',
                   '--waveform', '1'], env=cli_env(), stdout=subprocess.PIPE,
                  stderr=subprocess.PIPE)
        p.stdout.close()
        p.stdout = None   # communicate reads standard error only
        err = communicate(p)[1].decode('utf-8', 'replace')
        self.assertEqual((p.returncode, err), (1, ''))

    def test_outputs_that_are_inputs_are_refused(self):
        os.link(self.good, self.path('hard.gse'))
        os.symlink('good.gse', self.path('soft.gse'))
        self.write_bytes('w.ibm', struct.pack('>2I', 0x41100000, 0))
        for args in (['decode', self.good, '-o', self.good, '--waveform', '1'],
                     ['decode', self.path('soft.gse'), '-o', self.path('hard.gse'),
                      '--waveform', '1'],
                     ['plot', self.good, '-o', self.path('soft.gse')],
                     ['ibm2ieee', self.path('w.ibm'), self.path('w.ibm')],
                     ['encode', self.good, '--input', 'int32', '-o', self.good, '--station',
                      'A', '--channel', 'B', '--start', '2020-01-01', '--rate', '1']):
            self.one_error(args, 'same file')
        self.assertEqual(self.read_bytes('good.gse'), self.data)
        self.assertEqual(len(self.read_bytes('w.ibm')), 8)
        # A numbered output that is the input: refused before the first one is written.
        twin = self.write_bytes('s-2.gse', self.data)
        self.one_error(['decode', twin, '-o', self.path('s.gse')], 'same file')
        self.assertEqual(self.leftovers(), ['good.gse', 'hard.gse', 's-2.gse', 'soft.gse',
                                            'w.ibm'])
        # Standard output appended to the input.
        with open(self.good, 'ab') as f:
            status, out, err = run_piped(['decode', self.good, '-o', '-', '--waveform', '1'],
                                         stdout=f)
        self.assertEqual(status, 1)
        self.assertIn('same file', err)
        self.assertEqual(self.read_bytes('good.gse'), self.data)

    def test_output_targets(self):
        os.mkdir(self.path('dir'))
        self.write_bytes('w.ibm', struct.pack('>2I', 0x41100000, 0))
        for args in (['decode', self.good, '-o', self.path('dir'), '--waveform', '1'],
                     ['ibm2ieee', self.path('w.ibm'), self.path('dir')],
                     ['plot', self.good, '-o', self.path('dir')]):
            self.one_error(args, '%s: Is a directory' % self.path('dir'))
        self.one_error(['decode', self.good, '-o', self.path('w.ibm/x'), '--waveform', '1'],
                       '%s: Not a directory' % self.path('w.ibm/x'))
        self.assertEqual(os.listdir(self.path('dir')), [])
        self.assertEqual(self.leftovers(), ['dir', 'good.gse', 'w.ibm'])
        # A symlink is followed and the target keeps its permission bits.
        real = self.write_bytes('real.txt', b'old')
        os.chmod(real, 0o640)
        os.symlink('real.txt', self.path('link.txt'))
        status, out, err = run_cli(['decode', self.good, '-o', self.path('link.txt'),
                                    '--waveform', '2'])
        self.assertEqual((status, err), (0, ''))
        self.assertTrue(os.path.islink(self.path('link.txt')))
        self.assertEqual(stat.S_IMODE(os.stat(real).st_mode), 0o640)
        self.assertEqual(self.read_bytes('real.txt').split(),
                         [str(v).encode('ascii') for v in self.samples[:700]])
        # A FIFO is written into.
        fifo = self.path('pipe')
        os.mkfifo(fifo)
        got = []

        def drain():
            with open(fifo, 'rb') as f:
                got.append(f.read())
        reader = background(drain)
        status, out, err = run_cli(['ibm2ieee', self.path('w.ibm'), fifo])
        reader.join(10)
        self.assertEqual((status, err), (0, ''))
        self.assertEqual(got, [struct.pack('<2f', 1.0, 0.0)])
        self.assertTrue(stat.S_ISFIFO(os.stat(fifo).st_mode))

    def test_inputs_that_cannot_be_read(self):
        os.mkdir(self.path('somedir'))
        for command in (['info'], ['decode', '-o', self.path('x.txt')], ['plot', '-o',
                        self.path('x.svg')]):
            out, err = self.one_error(command[:1] + [self.path('somedir')] + command[1:],
                                      '%s: Is a directory' % self.path('somedir'))
            self.assertNotIn('write failed', err)
        self.one_error(['ibm2ieee', self.path('somedir'), self.path('x.f32')],
                       'Is a directory')
        self.assertEqual(self.leftovers(), ['good.gse', 'somedir'])

    def test_fifo_input(self):
        fifo = self.path('in.pipe')
        os.mkfifo(fifo)

        def feed():
            with open(fifo, 'wb') as f:
                f.write(self.data)
        writer = background(feed)
        status, out, err = run_cli(['verify', fifo])
        writer.join(10)
        self.assertEqual((status, err), (0, ''))
        self.assertIn('2 waveform(s) in 1 file(s): all sound', out)

    @unittest.skipIf(os.geteuid() == 0, 'root reads any file')
    def test_unreadable_input(self):
        os.chmod(self.good, 0)
        self.one_error(['info', self.good], '%s: Permission denied' % self.good)

    def test_faults_are_explained(self):
        first = self.data.index(b'CHK2 ')
        end = self.data.index(b'\n', first)
        damaged = self.data[:first] + b'CHK2 42' + self.data[end:]
        second = damaged.rindex(b'CHK2 ')
        end = damaged.index(b'\n', second)
        self.write_bytes('bad.gse', damaged[:second] + b'CHK2 43' + damaged[end:])
        # info checks the data only when asked to, where it can be asked.
        verify = ['--verify'] if '--verify' in run_cli(['info', '--help'])[1] else []
        status, out, err = run_cli(['info'] + verify + [self.path('bad.gse')])
        self.assertEqual(status, 1)
        rows = out.strip().splitlines()[1:]
        self.assertEqual(len(rows), 2)
        for row, given in zip(rows, ('42', '43')):
            self.assertIn('MISMATCH  checksum mismatch: the CHK2 line gives %s' % given, row)
        status, out, err = run_cli(['verify', self.path('bad.gse')])
        lines = out.strip().splitlines()
        self.assertEqual(len(lines), 3)
        self.assertTrue(lines[0].startswith('BAD %s: waveform 1 ' % self.path('bad.gse')))
        self.assertTrue(lines[1].startswith('BAD %s: waveform 2 ' % self.path('bad.gse')))
        self.assertEqual(lines[2], '2 waveform(s) in 1 file(s): 2 bad')

    def test_wrong_library(self):
        ibm = wavecodec.load_ibmfloat()._name
        env = {'WAVECODEC_LIBRARY': ibm}
        for args in (['info', self.good, self.good], ['verify', self.good, self.good],
                     ['verify', '--jobs', '2', self.good, self.good],
                     ['decode', self.good, '-o', self.path('x.txt')]):
            status, out, err = run_cli(args, env=env)
            self.assertEqual((status, out), (1, ''))
            self.assertNotIn('Traceback', err)
            self.assertIn('%s loads but has no symbol' % ibm, err)
            self.assertEqual(len(err.strip().splitlines()), 1, err)
        code = ('import wavecodec\ntry:\n    wavecodec.load_wavecodec(%r)\n'
                'except wavecodec.LibraryNotFoundError as e:\n'
                '    print("%%s %%s" %% (e.path, e.symbol))\n'
                % ibm)
        status, out, err = run([sys.executable, '-c', code], env=cli_env())
        self.assertEqual(status, 0, err)
        self.assertEqual(out.decode('ascii').split()[0], ibm)
        self.assertEqual(len(out.split()), 2)


class VerifyMany(TempDirCase):
    def setUp(self):
        TempDirCase.setUp(self)
        waves = [wavecodec.Waveform(header(channel=c), seismogram(400, seed=k))
                 for k, c in enumerate(('BHZ', 'BHN'))]
        os.makedirs(self.path(os.path.join('archive', 'day1')))
        os.makedirs(self.path(os.path.join('archive', 'day2')))
        self.files = []
        for k in range(6):
            name = os.path.join('archive', 'day%d' % (k % 2 + 1), 'f%d.gse' % k)
            wavecodec.write(self.path(name), waves)
            self.files.append(self.path(name))
        data = self.read_bytes(self.files[3])
        self.write_bytes(self.files[3], data.replace(b'CHK2 ', b'CHK2 9', 1))
        self.write_bytes(os.path.join('archive', 'notes.txt'), b'not a waveform\n')

    def test_folders_in_parallel(self):
        for jobs in ('1', '2'):
            status, out, err = run_cli(['verify', '--jobs', jobs, '--glob', '*.gse',
                                        self.path('archive')])
            self.assertEqual((status, err), (1, ''))
            lines = out.strip().splitlines()
            self.assertEqual(len(lines), 2, out)
            self.assertTrue(lines[0].startswith('BAD %s: waveform 1 (ABC BHZ 2024/03/05 '
                                                '06:07:08.500' % self.files[3]), lines[0])
            self.assertIn('checksum mismatch: the CHK2 line gives 9', lines[0])
            # Files this small are checked by one process whatever --jobs asks, and it says so.
            self.assertEqual(lines[1], '12 waveform(s) in 6 file(s): 1 bad%s'
                             % ('' if jobs == '1' else ' (1 process)'))
        # Without --glob every file counts; a file that is not GSE2.0 is an error line.
        status, out, err = run_cli(['verify', '-j', '2', self.path('archive')])
        self.assertEqual(status, 1)
        self.assertIn('notes.txt: no WID2 line', err)
        self.assertIn('12 waveform(s) in 7 file(s): 2 bad (1 process)', out)
        sound = [f for f in self.files if f != self.files[3]]
        status, out, err = run_cli(['verify', '--jobs', '3'] + sound)
        self.assertEqual((status, out.strip(), err), (0, '10 waveform(s) in 5 file(s): all '
                                                         'sound (1 process)', ''))
        self.one_usage(['verify', '--jobs', '-1', self.files[0]])

    def test_work_shared_out_when_it_pays(self):
        from wavecodec.archive import local, tasks
        from wavecodec.archive.commands import run_verify
        saved = local.MIN_BYTES_PER_PROCESS, local.CHUNK_BYTES
        size = os.path.getsize(self.files[0])
        task = tasks.Verify()
        try:
            # Enough input for two processes, batches of two files.
            local.MIN_BYTES_PER_PROCESS = 2 * size
            local.CHUNK_BYTES = 2 * size
            self.assertEqual(local.plan(task, self.files, 4),
                             (3, [(0, self.files[0:2]), (2, self.files[2:4]),
                                  (4, self.files[4:6])]))
            self.assertEqual(local.plan(task, self.files, 2)[0], 2)
            self.assertEqual(local.plan(task, self.files[:3], 4)[0], 1)
            self.assertEqual(local.plan(task, ['-'] + self.files[:1], 4), (1, []))
            reports = []
            for jobs in (1, 3):
                out, err = _Text(), _Text()
                status = run_verify([self.path('archive')], jobs, '*.gse', out, err)
                reports.append((status, ''.join(out.parts), ''.join(err.parts)))
        finally:
            local.MIN_BYTES_PER_PROCESS, local.CHUNK_BYTES = saved
        # The same faults in the same order, and the processes named.
        self.assertEqual(reports[1][0], 1)
        self.assertEqual(reports[1][1], reports[0][1].replace('1 bad\n', '1 bad (3 processes)\n'))
        self.assertEqual(reports[1][2], '')
        # A folder without files to check is a fault, not silently sound.
        status, out, err = run_cli(['verify', '--glob', '*.msg', self.path('archive')])
        self.assertEqual(status, 1)
        self.assertIn('%s: no files to verify matching *.msg' % self.path('archive'), err)

    def one_usage(self, args):
        status, out, err = run_cli(args)
        self.assertEqual(status, 2)
        self.assertIn('--jobs', err)

    def test_progress_on_a_terminal_only(self):
        status, terminal, out = run_on_terminal(
            ['verify', '--jobs', '2', '--glob', '*.gse', self.path('archive')], cli_env())
        self.assertEqual(status, 1)
        self.assertIn(b'verifying 6/6 files', terminal)
        self.assertIn(b'1 bad', out)
        self.assertNotIn(b'verifying', out)

    def test_interrupt_ends_the_workers(self):
        # Ctrl-C's default handling, whatever the test run was started with (a background job
        # of a shell without job control starts with SIGINT ignored, and Python keeps that).
        p = start([sys.executable, '-c',
                   'import signal\n'
                   'signal.signal(signal.SIGINT, signal.default_int_handler)\n'
                   'import sys, time, wavecodec.archive.tasks as t\n'
                   'import wavecodec.archive.local as l\n'
                   'def slow(self, path):\n    time.sleep(30)\n'
                   't.Verify.__call__ = slow\n'
                   'l.MIN_BYTES_PER_PROCESS = 1\n'
                   'from wavecodec.cli import main\n'
                   'sys.exit(main(sys.argv[1:]))',
                   'verify', '--jobs', '2'] + self.files,
                  env=cli_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        time.sleep(1.5)
        p.send_signal(signal.SIGINT)
        out, err = communicate(p)
        self.assertEqual(p.returncode, 130, err)
        self.assertNotIn(b'Traceback', err)


if __name__ == '__main__':
    unittest.main()


class _Text(object):
    """A text output for both Pythons (io.StringIO refuses str under 2.7)."""

    def __init__(self):
        self.parts = []

    def write(self, text):
        self.parts.append(text)

    def flush(self):
        pass

    def isatty(self):
        return False
