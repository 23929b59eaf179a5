"""Every line of a message kept: the block between WID2 and DAT2 (STA2, EID2, BEA2 read by field,
any other line as text) in every order, the lines between waveforms, the envelope; read and
written again byte for byte. Faults of those lines named, when read and when written; info and
the conversions say what a waveform carries."""
import io
import itertools
import os
import random
import re

from .helpers import PYTHON_DIR, TempDirCase, header, run_cli, signal, wavecodec
from wavecodec.compat import native_str
from wavecodec.gse2 import writer

EXAMPLE = os.path.join(os.path.dirname(PYTHON_DIR), 'examples', 'event.gse')
# Lines in the columns of their tables, as the writer prints them.
STA2 = 'STA2 IU         34.94591 -106.45723 WGS-84       1.850 0.100'
EID2 = 'EID2 12345678 IDC_REB'
BEA2 = 'BEA2 FKBEAM        45.5  12.3'
OTHER = ['(a comment in the block)', 'XYZ2 a line of another kind', '']
PARSED = {
    'STA2': ('sta2', dict(network='IU', latitude=34.94591, longitude=-106.45723,
                          coordinate_system='WGS-84', elevation=1.85, emplacement_depth=0.1)),
    'EID2': ('eid2', dict(event_id='12345678', bulletin_type='IDC_REB')),
    'BEA2': ('bea2', dict(beam_id='FKBEAM', azimuth=45.5, slowness=12.3)),
}
LINES = {'STA2': STA2, 'EID2': EID2, 'BEA2': BEA2}
FIELDS = {'EID2': ('event_id', 'bulletin_type'), 'BEA2': ('beam_id', 'azimuth', 'slowness')}
# Lines between waveforms, kept with the message.
BETWEEN = [['(comment between waveforms)'],
           ['OUT2 2024/03/05 06:07:08.500 ABC   BHZ       120.000', 'DLY2    12.500'], [''],
           []]
ENVELOPES = [
    ('BEGIN IMS1.0\nMSG_TYPE DATA\nMSG_ID 42 XDC\nREF_ID 41\nDATA_TYPE WAVEFORM IMS1.0\n',
     'STOP\n'),
    ('BEGIN GSE2.1\nMSG_TYPE DATA\nMSG_ID M1 SRC\nDATA_TYPE WAVEFORM GSE2.1\n', 'STOP\n'),
    ('', '')]


def orders():
    """Every order of every choice of the block's lines: STA2, EID2, BEA2 and one other line
    (65 blocks), and two blocks with all three other lines."""
    kinds = ['STA2', 'EID2', 'BEA2', 'OTHER']
    for size in range(len(kinds) + 1):
        for chosen in itertools.permutations(kinds, size):
            yield list(chosen)
    yield ['OTHER', 'OTHER', 'STA2', 'OTHER']
    yield ['EID2', 'OTHER', 'OTHER', 'OTHER', 'BEA2']


def section(k, data_format):
    """WID2, DAT2, data and CHK2 of waveform k, as the writer prints them."""
    wave = wavecodec.Waveform(header(channel='B%02d' % (k % 100), minute=k % 60),
                              signal(3 + k % 17, seed=k))
    text = writer.to_bytes([wave], data_format=data_format).decode('ascii')
    wid2, rest = text.split('\n', 1)
    return wid2 + '\n', rest


def message(blocks, envelope, data_format, rng):
    """A message (text) of one waveform per block, lines between some of them."""
    opening, closing = envelope
    parts = [opening] + ['\n'.join(rng.choice(BETWEEN) + [''])]
    for k, block in enumerate(blocks):
        others = iter(OTHER * 2)
        wid2, rest = section(k, data_format)
        lines = [LINES[kind] if kind in LINES else next(others) for kind in block]
        parts += [wid2] + [line + '\n' for line in lines] + [rest]
        parts += [line + '\n' for line in rng.choice(BETWEEN)]
    return ''.join(parts + [closing]).encode('latin-1')


def written(waves, envelope):
    """The waveforms written again: in the envelope of the message they were read from."""
    out = io.BytesIO()
    fmt = waves[0].header['data_format']
    wavecodec.write(out, waves, data_format=fmt,
                    message=waves[0].message if envelope[0] else None)
    return out.getvalue()


