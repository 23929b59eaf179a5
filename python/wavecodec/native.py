"""Loading of libwavecodec, libibmfloat and libc through ctypes, each function the package calls
declared (the package and its libraries ship together: a library without one is refused).

Search order for each library: an explicit path given to load_wavecodec/load_ibmfloat, then the
environment variable (WAVECODEC_LIBRARY / IBMFLOAT_LIBRARY, a full path), then the installed
locations (next to this package, the interpreter prefix's lib directories, the dynamic loader's
own search), then the build tree of a checkout (build/release). An explicit path or an
environment variable that is set must load: a wrong one is an error, never silently passed over.
"""
import ctypes
import os
import sys
import threading

from .errors import LibraryNotFoundError

PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))
CHECKOUT_DIR = os.path.dirname(os.path.dirname(PACKAGE_DIR))

_lock = threading.Lock()
_loaded = {}


class DiffState(ctypes.Structure):
    """The C library's diff_2nd_state: one series' differencing state for diff_2nd_r, owned by
    the caller (the two latest input samples; zeros start a new series)."""
    _fields_ = [
        ('second_last', ctypes.c_int32),
        ('last', ctypes.c_int32),
    ]


# Sample arrays (int32_t *) are passed as addresses (see int_pointer).
_c_int_p = ctypes.c_void_p


def _declare_wavecodec(lib):
    """The functions the package calls (the tests declare the others they call themselves)."""
    lib.compress_6b_lines.argtypes = [_c_int_p, ctypes.c_int, ctypes.c_int,
                                      ctypes.POINTER(ctypes.c_int), ctypes.c_void_p,
                                      ctypes.c_size_t, ctypes.POINTER(ctypes.c_size_t),
                                      ctypes.POINTER(ctypes.c_int)]
    lib.compress_6b_lines.restype = ctypes.c_int
    lib.decomp_6b_chars.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int, _c_int_p,
                                    ctypes.POINTER(ctypes.c_size_t)]
    lib.decomp_6b_chars.restype = ctypes.c_int
    lib.diff_2nd.argtypes = [_c_int_p, ctypes.c_int, ctypes.c_int]
    lib.diff_2nd.restype = None
    lib.diff_2nd_r.argtypes = [ctypes.POINTER(DiffState), _c_int_p, ctypes.c_int, ctypes.c_int]
    lib.diff_2nd_r.restype = ctypes.c_int
    lib.rem_2nd_diff.argtypes = [_c_int_p, ctypes.c_int]
    lib.rem_2nd_diff.restype = None
    lib.check_sum.argtypes = [_c_int_p, ctypes.c_int, ctypes.c_int]
    lib.check_sum.restype = ctypes.c_int
    lib.samples_from_text.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_int, _c_int_p,
                                      ctypes.c_int, ctypes.POINTER(ctypes.c_int),
                                      ctypes.POINTER(ctypes.c_size_t)]
    lib.samples_from_text.restype = ctypes.c_int
    lib.samples_to_text.argtypes = [_c_int_p, ctypes.c_int, ctypes.c_int,
                                    ctypes.POINTER(ctypes.c_int), ctypes.c_void_p,
                                    ctypes.c_size_t, ctypes.POINTER(ctypes.c_size_t)]
    lib.samples_to_text.restype = ctypes.c_int


def _declare_ibmfloat(lib):
    lib.ibm2ieee.argtypes = [ctypes.c_void_p, ctypes.c_int]
    lib.ibm2ieee.restype = None
    lib.ieee2ibm.argtypes = [ctypes.c_void_p, ctypes.c_int]
    lib.ieee2ibm.restype = ctypes.c_int
    lib.ibm2double.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int]
    lib.ibm2double.restype = None
    lib.double2ibm.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int]
    lib.double2ibm.restype = ctypes.c_int


def _declare_libc(lib):
    # gse2.source searches long code text with memmem.
    lib.memmem.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t]
    lib.memmem.restype = ctypes.c_void_p


_LIBRARIES = {
    # key: (environment variable, file names, build tree directory, declare function)
    'wavecodec': ('WAVECODEC_LIBRARY', ('libwavecodec.so.1', 'libwavecodec.so'), 'wavecodec',
                  _declare_wavecodec),
    'ibmfloat': ('IBMFLOAT_LIBRARY', ('libibmfloat.so.1', 'libibmfloat.so'), 'ibmfloat',
                 _declare_ibmfloat),
}


