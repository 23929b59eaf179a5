"""The command line, run as a subprocess: each command, its error exits, no partial files."""
import os
import struct
import sys
import xml.etree.ElementTree as ET

from .helpers import (PYTHON_DIR, TempDirCase, header, run, run_cli, run_on_terminal, signal,
                      wavecodec)
from .test_native import ibm_model


class Cli(TempDirCase):
    def setUp(self):
        TempDirCase.setUp(self)
        self.samples = signal(1500)
        self.waves = [wavecodec.Waveform(header(channel=c), self.samples[:n])
                      for c, n in (('BHZ', 1500), ('BHN', 900))]
        wavecodec.write(self.path('good.gse'), self.waves)
        self.before = None

    def ok(self, *args):
        status, out, err = run_cli(args)
        self.assertEqual(status, 0, err)
        self.assertEqual(err, '')
        return out

    def fails(self, args, text, status=1):
        """Runs a command that must fail: one clear line on stderr, no traceback, no new file."""
        before = self.leftovers()
        got, out, err = run_cli(args)
        self.assertEqual(got, status, (out, err))
        self.assertNotIn('Traceback', err)
        self.assertEqual(len(err.strip().splitlines()), 1, err)
        self.assertIn(text, err)
        self.assertEqual(self.leftovers(), before)
        return out, err

    def test_info(self):
        out = self.ok('info', self.path('good.gse'))
        rows = out.strip().splitlines()
        self.assertEqual(rows[0].split(), ['FILE', 'STATION', 'NET', 'CHAN', 'START', 'RATE',
                                           'SAMPLES', 'FORMAT', 'LAT', 'LON', 'STATUS'])
        self.assertEqual(rows[1].split()[1:], ['ABC', '-', 'BHZ', '2024-03-05T06:07:08.500',
                                               '40', '1500', 'CM6', '-', '-', 'unverified'])
        self.assertEqual(rows[2].split()[3], 'BHN')
        out = self.ok('info', '--verify', self.path('good.gse'))
        self.assertEqual(out.strip().splitlines()[1].split()[-1], 'ok')

    def test_info_station_and_faults(self):
        sta2 = b'STA2 IU         34.94591 -106.45723 WGS-84       1.850 0.100\n'
        data = self.read_bytes('good.gse').replace(b'DAT2\n', sta2 + b'DAT2\n', 1)
        row = self.ok('info', self.write_bytes('sta.gse', data)).splitlines()[1].split()
        self.assertEqual((row[2], row[8], row[9]), ('IU', '34.94591', '-106.45723'))
        # A blank before the first WID2 leaves a data section without WID2: named by its line.
        self.write_bytes('lead.gse', b' ' + data)
        for command in ('info', 'verify'):
            status, out, err = run_cli([command, self.path('lead.gse')])
            self.assertEqual(status, 1)
            self.assertIn('line 3: a data section (DAT2) that no WID2 line introduces', out)
        # A rate of zero: one line naming the field, no traceback, for every command.
        zero = data.replace(b'   40.000000 ', b'    0.000000 ')
        self.write_bytes('zero.gse', zero)
        self.fails(['plot', self.path('zero.gse'), '-o', self.path('z.svg')], 'sample_rate')
        status, out, err = run_cli(['info', self.path('zero.gse')])
        self.assertEqual(status, 1)
        self.assertIn('WID2 field sample_rate 0.0 must be finite and above zero', out)

    def test_verify(self):
        self.assertIn('2 waveform(s) in 1 file(s): all sound',
                      self.ok('verify', self.path('good.gse')))
        data = self.read_bytes('good.gse')
        first = data.index(b'CHK2 ')
        end = data.index(b'\n', first)
        self.write_bytes('bad.gse', data[:first] + b'CHK2 42' + data[end:])
        status, out, err = run_cli(['verify', self.path('good.gse'), self.path('bad.gse')])
        self.assertEqual(status, 1)
        self.assertIn('BAD %s: waveform 1 (ABC BHZ' % self.path('bad.gse'), out)
        self.assertIn('1 bad', out)
        status, out, err = run_cli(['info', '--verify', self.path('bad.gse')])
        self.assertEqual(status, 1)
        self.assertIn('MISMATCH', out)

    def test_verify_progress_on_a_terminal(self):
        files = [self.path('good.gse')] * 6
        status, terminal, out = run_on_terminal(['verify'] + files,
                                                dict(os.environ, PYTHONPATH=PYTHON_DIR))
        self.assertEqual(status, 0)
        self.assertIn(b'verifying 6/6 files', terminal)
        self.assertIn(b'12 waveform(s) in 6 file(s): all sound', out)
        # Not a terminal: no progress at all.
        status, out, err = run_cli(['verify'] + files)
        self.assertEqual((status, err), (0, ''))

    def test_decode_text_and_int32(self):
        self.ok('decode', self.path('good.gse'), '-o', self.path('s.txt'))
        with open(self.path('s-1.txt')) as f:
            self.assertEqual([int(l) for l in f], self.samples)
        with open(self.path('s-2.txt')) as f:
            self.assertEqual([int(l) for l in f], self.samples[:900])
        self.ok('decode', self.path('good.gse'), '-o', self.path('one.i32'), '--format', 'int32',
                '--waveform', '2')
        raw = self.read_bytes('one.i32')
        self.assertEqual(list(struct.unpack('<900i', raw)), self.samples[:900])

    def test_encode_round_trip(self):
        with open(self.path('in.txt'), 'w') as f:
            f.write('\n'.join(map(str, self.samples)) + '\n')
        for fmt in ('CM6', 'int'):
            self.ok('encode', self.path('in.txt'), '-o', self.path('e.gse'), '--station', 'XYZ',
                    '--channel', 'HHE', '--start', '2023-12-31T23:59:58.25', '--rate', '200',
                    '--format', fmt, '--calib', '0.25', '--instrument', 'STS-2')
            w = wavecodec.read(self.path('e.gse'))[0]
            self.assertEqual(list(w.samples), self.samples)
            h = w.header
            self.assertEqual((h['station'], h['channel'], h['year'], h['month'], h['day'],
                              h['hour'], h['minute'], h['second'], h['sample_rate'],
                              h['calibration'], h['instrument_type'], h['data_format']),
                             ('XYZ', 'HHE', 2023, 12, 31, 23, 59, 58.25, 200.0, 0.25, 'STS-2',
                              fmt.upper()))
        self.write_bytes('in.i32', struct.pack('<3i', -1, 2, -2147483648))
        self.ok('encode', self.path('in.i32'), '--input', 'int32', '-o', self.path('r.gse'),
                '--station', 'A', '--channel', 'B', '--start', '2020-01-01', '--rate', '1',
                '--format', 'INT')
        self.assertEqual(list(wavecodec.read(self.path('r.gse'))[0].samples),
                         [-1, 2, -2147483648])

    def test_encode_errors(self):
        self.write_bytes('in.txt', b'1 2 3\n4 five 6\n')
        base = ['encode', self.path('in.txt'), '-o', self.path('e.gse'), '--station', 'A',
                '--channel', 'B', '--start', '2020-01-01T00:00:00', '--rate', '10']
        self.fails(base, "'five' is not an integer sample")
        self.write_bytes('in.txt', b'0 200000000 0\n')
        self.fails(base, 'outside the CM6 range')
        self.ok(*(base + ['--clamp']))
        self.assertTrue(wavecodec.read(self.path('e.gse'))[0].ok)
        self.fails(base[:8] + ['--start', 'yesterday', '--rate', '10', '-o', self.path('f.gse')],
                   "bad --start 'yesterday'", status=2)
        self.fails(base + ['--station', 'TOOLONG'], 'station', status=1)
        self.fails(base + ['--format', 'CM8'], 'invalid choice', status=2)
        self.fails(base[:-2], 'rate', status=2)
        # The closing line shows the start as written, carried into the next year.
        out = self.ok(*(base[:8] + ['--start', '2020-12-31T23:59:59.9996', '--rate', '10',
                                    '--clamp']))
        self.assertIn('A B 2021/01/01 00:00:00.000, 3 samples', out)

    def test_ibm2ieee(self):
        words = [0x41100000, 0xC276A000, 0x00000000, 0x7FFFFFFF, 0x3F123456]
        self.write_bytes('in.ibm', struct.pack('>5I', *words))
        self.ok('ibm2ieee', self.path('in.ibm'), self.path('out.f32'))
        self.assertEqual(list(struct.unpack('<5I', self.read_bytes('out.f32'))),
                         [ibm_model(w) for w in words])
        self.write_bytes('odd.ibm', b'\x41\x10\x00')
        self.fails(['ibm2ieee', self.path('odd.ibm'), self.path('o.f32')], 'whole number')

    def test_plot(self):
        self.ok('plot', self.path('good.gse'), '-o', self.path('p.svg'))
        root = ET.parse(self.path('p.svg')).getroot()
        ns = '{http://www.w3.org/2000/svg}'
        lines = root.findall('.//%spolyline' % ns)
        self.assertEqual(len(lines), 2)
        # Decimated to a min/max pair per pixel column, not 1500 points.
        self.assertLess(len(lines[0].get('points').split()), 2 * 1000)
        texts = ' '.join(t.text or '' for t in root.iter('%stext' % ns))
        self.assertIn('ABC BHZ 2024/03/05 06:07:08.500', texts)
        self.assertIn('time since start (s)', texts)

    def test_bad_input(self):
        missing = self.path('missing.gse')
        for command in (['info', missing], ['verify', missing],
                        ['decode', missing, '-o', self.path('x.txt')],
                        ['plot', missing, '-o', self.path('x.svg')],
                        ['ibm2ieee', missing, self.path('x.f32')]):
            self.fails(command, 'No such file or directory')
        self.write_bytes('text.gse', b'just some text\n')
        self.fails(['decode', self.path('text.gse'), '-o', self.path('x.txt')],
                   'not a GSE2.0 file')
        data = self.read_bytes('good.gse')
        self.write_bytes('cut.gse', data[:len(data) // 3])
        # Standard output stays clean, and the file's name and cause are on standard error.
        status, out, err = run_cli(['plot', self.path('cut.gse'), '-o', self.path('x.svg')])
        self.assertEqual((status, out), (1, ''))
        self.assertIn('truncated', err.strip().splitlines()[-1])
        self.assertNotIn('decomp_6b', out + err)
        self.assertNotIn('x.svg', self.leftovers())
        self.write_bytes('sum.gse', data.replace(b'CHK2 ', b'CHK2 1', 1))
        self.fails(['decode', self.path('sum.gse'), '-o', self.path('x.txt')],
                   'checksum mismatch')
        self.fails(['decode', self.path('good.gse')], '-o', status=2)
        self.fails(['decode', self.path('good.gse'), '-o', self.path('x'), '--waveform', '3'],
                   'waveforms 1 to 2', status=2)
        self.fails(['frobnicate'], 'invalid choice', status=2)
        self.fails([], 'no command', status=2)

    def test_failed_output_keeps_old_file(self):
        self.write_bytes('out.txt', b'previous\n')
        self.write_bytes('sum.gse', self.read_bytes('good.gse').replace(b'CHK2 ', b'CHK2 1', 1))
        self.fails(['decode', self.path('sum.gse'), '-o', self.path('out.txt')], 'checksum')
        self.assertEqual(self.read_bytes('out.txt'), b'previous\n')

    def test_missing_library(self):
        status, out, err = run_cli(['info', self.path('good.gse')],
                                   env={'WAVECODEC_LIBRARY': self.path('nolib.so')})
        self.assertEqual(status, 1)
        self.assertIn('nolib.so', err)
        self.assertNotIn('Traceback', err)


class SampleBlocks(TempDirCase):
    """encode reads sample text and decode prints samples a block at a time: the same samples
    whatever falls on a block's edge."""

    def setUp(self):
        TempDirCase.setUp(self)
        from wavecodec.gse2 import sampletext as commands
        self.commands = commands
        self.saved = (commands.TEXT_BLOCK, commands.FORMAT_BLOCK)

    def tearDown(self):
        self.commands.TEXT_BLOCK, self.commands.FORMAT_BLOCK = self.saved
        TempDirCase.tearDown(self)

    def test_text_read_in_blocks(self):
        import io
        samples = signal(300) + [-2147483648, 2147483647, 0]
        text = (' \n'.join(map(str, samples)) + '\r\n\t').encode('ascii')
        for size in (1, 2, 3, 7, 64, 10 ** 6):
            self.commands.TEXT_BLOCK = size
            got = self.commands.text_samples(io.BytesIO(text), 'x')
            self.assertEqual(list(got), samples, size)
            got = self.commands.text_samples(io.BytesIO(text.rstrip()), 'x')
            self.assertEqual(list(got), samples, size)
            # One per line, the layout read as a JSON list, with words JSON refuses.
            lines = ('\n'.join(map(str, samples)) + '\n007\n-0\n+5\n').encode('ascii')
            got = self.commands.text_samples(io.BytesIO(lines), 'x')
            self.assertEqual(list(got), samples + [7, 0, 5], size)
        self.commands.TEXT_BLOCK = 4
        with self.assertRaises(wavecodec.FormatError) as cm:
            self.commands.text_samples(io.BytesIO(b'1 22 333 4444 55x55 6'), 'in.txt')
        self.assertIn("in.txt: line 1: '55x55' is not an integer sample", str(cm.exception))
        for text in (b'1 2147483648', b'1\n-2147483649\n'):
            with self.assertRaises(wavecodec.FormatError) as cm:
                self.commands.text_samples(io.BytesIO(text), 'in.txt')
            self.assertIn('outside the 32-bit range', str(cm.exception))
        for bad in (b'1e3', b'true', b'1.5', b'--1', b'[2]', b'NaN'):
            with self.assertRaises(wavecodec.FormatError) as cm:
                self.commands.text_samples(io.BytesIO(b'1\n' + bad + b'\n3\n'), 'in.txt')
            self.assertIn("'%s' is not an integer sample" % bad.decode('ascii'),
                          str(cm.exception))

    def test_faulty_word_named_whole_with_its_line_whatever_the_block_edges(self):
        import io
        text = b'1\n-2 +3\r\n\t4\n5 12345x678 6\n'
        wide = b'1\n2\n\n3 -21474836480000 4\n'
        for size in (1, 2, 3, 5, 8, 13, 10 ** 6):
            self.commands.TEXT_BLOCK = size
            with self.assertRaises(wavecodec.FormatError) as cm:
                self.commands.text_samples(io.BytesIO(text), 'in.txt')
            self.assertEqual("in.txt: line 4: '12345x678' is not an integer sample",
                             str(cm.exception), size)
            with self.assertRaises(wavecodec.FormatError) as cm:
                self.commands.text_samples(io.BytesIO(wide), 'in.txt')
            self.assertEqual('in.txt: line 4: -21474836480000 is outside the 32-bit range '
                             '-2147483648..2147483647', str(cm.exception), size)
        # Digits with underscores are no integer sample, under every interpreter.
        with self.assertRaises(wavecodec.FormatError) as cm:
            self.commands.text_samples(io.BytesIO(b'1_000\n'), 'in.txt')
        self.assertIn("'1_000' is not an integer sample", str(cm.exception))

    def test_samples_printed_in_blocks(self):
        import io
        from array import array
        samples = array('i', signal(100) + [-2147483648])
        for size in (1, 7, 100, 101, 1000):
            self.commands.FORMAT_BLOCK = size
            out = io.BytesIO()
            self.commands.write_samples(out, samples, 'text')
            self.assertEqual(out.getvalue(), ('\n'.join(map(str, samples)) + '\n').encode())
            out = io.BytesIO()
            self.commands.write_samples(out, samples, 'int32')
            self.assertEqual(out.getvalue(), struct.pack('<%di' % len(samples), *samples))
        out = io.BytesIO()
        self.commands.write_samples(out, array('i'), 'text')
        self.assertEqual(out.getvalue(), b'')


class CommandTable(TempDirCase):
    def test_each_module_registers_the_commands_listed_for_it(self):
        # The command line imports a command's module by this table: a name missing from it,
        # or listed under the wrong module, would make the command unknown.
        import argparse
        from importlib import import_module
        from wavecodec import cli
        for name, commands in cli.COMMAND_MODULES:
            parser = argparse.ArgumentParser()
            import_module(name).register(parser.add_subparsers())
            self.assertEqual(tuple(parser._subparsers._group_actions[0].choices), commands, name)
        parser = cli.build_parser('info')
        self.assertEqual(list(parser._subparsers._group_actions[0].choices),
                         list(cli.COMMAND_MODULES[0][1]))

    def test_the_public_names_and_what_a_command_loads(self):
        import wavecodec
        import wavecodec.gse2
        for package in (wavecodec, wavecodec.gse2):
            for name in package.__all__:
                self.assertIsNotNone(getattr(package, name), name)
            self.assertTrue(set(package.__all__) <= set(dir(package)))
            with self.assertRaises(AttributeError):
                getattr(package, 'no_such_name')
        self.assertIs(wavecodec.read, wavecodec.gse2.reader.read)
        self.assertIs(wavecodec.load_ibmfloat, wavecodec.native.ibmfloat)
        # Which modules a fresh interpreter holds after an info command: under Python 3.7 and
        # later, neither the writer nor the other formats' packages (older ones load all).
        self.gse('one.gse', [wavecodec.Waveform(header(), signal(20))])
        code = ('import sys; from wavecodec import cli\n'
                'try:\n    cli.main(["info", %r])\nexcept SystemExit:\n    pass\n'
                'print(" ".join(sorted(m for m in sys.modules if m.startswith("wavecodec"))))'
                % self.path('one.gse'))
        env = dict(os.environ, PYTHONPATH=PYTHON_DIR)
        status, out, err = run([sys.executable, '-c', code], env=env)
        self.assertEqual(status, 0, err)
        out = out.decode()
        self.assertIn('unverified', out)  # the command ran
        loaded = out.split('\n')[-2].split()
        self.assertIn('wavecodec.gse2.reader', loaded)
        if sys.version_info >= (3, 7):
            for module in ('wavecodec.gse2.writer', 'wavecodec.segy', 'wavecodec.mseed',
                           'wavecodec.archive', 'wavecodec.ibm'):
                self.assertNotIn(module, loaded)
