"""Samples as the decode and encode commands take and give them apart from GSE2: text (one
integer per line out; integers separated by white space in) or raw little-endian int32, a block
at a time through the library's samples_to_text and samples_from_text, so that neither side is
ever held whole as text."""
import ctypes
import re
import sys
from array import array

from ..commandline import STDIO, check_input, display, read_bytes, stdin
from .. import native
from ..compat import array_from_bytes, array_to_bytes, native_str
from ..errors import FormatError
from .datasection import zeros
from .waveform import INT32_MAX, INT32_MIN

# Bytes of sample text read at a time, and samples printed at a time.
TEXT_BLOCK = 1 << 22
FORMAT_BLOCK = 1 << 18
# The longest text of one sample ('-2147483648') and its line end.
_SAMPLE_TEXT = 12
# A word of sample text: what lies between the white space of bytes.split().
_WORD = re.compile(br'[^ \t\n\r\x0b\x0c]+')


def write_samples(f, samples, fmt):
    """Writes `samples` to file object `f` as text (one per line, printed by the library) or
    little-endian int32, a block at a time: the whole output is never held in memory."""
    if not (isinstance(samples, array) and samples.typecode == 'i'):
        samples = array('i', samples)
    if fmt == 'text':
        to_text = native.wavecodec().samples_to_text
        capacity = _SAMPLE_TEXT * min(FORMAT_BLOCK, len(samples)) + 1
        out = ctypes.create_string_buffer(capacity)
        length = ctypes.c_size_t(0)
        address = native.int_pointer(samples)
        for start in range(0, len(samples), FORMAT_BLOCK):
            count = min(FORMAT_BLOCK, len(samples) - start)
            printed = to_text(address + 4 * start, count, 1, None, out, capacity,
                              ctypes.byref(length))
            if printed != count:
                raise FormatError('samples_to_text printed %d of %d samples (status %d)'
                                  % (max(printed, 0), count, printed))
            f.write(ctypes.string_at(out, length.value))
        return
    for start in range(0, len(samples), FORMAT_BLOCK):
        block = samples[start:start + FORMAT_BLOCK]
        if sys.byteorder == 'big':
            block.byteswap()
        f.write(array_to_bytes(block))


def parse_samples(path, fmt):
    """The samples of input `path` as array('i'): raw little-endian int32, or integers
    separated by white space, read TEXT_BLOCK bytes at a time."""
    if fmt == 'int32':
        data = read_bytes(path)
        path = display(path)
        if len(data) % 4:
            raise FormatError('%s: %d bytes is not a whole number of int32 samples'
                              % (path, len(data)))
        samples = array_from_bytes('i', data)
        if sys.byteorder == 'big':
            samples.byteswap()
        return samples
    check_input(path)
    if path == STDIO:
        return text_samples(stdin(), display(path))
    try:
        f = open(path, 'rb')
    except (IOError, OSError) as e:
        raise IOError(e.errno, e.strerror, path)
    with f:
        return text_samples(f, path)


def text_samples(f, name):
    """The integers of text file object `f` (words separated by white space) as array('i'),
    parsed by the library TEXT_BLOCK bytes at a time; a word cut by a block's end is carried
    into the next. A faulty word is a FormatError naming input `name` and the word's line."""
    parse = native.wavecodec().samples_from_text
    samples = array('i')
    parsed = array('i')
    count = ctypes.c_int(0)
    used = ctypes.c_size_t(0)
    rest = b''
    line = 1  # the number of the line where `rest` begins
    while True:
        try:
            block = f.read(TEXT_BLOCK)
        except (IOError, OSError) as e:
            raise IOError(e.errno, e.strerror, name)
        text = rest + block if rest else block
        # A word and the white space after it take two bytes at least.
        room = (len(text) + 1) // 2
        if len(parsed) < room:
            # With room to spare: the next block, with a longer carried word, fits as well.
            parsed = zeros(room + room // 8 + 64)
        status = parse(text, len(text), 0 if block else 1, native.int_pointer(parsed), room,
                       ctypes.byref(count), ctypes.byref(used))
        stored, at = count.value, used.value
        samples.extend(parsed if stored == len(parsed) else parsed[:stored])
        if status in (-1, -3):
            _bad_word(text, at, name, line + text.count(b'\n', 0, at), status)
        if status != 0:
            raise FormatError('%s: samples_from_text failed (status %d)' % (name, status))
        line += text.count(b'\n', 0, at)
        rest = text[at:]
        if not block:
            return samples


def _bad_word(text, at, name, line, status):
    """Raises the FormatError for the faulty word at offset `at` of `text`, on line `line`:
    not an integer (status -1) or outside 32 bits (-3)."""
    word = native_str(_WORD.match(text, at).group())
    if status == -1:
        raise FormatError('%s: line %d: %r is not an integer sample' % (name, line, word))
    raise FormatError('%s: line %d: %s is outside the 32-bit range %d..%d'
                      % (name, line, word, INT32_MIN, INT32_MAX))
