"""The layout decision over all the evidence, on files laid out as other writers lay them out:
a sweep over every combination of revision, byte order, lengths, stale trace header counts,
extended text records, additional trace headers, sample counts around 65535 and sample
formats (each reads exactly as written or is refused naming a field), then one table of the
faults found by attack, one row each."""
import io
import itertools
import os
import struct
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ET
from array import array

from .helpers import PYTHON_DIR, UNDER_SANITIZER, TempDirCase, background, end, run, run_cli, start
from . import segy_model as m
from wavecodec import segy
from wavecodec.compat import PY2
from wavecodec.errors import FormatError

TYPECODES = {1: 'f', 2: 'i', 3: 'h', 5: 'f', 8: 'b', 16: 'B'}
SVG = '{http://www.w3.org/2000/svg}'
_EXPECTED = {}


def bytes_of(values):
    """The bytes of an array, compared at C speed (array equality goes value by value)."""
    return values.tostring() if PY2 else values.tobytes()


def expected(case):
    """The bytes of the sample arrays a reader must give for `case` (made once for each
    pattern)."""
    fmt, n, varying = case.what[-1], case.what[-2], case.what[2]
    key = (fmt, n, varying)
    if key not in _EXPECTED:
        _EXPECTED[key] = [bytes_of(array(TYPECODES[fmt], t)) for t in case.traces]
    return _EXPECTED[key]


class EvidenceSweep(TempDirCase):
    def check(self, case):
        """None when `case` reads as the model says, else what went wrong."""
        try:
            f = segy.open(io.BytesIO(case.data))
        except FormatError as e:
            if case.refused and all(field in str(e) for field in case.refused):
                return None
            return 'refused: %s' % e
        with f:
            if case.refused:
                return 'read, but must be refused naming %s' % case.refused
            want = expected(case)
            got = [bytes_of(t) for t in f.traces()]
            if (f.endian, len(f)) != (case.endian, 2) or got != want:
                return 'read wrong: %s, %d traces, %s samples' % (
                    f.endian, len(f), [f.sample_count(i) for i in range(len(f))])
            if [bytes_of(f.trace(i)) for i in range(2)] != want or \
                    list(f.attribute('offset')) != case.offsets or \
                    [f.header(i)['offset'] for i in range(2)] != case.offsets:
                return 'random access reads otherwise'
            records = [r if e == 'binary' else r[:80].rstrip()
                       for r, e in zip(f.extended_text_headers, f.extended_text_encodings)]
            if records != case.records:
                return 'records %r' % records
            for k in range(1, case.extra + 1):
                raw = f.header(1, raw=True, extension=k)
                if k == 1 and f.header(1, extension=1)['source_x'] != 1001.5 or \
                        k > 1 and raw != bytes(bytearray([0x30 + k - 1]) * 240):
                    return 'extension %d' % k
            if case.what[3] and 'another sample count' not in ' '.join(f.notes):
                return 'stale counts not stated: %s' % f.notes
        return None

    def test_every_combination_reads_right_or_is_refused_naming_a_field(self):
        failures = []
        outcomes = {'read': 0, 'refused': 0}
        for what in itertools.product(sorted(m.REVISIONS), ('big', 'little', 'pair'),
                                      (False, True), (False, True), sorted(m.RECORDS),
                                      (0, 1, 2, 3), (65535, 65536), sorted(TYPECODES)):
            case = m.Case(*what)
            problem = self.check(case)
            outcomes['refused' if case.refused else 'read'] += 1
            if problem:
                failures.append((what, problem))
        self.assertEqual(failures[:5], [], '%d of %d combinations fail' % (
            len(failures), sum(outcomes.values())))
        self.assertEqual(sum(outcomes.values()), 4 * 3 * 2 * 2 * 5 * 4 * 2 * 6)


def ints(n, k):
    return [k * 1000 + j for j in range(n)]


def patched(data, *fields):
    """`data` with (byte offset, struct item, value) written over it, big-endian."""
    raw = bytearray(data)
    for at, item, value in fields:
        struct.pack_into('>' + item, raw, at, value)
    return bytes(raw)


def su_file(endian, data):
    return b''.join(m.trace_header(endian, k, len(v), offset=100 * k - 50) +
                    m.sample_bytes(5, v, endian) for k, v in enumerate(data))


LENIENT = 'strict=False, or --lenient'