_HINTS = {}


def register(key, env, names, build_dir, declare, hint=''):
    """Adds library `key` to those load() finds, searched like the others (explicit path, the
    environment variable `env`, installed `names`, build/release/`build_dir`); `declare(lib)`
    sets its functions' types; `hint` is added to the message when it cannot be loaded."""
    with _lock:
        _LIBRARIES[key] = (env, tuple(names), build_dir, declare)
        _HINTS[key] = hint


def _installed_dirs():
    dirs = [PACKAGE_DIR, os.path.join(PACKAGE_DIR, 'lib')]
    for prefix in (sys.prefix, getattr(sys, 'base_prefix', sys.prefix)):
        dirs.append(os.path.join(prefix, 'lib'))
        multiarch = getattr(sys.implementation, '_multiarch', None) \
            if hasattr(sys, 'implementation') else None
        if multiarch:
            dirs.append(os.path.join(prefix, 'lib', multiarch))
    unique = []
    for d in dirs:
        if d not in unique:
            unique.append(d)
    return unique


def candidates(key, path=None):
    """The places tried for library `key`, in order: a list of (description, path-or-name).

    When an explicit path or the environment variable is given, it is the only candidate.
    """
    env, names, build_dir, _ = _LIBRARIES[key]
    if path:
        return [('explicit path', path)]
    if os.environ.get(env):
        return [(env, os.environ[env])]
    places = []
    for d in _installed_dirs():
        for name in names:
            places.append(('installed', os.path.join(d, name)))
    places.append(('dynamic loader search', names[0]))
    for name in names:
        places.append(('build tree', os.path.join(CHECKOUT_DIR, 'build', 'release', build_dir,
                                                   name)))
    return places


def _missing_symbol(key, place, error):
    """LibraryNotFoundError for a library that loads but lacks one of lib`key`'s functions."""
    text = str(error)
    symbol = text.rsplit('undefined symbol:', 1)[-1].strip() if 'undefined symbol:' in text \
        else text.strip("'")
    e = LibraryNotFoundError(
        '%s loads but has no symbol %s: it is not lib%s. Set %s to the path of lib%s'
        % (place, symbol, key, _LIBRARIES[key][0], key))
    e.path = place
    e.symbol = symbol
    return e


def _load(key, path=None):
    tried = []
    for how, place in candidates(key, path):
        if os.sep in place and not os.path.exists(place):
            tried.append('%s (%s: no such file)' % (place, how))
            continue
        try:
            lib = ctypes.CDLL(place)
        except OSError as e:
            tried.append('%s (%s: %s)' % (place, how, e))
            continue
        try:
            _LIBRARIES[key][3](lib)
        except AttributeError as e:
            raise _missing_symbol(key, place, e)
        return lib
    raise LibraryNotFoundError(
        'cannot load lib%s; tried: %s. Build it (cmake -S . -B build/release -G Ninja && '
        'cmake --build build/release) or set %s to its full path%s'
        % (key, '; '.join(tried), _LIBRARIES[key][0], _HINTS.get(key, '')))


def load(key, path=None):
    """The loaded library `key` ('wavecodec', 'ibmfloat' or one added by register()); loads it
    on first use.

    An explicit `path` replaces any library of that kind loaded before.
    """
    with _lock:
        if path is None and key in _loaded:
            return _loaded[key]
        lib = _load(key, path)
        _loaded[key] = lib
        return lib


def wavecodec(path=None):
    return load('wavecodec', path)


def ibmfloat(path=None):
    return load('ibmfloat', path)


def libc():
    with _lock:
        if 'c' not in _loaded:
            try:
                lib = ctypes.CDLL('libc.so.6', use_errno=True)
            except OSError:
                lib = ctypes.CDLL(None, use_errno=True)
            _declare_libc(lib)
            _loaded['c'] = lib
        return _loaded['c']


def int_pointer(a):
    """The address of the storage of array('i') `a` (valid while `a` is not resized), for the
    int32_t pointer parameters, which are declared void pointers: an address passes straight
    through, where making a ctypes pointer object would cost more than most calls."""
    return a.buffer_info()[0]
