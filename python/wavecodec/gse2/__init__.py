"""GSE2.0/GSE2.1/IMS1.0 waveforms: reading (reader.py over scan.py, envelope.py, sections.py),
writing (writer.py), the WID2/STA2 field tables (header.py), the Waveform object and the
commands. Its public names are re-exported by the top-level package; Python 3.7 and later
import the module of a name when it is first used (reading does not load the writer)."""
from ..compat import export_lazily

_PUBLIC = {
    'HEADER_DEFAULTS': ('header', 'DEFAULTS'),
    'HEADER_REQUIRED': ('header', 'REQUIRED'),
    'Waveform': ('waveform', 'Waveform'),
    'iter_waveforms': ('reader', 'iter_waveforms'),
    'read': ('reader', 'read'),
    'write': ('writer', 'write'),
}

__all__ = sorted(_PUBLIC)


export_lazily(globals(), _PUBLIC)
