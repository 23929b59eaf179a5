"""Running batches on a Dask cluster (dask.distributed): one future per batch of files, a few
large batches per worker thread.

The scheduler reruns the batch of a worker that is lost on another worker. A batch that keeps
killing its workers fails with KilledWorker; its files are then submitted one by one, and a
file that fails that way on its own gets that fault as its result. Every fault of the cluster
itself ends the run with one message naming the scheduler (ClusterError), within `timeout`
seconds: a scheduler that cannot be reached or has no worker, a scheduler lost mid-run,
workers that cannot import the package or load its libraries. The workers must reach the same
paths as this process (shared storage) and import the same wavecodec package.

Dask is imported when a run starts: a local run never pays for it."""
import os
import re
import time
import uuid

from ..compat import string_types
from ..errors import LibraryNotFoundError
from .batching import Ordered, batches, run_batch, unpacked

# Batches per worker thread: a worker that finishes early takes another (the scheduler moves
# queued tasks to idle workers), and each task's scheduling and result transfer stay small
# beside its work (with 2,000 small files on 2 workers, 16 batches cost the calling process
# 0.2 s of processor time, 4 batches 0.1 s). A batch holds at most MAX_BATCH files.
BATCHES_PER_WORKER = 2
MAX_BATCH = 1000
# A file alone is submitted this many times among others, then once with nothing else of the
# run beside it; when that fails too, its failure is its result.
ATTEMPTS = 2
# Seconds allowed to reach the scheduler, to find a worker, and to wait without one (the
# command's --timeout); and how often a run looks at the cluster when no result comes.
TIMEOUT = 10.0
POLL = 0.5
# The first pause when no result has come (doubled up to a quarter of POLL).
PAUSE = 0.005
# Schemes of Dask's scheduler addresses.
SCHEMES = ('tcp', 'tls', 'ws', 'wss', 'ucx', 'inproc')
_ADDRESS = re.compile(r'^(?:([a-z]+)://)?(\[[0-9A-Fa-f:.]+\]|[A-Za-z0-9_.-]+)(?::(\d{1,5}))?$')


class ClusterError(OSError):
    """A fault of the Dask cluster itself (not of one file): the run stops."""


def check_address(address):
    """Raises ValueError for a scheduler address that is not [SCHEME://]HOST[:PORT]."""
    m = _ADDRESS.match(address or '')
    if not m or (m.group(1) and m.group(1) not in SCHEMES) or \
            (m.group(3) is not None and not 0 < int(m.group(3)) < 65536):
        raise ValueError('%r is not a Dask scheduler address (SCHEME://HOST:PORT, e.g. '
                         'tcp://head:8786; schemes: %s)' % (address, ', '.join(SCHEMES)))


