"""An operator's options on the archive commands: selection by station, channel and time and
--exclude (the same waveforms whichever command, and the same as filtering afterwards),
index --verify, index --gaps, progress when standard error is no terminal, the index CSV
written as the rows come, and reruns of convert (outputs in the input tree, -o equal to the
input, --skip-existing)."""
import csv
import datetime
import io
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from tests.archive_maker import make
from tests.helpers import (PYTHON_DIR, MadeArchive, TempDirCase, communicate, header, run_cli,
                           signal as series, start)
from tests.test_archive_convert import MISSING as NO_MSEED

import wavecodec
from wavecodec import archive
from wavecodec.archive import Selection


def _when(text):
    return datetime.datetime.strptime(text, '%Y-%m-%dT%H:%M:%S.%f')


class Options(MadeArchive):
    FILES = 60

    def test_selection_is_the_same_for_every_command_and_as_filtering(self):
        every = [r for r in archive.index([self.root]) if r.kind == 'gse2' and
                 r.offset is not None]
        start, end = datetime.datetime(2024, 3, 8), datetime.datetime(2024, 3, 15, 12)

        def within(r):
            # A time that is unknown (a faulty header) excludes nothing.
            return (r.end is None or _when(r.end) >= start) and \
                (r.start is None or _when(r.start) <= end)
        for options, takes in (
                (dict(select=Selection(stations=['abc', 'D?F'])),
                 lambda r: r.station in ('ABC', 'DEF')),
                (dict(select=Selection(channels=['BH[NE]'])), lambda r: r.channel != 'BHZ'),
                (dict(select=Selection(start=start, end=end)), within),
                (dict(exclude=['d0[12]', 'GHI']),
                 lambda r: '/d01/' not in r.path and '/d02/' not in r.path and
                 '/GHI/' not in r.path),
                (dict(select=Selection(['JKL'], ['BHZ'], start), exclude=['*3.gse']),
                 lambda r: r.station == 'JKL' and r.channel == 'BHZ' and
                 (r.end is None or _when(r.end) >= start) and not r.path.endswith('3.gse'))):
            rows = [r for r in archive.index([self.root], **options) if r.offset is not None]
            # SEG-Y files hold no station, channel or time: a selection leaves them out.
            seismic = [r for r in rows if r.kind != 'gse2']
            self.assertEqual(len(seismic), 0 if 'select' in options else 2, options)
            rows = [r for r in rows if r.kind == 'gse2']
            expected = [r for r in every if takes(r)]
            self.assertEqual(rows, expected, options)
            self.assertTrue(0 < len(rows) < len(every), options)
            # verify decodes the same waveforms; convert writes those of the sound files.
            checks = archive.verify([self.root], **options)
            self.assertEqual(sum(c.waveforms for c in checks), len(expected), options)
            if not NO_MSEED:
                out = tempfile.mkdtemp(dir=self.dir)
                done = archive.convert([self.root], out, **options)
                self.assertEqual(sum(d.waveforms for d in done if d.fault is None),
                                 sum(c.waveforms for c in checks if not c.faults and
                                     not c.error), options)
        # The command line takes the same selection.
        status, out, err = run_cli(['index', '-o', '-', '--station', 'JKL', '--channel', 'BHZ',
                                    '--start', '2024-03-08', '--exclude', '*3.gse', self.root])
        self.assertEqual(len(out.splitlines()) - 1, len(
            [r for r in archive.index([self.root], select=Selection(['JKL'], ['BHZ'], start),
                                      exclude=['*3.gse'])]))
        for bad in (['--start', 'yesterday'], ['--start', '2024-03-09', '--end', '2024-03-08'],
                    ['--timeout', '0'], ['--progress', '-1']):
            self.assertEqual(run_cli(['verify'] + bad + [self.root])[0], 2, bad)

    def test_index_verify_checks_the_data(self):
        folder = os.path.dirname(self.planted['checksum'])
        for verify, state, checked in ((False, 'headers read, no fault', '0'),
                                       (True, ': 1 fault(s)', '1')):
            status, out, err = run_cli(['index', '-o', '-', folder] + (
                ['--verify'] if verify else []))
            self.assertEqual(status, 1 if verify else 0, err)
            self.assertIn(state, err.splitlines()[-1])
            table = list(csv.DictReader(io.StringIO(out)))
            self.assertEqual(set(r['checked'] for r in table if r['offset']), set([checked]))
            faulty = [r['path'] for r in table if r['fault']]
            self.assertEqual(self.planted['checksum'] in faulty, verify)

    def test_progress_lines_when_not_on_a_terminal(self):
        status, out, err = run_cli(['verify', '--progress', '0.01', self.root, self.root,
                                    self.root])
        lines = [line for line in err.splitlines() if 'verifying' in line]
        self.assertTrue(lines, err)
        for line in lines:
            self.assertTrue(re.match(r'^wavecodec: verifying \d+/\d+ files \(\d+%\)'
                                     r'(, about \d+ (s|min) left)?$', line), line)
        status, out, err = run_cli(['verify', '--progress', '0', self.root, self.root])
        self.assertNotIn('verifying', err)


