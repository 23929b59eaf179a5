"""Inputs read with bounds: the format told from the first bytes (a large binary file, a large
text with no waveform), gzip inflated as a stream up to its bound, and `index` of a large file
without holding its data (headers.py), its rows the reader's own on the whole file over a
corpus of spoiled files. Each command runs in a child that reports its peak memory."""
import gzip
import io
import os
import random
import resource
import shutil
import subprocess
import sys
import tempfile
import unittest
from array import array

from tests.helpers import PYTHON_DIR, UNDER_SANITIZER, communicate, header, signal, start

import wavecodec
from wavecodec.archive import headers

# The child's address space is capped: a command that holds what it should stream fails.
ADDRESS_SPACE = 1 << 30
# The child's peak resident memory (VmHWM: ru_maxrss would keep that of the test process it
# was forked from across exec).
CHILD = ('import sys\n'
         'from wavecodec.cli import main\n'
         'status = main(sys.argv[1:])\n'
         'peak = [l for l in open("/proc/self/status") if l.startswith("VmHWM")][0]\n'
         'sys.stderr.write("peak %s\\n" % peak.split()[1])\n'
         'sys.exit(status)\n')


def _capped():
    os.setsid()
    resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_SPACE, ADDRESS_SPACE))


def run_capped(args):
    """(status, stdout, stderr, peak KB) of `wavecodec ARGS` in a child whose address space
    is capped."""
    env = dict(os.environ)
    env['PYTHONPATH'] = PYTHON_DIR + os.pathsep + env.get('PYTHONPATH', '')
    p = start([sys.executable, '-c', CHILD] + list(args), env=env, preexec_fn=_capped,
              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = communicate(p, timeout=300)
    err = err.decode('utf-8', 'replace')
    lines = err.splitlines()
    peak = int(lines[-1].split()[1]) if lines and lines[-1].startswith('peak ') else None
    return p.returncode, out.decode('utf-8', 'replace'), '\n'.join(lines[:-1]), peak


@unittest.skipUnless(os.path.exists('/proc/self/status'), 'needs /proc/self/status')
@unittest.skipIf(UNDER_SANITIZER, 'memory bounds mean nothing under the sanitizer')
class Bounds(unittest.TestCase):
    SIZE = 96 << 20

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix='wavecodec-bounds-')
        cls.small = os.path.join(cls.dir, 'small.gse')
        wavecodec.write(cls.small, [wavecodec.Waveform(header(), signal(500))])
        status, _, err, cls.base = run_capped(['verify', cls.small])
        assert status == 0 and cls.base, err

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def fill(self, name, first, block):
        with open(self.path(name), 'wb') as f:
            f.write(first)
            for _ in range(self.SIZE // len(block)):
                f.write(block)
        return self.path(name)

    def grew(self, args, budget_mb):
        status, out, err, peak = run_capped(args)
        self.assertIsNotNone(peak, err)
        self.assertLess(peak - self.base, budget_mb << 10, (args, peak, self.base, err))
        return status, out, err

    def test_inputs_read_with_bounds(self):
        binary = self.fill('big.dat', b'\x00\x01', b'\x00' * (1 << 20))
        text = self.fill('big.txt', b'', b'field notes without a waveform\n' * 32768)
        # 32 gzip members of 64 MB of text each: 2 GB inflated from about 2 MB.
        packed = io.BytesIO()
        with gzip.GzipFile(fileobj=packed, mode='wb') as z:
            for _ in range(16):
                z.write(b'CM6 ' * (1 << 20))
        member = packed.getvalue()
        bomb = self.path('bomb.gse')
        with open(bomb, 'wb') as f:
            for _ in range(32):
                f.write(member)
        for args, message, budget in (
                (['verify', binary], 'binary data (a NUL byte at offset 0): not a GSE2.0 file',
                 16),
                (['index', '-o', '-', binary], 'binary data', 16),
                (['verify', text], 'no WID2 line: not a GSE2.0 file', 16),
                (['verify', bomb], 'gzip data inflating to more than 256 MB: not read', 320),
                (['index', '-o', '-', bomb], 'gzip data inflating to more than 256 MB', 320)):
            status, out, err = self.grew(args, budget)
            self.assertEqual(status, 1, err)
            self.assertIn(message, err)

    def test_index_of_a_long_waveform_holds_no_data(self):
        wave = wavecodec.Waveform(header(), array('i', signal(1000)) * 20000)
        wavecodec.write(self.path('long.gse'), [wave, wave])
        size = os.path.getsize(self.path('long.gse'))
        self.assertGreater(size, 2 * headers.SPARSE_FROM)
        status, out, err = self.grew(['index', '-o', '-', self.path('long.gse')], 24)
        self.assertEqual(status, 0, err)
        rows = out.splitlines()[1:]
        self.assertEqual([r.split(',')[1] for r in rows],
                         [str(w.offset) for w in wavecodec.read(self.path('long.gse'),
                                                                headers_only=True)])
        self.assertEqual([r.split(',')[9] for r in rows], ['20000000'] * 2)


def _rows(source):
    try:
        return [(w.offset, w.header, w.sta2, w.error, w.message, getattr(w, 'checksum', None))
                for w in wavecodec.read(source, strict=False, headers_only=True, name='x')]
    except wavecodec.WaveformError as e:
        return str(e)


class SparseText(unittest.TestCase):
    """headers.sparse_text against the reader on the whole text: clean files in CM6 and INT,
    with CR LF ends and in messages, and each spoiled in many ways (cut, lines inserted,
    bytes changed); every line left out that can be, whatever its length."""

    def setUp(self):
        self.saved = headers.ELIDE_FROM
        headers.ELIDE_FROM = 1

    def tearDown(self):
        headers.ELIDE_FROM = self.saved

    def corpus(self):
        waves = [wavecodec.Waveform(header(station='S%d' % k), signal(3000 + 500 * k, seed=k))
                 for k in range(3)]
        clean = []
        for fmt in ('CM6', 'INT'):
            buf = io.BytesIO()
            wavecodec.write(buf, waves, data_format=fmt)
            clean.append(buf.getvalue())
        clean.append(clean[0].replace(b'\n', b'\r\n'))
        clean.append(b'BEGIN IMS1.0\nMSG_TYPE DATA\n' + clean[0] + b'STOP\n')
        inserts = (b' ', b'\t', b'\n', b'\nWID2\n', b'\nCHK2 1\n', b'\nDAT2\n', b'\nWID2 ',
                   b'\nSTOP\n', b'\nCHK1\n', b'\nBEGIN X\n', b'\r\n')
        rnd = random.Random(27)
        for data in clean:
            yield data
        for _ in range(400):
            data = bytearray(rnd.choice(clean))
            for _ in range(rnd.randint(1, 6)):
                op, at = rnd.randint(0, 3), rnd.randrange(len(data))
                if op == 0:
                    data[at:at] = rnd.choice(inserts)
                elif op == 1:
                    del data[at:at + rnd.randint(1, 200)]
                elif op == 2:
                    data[at] = bytearray(b' \n\tAW2C')[rnd.randrange(7)]
                else:
                    del data[at:]
            yield bytes(data)

    def test_rows_equal_the_readers_on_the_whole_text(self):
        left_out = 0
        for k, data in enumerate(self.corpus()):
            sparse = headers.sparse_text(io.BytesIO(data), len(data))
            if sparse is None:
                self.assertIn(b'\r', data)   # a lone CR: read whole instead
                continue
            self.assertEqual(_rows(sparse), _rows(bytearray(data)), k)
            left_out += bytes(sparse[:]).count(b'\0') if len(data) else 0
        self.assertGreater(left_out, 10 ** 6)


if __name__ == '__main__':
    unittest.main()
