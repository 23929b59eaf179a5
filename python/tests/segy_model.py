"""Independent models for the SEG-Y tests: files assembled byte by byte with struct at the
standard's offsets, and the exact value of IBM words."""
import math
import random
import struct
import sys
from array import array

PY2 = sys.version_info[0] == 2

ORDER = {'big': '>', 'little': '<'}
# Sample format code -> struct item (3-byte codes handled apart).
STRUCT_ITEMS = {2: 'i', 3: 'h', 5: 'f', 6: 'd', 8: 'b', 9: 'q', 10: 'I', 11: 'H', 12: 'Q',
                16: 'B'}
SIZES = {1: 4, 2: 4, 3: 2, 5: 4, 6: 8, 7: 3, 8: 1, 9: 8, 10: 4, 11: 2, 12: 8, 15: 3, 16: 1}


def ibm_value(word):
    """The exact value of an IBM single as a Python float (every IBM single is a double)."""
    sign = -1.0 if word >> 31 else 1.0
    fraction = word & 0xffffff
    exponent = (word >> 24) & 0x7f
    return sign * math.ldexp(fraction, 4 * (exponent - 64) - 24)


def to_float32(value):
    """`value` rounded once to float32 (nearest, ties to even), infinities beyond the range."""
    try:
        return struct.unpack('<f', struct.pack('<f', value))[0]
    except OverflowError:
        return math.copysign(float('inf'), value)


def f32_bits(value):
    return struct.unpack('<I', struct.pack('<f', value))[0]