def attack_rows():
    """Faults found on files other programs write, one row each: name, file, opener, options,
    and what reading must give (traces; offsets when not 100 k - 50; notes; attributes) or the
    words its refusal holds."""
    opn, su, S = segy.open, segy.open_su, m.segy_file
    # Six traces of the binary header's 100 samples but trace 1 of 90 (its header says so): the
    # first, middle and last headers agree with the binary header. Every road (traces, trace,
    # header, attribute) must read where the decision says, strict or not.
    moved = [ints(100 if k != 1 else 90, k) for k in range(6)]
    fits = dict(data=moved, notes=["fits each trace header's own count"])
    # Revision 0, one zero-filled counted record, 3 traces of 40 samples: 3200 + 3 * 400 bytes,
    # which 11 traces of 400 bytes also fill.
    blank = [ints(40, k) for k in range(3)]
    # Revision 0, count -1, int8 traces whose bytes are printable: no EndText stanza comes, so
    # the count is ignored (as in any revision 0 file) and the traces read.
    text = [[65 + (j + k) % 26 for j in range(3400)] for k in range(2)]
    stanza = [m.BINARY_STANZA, bytes(bytearray((7 * j) % 256 for j in range(3200))),
              m.text_header(['((SEG: EndText))'], 'ascii')]
    # A binary interval of 0: the trace headers' interval where they all agree, else 0.
    four, two = [ints(4, 0)] * 3, [ints(5, k) for k in range(2)]
    still = patched(S('big', 2, four, interval=0), *[(3716 + k * 256, 'H', 250) for k in (0, 1, 2)])
    # 257 samples, 0x0101 either way round: both orders divide the file into traces. Of the
    # counts and zeros alone nothing tells the orders apart.
    wave = [[float(j % 13) - 6.0 for j in range(257)] for _ in range(3)]
    zeros = b''.join(struct.pack('>114xH124x', 257) + b'\0' * 1028 for _ in range(2))
    nothing = dict(data=[[0.0] * 257] * 2, offsets=[0, 0])
    return [
        ('a trace of its own length, strict', S('big', 2, moved), opn, dict(strict=True), fits),
        ('a trace of its own length', S('big', 2, moved), opn, dict(strict=False), fits),
        ('a blank counted record', S('big', 2, blank, revision=(0, 0),
                                     extended_text=[b'\0' * 3200]), opn, {},
         dict(data=blank, extended_text_encodings=['empty'])),
        ('printable traces after count -1', patched(S('big', 8, text, revision=(0, 0)),
                                                    (3504, 'h', -1)), opn, {},
         dict(data=text, notes=['is -1 but', 'ignored (revision 0)'])),
        ('a binary stanza over two records', patched(S('big', 2, two, extended_text=stanza),
                                                     (3504, 'h', -1)), opn, {},
         dict(data=two, extended_text_encodings=['binary', 'binary', 'ascii'])),
        ('interval 0, the trace headers agree', still, opn, {},
         dict(data=four, sample_interval=250, notes=['the trace headers all give 250 us'])),
        ('interval 0, the trace headers differ', patched(still, (3716, 'H', 500)), opn, {},
         dict(data=four, sample_interval=0)),
        ('SU big', su_file('big', wave), su, {}, dict(data=wave, endian='big',
                                                      sample_interval=4000)),
        ('SU little', su_file('little', wave), su, {}, dict(data=wave, endian='little',
                                                            sample_interval=4000)),
        ('SU counts only, told big', zeros, su, dict(endian='big'), dict(nothing, endian='big')),
        ('SU counts only, told little', zeros, su, dict(endian='little'),
         dict(nothing, endian='little')),
        ('SU counts only', zeros, su, {}, ['byte order is undecided', "endian='big' or 'little'"]),
        ('no reading fits the size', patched(S('big', 2, moved), (3714, 'H', 70)), opn, {},
         ["'samples_per_trace' (bytes 3221-3222) is 100", "'sample_count' (bytes 115-116)",
          LENIENT]),
        ('the last trace cut', S('big', 5, [[1.0] * 10] * 3)[:-7], opn, {},
         ['trace 2 (the last) is truncated', LENIENT]),
        ('trace_count too high', patched(S('big', 5, [[1.0]] * 3, revision=(2, 0)),
                                         (3512, 'Q', 4)), opn, {},
         ["'trace_count' (bytes 3513-3520) is 4", LENIENT]),
        ('SU, the last trace cut', su_file('big', [[1.0] * 3] * 3)[:-2], su, {},
         ['trace 2 (the last) is truncated', LENIENT]),
        ('swapped in pairs', m.swap_pairs(S('big', 5, [[1.0]], revision=(2, 0),
                                            extra=((3297, 'I', 0x01020304),))), opn, {},
         ["'byte_order' (bytes 3297-3300) holds 0x02010403", 'swapped in pairs']),
    ]


