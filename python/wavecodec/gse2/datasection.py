"""Decoding of one GSE2 data section held in memory: CM6 through the library, INT in Python.

The CM6 road is one call of decomp_6b_chars over the section's text, then rem_2nd_diff and
check_sum over the whole array: no Python work per line or per sample, and nothing printed.
"""
import ctypes
import re
from array import array

from .. import native
from ..compat import PY2

_INT_TEXT = re.compile(br'\s*(?:[+-]?[0-9]+(?:\s+|\Z))*\Z')
_INT_WORD = re.compile(br'^[+-]?[0-9]+$')


def zeros(count):
    """array('i') of `count` zeros, made without a Python loop and without a temporary: one
    array repeated (a bytes object of the size first would double the peak memory and the
    pages touched, which cost more than the copying on a loaded machine)."""
    return array('i', [0]) * count


def decode_cm6(lib, source, start, end, count):
    """Decodes up to `count` samples of six-bit code from source.data[start:end] with one
    decomp_6b_chars call. Returns (samples, stored, used): the array('i') of `count` entries,
    the number stored (`count`; fewer when a CHK2 line comes where a sample is due or the text
    ends between samples; -1 when the text ends inside a sample) and the bytes consumed (see
    decomp_6b_chars). The samples are still second differences."""
    samples = zeros(count)
    used = ctypes.c_size_t(0)
    stored = lib.decomp_6b_chars(source.address + start, end - start, count,
                                 native.int_pointer(samples), ctypes.byref(used))
    return samples, stored, used.value


def restore(lib, samples, kept):
    """Keeps the first `kept` entries of `samples` and turns them from second differences into
    the series."""
    del samples[kept:]
    if kept > 1:
        lib.rem_2nd_diff(native.int_pointer(samples), kept)


def decode_int(text):
    """The samples of INT data `text` as array('i'), or (None, the first bad word, why)."""
    if _INT_TEXT.match(text) is None:
        for word in text.split():
            if not _INT_WORD.match(word):
                return None, word, 'is not a decimal integer'
    words = text.split()
    try:
        return array('i', [int(w) for w in words]), None, None
    except OverflowError:
        for word in words:
            if not -2147483648 <= int(word) <= 2147483647:
                return None, word, 'is outside 32 bits'
        raise


def word_offset(text, word):
    """The offset in `text` of the first white-space separated word equal to `word`."""
    for found in re.finditer(br'\S+', text):
        if found.group() == word:
            return found.start()
    return 0
