"""Shared pieces of the miniSEED tests: the library check, GSE2 files written for them, a signal
that reaches the CM6 and Steim limits, a reader of the SAC files of Debian's mseed2sac, and
libmseed itself writing and reading records through the test tool mseed_tool.c."""
import atexit
import datetime
import io
import os
import shutil
import struct
import subprocess
import tempfile
import unittest
from array import array

from .helpers import communicate, header, start
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


def stream(start, rate=100.0, location=b''):
    """A stream XX.ABC.<location>.HHZ of 512-byte Steim-2 records for shim.pack."""
    s = shim.Stream()
    s.network, s.station, s.location, s.channel, s.quality = b'XX', b'ABC', location, b'HHZ', \
        b'D'
    s.start, s.rate, s.record_length, s.encoding = start, rate, 512, shim.STEIM2
    return s


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


# --- libmseed itself, through the test-only tool mseed_tool.c -----------------------------

TOOL_SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'mseed_tool.c')
_tool = []
# SEED encodings libmseed writes, by name: (code, array typecode of the samples).
SEED_ENCODINGS = {'text': (0, None), 'int16': (1, 'i'), 'int32': (3, 'i'), 'float32': (4, 'f'),
                  'float64': (5, 'd'), 'steim1': (10, 'i'), 'steim2': (11, 'i')}


def tool_path():
    """The test tool built from mseed_tool.c (once per process, in a temporary folder removed
    at exit), or None when it cannot be built here (no C compiler or no libmseed-dev)."""
    if not _tool:
        folder = tempfile.mkdtemp(prefix='wavecodec-mseed-tool-')
        atexit.register(shutil.rmtree, folder, True)
        program = os.path.join(folder, 'mseed_tool')
        compiler = find_program('cc') or find_program('gcc')
        built = False
        if compiler:
            p = start([compiler, '-O2', '-o', program, TOOL_SOURCE, '-lmseed'],
                      stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            communicate(p, timeout=120)
            built = p.returncode == 0
        _tool.append(program if built else None)
    return _tool[0]


def needs_tool(case):
    """Skips `case` (saying why) without libmseedio or without the libmseed test tool."""
    reason = library_missing() or (None if tool_path() else
                                   'the libmseed test tool cannot be built (cc or '
                                   'libmseed-dev missing)')
    return unittest.skip(reason)(case) if reason else case


def run_tool(args):
    p = start([tool_path()] + [a if isinstance(a, bytes) else str(a) for a in args],
              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = communicate(p, timeout=120)
    if p.returncode != 0:
        raise AssertionError('mseed_tool %s failed: %r' % (args[0], err))
    return out.decode('latin-1')


def _array(typecode, data):
    """An array of `typecode` holding the bytes `data` (both Pythons)."""
    out = array(typecode)
    out.frombytes(data) if hasattr(out, 'frombytes') else out.fromstring(data)
    return out


def libmseed_write(folder, name, samples, encoding='steim2', byte_order=1, record_length=512,
                   rate=100.0, start=1700000000000000, codes=('XX', 'ABC', '', 'HHZ')):
    """Path of file `name` in `folder` of `samples` (ints, floats, or bytes of text) packed by
    libmseed's msr_pack."""
    code, typecode = SEED_ENCODINGS[encoding]
    raw = os.path.join(folder, name + '.samples')
    with open(raw, 'wb') as f:
        f.write(bytes(samples) if typecode is None else array(typecode, samples).tostring()
                if not hasattr(array, 'tobytes') else array(typecode, samples).tobytes())
    path = os.path.join(folder, name)
    run_tool(['write', path] + [c or '' for c in codes] +
             [start, repr(float(rate)), record_length, code, byte_order, raw])
    return path


class Trace(object):
    """A trace as libmseed reads it: `key`, `start`, `end` (microseconds), `rate`, `type`,
    `samples` (array, or bytes of text)."""

    def __init__(self, words, samples):
        self.key = (words[1], words[2], '' if words[3] == '-' else words[3], words[4])
        self.start, self.end, self.rate = int(words[5]), int(words[6]), float(words[7])
        self.type, self.samples = words[9], samples


def libmseed_read(folder, paths):
    """The traces libmseed reads from `paths` (ms_readtraces, then healed), in its order."""
    out = os.path.join(folder, 'traces.bin')
    lines = [line.split() for line in run_tool(['read', out] + list(paths)).splitlines()]
    with open(out, 'rb') as f:
        data = f.read()
    traces, at = [], 0
    for words in (w for w in lines if w[0] == 'trace'):
        count, kind = int(words[8]), words[9]
        size = {'i': 4, 'f': 4, 'd': 8, 'a': 1}.get(kind, 0) * count
        chunk, at = data[at:at + size], at + size
        samples = chunk if kind == 'a' else _array(kind, chunk) if kind in 'ifd' and count \
            else array('i')
        traces.append(Trace(words, samples))
    return traces


def mseed2sac_read(folder, path):
    """{channel key: (start as microseconds, delta, samples)} of Debian's mseed2sac reading
    `path`, or None when mseed2sac is not installed."""
    program = find_program('mseed2sac')
    if program is None:
        return None
    work = tempfile.mkdtemp(dir=folder)
    p = start([program, '-f', '3', os.path.abspath(path)], cwd=work, stdout=subprocess.PIPE,
              stderr=subprocess.PIPE)
    communicate(p, timeout=120)
    found = {}
    for name in sorted(os.listdir(work)):
        if name.endswith('.SAC'):
            (year, day, hour, minute, second, milli, b), delta, samples = \
                sac(os.path.join(work, name))
            when = datetime.datetime(year, 1, 1, hour, minute, second) + datetime.timedelta(
                days=day - 1, milliseconds=milli) + datetime.timedelta(seconds=b)
            key = tuple(name.split('.')[:4])
            found.setdefault(key, []).append((when, delta, samples))
    return found


def strip_blockette1000(data, record_length):
    """Records of libmseed written with blockette 1000 as its only blockette, without it (as old
    data centres wrote them): no blockette, the data offset kept."""
    out = bytearray(data)
    for at in range(0, len(out), record_length):
        out[at + 39] = 0  # blockettes
        out[at + 46:at + 48] = b'\0\0'
        out[at + 48:at + 56] = b'\0' * 8
    return bytes(out)