class FoundByAttack(TempDirCase):
    def test_rows(self):
        for name, raw, opener, options, want in attack_rows():
            try:
                f = opener(io.BytesIO(raw), **options)
            except FormatError as e:
                self.assertTrue(isinstance(want, list) and all(w in str(e) for w in want),
                                '%s: %s' % (name, e))
                continue
            with f:
                self.assertIsInstance(want, dict, name + ': read, not refused')
                data = want['data']
                offsets = want.get('offsets', [100 * k - 50 for k in range(len(data))])
                self.assertEqual(([list(t) for t in f.traces()],
                                  [list(f.trace(k)) for k in range(len(data))],
                                  list(f.attribute('offset')),
                                  [f.header(k)['offset'] for k in range(len(data))]),
                                 (data, data, offsets, offsets), name)
                for note in want.get('notes', ()):
                    self.assertIn(note, ' '.join(f.notes), name)
                for key in set(want) - set(['data', 'offsets', 'notes']):
                    self.assertEqual(getattr(f, key), want[key], name)


class PathLike(object):
    """A path-like object (os.PathLike) under both interpreters."""

    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path


class WritingRows(TempDirCase):
    """What revision 2 lets a writer say, written and read back; what cannot be said,
    refused naming the field."""

    def round_trip(self, traces, interval, **options):
        path = PathLike(self.path('w.sgy'))
        self.assertEqual(segy.write(path, traces, interval, format=5, **options), len(traces))
        return segy.open(path)

    def test_what_revision_2_holds(self):
        long_ = [[float(j % 9) for j in range(70000)], [float(j % 5) for j in range(70000)]]
        with self.round_trip(long_, 250.5) as f:
            self.assertEqual((f.revision, f.samples_per_trace, f.sample_interval),
                             (2, 70000, 250.5))
            self.assertEqual((f.binary_header['samples_per_trace'], f.header(1)['sample_count'],
                              f.binary_header['sample_interval']), (0, 0, 0))
            self.assertEqual([list(t) for t in f.traces()], long_)
        with self.round_trip([[1.0, 2.0]], 70000, endian='little') as f:
            self.assertEqual(f.sample_interval, 70000)
        # Additional headers: extension 1 by name (first only), others as bytes; a trace with
        # fewer says so in its extension 1.
        other = bytes(bytearray(range(240)))
        ext = [[dict(source_x=1.5, cdp_x=-2.25), other], [dict(source_x=3.5)],
               [dict(receiver_depth=7.0), other]]
        varying = [[1.0] * 3, [2.0] * 70000, [3.0] * 2]
        with self.round_trip(varying, 1000, extension_headers=ext,
                             binary_header=dict(fixed_length_traces=0)) as f:
            self.assertEqual((f.revision, f.layout.minor, f.additional_trace_headers), (2, 1, 2))
            self.assertEqual([f.sample_count(k) for k in range(3)], [3, 70000, 2])
            self.assertEqual([list(t) for t in f.traces()], varying)
            e = f.header(0, extension=1)
            self.assertEqual((e['source_x'], e['cdp_x'], e['sample_count']), (1.5, -2.25, 3))
            self.assertEqual(f.header(2, extension=2, raw=True), other)
            self.assertRaises(IndexError, f.header, 1, extension=2)
            headers = [f.header(k, raw=True) for k in range(3)]
            firsts = [f.header(k, raw=True, extension=1) for k in range(3)]
        # Headers read from a big-endian file, written into a little-endian one: rewritten.
        segy.write(self.path('l.sgy'), varying, 1000, format=5, endian='little',
                   trace_headers=headers, extension_headers=[[e] for e in firsts],
                   binary_header=dict(fixed_length_traces=0))
        with segy.open(self.path('l.sgy')) as f:
            self.assertEqual([f.header(k)['trace_sequence_line'] for k in range(3)], [1, 2, 3])
            self.assertEqual(f.header(0, extension=1)['cdp_x'], -2.25)
            self.assertEqual(f.sample_count(1), 70000)
        converted = segy.convert(PathLike(self.path('l.sgy')), PathLike(self.path('i.sgy')),
                                 'ibm')
        with segy.open(self.path('i.sgy')) as f:
            self.assertEqual((converted.traces, f.format, [list(t) for t in f.traces()]),
                             (3, 1, varying))

    def test_what_cannot_be_said_is_refused(self):
        rows = [
            (dict(binary_header=dict(revision_major=1)), [[1.0]], 250.5,
             "'revision_major' (bytes 3501-3501)=1"),
            (dict(binary_header=dict(revision_major=0)), [[1.0] * 70000], 1000,
             "'revision_major'"),
            (dict(extension_headers=[[{}, {}]]), [[1.0]], 1000, 'only extension 1 (the first)'),
            (dict(extension_headers=[[b'\0' * 240, b'\0' * 240], [b'\0' * 240]]),
             [[1.0]] * 2, 1000, 'fewer than the 2 of the binary header'),
            (dict(extension_headers=[[]]), [[1.0]] * 2, 1000, 'extension_headers holds 1'),
            (dict(binary_header=dict(fixed_length_traces=0)), [[1.0], [1.0] * 70000], 1000,
             'more need revision 2'),
            (dict(binary_header=dict(fixed_length_traces=0, revision_major=2)),
             [[1.0], [1.0] * 70000], 1000, "only trace header extension 1's"),
            (dict(extension_headers=[[dict(sample_count=5)]]), [[1.0]], 1000,
             'sample_count=5 but the trace has 1'),
        ]
        for options, traces, interval, words in rows:
            with self.assertRaises(FormatError) as e:
                segy.write(self.path('x.sgy'), traces, interval, format=5, **options)
            self.assertIn(words, str(e.exception))
            self.assertEqual(self.leftovers(), [])
        # A raw header of unknown fields in another byte order cannot be rewritten.
        segy.write(self.path('b.sgy'), [[1.0]], 1000, extension_headers=[[dict(), b'\1' * 240]])
        with segy.open(self.path('b.sgy')) as f:
            second = f.header(0, raw=True, extension=2)
        with self.assertRaises(FormatError) as e:
            segy.write(self.path('c.sgy'), [[1.0]], 1000, endian='little',
                       extension_headers=[[dict(), second]])
        self.assertIn('read from a big-endian file', str(e.exception))
        # A first additional header of another name is no extension 1: read as bytes only.
        first = bytes(bytearray([0x41]) * 240)
        segy.write(self.path('p.sgy'), [[1.0, 2.0]] * 2, 1000, format=5,
                   extension_headers=[[first]] * 2)
        with segy.open(self.path('p.sgy')) as f:
            self.assertEqual(f.header(1, raw=True, extension=1), first)
            with self.assertRaises(ValueError) as e:
                f.header(1, extension=1)
            self.assertIn("not %r" % b'SEG00001', str(e.exception))
            self.assertEqual([list(t) for t in f.traces()], [[1.0, 2.0]] * 2)


