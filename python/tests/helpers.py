"""Shared pieces of the host tests: temporary directories, sample headers, CLI runs."""
import os
import shutil
import subprocess
import sys
import signal as signals
import tempfile
import threading
import unittest

PYTHON_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
if PYTHON_DIR not in sys.path:
    sys.path.insert(0, PYTHON_DIR)

import wavecodec  # noqa: E402

INT32_MIN = -2147483648
INT32_MAX = 2147483647


def header(**fields):
    h = dict(station='ABC', channel='BHZ', year=2024, month=3, day=5, hour=6, minute=7,
             second=8.5, sample_rate=40.0)
    h.update(fields)
    return h


def wrap32(v):
    return (v + 2 ** 31) % 2 ** 32 - 2 ** 31


def from_second_differences(diffs):
    """The series whose second differences (from zero history) are `diffs`, in 32-bit wrapping
    arithmetic: an independent model of what the decoder restores."""
    first = second = 0
    out = []
    for d in diffs:
        first = wrap32(first + d)
        second = wrap32(second + first)
        out.append(second)
    return out


def signal(n, seed=7):
    """A deterministic wandering signal with bursts, like a seismogram."""
    out = []
    x = seed
    value = 0
    for i in range(n):
        x = (1103515245 * x + 12345) % 2 ** 31
        step = (x >> 8) % 2001 - 1000
        value = int(value * 0.95) + step * (40 if (i // 500) % 4 == 1 else 1)
        out.append(value)
    return out


class TempDirCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='wavecodec-test-')

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write_bytes(self, name, data):
        with open(self.path(name), 'wb') as f:
            f.write(data)
        return self.path(name)

    def read_bytes(self, name):
        with open(self.path(name), 'rb') as f:
            return f.read()

    def gse(self, name, waves, **options):
        """Writes waveforms with the package and returns the file's bytes."""
        wavecodec.write(self.path(name), waves, **options)
        return self.read_bytes(name)

    def leftovers(self):
        """Files in the directory other than those the test made itself."""
        return sorted(os.listdir(self.dir))



class MadeArchive(unittest.TestCase):
    """A generated archive (tests.archive_maker.make) of FILES files, made once for the class:
    `dir`, `root` and `planted` (its planted faults)."""
    FILES = 40

    @classmethod
    def setUpClass(cls):
        from tests.archive_maker import make
        cls.dir = tempfile.mkdtemp(prefix='wavecodec-archive-')
        cls.root = os.path.join(cls.dir, 'archive')
        cls.planted = make(cls.root, cls.FILES)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

# Set when the sanitizer run preloads its runtime: it reserves terabytes of address space and
# doubles what a process holds, so the tests of a command's memory bounds say nothing there (the
# python mode runs them against the ordinary build).
UNDER_SANITIZER = 'libasan' in os.environ.get('LD_PRELOAD', '')

# No subprocess of the tests may run unbounded: a child that is still running after this many
# seconds (WAVECODEC_TEST_TIMEOUT overrides) is killed with its process group and the test fails.
SUBPROCESS_SECONDS = float(os.environ.get('WAVECODEC_TEST_TIMEOUT', '300'))


def start(command, **popen_args):
    """subprocess.Popen in a process group of its own, so that `communicate` can end the child
    and everything it started."""
    popen_args.setdefault('preexec_fn', os.setsid)
    return subprocess.Popen(command, **popen_args)


class bounded(object):
    """A time bound for child `p`: past `timeout` seconds (SUBPROCESS_SECONDS when None) inside
    the `with` block, the child's process group is killed, and leaving the block raises
    AssertionError naming the command."""

    def __init__(self, p, timeout=None):
        self.p = p
        self.timeout = SUBPROCESS_SECONDS if timeout is None else timeout
        self.fired = False
        self.timer = threading.Timer(self.timeout, self._kill)
        self.timer.daemon = True

    def _kill(self):
        self.fired = True
        try:
            os.killpg(self.p.pid, signals.SIGKILL)
        except OSError:
            try:
                self.p.kill()
            except OSError:
                pass

    def __enter__(self):
        self.timer.start()
        return self

    def __exit__(self, *exc):
        self.timer.cancel()
        # Python 2.7 reports a timer thread still waiting when the interpreter ends.
        self.timer.join()
        if self.fired:
            raise AssertionError('a child did not end within %g s and was killed: %r'
                                 % (self.timeout, getattr(self.p, 'args', self.p.pid)))
        return False


def communicate(p, data=None, timeout=None):
    """p.communicate(data), bounded in time (also under Python 2.7, whose communicate has no
    timeout): past `timeout` seconds the child's process group is killed and AssertionError
    names the command."""
    with bounded(p, timeout):
        return p.communicate(data)


def run(command, data=None, timeout=None, **popen_args):
    """Runs `command` (started by `start`) to its end, bounded in time (see `communicate`), with
    `data` on its standard input when given; (status, stdout, stderr), the output as bytes
    (standard output and error are pipes unless `popen_args` say otherwise)."""
    popen_args.setdefault('stdout', subprocess.PIPE)
    popen_args.setdefault('stderr', subprocess.PIPE)
    if data is not None:
        popen_args.setdefault('stdin', subprocess.PIPE)
    p = start(command, **popen_args)
    out, err = communicate(p, data, timeout)
    return p.returncode, out, err


def end(p):
    """Kills child `p` with its process group when it is still running, and collects it."""
    if p.poll() is None:
        try:
            os.killpg(p.pid, signals.SIGKILL)
        except OSError:
            pass
    # Its pipes are closed rather than read: a communicate() of its own may have read them
    # already, and Python 2.7's communicate fails on a closed pipe.
    for pipe in (p.stdin, p.stdout, p.stderr):
        if pipe is not None and not pipe.closed:
            pipe.close()
    with bounded(p, None):
        p.wait()


def background(target, *args):
    """`target(*args)` started in a daemon thread (one stuck on a FIFO cannot keep the test run
    from ending); join it with a timeout."""
    thread = threading.Thread(target=target, args=args)
    thread.daemon = True
    thread.start()
    return thread


def run_cli(args, env=None, cwd=None, timeout=None, data=None):
    """Runs `python -m wavecodec ARGS` (bounded in time, see `communicate`); returns (status,
    stdout, stderr) as text."""
    full_env = dict(os.environ)
    full_env['PYTHONPATH'] = PYTHON_DIR + os.pathsep + full_env.get('PYTHONPATH', '')
    if env:
        full_env.update(env)
    status, out, err = run([sys.executable, '-m', 'wavecodec'] + list(args), data, timeout,
                           env=full_env, cwd=cwd)
    return status, out.decode('utf-8', 'replace'), err.decode('utf-8', 'replace')


def run_on_terminal(args, env, timeout=None):
    """Runs `python -m wavecodec ARGS` with standard error on a pseudo-terminal, bounded in
    time (see `communicate`); returns (status, what the terminal showed, standard output) as
    bytes."""
    import pty
    master, slave = pty.openpty()
    p = start([sys.executable, '-m', 'wavecodec'] + list(args), env=env,
              stdout=subprocess.PIPE, stderr=slave)
    os.close(slave)
    terminal = b''
    try:
        with bounded(p, timeout):
            while True:
                try:
                    chunk = os.read(master, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                terminal += chunk
            out = p.communicate()[0]
    finally:
        os.close(master)
    return p.returncode, terminal, out


class CapturedStdout(object):
    """Captures what C code prints on file descriptor 1 (the decoder's diagnostics)."""

    def __enter__(self):
        sys.stdout.flush()
        self.file = tempfile.TemporaryFile()
        self.saved = os.dup(1)
        os.dup2(self.file.fileno(), 1)
        return self

    def __exit__(self, *exc):
        sys.stdout.flush()
        os.dup2(self.saved, 1)
        os.close(self.saved)
        self.file.seek(0)
        self.text = self.file.read().decode('latin-1')
        self.file.close()
        return False
