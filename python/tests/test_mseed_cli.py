"""gse2-to-mseed and mseed-to-gse2 run as subprocesses: round trips through files and standard
input and output, refusals as one line with nothing written, checksums verified first, notes of
what was rounded, and the rest of the command line working without libmseedio."""
import os
import sys

from .helpers import PYTHON_DIR, TempDirCase, run, run_cli, signal
from .mseed_helpers import gse2_bytes, needs_library, wave
from .test_mseed_roundtrip import EXAMPLE
from wavecodec.mseed import shim
from array import array


class Commands(TempDirCase):
    def ok(self, *args):
        status, out, err = run_cli(args)
        self.assertEqual((status, err), (0, ''), out)
        return out

    def fails(self, args, text, status=1, env=None):
        before = self.leftovers()
        code, out, err = run_cli(args, env=env)
        self.assertEqual(code, status, (out, err))
        self.assertNotIn('Traceback', err)
        self.assertEqual(len(err.strip().splitlines()), 1, err)
        self.assertIn(text, err)
        self.assertEqual(self.leftovers(), before)
        return err

    def piped(self, args, data):
        env = dict(os.environ, PYTHONPATH=PYTHON_DIR)
        status, out, err = run([sys.executable, '-m', 'wavecodec'] + list(args), data, env=env)
        self.assertEqual((status, err), (0, b''))
        return out


