"""Local worker processes (standard library only, Python 2.7 and 3).

Each worker has its own pipe: the parent hands it one batch at a time and waits on all pipes
with select(), so a worker that dies is seen at once (its pipe ends) and the parent knows which
files it held. Those files are run again one by one in a fresh worker; a file that ends its
worker twice becomes a result saying so. Workers ignore Ctrl-C: the parent stops them.

A worker encodes each file's result as soon as it is made, so that the file's objects are
freed before the next one (its memory stays in the pages it has; a batch of results kept whole
faulted fresh pages in with every batch, and a page fault costs tens of microseconds on a
virtual machine): as a marshal string where it can (the worker is a fork of this interpreter,
so both ends read it alike; several times quicker than a pickle), else as a pickle. The batch
goes back as one message.

A worker ends on SIGTERM as this process does on Ctrl-C: the exception unwinds the file being
written, whose temporary file is removed, and the parent waits for the worker to end, so no
output appears after the run has ended."""
import collections
import errno
import marshal
import os
import pickle
import select
import signal

from .batching import Ordered, run_one

# A file is tried this many times on its own before its result is the worker's death.
ATTEMPTS = 2
# Jobs handed to a worker ahead of their turn.
QUEUED = 2
# Input bytes below which another worker process costs more than it saves (short waveforms
# are checked at a few MB/s), and the least input of one batch handed to a worker.
MIN_BYTES_PER_PROCESS = 1 << 20
CHUNK_BYTES = 1 << 18
# Batches shrink as the work left does: each takes 1/(GUIDE x processes) of the input left
# (CHUNK_BYTES at least, MAX_FILES files at most), so that the first are large (few messages)
# and the last small (the processes end together).
GUIDE = 2
MAX_FILES = 512
# In one process, results are given back a batch at a time, once the batch's outputs are
# durable (task.finish: one fsync of each folder written, not one per file).
SERIAL_BATCH = 64
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


# A pickle (protocol 2 or later) opens with this byte; a marshal string never does (its first
# byte is a type code, or one with the 0x80 flag set).
_PICKLE = b'\x80'


def _encoded(value):
    try:
        return marshal.dumps(value)
    except ValueError:  # a type marshal does not take
        return pickle.dumps(value, pickle.HIGHEST_PROTOCOL)


def _decoded(data):
    return pickle.loads(data) if data[:1] == _PICKLE else marshal.loads(data)


def _run(task, items):
    """The reply to a batch: b'M' and the marshal string of the list of each item's encoded
    result (task.pack'ed)."""
    pack = task.pack
    try:
        reply = [_encoded(pack(run_one(task, item))) for item in items]
        for k, result in task.finish(items).items():
            reply[k] = _encoded(pack(result))
    except BaseException:
        task.abandon()
        raise
    return b'M' + marshal.dumps(reply)


def _raised(e):
    return b'P' + pickle.dumps(e, pickle.HIGHEST_PROTOCOL)


def _decode(task, data):
    """('ok', [results]) or ('raise', exception) of a reply made by _run or _raised."""
    if data[:1] == b'M':
        unpack = task.unpack
        return 'ok', [unpack(_decoded(part)) for part in marshal.loads(data[1:])]
    return 'raise', pickle.loads(data[1:])


def _terminated(signum, frame):
    raise SystemExit(128 + signum)


def _serve(conn, task):
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, _terminated)
    while True:
        try:
            job = conn.recv()
        except (EOFError, IOError, OSError):
            return
        if job is None:
            return
        try:
            reply = _run(task, job)
        except Exception as e:  # noqa: B902 - handed to the parent, which raises it
            reply = _raised(e)
        conn.send_bytes(reply)


