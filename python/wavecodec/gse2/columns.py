"""Values in the fixed columns of a GSE2 line: numbers and texts read from a field's characters
(never through single-precision floats), checked before printing, and numbers printed into
their columns so that every value read is written back as read.
"""
import math

from ..compat import PY2, integer_types, string_types, text_type
from ..errors import FormatError

# The characters of decimal numbers: a text with any other (nan, inf, 1_000, ...) is refused
# before int() and float() see it; they refuse wrong arrangements of these.
INT_CHARS = b'0123456789+- '
FLOAT_CHARS = b'0123456789+-.eE '
# Printable ASCII: the characters a text field may hold.
PRINTABLE = bytes(bytearray(range(32, 127)))


def number(text, kind):
    """The value of a numeric field's text (blanks around it allowed), or None."""
    text = bytes(text)
    try:
        if kind == 'int':
            return int(text) if not text.translate(None, INT_CHARS) else None
        value = float(text) if not text.translate(None, FLOAT_CHARS) else None
    except ValueError:
        return None
    return value if value is None or not math.isinf(value) else None


def text(raw):
    """A text field's characters without their padding blanks (native text)."""
    return raw.decode('latin-1').strip() if not isinstance(raw, str) else raw.strip()


def shown(value):
    """A text field for a message: under Python 2 as a plain str (non-ASCII escaped)."""
    if PY2 and isinstance(value, text_type):
        return value.encode('ascii', 'backslashreplace')
    return value


def check_text(line, name, value, width):
    """FormatError unless `value` is text of printable ASCII, at most `width` characters, not
    beginning with a blank: what field `name` of `line` can hold and give back."""
    if not isinstance(value, string_types):
        raise FormatError('%s field %s must be text, not %r' % (line, name, value))
    if len(value) > width:
        raise FormatError('%s field %s %r is longer than its %d columns'
                          % (line, name, value, width))
    if any(not (' ' <= ch <= '~') for ch in value) or value != value.lstrip():
        raise FormatError('%s field %s %r holds characters other than printable ASCII, or '
                          'begins with a blank' % (line, name, value))


def check_number(line, name, value):
    """FormatError unless `value` is a finite int or float (not a bool) that a float holds."""
    if isinstance(value, bool) or not isinstance(value, integer_types + (float,)):
        raise FormatError('%s field %s must be a number, not %r' % (line, name, value))
    if isinstance(value, float) and (math.isnan(value) or math.isinf(value)):
        raise FormatError('%s field %s %r is not finite' % (line, name, value))
    if not isinstance(value, float):
        try:
            float(value)
        except OverflowError:
            raise FormatError('%s field %s %r is beyond the range of any float'
                              % (line, name, value))


def _compact_exponent(value, digits):
    """`value` in exponent form with `digits` decimals and the shortest exponent (1.5e-5)."""
    mantissa, exponent = ('%.*e' % (digits, value)).split('e')
    return '%se%d' % (mantissa, int(exponent))


def _whole_mantissa(value, digits):
    """`value` with `digits` + 1 significant digits as a whole mantissa and exponent (15e-6)."""
    mantissa, exponent = ('%.*e' % (digits, value)).split('e')
    return '%se%d' % (mantissa.replace('.', ''), int(exponent) - digits)


def _bare_fixed(value, digits):
    """Fixed form without the zero before the point (.125, -.5)."""
    text = '%.*f' % (digits, value)
    return text.replace('0.', '.', 1) if text.lstrip('-').startswith('0.') else text


# Texts made by fit_number, by (line, name, width, format, type, value): the same rates,
# calibrations and angles come back waveform after waveform. Zero is not kept (0.0 and -0.0
# are equal keys but print differently); the table is emptied when it grows large.
_FITTED = {}
_FITTED_LIMIT = 4096


def fit_number(line, name, value, width, fmt):
    """The text of number `value` in its `width` columns (see _fit_number), remembered for the
    values that come back."""
    key = (line, name, width, fmt, type(value), value)
    try:
        return _FITTED[key]
    except KeyError:
        pass
    except TypeError:  # a value that cannot be a key: _fit_number names the fault
        return _fit_number(line, name, value, width, fmt)
    text = _fit_number(line, name, value, width, fmt)
    if value:
        if len(_FITTED) >= _FITTED_LIMIT:
            _FITTED.clear()
        _FITTED[key] = text
    return text


def _fit_number(line, name, value, width, fmt):
    """The text of number `value` in its `width` columns: `fmt`, the field's usual format, when
    it holds the value exactly; else the form that fits and comes closest to it (the usual one,
    fixed with more or fewer decimals, or an exponent form), so that every value read from a
    line is written back as read. FormatError naming the field when none fits."""
    check_number(line, name, value)
    text = fmt % value
    if len(text) <= width and float(text) == value:
        return text
    forms = [lambda d: '%.*e' % (d, value), lambda d: _compact_exponent(value, d),
             lambda d: _whole_mantissa(value, d), lambda d: '%.*f' % (d, value),
             lambda d: _bare_fixed(value, d)]
    if not fmt.endswith('e'):
        forms = forms[3:] + forms[:3]
    best = (abs(float(text) - value), text) if len(text) <= width else None
    # The closest; of equally close ones, the usual format, then the field's usual style.
    for form in forms:
        for digits in range(width, -1, -1):
            candidate = form(digits)
            if len(candidate) <= width:
                error = abs(float(candidate) - value)
                if best is None or error < best[0]:
                    best = (error, candidate)
                break
    if best is None:
        raise FormatError('%s field %s %r does not fit its %d columns'
                          % (line, name, value, width))
    return best[1].rjust(width)