class MessagesComeBackWhole(TempDirCase):
    def test_every_order_of_the_block_reads_and_writes_back_byte_for_byte(self):
        rng = random.Random(29)
        blocks = list(orders())
        tried = 0
        for envelope, data_format in itertools.product(ENVELOPES, ('CM6', 'INT')):
            for start in range(0, len(blocks), 12):
                group = blocks[start:start + 12]
                data = message(group, envelope, data_format, rng)
                waves = wavecodec.read(data)
                self.assertEqual(written(waves, envelope), data, (envelope, group))
                for wave, block in zip(waves, group):
                    for kind, (name, values) in PARSED.items():
                        self.assertEqual(getattr(wave, name),
                                         values if kind in block else None, block)
                    self.assertEqual(len(wave.block), len(block))
                # headers_only keeps the same lines.
                heads = wavecodec.read(data, headers_only=True)
                self.assertEqual([(w.block, w.before, w.after) for w in heads],
                                 [(w.block, w.before, w.after) for w in waves])
                tried += len(group)
        self.assertEqual(tried, 6 * 67)
        # The bundled example comes back whole too.
        with open(EXAMPLE, 'rb') as f:
            data = f.read()
        self.assertEqual(written(wavecodec.read(data), ENVELOPES[2]), data)

    def test_lines_made_here_take_their_usual_places(self):
        wave = wavecodec.Waveform(header(), [1, 2, 3], sta2=PARSED['STA2'][1],
                                  eid2=PARSED['EID2'][1], bea2=PARSED['BEA2'][1])
        # (row, change, the lines between WID2 and DAT2 then)
        for row, change, lines in (
                ('made here', {}, [STA2, EID2, BEA2]),
                # A value given to a block read without its line goes after the lines before.
                ('read without EID2', dict(block=('(c)', 'STA2', 'BEA2')),
                 ['(c)', STA2, EID2, BEA2]),
                ('STA2 taken out', dict(sta2=None), ['(c)', EID2, BEA2])):
            for name, value in change.items():
                setattr(wave, name, value)
            text = writer.to_bytes([wave]).decode('ascii').split('\n')
            self.assertEqual(text[1:2 + len(lines)], lines + ['DAT2'], row)


class LineFaults(TempDirCase):
    # (line in the block, fault named when read, values read (None: not checked)).
    READ = [
        (b'EID2 12345678 IDC_REB', None, ('12345678', 'IDC_REB')), (b'EID2', None, (None, None)),
        (b'EID2 123456789012 IDC_SEB', None, ('123456789012', 'IDC_SEB')),
        (b'EID2 42', None, ('42', None)),
        (b'EID2 12345678x IDC_REB MORE', 'EID2 line has 3 fields, at most 2 expected', None),
        (b'BEA2 FKBEAM        45.5  12.3', None, ('FKBEAM', 45.5, 12.3)),
        (b'BEA2 B1 45.5 12.3', None, ('B1', 45.5, 12.3)),
        (b'BEA2 B1 145.5 12.3', None, ('B1', 145.5, 12.3)),
        (b'BEA2 45.5 12.3', None, (None, 45.5, 12.3)),
        (b'BEA2 FKBEAM        4x.5  12.3', 'BEA2 field azimuth', None),
        (b'BEA2 FKBEAM        45.5  nan', 'BEA2 field slowness', None),
        (b'BEA2 FKBEAM        45.5  inf', 'BEA2 field slowness', None),
    ]

    def test_lines_read_by_field(self):
        base = writer.to_bytes([wavecodec.Waveform(header(), [1, 2, 3])])
        for line, fault, values in self.READ:
            data = base.replace(b'DAT2\n', line + b'\nDAT2\n')
            key = 'EID2' if line.startswith(b'EID2') else 'BEA2'
            if fault is None:
                read = getattr(wavecodec.read(data)[0], PARSED[key][0])
                self.assertEqual(read, dict(zip(FIELDS[key], values)), line)
                continue
            with self.assertRaises(wavecodec.FormatError) as caught:
                wavecodec.read(data)
            self.assertIn(fault, str(caught.exception), line)
            self.assertIn('line 2', str(caught.exception))
            self.assertIn(fault, wavecodec.read(data, strict=False)[0].error)
        # A second line of a kind read by field is kept as text, where it was.
        data = base.replace(b'DAT2\n', b'EID2 1\nEID2 2\nDAT2\n')
        wave = wavecodec.read(data)[0]
        self.assertEqual((wave.eid2['event_id'], wave.block), ('1', ('EID2', 'EID2 2')))
        self.assertEqual(writer.to_bytes([wave]), data)

    # (what is changed on a waveform, fault named when it is written).
    WRITE = [
        (dict(before=('WID2 2024/01/01',)), 'a WID2 line'),
        (dict(after=('STOP',)), 'a STOP line'),
        (dict(block=('DAT2',)), 'a DAT2 line'),
        (dict(block=('msg_id 7',)), 'a MSG_ID line'),
        (dict(before=('two\nlines',)), 'holds a line end'),
        (dict(after=(u'\u20ac',)), 'beyond Latin-1'),
        (dict(block=(7,)), 'is not a line of text'),
        (dict(eid2=dict(event_id='123456789')), 'EID2 field event_id'),
        (dict(eid2=dict(event='1')), 'unknown EID2 field(s): event'),
        (dict(bea2=dict(azimuth=float('nan'))), 'BEA2 field azimuth'),
        (dict(bea2=dict(slowness=-1e300)), 'BEA2 field slowness'),
        (dict(bea2=['FKBEAM']), 'bea2 must be a dict of BEA2 fields'),
    ]

    def test_lines_that_cannot_be_written_are_named(self):
        for change, fault in self.WRITE:
            wave = wavecodec.Waveform(header(), [1, 2, 3])
            for name, value in change.items():
                setattr(wave, name, value)
            with self.assertRaises(wavecodec.FormatError) as caught:
                wavecodec.write(self.path('out.gse'), [wave])
            self.assertIn(fault, str(caught.exception), change)
            self.assertIn('waveform 1', str(caught.exception))
            self.assertEqual(self.leftovers(), [])


