"""The miniSEED commands of the wavecodec command line: gse2-to-mseed and mseed-to-gse2, and the
rows `info` shows of a miniSEED file.

Argument parsing and printing only; the work is done by wavecodec.read/write (GSE2) and
wavecodec.mseed. Errors reach the command line's main(), which prints one line and exits
non-zero. Every output is written through safeio, complete or not at all, after every input has
been read; what the inputs held besides the waveforms converted is listed after the closing
line (on standard error when the output is standard output).
"""
from __future__ import print_function

import sys

import wavecodec
from ..commandline import (STDIO, UsageError, display, done, one_stdin, reader_input)
from ..errors import FormatError
from ..gse2.waveform import extras_of, extras_text
from ..gse2.wid2 import rate_text
from ..safeio import check_output, open_output, write_bytes
from . import reader, shim, writer
from .select import Selection


def _gse2_waveforms(path, lenient):
    """The waveforms of GSE2 input `path`, their checksums verified: a mismatch is refused
    unless `lenient`, any other fault always. Returns (waveforms, mismatches converted)."""
    waves = wavecodec.read(reader_input(path), name=display(path), strict=not lenient)
    mismatches = 0
    for wave in waves:
        if wave.error is None:
            continue
        if 'checksum mismatch' not in wave.error:
            raise FormatError(wave.error)
        mismatches += 1
    return waves, mismatches


def _selection(args):
    try:
        return Selection(station=args.station, channel=args.channel, start=args.start,
                         end=args.end)
    except FormatError as e:
        raise UsageError(str(e))


def _listing(target, lines):
    """The lines after a command's closing line: with it on standard output, else on standard
    error (the output is standard output)."""
    stream = sys.stderr if target == STDIO else sys.stdout
    for line in lines:
        print('  ' + line, file=stream)


def cmd_gse2_to_mseed(args):
    one_stdin(args.inputs)
    check_output(args.output, args.inputs)
    selection = _selection(args)
    waves, mismatches = [], 0
    for path in args.inputs:
        read, bad = _gse2_waveforms(path, args.lenient)
        waves.extend(read)
        mismatches += bad
    name = 'standard output' if args.output == STDIO else args.output
    packed = writer.to_records(waves, args.record_length, args.encoding, args.network,
                               args.location, args.quality, allow_errors=args.lenient,
                               name=name, selection=selection if selection else None)
    write_bytes(args.output, packed.data, args.inputs)
    notes = []
    if mismatches:
        notes.append('%d with a checksum mismatch converted (--lenient)' % mismatches)
    if packed.outside:
        notes.append('%d outside the selection' % packed.outside)
    extras = extras_of(waves)
    if extras:
        notes.append('not carried (no place in miniSEED): %s' % extras_text(extras))
    done(args.output, '%d waveforms, %d samples in %d records (%s, %d bytes)%s' % (
        packed.waveforms, packed.samples, packed.records, args.encoding, args.record_length,
        ''.join('; ' + n for n in notes)))
    return 0


def _gse2_can_hold(wave):
    return all(' ' <= ch <= '~' for ch in wave.station + wave.channel + (wave.location or ''))


def _rewrite_hint(e):
    """The GSE2 writer's hint in terms of this command's options."""
    text = str(e).replace('(write with clamp=True to clamp it, or use INT)',
                          '(--clamp clamps it, or --format INT)')
    return FormatError(text)


def cmd_mseed_to_gse2(args):
    one_stdin(args.inputs)
    check_output(args.output, args.inputs)
    _selection(args)
    waves = reader.read([reader_input(p) for p in args.inputs], round_time=args.round_time,
                        name=[display(p) for p in args.inputs], lenient=args.lenient,
                        station=args.station, channel=args.channel, start=args.start,
                        end=args.end)
    report = waves.report
    kept = [w for w in waves if _gse2_can_hold(w)]
    skipped = ['skipped: %s.%s.%s.%s (codes GSE2 cannot hold: printable ASCII only) from %s '
               'record %d, byte %d' % ((w.sta2 or {}).get('network', ''), w.station,
                                       w.location, w.channel) + w.source
               for w in waves if not _gse2_can_hold(w)]
    if not kept:
        raise FormatError('%s: no waveform GSE2 can hold (%s)' % (
            ', '.join(report.files), '; '.join(skipped + report.lines()[:3])))
    from ..gse2.writer import to_chunks
    name = 'standard output' if args.output == STDIO else args.output
    try:
        with open_output(args.output, args.inputs) as f:
            for chunk in to_chunks(kept, data_format=args.format, clamp=args.clamp,
                                   message_id=args.message_id, name=name):
                f.write(chunk)
    except FormatError as e:
        raise _rewrite_hint(e)
    notes = report.notes()
    if skipped:
        notes.append('%d waveforms whose codes GSE2 cannot hold skipped' % len(skipped))
    rounded = sum(1 for w in kept if w.rounded_time)
    if rounded:
        notes.append('%d start times rounded to the millisecond (--round-time)' % rounded)
    inexact = sum(1 for w in kept if float(rate_text(w.sample_rate)) != w.sample_rate)
    if inexact:
        notes.append('%d sample rates written to the 11 columns of GSE2\'s rate, not exactly'
                     % inexact)
    done(args.output, '%d waveforms, %d samples from %d records%s' % (
        len(kept), sum(len(w.samples) for w in kept), sum(w.records for w in kept),
        ''.join('; ' + n for n in notes)))
    _listing(args.output, skipped + report.lines())
    return 1 if report.damaged else 0