def ibm_word(value):
    """The IBM single nearest to the float `value` (ties to the even fraction), by integer
    arithmetic on the exact value."""
    if value == 0:
        return 0x80000000 if math.copysign(1.0, value) < 0 else 0
    sign = 0x80000000 if value < 0 else 0
    mantissa, exp2 = math.frexp(abs(value))      # value = mantissa * 2^exp2, 0.5 <= m < 1
    numerator = int(mantissa * (1 << 53))          # value = numerator * 2^(exp2 - 53)
    e16 = -((-exp2) // 4)                          # smallest e with value < 16^e
    shift = 4 * e16 - 24 - (exp2 - 53)             # fraction = numerator / 2^shift
    if shift > 0:
        fraction, rest = numerator >> shift, numerator & ((1 << shift) - 1)
        half = 1 << (shift - 1)
        if rest > half or (rest == half and fraction & 1):
            fraction += 1
    else:
        fraction = numerator << -shift
    if fraction == 1 << 24:
        fraction >>= 4
        e16 += 1
    return sign | ((e16 + 64) << 24) | fraction


def text_header(lines, encoding='cp037'):
    rows = [l.ljust(80)[:80] for l in lines] + [' ' * 80] * (40 - len(lines))
    return ''.join(rows).encode(encoding)


def binary_header(endian, fmt, samples, interval=4000, revision=(1, 0), fixed=1, extended=0,
                  extra=()):
    """400 bytes with the fields the tests use, placed by their standard byte numbers."""
    raw = bytearray(400)
    o = ORDER[endian]

    def put(byte, item, value):
        struct.pack_into(o + item, raw, byte - 3201, value)
    put(3201, 'i', 4711)
    put(3213, 'h', 24)
    put(3217, 'H', interval)
    put(3221, 'H', samples)
    put(3225, 'h', fmt)
    put(3255, 'h', 1)
    raw[300], raw[301] = revision
    put(3503, 'h', fixed)
    put(3505, 'h', extended)
    for byte, item, value in extra:
        put(byte, item, value)
    return bytes(raw)


def trace_header(endian, index, samples, interval=4000, offset=0, cdp_x=0):
    raw = bytearray(240)
    o = ORDER[endian]
    struct.pack_into(o + 'i', raw, 0, index + 1)
    struct.pack_into(o + 'i', raw, 36, offset)
    struct.pack_into(o + 'H', raw, 114, samples)
    struct.pack_into(o + 'H', raw, 116, interval)
    struct.pack_into(o + 'i', raw, 180, cdp_x)
    return bytes(raw)


def sample_bytes(fmt, values, endian):
    """File bytes of integer or float `values` in format `fmt` (IBM: values are words)."""
    o = ORDER[endian]
    if fmt == 1:
        return struct.pack('%s%dI' % (o, len(values)), *values)
    if fmt in (7, 15):
        out = b''
        for v in values:
            four = struct.pack('>i' if fmt == 7 else '>I', v)[1:]
            out += four if endian == 'big' else four[::-1]
        return out
    return struct.pack('%s%d%s' % (o, len(values), STRUCT_ITEMS[fmt]), *values)


def random_samples(fmt, n, rng):
    """`n` values covering format `fmt`'s range (IBM: words, any bits)."""
    if fmt == 1:
        special = [0, 0x80000000, 0x41100000, 0xc2640000, 0x7fffffff, 0xffffffff, 0x00000001,
                   0x40000001, 0x21000001, 0x60ffffff, 0x61100000]
        return (special + [rng.getrandbits(32) for _ in range(n)])[:n]
    if fmt in (5, 6):
        return [rng.uniform(-1e6, 1e6) * 10.0 ** rng.randint(-30, 30) for _ in range(n)]
    bits = SIZES[fmt] * 8
    if fmt in (2, 3, 7, 8, 9):
        return [rng.randint(-(1 << (bits - 1)), (1 << (bits - 1)) - 1) for _ in range(n)]
    return [rng.randint(0, (1 << bits) - 1) for _ in range(n)]


def expected(fmt, values):
    """What a reader should give for the values `random_samples` made."""
    if fmt == 1:
        return [to_float32(ibm_value(w)) for w in values]
    if fmt == 5:
        return [to_float32(v) for v in values]
    return list(values)


def segy_file(endian, fmt, traces, text=None, revision=(1, 0), fixed=1, extended_text=(),
              extra=(), interval=4000):
    """A whole file: text header, binary header, extended text headers, traces (lists of
    values in the form sample_bytes takes)."""
    head = text or text_header(['C 1 MODEL FILE', 'C40 END TEXTUAL HEADER'])
    samples = len(traces[0]) if traces else 1
    parts = [head, binary_header(endian, fmt, samples, interval, revision, fixed,
                                 len(extended_text), extra)]
    parts.extend(extended_text)
    for i, values in enumerate(traces):
        parts.append(trace_header(endian, i, len(values), interval, offset=100 * i - 50,
                                  cdp_x=-7 * i))
        parts.append(sample_bytes(fmt, values, endian))
    return b''.join(parts)


def rng(seed):
    return random.Random(seed)


# -- Files as other writers lay them out: the evidence sweep ---------------------------------

REVISIONS = {'0': (0, 0), '1': (1, 0), '2.0': (2, 0), '2.1': (2, 1)}
BINARY_STANZA = (b'((SEG: Binary Data ver 1.0, Content-Type: application/octet-stream))'
                 .ljust(80) + bytes(bytearray(range(256))) * 13)[:3200]
XML = '<?xml version="1.0"?> <survey name="test line" crs="epsg:23031"/>'
# name -> (records, the count in bytes 3505-3506, what each record reads as)
RECORDS = {
    'none': ([], 0, []),
    'counted': ([text_header(['C 1 FIRST EXTENDED']), BINARY_STANZA], 2,
                ['C 1 FIRST EXTENDED', BINARY_STANZA]),
    'open': ([text_header(['C 1 OPEN']), text_header(['((SEG: EndText))'])], -1,
             ['C 1 OPEN', '((SEG: EndText))']),
    'mixed': ([text_header(['C 1 MAIN STANZA']), text_header([XML], 'ascii'),
               text_header(['((SEG: EndText))'], 'ascii')], -1,
              ['C 1 MAIN STANZA', XML, '((SEG: EndText))']),
    'blank': ([b'\0' * 3200], 1, ['']),
}
STALE_COUNT = 462
ITEMS = {1: 'I', 2: 'i', 3: 'h', 5: 'f', 8: 'b', 16: 'B'}


_PATTERNS = {}
_VALUES = {}


def pattern(fmt, n, trace, endian):
    """(values, file bytes) of `n` samples of trace `trace` that every format holds exactly
    (IBM: small whole numbers, whose words ibm_word gives); made once for each argument."""
    key = (fmt, n, trace, endian)
    if key not in _PATTERNS:
        if (n, trace) not in _VALUES:
            _VALUES[n, trace] = [((j * 7 + 37 * trace) % 251) - 125 for j in range(n)]
        values = _VALUES[n, trace]
        if fmt == 16:
            values = [v + 125 for v in values]
        words = [_IBM[v] for v in values] if fmt == 1 else values
        if fmt in (1, 5):
            values = [float(v) for v in values]
        _PATTERNS[key] = (values, struct.pack('%s%d%s' % (ORDER[endian], n, ITEMS[fmt]),
                                              *words))
    return _PATTERNS[key]


_IBM = dict((v, ibm_word(float(v))) for v in range(-125, 126))


def swap_pairs(data):
    """`data` with every two bytes swapped (an odd last byte kept)."""
    even = len(data) - len(data) % 2
    pairs = array('H')
    pairs.fromstring(data[:even]) if PY2 else pairs.frombytes(data[:even])
    pairs.byteswap()
    return (pairs.tostring() if PY2 else pairs.tobytes()) + data[even:]


class Case(object):
    """One file of the sweep and what a reader must make of it: `refused` the field names its
    refusal must name (None: it must read), else `traces`, `offsets`, `records`."""

    def __init__(self, revision, order, varying, stale, records, extra, samples, fmt):
        self.what = (revision, order, varying, stale, records, extra, samples, fmt)
        major, minor = REVISIONS[revision]
        extra = extra if major >= 2 else 0
        endian = 'big' if order == 'pair' else order
        lengths = [samples, samples - 1] if varying else [samples, samples]
        raw_records, count, self.records = RECORDS[records]
        binary = bytearray(binary_header(
            endian, fmt, samples if samples <= 65535 else 0, 4000, (major, minor),
            0 if varying else 1, count))
        o = ORDER[endian]
        if major >= 2 or order == 'pair':
            struct.pack_into(o + 'I', binary, 96, 0x01020304)
        if major >= 2:
            struct.pack_into(o + 'i', binary, 68, samples if samples > 65535 else 0)
            struct.pack_into(o + 'Q', binary, 312, 2)     # trace_count, bytes 3513-3520
            if minor:
                struct.pack_into(o + 'HH', binary, 306, extra, 2)   # survey type 2
            else:
                struct.pack_into(o + 'i', binary, 306, extra)
        parts = [text_header(['C 1 SWEEP ' + ' '.join(map(str, self.what))]), bytes(binary)]
        parts.extend(raw_records)
        self.traces, self.offsets = [], []
        for t, n in enumerate(lengths):
            told = STALE_COUNT if stale else (n if n <= 65535 else 0)
            head = bytearray(trace_header(endian, t, told, 4000, offset=100 * t - 50))
            parts.append(bytes(head))
            for k in range(extra):
                if k == 0:
                    ext = bytearray(240)
                    struct.pack_into(o + 'd', ext, 96, 1000.5 + t)   # source_x
                    struct.pack_into(o + 'I', ext, 136, STALE_COUNT if stale else n)
                    struct.pack_into(o + 'H', ext, 156, extra)
                    ext[232:240] = b'SEG00001'
                    parts.append(bytes(ext))
                else:
                    parts.append(bytes(bytearray([0x30 + k]) * 240))
            values, data = pattern(fmt, n, t, endian)
            parts.append(data)
            self.traces.append(values)
            self.offsets.append(100 * t - 50)
        self.data = b''.join(parts)
        if order == 'pair':
            self.data = swap_pairs(self.data)
        self.endian, self.extra = endian, extra
        if order == 'pair':
            self.refused = ["'byte_order'"]
        elif major < 2 and samples > 65535:
            self.refused = ["samples_per_trace'"]
        elif stale and varying:
            self.refused = ["'sample_count'", "samples_per_trace'"]
        else:
            self.refused = None
