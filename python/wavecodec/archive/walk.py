"""The files of an archive: folders walked recursively, names sorted, each folder's files before
its subfolders. Every entry the walk meets is accounted for: a file to read, a fault naming it
(a FIFO, socket or device, a dangling link, a link loop, an entry that cannot be examined, a
folder that cannot be listed), or an entry passed over for a stated reason (counted in
Listing.passed: hidden names, names not matching --glob or matching --exclude, linked folders
not followed or walked already, the outputs of a conversion)."""
import collections
import errno
import fnmatch
import os
import stat

STDIO = '-'

# Why entries were passed over (Listing.passed), as the summaries name them.
HIDDEN = 'hidden'
NOT_MATCHING = 'not matching --glob'
EXCLUDED = 'matching --exclude'
NOT_FOLLOWED = 'linked folder(s) not followed (--no-follow)'
WALKED = 'linked folder(s) walked already'
OUTPUTS = 'output(s) of this run'

# The kinds of entries that are not read, by their mode.
_NOT_READ = ((stat.S_ISFIFO, 'fifo', 'a FIFO'), (stat.S_ISSOCK, 'socket', 'a socket'),
             (stat.S_ISCHR, 'device', 'a character device'),
             (stat.S_ISBLK, 'device', 'a block device'))

# One entry: `fault` is None for a file to read (`size` and `mtime` from the walk's stat; None
# for a path given itself), else the message naming the entry; `kind` is 'file', 'folder',
# 'link', 'fifo', 'socket' or 'device', or 'stream' for standard input, a FIFO or a device
# given itself (read to its end, by the calling process: a FIFO met in a folder is a fault).
Entry = collections.namedtuple('Entry', 'path root size mtime fault kind')


class Listing(object):
    """What a walk found: `entries` in walk order; `passed` ({reason: count}); `empty` (the
    folder arguments holding nothing to take). `files`, `roots`, `sizes` and `mtimes`: those
    of the entries to read (roots: the folder argument a file was found under, None for a
    path given itself)."""

    def __init__(self):
        self.entries = []
        self.passed = collections.Counter()
        self.empty = []

    def _of_files(self, field):
        return [getattr(e, field) for e in self.entries if e.fault is None]

    @property
    def files(self):
        return self._of_files('path')

    @property
    def roots(self):
        return self._of_files('root')

    @property
    def sizes(self):
        return self._of_files('size')

    @property
    def mtimes(self):
        return self._of_files('mtime')

    @property
    def streams(self):
        """The inputs given themselves that are streams: standard input, FIFOs, devices."""
        return [e.path for e in self.entries if e.kind == 'stream' and e.fault is None]


def _reason(e):
    return getattr(e, 'strerror', None) or str(e)


