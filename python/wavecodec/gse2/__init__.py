"""GSE2.0/GSE2.1/IMS1.0 waveforms: reading (reader.py over scan.py, envelope.py, sections.py,
runs.py), writing (writer.py), the lines read by field (fields.py: the tables; wid2.py, block.py,
columns.py, times.py: reading and printing by them; complete.py: the checks of a header to be
written), the Waveform object and the commands. Its public names are re-exported by the top-level package; Python 3.7 and later
import the module of a name when it is first used (reading does not load the writer)."""
from ..compat import export_lazily

_PUBLIC = {
    'HEADER_DEFAULTS': ('fields', 'DEFAULTS'),
    'HEADER_REQUIRED': ('fields', 'REQUIRED'),
    'Waveform': ('waveform', 'Waveform'),
    'iter_waveforms': ('reader', 'iter_waveforms'),
    'read': ('reader', 'read'),
    'write': ('writer', 'write'),
}

__all__ = sorted(_PUBLIC)


export_lazily(globals(), _PUBLIC)
