"""Shared pieces of the miniSEED tests: the library check, GSE2 files written for them, a signal
that reaches the CM6 and Steim limits, and a reader of the SAC files of Debian's mseed2sac."""
import io
import os
import struct
import unittest

from .helpers import header
import wavecodec
from wavecodec import LibraryNotFoundError
from wavecodec.mseed import shim

CM6_MAX = 134217727
STEIM2_LOW, STEIM2_HIGH = -(1 << 29), (1 << 29) - 1


def library_missing():
    """Why libmseedio cannot be loaded, or None."""
    try:
        shim.library()
    except LibraryNotFoundError as e:
        return 'libmseedio is not built (libmseed-dev missing?): %s' % e
    return None


def needs_library(case):
    reason = library_missing()
    return unittest.skip(reason)(case) if reason else case


def gse2_bytes(waves, **options):
    out = io.BytesIO()
    wavecodec.write(out, waves, **options)
    return out.getvalue()


def wave(samples, network='XX', **fields):
    """A waveform with an STA2 line holding only the network (all miniSEED keeps of STA2)."""
    sta2 = {'network': network} if network else None
    return wavecodec.Waveform(header(**fields), samples, sta2=sta2)


def limit_signal():
    """Samples whose second differences reach the CM6 limit +-134217727 and whose first
    differences reach exactly Steim-2's limits 536870911 and -536870912, with values from near
    -2**31 to near 2**31. Built from second differences starting at zero."""
    a = CM6_MAX
    firsts = [0]

    def move_to(target):
        while firsts[-1] != target:
            step = max(-a, min(a, target - firsts[-1]))
            firsts.append(firsts[-1] + step)

    # Down towards -2**31, then the largest positive Steim-2 difference, then the largest
    # negative one.
    move_to(-4 * a)
    move_to(0)
    move_to(STEIM2_HIGH)
    firsts.extend([STEIM2_HIGH] * 2)
    move_to(0)
    move_to(STEIM2_LOW)
    move_to(0)
    samples, value = [], 0
    for d in firsts:
        value += d
        samples.append(value)
    return samples


def sac(path):
    """(start as (year, day of year, hour, minute, second, millisecond, b), delta, samples)
    of a little-endian binary SAC file."""
    with open(path, 'rb') as f:
        data = f.read()
    floats = struct.unpack('<70f', data[:280])
    ints = struct.unpack('<40i', data[280:440])
    npts = ints[9]
    samples = struct.unpack('<%df' % npts, data[632:632 + 4 * npts])
    return (tuple(ints[:6]) + (floats[5],), floats[0], samples)


def find_program(name):
    for folder in os.environ.get('PATH', '').split(os.pathsep):
        candidate = os.path.join(folder, name)
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    return None
