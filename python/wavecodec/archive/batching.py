"""What local processes and a Dask cluster share when they run a task over many items: one
item's run with its faults kept as its result, a batch of items, and results given back in item
order whichever worker ran them."""
from ..errors import LibraryNotFoundError


class Stopped(Exception):
    """The run was told to stop (Ctrl-C, SIGTERM): raised inside a task that checks for it."""


def batches(items, size):
    """[(first item's index, [items])] in order."""
    return [(start, items[start:start + size]) for start in range(0, len(items), size)]


def run_one(task, item):
    """task(item); an unexpected exception is the item's result (task.crashed); a library that
    cannot be loaded, and a stop, are raised."""
    try:
        return task(item)
    except (LibraryNotFoundError, Stopped):
        raise
    except Exception as e:  # noqa: B902 - any fault of one file is that file's result
        return task.crashed(item, 'unexpected %s: %s'
                            % (type(e).__name__, ' '.join(str(e).split())))


def run_batch(task, items):
    """run_one(task, item) for each item, in order, each packed for the journey (task.pack;
    unpacked by the caller with task.unpack), then task.finish(items): a conversion commits
    its outputs there, and a file whose output could not be committed gets that fault. On any
    exception (a stop, Ctrl-C) task.abandon() removes what was not committed."""
    pack = task.pack
    try:
        results = [pack(run_one(task, item)) for item in items]
        for k, result in task.finish(items).items():
            results[k] = pack(result)
    except BaseException:
        task.abandon()
        raise
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


__all__ = ['Ordered', 'Stopped', 'batches', 'run_batch', 'run_one', 'unpacked']
