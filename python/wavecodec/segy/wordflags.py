"""Per-word flags over whole blocks of 4-byte words, without a Python step per word: one flag
byte (0 or 1) per word from one of its bytes through a 256-byte table (bytes.translate), and
flags combined as big integers (one C operation over the whole block)."""
import binascii

from ..compat import PY2


def flags(data, byte, table, width=4):
    """Flag byte per `width`-byte word of `data`: table[the word's `byte`-th byte]."""
    return bytes(data[byte::width]).translate(table)


def table(test):
    """A translate table: 1 for the byte values passing `test`, else 0."""
    return bytes(bytearray(1 if test(b) else 0 for b in range(256)))


if PY2:  # pragma: no cover - exercised by the 2.7 test run
    def _int(data):
        return int(binascii.hexlify(data), 16) if data else 0

    def _bytes(value, size):
        return binascii.unhexlify('%0*x' % (2 * size, value)) if size else b''
else:
    def _int(data):
        return int.from_bytes(data, 'big')

    def _bytes(value, size):
        return value.to_bytes(size, 'big')


def both(a, b):
    """Flags set in both `a` and `b`."""
    return _bytes(_int(a) & _int(b), len(a))


def either(*many):
    """Flags set in any of `many`."""
    value = 0
    for f in many:
        value |= _int(f)
    return _bytes(value, len(many[0]))


def differ(a, b, width=4):
    """Flag per `width`-byte word: 1 where the words of `a` and `b` (bytes of equal length)
    differ."""
    x = _bytes(_int(a) ^ _int(b), len(a))
    return either(*[flags(x, k, NONZERO, width) for k in range(width)])


def negate(a):
    """Flags set where `a`'s are not."""
    return bytes(a).translate(_FLIP)


_FLIP = table(lambda b: b == 0)


NONZERO = table(lambda b: b != 0)