def info_rows(source, name):
    """(rows, lines, faulty) of a miniSEED input for `info`: one row per waveform (the columns
    of the GSE2 rows; its records are decoded and checked whether or not --verify is given),
    the lines of the report (gaps, overlaps, channels and records apart), and whether a record
    was damaged (read leniently, every one listed)."""
    waves = reader.read(source, name=name, lenient=True, round_time=True)
    rows = []
    for w in waves:
        start = w.start
        rate = repr(float(w.sample_rate))
        rows.append((name, w.station or '-', (w.sta2 or {}).get('network') or '-',
                     w.channel or '-', start.strftime('%Y-%m-%dT%H:%M:%S.') +
                     '%03d' % (start.microsecond // 1000), rate[:-2] if rate.endswith('.0')
                     else rate, str(len(w.samples)), w.encoding.upper(), '-', '-', 'ok'))
    return rows, waves.report.lines(), bool(waves.report.damaged)


def verify_file(source, name):
    """(waveforms, faults, notes) of a miniSEED input for `verify`: every record decoded and
    checked (read leniently: each damaged record is a fault), the report's other lines (gaps,
    overlaps, channels and records apart) as notes."""
    try:
        waves = reader.read(source, name=name, lenient=True, round_time=True)
    except FormatError as e:
        return 0, [str(e)], []
    report = waves.report
    faults = ['%s: record %d (byte %d): %s' % damaged for damaged in report.damaged]
    notes = [line for line in report.lines() if not line.startswith('damaged: ')]
    return len(waves), faults, notes


def _record_length(text):
    try:
        value = int(text)
    except ValueError:
        value = None
    if value not in writer.RECORD_LENGTHS:
        import argparse
        raise argparse.ArgumentTypeError('%r is not a power of two from 128 to 65536' % text)
    return value


def _selection_options(s):
    s.add_argument('--station', metavar='PATTERN',
                   help="only stations matching PATTERN (glob: * ? [...])")
    s.add_argument('--channel', metavar='PATTERN',
                   help="only channels matching PATTERN (glob: * ? [...])")
    s.add_argument('--start', metavar='TIME',
                   help='only samples from TIME on (YYYY-MM-DDTHH:MM:SS.ffffff, UTC)')
    s.add_argument('--end', metavar='TIME', help='only samples up to TIME (included)')


def register(sub):
    """Adds gse2-to-mseed and mseed-to-gse2 to the subparsers `sub`."""
    s = sub.add_parser('gse2-to-mseed', help='GSE2 waveforms as miniSEED 2 records (libmseed); '
                       'checksums verified first')
    s.add_argument('inputs', nargs='+', metavar='IN', help="GSE2 files ('-': standard input)")
    s.add_argument('-o', '--output', required=True, metavar='OUT',
                   help="the miniSEED file ('-': standard output)")
    s.add_argument('--encoding', choices=sorted(shim.ENCODINGS), default='steim2',
                   help='miniSEED sample encoding (default steim2)')
    s.add_argument('--record-length', type=_record_length, default=4096, metavar='BYTES',
                   help='bytes per record, a power of two from 128 to 65536 (default 4096)')
    s.add_argument('--network', help="network code for every waveform (default: each "
                   "waveform's STA2 network)")
    s.add_argument('--location', help="location code for every waveform (default: each "
                   "waveform's WID2 auxiliary id when it is one, else none)")
    s.add_argument('--quality', choices=('D', 'R', 'Q', 'M'), default='D',
                   help='miniSEED data quality indicator (default D)')
    s.add_argument('--lenient', action='store_true',
                   help='convert waveforms whose checksum disagrees with their samples')
    _selection_options(s)
    s.set_defaults(run=cmd_gse2_to_mseed)

    s = sub.add_parser('mseed-to-gse2', help='miniSEED records as GSE2 waveforms, the records '
                       'of a channel joined as libmseed joins them')
    s.add_argument('inputs', nargs='+', metavar='IN', help="miniSEED files ('-': standard "
                   "input)")
    s.add_argument('-o', '--output', required=True, metavar='OUT',
                   help="the GSE2 file ('-': standard output)")
    s.add_argument('--message-id', metavar='ID',
                   help='wrap the waveforms in a GSE2.1 message with this MSG_ID')
    s.add_argument('--format', type=str.upper, choices=('CM6', 'INT'), default='CM6',
                   help='GSE2 data format: CM6 (default) or INT')
    s.add_argument('--clamp', action='store_true',
                   help='clamp second differences beyond the CM6 range instead of failing')
    s.add_argument('--round-time', action='store_true',
                   help='round starts with a fraction of a millisecond (refused otherwise)')
    s.add_argument('--lenient', action='store_true',
                   help='skip damaged records, listing each, and convert the rest; the exit '
                   'status is 1 when one was damaged')
    _selection_options(s)
    s.set_defaults(run=cmd_mseed_to_gse2)
