"""Archives of many files: an index of their waveforms, their verification and their
conversion, on local processes or on a Dask cluster, with the same results either way.

    from wavecodec import archive
    rows = archive.index(['/data/gse'], jobs=4)                  # IndexRow per waveform / file
    rows = archive.index(['/data/gse'], client='tcp://head:8786')
    checks = archive.verify(['/data/gse'], client=dask_client)    # FileCheck per file
    done = archive.convert(['/data/gse'], '/data/mseed', to='mseed')

`client` is a dask.distributed Client or a scheduler address; without it the work runs in
`jobs` local processes (None: one per processor, 1: this process only). Folders are walked
(names sorted, hidden names passed over). A file that vanished, cannot be read or ended its
worker is a result with its fault, never a lost run.
"""
import operator
import os

from . import engine, tasks, walk
from .tasks import Converted, FileCheck, IndexRow, kind_of
from .walk import collect

__all__ = ['Converted', 'FileCheck', 'IndexRow', 'collect', 'convert', 'index', 'kind_of',
           'verify']


def _folder_rows(listing, make, verb):
    """Results for folders that hold nothing to take or could not be listed: make(folder,
    message naming it)."""
    rows = [make(folder, '%s: no files to %s' % (folder, verb)) for folder in listing.empty]
    rows += [make(folder, text) for folder, text in listing.unlisted]
    return rows


def index(paths, client=None, jobs=None, pattern=None, progress=None):
    """IndexRow for every waveform of the GSE2 files (from their headers only, with the byte
    offset of the WID2 line) and for every SEG-Y or SU file (traces, samples per trace,
    interval, format code and byte order) under `paths`, sorted by (path, offset). A file that
    cannot be read is one row with `fault` set and no offset; a faulty waveform has its
    fault."""
    listing = collect(paths, pattern)
    rows = _folder_rows(listing, lambda folder, text: IndexRow(path=folder, kind='folder',
                                                               fault=text), 'index')
    for file_rows in engine.run(tasks.Index(), listing.files, client, jobs, progress,
                                sizes=listing.sizes):
        rows.extend(file_rows)
    if len(set(listing.files)) == len(listing.files):
        # A file's rows come in the order of their offsets (a row without one is the file's
        # only row): a stable sort by path alone is enough, and a C key keeps it quick.
        rows.sort(key=operator.itemgetter(0))
    else:
        # A file given twice: its two runs of rows interleave.
        rows.sort(key=lambda r: (r.path, -1 if r.offset is None else r.offset))
    return rows


def verify(paths, client=None, jobs=None, pattern=None, progress=None):
    """FileCheck(path, waveforms, faults, error) for every file under `paths`, in the order of
    the walk, each waveform decoded and its checksum compared: `faults` holds the messages of
    the faulty waveforms, `error` that of a file that could not be read. Folders with no file
    (or that could not be listed) come first, as checks with an error."""
    return list(iter_verify(collect(paths, pattern), client, jobs, progress))


def iter_verify(listing, client=None, jobs=None, progress=None, verb='verify', used=None):
    """verify() of a Listing, one FileCheck at a time as the results arrive in order (`used`:
    see engine.run)."""
    for check in _folder_rows(listing, lambda folder, text: FileCheck(folder, 0, [], text),
                              verb):
        yield check
    for check in engine.run(tasks.Verify(), listing.files, client, jobs, progress, used,
                            listing.sizes):
        yield check


SUFFIXES = {'mseed': '.mseed'}


def targets(listing, out_dir, to='mseed'):
    """The output path of each file of `listing` under `out_dir`, mirroring the input tree;
    ValueError when two inputs would share an output."""
    if to not in SUFFIXES:
        raise ValueError('cannot convert to %r (formats: %s)' % (to, ', '.join(sorted(SUFFIXES))))
    out = [walk.mirrored(path, root, out_dir, SUFFIXES[to])
           for path, root in zip(listing.files, listing.roots)]
    seen = {}
    for path, target in zip(listing.files, out):
        key = os.path.normcase(os.path.abspath(target))
        if key in seen:
            raise ValueError('%s and %s would both be written to %s' % (seen[key], path, target))
        seen[key] = path
    return out


def convert(paths, out_dir, to='mseed', client=None, jobs=None, pattern=None, progress=None,
            **options):
    """Converts every GSE2 file under `paths` to one file of format `to` under `out_dir`, the
    names mirroring the input tree (a folder's files keep their place below it, a file given
    itself goes to the top; the extension becomes .mseed). `options` go to the writer
    (wavecodec.mseed.write: record_length, encoding, network, location, quality). Returns
    Converted(path, target, waveforms, fault, extras) per file in the order of the walk: `fault`
    is None when written, the reason when not ('skipped: ...' for files of another format);
    `extras` counts by kind what the waveforms carry that miniSEED has no place for (EID2, BEA2,
    kept lines: gse2 Waveform.extras), None for nothing."""
    listing = collect(paths, pattern)
    pairs = list(zip(listing.files, targets(listing, out_dir, to)))
    rows = _folder_rows(listing, lambda folder, text: Converted(folder, None, 0, text),
                        'convert')
    rows.extend(engine.run(tasks.Convert(to, options), pairs, client, jobs, progress,
                           sizes=listing.sizes))
    return rows