@needs_library
class Conversions(Commands):
    def test_message_of_several_files_round_trip(self):
        one = self.write_bytes('one.gse', gse2_bytes(
            [wave(signal(3000), channel='HHZ'), wave(signal(10), channel='HHN', network='AB')],
            message_id='M1 SRC'))
        two = self.write_bytes('two.gse', gse2_bytes([wave(signal(700), station='XYZ')]))
        out = self.ok('gse2-to-mseed', one, two, '-o', self.path('all.mseed'),
                      '--encoding', 'steim1', '--record-length', '1024')
        self.assertEqual(out, '%s: 3 waveforms, 3710 samples in %d records (steim1, 1024 '
                         'bytes)\n' % (self.path('all.mseed'),
                                       len(self.read_bytes('all.mseed')) // 1024))
        self.ok('mseed-to-gse2', self.path('all.mseed'), '-o', self.path('back.gse'),
                '--message-id', 'M1 SRC')
        expected = gse2_bytes([wave(signal(3000), channel='HHZ'),
                               wave(signal(10), channel='HHN', network='AB'),
                               wave(signal(700), station='XYZ')], message_id='M1 SRC')
        self.assertEqual(self.read_bytes('back.gse'), expected)

    def test_standard_input_and_output(self):
        with open(EXAMPLE, 'rb') as f:
            gse = f.read()
        records = self.piped(['gse2-to-mseed', '-', '-o', '-', '--network', 'XX'], gse)
        self.ok('gse2-to-mseed', EXAMPLE, '-o', self.path('event.mseed'), '--network', 'XX')
        self.assertEqual(records, self.read_bytes('event.mseed'))
        back = self.piped(['mseed-to-gse2', '-', '-o', '-', '--format', 'int'], records)
        self.ok('mseed-to-gse2', self.path('event.mseed'), '-o', self.path('event.gse'),
                '--format', 'INT')
        self.assertEqual(back, self.read_bytes('event.gse'))
        self.assertTrue(back.startswith(b'WID2 2024/05/17 12:00:00.000 DEMO  HHZ      INT    '
                                        b'18000  100.000000'))

    def test_checksum_verified_first(self):
        text = gse2_bytes([wave(signal(100)), wave(signal(50), channel='HHE')])
        at = text.rindex(b'CHK2')
        bad = self.write_bytes('bad.gse', text[:at] + b'CHK2        1\n')
        self.fails(['gse2-to-mseed', bad, '-o', self.path('out.mseed')],
                   '%s: waveform 2 (ABC HHE 2024/03/05 06:07:08.500, line' % bad)
        out = self.ok('gse2-to-mseed', bad, '-o', self.path('out.mseed'), '--lenient')
        self.assertIn('2 waveforms, 150 samples', out)
        self.assertIn('1 with a checksum mismatch converted (--lenient)', out)
        short = self.write_bytes('short.gse', text[:at - 30])
        self.fails(['gse2-to-mseed', short, '-o', self.path('other.mseed'), '--lenient'],
                   'short.gse: waveform 2')

    def test_refusals_leave_nothing(self):
        self.fails(['gse2-to-mseed', EXAMPLE, '-o', self.path('out.mseed')], 'no network code')
        self.fails(['gse2-to-mseed', EXAMPLE, '-o', self.path('out.mseed'), '--network', 'XXX'],
                   "network code 'XXX' is longer than the 2 characters")
        self.fails(['gse2-to-mseed', EXAMPLE, '-o', self.path('o.mseed'), '--record-length',
                    '1000'], "'1000' is not a power of two", status=2)
        self.fails(['gse2-to-mseed', '-', '-', '-o', self.path('o.mseed')],
                   'can be given only once', status=2)
        good = self.path('good.mseed')
        self.ok('gse2-to-mseed', EXAMPLE, '-o', good, '--network', 'XX')
        self.fails(['mseed-to-gse2', good, '-o', good], 'refusing to overwrite an input')
        data = self.read_bytes('good.mseed')
        cut = self.write_bytes('cut.mseed', data[:-1000])
        self.fails(['mseed-to-gse2', cut, '-o', self.path('x.gse')],
                   '%s: record %d (byte %d): the record of 4096 bytes is cut short'
                   % (cut, len(data) // 4096, len(data) - 4096))
        self.fails(['mseed-to-gse2', EXAMPLE, '-o', self.path('x.gse')],
                   '%s: record 1 (byte 0): not a miniSEED data record' % EXAMPLE)

    def test_start_rounded_only_when_asked(self):
        stream = shim.Stream()
        stream.network, stream.station, stream.channel, stream.quality = b'XX', b'ABC', \
            b'HHZ', b'D'
        stream.start, stream.rate, stream.record_length = 1700000000123400, 100.0, 512
        stream.encoding = shim.STEIM2
        data, _ = shim.pack(stream, array('i', range(300)))
        path = self.write_bytes('fine.mseed', data)
        self.fails(['mseed-to-gse2', path, '-o', self.path('x.gse')],
                   'has a fraction of a millisecond, which GSE2 cannot hold')
        out = self.ok('mseed-to-gse2', path, path, '-o', self.path('x.gse'), '--round-time')
        self.assertIn('2 waveforms, 600 samples from 2 records; 2 start times rounded to the '
                      'millisecond (--round-time)', out)
        self.assertIn(b'2023/11/14 22:13:20.123 ABC', self.read_bytes('x.gse'))

    def test_what_gse2_cannot_hold_is_counted(self):
        stream = shim.Stream()
        stream.network, stream.station, stream.channel, stream.quality = b'XX', b'ABC', \
            b'HHZ', b'D'
        stream.location, stream.start, stream.record_length = b'00', 1700000000123000, 512
        stream.encoding = shim.STEIM2
        parts = []
        for rate in (100.0, 1.0 / 3):
            stream.rate = rate
            parts.append(shim.pack(stream, array('i', range(50)))[0])
        path = self.write_bytes('two.mseed', b''.join(parts))
        out = self.ok('mseed-to-gse2', path, '-o', self.path('two.gse'))
        self.assertIn('2 location codes not kept (GSE2 has no field for them); 1 sample rates '
                      "written to the 11 columns of GSE2's rate, not exactly", out)
        self.assertIn(b' .3333333333 ', self.read_bytes('two.gse'))


class WithoutTheLibrary(Commands):
    def test_only_the_miniseed_commands_need_it(self):
        env = {'MSEEDIO_LIBRARY': self.path('absent.so')}
        self.fails(['gse2-to-mseed', EXAMPLE, '-o', self.path('o.mseed'), '--network', 'XX'],
                   'cannot load libmseedio', env=env)
        self.fails(['mseed-to-gse2', EXAMPLE, '-o', self.path('o.gse')],
                   'cannot load libmseedio', env=env)
        status, out, err = run_cli(['info', EXAMPLE], env=env)
        self.assertEqual((status, err), (0, ''))
        self.assertIn('DEMO', out)
