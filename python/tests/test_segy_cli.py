"""segy-info, segy-convert and segy-plot run as subprocesses on the example and on files
written here: output, byte-for-byte conversion, one-line refusals, bounded pictures."""
import os
import struct
import sys
import xml.etree.ElementTree as ET

from .helpers import PYTHON_DIR, TempDirCase, communicate, end, run, run_cli, start
from .segy_model import to_float32
from .test_segy_bad import EXAMPLE
import wavecodec
from wavecodec import segy

SVG = '{http://www.w3.org/2000/svg}'


class SegyCommands(TempDirCase):
    def ok(self, *args):
        status, out, err = run_cli(args)
        self.assertEqual((status, err), (0, ''), out)
        return out

    def fails(self, args, text):
        before = self.leftovers()
        status, out, err = run_cli(args)
        self.assertEqual(status, 1, (out, err))
        self.assertNotIn('Traceback', err)
        self.assertEqual(len(err.strip().splitlines()), 1, err)
        self.assertIn(text, err)
        self.assertEqual(self.leftovers(), before)

    def test_info(self):
        out = self.ok('segy-info', EXAMPLE)
        rows = dict(line.split(':', 1) for line in out.splitlines() if not line.startswith(' '))
        self.assertEqual(rows['traces'].strip(), '48')
        self.assertEqual(rows['samples per trace'].strip(), '501')
        self.assertEqual(rows['sample interval'].strip(), '2000 us')
        self.assertEqual(rows['format'].strip(), '1 (IBM float32)')
        self.assertIn('big-endian', rows['kind'])
        self.assertIn('EBCDIC', rows['kind'])
        low, high = rows['sample range'].split(' to ')
        with segy.open(EXAMPLE) as f:
            values = [v for t in f.traces() for v in t]
        # Nine digits: enough to give back the float32 values.
        self.assertEqual((to_float32(float(low)), to_float32(float(high))),
                         (min(values), max(values)))
        self.assertIn('  C 1 SYNTHETIC SHOT GATHER', out)

    def test_info_nan_range_escapes_and_assumptions(self):
        nan = struct.unpack('<f', b'\x00\x00\xc0\x7f')[0]
        segy.write(self.path('n.sgy'), [[nan, 5.0, -3.0], [nan, nan, nan], [0.5, nan, 2.0]],
                   1000, format=5, text_header='C 1 TITLE \x1b]0;owned\x07 END\nC 2 \x85 X')
        out = self.ok('segy-info', self.path('n.sgy'))
        self.assertIn('sample range:          -3 to 5\n', out)
        self.assertIn('NaN samples:           5\n', out)
        self.assertNotIn('\x1b', out)
        self.assertNotIn('\x07', out)
        self.assertIn('C 1 TITLE \\x1b]0;owned\\x07 END', out)
        self.assertIn('C 2 \\x85 X', out)
        # What the reader assumed is said: a revision 0 file with an extended text header.
        raw = bytearray(self.read_bytes('n.sgy'))
        raw[3500:3502] = b'\0\0'
        struct.pack_into('>h', raw, 3504, 1)
        raw[3600:3600] = b'\x40' * 3200
        self.write_bytes('r0.sgy', bytes(raw))
        out = self.ok('segy-info', self.path('r0.sgy'))
        self.assertIn('extended text headers: 1 (ebcdic)\n', out)
        self.assertIn('assumed:', out)
        self.assertIn('honoured although the revision bytes say 0', out)
        # An unknown format code points to the way round it.
        struct.pack_into('>h', raw, 3224, 77)
        self.write_bytes('u.sgy', bytes(raw))
        self.fails(['segy-info', self.path('u.sgy')], '--source-format')

    def test_garbage_gives_one_line(self):
        self.write_bytes('junk.sgy', b'\x07' * 5000)
        self.fails(['segy-info', self.path('junk.sgy')], "'format' (bytes 3225-3226)")
        self.write_bytes('short.sgy', b'C' * 100)
        self.fails(['segy-info', self.path('short.sgy')], 'too short')
        self.fails(['segy-plot', self.path('short.sgy'), '-o', self.path('p.svg')], 'too short')
        self.fails(['segy-info', self.path('absent.sgy')], 'absent.sgy')

    def test_convert_keeps_every_other_byte(self):
        with open(EXAMPLE, 'rb') as f:
            original = f.read()
        self.ok('segy-convert', EXAMPLE, self.path('ieee.sgy'), '--format', 'ieee')
        ieee = self.read_bytes('ieee.sgy')
        self.assertEqual(len(ieee), len(original))
        self.assertEqual(struct.unpack('>h', ieee[3224:3226])[0], 5)
        self.assertEqual(ieee[:3224] + ieee[3226:3600], original[:3224] + original[3226:3600])
        trace = 240 + 501 * 4
        with segy.open(EXAMPLE) as f:
            for i in range(48):
                at = 3600 + i * trace
                self.assertEqual(ieee[at:at + 240], original[at:at + 240])
                self.assertEqual(struct.unpack('>501f', ieee[at + 240:at + trace]),
                                 tuple(f.trace(i)))
        # Back to IBM: the words the writer made are the nearest ones, so the file returns.
        self.ok('segy-convert', self.path('ieee.sgy'), self.path('back.sgy'), '--format', 'ibm')
        self.assertEqual(self.read_bytes('back.sgy'), original)

    def test_convert_rounding_reported_or_refused(self):
        values = [1.0 + 2.0 ** -23, 0.5, 3.0]
        segy.write(self.path('f.sgy'), [values], 1000, format=5)
        out = self.ok('segy-convert', self.path('f.sgy'), self.path('i.sgy'), '--format', 'ibm')
        self.assertIn('1 samples rounded', out)
        self.fails(['segy-convert', self.path('f.sgy'), self.path('j.sgy'), '--format', 'ibm',
                    '--exact'], 'trace 0 sample 0')
        segy.write(self.path('n.sgy'), [[float('nan'), 1.0]], 1000, format=5)
        self.fails(['segy-convert', self.path('n.sgy'), self.path('j.sgy'), '--format', 'ibm'],
                   'saturate')
        out = self.ok('segy-convert', self.path('n.sgy'), self.path('j.sgy'), '--format', 'ibm',
                      '--saturate')
        self.assertIn('1 NaN or infinite samples saturated', out)
        self.fails(['segy-convert', self.path('f.sgy'), self.path('f.sgy'), '--format', 'ibm'],
                   'f.sgy')

    def test_ibm_beyond_float32_refused(self):
        with open(EXAMPLE, 'rb') as f:
            raw = bytearray(f.read())
        raw[3600 + 240 + 8:3600 + 240 + 12] = struct.pack('>I', 0x7f123456)
        self.write_bytes('big.sgy', bytes(raw))
        self.fails(['segy-convert', self.path('big.sgy'), self.path('o.sgy'), '--format',
                    'ieee'], 'trace 0 sample 2')

    def test_plot_styles_bounded(self):
        for style, mark in (('wiggle', SVG + 'path'), ('density', SVG + 'image')):
            out = self.ok('segy-plot', EXAMPLE, '-o', self.path('%s.svg' % style),
                          '--style', style)
            self.assertIn('drawn as %s' % style, out)
            data = self.read_bytes('%s.svg' % style)
            self.assertLess(len(data), 400000)
            root = ET.fromstring(data)
            # Density: the picture and its colour bar.
            self.assertEqual(len(root.findall('.//' + mark)), 48 if style == 'wiggle' else 2)
        # Many traces: auto picks density and the picture stays bounded.
        segy.write(self.path('many.sgy'), [[float(i % 17 - 8)] * 3000 for i in range(900)],
                   1000, format=5)
        out = self.ok('segy-plot', self.path('many.sgy'), '-o', self.path('many.svg'))
        self.assertIn('900 traces, drawn as density', out)
        self.assertLess(len(self.read_bytes('many.svg')), 400000)
        segy.write_su(self.path('s.su'), [[1.0, -1.0, 0.5]] * 5, 4000)
        self.ok('segy-plot', '--su', self.path('s.su'), '-o', self.path('s.svg'))
        ET.fromstring(self.read_bytes('s.svg'))

    def test_standard_input_and_output(self):
        env = dict(os.environ, PYTHONPATH=PYTHON_DIR)
        with open(EXAMPLE, 'rb') as f:
            status, out, err = run([sys.executable, '-m', 'wavecodec', 'segy-convert', '-', '-',
                                    '--format', 'ieee'], stdin=f, env=env)
        self.assertEqual((status, err), (0, b''))
        self.ok('segy-convert', EXAMPLE, self.path('ieee.sgy'), '--format', 'ieee')
        self.assertEqual(out, self.read_bytes('ieee.sgy'))
        with open(EXAMPLE, 'rb') as f:
            info = run([sys.executable, '-m', 'wavecodec', 'segy-info', '-'], stdin=f, env=env,
                       stderr=None)[1]
        self.assertIn(b'traces:                48', info)

    def texts(self, name):
        root = ET.fromstring(self.read_bytes(name))
        return [(t.text, float(t.get('x')), float(t.get('y'))) for t in root.iter(SVG + 'text')]

    def test_plot_time_from_delay_key_clip_and_gain(self):
        data = [[0.0] * 200 for _ in range(6)]
        for t in data[::2]:
            t[125] = 8.0        # an event at 2,000 + 125 * 4 = 2,500 ms; the rest muted
        data[2][10] = 0.5
        segy.write(self.path('d.sgy'), data, 4000, format=5,
                   trace_headers=[dict(delay_recording_time=2000, offset=100 * k + 30)
                                  for k in range(6)])
        self.ok('segy-plot', self.path('d.sgy'), '-o', self.path('d.svg'), '--key', 'offset')
        texts = self.texts('d.svg')
        ticks = dict((t, y) for t, x, y in texts if t and t.isdigit() and x < 80)
        self.assertEqual(sorted(ticks), ['2000', '2200', '2400', '2600'])
        # 2,000 ms at the top of the frame (y 40), 2,796 ms at its bottom (y 640).
        self.assertAlmostEqual(ticks['2400'] - 4, 40 + 600 * 400 / 796.0, places=1)
        # The event of trace 0 (its largest swing right) is drawn at 2,500 ms.
        root = ET.fromstring(self.read_bytes('d.svg'))
        path = next(p for p in root.iter(SVG + 'path') if p.get('id') == 'w0')
        points = [tuple(float(c) for c in p.split(',')) for p in path.get('d')[1:].split()]
        self.assertAlmostEqual(max(points)[1], 40 + 600 * 500 / 796.0, places=0)
        # The trace axis is ticked at round offsets, each between the traces it lies
        # between (100 is seven tenths of the way from offset 30 to 130).
        labels = dict((t, x) for t, x, y in texts if y < 40 and t not in ('offset',))
        self.assertEqual(sorted(labels), ['100', '200', '300', '400', '500'])
        self.assertAlmostEqual(labels['100'], 80 + 830 / 6.0 * 1.2, places=0)
        self.assertIn('offset', [t for t, x, y in texts])
        notes = [t for t, x, y in texts if t and t.startswith('clip')]
        # The muted zeros do not count: the level is that of the live samples.
        self.assertEqual(notes, ['clip 8 (98% of magnitudes)'])
        self.ok('segy-plot', self.path('d.sgy'), '-o', self.path('e.svg'), '--style',
                'density', '--clip', '2.5', '--gain', 'agc', '40')
        texts = [t for t, x, y in self.texts('e.svg')]
        self.assertIn('clip 2.5 (given); gain: AGC 40 ms', texts)
        self.assertIn('-2.5', texts)     # the colour bar's ends
        self.assertIn('2.5', texts)
        for bad in (['--clip', '0'], ['--clip', '101%'], ['--gain', 'agc'], ['--gain', 'x'],
                    ['--key', 'nonsense']):
            status, out, err = run_cli(['segy-plot', self.path('d.sgy'), '-o',
                                        self.path('x.svg')] + bad)
            self.assertEqual(status, 2, (bad, err))
            self.assertFalse(os.path.exists(self.path('x.svg')))

    def test_plot_zero_interval_said(self):
        segy.write(self.path('z.sgy'), [[1.0, -1.0, 0.5]] * 5, 1000, format=5,
                   binary_header=dict(revision_major=2))
        raw = bytearray(self.read_bytes('z.sgy'))
        struct.pack_into('>H', raw, 3216, 0)
        struct.pack_into('>d', raw, 3272, float('inf'))
        for k in range(5):  # the trace headers' intervals would be taken where they agree
            struct.pack_into('>H', raw, 3600 + k * 252 + 116, 1000 + k)
        self.write_bytes('z.sgy', bytes(raw))
        self.ok('segy-plot', self.path('z.sgy'), '-o', self.path('z.svg'))
        texts = [t for t, x, y in self.texts('z.svg')]
        self.assertTrue(any('interval 0 (unknown): time axis in samples' in t for t in texts))
        self.assertIn('sample', texts)
        self.assertIn('sample interval:       0 (unknown)',
                      self.ok('segy-info', self.path('z.sgy')))

    def test_lenient_version_and_pipes(self):
        with open(EXAMPLE, 'rb') as f:
            cut = f.read()[:-100]
        self.write_bytes('cut.sgy', cut)
        self.fails(['segy-info', self.path('cut.sgy')], 'trace 47 (the last) is truncated')
        for args in (['segy-info'], ['segy-plot', '-o', self.path('c.svg')],
                     ['segy-convert', '--format', 'ieee']):
            extra = [self.path('c.sgy')] if args[0] == 'segy-convert' else []
            status, out, err = run_cli(args[:1] + [self.path('cut.sgy')] + extra + args[1:] +
                                       ['--lenient'])
            self.assertEqual(status, 0, err)
            self.assertIn('warning: ', err)
            self.assertIn('trace 47 (the last) is truncated', err)
        with segy.open(self.path('c.sgy')) as f:
            self.assertEqual(len(f), 47)
        status, out, err = run_cli(['--version'])
        self.assertEqual(status, 0)
        self.assertIn('wavecodec %s' % wavecodec.__version__, out + err)
        status, out, err = run_cli([])
        self.assertIn('segy-info, segy-convert, segy-plot', err)
        fifo = self.path('pipe.sgy')
        os.mkfifo(fifo)
        feeder = start(['sh', '-c', 'cat "$0" > "$1"', EXAMPLE, fifo])
        try:
            out = self.ok('segy-info', fifo)
            communicate(feeder)
        finally:
            end(feeder)   # still blocked opening the FIFO when the command never read it
        self.assertIn('traces:                48', out)

    def test_wiggle_reduction_keeps_the_outline(self):
        from wavecodec.segy.plot import reduce_trace
        values = [((i * 7919) % 1000) - 500 + (3000 if i == 4321 else 0) for i in range(10000)]
        reduced = reduce_trace(values, 200)
        self.assertLessEqual(len(reduced), 200)
        indices = [i for i, _ in reduced]
        self.assertEqual(indices, sorted(set(indices)))
        self.assertTrue(all(values[i] == v for i, v in reduced))
        self.assertIn((4321, max(values)), reduced)
        self.assertIn(min(values), [v for _, v in reduced])
        self.assertEqual(reduce_trace(values[:150], 200), list(enumerate(values[:150])))
