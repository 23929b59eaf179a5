"""The envelope of a GSE2.1/IMS1.0 message: BEGIN, MSG_TYPE, MSG_ID, REF_ID, DATA_TYPE and
STOP lines, kept as the message a waveform belongs to."""
from ..compat import native_str

FIELDS = {'BEGIN': 'version', 'MSG_TYPE': 'msg_type', 'MSG_ID': 'msg_id',
          'REF_ID': 'ref_id', 'DATA_TYPE': 'data_type'}


class Envelope(object):
    """The message lines seen so far: `current` is None outside a message, else a dict of the
    FIELDS values (None for lines not seen)."""

    def __init__(self):
        self.current = None

    def feed(self, line):
        """Takes a line that starts with a letter and is no waveform keyword line; returns
        True when it was an envelope line."""
        words = line.split(None, 1)
        if not words:
            return False
        word = native_str(bytes(words[0])).upper()
        if word in FIELDS:
            if self.current is None or word == 'BEGIN':
                self.current = dict.fromkeys(FIELDS.values())
            self.current[FIELDS[word]] = native_str(bytes(words[1])).strip() \
                if len(words) > 1 else ''
            return True
        if word == 'STOP':
            self.current = None
            return True
        return False

    def snapshot(self):
        """A copy of the current message for a waveform, or None."""
        return dict(self.current) if self.current is not None else None