class _Worker(object):
    def __init__(self, task):
        import multiprocessing  # here: a costly import that one process does without
        self.task = task
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

    def receive(self):
        """(status, value) of the worker's next reply; EOFError, IOError or OSError when it
        has died."""
        return _decode(self.task, self.conn.recv_bytes())

    def leave(self):
        """Tells an idle worker to leave (other workers hold copies of its pipe, so closing it
        is not seen); a busy one is ended by stop()."""
        try:
            if not self.jobs:
                self.conn.send(None)
            self.conn.close()
        except (IOError, OSError):
            pass

    def stop(self):
        """Ends the worker (after leave(): an idle one leaves by itself, a busy one is
        ended)."""
        if not self.conn.closed:
            self.leave()
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
    total = len(items)
    done = 0
    for first in range(0, total, SERIAL_BATCH):
        batch = items[first:first + SERIAL_BATCH]
        results = []
        try:
            for item in batch:
                results.append(run_one(task, item))
                done += 1
                if progress:
                    progress(done, total)
            for k, result in task.finish(batch).items():
                results[k] = result
        except BaseException:
            task.abandon()
            raise
        for result in results:
            yield result


def plan(task, items, jobs, sizes=None):
    """(processes, batches): how many worker processes pay for themselves on `items`, at most
    `jobs`, each given at least MIN_BYTES_PER_PROCESS of input; and the items cut into batches
    [(first index, items)] of consecutive items, each 1/(GUIDE x processes) of the input left
    (CHUNK_BYTES at least, MAX_FILES files at most): large first batches keep the messages
    few, small last ones let the processes end together. `sizes`: the bytes of each item where
    known (task.size asks for the others). One process: no batches."""
    if sizes is None:
        sizes = [None] * len(items)
    sizes = [task.size(item) if size is None else size for item, size in zip(items, sizes)]
    total = sum(sizes)
    processes = min(jobs, len(items), total // MIN_BYTES_PER_PROCESS)
    if processes <= 1:
        return 1, []
    batches = []
    left = total
    k = 0
    while k < len(items):
        share = max(CHUNK_BYTES, left // (GUIDE * processes))
        first = k
        held = 0
        while k < len(items) and held < share and k - first < MAX_FILES:
            held += sizes[k]
            k += 1
        batches.append((first, items[first:k]))
        left -= held
    return min(processes, len(batches)), batches


def run(task, items, jobs=None, progress=None, used=None, sizes=None):
    """Yields task(item) for every item, in order, from up to `jobs` processes (None: one per
    processor) as plan() decides; in this process when one is enough. `used['processes']` is
    set to the number of processes that do the work; `sizes` as for plan()."""
    jobs = processors() if jobs is None else jobs
    processes, batches = plan(task, items, jobs, sizes) if jobs > 1 else (1, [])
    if used is not None:
        used['processes'] = processes
    if processes <= 1:
        return _serial(task, items, progress)
    return _pool(task, items, processes, batches, progress)


def _feed(worker, pending):
    # Each worker holds up to QUEUED jobs, so that it starts the next one without waiting for
    # this process to be scheduled and answer (a busy machine delays that by milliseconds).
    while pending and len(worker.jobs) < QUEUED:
        worker.give(pending.popleft())


def _pool(task, items, processes, batches, progress):
    pending = collections.deque((first, batch, 0) for first, batch in batches)
    order = Ordered(len(items))
    workers = []
    try:
        # Each worker has its first jobs before the next one is started: it works meanwhile.
        for _ in range(processes):
            workers.append(_Worker(task))
            _feed(workers[-1], pending)
        while pending or any(w.jobs for w in workers):
            for worker in workers:
                _feed(worker, pending)
            for worker in _wait([w for w in workers if w.jobs]):
                try:
                    status, value = worker.receive()
                except (EOFError, IOError, OSError):
                    reason = worker.death()
                    workers[workers.index(worker)] = _Worker(task)
                    _retry(task, worker.jobs, reason, pending, order, progress, len(items))
                    continue
                if status == 'raise':
                    raise value
                first, batch, attempt = worker.jobs.popleft()
                order.add(first, value)
                if progress:
                    progress(order.done, len(items))
            for result in order.ready():
                yield result
    finally:
        # All are told to leave before any is waited for: they end side by side.
        for worker in workers:
            worker.leave()
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
