"""Small helpers that let the package run unchanged under Python 2.7 and Python 3."""
import os
import sys
from array import array

PY2 = sys.version_info[0] == 2

if PY2:  # pragma: no cover - exercised by the 2.7 test run
    text_type = unicode  # noqa: F821
    string_types = (str, unicode)  # noqa: F821
    integer_types = (int, long)  # noqa: F821
else:
    text_type = str
    string_types = (str,)
    integer_types = (int,)

if array('i').itemsize != 4 or array('f').itemsize != 4:
    raise ImportError("wavecodec needs 32-bit 'i' and 'f' arrays on this platform")


def array_from_bytes(typecode, data):
    """A new array of `typecode` holding the bytes `data` (host byte order)."""
    a = array(typecode)
    if PY2:
        a.fromstring(data.tobytes() if isinstance(data, memoryview) else bytes(data))
    else:
        a.frombytes(data)
    return a


def array_to_bytes(a):
    return a.tostring() if PY2 else a.tobytes()


def native_str(data):
    """Bytes read from a file as the interpreter's native string type (Latin-1 on Python 3)."""
    if PY2:
        return data
    return data.decode('latin-1')


def to_bytes(text):
    """Native text as bytes for the C library; refuses characters beyond Latin-1."""
    if isinstance(text, bytes):
        return text
    return text.encode('latin-1')


def fspath(path):
    """os.fspath under both interpreters: a str, bytes or unicode name as given, a path-like
    object's own name (its __fspath__); TypeError for anything else."""
    if isinstance(path, string_types + (bytes,)):
        return path
    method = getattr(type(path), '__fspath__', None)
    name = method(path) if method is not None else None
    if not isinstance(name, string_types + (bytes,)):
        raise TypeError('expected a file name or path-like object, not %s'
                        % type(path).__name__)
    return name


def fs_path(path):
    """A file name as bytes for libc's fopen."""
    if isinstance(path, bytes):
        return path
    if PY2:
        return path.encode(sys.getfilesystemencoding() or 'utf-8')
    return os.fsencode(path)


def replace_file(source, target):
    """Renames `source` over `target` in one step (POSIX rename replaces the target)."""
    if PY2:
        os.rename(source, target)
    else:
        os.replace(source, target)


def export_lazily(namespace, public):
    """Gives the package whose globals are `namespace` the names `public` maps to (module,
    name there): under Python 3.7 and later the module is imported when one of its names is
    first used, so that a command loads only what it uses; older Pythons import them all now."""
    package = namespace['__name__']

    def load(name):
        from importlib import import_module
        module, attribute = public[name]
        value = getattr(import_module('.' + module, package), attribute)
        namespace[name] = value
        return value

    if sys.version_info >= (3, 7):
        def __getattr__(name):
            if name in public:
                return load(name)
            raise AttributeError('module %r has no attribute %r' % (package, name))

        def __dir__():
            return sorted(set(namespace) | set(public))

        namespace['__getattr__'] = __getattr__
        namespace['__dir__'] = __dir__
    else:
        for name in public:
            load(name)