def batch_size(count, workers):
    per_worker = -(-count // max(1, workers * BATCHES_PER_WORKER))
    return max(1, min(MAX_BATCH, per_worker))


def _name(client):
    try:
        return client.scheduler.address
    except AttributeError:
        return 'the Dask scheduler'


def connect(where, timeout=TIMEOUT):
    """(client, whether it was made here and must be closed, the scheduler's address) for
    `where` (a Client or an address), once the scheduler has a worker; ClusterError after
    `timeout` seconds otherwise."""
    if isinstance(where, string_types):
        check_address(where)
        from distributed import Client
        try:
            client = Client(where, timeout=timeout, set_as_default=False)
        except (OSError, IOError, ValueError) as e:
            raise ClusterError('cannot reach the Dask scheduler %s within %g s: %s'
                               % (where, timeout, ' '.join(str(e).split())))
        owned, name = True, where
    else:
        client, owned, name = where, False, _name(where)
    try:
        if not _workers(client):
            try:
                client.wait_for_workers(1, timeout=timeout)
            except Exception:  # noqa: B902 - TimeoutError, or the scheduler went away
                raise ClusterError('the Dask scheduler %s has no workers (none joined within '
                                   '%g s)' % (name, timeout))
    except BaseException:
        if owned:
            close(client)
        raise
    return client, owned, name


def close(client):
    try:
        client.close(timeout=2)
    except Exception:  # noqa: B902 - a lost scheduler: nothing left to close
        pass


def _workers(client):
    """Worker threads the client knows of (its copy of the scheduler's state: no call)."""
    try:
        info = client.scheduler_info()
        return sum(w.get('nthreads', 1) for w in info.get('workers', {}).values())
    except Exception:  # noqa: B902 - a lost scheduler
        return 0


KILLED = 'the Dask workers reading it died (KilledWorker)'


def _systemic(e, name):
    """The ClusterError for exception `e` of a batch (not KilledWorker: no file of its own
    raises; run_one makes their faults results)."""
    text = ' '.join(str(e).split())
    if isinstance(e, ImportError) or "Can't get attribute" in text:
        return ClusterError('the Dask workers of %s cannot run wavecodec (%s: %s): install the '
                            'package and its libraries for the Python that runs them'
                            % (name, type(e).__name__, text))
    if isinstance(e, LibraryNotFoundError):
        return ClusterError('the Dask workers of %s: %s' % (name, text))
    return ClusterError('the Dask cluster of %s failed: %s: %s' % (name, type(e).__name__, text))


class _Run(object):
    def __init__(self, task, items, client, name, timeout, progress):
        self.task = task
        self.items = items
        self.client = client
        self.name = name
        self.timeout = timeout
        self.progress = progress
        self.futures = {}
        self.order = Ordered(len(items))
        self.lonely_since = None
        # Files that ended their workers ATTEMPTS times, to be run alone (first, [item]).
        self.isolated = []

    def submit(self, first, batch, attempt):
        future = self.client.submit(run_batch, self.task, batch, pure=False)
        self.futures[future] = (first, batch, attempt)

    def check(self):
        """Raises ClusterError when the scheduler is lost or has had no worker for
        `timeout` seconds."""
        status = getattr(self.client, 'status', 'running')
        if status not in ('running', 'newly-created'):
            raise self.lost()
        if _workers(self.client):
            self.lonely_since = None
        elif self.lonely_since is None:
            self.lonely_since = time.time()
        elif time.time() - self.lonely_since > self.timeout:
            raise ClusterError('the Dask scheduler %s has had no workers for %g s (%d of %d '
                               'files done)' % (self.name, self.timeout, self.order.done,
                                                len(self.items)))

    def lost(self):
        return ClusterError('lost the Dask scheduler %s mid-run (%d of %d files done)'
                            % (self.name, self.order.done, len(self.items)))

    def take(self, future):
        """(first index, results) of a done future; None when it must be waited for again,
        (first, None) when its files were submitted again."""
        first, batch, attempt = self.futures[future]
        if future.status == 'finished':
            try:
                packed = future.result(timeout=self.timeout)
            except Exception:  # noqa: B902 - its worker went away: it is computed again
                return None
            del self.futures[future]
            return first, unpacked(self.task, packed)
        if future.status == 'cancelled':
            raise self.lost()
        if future.status in ('pending', 'lost'):
            return None   # its worker was lost since it was seen done: computed again
        e = future.exception(timeout=self.timeout)
        if e is None:
            # Computed again after all (its worker was lost since it was seen done): its
            # result is taken when it is seen finished.
            return None
        del self.futures[future]
        if type(e).__name__ != 'KilledWorker':
            raise _systemic(e, self.name)
        # Which file failed is unknown: each is submitted on its own. A file alone is
        # submitted again, then run with nothing else of the run beside it: the scheduler
        # counts a lost worker against every task sent to it, not only against the one that
        # ended it, so only a file that ends its workers when alone is faulty.
        if len(batch) > 1 or attempt + 1 < ATTEMPTS:
            for k, item in enumerate(batch):
                self.submit(first + k, [item], attempt + 1 if len(batch) == 1 else 0)
        elif attempt < ATTEMPTS:
            self.isolated.append((first, batch))
        else:
            return first, [self.task.crashed(batch[0], KILLED)]
        return first, None

    def results(self):
        size = batch_size(len(self.items), _workers(self.client))
        for first, batch in batches(self.items, size):
            self.submit(first, batch, 0)
        quiet = time.time()
        pause = PAUSE
        while self.futures or self.isolated:
            if not self.futures:
                first, batch = self.isolated.pop(0)
                self.submit(first, batch, ATTEMPTS)
            # The futures' states are kept up to date by the client's own thread: looking at
            # them costs no call to the scheduler.
            done = [f for f in self.futures if f.status not in ('pending', 'lost')]
            if not done:
                time.sleep(pause)
                pause = min(2 * pause, POLL / 4)
                if time.time() - quiet >= POLL:
                    quiet = time.time()
                    self.check()
                continue
            quiet = time.time()
            pause = PAUSE
            self.lonely_since = None
            for future in done:
                taken = self.take(future)
                if taken is None or taken[1] is None:
                    continue
                self.order.add(*taken)
                if self.progress:
                    self.progress(self.order.done, len(self.items))
            for result in self.order.ready():
                yield result

    def stop(self):
        """Stops the run's tasks: a conversion's are told to stop (its stop flag) and waited
        for, up to `timeout` seconds, so that no output appears after the run has ended;
        the rest are cancelled."""
        futures = list(self.futures)
        flag = getattr(self.task, 'stop_flag', None)
        if flag is not None and futures:
            made = self.task.full(flag)
            try:
                open(made, 'w').close()
            except (IOError, OSError):
                made = None
            deadline = time.time() + self.timeout
            while time.time() < deadline and \
                    any(f.status in ('pending', 'lost') for f in futures) and \
                    getattr(self.client, 'status', 'running') == 'running':
                time.sleep(PAUSE * 4)
            if made is not None:
                try:
                    os.remove(made)
                except OSError:
                    pass
        if getattr(self.client, 'status', 'running') == 'running':
            try:
                self.client.cancel(futures, force=True)
            except Exception:  # noqa: B902 - a lost scheduler: nothing left to cancel
                pass
        self.futures.clear()


def stop_flag(out_dir):
    """A name for a conversion's stop flag in its output folder (hidden: walks pass it over)."""
    return os.path.join(out_dir, '.wavecodec-stop-%s' % uuid.uuid4().hex)


def run(task, items, where, progress=None, timeout=None):
    """Yields task(item) for every item, in order, computed on the cluster of `where` (a
    Client, or a scheduler address: a client is then made and closed here)."""
    timeout = TIMEOUT if timeout is None else timeout
    client, owned, name = connect(where, timeout)
    work = _Run(task, list(items), client, name, timeout, progress)
    ended = False
    try:
        for result in work.results():
            yield result
        ended = True
    finally:
        if not ended:
            work.stop()
        if owned:
            close(client)


__all__ = ['ClusterError', 'TIMEOUT', 'check_address', 'connect', 'run', 'stop_flag']
