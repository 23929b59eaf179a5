"""Library loading, the declared C record and the IBM float conversion."""
import ctypes
import math
import os
import struct
import sys
import unittest

from .helpers import PYTHON_DIR, TempDirCase, run, wavecodec
from wavecodec import native
from . import cdecls


def ibm_model(word):
    """IEEE float32 bits of IBM word `word`, computed from its exact value."""
    sign = -1.0 if word & 0x80000000 else 1.0
    exponent = (word >> 24) & 0x7f
    fraction = word & 0xffffff
    # Exact in a double: a 24-bit fraction times a power of two within the double range.
    value = sign * math.ldexp(fraction, 4 * (exponent - 64) - 24)
    try:
        packed = struct.pack('<f', value)
    except OverflowError:
        packed = struct.pack('<f', sign * float('inf'))
    return struct.unpack('<I', packed)[0]


def words_for_test():
    words = [0x41100000, 0xC276A000, 0x00000000, 0x80000000, 0x7FFFFFFF, 0xFFFFFFFF,
             0x60FFFFFF, 0x61100000, 0x00100000, 0x80100000, 0x40000001, 0x21800000,
             0x22FFFFFF, 0x2280000F, 0x4100000F, 0x3F000001, 0x44FFFFFF]
    x = 2463534242
    for _ in range(3000):
        x ^= (x << 13) & 0xffffffff
        x ^= x >> 17
        x ^= (x << 5) & 0xffffffff
        words.append(x)
    return words


class IbmFloats(unittest.TestCase):
    def test_matches_model(self):
        words = words_for_test()
        data = struct.pack('>%dI' % len(words), *words)
        values = wavecodec.ibm_to_float32(data)
        self.assertEqual(values.typecode, 'f')
        got = struct.unpack('<%dI' % len(values), struct.pack('<%df' % len(values), *values))
        for word, bits in zip(words, got):
            self.assertEqual(bits, ibm_model(word), 'word %08x' % word)

    def test_known_values_and_bad_length(self):
        self.assertEqual(list(wavecodec.ibm_to_float32(b'\x41\x10\x00\x00\xc2\x76\xa0\x00')),
                         [1.0, -118.625])
        self.assertEqual(len(wavecodec.ibm_to_float32(b'')), 0)
        word = b'\x41\x10\x00\x00'
        for data in (bytearray(word), memoryview(word)):
            self.assertEqual(list(wavecodec.ibm_to_float32(data)), [1.0])
        with self.assertRaises(wavecodec.FormatError):
            wavecodec.ibm_to_float32(b'\x41\x10\x00')


class Declarations(unittest.TestCase):
    def test_record_layout(self):
        H = cdecls.Wid2Header
        self.assertEqual(ctypes.sizeof(H), 76)
        offsets = dict((name, getattr(H, name).offset) for name, _ in H._fields_)
        self.assertEqual((offsets['second'], offsets['station'], offsets['channel'],
                          offsets['aux_id'], offsets['data_format'], offsets['sample_count'],
                          offsets['calibration_period'], offsets['instrument_type'],
                          offsets['horizontal_angle'], offsets['vertical_angle']),
                         (20, 24, 30, 34, 39, 44, 56, 60, 68, 72))

    def test_every_export_declared(self):
        # The package declares what it calls, the tests what only they call: together, every
        # export of both libraries.
        for lib, names in (
                (native.wavecodec(), ('compress_6b_lines', 'decomp_6b_chars', 'diff_2nd',
                                      'rem_2nd_diff', 'check_sum', 'samples_from_text',
                                      'samples_to_text')),
                (cdecls.wavecodec(), ('compress_6b_buffer', 'compress_6b_chars', 'read_header',
                                      'write_header')),
                (native.ibmfloat(), ('ibm2ieee', 'ieee2ibm', 'ibm2double', 'double2ibm'))):
            for name in names:
                self.assertIsNotNone(getattr(lib, name).argtypes, name)

    def test_char_writer_encoder_matches_buffer_encoder(self):
        from array import array
        lib = cdecls.wavecodec()
        samples = array('i', [0, 1, -1, 31, -32, 1000, -134217727, 134217727, 7])
        chars = []
        writer = cdecls.CHAR_WRITER(lambda c: chars.append(c) or 0)
        self.assertEqual(lib.compress_6b_buffer(native.int_pointer(samples), len(samples),
                                                writer), 0)
        out = ctypes.create_string_buffer(6 * len(samples))
        length = ctypes.c_size_t()
        self.assertEqual(lib.compress_6b_chars(native.int_pointer(samples), len(samples), out,
                                               len(out), ctypes.byref(length)), 0)
        self.assertEqual(bytes(bytearray(chars)), out.raw[:length.value])


class Loading(TempDirCase):
    def run_python(self, code, env):
        full = dict(os.environ)
        full.pop('WAVECODEC_LIBRARY', None)
        full.pop('IBMFLOAT_LIBRARY', None)
        full.update(env)
        full['PYTHONPATH'] = PYTHON_DIR
        status, out, err = run([sys.executable, '-c', code], env=full)
        return status, out.decode(), err.decode()

    def test_environment_path_must_load(self):
        missing = self.path('libwavecodec.so.1')
        code = ('import wavecodec\ntry:\n    wavecodec.read("x")\nexcept wavecodec.'
                'LibraryNotFoundError as e:\n    print(e)\n')
        status, out, err = self.run_python(code, {'WAVECODEC_LIBRARY': missing})
        self.assertEqual(status, 0, err)
        self.assertIn(missing, out)
        self.assertIn('WAVECODEC_LIBRARY', out)
        # Not a shared library at all.
        junk = self.write_bytes('junk.so', b'not a library')
        code = 'import wavecodec\ntry:\n    wavecodec.ibm_to_float32(b"")\nexcept OSError as e:\n'\
               '    print(e)\n'
        status, out, err = self.run_python(code, {'IBMFLOAT_LIBRARY': junk})
        self.assertIn(junk, out)

    def test_error_lists_every_place_tried(self):
        places = [('installed', self.path('a/libwavecodec.so.1')),
                  ('build tree', self.path('b/libwavecodec.so'))]
        saved = native.candidates
        native.candidates = lambda key, path=None: places
        try:
            with self.assertRaises(wavecodec.LibraryNotFoundError) as cm:
                native._load('wavecodec')
        finally:
            native.candidates = saved
        for _, place in places:
            self.assertIn(place, str(cm.exception))

    def test_search_order(self):
        saved = os.environ.pop('WAVECODEC_LIBRARY', None)
        try:
            places = [p for _, p in native.candidates('wavecodec')]
            self.assertEqual(places[0], os.path.join(native.PACKAGE_DIR, 'libwavecodec.so.1'))
            self.assertEqual(places[-1], os.path.join(native.CHECKOUT_DIR, 'build', 'release',
                                                      'wavecodec', 'libwavecodec.so'))
            os.environ['WAVECODEC_LIBRARY'] = '/x/libw.so'
            self.assertEqual(native.candidates('wavecodec'),
                             [('WAVECODEC_LIBRARY', '/x/libw.so')])
            self.assertEqual(native.candidates('wavecodec', '/y/l.so'),
                             [('explicit path', '/y/l.so')])
        finally:
            os.environ.pop('WAVECODEC_LIBRARY', None)
            if saved is not None:
                os.environ['WAVECODEC_LIBRARY'] = saved

    def test_explicit_path(self):
        lib = native.wavecodec()
        self.assertIs(wavecodec.load_wavecodec(lib._name), native.wavecodec())
