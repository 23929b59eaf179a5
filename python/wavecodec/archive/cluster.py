"""Running batches on a Dask cluster (dask.distributed): one future per batch of files, a few
large batches per worker (engine.batch_size).

The scheduler reruns the batch of a worker that is lost on another worker. A batch that keeps
killing its workers fails with KilledWorker; its files are then submitted one by one, and a
file that fails that way on its own gets that fault as its result. The workers must reach
the same paths as this process (shared storage) and import the same wavecodec package."""
from ..compat import string_types
from ..errors import LibraryNotFoundError
from . import engine


# A file alone is submitted this many times before its failure is its result.
ATTEMPTS = 2


def _reason(e):
    if type(e).__name__ == 'KilledWorker':
        return 'the Dask workers reading it died (KilledWorker)'
    return 'failed on the cluster: %s: %s' % (type(e).__name__, ' '.join(str(e).split()))


def _client(client):
    """(client, whether it was made here and must be closed)."""
    if isinstance(client, string_types):
        from distributed import Client
        return Client(client), True
    return client, False


def _workers(client):
    try:
        return max(1, sum(client.nthreads().values()))
    except Exception:  # noqa: B902 - only a hint for the batch size
        return 1


def run(task, items, client, progress=None):
    """Yields task(item) for every item, in order, computed on the cluster of `client`."""
    from distributed import as_completed
    client, owned = _client(client)
    futures = {}
    try:
        size = engine.batch_size(len(items), _workers(client))
        for first, batch in engine.batches(items, size):
            futures[client.submit(engine.run_batch, task, batch, pure=False)] = (first, batch, 0)
        order = engine.Ordered(len(items))
        # (as_completed(with_results=True) would fetch results in the background, but in
        # Debian's distributed 2022.12 a task that failed with KilledWorker never comes out
        # of it: each result is fetched here.)
        flow = as_completed(list(futures))
        for future in flow:
            first, batch, attempt = futures.pop(future)
            try:
                results = engine.unpacked(task, future.result())
            except LibraryNotFoundError:
                raise
            except Exception as e:  # noqa: B902 - lost workers, failed transfers
                # Which file failed is unknown: each is submitted on its own. A file alone
                # is submitted again once: the scheduler counts a lost worker against every
                # task queued on it, not only against the one that ended it.
                if len(batch) > 1 or attempt + 1 < ATTEMPTS:
                    for k, item in enumerate(batch):
                        again = client.submit(engine.run_batch, task, [item], pure=False)
                        futures[again] = (first + k, [item], attempt + 1 if len(batch) == 1
                                          else 0)
                        flow.add(again)
                    continue
                results = [task.crashed(batch[0], _reason(e))]
            order.add(first, results)
            if progress:
                progress(order.done, len(items))
            for result in order.ready():
                yield result
    finally:
        for future in list(futures):
            future.cancel()
        if owned:
            client.close()
