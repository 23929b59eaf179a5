"""GSE2.0/GSE2.1/IMS1.0 waveforms: reading (reader.py over scan.py, envelope.py, sections.py),
writing (writer.py), the WID2/STA2 field tables (header.py), the Waveform object and the
commands. Its public names are re-exported by the top-level package; Python 3.7 and later
import the module of a name when it is first used (reading does not load the writer)."""
import sys

_PUBLIC = {
    'HEADER_DEFAULTS': ('header', 'DEFAULTS'),
    'HEADER_REQUIRED': ('header', 'REQUIRED'),
    'Waveform': ('waveform', 'Waveform'),
    'iter_waveforms': ('reader', 'iter_waveforms'),
    'read': ('reader', 'read'),
    'write': ('writer', 'write'),
}

__all__ = sorted(_PUBLIC)


def _load(name):
    from importlib import import_module
    module, attribute = _PUBLIC[name]
    value = getattr(import_module('.' + module, __name__), attribute)
    globals()[name] = value
    return value


if sys.version_info >= (3, 7):
    def __getattr__(name):
        if name in _PUBLIC:
            return _load(name)
        raise AttributeError('module %r has no attribute %r' % (__name__, name))

    def __dir__():
        return sorted(set(globals()) | set(_PUBLIC))
else:
    for _name in _PUBLIC:
        _load(_name)
