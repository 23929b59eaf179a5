"""archive.convert: every GSE2 file of a tree into miniSEED under a mirrored tree, on local
processes (and the convert command). Needs the miniSEED writer (wavecodec.mseed and its
library): skipped with the reason where it is missing."""
import io
import os
import shutil
import tempfile
import unittest

from tests.archive_maker import make
from tests.helpers import run_cli

import wavecodec
from wavecodec import archive


def _missing():
    try:
        from wavecodec import mseed
        wave = wavecodec.Waveform(dict(station='ABC', channel='BHZ', year=2024, month=1, day=1,
                                       sample_rate=20.0), [1, 2, 3])
        mseed.write(io.BytesIO(), [wave], network='XX')
    except (ImportError, EnvironmentError) as e:
        return 'the miniSEED writer is not usable here: %s' % e
    return None


MISSING = _missing()


@unittest.skipIf(MISSING, MISSING)
class Convert(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix='wavecodec-convert-')
        cls.root = os.path.join(cls.dir, 'archive')
        cls.planted = make(cls.root, 40)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def out(self, name):
        return os.path.join(self.dir, name)

    def test_tree_converted_and_faults_reported(self):
        rows = archive.convert([self.root], self.out('serial'), jobs=1)
        self.assertEqual(archive.convert([self.root], self.out('parallel'), jobs=2),
                         [r._replace(target=r.target.replace(self.out('serial'),
                                                             self.out('parallel'))
                                     if r.target else None) for r in rows])
        by_path = dict((r.path, r) for r in rows)
        for name in ('checksum', 'truncated', 'short header', 'unreadable', 'not gse2'):
            row = by_path[self.planted[name]]
            self.assertTrue(row.fault and not row.fault.startswith('skipped'), name)
            self.assertIsNone(row.target)
        for name in ('segy', 'segy truncated'):
            self.assertTrue(by_path[self.planted[name]].fault.startswith('skipped'))
        written = [r for r in rows if r.fault is None]
        self.assertEqual(len(written), 40 - 3)
        from wavecodec import mseed
        for r in written[::6]:
            relative = os.path.relpath(r.path, self.root)
            self.assertEqual(r.target, os.path.join(self.out('serial'),
                                                    os.path.splitext(relative)[0] + '.mseed'))
            original = wavecodec.read(r.path)
            back = mseed.read(r.target)
            self.assertEqual([(w.station, w.channel, w.start, list(w.samples)) for w in back],
                             [(w.station, w.channel, w.start, list(w.samples))
                              for w in original])
        # Nothing is written for the failed files.
        self.assertFalse(os.path.exists(os.path.join(
            self.out('serial'), os.path.relpath(self.planted['checksum'], self.root)[:-4]
            + '.mseed')))

    def test_command(self):
        status, out, err = run_cli(['convert', '-j', '2', '-o', self.out('cmd'),
                                    os.path.join(self.root, 'ABC')])
        self.assertEqual(status, 1, err)
        self.assertIn(self.planted['not gse2'], err)
        self.assertIn('file(s) converted', out.splitlines()[-1])
        status, out, err = run_cli(['convert', '-o', self.out('cmd2'),
                                    os.path.join(self.root, 'GHI')])
        self.assertEqual(status, 0, err)
        status, out, err = run_cli(['convert', '-o', self.planted['segy'], self.root])
        self.assertEqual(status, 2)


if __name__ == '__main__':
    unittest.main()
