"""Seismic Unix files: traces only, each a 240-byte SEG-Y trace header and IEEE float32
samples, in the byte order of the machine that wrote them."""
import sys

from . import samples
from .reader import SegyFile
from .tracewriter import TraceOptions, _sequence, write_traces
from .writer import _check_endian, _peek, interval_fields, output


def open_su(source, endian=None, strict=True):
    """Opens a Seismic Unix file for reading: a path (str, bytes or path-like) or a binary file
    object (see segy.open).

    Byte order: `endian` when given, else the order in which the whole file divides into traces
    (each header's sample count giving its length); where both do (a count such as 257 reads
    the same either way) or neither, the order in which the first header's fields read smaller
    and the first samples are plausible floats; when nothing tells them apart the file is
    refused (endian= settles it). Each trace's own header gives its length."""
    return SegyFile(source, endian, None, strict, su=True)


def write_su(target, traces, sample_interval, trace_headers=None, endian=None):
    """Writes a Seismic Unix file (IEEE float32 samples, host byte order by default); the
    traces may differ in length. Returns the number of traces written."""
    endian = endian or sys.byteorder
    _check_endian(endian)
    interval = interval_fields(sample_interval, extended=False)[0]
    first, rest = _peek(traces)
    options = TraceOptions(samples.FORMATS[samples.IEEE], interval, endian, varying=True)
    with output(target) as out:
        return write_traces(out, _sequence(first), rest, trace_headers, options)
