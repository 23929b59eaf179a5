"""gse2-to-mseed and mseed-to-gse2 run as subprocesses: round trips through files and standard
input and output, refusals as one line with nothing written, checksums verified first, notes of
what was rounded, joined, skipped and selected, info and verify of miniSEED files, and the rest
of the command line working without libmseedio."""
import os
import re
import sys

from .helpers import PYTHON_DIR, TempDirCase, run, run_cli, signal
from .mseed_helpers import (gse2_bytes, libmseed_read, libmseed_write, needs_library,
                            needs_tool, stream, wave)
from .test_mseed_roundtrip import EXAMPLE
import wavecodec
from wavecodec import mseed
from wavecodec.mseed import shim
from array import array
import datetime


class Commands(TempDirCase):
    def ok(self, *args):
        status, out, err = run_cli(args)
        self.assertEqual((status, err), (0, ''), out)
        return out

    def fails(self, args, text, status=1, env=None, row=None):
        before = self.leftovers()
        code, out, err = run_cli(args, env=env)
        self.assertEqual((code, len(err.strip().splitlines())), (status, 1), (row, out, err))
        self.assertNotIn('Traceback', err, row)
        self.assertIn(text, err, row)
        self.assertEqual(self.leftovers(), before, row)

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

    def test_refusals_leave_nothing_and_lenient_notes(self):
        text = gse2_bytes([wave(signal(100)), wave(signal(50), channel='HHE')])
        at = text.rindex(b'CHK2')
        bad = self.write_bytes('bad.gse', text[:at] + b'CHK2        1\n')
        short = self.write_bytes('short.gse', text[:at - 30])
        good = self.path('good.mseed')
        self.ok('gse2-to-mseed', EXAMPLE, '-o', good, '--network', 'XX')
        data = self.read_bytes('good.mseed')
        cut = self.write_bytes('cut.mseed', data[:-1000])
        fine = self.write_bytes('fine.mseed', shim.pack(stream(1700000000123400),
                                                        array('i', range(300)))[0])
        out, gse = ['-o', self.path('o.mseed')], ['-o', self.path('x.gse')]
        # (row, arguments, exit status, text of the one line of error)
        for row, args, status, text in (
                ('checksum first', ['gse2-to-mseed', bad] + out, 1,
                 '%s: waveform 2 (ABC HHE 2024/03/05 06:07:08.500, line' % bad),
                ('short even when lenient', ['gse2-to-mseed', short, '--lenient'] + out, 1,
                 'short.gse: waveform 2'),
                ('no network', ['gse2-to-mseed', EXAMPLE] + out, 1, 'no network code'),
                ('network too long', ['gse2-to-mseed', EXAMPLE, '--network', 'XXX'] + out, 1,
                 "network code 'XXX' is longer than the 2 characters"),
                ('record length', ['gse2-to-mseed', EXAMPLE, '--record-length', '1000'] + out,
                 2, "'1000' is not a power of two"),
                ('stdin twice', ['gse2-to-mseed', '-', '-'] + out, 2, 'can be given only once'),
                ('overwrite input', ['mseed-to-gse2', good, '-o', good], 1,
                 'refusing to overwrite an input'),
                ('cut record', ['mseed-to-gse2', cut] + gse, 1,
                 '%s: record %d (byte %d): the record of 4096 bytes is cut short'
                 % (cut, len(data) // 4096, len(data) - 4096)),
                ('not miniSEED', ['mseed-to-gse2', EXAMPLE] + gse, 1,
                 '%s: record 1 (byte 0): not a miniSEED data record' % EXAMPLE),
                ('fraction of a millisecond', ['mseed-to-gse2', fine] + gse, 1,
                 'has a fraction of a millisecond, which GSE2 cannot hold')):
            self.fails(args, text, status, row=row)
        said = self.ok('gse2-to-mseed', bad, '-o', self.path('out.mseed'), '--lenient')
        self.assertIn('2 waveforms, 150 samples', said)
        self.assertIn('1 with a checksum mismatch converted (--lenient)', said)
        said = self.ok('mseed-to-gse2', fine, fine, '-o', self.path('x.gse'), '--round-time')
        self.assertIn('2 waveforms, 600 samples from 2 records; 1 overlaps; 2 start times '
                      'rounded to the millisecond (--round-time)', said)
        self.assertIn(b'2023/11/14 22:13:20.123 ABC', self.read_bytes('x.gse'))

    def test_what_gse2_cannot_hold_is_counted(self):
        parts = [shim.pack(stream(1700000000123000, rate, location=b'00'),
                           array('i', range(50)))[0] for rate in (100.0, 1.0 / 3)]
        path = self.write_bytes('two.mseed', b''.join(bytes(p) for p in parts))
        out = self.ok('mseed-to-gse2', path, '-o', self.path('two.gse'))
        # The location code goes to the WID2 auxiliary id.
        self.assertIn("1 sample rates written to the 11 columns of GSE2's rate, not exactly",
                      out)
        self.assertEqual(self.read_bytes('two.gse').count(b' HHZ 00   CM6'), 2)
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


@needs_tool
class WhatDataCentresWrite(Commands):
    def run_rows(self, rows):
        """Runs each row (what, arguments, exit status, texts the output holds; @NAME stands
        for file NAME of the folder) and checks the status and the texts."""
        def named(text):
            return re.sub(r'@([\w-]+\.(?:gse|mseed))', lambda m: self.path(m.group(1)), text)
        for what, args, status, texts in rows:
            code, out, err = run_cli([named(a) for a in args])
            self.assertEqual(code, status, (what, out, err))
            self.assertNotIn('Traceback', err, what)
            for text in texts:
                self.assertIn(named(text), out + err, what)

    def test_conversions_both_ways(self):
        quiet = [i % 3 - 1 for i in range(300000)]
        busy = signal(6000)
        self.write_bytes('quiet.gse', gse2_bytes([wave(quiet)]))
        self.write_bytes('high.gse', gse2_bytes([wave(busy, sample_rate=16000.0)]))
        # Two locations of one channel; a channel whose second differences CM6 cannot hold.
        for name, location in (('00.mseed', '00'), ('10.mseed', '10')):
            libmseed_write(self.dir, name, busy[:700], 'steim2', 1, 512,
                           codes=('XX', 'ABC', location, 'HHZ'))
        self.write_bytes('loc.mseed', self.read_bytes('00.mseed') + self.read_bytes('10.mseed'))
        libmseed_write(self.dir, 'big.mseed', [0, 1 << 29, 0, -(1 << 29), 0], 'int32', 1, 256)
        libmseed_write(self.dir, 'log.mseed', b'boot\n' * 30, 'text', 1, 256, rate=0.0,
                       codes=('XX', 'ABC', '', 'LOG'))
        self.write_bytes('logs.mseed', self.read_bytes('log.mseed') +
                         self.read_bytes('00.mseed'))
        # One channel in two files, the later part first; and a damaged record.
        whole = libmseed_write(self.dir, 'whole.mseed', busy, 'steim2', 1, 512)
        with open(whole, 'rb') as f:
            data = f.read()
        self.write_bytes('a.mseed', data[2048:])
        self.write_bytes('b.mseed', data[:2048])
        self.write_bytes('bad.mseed', data[:1024] + b'\x17' * 512 + data[1536:])
        self.run_rows((
            ('65536-byte records hold at most 65535 samples',
             ['gse2-to-mseed', '@quiet.gse', '-o', '@quiet.mseed', '--record-length',
              '65536'], 0, ['300000 samples in 5 records']),
            ('and come back whole',
             ['mseed-to-gse2', '@quiet.mseed', '-o', '@quiet-back.gse'], 0,
             ['1 waveforms, 300000 samples from 5 records']),
            ('16 kHz: exact starts, one waveform',
             ['gse2-to-mseed', '@high.gse', '-o', '@high.mseed', '--record-length', '512'], 0,
             []),
            ('16 kHz back without rounding',
             ['mseed-to-gse2', '@high.mseed', '-o', '@high-back.gse'], 0,
             ['1 waveforms, 6000 samples']),
            ('two locations in the auxiliary id',
             ['mseed-to-gse2', '@loc.mseed', '-o', '@loc.gse'], 0, ['2 waveforms']),
            ('and back to miniSEED locations',
             ['gse2-to-mseed', '@loc.gse', '-o', '@loc-back.mseed'], 0, ['2 waveforms']),
            ('selection of GSE2 waveforms by time',
             ['gse2-to-mseed', '@quiet.gse', '-o', '@sel.mseed', '--station', 'AB?',
              '--start', '2024-03-05T06:08:00', '--end', '2024-03-05T06:09:00'], 0,
             ['2401 samples']),
            ('selection of records by channel and time',
             ['mseed-to-gse2', '@quiet.mseed', '@loc.mseed', '-o', '@sel.gse', '--channel',
              'BH*', '--start', '2024-03-05T06:10:00.005'], 0,
             ['1 waveforms, 293139 samples', '10 records outside the selection']),
            ('nothing selected',
             ['mseed-to-gse2', '@quiet.mseed', '-o', '@sel.gse', '--station', 'NONE'], 1,
             ['no record within the selection']),
            ('second differences CM6 cannot hold: the option named',
             ['mseed-to-gse2', '@big.mseed', '-o', '@big.gse'], 1,
             ['@big.gse: waveform 1', '(--clamp clamps it, or --format INT)']),
            ('clamped', ['mseed-to-gse2', '@big.mseed', '-o', '@big.gse', '--clamp'], 0, []),
            ('text channels listed, the rest converted',
             ['mseed-to-gse2', '@logs.mseed', '-o', '@logs.gse'], 0,
             ['1 channels GSE2 cannot hold skipped', 'skipped: XX.ABC..LOG (text samples, 1 '
              'records from @logs.mseed record 1, byte 0)']),
            ('one channel across two files, later part first',
             ['mseed-to-gse2', '@a.mseed', '@b.mseed', '-o', '@ab.gse'], 0,
             ['1 waveforms, 6000 samples']),
            ('a damaged record refused',
             ['mseed-to-gse2', '@bad.mseed', '-o', '@bad.gse'], 1,
             ['@bad.mseed: record 3 (byte 1024): not a miniSEED data record; --lenient']),
            ('and skipped when lenient, listed',
             ['mseed-to-gse2', '@bad.mseed', '-o', '@bad.gse', '--lenient'], 1,
             ['1 damaged records skipped (--lenient)', '1 gaps',
              'damaged: @bad.mseed: record 3 (byte 1024): not a miniSEED data record']),
            ('info lists the waveforms and the gap',
             ['info', '@bad.mseed'], 1,
             ['STEIM2', 'gap: @bad.mseed: XX.ABC..HHZ after']),
            ('verify: the damaged record a fault, the gap a note',
             ['verify', '@bad.mseed', '@a.mseed'], 1,
             ['BAD @bad.mseed: record 3 (byte 1024)', 'NOTE gap: @bad.mseed',
              '3 waveform(s) in 2 file(s): 1 bad']),
        ))
        self.assertEqual(wavecodec.read(self.path('quiet-back.gse'))[0].samples.tolist(),
                         quiet)
        for name in ('quiet.mseed', 'high.mseed'):
            records = shim.Unpacker(self.read_bytes(name))
            self.assertTrue(all(records.unpack(at)[1].sample_count <= 65535
                                for at in range(0, len(self.read_bytes(name)),
                                                records.unpack(0)[0])))
        self.assertEqual(wavecodec.read(self.path('high-back.gse'))[0].samples.tolist(), busy)
        back = libmseed_read(self.dir, [self.path('loc-back.mseed')])
        self.assertEqual([(t.key[2], t.samples.tolist()) for t in back],
                         [('00', busy[:700]), ('10', busy[:700])])
        selected = mseed.read(self.path('sel.mseed'))[0]
        self.assertEqual((selected.start, selected.samples.tolist()),
                         (datetime.datetime(2024, 3, 5, 6, 8), quiet[2060:4461]))
        selected = wavecodec.read(self.path('sel.gse'))[0]
        self.assertEqual((selected.start, selected.samples.tolist()),
                         (datetime.datetime(2024, 3, 5, 6, 10, 0, 25000), quiet[6861:]))
        self.assertEqual(wavecodec.read(self.path('ab.gse'))[0].samples.tolist(), busy)
