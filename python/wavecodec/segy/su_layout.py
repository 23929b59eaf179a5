"""The decision for Seismic Unix files (traces only, IEEE float32 samples, each header's count
giving its trace's length): the byte order, by the evidence where the file does not settle it.
The answer is a layout.Layout like that of a SEG-Y file."""
import struct
import sys

from ..errors import FormatError
from . import samples
from .fields import TRACE, TRACE_HEADER_SIZE
from .layout import Layout, lenient
from .walk import Fixed, walk


def su_start(head, endian=None):
    """Refuses a first trace header that cannot start an SU file (a count of 0 both ways)."""
    if len(head) < TRACE_HEADER_SIZE:
        raise FormatError('%d bytes: too short for a 240-byte trace header' % len(head))
    if not any(TRACE.decode(head, e)['sample_count'] for e in ((endian,) if endian
                                                              else ('big', 'little'))):
        raise FormatError('trace 0: %s is 0' % TRACE.describe('sample_count'))


def decide_su(source, size, name, endian=None, strict=True):
    """The Layout of a Seismic Unix file: traces only, each header's count giving its length,
    IEEE float32 samples; the byte order `endian`, else by the evidence (su_order)."""
    L = Layout(name)
    L.sample_format = samples.FORMATS[samples.IEEE]
    L.format = samples.IEEE
    L.data_start, L.data_end = 0, size
    L.samples_per_trace = 0
    if size == 0:
        L.endian = endian or sys.byteorder
        L.traces = Fixed(0, 0, 4, 0)
        return L
    first = source.read_at(0, TRACE_HEADER_SIZE)
    su_start(first, endian)
    if endian:
        L.endian = endian
        reading = walk(source, 0, size, 0, 4, endian, 0, True)
    else:
        L.endian, reading = su_order(source, size, first)
    if not reading.fits:
        if strict:
            raise FormatError(lenient(reading.stop))
        L.truncated = '%s: %s' % (name, reading.stop)
    L.traces = reading.traces
    h = TRACE.decode(first, L.endian)
    L.samples_per_trace = h['sample_count']
    L.sample_interval = h['sample_interval']
    return L


def su_order(source, size, first):
    """(endian, reading): the order in which the whole file divides into traces; where both
    do (a count such as 257 reads the same both ways) or neither, the order whose header
    fields read smaller and whose first samples are plausible floats; refused when nothing
    tells them apart."""
    readings = dict((e, walk(source, 0, size, 0, 4, e, 0, True)) for e in ('big', 'little'))
    whole = [e for e in ('big', 'little') if readings[e].fits]
    if len(whole) == 1:
        return whole[0], readings[whole[0]]
    count = min(readings[e].traces.span(0)[1] if readings[e].count else 0
                for e in ('big', 'little'))
    votes = order_votes(first, source.read_at(TRACE_HEADER_SIZE, 4 * min(count, 1024)))
    if votes:
        endian = 'big' if votes > 0 else 'little'
        return endian, readings[endian]
    if whole:
        raise FormatError("the byte order is undecided: the file divides into whole traces "
                          "read either way (a sample count such as 257 reads the same in both "
                          "orders) and no header field or sample tells them apart; "
                          "endian='big' or 'little' (--endian) settles it")
    # Neither divides the file: the order reading more traces (the host's on a tie) names the
    # fault.
    endian = max(('big', 'little'), key=lambda e: (readings[e].count, e == sys.byteorder))
    return endian, readings[endian]


_PLAUSIBLE = (1e-30, 1e30)


def order_votes(header, data):
    """Big-endian minus little-endian evidence: each integer field of the trace header whose
    magnitude is smaller in one order (small numbers are written far more often than their
    byte swaps), and each float32 sample that is plausible (0, or 1e-30 to 1e30) in one
    order only."""
    votes = 0
    for name, start, width, kind in TRACE.fields:
        if kind == 'f' or name == 'sample_count':
            continue
        at = start - 1
        big = abs(struct.unpack_from('>' + _ITEM[width, kind], header, at)[0])
        little = abs(struct.unpack_from('<' + _ITEM[width, kind], header, at)[0])
        votes += (big < little) - (little < big)
    n = len(data) // 4
    for order, sign in (('>', 1), ('<', -1)):
        for x in struct.unpack(order + '%df' % n, data[:4 * n]):
            votes += sign * (x == 0 or _PLAUSIBLE[0] < abs(x) < _PLAUSIBLE[1])
    return votes


_ITEM = {(2, 'i'): 'h', (2, 'u'): 'H', (4, 'i'): 'i', (4, 'u'): 'I'}
