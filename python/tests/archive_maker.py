"""A generated archive for the archive tests: GSE2 files in nested folders, SEG-Y files, and
planted faults, plus tasks that end their worker process on a chosen file."""
import json
import os
import signal
import subprocess
import time

from tests.helpers import PYTHON_DIR, end, header, signal as series, start

import wavecodec
from wavecodec import segy

STATIONS = ('ABC', 'DEF', 'GHI', 'JKL')


def _waves(k):
    """One to three short waveforms, different for every file number k."""
    out = []
    for c, chan in enumerate(('BHZ', 'BHN', 'BHE')[:1 + k % 3]):
        h = header(station=STATIONS[k % len(STATIONS)], channel=chan, day=1 + k % 28,
                   hour=k % 24, minute=c, sample_rate=20.0 + k % 5)
        out.append(wavecodec.Waveform(h, series(40 + 7 * (k % 11), seed=k * 3 + c),
                                      sta2=dict(network='XX', latitude=1.5, longitude=2.5,
                                                coordinate_system='WGS-84', elevation=0.1,
                                                emplacement_depth=0.0)))
    return out


def _spoil_checksum(path):
    """Makes the file's first checksum disagree with its samples."""
    with open(path, 'rb') as f:
        data = f.read()
    at = data.index(b'CHK2 ') + 5
    end = data.index(b'\n', at)
    with open(path, 'wb') as f:
        f.write(data[:at] + str(int(data[at:end]) + 1).encode('ascii') + data[end:])


def _cut(path, keep):
    with open(path, 'rb') as f:
        data = f.read()
    with open(path, 'wb') as f:
        f.write(data[:keep(data)])


def make(root, files=300):
    """Writes `files` GSE2 files (at least 18) below `root` (folders by station and day) and
    the planted faults; returns {fault name: path}. The path 'vanished' names no file."""
    paths = []
    for k in range(files):
        folder = os.path.join(root, STATIONS[k % len(STATIONS)], 'd%02d' % (k % 7))
        if not os.path.isdir(folder):
            os.makedirs(folder)
        path = os.path.join(folder, 'f%04d.gse' % k)
        wavecodec.write(path, _waves(k), data_format='INT' if k % 10 == 3 else 'CM6')
        paths.append(path)
    planted = {}
    planted['checksum'] = paths[5]
    _spoil_checksum(paths[5])
    # Cut inside the first data section, and inside the first WID2 line.
    planted['truncated'] = paths[11]
    _cut(paths[11], lambda d: d.rindex(b'CHK2') - 20)
    planted['short header'] = paths[17]
    _cut(paths[17], lambda d: 40)
    planted['not gse2'] = os.path.join(root, 'ABC', 'notes.txt')
    with open(planted['not gse2'], 'wb') as f:
        f.write(b'field notes, no waveform here\n')
    # A file that cannot be read: as root no mode bits stop a read, so a link to a file whose
    # reading fails.
    planted['unreadable'] = os.path.join(root, 'DEF', 'locked.gse')
    if os.geteuid() == 0 and os.path.exists('/proc/self/mem'):
        os.symlink('/proc/self/mem', planted['unreadable'])
    else:
        wavecodec.write(planted['unreadable'], _waves(1))
        os.chmod(planted['unreadable'], 0)
    shots = os.path.join(root, 'shots')
    os.makedirs(shots)
    planted['segy'] = os.path.join(shots, 'line1.sgy')
    segy.write(planted['segy'], [[float(i * t % 17) for i in range(125)] for t in range(12)],
               sample_interval=4000, format='ieee', endian='little')
    planted['segy truncated'] = os.path.join(shots, 'line2.sgy')
    segy.write(planted['segy truncated'], [[0.5] * 100] * 6, sample_interval=2000)
    _cut(planted['segy truncated'], lambda d: len(d) - 50)
    planted['vanished'] = os.path.join(root, 'GHI', 'gone.gse')
    return planted


