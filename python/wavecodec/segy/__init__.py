"""SEG-Y (revisions 0, 1 and 2) and Seismic Unix files: file headers, trace headers and samples.

    from wavecodec import segy
    with segy.open('line.sgy') as f:
        f.text_header, f.binary_header['sample_interval'], f.endian, f.format
        for samples in f.traces():      # array('f') per trace, in file order
            ...
        f.header(0)['cdp_x'], f.trace(10)
    segy.write('out.sgy', traces, sample_interval=2000, format=5)
    segy.convert('in.sgy', 'out.sgy', 'ibm')

    with segy.open('survey.sgy') as f:  # surveys (Python 3 with numpy): survey.py
        f.sorting, f.ilines, f.xlines, f.offsets, f.live, f.samples
        f.iline[1250], f.xline[300], f.depth_slice[200], f.gather[1250, 300], f.cube()
    segy.write_cube('out.sgy', cube, ilines, xlines, sample_interval=4000)

    segy.to_zarr('survey.sgy', 'survey.zarr', jobs=2)   # Zarr and Dask (Python 3): zarrstore.py
    ds = segy.open_zarr('survey.zarr')                   # an xarray.Dataset over dask arrays
    segy.from_zarr('survey.zarr', 'again.sgy')           # the SEG-Y again, byte for byte

IBM samples are converted by the ibmfloat library; everything else is the standard library.
"""
from ..errors import FormatError
from .convert import convert
from .cube import write_cube
from .fields import BINARY_FIELDS, EXTENSION1_FIELDS, TRACE_FIELDS
from .reader import SegyFile, open  # noqa: A001
from .samples import FORMATS
from .su import open_su, write_su
from .writer import write
from .zarrneeds import load as _load


def to_zarr(source, store, chunks=None, client=None, jobs=None, compressor='default',
            iline=189, xline=193, offset=37, **options):
    """The survey in SEG-Y file `source` as a chunked, compressed Zarr group at path `store`
    (layout: zarrstore.py); returns a report (a dict). `chunks`: the store's chunks (default
    64 x 64 x 64 post-stack; see zarrstore.py); `client`: a distributed.Client or a scheduler
    address, else `jobs` local processes (None or 1: in this process; 0: one per processor);
    `compressor`: a numcodecs codec, None for raw chunks (default Blosc lz4 with byte
    shuffle); iline, xline, offset as for open(). Options: endian, format, strict (as open()),
    vertical ('time' or 'depth': the sample axis' name), overwrite (replace an existing store),
    progress (called with blocks done and the total)."""
    return _load('zarringest').to_zarr(source, store, chunks, client, jobs, compressor, iline,
                                       xline, offset, **options)


def open_zarr(store):
    """A store of to_zarr as an xarray.Dataset over dask arrays (see zarrread.py)."""
    return _load('zarrread').open_zarr(store)


def from_zarr(store, target, format=None, endian=None, progress=None):
    """A store of to_zarr written back as SEG-Y file `target` (a path, '-' or a binary file
    object): byte for byte the source when format and endian are None (the source's); returns
    a report whose `changed` lists whatever the chosen format or byte order changed."""
    return _load('zarrread').from_zarr(store, target, format, endian, progress)

__all__ = ['BINARY_FIELDS', 'EXTENSION1_FIELDS', 'FORMATS', 'FormatError', 'SegyFile',
           'TRACE_FIELDS', 'convert', 'from_zarr', 'open', 'open_su', 'open_zarr', 'to_zarr',
           'write', 'write_cube', 'write_su']
