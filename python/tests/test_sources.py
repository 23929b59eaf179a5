"""Sources (paths, bytes-like objects, file objects, pipes), headers only and selection."""
import gzip
import io
import os
from array import array

from .helpers import SUBPROCESS_SECONDS, TempDirCase, background, header, signal, wavecodec


class Sources(TempDirCase):
    def setUp(self):
        TempDirCase.setUp(self)
        self.waves = [wavecodec.Waveform(header(channel=c, station=s), signal(n, seed=n))
                      for s, c, n in (('ABC', 'BHZ', 700), ('ABC', 'BHN', 300),
                                      ('XYZ', 'HHZ', 90))]
        self.data = self.gse('a.gse', self.waves)

    def check(self, source):
        back = wavecodec.read(source)
        self.assertEqual([list(w.samples) for w in back], [list(w.samples) for w in self.waves])

    def test_every_kind_of_source(self):
        self.check(self.path('a.gse'))
        self.check(self.data)
        self.check(bytearray(self.data))
        self.check(memoryview(self.data))
        self.check(memoryview(self.data)[0:])
        self.check(array('B', bytearray(self.data)))
        self.check(io.BytesIO(self.data))
        with open(self.path('a.gse'), 'rb') as f:
            self.check(f)
        with gzip.open(self.path('a.gse.gz'), 'wb') as f:
            f.write(self.data)
        with gzip.open(self.path('a.gse.gz'), 'rb') as f:
            self.check(f)
        with open(self.path('a.gse'), 'r') as f:
            if not isinstance(f.read(0), bytes):  # Python 3 text mode
                with self.assertRaises(TypeError):
                    wavecodec.read(f)

    def test_search_agrees_with_bytes_find_across_its_near_part(self):
        # The searches look at the first bytes of a range in Python and the rest through libc:
        # a needle at, across and past that edge, in bytes, bytearray and mmap sources.
        import mmap
        from wavecodec.gse2 import source as src
        edge = src.SHORT_SEARCH
        for at in (0, 7, edge - 6, edge - 5, edge - 4, edge, edge + 1, 3 * edge, -1):
            data = bytearray(b'x' * (4 * edge))
            if at >= 0:
                data[at:at + 5] = b'\nCHK2'
            data = bytes(data)
            with open(self.path('m.bin'), 'wb') as f:
                f.write(data)
            with open(self.path('m.bin'), 'r+b') as f:
                mapped = mmap.mmap(f.fileno(), 0)
                for held in (data, bytearray(data), mapped):
                    source = src.Source(held, 'x')
                    for start in (0, 3, edge - 10):
                        for end in (len(data), 2 * edge, edge + 2, start + 4):
                            self.assertEqual(source.find(b'\nCHK2', start, end),
                                             data.find(b'\nCHK2', start, end),
                                             (at, type(held), start, end))
                source = None
                mapped.close()

    def test_pipe_and_fifo_read_normally(self):
        # A pipe reports no size: the declared counts are judged by the bytes read.
        read_end, write_end = os.pipe()

        def feed(fd, data):
            with os.fdopen(fd, 'wb') as f:
                f.write(data)
        thread = background(feed, write_end, self.data)
        with os.fdopen(read_end, 'rb') as f:
            self.check(f)
        thread.join(SUBPROCESS_SECONDS)
        self.assertFalse(thread.is_alive())
        if hasattr(os, 'mkfifo'):
            fifo = self.path('fifo')
            os.mkfifo(fifo)
            thread = background(lambda: feed(os.open(fifo, os.O_WRONLY), self.data))
            self.check(fifo)
            thread.join(SUBPROCESS_SECONDS)
            self.assertFalse(thread.is_alive())

    def test_absurd_count_judged_by_the_bytes_held(self):
        data = self.data.replace(b'      700 ', b' 99999999 ', 1)
        with self.assertRaises(wavecodec.FormatError) as cm:
            wavecodec.read(io.BytesIO(data))
        self.assertIn('declares 99999999 samples', str(cm.exception))

    def test_headers_only(self):
        sta2 = b'STA2 IU         34.94591 -106.45723 WGS-84       1.850 0.100\n'
        data = self.data.replace(b'DAT2\n', sta2 + b'DAT2\n', 1)
        heads = wavecodec.read(data, headers_only=True)
        full = wavecodec.read(data)
        self.assertEqual([w.header for w in heads], [w.header for w in full])
        self.assertEqual([w.checksum for w in heads], [w.checksum for w in full])
        self.assertEqual(heads[0].sta2['network'], 'IU')
        self.assertTrue(all(w.headers_only and len(w.samples) == 0 for w in heads))
        self.assertEqual(heads[0].npts, 700)
        self.assertEqual(heads[0].end, full[0].end)
        # Data that would not decode is never looked at.
        spoiled = data.replace(b'DAT2\n', b'DAT2\n!!!!\n')
        self.assertEqual(len(wavecodec.read(spoiled, headers_only=True)), 3)
        with self.assertRaises(wavecodec.FormatError):
            wavecodec.read(spoiled)
        with self.assertRaises(wavecodec.FormatError):
            wavecodec.write(self.path('h.gse'), heads)

    def test_headers_only_over_int_sections_and_messages(self):
        # INT lines hold blanks; a message closes and another opens between the waveforms.
        first = wavecodec.gse2.writer.to_bytes(self.waves[:2], data_format='INT', message_id='A')
        second = wavecodec.gse2.writer.to_bytes(self.waves[2:], message_id='B')
        data = first + b'(comment)\n' + second
        heads = wavecodec.read(data, headers_only=True)
        full = wavecodec.read(data)
        self.assertEqual([(w.header, w.checksum, w.message) for w in heads],
                         [(w.header, w.checksum, w.message) for w in full])
        self.assertEqual([w.message['msg_id'] for w in heads], ['A', 'A', 'B'])

    def test_selection_by_patterns(self):
        def channels(**patterns):
            return [w.channel for w in wavecodec.read(self.data, **patterns)]
        self.assertEqual(channels(station='ABC'), ['BHZ', 'BHN'])
        self.assertEqual(channels(channel='?HZ'), ['BHZ', 'HHZ'])
        self.assertEqual(channels(station='x*', channel=['hh?', 'BHN']), ['HHZ'])
        self.assertEqual(channels(station='NONE'), [])
        # Sections not selected are passed over undecoded: a broken one does not matter.
        first = self.data.index(b'DAT2\n') + 5
        spoiled = self.data[:first] + b'!!!!\n' + self.data[first:]
        self.assertEqual([w.channel for w in wavecodec.read(spoiled, channel='BHN')], ['BHN'])