class SmallShares(object):
    """Mixin for tests of worker processes on small files: any input is worth a process."""

    def setUp(self):
        from wavecodec.archive import local
        self._shares = local.MIN_BYTES_PER_PROCESS, local.CHUNK_BYTES
        local.MIN_BYTES_PER_PROCESS, local.CHUNK_BYTES = 1, 1
        super(SmallShares, self).setUp()

    def tearDown(self):
        from wavecodec.archive import local
        local.MIN_BYTES_PER_PROCESS, local.CHUNK_BYTES = self._shares
        super(SmallShares, self).tearDown()


class KillOnce(object):
    """Wraps a task: the first process to reach the file named `victim` kills itself (leaving
    `marker` behind), as a worker lost mid-run would; any later attempt works normally."""

    def __init__(self, task, victim, marker):
        self.task = task
        self.victim = victim
        self.marker = marker

    def __getattr__(self, name):
        # Everything but the call is the task's ('task' itself only before unpickling).
        if name == 'task':
            raise AttributeError(name)
        return getattr(self.task, name)

    def __call__(self, item):
        if item == self.victim and not os.path.exists(self.marker):
            open(self.marker, 'w').close()
            os.kill(os.getpid(), signal.SIGKILL)
        return self.task(item)


class KillAlways(KillOnce):
    """Wraps a task: every process that reaches `victim` kills itself."""

    def __init__(self, task, victim):
        KillOnce.__init__(self, task, victim, None)

    def __call__(self, item):
        if item == self.victim:
            os.kill(os.getpid(), signal.SIGKILL)
        return self.task(item)


def _gse(path, k, fault=None):
    wavecodec.write(path, _waves(k))
    if fault == 'checksum':
        _spoil_checksum(path)


def fs_name(name):
    """A file name given as bytes, as the walk of this interpreter sees it."""
    return name if str is bytes else os.fsdecode(name)


# The tree of every kind of entry: its relative path, and what a run makes of it: 'read' (a
# sound file), 'bad' (a file with a faulty waveform), 'fault: TEXT' (a row whose message holds
# TEXT), 'passed' (passed over, no row). Names as bytes: one is not UTF-8, one holds a line
# feed and forges a report line.
TREE = [
    (b'a.gse', 'read'),
    (b'b.gse', 'bad'),
    (b'caf\xe9.gse', 'read'),
    (b'evil\nBAD forged.gse', 'bad'),
    (b'dangling.gse', 'fault: a dangling link'),
    (b'empty', 'passed'),
    (b'fifo.gse', 'fault: a FIFO: not read'),
    (b'link.gse', 'read'),
    (b'linked/c.gse', 'read'),
    (b'linked/up', 'fault: a link loop'),
    (b'loop1', 'fault: a link loop'),
    (b'loop2', 'fault: a link loop'),
    (b'notes.txt', 'fault: no WID2 line'),
    (b'real', 'passed'),
    (b'skip_me.gse', 'passed'),
    (b'sock', 'fault: a socket: not read'),
    (b'z.gse.gz', 'read'),
    (b'.hidden.gse', 'passed'),
]


def make_tree(root):
    """Writes TREE below `root` (bytes names made with os.fsencode under Python 3); returns
    the path of the socket it holds open (closed by the caller: close_tree)."""
    import gzip
    import socket
    b = os.fsencode(root) if str is not bytes else root
    join = os.path.join
    os.makedirs(join(b, b'real'))
    os.makedirs(join(b, b'empty'))
    _gse(join(b, b'a.gse'), 1)
    _gse(join(b, b'b.gse'), 2, 'checksum')
    _gse(join(b, b'caf\xe9.gse'), 3)
    _gse(join(b, b'evil\nBAD forged.gse'), 4, 'checksum')
    _gse(join(b, b'real', b'c.gse'), 5)
    _gse(join(b, b'skip_me.gse'), 6)
    _gse(join(b, b'.hidden.gse'), 7)
    with open(join(b, b'notes.txt'), 'wb') as f:
        f.write(b'field notes, no waveform here\n')
    _gse(join(b, b'z.tmp'), 8)
    with open(join(b, b'z.tmp'), 'rb') as f, gzip.open(join(b, b'z.gse.gz'), 'wb') as z:
        z.write(f.read())
    os.remove(join(b, b'z.tmp'))
    os.symlink(b'nowhere', join(b, b'dangling.gse'))
    os.symlink(b'a.gse', join(b, b'link.gse'))
    os.symlink(b'real', join(b, b'linked'))
    os.symlink(b'..', join(b, b'real', b'up'))
    os.symlink(b'loop2', join(b, b'loop1'))
    os.symlink(b'loop1', join(b, b'loop2'))
    os.mkfifo(join(b, b'fifo.gse'))
    sock = socket.socket(socket.AF_UNIX)
    sock.bind(join(b, b'sock'))
    return sock


