"""The files of an archive: folders walked recursively, names sorted, hidden names passed over."""
import fnmatch
import os
import stat

STDIO = '-'


class Listing(object):
    """What a walk found: `files` (each path as given, folders replaced by the files below
    them, in walk order), `roots` (for each file, the folder argument it was found under, or
    None for a file given itself), `sizes` (for each file, its bytes as the walk saw them, or
    None for a file given itself: the work is shared out by them), `empty` (folders holding
    no file to take) and `unlisted` ((folder, message) for folders that could not be listed:
    their files are unknown)."""

    def __init__(self):
        self.files = []
        self.roots = []
        self.sizes = []
        self.empty = []
        self.unlisted = []


def _message(e):
    where = getattr(e, 'filename', None)
    text = getattr(e, 'strerror', None) or str(e)
    return '%s: %s' % (where, text) if where else text


def collect(paths, pattern=None):
    """The Listing of `paths`. Folders are walked with their subfolders sorted and each
    folder's files before its subfolders; files whose name starts with '.' and, when `pattern`
    is given, those whose name does not match it are left out. A path that is not a folder is
    taken as it is, even when it does not exist: reading it reports the fault."""
    found = Listing()
    for path in paths:
        if path == STDIO or not os.path.isdir(path):
            found.files.append(path)
            found.roots.append(None)
            found.sizes.append(None)
            continue
        before = len(found.files)
        failed = []
        for folder, subdirs, names in os.walk(path, onerror=failed.append):
            subdirs[:] = sorted(d for d in subdirs if not d.startswith('.'))
            prefix = os.path.join(folder, '')   # os.path.join(folder, name) for every name
            for name in sorted(names):
                if name.startswith('.') or (pattern and not fnmatch.fnmatch(name, pattern)):
                    continue
                full = prefix + name
                # One stat for whether it is a file and for its size (links followed).
                try:
                    info = os.stat(full)
                except OSError:
                    continue
                if stat.S_ISREG(info.st_mode):
                    found.files.append(full)
                    found.roots.append(path)
                    found.sizes.append(info.st_size)
        for e in failed:
            found.unlisted.append((getattr(e, 'filename', None) or path, _message(e)))
        if len(found.files) == before and not failed:
            found.empty.append(path)
    return found


def mirrored(path, root, out_dir, suffix):
    """The output path of input `path` under `out_dir`: its place below its folder argument
    `root` (just its name for a file given itself), with its extension replaced by
    `suffix`. Standard input ('-') has no name to mirror: ValueError."""
    if path == STDIO:
        raise ValueError("'-' (standard input) has no name to give its output under %s: give "
                         "files or folders (gse2-to-mseed - -o FILE converts standard input)"
                         % out_dir)
    relative = os.path.basename(path) if root is None else os.path.relpath(path, root)
    if relative.startswith(os.pardir + os.sep) or os.path.isabs(relative):
        raise ValueError('%s is not below %s' % (path, root))
    stem, _ = os.path.splitext(relative)
    return os.path.join(out_dir, stem + suffix)


__all__ = ['Listing', 'collect', 'mirrored']
