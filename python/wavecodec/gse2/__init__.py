"""GSE2.0/GSE2.1/IMS1.0 waveforms: reading (reader.py over scan.py, envelope.py, sections.py),
writing (writer.py), the WID2/STA2 field tables (header.py), the Waveform object and the
commands. Its public names are re-exported by the top-level package."""
from .header import DEFAULTS as HEADER_DEFAULTS, REQUIRED as HEADER_REQUIRED
from .reader import iter_waveforms, read
from .waveform import Waveform
from .writer import write

__all__ = ['HEADER_DEFAULTS', 'HEADER_REQUIRED', 'Waveform', 'iter_waveforms', 'read', 'write']