class CommandRows(TempDirCase):
    """The commands on what made them fail: long traces, endless inputs, pictures."""

    def run_ok(self, args, **options):
        status, out, err = run_cli(args, timeout=120, **options)
        self.assertEqual((status, err), (0, ''), out)
        return out

    def run_refused(self, args, words, **options):
        status, out, err = run_cli(args, timeout=120, **options)
        self.assertEqual(status, 1, (out, err))
        self.assertEqual(len(err.strip().splitlines()), 1, err)
        self.assertIn(words, err)

    def test_more_than_65535_samples(self):
        # Revision 2, IBM samples 1.0 and up, 70000 a trace: the extended count, the two-byte
        # counts 0.
        parts = [m.text_header(['C 1 LONG']), m.binary_header('big', 1, 0, 1000, (2, 0), extra=(
            (3269, 'i', 70000), (3297, 'I', 0x01020304)))]
        for k in range(3):
            parts += [m.trace_header('big', k, 0, 1000, offset=k),
                      m.sample_bytes(1, [0x41100000 + k] * 70000, 'big')]
        path = self.write_bytes('long.sgy', b''.join(parts))
        out = self.run_ok(['segy-info', path])
        self.assertIn('samples per trace:     70000\n', out)
        self.run_ok(['segy-convert', path, self.path('ieee.sgy'), '--format', 'ieee'])
        with segy.open(self.path('ieee.sgy')) as f:
            self.assertEqual((f.format, len(f), f.samples_per_trace), (5, 3, 70000))
            self.assertEqual(set(f.trace(2)), set([1.0 + 2 * 16.0 ** -5]))

    def test_endless_inputs_stopped_in_bounded_memory(self):
        self.run_refused(['segy-info', '/dev/zero'],
                         "/dev/zero: binary header field 'format' (bytes 3225-3226) 0 is not")
        yes = start(['yes'], stdout=subprocess.PIPE)
        try:
            status, out, err = python(['-m', 'wavecodec', 'segy-info', '-'], stdin=yes.stdout)
        finally:
            end(yes)
        self.assertEqual(status, 1, err)
        self.assertIn("standard input: binary header field 'format'", err)
        # Headers that start a file, then trace bytes without end: stopped at the limit.
        fifo = self.path('endless.sgy')
        os.mkfifo(fifo)
        head = m.segy_file('big', 5, [[1.0] * 100])[:3600]
        feeder = background(endless, fifo, head)
        try:
            self.run_refused(['segy-info', fifo], 'endless.sgy: the input goes on past 4 MiB',
                             env={'WAVECODEC_STREAM_LIMIT': str(4 << 20)})
        finally:
            release(fifo, feeder)
        self.assertEqual(self.leftovers(), ['endless.sgy'])

    @unittest.skipIf(UNDER_SANITIZER, 'memory bounds mean nothing under the sanitizer')
    def test_picture_of_long_traces_in_bounded_memory(self):
        # 600 traces of 65535 int8 samples: each sample a Python float in a list took about
        # 1.2 GB; what is drawn of them is a few hundred values a trace.
        parts = [m.text_header(['C 1 WIDE']), m.binary_header('big', 8, 65535, 1000)]
        body = bytes(bytearray((j * 7) % 200 for j in range(65535)))
        for k in range(600):
            parts.append(m.trace_header('big', k, 65535, 1000, offset=k))
            parts.append(body)
        self.write_bytes('wide.sgy', b''.join(parts))
        status, out, err = python(['-c', PEAK, 'segy-plot', self.path('wide.sgy'), '-o',
                                   self.path('wide.svg')])
        self.assertEqual(status, 0, err)
        self.assertIn('600 traces, drawn as density', out)
        peak = int(err.split('peak kB ')[1])
        self.assertLess(peak, 200 << 10, err)

    def test_picture_bias_time_scalar_and_round_ticks(self):
        data = [[5.0 + (-1.0) ** j for j in range(50)] for _ in range(4)]
        segy.write(self.path('b.sgy'), data, 2000, format=5,
                   trace_headers=[dict(delay_recording_time=20, time_scalar=10,
                                       cdp=1003 + 4 * k) for k in range(4)])
        self.run_ok(['segy-plot', self.path('b.sgy'), '-o', self.path('b.svg'),
                     '--remove-bias', '--key', 'cdp'])
        root = ET.fromstring(self.read_bytes('b.svg'))
        texts = [(t.text, float(t.get('x')), float(t.get('y'))) for t in root.iter(SVG + 'text')]
        self.assertIn("each trace's mean removed", ' '.join(t for t, x, y in texts))
        # The delay 20 times the time scalar 10: time from 200 ms.
        self.assertEqual(sorted(t for t, x, y in texts if x < 80 and t and t.isdigit())[0],
                         '200')
        # cdp 1003 to 1015, ticked at the round 1004 ... 1014.
        cdps = [t for t, x, y in texts if y < 40 and t and t.isdigit()]
        self.assertEqual(cdps, ['1004', '1006', '1008', '1010', '1012', '1014'])
        # Without its mean (5) the trace swings about its lane's centre, as far either way.
        path = next(p for p in root.iter(SVG + 'path') if p.get('id') == 'w0')
        xs = [float(p.split(',')[0]) for p in path.get('d')[1:].split()]
        self.assertLess(abs(sum(xs) / len(xs) - (80 + 830 / 8.0)), 0.5)
        self.assertGreater(max(xs) - min(xs), 100)


