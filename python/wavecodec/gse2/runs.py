"""Runs of usual waveform records, read together: the reader's fast road for files of many
short waveforms.

A usual record is a WID2 line of the usual 105 columns, an optional STA2 line, a DAT2 line, lines
of six-bit code only and a "CHK2 " (or "CHK1 ") line, each ending in LF or CR LF. One compiled
pattern takes record after record where the previous one ended; their WID2 lines are checked
together (wid2.usual_wid2) and each parsed when its header is first used. A record is taken
only when the reader's line loop would
find no fault in it: at the first record that is anything else (a fault, INT data, a short or
long section, a checksum mismatch, any other line between records) the run stops and the line
loop reads on from that record's WID2 line, so every fault and message is the line loop's own.
"""
import re
from array import array
from itertools import islice

from ..compat import PY2
from .block import read_line
from .datasection import zeros
from .waveform import Waveform
from .wid2 import parse_wid2, usual_wid2

_RECORD = re.compile(
    br'(WID2 .{100})\r?\n'
    br'(?:(STA2(?:[ \t][^\r\n]*)?)\r?\n)?'
    br'DAT2(?:[ \t][^\r\n]*)?\r?\n'
    # The code lines: everything up to the first blank, less the "CHK2 " it belongs to (a
    # search for one byte; tabs and "WID2" lines among them are looked for once per run).
    br'((?:[^ ]*\n)?)'
    # The decoder stops at "CHK2 " or "CHK1 ": a blank, not a tab, after the keyword.
    br'CHK[12] +([+-]?[0-9]+)(?:[ \t][^\r\n]*)?\r?\n')
# The line loop ends a section at a line "WID2" without fields; code never holds one.
_BARE_WID2 = (b'\nWID2\n', b'\nWID2\r\n')

# The block of a record with its STA2 line: shared, as a tuple cannot change.
_STA2_BLOCK = ('STA2',)

# Sections of fewer samples are decoded in one scratch array and copied out (no array made and
# cut to size per section).
SCRATCH = 4096

# Records taken per pattern pass: the first run is short (a file whose records are not usual
# wastes little), later ones longer.
FIRST_BATCH = 16
LAST_BATCH = 1024


class RunReader(object):
    """Takes runs of usual records for a reader (reader.py's _Reader)."""

    def __init__(self, reader, lib, source):
        self.reader = reader
        self.lib = lib
        self.src = source
        self.data = source.data
        self.address = source.address
        self.batch = FIRST_BATCH
        self.scratch = zeros(SCRATCH)
        # Python 2.7 gives the groups of a match in a bytearray as bytearrays.
        self.groups_copied = PY2 and not isinstance(self.data, bytes)

    def run(self, pos, index, message, before):
        """(waveforms to return, position after the last record taken, number of the last
        waveform) for the usual records beginning at `pos`, a WID2 line. `message` is the
        envelope's current dict or None; `before` the lines kept before the first record. No
        records taken: ([], pos, index)."""
        records = list(islice(iter(_RECORD.scanner(self.data, pos).match, None), self.batch))
        if not records:
            return [], pos, index
        records = self._usual_code(records)
        if not records:
            return [], pos, index
        lines = [m.group(1) for m in records]
        checks = [m.group(4) for m in records]
        if self.groups_copied:
            lines = list(map(bytes, lines))
            checks = list(map(bytes, checks))
        reader = self.reader
        filtered = reader.stations is not None or reader.channels is not None
        usual = None if filtered else usual_wid2(lines)
        if usual is not None:
            # Faultless lines: each parsed when its header is first used (waveform.py).
            key, headers = '_wid2', lines
            counts = usual[0]
            cm6 = [fmt.upper() == b'CM6' for fmt in usual[1]]
        else:
            key, headers = 'header', self._headers(lines)
            counts = [header['sample_count'] for header in headers]
            cm6 = [header['data_format'].upper() == 'CM6' for header in headers]
        values = list(map(int, checks))
        headers_only = reader.headers_only
        verify = reader.verify
        lib = self.lib
        decode, restore, check_sum = lib.decomp_6b_chars, lib.rem_2nd_diff, lib.check_sum
        address = self.address
        scratch = self.scratch
        scratch_at = scratch.buffer_info()[0]
        waves = []
        taken = 0
        for m, header, count, is_cm6, value in zip(records, headers, counts, cm6, values):
            if filtered and not reader.selected(header):
                taken += 1
                continue
            regs = m.regs
            sta2 = None
            if regs[2][0] >= 0:
                sta2, fault = read_line('STA2', m.group(2))
                if fault:
                    break
            # Every sample takes a character at least.
            if count > regs[0][1] - regs[3][0]:
                break
            if headers_only:
                samples, computed = array('i'), None
            elif count < SCRATCH:
                # Decoded, restored and summed in the scratch array, then copied out.
                start, end = regs[3]
                if not is_cm6 or decode(address + start, end - start, count + 1, scratch_at,
                                        None) != count:
                    break
                if count > 1:
                    restore(scratch_at, count)
                computed = check_sum(scratch_at, count, 0)
                if verify and value != computed and value != abs(computed):
                    break
                samples = scratch[:count]
            else:
                samples = self._decode(regs[3], count) if is_cm6 else None
                if samples is None:
                    break
                computed = check_sum(samples.buffer_info()[0], count, 0)
                if verify and value != computed and value != abs(computed):
                    break
            wave = Waveform.__new__(Waveform)
            # The lines kept with it, when it has any; else the class's empty ones stand.
            wave.__dict__ = attributes = {
                key: header, 'samples': samples, 'sta2': sta2, 'checksum': value,
                'computed_checksum': computed, 'error': None,
                'message': None if message is None else dict(message),
                'headers_only': headers_only, 'offset': regs[0][0]}
            if sta2 is not None:
                attributes['block'] = _STA2_BLOCK
            if before and not taken:
                attributes['before'] = before
            waves.append(wave)
            taken += 1
        self.batch = min(2 * self.batch, LAST_BATCH) if taken == len(records) else FIRST_BATCH
        after = records[taken].start() if taken < len(records) else records[-1].end()
        return waves, after, index + taken

    @staticmethod
    def _headers(lines):
        """The headers of the faultless lines before the first faulty one."""
        headers = []
        for line in lines:
            header, fault = parse_wid2(line)
            if fault:
                break
            headers.append(header)
        return headers

    def _usual_code(self, records):
        """`records` up to the first whose code lines hold a tab, or (in a full read) a line
        "WID2": the line loop reads those. One search over the run for each."""
        data = self.data
        start, end = records[0].start(), records[-1].end()
        needles = (b'\t',) if self.reader.headers_only else (b'\t',) + _BARE_WID2
        if all(data.find(needle, start, end) < 0 for needle in needles):
            return records
        for k, m in enumerate(records):
            first, last = m.span(3)
            if any(data.find(needle, first - 1, last) >= 0 for needle in needles):
                return records[:k]
        return records

    def _decode(self, span, count):
        """The `count` samples of the CM6 code in `span` through the library (one call decodes,
        one restores the series), or None when the code is not exactly that many samples."""
        start, end = span
        # One entry more than declared: code left after the last sample is found by the call.
        samples = zeros(count + 1)
        address = samples.buffer_info()[0]
        if self.lib.decomp_6b_chars(self.address + start, end - start, count + 1, address,
                                    None) != count:
            return None
        if count > 1:
            self.lib.rem_2nd_diff(address, count)
        del samples[count]
        return samples
