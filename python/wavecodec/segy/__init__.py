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

__all__ = ['BINARY_FIELDS', 'EXTENSION1_FIELDS', 'FORMATS', 'FormatError', 'SegyFile',
           'TRACE_FIELDS', 'convert', 'open', 'open_su', 'write', 'write_cube', 'write_su']
