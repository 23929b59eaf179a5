"""The GSE2 commands on faulty inputs and outputs: closed standard output, damaged data named by
its line, --lenient, info's columns, ibm2ieee's messages."""
import os
import sys
import unittest

from .helpers import (PYTHON_DIR, TempDirCase, header, run, run_cli, signal as seismogram,
                      wavecodec)


class Commands(TempDirCase):
    def setUp(self):
        TempDirCase.setUp(self)
        self.waves = [wavecodec.Waveform(header(channel=c), seismogram(400, seed=k))
                      for k, c in enumerate(('BHZ', 'BHN', 'BHE'))]
        self.data = self.gse('good.gse', self.waves)
        first = self.data.index(b'CHK2 ')
        end = self.data.index(b'\n', first)
        self.bad = self.write_bytes('bad.gse', self.data[:first] + b'CHK2 42' +
                                    self.data[end:])

    def one_error(self, args, *texts):
        status, out, err = run_cli(args)
        self.assertEqual(status, 1, (out, err))
        self.assertNotIn('Traceback', err)
        self.assertEqual(len(err.strip().splitlines()), 1, err)
        for text in texts:
            self.assertIn(text, err)
        return out

    def test_closed_standard_output(self):
        env = dict(os.environ)
        env['PYTHONPATH'] = PYTHON_DIR + os.pathsep + env.get('PYTHONPATH', '')
        for args in (['verify', self.path('good.gse')], ['info', self.path('good.gse')]):
            status, out, err = run([sys.executable, '-m', 'wavecodec'] + args, env=env,
                                   preexec_fn=lambda: (os.setsid(), os.close(1)))
            err = err.decode('utf-8', 'replace')
            self.assertEqual(status, 1, err)
            self.assertEqual(len(err.strip().splitlines()), 1, err)
            self.assertIn('standard output', err)
            self.assertNotIn('Traceback', err)

    def test_lenient_reads_past_a_faulty_waveform(self):
        self.one_error(['decode', self.bad, '-o', self.path('w2.txt'), '--waveform', '2'],
                       'checksum mismatch')
        status, out, err = run_cli(['decode', self.bad, '-o', self.path('w2.txt'),
                                    '--waveform', '2', '--lenient'])
        self.assertEqual((status, err), (0, ''))
        self.assertEqual(self.read_bytes('w2.txt').split(),
                         [str(v).encode('ascii') for v in self.waves[1].samples])
        # Every waveform: the sound ones written under their own numbers, the faulty one
        # reported and not written, exit status 1.
        status, out, err = run_cli(['decode', self.bad, '-o', self.path('all.txt'),
                                    '--lenient'])
        self.assertEqual(status, 1)
        self.assertIn('waveform 1', err)
        self.assertIn('checksum mismatch', err)
        self.assertEqual(sorted(f for f in self.leftovers() if f.startswith('all')),
                         ['all-2.txt', 'all-3.txt'])
        self.assertEqual(self.read_bytes('all-3.txt').split(),
                         [str(v).encode('ascii') for v in self.waves[2].samples])
        # A faulty waveform chosen is not written.
        status, out, err = run_cli(['decode', self.bad, '-o', self.path('w1.txt'),
                                    '--waveform', '1', '--lenient'])
        self.assertEqual(status, 1)
        self.assertNotIn('w1.txt', self.leftovers())
        status, out, err = run_cli(['plot', self.bad, '-o', self.path('p.svg'), '--lenient'])
        self.assertEqual(status, 1)
        self.assertIn('2 waveform(s) drawn', out)

    def test_damaged_data_named_by_its_line(self):
        lines = self.data.split(b'\n')
        lines[7] = lines[7][:29] + b'!' + lines[7][30:]
        damaged = self.write_bytes('damaged.gse', b'\n'.join(lines))
        self.one_error(['decode', damaged, '-o', self.path('x.txt'), '--waveform', '1'],
                       'line 8, column 30', "'!'")
        self.assertIn("line 8, column 30 holds '!'",
                      wavecodec.read(damaged, strict=False)[0].error)
        text = self.gse('int.gse', self.waves[:1], data_format='INT').split(b'\n')
        text[4] = text[4][:12] + b'4x' + text[4][14:]
        self.one_error(['decode', self.write_bytes('int-bad.gse', b'\n'.join(text)), '-o',
                        self.path('x.txt')], 'line 5, column')
        samples = self.write_bytes('s.txt', b'1 2 3\n4 5\n6 seven 8\n')
        self.one_error(['encode', samples, '-o', self.path('e.gse'), '--station', 'A',
                        '--channel', 'BHZ', '--start', '2020-01-01', '--rate', '1'],
                       '%s: line 3' % samples, "'seven'")
        self.assertEqual(sorted(self.leftovers()),
                         ['bad.gse', 'damaged.gse', 'good.gse', 'int-bad.gse', 'int.gse',
                          's.txt'])

    def test_info_columns(self):
        waves = [wavecodec.Waveform(header(sample_rate=rate), [1, 2, 3])
                 for rate in (99.999999, 1234.567891, 40.0)]
        status, out, err = run_cli(['info', self.write_bytes('r.gse', self.gse('r.gse', waves))])
        self.assertEqual((status, err), (0, ''))
        rates = [row.split()[5] for row in out.strip().splitlines()[1:]]
        self.assertEqual(rates, ['99.999999', '1234.567891', '40'])
        # A count the data section cannot hold is flagged without decoding.
        data = self.gse('c.gse', [wavecodec.Waveform(header(), [1, 2, 3])])
        lying = self.write_bytes('lying.gse', data.replace(b'       3 ', b'10000000 ', 1))
        for verify in ([], ['--verify']):
            status, out, err = run_cli(['info'] + verify + [lying])
            self.assertEqual(status, 1, out)
            row = out.strip().splitlines()[1]
            self.assertIn('10000000', row)
            self.assertIn('BAD', row)
            self.assertIn('more than its data section', row)

    def test_ibm2ieee_names_the_file(self):
        short = self.write_bytes('three.ibm', b'abc')
        self.one_error(['ibm2ieee', short, self.path('out.f32')],
                       '%s: 3 bytes is not a whole number' % short)
        self.assertNotIn('out.f32', self.leftovers())


if __name__ == '__main__':
    unittest.main()
