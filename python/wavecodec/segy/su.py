"""Seismic Unix files: traces only, each a 240-byte SEG-Y trace header and IEEE float32
samples, in the byte order of the machine that wrote them."""
import sys

from . import samples
from .reader import SegyFile
from .writer import _check_endian, _peek, _sample_interval, _sequence, output, write_traces


def open_su(source, endian=None, strict=True):
    """Opens a Seismic Unix file (a path or a seekable binary file object) for reading.

    Byte order: `endian` when given, else the order in which the whole file divides into traces
    (each header's sample count giving its length); where both or neither do, the order whose
    first header has a plausible interval, then the host's. Each trace's own header gives its
    length."""
    return SegyFile(source, endian, None, strict, su=True)


def write_su(target, traces, sample_interval, trace_headers=None, endian=None):
    """Writes a Seismic Unix file (IEEE float32 samples, host byte order by default); the
    traces may differ in length. Returns the number of traces written."""
    endian = endian or sys.byteorder
    _check_endian(endian)
    interval = _sample_interval(sample_interval)
    first, rest = _peek(traces)
    with output(target) as out:
        return write_traces(out, _sequence(first), rest, trace_headers,
                            samples.FORMATS[samples.IEEE], interval, endian, False, True)
