"""Names and messages as the archive commands print them: one line each, whatever a file's
name holds.

A name may hold bytes that are not UTF-8 (kept by Python 3 as lone surrogates), line ends and
other control characters: printed as they are, they end a run with UnicodeEncodeError, or
split one report line into two (a name can forge a "BAD" line). Here they become backslash
escapes, one text for one line and back (unescape):
- a byte that is not UTF-8: \\xNN (NN 80 to ff);
- a backslash: \\\\; a line feed, carriage return, tab: \\n, \\r, \\t; another control
  character below 0x80: \\xNN (NN below 80);
- C1 controls, the line and paragraph separators, and characters the output cannot encode:
  \\uNNNN (\\UNNNNNNNN beyond the basic plane).
The CSV escapes its delimiter, its quote and numpy.genfromtxt's comment character too (\\x2c,
\\x22, \\x23): no field needs quoting, and line-based readers take it."""
import codecs
import re

from ..compat import PY2, text_type

unichr_ = unichr if PY2 else chr  # noqa: F821


def _surrogates(e):
    """Decoding: each byte that is not UTF-8 as the lone surrogate Python 3 gives it."""
    return u''.join(unichr_(0xdc00 + b) for b in bytearray(e.object[e.start:e.end])), e.end


def _wide(c):
    return u'\\u%04x' % ord(c) if ord(c) <= 0xffff else u'\\U%08x' % ord(c)


def _unencodable(e):
    return u''.join(_wide(c) for c in e.object[e.start:e.end]), e.end


codecs.register_error('wavecodec-surrogates', _surrogates)
codecs.register_error('wavecodec-unencodable', _unencodable)

_SPECIAL = {u'\\': u'\\\\', u'\n': u'\\n', u'\r': u'\\r', u'\t': u'\\t'}
_BACK = {u'\\': u'\\', u'n': u'\n', u'r': u'\r', u't': u'\t'}
_LINE = u'\\\\\x00-\x1f\x7f-\x9f\u2028\u2029\udc80-\udcff'
_LINE_RE = re.compile(u'[%s]' % _LINE)
_CSV_RE = re.compile(u'[%s,"#]' % _LINE)
_ESCAPE_RE = re.compile(u'\\\\(\\\\|n|r|t|x[0-9a-f]{2}|u[0-9a-f]{4}|U[0-9a-f]{8})')


def _code(match):
    c = match.group(0)
    if c in _SPECIAL:
        return _SPECIAL[c]
    n = ord(c)
    if 0xdc80 <= n <= 0xdcff:
        return u'\\x%02x' % (n - 0xdc00)
    return u'\\x%02x' % n if n < 0x80 else _wide(c)


def as_text(value):
    """`value` (bytes, or text) as text; bytes that are not UTF-8 as lone surrogates."""
    if isinstance(value, bytes):
        return value.decode('utf-8', 'wavecodec-surrogates')
    return value if isinstance(value, text_type) else text_type(value)


def line(value, encoding=None):
    """`value` as one line (see the module text), in the native str type; with `encoding`,
    the characters it cannot encode as \\uNNNN."""
    text = _LINE_RE.sub(_code, as_text(value))
    if encoding:
        text = text.encode(encoding, 'wavecodec-unencodable').decode(encoding)
    return text.encode('utf-8') if PY2 else text


def csv_field(value):
    """`value` as one CSV field that needs no quoting (text; see the module text)."""
    return _CSV_RE.sub(_code, as_text(value))


def unescape(text):
    """The value of line() or csv_field() back, as text: bytes that were not UTF-8 as lone
    surrogates (Python 3's os.fsencode gives the bytes back)."""
    def back(match):
        code = match.group(1)
        if code in _BACK:
            return _BACK[code]
        value = int(code[1:], 16)
        return unichr_(0xdc00 + value if code[0] == u'x' and value >= 0x80 else value)
    return _ESCAPE_RE.sub(back, as_text(text))


__all__ = ['as_text', 'csv_field', 'line', 'unescape']
