"""Sample format conversion of whole SEG-Y files between IBM and IEEE floats.

Every byte other than the samples and the binary header's format code is copied as it is: text
headers, binary header, extended text headers, trace headers, any gap before the first trace
and trailer records.
"""
import struct

from ..compat import array_from_bytes, array_to_bytes, fspath
from ..errors import FormatError
from ..ibm import float32_to_ibm, ibm2ieee_in_place
from . import bulk, samples, wordflags
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
# value lies between 2^-148 and 2^128); so does a zero fraction. Other words need a closer look.
_NEEDS_LOOK = wordflags.table(lambda b: not 33 <= (b & 0x7f) <= 96)
# The bytes of a float32's exponent: all ones in NaN and the infinities.
_HIGH_ONES = wordflags.table(lambda b: b & 0x7f == 0x7f)
_LOW_ONES = wordflags.table(lambda b: b & 0x80)


def _bytes_at(endian, k):
    """The index within a word of its k-th most significant byte."""
    return k if endian == 'big' else 3 - k


def first_inexact_ibm(data, endian):
    """Index of the first IBM word in `data` that no float32 holds exactly, or None. Whole-block
    flags find the words with an extreme exponent and a fraction; only those are looked at."""
    look = wordflags.flags(data, _bytes_at(endian, 0), _NEEDS_LOOK)
    at = look.find(b'\x01')
    if at < 0:
        return None
    fraction = wordflags.either(*[wordflags.flags(data, _bytes_at(endian, k), wordflags.NONZERO)
                                  for k in (1, 2, 3)])
    look = wordflags.both(look, fraction)
    word = struct.Struct(_ORDER[endian] + 'I')
    at = look.find(b'\x01')
    while at >= 0:
        if not ibm_fits_float32(word.unpack_from(data, 4 * at)[0]):
            return at
        at = look.find(b'\x01', at + 1)
    return None


def _special(data, endian):
    """Flags of the float32 words in `data` that are NaN or infinite."""
    return wordflags.both(wordflags.flags(data, _bytes_at(endian, 0), _HIGH_ONES),
                          wordflags.flags(data, _bytes_at(endian, 1), _LOW_ONES))


class Result(object):
    """What convert() did: traces converted, samples rounded (IEEE to IBM), NaN and infinities
    saturated."""

    def __init__(self):
        self.traces = 0
        self.rounded = 0
        self.saturated = 0
        self.truncated = None   # lenient reading: the truncated last trace left out


def _words(data, endian):
    """The file's 4-byte words as an array('f') in host order."""
    values = array_from_bytes('f', data)
    if endian != samples.HOST:
        values.byteswap()
    return values


def _file_bytes(values, endian):
    if endian != samples.HOST:
        values.byteswap()
    return array_to_bytes(values)


def _to_ieee(where, data, endian):
    bad = first_inexact_ibm(data, endian)
    if bad is not None:
        raise FormatError('%s: the IBM value %r has no exact float32 (beyond its range or '
                          'precision)' % (where(bad), samples.decode(
                              samples.FORMATS[samples.IBM], data[4 * bad:4 * bad + 4], endian)[0]))
    values = _words(data, endian)
    ibm2ieee_in_place(values)
    return _file_bytes(values, endian)


def _to_ibm(where, data, endian, saturate, exact, result):
    values = _words(data, endian)
    special = _special(data, endian)
    count = special.count(b'\x01')
    if count and not saturate:
        bad = special.find(b'\x01')
        raise FormatError('%s: %r has no IBM value (IBM floats hold neither NaN nor infinity; '
                          'saturate to write the largest IBM magnitude of its sign)'
                          % (where(bad), values[bad]))
    converted, _ = float32_to_ibm(values, byteorder=endian, saturate=True)
    back = _words(converted, endian)
    ibm2ieee_in_place(back)
    changed = wordflags.differ(array_to_bytes(back), array_to_bytes(values))
    if count:
        changed = wordflags.both(changed, special.translate(_FLIP))
        result.saturated += count
    if exact and b'\x01' in changed:
        bad = changed.find(b'\x01')
        raise FormatError('%s: %r has no exact IBM single (it would become %r)'
                          % (where(bad), values[bad], back[bad]))
    result.rounded += changed.count(b'\x01')
    return converted


_FLIP = wordflags.table(lambda b: b == 0)


def _blocks(f):
    """(first trace, header bytes per trace, sample bytes of the block's traces) for blocks of
    about 1 MB of fixed-length traces, or trace by trace when lengths vary."""
    layout = f._layout
    if layout.varying:
        for i in range(len(f)):
            head, data = f.raw_trace(i)
            yield i, [head], data, len(data)
        return
    size, head = layout.size, layout.header_size
    per_block = max(1, bulk.BLOCK_BYTES // size)
    for first in range(0, len(f), per_block):
        k = min(per_block, len(f) - first)
        raw = f._read_exact(layout.start + first * size, k * size, 'traces %d-%d' % (
            first, first + k - 1))
        heads = [raw[j * size:j * size + head] for j in range(k)]
        data = b''.join([raw[j * size + head:(j + 1) * size] for j in range(k)])
        yield first, heads, data, size - head


def convert(source, target, format, endian=None, source_format=None, saturate=False,
            exact=False, name=None, strict=True):
    """Writes SEG-Y file `source` to `target` with its samples in `format` ('ibm' / 1 or
    'ieee' / 5). IBM to IEEE is exact, and a value that has no float32 is a FormatError. IEEE
    to IBM rounds to the nearest IBM single (ties to even) unless `exact`, which refuses any
    change; NaN and infinities are refused unless `saturate`. `endian` and `source_format`
    replace what the source's binary header says; `name` labels the source in messages;
    `strict=False` leaves out a truncated last trace (Result.truncated says so).
    Returns a Result."""
    code = samples.NAMES.get(format, format) if not isinstance(format, int) else format
    if code not in (samples.IBM, samples.IEEE):
        raise FormatError("the output format must be 'ibm' (1) or 'ieee' (5), not %r" % (format,))
    result = Result()
    with SegyFile(source, endian, source_format, strict=strict, name=name) as f:
        result.truncated = f.truncated
        if f.format not in (samples.IBM, samples.IEEE):
            raise FormatError('%s: sample format %d (%s): only IBM and IEEE float files convert'
                              % (f.name, f.format, f.sample_format.name))
        binary = bytearray(f.raw_binary_header)
        struct.pack_into(_ORDER[f.endian] + 'h', binary, _FORMAT_AT, code)
        inputs = (fspath(source),) if not hasattr(source, 'read') else ()
        with output(target, inputs) as out:
            out.write(f.raw_text_header)
            out.write(bytes(binary))
            for raw in f.raw_extended_text_headers:
                out.write(raw)
            headers_end = TEXT_HEADER_SIZE + BINARY_HEADER_SIZE + \
                TEXT_HEADER_SIZE * len(f.raw_extended_text_headers)
            out.write(f._read_at(headers_end, f._data_start - headers_end))
            for first, heads, data, length in _blocks(f):
                def where(k, first=first, length=length):
                    return '%s: trace %d sample %d' % (f.name, first + 4 * k // length,
                                                       (4 * k % length) // 4)
                if f.format == code:
                    pass
                elif code == samples.IEEE:
                    data = _to_ieee(where, data, f.endian)
                else:
                    data = _to_ibm(where, data, f.endian, saturate, exact, result)
                out.write(b''.join([part for j, head in enumerate(heads)
                                    for part in (head, data[j * length:(j + 1) * length])]))
                result.traces += len(heads)
            out.write(f._read_at(f._data_end, f._size - f._data_end))
    return result
