"""GSE2.0/GSE2.1/IMS1.0 waveforms (WID2 and STA2 lines, CM6 or INT data, CHK2 checksum) and
IBM float conversion, through the wavecodec and ibmfloat shared libraries.

    import wavecodec
    for w in wavecodec.read('data.gse'):          # a path, bytes or a binary file object
        print(w.station, w.channel, w.start, w.sample_rate, len(w.samples))
    heads = wavecodec.read('big.gse', headers_only=True, station='AB*')
    wavecodec.write('out.gse', [wavecodec.Waveform(header, samples)])
    floats = wavecodec.ibm_to_float32(raw_bytes)          # or ibm_to_float64, exact
    raw_bytes = wavecodec.float32_to_ibm(floats)          # big-endian IBM words
"""
from .errors import ChecksumError, FormatError, LibraryNotFoundError, WaveformError
from .gse2 import HEADER_DEFAULTS, HEADER_REQUIRED, Waveform, iter_waveforms, read, write
from .ibm import float32_to_ibm, ibm_to_float32, ibm_to_float64
from .native import ibmfloat as load_ibmfloat, wavecodec as load_wavecodec

__version__ = '1.0.0'

__all__ = ['ChecksumError', 'FormatError', 'LibraryNotFoundError', 'WaveformError',
           'HEADER_DEFAULTS', 'HEADER_REQUIRED', 'Waveform', 'float32_to_ibm', 'ibm_to_float32',
           'ibm_to_float64', 'iter_waveforms', 'load_ibmfloat', 'load_wavecodec', 'read', 'write']
