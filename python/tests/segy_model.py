"""Independent models for the SEG-Y tests: files assembled byte by byte with struct at the
standard's offsets, and the exact value of IBM words."""
import math
import random
import struct

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
