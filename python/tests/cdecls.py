"""The C declarations only the tests use: the WID2 record with read_header and write_header, the
encoder that takes a callback, compress_6b_chars, and libc's fopen and fclose. They are declared
on handles of the tests' own, so the package's loaded libraries keep exactly its declarations."""
import ctypes

from wavecodec import native


class Wid2Header(ctypes.Structure):
    """The C library's wid2_header record (76 bytes, natural alignment)."""
    _fields_ = [
        ('year', ctypes.c_int32),
        ('month', ctypes.c_int32),
        ('day', ctypes.c_int32),
        ('hour', ctypes.c_int32),
        ('minute', ctypes.c_int32),
        ('second', ctypes.c_float),
        ('station', ctypes.c_char * 6),
        ('channel', ctypes.c_char * 4),
        ('aux_id', ctypes.c_char * 5),
        ('data_format', ctypes.c_char * 4),
        ('sample_count', ctypes.c_int32),
        ('sample_rate', ctypes.c_float),
        ('calibration', ctypes.c_float),
        ('calibration_period', ctypes.c_float),
        ('instrument_type', ctypes.c_char * 7),
        ('horizontal_angle', ctypes.c_float),
        ('vertical_angle', ctypes.c_float),
    ]


CHAR_WRITER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_int)

_handles = {}


def wavecodec():
    """libwavecodec (the file the package loaded) with the tests' functions declared."""
    if 'wavecodec' not in _handles:
        lib = ctypes.CDLL(native.wavecodec()._name)
        int_p = ctypes.c_void_p
        lib.compress_6b_buffer.argtypes = [int_p, ctypes.c_int, CHAR_WRITER]
        lib.compress_6b_buffer.restype = ctypes.c_int
        lib.compress_6b_chars.argtypes = [int_p, ctypes.c_int, ctypes.c_void_p, ctypes.c_size_t,
                                          ctypes.POINTER(ctypes.c_size_t)]
        lib.compress_6b_chars.restype = ctypes.c_int
        lib.read_header.argtypes = [ctypes.c_void_p, ctypes.POINTER(Wid2Header)]
        lib.read_header.restype = ctypes.c_int
        lib.write_header.argtypes = [ctypes.c_void_p, ctypes.POINTER(Wid2Header)]
        lib.write_header.restype = ctypes.c_int
        _handles['wavecodec'] = lib
    return _handles['wavecodec']


def stdio():
    """libc with fopen and fclose declared."""
    if 'c' not in _handles:
        try:
            lib = ctypes.CDLL('libc.so.6')
        except OSError:
            lib = ctypes.CDLL(None)
        lib.fopen.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        lib.fopen.restype = ctypes.c_void_p
        lib.fclose.argtypes = [ctypes.c_void_p]
        lib.fclose.restype = ctypes.c_int
        _handles['c'] = lib
    return _handles['c']