# Runs the command line and prints its peak memory (kB) on standard error.
PEAK = ('import resource, runpy, sys\n'
        'sys.argv = ["wavecodec"] + sys.argv[1:]\n'
        'try:\n'
        '    runpy.run_module("wavecodec", run_name="__main__")\n'
        'except SystemExit as e:\n'
        '    status = e.code\n'
        'sys.stderr.write("peak kB %d" % resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)\n'
        'sys.exit(status)\n')


def python(args, stdin=None):
    """Runs this interpreter with `args` and the package on its path, bounded in time;
    (status, stdout, stderr) as text."""
    env = dict(os.environ, PYTHONPATH=PYTHON_DIR + os.pathsep + os.environ.get('PYTHONPATH', ''))
    status, out, err = run([sys.executable] + args, timeout=300, stdin=stdin, env=env)
    return status, out.decode('utf-8', 'replace'), err.decode('utf-8', 'replace')


def endless(fifo, head):
    """Writes `head`, then zeros without end, into `fifo` until its reader goes."""
    try:
        with open(fifo, 'wb') as f:
            f.write(head)
            block = b'\0' * 65536
            while True:
                f.write(block)
    except (IOError, OSError):
        pass


def release(fifo, feeder):
    """Ends `feeder` when the command never opened the FIFO: opens it for reading, once."""
    if feeder.is_alive():
        try:
            fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
            os.close(fd)
        except OSError:
            pass
    feeder.join(30)