class CarriedAndShown(TempDirCase):
    def test_info_and_the_conversions_say_what_a_waveform_carries(self):
        data = message([['STA2', 'EID2', 'BEA2', 'OTHER'], ['EID2'], []], ENVELOPES[0], 'CM6',
                       random.Random(5))
        waves = wavecodec.read(data)
        path = self.write_bytes('m.gse', data)
        status, out, err = run_cli(['info', path], timeout=120)
        self.assertEqual((status, err), (0, ''))
        rows = [row.split()[10:] for row in out.strip().splitlines()]
        kept = [str(sum(_kinds(w).values())) for w in waves]
        self.assertEqual(rows, [['EVENT', 'BULLETIN', 'BEAM', 'AZ', 'SLOW', 'LINES', 'STATUS'],
                                ['12345678', 'IDC_REB', 'FKBEAM', '45.5', '12.3', kept[0],
                                 'unverified'],
                                ['12345678', 'IDC_REB', '-', '-', '-', kept[1], 'unverified'],
                                ['-'] * 5 + [kept[2], 'unverified']])
        counts = {}
        for wave in waves:
            for kind, count in list(_kinds(wave).items()) + [
                    (k, 1) for k in PARSED if getattr(wave, PARSED[k][0]) is not None]:
                counts[kind] = counts.get(kind, 0) + count
        # A STA2 holding only the network is carried: the network code.
        self.assertEqual(wavecodec.Waveform(header(), [1], sta2={'network': 'XX'}).extras(), {})
        from .mseed_helpers import library_missing
        if library_missing():
            self.skipTest(library_missing())
        from wavecodec import archive
        status, out, err = run_cli(['gse2-to-mseed', path, '-o', self.path('out.mseed'),
                                    '--network', 'XX'], timeout=120)
        said = out.split('not carried (no place in miniSEED): ')[-1].strip().split(', ')
        self.assertEqual(dict((part.split()[1], int(part.split()[0])) for part in said), counts)
        rows = archive.convert([path], self.path('tree'), jobs=1, network='XX')
        self.assertEqual([row.extras for row in rows], [counts])


def _kinds(wave):
    """The kinds of a waveform's lines kept as text, counted by a model of their kinds."""
    counts = {}
    for line in list(wave.before) + list(wave.after) + [
            e for e in wave.block if e not in ('STA2', 'EID2', 'BEA2')]:
        kind = 'blank' if not line.strip() else 'comment' if line.startswith('(') else \
            line[:4] if re.match(r'[A-Z0-9]{4}( |$)', line) else 'text'
        counts[kind] = counts.get(kind, 0) + 1
    return counts


