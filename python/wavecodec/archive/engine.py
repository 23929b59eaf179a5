"""Running a task over many files: batches of files handed to local worker processes or to a
Dask cluster, the results given back in the files' order whichever ran them.

A batch is the unit of work: several files, so that a process or a Dask task pays for its
start and its messages. A batch whose worker dies is run again file by file; a file that ends
its worker by itself is tried once more and then becomes a result with that fault."""
from ..errors import LibraryNotFoundError

# Files in a batch: at most this many, and few enough that each worker gets several batches
# (a worker that finishes early takes the next one).
MAX_BATCH = 64
BATCHES_PER_WORKER = 4


def batch_size(count, workers):
    per_worker = -(-count // max(1, workers * BATCHES_PER_WORKER))
    return max(1, min(MAX_BATCH, per_worker))


def batches(items, size):
    """[(first item's index, [items])] in order."""
    return [(start, items[start:start + size]) for start in range(0, len(items), size)]


def run_batch(task, items):
    """task(item) for each item, in order, each packed for the journey (task.pack; unpacked
    by the caller with task.unpack). An unexpected exception from one file becomes that file's
    result; a library that cannot be loaded stops the batch."""
    results = []
    for item in items:
        try:
            result = task(item)
        except LibraryNotFoundError:
            raise
        except Exception as e:  # noqa: B902 - any fault of one file is that file's result
            result = task.crashed(item, 'unexpected %s: %s'
                                  % (type(e).__name__, ' '.join(str(e).split())))
        results.append(task.pack(result))
    return results


def unpacked(task, packed):
    return [task.unpack(result) for result in packed]


class Ordered(object):
    """Results that arrive in any order, given back in item order as soon as they can be."""

    def __init__(self, count):
        self.count = count
        self.done = 0
        self._next = 0
        self._held = {}

    def add(self, first, results):
        for k, result in enumerate(results):
            self._held[first + k] = result
        self.done += len(results)

    def ready(self):
        while self._next in self._held:
            yield self._held.pop(self._next)
            self._next += 1


def run(task, items, client=None, jobs=None, progress=None, used=None):
    """Yields task(item) for every item, in order. `client`: a dask.distributed Client or a
    scheduler address; else up to `jobs` local processes (None: one per processor; 1: this
    process). `progress(done, total)` is called as results arrive; `used['processes']` is set
    to the number of local processes doing the work."""
    items = list(items)
    here = [k for k, item in enumerate(items) if task.here(item)]
    if here:
        return _with_some_here(task, items, here, client, jobs, progress, used)
    return _elsewhere(task, items, client, jobs, progress, used)


def _elsewhere(task, items, client, jobs, progress, used=None):
    if client is not None:
        from . import cluster
        return cluster.run(task, items, client, progress)
    from . import local
    return local.run(task, items, jobs, progress, used)


def _with_some_here(task, items, here, client, jobs, progress, used):
    """Items that only this process can read (standard input) run here first; the others go
    to the workers; all come back in item order."""
    mine = dict((k, task.unpack(run_batch(task, [items[k]])[0])) for k in here)
    others = [item for k, item in enumerate(items) if k not in mine]

    def counted(done, total):
        progress(done + len(mine), len(items))

    rest = _elsewhere(task, others, client, jobs, counted if progress else None, used)
    try:
        for k in range(len(items)):
            yield mine[k] if k in mine else next(rest)
    finally:
        close = getattr(rest, 'close', None)
        if close:
            close()