class Gaps(TempDirCase):
    def test_gaps_and_overlaps_per_channel(self):
        # 100 samples at 20 Hz (4.95 s) each; channel BHZ: contiguous, then a 10 s gap, then
        # an overlap of 2 s; BHN alone.
        def wave(channel, second, n=100):
            h = header(channel=channel, year=2024, month=1, day=2, hour=3, minute=0,
                       second=second, sample_rate=20.0)
            return wavecodec.Waveform(h, series(n), sta2=dict(network='XX'))
        for name, waves in (('a', [wave('BHZ', 0.0), wave('BHN', 0.0)]),
                            ('b', [wave('BHZ', 5.0)]), ('c', [wave('BHZ', 20.0)]),
                            ('d', [wave('BHZ', 22.95)])):
            wavecodec.write(self.path(name + '.gse'), waves)
        status, out, err = run_cli(['index', '-o', self.path('i.csv'), '--gaps', self.dir])
        self.assertEqual(status, 0, err)
        lines = out.splitlines()[1:]
        b, c, d = (self.path(n + '.gse') for n in 'bcd')
        self.assertEqual(lines, [
            'station XX.ABC: 5 waveform(s) in 4 file(s), 0 fault(s), 2024-01-02T03:00:00.000 '
            'to 2024-01-02T03:00:27.900',
            'GAP XX.ABC.BHZ 2024-01-02T03:00:09.950 to 2024-01-02T03:00:20.000 (10.000 s) '
            'between %s and %s' % (b, c),
            'OVERLAP XX.ABC.BHZ 2024-01-02T03:00:22.950 to 2024-01-02T03:00:24.950 (2.050 s) '
            'between %s and %s' % (c, d)])


class IndexAsItGoes(TempDirCase):
    def test_a_killed_index_keeps_its_rows(self):
        make(self.path('a'), 300)
        table = self.path('index.csv')
        env = dict(os.environ)
        env['PYTHONPATH'] = PYTHON_DIR
        p = start([sys.executable, '-m', 'wavecodec', 'index', '-o', table] +
                  [self.path('a')] * 40, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            deadline = time.time() + 120
            while time.time() < deadline and p.poll() is None and (
                    not os.path.exists(table) or os.path.getsize(table) < 4096):
                time.sleep(0.02)
            self.assertIsNone(p.poll(), 'the index ended before it could be killed')
            os.killpg(p.pid, signal.SIGKILL)
        finally:
            communicate(p, timeout=60)
        with io.open(table, encoding='utf-8', newline='') as f:
            lines = f.read().split('\n')
        self.assertEqual(lines[-1], '')          # whole lines only
        rows = list(csv.reader(lines[1:-1]))
        self.assertTrue(rows)
        self.assertEqual(set(len(r) for r in rows), set([17]))


@unittest.skipIf(NO_MSEED, NO_MSEED)
class Reruns(TempDirCase):
    def setUp(self):
        super(Reruns, self).setUp()
        self.root = self.path('in')
        make(self.root, 24)

    def convert(self, out, *more):
        status, stdout, err = run_cli(['convert', self.root, '-o', out] + list(more))
        self.assertNotIn('Traceback', err)
        return status, stdout.splitlines()[-1] if stdout else '', err

    def test_reruns(self):
        out = self.path('mseed')
        self.convert(out)
        outputs = sorted(os.path.join(d, n) for d, _, ns in os.walk(out) for n in ns)
        made = dict((p, os.stat(p).st_mtime) for p in outputs)
        status, last, err = self.convert(out, '--skip-existing')
        self.assertIn('0 file(s) converted', last, err)
        self.assertIn('21 up to date (--skip-existing)', last)
        self.assertEqual(dict((p, os.stat(p).st_mtime) for p in outputs), made)
        # An input changed since, and an output cut short, are converted again.
        source = os.path.join(self.root, 'ABC', 'd00', 'f0000.gse')
        later = time.time() + 5
        os.utime(source, (later, later))
        with open(outputs[-1], 'r+b') as f:
            f.truncate(100)
        status, last, err = self.convert(out, '--skip-existing')
        self.assertIn('2 file(s) converted', last, err)
        self.assertIn('19 up to date', last)
        # Outputs inside the input tree, or beside the inputs, are never read as inputs.
        for out in (os.path.join(self.root, 'out'), self.root):
            first = self.convert(out)
            self.assertEqual(first[0], 1)     # the planted faults
            second = self.convert(out)
            self.assertEqual(second[0], 1)
            self.assertEqual(second[2], first[2])
            self.assertIn('21 file(s) converted', second[1], second[2])
            self.assertIn('output(s) of this run', second[1])


if __name__ == '__main__':
    unittest.main()
