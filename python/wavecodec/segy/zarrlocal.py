"""The blocks of an ingest (zarringest.py) in `jobs` local worker processes, a pool made and ended
by the ingest; a process that dies has its blocks run again.
"""
import multiprocessing
import threading

from ..errors import FormatError
from . import zarrblocks as zb, zarrstore as zs


# Times the blocks of a local process that died run again before the ingest fails.
RETRIES = 3
_SOURCES = {}   # in a local worker process: the Source of the ingest it works for


def _local_block(job, block, grid):
    """One block in a local worker process, which maps the source once for all its blocks."""
    key = (job.source, job.stamp, job.store)
    if key not in _SOURCES:
        for source in _SOURCES.values():
            source.close()
        _SOURCES.clear()
        _SOURCES[key] = zs.Source(job)
    job.kept = _SOURCES[key]
    return zb.ingest_block(job, block, grid)


def _start_method():
    """How local worker processes start: forked from this process when it runs no other
    thread (at once, with what it has imported), else by a fork server (a fresh process that
    imports the package once), else spawned."""
    methods = multiprocessing.get_all_start_methods()
    if 'fork' in methods and threading.active_count() == 1:
        return 'fork'
    return 'forkserver' if 'forkserver' in methods else 'spawn'


class Processes(object):
    """`jobs` local worker processes (concurrent.futures) for the blocks, made and ended by the
    ingest. A process that dies (killed, out of memory) takes its pool down: the blocks not yet
    done run again in a new one. A block left undone by RETRIES + 1 such deaths then runs alone
    in a process of its own: if that one dies too, the block is named in a FormatError; else the
    ingest goes on. Every block done is the bytes a serial run writes."""

    def __init__(self, jobs):
        self.jobs = jobs
        self.context = multiprocessing.get_context(_start_method())

    def _round(self, plan, todo, jobs, results, progress):
        """Runs blocks `todo` in a pool of `jobs` processes; the blocks a death left undone."""
        from concurrent.futures import ProcessPoolExecutor, as_completed
        from concurrent.futures.process import BrokenProcessPool
        undone = []
        pool = ProcessPoolExecutor(jobs, mp_context=self.context)
        futures = {}
        try:
            for k in todo:
                block = plan.blocks[k]
                futures[pool.submit(_local_block, plan.job, block, plan.grid(block))] = k
            for future in as_completed(futures):
                try:
                    results[futures[future]] = future.result()
                except BrokenProcessPool:
                    undone.append(futures[future])
                    continue
                if progress:
                    progress(len(results), len(plan.blocks))
        finally:
            for future in futures:
                future.cancel()
            pool.shutdown(wait=True)   # no process still writes when this returns
        return sorted(undone)

    def run(self, plan, progress):
        results, lost = {}, {}
        todo = list(range(len(plan.blocks)))
        while todo:
            todo = self._round(plan, todo, min(self.jobs, len(todo)), results, progress)
            for k in todo:
                lost[k] = lost.get(k, 0) + 1
                if lost[k] > RETRIES and self._round(plan, [k], 1, results, progress):
                    raise FormatError('%s: block %r: the local process running it died %d '
                                      'times, the last time alone (killed, or out of memory?)'
                                      % (plan.f.name, plan.blocks[k], lost[k] + 1))
            todo = [k for k in todo if k not in results]
        return [results[k] for k in range(len(plan.blocks))]


__all__ = ['Processes', 'RETRIES']
