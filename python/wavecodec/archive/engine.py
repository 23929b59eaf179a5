"""Running a task over many files: batches of files handed to local worker processes or to a
Dask cluster, the results given back in the files' order whichever ran them.

A batch is the unit of work: several files, so that a process or a Dask task pays for its
start and its messages. A batch whose worker dies is run again file by file; a file that ends
its worker by itself is tried once more and then becomes a result with that fault."""
from ..errors import LibraryNotFoundError

# Dask batches: this many per worker, so that a worker that finishes early takes another
# (the scheduler moves queued tasks to idle workers), and few enough that each task's
# scheduling and result transfer stay small beside its work (with 2,000 small files on 2
# workers, 16 batches cost the calling process 0.2 s of processor time, 4 batches 0.1 s).
MAX_BATCH = 1000
BATCHES_PER_WORKER = 2


def batch_size(count, workers):
    per_worker = -(-count // max(1, workers * BATCHES_PER_WORKER))
    return max(1, min(MAX_BATCH, per_worker))


def batches(items, size):
    """[(first item's index, [items])] in order."""
    return [(start, items[start:start + size]) for start in range(0, len(items), size)]


def run_one(task, item):
    """task(item); an unexpected exception is the item's result (task.crashed), a library that
    cannot be loaded is raised."""
    try:
        return task(item)
    except LibraryNotFoundError:
        raise
    except Exception as e:  # noqa: B902 - any fault of one file is that file's result
        return task.crashed(item, 'unexpected %s: %s'
                            % (type(e).__name__, ' '.join(str(e).split())))


def run_batch(task, items):
    """run_one(task, item) for each item, in order, each packed for the journey (task.pack;
    unpacked by the caller with task.unpack)."""
    pack = task.pack
    return [pack(run_one(task, item)) for item in items]


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


def run(task, items, client=None, jobs=None, progress=None, used=None, sizes=None):
    """Yields task(item) for every item, in order. `client`: a dask.distributed Client or a
    scheduler address; else up to `jobs` local processes (None: one per processor; 1: this
    process). `progress(done, total)` is called as results arrive; `used['processes']` is set
    to the number of local processes doing the work. `sizes`: the input bytes of each item
    when known already (None where not), which spares asking the file system again."""
    items = list(items)
    here = [k for k, item in enumerate(items) if task.here(item)]
    if here:
        return _with_some_here(task, items, here, client, jobs, progress, used, sizes)
    return _elsewhere(task, items, client, jobs, progress, used, sizes)


def _elsewhere(task, items, client, jobs, progress, used=None, sizes=None):
    if client is not None:
        from . import cluster
        return cluster.run(task, items, client, progress)
    from . import local
    return local.run(task, items, jobs, progress, used, sizes)


def _with_some_here(task, items, here, client, jobs, progress, used, sizes):
    """Items that only this process can read (standard input) run here first; the others go
    to the workers; all come back in item order."""
    mine = dict((k, run_one(task, items[k])) for k in here)
    others = [item for k, item in enumerate(items) if k not in mine]
    if sizes is not None:
        sizes = [size for k, size in enumerate(sizes) if k not in mine]

    def counted(done, total):
        progress(done + len(mine), len(items))

    rest = _elsewhere(task, others, client, jobs, counted if progress else None, used, sizes)
    try:
        for k in range(len(items)):
            yield mine[k] if k in mine else next(rest)
    finally:
        close = getattr(rest, 'close', None)
        if close:
            close()
