"""The miniSEED commands of the wavecodec command line: gse2-to-mseed and mseed-to-gse2.

Argument parsing and printing only; the work is done by wavecodec.read/write (GSE2) and
wavecodec.mseed. Errors reach the command line's main(), which prints one line and exits
non-zero. Every output is written once, complete, through safeio, after every input has been
read and converted.
"""
from __future__ import print_function

import io

import wavecodec
from ..commandline import STDIO, display, done, one_stdin, read_bytes, reader_input
from ..errors import FormatError
from ..gse2.header import rate_text
from ..safeio import check_output, write_bytes
from . import reader, shim, writer


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


def cmd_gse2_to_mseed(args):
    one_stdin(args.inputs)
    check_output(args.output, args.inputs)
    waves, mismatches = [], 0
    for path in args.inputs:
        read, bad = _gse2_waveforms(path, args.lenient)
        waves.extend(read)
        mismatches += bad
    name = 'standard output' if args.output == STDIO else args.output
    packed = writer.to_records(waves, args.record_length, args.encoding, args.network,
                               args.location, args.quality, allow_errors=args.lenient,
                               name=name)
    write_bytes(args.output, packed.data, args.inputs)
    note = '; %d with a checksum mismatch converted (--lenient)' % mismatches \
        if mismatches else ''
    done(args.output, '%d waveforms, %d samples in %d records (%s, %d bytes)%s' % (
        packed.waveforms, packed.samples, packed.records, args.encoding, args.record_length,
        note))
    return 0


def cmd_mseed_to_gse2(args):
    one_stdin(args.inputs)
    check_output(args.output, args.inputs)
    waves = []
    for path in args.inputs:
        waves.extend(reader.read(read_bytes(path), round_time=args.round_time,
                                 name=display(path)))
    out = io.BytesIO()
    wavecodec.write(out, waves, data_format=args.format, message_id=args.message_id)
    write_bytes(args.output, out.getvalue(), args.inputs)
    notes = []
    rounded = sum(1 for w in waves if w.rounded_time)
    if rounded:
        notes.append('%d start times rounded to the millisecond (--round-time)' % rounded)
    located = sum(1 for w in waves if w.location)
    if located:
        notes.append('%d location codes not kept (GSE2 has no field for them)' % located)
    inexact = sum(1 for w in waves if float(rate_text(w.sample_rate)) != w.sample_rate)
    if inexact:
        notes.append('%d sample rates written to the 11 columns of GSE2\'s rate, not exactly'
                     % inexact)
    done(args.output, '%d waveforms, %d samples from %d records%s' % (
        len(waves), sum(len(w.samples) for w in waves), sum(w.records for w in waves),
        '; ' + '; '.join(notes) if notes else ''))
    return 0


def _record_length(text):
    try:
        value = int(text)
    except ValueError:
        value = None
    if value not in writer.RECORD_LENGTHS:
        import argparse
        raise argparse.ArgumentTypeError('%r is not a power of two from 256 to 65536' % text)
    return value


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
                   help='bytes per record, a power of two from 256 to 65536 (default 4096)')
    s.add_argument('--network', help="network code for every waveform (default: each "
                   "waveform's STA2 network)")
    s.add_argument('--location', default='', help="location code (default: none)")
    s.add_argument('--quality', choices=('D', 'R', 'Q', 'M'), default='D',
                   help='miniSEED data quality indicator (default D)')
    s.add_argument('--lenient', action='store_true',
                   help='convert waveforms whose checksum disagrees with their samples')
    s.set_defaults(run=cmd_gse2_to_mseed)

    s = sub.add_parser('mseed-to-gse2', help='miniSEED records as GSE2 waveforms, contiguous '
                       'records of a channel merged')
    s.add_argument('inputs', nargs='+', metavar='IN', help="miniSEED files ('-': standard "
                   "input)")
    s.add_argument('-o', '--output', required=True, metavar='OUT',
                   help="the GSE2 file ('-': standard output)")
    s.add_argument('--message-id', metavar='ID',
                   help='wrap the waveforms in a GSE2.1 message with this MSG_ID')
    s.add_argument('--format', type=str.upper, choices=('CM6', 'INT'), default='CM6',
                   help='GSE2 data format: CM6 (default) or INT')
    s.add_argument('--round-time', action='store_true',
                   help='round starts with a fraction of a millisecond (refused otherwise)')
    s.set_defaults(run=cmd_mseed_to_gse2)
