"""The archive package on local processes: index and verify of a generated archive with
planted faults, the same results from one process and from several, files that end their
worker, and the index and verify commands."""
import csv
import io
import os
import shutil
import tempfile
import unittest

from tests.archive_maker import KillAlways, KillOnce, SmallShares, make
from tests.helpers import run_cli, run_on_terminal
from tests.test_cli_safety import cli_env

import wavecodec
from wavecodec import archive
from wavecodec.archive import engine, names, tasks, walk


class ArchiveCase(unittest.TestCase):
    """One archive of 120 files shared by the tests of the class (they only read it)."""
    files = 120

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix='wavecodec-archive-')
        cls.root = os.path.join(cls.dir, 'archive')
        cls.planted = make(cls.root, cls.files)
        cls.paths = [cls.root, cls.planted['vanished']]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)


class Index(SmallShares, ArchiveCase):
    def test_rows_of_every_file_and_their_faults(self):
        rows = archive.index(self.paths, jobs=1)
        # Files in walk order, a file's rows in offset order.
        order = walk.collect(self.paths).files
        self.assertEqual(rows, sorted(rows, key=lambda r: (order.index(r.path), r.offset or -1)))
        waves = [r for r in rows if r.kind == 'gse2' and r.fault is None]
        # Files k hold 1 + k % 3 waveforms; the short-header file keeps none sound.
        expected = sum(1 + k % 3 for k in range(self.files)) - (1 + 17 % 3)
        self.assertEqual(len(waves), expected)
        for r in waves[:40]:
            with open(r.path, 'rb') as f:
                f.seek(r.offset)
                self.assertEqual(f.read(4), b'WID2', r)
            head = wavecodec.read(r.path, headers_only=True)
            match = [w for w in head if w.offset == r.offset][0]
            self.assertEqual((r.station, r.channel, r.samples, r.network, r.sample_rate),
                             (match.station, match.channel, match.npts, 'XX',
                              match.sample_rate))
            self.assertEqual(r.start, match.start.strftime('%Y-%m-%dT%H:%M:%S.') + '%03d'
                             % (match.start.microsecond // 1000))
        faults = dict((r.path, r.fault) for r in rows if r.fault)
        for name in ('short header', 'not gse2', 'unreadable', 'vanished', 'segy truncated'):
            self.assertIn(self.planted[name], faults, name)
            self.assertIn(self.planted[name], faults[self.planted[name]], name)
        self.assertIn('No such file', faults[self.planted['vanished']])
        self.assertIn('not a GSE2.0 file', faults[self.planted['not gse2']])
        # Headers only: a bad checksum or a cut data section is no index fault.
        self.assertNotIn(self.planted['checksum'], faults)

    def test_segy_rows(self):
        rows = dict((r.path, r) for r in archive.index([os.path.join(self.root, 'shots')]))
        good = rows[self.planted['segy']]
        self.assertEqual((good.kind, good.traces, good.samples, good.interval,
                          good.format_code, good.byte_order, good.fault),
                         ('segy', 12, 125, 4000, 5, 'little', None))
        cut = rows[self.planted['segy truncated']]
        self.assertEqual(cut.traces, 5)
        self.assertTrue(cut.fault)

    def test_processes_give_the_serial_rows(self):
        serial = archive.index(self.paths, jobs=1)
        self.assertEqual(archive.index(self.paths, jobs=2), serial)
        self.assertEqual(archive.index(self.paths, jobs=3), serial)


class Verify(SmallShares, ArchiveCase):
    def test_faults_found_and_processes_agree(self):
        serial = archive.verify(self.paths, jobs=1)
        self.assertEqual(archive.verify(self.paths, jobs=2), serial)
        by_path = dict((c.path, c) for c in serial)
        self.assertIn('checksum mismatch', by_path[self.planted['checksum']].faults[0])
        self.assertIn('truncated', by_path[self.planted['truncated']].faults[0])
        for name in ('unreadable', 'vanished', 'not gse2'):
            self.assertTrue(by_path[self.planted[name]].error, name)
        sound = [c for c in serial if not c.faults and c.error is None]
        self.assertEqual(len(sound), self.files - 3)

    def test_command_report(self):
        for jobs in ('1', '2'):
            status, out, err = run_cli(['verify', '-j', jobs] + self.paths)
            self.assertEqual(status, 1)
            self.assertEqual(out.count('BAD '), 3, out)   # checksum, truncated, short header
            self.assertIn('checksum mismatch', out)
            # 3 faulty waveforms, 5 files that are no GSE2 or cannot be read.
            self.assertIn('%d file(s): 8 bad' % (self.files + 5), out.splitlines()[-1])
            self.assertIn(self.planted['vanished'], err)
            if jobs == '1':
                first = (out, err)
            else:
                # The same report; --jobs adds who did the work to the summary.
                self.assertEqual((out.replace(' bad (1 process)\n', ' bad\n'), err), first)


class Crashes(SmallShares, unittest.TestCase):
    """Files that end the worker process reading them (killed with SIGKILL)."""

    def setUp(self):
        super(Crashes, self).setUp()
        self.dir = tempfile.mkdtemp(prefix='wavecodec-archive-')
        self.planted = make(os.path.join(self.dir, 'a'), 24)
        self.files = walk.collect([os.path.join(self.dir, 'a')]).files
        self.victim = self.files[10]

    def tearDown(self):
        shutil.rmtree(self.dir)
        super(Crashes, self).tearDown()

    def test_a_lost_worker_has_its_files_retried(self):
        serial = list(engine.run(tasks.Index(), self.files, jobs=1))
        task = KillOnce(tasks.Index(), self.victim, os.path.join(self.dir, 'killed'))
        self.assertEqual(list(engine.run(task, self.files, jobs=2)), serial)
        self.assertTrue(os.path.exists(os.path.join(self.dir, 'killed')))

    def test_a_file_that_always_kills_is_a_row_with_its_fault(self):
        serial = list(engine.run(tasks.Verify(), self.files, jobs=1))
        got = list(engine.run(KillAlways(tasks.Verify(), self.victim), self.files, jobs=2))
        k = self.files.index(self.victim)
        self.assertEqual(got[:k] + got[k + 1:], serial[:k] + serial[k + 1:])
        self.assertEqual(got[k].path, self.victim)
        self.assertIn('killed (SIGKILL)', got[k].error)


class Decimals(tasks.Task):
    """Results marshal does not take (Decimal): they travel from the workers as pickles."""

    def __call__(self, path):
        import decimal
        return (path, decimal.Decimal(os.path.getsize(path)) / 3)

    def crashed(self, path, reason):
        return (path, reason)


class NoLibrary(tasks.Task):
    """Every file: the library cannot be loaded (the same for all, so the run stops)."""

    def __call__(self, path):
        from wavecodec.errors import LibraryNotFoundError
        raise LibraryNotFoundError('libwavecodec.so.1: cannot open shared object file')


class Engine(SmallShares, ArchiveCase):
    files = 40

    def test_batches_cover_the_items_in_order_and_shrink(self):
        from wavecodec.archive import local
        items = ['f%03d' % k for k in range(300)]
        sizes = [1000 + 37 * (k % 9) for k in range(300)]
        local.CHUNK_BYTES = 2000
        processes, batches = local.plan(tasks.Index(), items, 3, sizes)
        self.assertEqual(processes, 3)
        self.assertEqual([b for _, batch in batches for b in batch], items)
        self.assertEqual([first for first, _ in batches],
                         [items.index(batch[0]) for _, batch in batches])
        lengths = [len(batch) for _, batch in batches]
        self.assertGreater(lengths[0], 4 * lengths[-1])
        # Each batch holds no more input than the one before, give or take one file.
        held = [sum(sizes[first:first + len(batch)]) for first, batch in batches]
        for before, after in zip(held, held[1:]):
            self.assertLessEqual(after, before + max(sizes))
        local.MAX_FILES = 20
        try:
            self.assertEqual(max(len(b) for _, b in local.plan(tasks.Index(), items, 3,
                                                                 sizes)[1]), 20)
        finally:
            local.MAX_FILES = 512

    def test_results_marshal_cannot_take_come_back_whole(self):
        files = walk.collect([self.root]).files
        serial = list(engine.run(Decimals(), files, jobs=1))
        self.assertEqual(list(engine.run(Decimals(), files, jobs=2)), serial)

    def test_a_library_missing_in_the_workers_stops_the_run(self):
        from wavecodec.errors import LibraryNotFoundError
        files = walk.collect([self.root]).files
        with self.assertRaises(LibraryNotFoundError) as caught:
            list(engine.run(NoLibrary(), files, jobs=2))
        self.assertIn('libwavecodec.so.1', str(caught.exception))

    def test_a_file_given_twice_has_its_rows_twice_in_order(self):
        folder = os.path.join(self.root, 'ABC', 'd00')
        once = archive.index([folder], jobs=1)
        paths = [r.path for r in once]
        again = max(set(paths), key=paths.count)   # a file of several waveforms
        twice = archive.index([folder, again], jobs=1)
        self.assertGreater(paths.count(again), 1)
        # In walk order: the folder's rows, then the file's again.
        self.assertEqual(twice, once + [r for r in once if r.path == again])


class Folders(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='wavecodec-archive-')

    def tearDown(self):
        shutil.rmtree(self.dir)

    def test_a_folder_that_cannot_be_listed_is_a_fault(self):
        real = walk.os.listdir

        def failing(top):
            raise OSError(13, 'Permission denied', top)

        walk.os.listdir = failing
        try:
            rows = archive.index([self.dir])
            checks = archive.verify([self.dir])
        finally:
            walk.os.listdir = real
        self.assertEqual([(r.path, r.fault) for r in rows],
                         [(self.dir, '%s: Permission denied' % self.dir)])
        self.assertEqual(checks[0].error, '%s: Permission denied' % self.dir)

    def test_files_and_their_sizes_from_the_walk(self):
        with open(os.path.join(self.dir, 'b.gse'), 'wb') as f:
            f.write(b'x' * 1234)
        open(os.path.join(self.dir, 'a.gse'), 'w').close()
        os.mkfifo(os.path.join(self.dir, 'pipe.gse'))
        os.symlink(os.path.join(self.dir, 'nowhere'), os.path.join(self.dir, 'dangling.gse'))
        os.symlink(os.path.join(self.dir, 'b.gse'), os.path.join(self.dir, 'link.gse'))
        given = os.path.join(self.dir, 'gone.gse')
        found = walk.collect([self.dir, given])
        # FIFOs and dangling links are no files; links to files are.
        self.assertEqual(found.files, [os.path.join(self.dir, name) for name in (
            'a.gse', 'b.gse', 'link.gse')] + [given])
        self.assertEqual(found.sizes, [0, 1234, 1234, None])

    def test_outputs_mirror_the_tree_and_never_collide(self):
        os.makedirs(os.path.join(self.dir, 'in', 'sub'))
        os.makedirs(os.path.join(self.dir, 'in', 'other'))
        for name in ('sub/a.gse', 'other/c.gse', 'other/c.msg', 'b.gse'):
            open(os.path.join(self.dir, 'in', name), 'w').close()
        listing = walk.collect([os.path.join(self.dir, 'in', 'b.gse'),
                                os.path.join(self.dir, 'in', 'sub')])
        self.assertEqual(archive.targets(listing, 'out'),
                         [os.path.join('out', 'b.mseed'), os.path.join('out', 'a.mseed')])
        self.assertRaises(ValueError, archive.targets, listing, 'out', 'sac')
        both = walk.collect([os.path.join(self.dir, 'in')])
        self.assertRaises(ValueError, archive.targets, both, 'out')


class IndexCommand(ArchiveCase):
    files = 30

    def test_csv_summary_and_status(self):
        out_csv = os.path.join(self.dir, 'index.csv')
        status, out, err = run_cli(['index', '-j', '2', '-o', out_csv] + self.paths)
        self.assertEqual(status, 1)
        with io.open(out_csv, encoding='utf-8', newline='') as f:
            table = list(csv.reader(f))
        self.assertEqual(tuple(table[0]), tasks.IndexRow._fields)
        rows = archive.index(self.paths, jobs=1)
        self.assertEqual(len(table) - 1, len(rows))
        self.assertEqual([t[0] for t in table[1:]], [r.path for r in rows])
        self.assertEqual([names.unescape(t[-1]) for t in table[1:]],
                         [r.fault or '' for r in rows])
        self.assertIn('fault(s)', out.splitlines()[-1])
        self.assertIn(self.planted['vanished'], err)
        status, out, err = run_cli(['index', '-o', '-', os.path.join(self.root, 'ABC', 'd00')])
        self.assertEqual(status, 0, err)
        # Headers only: no claim that the data are sound.
        self.assertIn('headers read, no fault', err)
        self.assertTrue(out.startswith('path,offset,kind,'))

    def test_a_wrong_library_is_one_message(self):
        ibm = wavecodec.load_ibmfloat()._name
        folder = os.path.join(self.root, 'ABC')
        for args in (['index', '-j', '2', '-o', '-', folder],
                     ['verify', '-j', '2', folder],
                     ['convert', '-j', '2', '-o', os.path.join(self.dir, 'none'), folder]):
            status, out, err = run_cli(args, env={'WAVECODEC_LIBRARY': ibm})
            self.assertEqual((status, out), (1, ''), args)
            self.assertEqual(len(err.strip().splitlines()), 1, err)
            self.assertIn('%s loads but has no symbol' % ibm, err)

    def test_progress_on_a_terminal_only(self):
        status, terminal, out = run_on_terminal(
            ['index', '-j', '2', '-o', '-', os.path.join(self.root, 'DEF')], cli_env())
        self.assertEqual(status, 1)
        files = len(walk.collect([os.path.join(self.root, 'DEF')]).files)
        self.assertIn(('indexing %d/%d files' % (files, files)).encode('ascii'), terminal)
        self.assertIn(b'fault(s)', terminal)
        self.assertNotIn(b'indexing', out)

    def test_bad_options(self):
        status, out, err = run_cli(['index', '-j', '-2', '-o', '-', self.root])
        self.assertEqual(status, 2)
        self.assertIn('--jobs', err)
        status, out, err = run_cli(['index', '-o', self.root, self.root])
        self.assertEqual(status, 1)
        self.assertIn(self.root, err)


if __name__ == '__main__':
    unittest.main()
