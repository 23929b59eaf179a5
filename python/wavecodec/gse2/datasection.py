"""Decoding of one GSE2 data section held in memory through the library: CM6 by
decomp_6b_chars, INT by samples_from_text.

The CM6 road is one call of decomp_6b_chars over the section's text, then rem_2nd_diff and
check_sum over the whole array: no Python work per line or per sample, and nothing printed.
"""
import ctypes
from array import array

from .. import native
from ..errors import FormatError


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


def decode_int(lib, source, start, end, count):
    """Parses the INT data of source.data[start:end] with the library's samples_from_text.
    Returns (samples, None): an array('i') of every sample of the text (`count`, or as many as
    there are); or (None, (offset of the first faulty word from `start`, why)). The samples
    after the `count` declared are parsed too, so that a faulty word among them is the fault."""
    length = end - start
    address = source.address + start
    # One more than declared, so that more data is found; never more than the text can hold
    # (a word and a blank take two bytes), whatever the count a WID2 line declares.
    samples = zeros(min(count + 1, (length + 1) // 2 + 1))
    stored = ctypes.c_int(0)
    used = ctypes.c_size_t(0)
    status = lib.samples_from_text(ctypes.c_char_p(address), length, 1,
                                   native.int_pointer(samples), len(samples),
                                   ctypes.byref(stored), ctypes.byref(used))
    at = used.value
    if status == -2:
        # More than declared: the rest in one call (a word and a blank take two bytes).
        more = zeros((length - at + 1) // 2 + 1)
        status = lib.samples_from_text(ctypes.c_char_p(address + at), length - at, 1,
                                       native.int_pointer(more), len(more),
                                       ctypes.byref(stored), ctypes.byref(used))
        samples.extend(more[:stored.value])
        at += used.value
    else:
        del samples[stored.value:]
    if status == -1:
        return None, (at, 'is not a decimal integer')
    if status == -3:
        return None, (at, 'is outside 32 bits')
    if status != 0:
        raise FormatError('samples_from_text failed (status %d)' % status)
    return samples, None