class IntSections(TempDirCase):
    """INT data through the library both ways, against a model of the text."""
    WORDS = ['0', '-0', '+17', '007', '2147483647', '-2147483648', '2147483648', '-2147483649',
             '99999999999999999999', '1_000', '0x10', '1.0', '--5', '+', '-', '1e3', '12a', 'x3',
             '\xd9\xa1', '12345', '-987']
    SEPARATORS = [' ', '  ', '\t', '\n', ' \x0b ', '\x0c', '\n\n ']

    def test_sections_read_as_the_model_reads_them(self):
        rng = random.Random(30)
        # The first fault in the text is the one named, whatever its kind.
        cases = [['2147483648', 'x3'], ['x3', '2147483648'], ['1', '2', '3']]
        cases += [[rng.choice(self.WORDS) for _ in range(rng.randint(0, 12))]
                  for _ in range(300)]
        try:
            import tracemalloc
        except ImportError:  # Python 2.7: the memory is not looked at
            tracemalloc = None
        else:
            tracemalloc.start()
        try:
            for k, words in enumerate(cases):
                # Every tenth declares a count its text cannot hold: no memory taken for it.
                count = 99999999 if k % 10 == 9 else len(words)
                self.check(rng, words, count)
            if tracemalloc is not None:
                self.assertLess(tracemalloc.get_traced_memory()[1], 8 << 20)
        finally:
            if tracemalloc is not None:
                tracemalloc.stop()

    def check(self, rng, words, count):
        base = writer.to_bytes([wavecodec.Waveform(header(), [0] * len(words))],
                               data_format='INT')
        base = base.replace(b'%8d ' % len(words), b'%8d ' % count, 1)
        head, tail = base[:base.index(b'DAT2\n') + 5], base[base.index(b'CHK2'):]
        text = ''.join(w + rng.choice(self.SEPARATORS) for w in words) + '\n'
        data = head + (text if isinstance(text, bytes) else text.encode('latin-1')) + tail
        expected = self.model(data, len(head))
        if isinstance(expected, list) and count != len(expected):
            expected = 'short data section: %d samples declared' % count
        try:
            got = list(wavecodec.read(data, verify=False)[0].samples)
        except wavecodec.FormatError as e:
            got = str(e)
        if isinstance(expected, list):
            self.assertEqual(got, expected, words)
        else:
            self.assertIn(expected, got, words)

    @staticmethod
    def model(data, start):
        """The samples of the section at `start` (up to CHK2), or the message of its first
        faulty word."""
        end = data.index(b'CHK2', start)
        samples = []
        for found in re.finditer(br'[^ \t\n\r\x0b\x0c]+', data[start:end]):
            word = found.group()
            at = start + found.start()
            why = None
            if not re.match(br'[+-]?[0-9]+\Z', word):
                why = 'is not a decimal integer'
            elif not -2 ** 31 <= int(word) < 2 ** 31:
                why = 'is outside 32 bits'
            if why:
                line = data.count(b'\n', 0, at) + 1
                column = at - data.rfind(b'\n', 0, at)
                return 'bad INT sample %r at line %d, column %d: %s' % (
                    native_str(word), line, column, why)
            samples.append(int(word))
        return samples

    def test_written_through_the_library_a_block_at_a_time(self):
        lib = wavecodec.load_wavecodec()
        import ctypes
        from array import array
        rng = random.Random(28)
        block = writer.BLOCK
        writer.BLOCK = 7
        try:
            for n in list(range(0, 30)) + [rng.randint(30, 200) for _ in range(10)]:
                samples = array('i', [rng.choice([-2 ** 31, 2 ** 31 - 1, 0, -5, 123456])
                                      if rng.random() < 0.3 else rng.randint(-999, 999)
                                      for _ in range(n)])
                text = writer.to_bytes([wavecodec.Waveform(header(), samples)],
                                       data_format='INT')
                data = text[text.index(b'DAT2\n') + 5:text.index(b'CHK2')]
                out = ctypes.create_string_buffer(12 * n + 1)
                length = ctypes.c_size_t(0)
                lib.samples_to_text(samples.buffer_info()[0], n, 6, None, out, 12 * n + 1,
                                    ctypes.byref(length))
                self.assertEqual(data, out.raw[:length.value], n)
                self.assertLessEqual(max([0] + [len(x) for x in data.split(b'\n')]), 80)
                self.assertEqual(list(wavecodec.read(text)[0].samples), list(samples))
        finally:
            writer.BLOCK = block

