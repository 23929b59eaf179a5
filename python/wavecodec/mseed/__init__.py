"""miniSEED 2 data records to and from Waveforms, through libmseedio (libmseed underneath).

    from wavecodec import mseed
    mseed.write('out.mseed', wavecodec.read('in.gse'), network='XX')   # Steim-2, 4096 bytes
    waves = mseed.read('out.mseed')                                     # Waveforms again

The library is loaded on first use: the rest of the package works without it.
"""
from .reader import read
from .writer import write

__all__ = ['read', 'write']
