"""miniSEED 2 data records to and from Waveforms, through libmseedio (libmseed underneath).

    from wavecodec import mseed
    mseed.write('out.mseed', wavecodec.read('in.gse'), network='XX')   # Steim-2, 4096 bytes
    waves = mseed.read('out.mseed')                                     # Waveforms again
    waves.report                                 # gaps, channels and records not converted

The library is loaded on first use: the rest of the package works without it. Python 3.7 and
later import the module of a name when it is first used.
"""
from ..compat import export_lazily

_PUBLIC = {
    'read': ('reader', 'read'),
    'write': ('writer', 'write'),
    'Selection': ('select', 'Selection'),
}

__all__ = sorted(_PUBLIC)


export_lazily(globals(), _PUBLIC)
