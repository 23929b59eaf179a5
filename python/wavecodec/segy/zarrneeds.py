"""The Zarr side of the segy package (zarringest, zarrread) loaded on first use, with a clear
ImportError where the interpreter lacks what it needs; the rest of the package works without."""
import sys
from importlib import import_module

NEEDS = ('Python 3 with numpy, zarr 2, numcodecs, dask, distributed and xarray (Debian: '
         'python3-zarr python3-numcodecs python3-dask python3-distributed python3-xarray)')


def load(name):
    """Module `name` of this package (zarringest or zarrread)."""
    if sys.version_info[0] < 3:
        raise ImportError('SEG-Y to and from Zarr needs %s; this is Python %s'
                          % (NEEDS, sys.version.split()[0]))
    try:
        return import_module('.' + name, __package__)
    except ImportError as e:
        raise ImportError('SEG-Y to and from Zarr needs %s: %s' % (NEEDS, e))
