"""Which format an input holds, from its first bytes, for commands that take several (info,
verify): miniSEED records go to the mseed package, which this module does not import."""
import os

from .compat import text_type


def looks_like_records(head):
    """Whether `head`, the first bytes of an input, begin a miniSEED record: six digits,
    blanks or NULs and a quality letter (version 2), or 'MS' and format version 3."""
    if isinstance(head, text_type):
        return False
    head = bytearray(head[:8])
    if len(head) >= 3 and head[:2] == b'MS' and head[2] == 3:
        return True
    return len(head) >= 7 and chr(head[6]) in 'DRQM' and \
        all(chr(c) in '0123456789 \0' for c in head[:6])


def is_records(source):
    """looks_like_records of a path (its first bytes; False when it cannot be read) or of
    bytes already read."""
    if isinstance(source, (bytes, bytearray)) and not (
            isinstance(source, str) and 0 < len(source) < 4096 and os.path.isfile(source)):
        return looks_like_records(source)
    try:
        with open(source, 'rb') as f:
            return looks_like_records(f.read(8))
    except (IOError, OSError, TypeError):
        return False
