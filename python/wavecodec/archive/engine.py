"""Running a task over many files: batches of files handed to local worker processes
(local.py) or to a Dask cluster (cluster.py), the results given back in the files' order
whichever ran them.

A batch is the unit of work: several files, so that a process or a Dask task pays for its
start and its messages. A batch whose worker dies is run again file by file; a file that ends
its worker by itself is tried once more and then becomes a result with that fault."""
from . import cluster, local
from .batching import run_one


def run(task, items, client=None, jobs=None, progress=None, used=None, sizes=None,
        timeout=None):
    """Yields task(item) for every item, in order. `client`: a dask.distributed Client or a
    scheduler address (`timeout`: seconds allowed to reach it and to find a worker; see
    cluster.run); else up to `jobs` local processes (None: one per processor; 1: this
    process). `progress(done, total)` is called as results arrive; `used['processes']` is set
    to the number of local processes doing the work. `sizes`: the input bytes of each item
    when known already (None where not), which spares asking the file system again."""
    items = list(items)
    here = [k for k, item in enumerate(items) if task.here(item)]
    if here:
        return _with_some_here(task, items, here, client, jobs, progress, used, sizes, timeout)
    return _elsewhere(task, items, client, jobs, progress, used, sizes, timeout)


def _elsewhere(task, items, client, jobs, progress, used=None, sizes=None, timeout=None):
    if client is not None:
        return cluster.run(task, items, client, progress, timeout)
    return local.run(task, items, jobs, progress, used, sizes)


def _with_some_here(task, items, here, client, jobs, progress, used, sizes, timeout):
    """Items that only this process can read (standard input) run here first; the others go
    to the workers; all come back in item order."""
    try:
        mine = dict((k, run_one(task, items[k])) for k in here)
        for j, result in task.finish([items[k] for k in here]).items():
            mine[here[j]] = result
    except BaseException:
        task.abandon()
        raise
    others = [item for k, item in enumerate(items) if k not in mine]
    if sizes is not None:
        sizes = [size for k, size in enumerate(sizes) if k not in mine]

    def counted(done, total):
        progress(done + len(mine), len(items))

    rest = _elsewhere(task, others, client, jobs, counted if progress else None, used, sizes,
                      timeout)
    try:
        for k in range(len(items)):
            yield mine[k] if k in mine else next(rest)
    finally:
        close = getattr(rest, 'close', None)
        if close:
            close()
