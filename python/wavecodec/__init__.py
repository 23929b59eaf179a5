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
from .compat import export_lazily
from .errors import ChecksumError, FormatError, LibraryNotFoundError, WaveformError

__version__ = '1.0.0'

# The public names of the submodules: (module, name there), imported when first used (see
# export_lazily).
_PUBLIC = {
    'HEADER_DEFAULTS': ('gse2', 'HEADER_DEFAULTS'),
    'HEADER_REQUIRED': ('gse2', 'HEADER_REQUIRED'),
    'Waveform': ('gse2', 'Waveform'),
    'iter_waveforms': ('gse2', 'iter_waveforms'),
    'read': ('gse2', 'read'),
    'write': ('gse2', 'write'),
    'float32_to_ibm': ('ibm', 'float32_to_ibm'),
    'ibm_to_float32': ('ibm', 'ibm_to_float32'),
    'ibm_to_float64': ('ibm', 'ibm_to_float64'),
    'load_ibmfloat': ('native', 'ibmfloat'),
    'load_wavecodec': ('native', 'wavecodec'),
}

__all__ = ['ChecksumError', 'FormatError', 'LibraryNotFoundError', 'WaveformError'] + \
    sorted(_PUBLIC)


export_lazily(globals(), _PUBLIC)
