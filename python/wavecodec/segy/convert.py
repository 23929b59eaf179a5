"""Sample format conversion of whole SEG-Y files between IBM and IEEE floats.

Every byte other than the samples and the binary header's format code is copied as it is: text
headers, binary header, extended text headers, trace headers, any gap before the first trace
and trailer records.
"""
import struct
from array import array

from ..compat import array_to_bytes
from ..errors import FormatError
from . import samples
from .fields import BINARY, TEXT_HEADER_SIZE, BINARY_HEADER_SIZE
from .reader import SegyFile
from .writer import output

_FORMAT_AT = BINARY.field_offset('format')
_ORDER = {'big': '>', 'little': '<'}


def ibm_fits_float32(word):
    """True when the IBM single `word` (an unsigned 32-bit integer) is exactly a float32."""
    fraction = word & 0xffffff
    if not fraction:
        return True
    exponent = 4 * (((word >> 24) & 0x7f) - 64) - 24
    while not fraction & 1:
        fraction >>= 1
        exponent += 1
    top = exponent + fraction.bit_length() - 1
    return top <= 127 and exponent >= -149


# Exponent fields 33 to 96 always give an exact float32 (the fraction's 24 bits fit and the
# value lies between 2^-148 and 2^128); words with other exponent bytes need a closer look.
_NEEDS_LOOK = bytes(bytearray(0 if 33 <= (b & 0x7f) <= 96 else 1 for b in range(256)))


def first_inexact_ibm(data, endian):
    """Index of the first IBM word in `data` that no float32 holds exactly, or None."""
    leading = bytes(data[0::4] if endian == 'big' else data[3::4])
    flags = leading.translate(_NEEDS_LOOK)
    at = flags.find(b'\x01')
    if at < 0:
        return None
    word = struct.Struct(_ORDER[endian] + 'I')
    while at >= 0:
        if not ibm_fits_float32(word.unpack_from(data, 4 * at)[0]):
            return at
        at = flags.find(b'\x01', at + 1)
    return None


class Result(object):
    """What convert() did: traces converted, samples rounded (IEEE to IBM), NaN and infinities
    saturated."""

    def __init__(self):
        self.traces = 0
        self.rounded = 0
        self.saturated = 0


def _to_ieee(name, index, data, endian):
    bad = first_inexact_ibm(data, endian)
    if bad is not None:
        raise FormatError('%s: trace %d sample %d: the IBM value %r has no exact float32 (beyond '
                          'its range or precision)' % (name, index, bad, samples.decode(
                              samples.FORMATS[samples.IBM], data[4 * bad:4 * bad + 4], endian)[0]))
    values = samples.decode(samples.FORMATS[samples.IBM], data, endian)
    return samples.encode(samples.FORMATS[samples.IEEE], values, endian)


def _to_ibm(name, index, data, endian, saturate, exact, result):
    values = samples.decode(samples.FORMATS[samples.IEEE], data, endian)
    where = '%s: trace %d' % (name, index)
    converted = samples.encode(samples.FORMATS[samples.IBM], values, endian, saturate, where)
    back = samples.decode(samples.FORMATS[samples.IBM], converted, endian)
    if array_to_bytes(back) != array_to_bytes(values):
        original = array('I', array_to_bytes(values))
        again = array('I', array_to_bytes(back))
        for k, (a, b) in enumerate(zip(original, again)):
            if a != b:
                if values[k] != values[k] or abs(values[k]) == float('inf'):
                    result.saturated += 1
                elif exact:
                    raise FormatError('%s sample %d: %r has no exact IBM single (it would become '
                                      '%r)' % (where, k, values[k], back[k]))
                else:
                    result.rounded += 1
    return converted


def convert(source, target, format, endian=None, source_format=None, saturate=False,
            exact=False, name=None):
    """Writes SEG-Y file `source` to `target` with its samples in `format` ('ibm' / 1 or
    'ieee' / 5). IBM to IEEE is exact, and a value that has no float32 is a FormatError. IEEE
    to IBM rounds to the nearest IBM single (ties to even) unless `exact`, which refuses any
    change; NaN and infinities are refused unless `saturate`. `endian` and `source_format`
    replace what the source's binary header says; `name` labels the source in messages.
    Returns a Result."""
    code = samples.NAMES.get(format, format) if not isinstance(format, int) else format
    if code not in (samples.IBM, samples.IEEE):
        raise FormatError("the output format must be 'ibm' (1) or 'ieee' (5), not %r" % (format,))
    result = Result()
    with SegyFile(source, endian, source_format, name=name) as f:
        if f.format not in (samples.IBM, samples.IEEE):
            raise FormatError('%s: sample format %d (%s): only IBM and IEEE float files convert'
                              % (f.name, f.format, f.sample_format.name))
        binary = bytearray(f.raw_binary_header)
        struct.pack_into(_ORDER[f.endian] + 'h', binary, _FORMAT_AT, code)
        inputs = (source,) if not hasattr(source, 'read') else ()
        with output(target, inputs) as out:
            out.write(f.raw_text_header)
            out.write(bytes(binary))
            for raw in f.raw_extended_text_headers:
                out.write(raw)
            headers_end = TEXT_HEADER_SIZE + BINARY_HEADER_SIZE + \
                TEXT_HEADER_SIZE * len(f.raw_extended_text_headers)
            out.write(f._read_at(headers_end, f._data_start - headers_end))
            for i in range(len(f)):
                header, data = f.raw_trace(i)
                if f.format == code:
                    pass
                elif code == samples.IEEE:
                    data = _to_ieee(f.name, i, data, f.endian)
                else:
                    data = _to_ibm(f.name, i, data, f.endian, saturate, exact, result)
                out.write(header)
                out.write(data)
                result.traces += 1
            out.write(f._read_at(f._data_end, f._size - f._data_end))
    return result