def expected_tree(root):
    """{path as the walk gives it: outcome} of TREE below `root`."""
    return dict((os.path.join(root, fs_name(name)), outcome) for name, outcome in TREE
                if outcome != 'passed')


# Debian's python3-distributed gives the `dask` command (scheduler, worker).
DASK = '/usr/bin/dask'


def dask_missing():
    """Why the Dask tests cannot run here, or None."""
    try:
        import distributed  # noqa: F401
    except ImportError as e:
        return 'Dask is not importable here (%s): run under /usr/bin/python3 with ' \
            'python3-distributed (setup.sh test)' % e
    if not os.path.exists(DASK):
        return '%s is missing (python3-distributed)' % DASK
    return None


class Cluster(object):
    """A Dask scheduler and its workers as real processes (`dask scheduler`, `dask worker`)
    listening on 127.0.0.1 only, each started in a process group of its own; every wait is
    bounded, and close() kills every process it started."""

    def __init__(self, folder, timeout=90):
        self.folder = folder
        self.timeout = timeout
        self.procs = []
        self.scheduler = None
        self.address = None

    def _start(self, args, env=None, log='dask.log'):
        full = dict(os.environ)
        full['PYTHONPATH'] = PYTHON_DIR + os.pathsep + full.get('PYTHONPATH', '')
        full.update(env or {})
        for key, value in list(full.items()):
            if value is None:
                del full[key]
        # The processes work in a folder of their own: a relative path that reached them
        # unresolved would not name the caller's file.
        where = os.path.join(self.folder, 'dask-processes')
        if not os.path.isdir(where):
            os.mkdir(where)
        with open(os.path.join(where, log), 'ab') as out:
            p = start([DASK] + args, env=full, stdout=subprocess.DEVNULL, stderr=out,
                      cwd=where)
        self.procs.append(p)
        return p

    def start_scheduler(self, env=None):
        path = os.path.join(self.folder, 'scheduler-%d.json' % len(self.procs))
        self.scheduler = self._start(['scheduler', '--host', '127.0.0.1', '--port', '0',
                                      '--no-dashboard', '--scheduler-file', path], env)
        deadline = time.time() + self.timeout
        while time.time() < deadline:
            try:
                with open(path) as f:
                    self.address = json.load(f)['address']
                return self.address
            except (IOError, OSError, ValueError, KeyError):
                if self.scheduler.poll() is not None:
                    break
                time.sleep(0.05)
        raise AssertionError('no Dask scheduler within %d s (see %s)' % (self.timeout,
                                                                           self.folder))

    def start_workers(self, count=2, env=None, preload=None):
        args = ['worker', self.address, '--nworkers', str(count), '--nthreads', '1',
                '--host', '127.0.0.1', '--no-dashboard', '--death-timeout', '60',
                '--local-directory', os.path.join(self.folder, 'dask-processes')]
        return self._start(args + (['--preload', preload] if preload else []), env)

    def wait_for_workers(self, count=2):
        from distributed import Client
        client = Client(self.address, timeout=self.timeout, set_as_default=False)
        try:
            client.wait_for_workers(count, timeout=self.timeout)
        finally:
            client.close(timeout=10)

    kill = staticmethod(end)

    def close(self):
        for p in self.procs:
            self.kill(p)
        self.procs = []


__all__ = ['Cluster', 'KillAlways', 'KillOnce', 'SmallShares', 'dask_missing', 'make',
           'make_tree']
