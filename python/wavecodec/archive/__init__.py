"""Archives of many files: an index of their waveforms, their verification and their
conversion, on local processes or on a Dask cluster, with the same results either way.

    from wavecodec import archive
    rows = archive.index(['/data/gse'], jobs=4)                  # IndexRow per waveform / file
    rows = archive.index(['/data/gse'], client='tcp://head:8786')
    checks = archive.verify(['/data/gse'], client=dask_client)    # FileCheck per file
    done = archive.convert(['/data/gse'], '/data/mseed', to='mseed')

`client` is a dask.distributed Client or a scheduler address (`timeout`: seconds allowed to
reach it and find a worker); without it the work runs in `jobs` local processes (None: one per
processor, 1: this process only). Folders are walked (walk.py): every entry is a result, read
or a fault naming it, except those passed over for a stated reason (hidden names, --glob,
--exclude). Results come in the order of the walk. A file that vanished, cannot be read or
ended its worker is a result with its fault, never a lost run.
"""
from . import cluster, engine, tasks, walk
from .conversion import SUFFIXES, UP_TO_DATE, Convert, targets, up_to_date
from .tasks import Converted, FileCheck, IndexRow, Selection
from .walk import collect

__all__ = ['Converted', 'FileCheck', 'IndexRow', 'Selection', 'collect', 'convert', 'index',
           'iter_convert', 'iter_index', 'iter_verify', 'verify']


def _merged(listing, results, row, verb):
    """The rows of a run in walk order: row(path, kind, message) for the folder arguments
    with nothing to take (first) and for each entry that is a fault, the next of `results`
    for each file."""
    try:
        for folder in listing.empty:
            yield row(folder, 'folder', '%s: no files to %s' % (folder, verb))
        for entry in listing.entries:
            if entry.fault is not None:
                yield row(entry.path, entry.kind, entry.fault)
            else:
                yield next(results)
    finally:
        # Ends the workers now, not when the generator is collected.
        close = getattr(results, 'close', None)
        if close:
            close()


def _for(task, listing):
    task.streams = frozenset(listing.streams)
    return task


def iter_index(listing, client=None, jobs=None, progress=None, select=None, verify=False,
               timeout=None):
    """The rows of index() of a Listing, a list per entry, as they come (in walk order)."""
    task = _for(tasks.Index(select, verify), listing)
    return _merged(listing, engine.run(task, listing.files, client, jobs, progress,
                                       sizes=listing.sizes, timeout=timeout),
                   lambda path, kind, text: [IndexRow(path=path, kind=kind, fault=text)],
                   'index')


def index(paths, client=None, jobs=None, pattern=None, progress=None, exclude=(), follow=True,
          select=None, verify=False, timeout=None):
    """IndexRow for every waveform of the GSE2 files (from their headers only, with the byte
    offset of the WID2 line; decoded and their checksums compared with `verify`, which sets
    `checked`) and for every SEG-Y or SU file (traces, samples per trace, interval, format
    code and byte order) under `paths`, in walk order, a file's rows in offset order. A file
    or entry that cannot be read is one row with `fault` set and no offset; a faulty waveform
    has its fault. `select`: a Selection of the waveforms taken; `exclude`, `follow`: see
    walk.collect."""
    listing = collect(paths, pattern, exclude, follow)
    rows = []
    for file_rows in iter_index(listing, client, jobs, progress, select, verify, timeout):
        rows.extend(file_rows)
    return rows


def verify(paths, client=None, jobs=None, pattern=None, progress=None, exclude=(),
           follow=True, select=None, timeout=None):
    """FileCheck(path, waveforms, faults, error) for every file under `paths`, in the order of
    the walk, each waveform decoded and its checksum compared: `faults` holds the messages of
    the faulty waveforms, `error` that of a file or entry that could not be read. Folder
    arguments with no file come first, as checks with an error."""
    return list(iter_verify(collect(paths, pattern, exclude, follow), client, jobs, progress,
                            select=select, timeout=timeout))


def iter_verify(listing, client=None, jobs=None, progress=None, verb='verify', used=None,
                select=None, timeout=None):
    """verify() of a Listing, one FileCheck at a time as the results arrive in order (`used`:
    see engine.run)."""
    return _merged(listing, engine.run(_for(tasks.Verify(select), listing), listing.files,
                                       client, jobs, progress, used, listing.sizes, timeout),
                   lambda path, kind, text: FileCheck(path, 0, [], text), verb)


def listing_for(paths, out_dir, to='mseed', pattern=None, exclude=(), follow=True):
    """The Listing of a conversion's inputs: its outputs, where the output folder lies in
    the input tree, are passed over."""
    if to not in SUFFIXES:
        raise ValueError('cannot convert to %r (formats: %s)' % (to, ', '.join(sorted(SUFFIXES))))
    return collect(paths, pattern, exclude, follow, outputs=(out_dir, SUFFIXES[to]))


def iter_convert(listing, out_dir, to='mseed', client=None, jobs=None, progress=None,
                 select=None, skip_existing=False, timeout=None, **options):
    """convert() of a Listing (made by listing_for), one Converted at a time."""
    pairs = list(zip(listing.files, targets(listing, out_dir, to)))
    fresh = [True] * len(pairs)
    if skip_existing:
        length = options.get('record_length') or 4096
        fresh = [path == walk.STDIO or not up_to_date(path, mtime, target, length)
                 for (path, target), mtime in zip(pairs, listing.mtimes)]
    task = _for(Convert(to, options, select), listing)
    if client is not None:
        task.stop_flag = cluster.stop_flag(out_dir)
    sizes = [size for size, new in zip(listing.sizes, fresh) if new]
    work = engine.run(task, [pair for pair, new in zip(pairs, fresh) if new], client, jobs,
                      progress, sizes=sizes, timeout=timeout)
    results = _with_skipped(pairs, fresh, work)
    return _merged(listing, results, lambda path, kind, text: Converted(path, None, 0, text),
                   'convert')


def _with_skipped(pairs, fresh, work):
    try:
        for (path, target), new in zip(pairs, fresh):
            yield next(work) if new else Converted(path, target, 0, UP_TO_DATE)
    finally:
        close = getattr(work, 'close', None)
        if close:
            close()


def convert(paths, out_dir, to='mseed', client=None, jobs=None, pattern=None, progress=None,
            exclude=(), follow=True, select=None, skip_existing=False, timeout=None,
            **options):
    """Converts every GSE2 file under `paths` to one file of format `to` under `out_dir`, the
    names mirroring the input tree (a folder's files keep their place below it, a file given
    itself goes to the top; the extension becomes .mseed). `options` go to the writer
    (wavecodec.mseed.write: record_length, encoding, network, location, quality). Returns
    Converted(path, target, waveforms, fault, extras) per file in the order of the walk: `fault` is None
    when written, the reason when not ('skipped: ...' for files of another format, files with
    no waveform selected, and with `skip_existing` outputs newer than their input and
    complete). The outputs are never taken as inputs: `out_dir` may be an input folder."""
    listing = listing_for(paths, out_dir, to, pattern, exclude, follow)
    return list(iter_convert(listing, out_dir, to, client, jobs, progress, select,
                             skip_existing, timeout, **options))