class _Walk(object):
    def __init__(self, found, root, pattern, exclude, follow, outputs, skip):
        self.found = found
        self.skip = skip
        self.root = root
        self.pattern = pattern
        self.exclude = exclude
        self.follow = follow
        # (device, inode) of the output folder, and the suffix of its outputs.
        self.out_folder, self.out_suffix = outputs or (None, None)
        self.seen = set()
        # Every path of the walk begins with this (its place below the folder argument after).
        self.prefix = os.path.join(root, '')

    def excluded(self, path, name):
        relative = path[len(self.prefix):]
        return any(fnmatch.fnmatch(name, p) or fnmatch.fnmatch(relative, p)
                   for p in self.exclude)

    def fault(self, path, kind, text):
        self.found.entries.append(Entry(path, self.root, None, None, '%s: %s' % (path, text),
                                        kind))

    def folder(self, path, info, ancestors, in_output):
        """Walks folder `path` (its os.stat `info`); `ancestors`: the (device, inode) of the
        folders above it on this road."""
        key = (info.st_dev, info.st_ino)
        self.seen.add(key)
        in_output = in_output or key == self.out_folder
        try:
            names = sorted(os.listdir(path))
        except OSError as e:
            self.fault(path, 'folder', _reason(e))
            return
        prefix = os.path.join(path, '')
        subfolders = []
        for name in names:
            full = prefix + name
            if name.startswith('.'):
                self.found.passed[HIDDEN] += 1
                continue
            if self.exclude and self.excluded(full, name):
                self.found.passed[EXCLUDED] += 1
                continue
            entry = self.entry(full, name, in_output)
            if entry is not None:
                subfolders.append(entry)
        inner = ancestors | set([key])
        for full, sub in subfolders:
            sub_key = (sub.st_dev, sub.st_ino)
            if sub_key in inner:
                self.fault(full, 'link', 'a link loop: it leads back to a folder above it')
            elif sub_key == self.out_folder and not in_output:
                self.found.passed[OUTPUTS] += 1
            elif sub_key in self.seen:
                self.found.passed[WALKED] += 1
            else:
                self.folder(full, sub, inner, in_output)

    def entry(self, full, name, in_output):
        """Takes one entry of a folder: a file becomes an Entry, a fault a faulty Entry;
        returns (path, os.stat) for a subfolder to walk."""
        try:
            info = os.lstat(full)
        except OSError as e:
            self.fault(full, 'file', _reason(e))
            return None
        linked = stat.S_ISLNK(info.st_mode)
        if linked:
            try:
                info = os.stat(full)
            except OSError as e:
                try:
                    target = os.readlink(full)
                except OSError:
                    target = '?'
                if e.errno == errno.ENOENT:
                    self.fault(full, 'link', 'a dangling link (to %s)' % target)
                elif e.errno == errno.ELOOP:
                    self.fault(full, 'link', 'a link loop (to %s)' % target)
                else:
                    self.fault(full, 'link', '%s (a link to %s)' % (_reason(e), target))
                return None
        mode = info.st_mode
        if stat.S_ISDIR(mode):
            if linked and not self.follow:
                self.found.passed[NOT_FOLLOWED] += 1
                return None
            return full, info
        if stat.S_ISREG(mode):
            if self.pattern and not fnmatch.fnmatch(name, self.pattern):
                self.found.passed[NOT_MATCHING] += 1
            elif (in_output and name.endswith(self.out_suffix)) or \
                    (info.st_dev, info.st_ino) in self.skip:
                self.found.passed[OUTPUTS] += 1
            else:
                self.found.entries.append(Entry(full, self.root, info.st_size, info.st_mtime,
                                                None, 'file'))
            return None
        for test, kind, what in _NOT_READ:
            if test(mode):
                self.fault(full, kind, '%s%s: not read' % (what, ' (through a link)'
                                                           if linked else ''))
                return None
        self.fault(full, 'file', 'not a regular file (mode %o): not read' % mode)
        return None


def _given_kind(path):
    """'stream' for standard input, and for a FIFO or character device given itself: read to
    its end by the calling process; 'file' otherwise."""
    if path == STDIO:
        return 'stream'
    try:
        mode = os.stat(path).st_mode
    except OSError:
        return 'file'
    return 'stream' if stat.S_ISFIFO(mode) or stat.S_ISCHR(mode) else 'file'


def collect(paths, pattern=None, exclude=(), follow=True, outputs=None, skip=()):
    """The Listing of `paths`. Folders are walked (see the module text); files whose name
    starts with '.', whose name does not match `pattern` (when given), or whose name or path
    below the folder argument matches one of the `exclude` patterns are passed over (folders
    too, for the last). Linked folders are followed once (`follow`), a link back to a folder
    above it being a fault. `outputs`: (folder, suffix) of a conversion's outputs: that folder,
    found inside a folder argument, is passed over, and so are the files ending in `suffix`
    below it when it is a folder argument itself. `skip`: paths of the run's own outputs,
    passed over where the walk meets them. A path that is not a folder is taken as it is,
    even when it does not exist: reading it reports the fault."""
    found = Listing()
    skipped = set()
    for path in skip:
        try:
            info = os.stat(path)
            skipped.add((info.st_dev, info.st_ino))
        except OSError:
            pass
    out = None
    if outputs is not None:
        try:
            info = os.stat(outputs[0])
            out = ((info.st_dev, info.st_ino), outputs[1])
        except OSError:
            out = None
    for path in paths:
        if path == STDIO or not os.path.isdir(path):
            found.entries.append(Entry(path, None, None, None, None, _given_kind(path)))
            continue
        before = len(found.entries)
        walk = _Walk(found, path, pattern, tuple(exclude or ()), follow, out, skipped)
        try:
            info = os.stat(path)
        except OSError as e:
            walk.fault(path, 'folder', _reason(e))
            continue
        walk.folder(path, info, frozenset(), False)
        if len(found.entries) == before:
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


__all__ = ['Entry', 'Listing', 'collect', 'mirrored']
