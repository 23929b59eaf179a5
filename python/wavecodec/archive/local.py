"""Local worker processes (standard library only, Python 2.7 and 3).

Each worker has its own pipe: the parent hands it one batch at a time and waits on all pipes
with select(), so a worker that dies is seen at once (its pipe ends) and the parent knows which
files it held. Those files are run again one by one in a fresh worker; a file that ends its
worker twice becomes a result saying so. Workers ignore Ctrl-C: the parent stops them."""
import collections
import errno
import os
import select
import signal

from . import engine

# A file is tried this many times on its own before its result is the worker's death.
ATTEMPTS = 2
# Jobs handed to a worker ahead of their turn.
QUEUED = 2
# Input bytes below which another worker process costs more than it saves (short waveforms
# are checked at a few MB/s), and the least input of one batch handed to a worker.
MIN_BYTES_PER_PROCESS = 1 << 20
CHUNK_BYTES = 1 << 18
# Signal names by number (SIGKILL, ...), for the reason of a worker's death.
# (Names sorted: of two names of one signal the first alphabetically wins, SIGABRT over SIGIOT.)
SIGNALS = {}
for _name in sorted(dir(signal)):
    if _name.startswith('SIG') and not _name.startswith('SIG_'):
        SIGNALS.setdefault(int(getattr(signal, _name)), _name)


def processors():
    import multiprocessing  # here: a costly import that one process does without
    try:
        return multiprocessing.cpu_count()
    except NotImplementedError:
        return 1


def _serve(conn, task):
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, signal.SIG_DFL)
    while True:
        try:
            job = conn.recv()
        except (EOFError, IOError, OSError):
            return
        if job is None:
            return
        try:
            reply = ('ok', engine.run_batch(task, job))
        except Exception as e:  # noqa: B902 - handed to the parent, which raises it
            reply = ('raise', e)
        conn.send(reply)


class _Worker(object):
    def __init__(self, task):
        import multiprocessing  # here: a costly import that one process does without
        self.conn, child = multiprocessing.Pipe()
        self.process = multiprocessing.Process(target=_serve, args=(child, task))
        self.process.daemon = True
        self.process.start()
        # Only the worker holds its end now: when it dies, the parent's end reads EOF.
        child.close()
        # Jobs handed over and not answered yet, the one being run first: (first index,
        # items, attempt).
        self.jobs = collections.deque()

    def give(self, job):
        self.jobs.append(job)
        try:
            self.conn.send(job[1])
        except (IOError, OSError):
            # The worker has died: its pipe's end shows it, and the job is retried with the
            # others it holds.
            pass

    def death(self):
        """Why the worker ended, after its pipe has closed."""
        self.process.join(5)
        code = self.process.exitcode
        if code is None:
            self.stop()
            code = self.process.exitcode
        if code is not None and code < 0:
            return 'the worker process reading it was killed (%s)' % SIGNALS.get(
                -code, 'signal %d' % -code)
        return 'the worker process reading it ended (exit status %s)' % code

    def stop(self):
        """Ends the worker: an idle one is told to leave (other workers hold copies of its
        pipe, so closing it is not seen), a busy one is ended."""
        try:
            if not self.jobs:
                self.conn.send(None)
            self.conn.close()
        except (IOError, OSError):
            pass
        if not self.jobs:
            self.process.join(1)
        if self.process.is_alive():
            self.process.terminate()
            self.process.join(5)
        if self.process.is_alive():
            os.kill(self.process.pid, signal.SIGKILL)
        self.process.join()


def _wait(workers):
    while True:
        try:
            ready, _, _ = select.select([w.conn for w in workers], [], [])
            return [w for w in workers if w.conn in ready]
        except (IOError, OSError, select.error) as e:
            if (e.args[0] if e.args else None) != errno.EINTR:
                raise


def _serial(task, items, progress):
    for k, item in enumerate(items, 1):
        result = task.unpack(engine.run_batch(task, [item])[0])
        if progress:
            progress(k, len(items))
        yield result


def plan(task, items, jobs):
    """(processes, batches): how many worker processes pay for themselves on `items`, at most
    `jobs`, each given at least MIN_BYTES_PER_PROCESS of input; and the items cut into batches
    [(first index, items)] of consecutive items of about a quarter of a process's share
    (CHUNK_BYTES at least, MAX_BATCH files at most), so that a process's start and each
    batch's round trip are small beside its work and the processes still end together. One
    process: no batches."""
    sizes = [task.size(item) for item in items]
    total = sum(sizes)
    processes = min(jobs, len(items), total // MIN_BYTES_PER_PROCESS)
    if processes <= 1:
        return 1, []
    share = max(CHUNK_BYTES, total // (4 * processes))
    batches = [(0, [])]
    held = 0
    for k, (item, size) in enumerate(zip(items, sizes)):
        if held >= share or len(batches[-1][1]) >= engine.MAX_BATCH:
            batches.append((k, []))
            held = 0
        batches[-1][1].append(item)
        held += size
    return min(processes, len(batches)), batches


def run(task, items, jobs=None, progress=None, used=None):
    """Yields task(item) for every item, in order, from up to `jobs` processes (None: one per
    processor) as plan() decides; in this process when one is enough. `used['processes']` is
    set to the number of processes that do the work."""
    jobs = processors() if jobs is None else jobs
    processes, batches = plan(task, items, jobs) if jobs > 1 else (1, [])
    if used is not None:
        used['processes'] = processes
    if processes <= 1:
        return _serial(task, items, progress)
    return _pool(task, items, processes, batches, progress)


def _pool(task, items, processes, batches, progress):
    workers = [_Worker(task) for _ in range(processes)]
    pending = collections.deque((first, batch, 0) for first, batch in batches)
    order = engine.Ordered(len(items))
    try:
        while pending or any(w.jobs for w in workers):
            # Each worker holds up to QUEUED jobs, so that it starts the next one without
            # waiting for this process to be scheduled and answer (a busy machine delays that
            # by milliseconds).
            for worker in workers:
                while pending and len(worker.jobs) < QUEUED:
                    worker.give(pending.popleft())
            for worker in _wait([w for w in workers if w.jobs]):
                try:
                    status, value = worker.conn.recv()
                except (EOFError, IOError, OSError):
                    reason = worker.death()
                    workers[workers.index(worker)] = _Worker(task)
                    _retry(task, worker.jobs, reason, pending, order, progress, len(items))
                    continue
                if status == 'raise':
                    raise value
                first, batch, attempt = worker.jobs.popleft()
                order.add(first, engine.unpacked(task, value))
                if progress:
                    progress(order.done, len(items))
            for result in order.ready():
                yield result
    finally:
        for worker in workers:
            worker.stop()


def _retry(task, jobs, reason, pending, order, progress, total):
    """The jobs of a worker that died: the first was running. Its files are run again one
    by one (which of them ended the worker is unknown); a file that ends its worker ATTEMPTS
    times is a result with `reason`. The jobs after it had not started: they go back as they
    are."""
    first, batch, attempt = jobs.popleft()
    pending.extendleft(reversed(jobs))
    if len(batch) > 1:
        pending.extendleft(reversed([(first + k, [item], 0) for k, item in enumerate(batch)]))
    elif attempt + 1 < ATTEMPTS:
        pending.appendleft((first, batch, attempt + 1))
    else:
        order.add(first, [task.crashed(batch[0], reason)])
        if progress:
            progress(order.done, total)
