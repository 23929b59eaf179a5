#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/<target>/corpus/). Run it again after
changing the input layout of a target; the files are committed. Samples and words are written
little-endian, the byte order of the machines that fuzz; on a big-endian machine they replay as
other, equally valid inputs."""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, target, "corpus")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def ints(values):
    return b"".join(struct.pack("<i", v) for v in values)


def words(values):
    return b"".join(struct.pack("<I", v) for v in values)


# decode: mode byte (bits 0-1 choose how count is read; the rest 1 = null array, 2 = null
# reader), count, then the text.
def decode_seed(name, count, text, mode=0):
    head = bytes([mode])
    if mode & 3 == 0:
        head += bytes([count])
    elif mode & 3 == 1:
        head += struct.pack("<H", count)
    elif mode & 3 == 2:
        head += bytes([-count])
    else:
        head += struct.pack("<i", count)
    write("decode", name, head + text)


decode_seed("simple", 5, b"DAT2\nUz6kz6+-F\nCHK2 123\n")
decode_seed("skip_to_dat1", 3, b"WID2 x\n  DAT2 indented\nDAT1\n+-\nF\nCHK1 0\n")
decode_seed("continued_sample", 2, b"DAT2\nUz\n6D\nCHK2 0\n")
decode_seed("premature_checksum", 9, b"DAT2 extra\n+-F\nCHK2 3\n")
decode_seed("blank_in_line", 4, b"DAT2\n+- ignored\n\nFD\nCHK2 0\n")
decode_seed("long_line", 100, b"DAT2\n" + b"U" * 100 + b"+\n" + b"-" * 90 + b"\nCHK2 1\n", mode=1)
decode_seed("no_newline", 40, b"DAT2\nXzzzzTnzzzzT\nFFF", mode=1)
decode_seed("negative_count", -3, b"DAT2\n+-F\n", mode=2)


# decode_chars: the same head as decode (mode 4 = null array), then the text after the heading.
def chars_seed(name, count, text, mode=0):
    head = bytes([mode])
    if mode & 3 == 0:
        head += bytes([count])
    else:
        head += struct.pack("<H", count)
    write("decode_chars", name, head + text)


chars_seed("simple", 5, b"Uz6kz6+-F\nCHK2 123\n")
chars_seed("continued_sample", 2, b"Uz\r\n\n6D\r\nCHK2 0\r\n")
chars_seed("premature_checksum", 9, b"+-F\n\nCHK1 3\n")
chars_seed("blank_and_nul", 5, b"+- ignored\n\n\t\nF\x00D\nDD\nCHK2 0\n")
chars_seed("long_line", 200, b"U" * 100 + b"+\n" + b"-" * 90 + b"\nCHK2 1\n", mode=1)
chars_seed("ends_in_sample", 40, b"XzzzzTnzzzzT\nFFU", mode=1)
chars_seed("ends_between_samples", 40, b"-0123\n456", mode=1)
chars_seed("null_array", 3, b"+-F\n", mode=4)
chars_seed("zero_count", 0, b"+-F\n")
chars_seed("any_bytes", 30, bytes(range(256)) + b"\n" + bytes(range(255, -1, -1)))
decode_seed("any_count", 2147483647, b"junk\nDAT2\nzzzzzzzz\n", mode=3)
decode_seed("count_zero", 0, b"DAT2\n+\n")
decode_seed("null_array", 3, b"DAT2\n+-F\n", mode=1 << 2)
decode_seed("null_reader", 3, b"DAT2\n+-F\n", mode=2 << 2)

# header: the stream itself.
WID2 = (b"WID2 2026/12/08 16:05:09.123 ABCDE BHZ AUX1 CM6     1200   40.000000 1.0000e+00"
        b"   1.000 STS-2   90.0 -1.0\n")
write("header", "whole_line", b"XW01 title\nDAT2\n" + WID2 + b"DAT2\n+\nCHK2 0\n")
write("header", "short_line", b"WID2 2001/02/03 04:05:06.789 STA\n")
write("header", "crlf", WID2.replace(b"\n", b"\r\n"))
write("header", "long_line", WID2[:-1] + b"x" * 60 + b"\nWID2 next\n")
write("header", "no_header", b" WID2 does not count\nWID\n")
# A NUL byte in a line once hid the line's newline, and the line after it was skipped.
write("header", "nul_before_wid2", b"XX\0a\nWID2 2001/02/03\n")
write("header", "nul_in_wid2", WID2[:80] + b"\0\0\0\0" + WID2[84:] + b"DAT2\n+\nCHK2 0\n")
write("header", "wide_numbers", b"WID2 123456/1234/-9 99:99:1e+30 ST CH A FMT -2147483648 "
                                b"nan inf -inf INSTRUMENT 1e9 -1e9\n")

# roundtrip: width, capacity (2 bytes), four cuts (2 bytes each), samples.
def roundtrip_seed(name, width, capacity, cuts, samples):
    head = bytes([width]) + struct.pack("<H", capacity) + struct.pack("<4H", *cuts)
    write("roundtrip", name, head + ints(samples))


WORKED = [0, 1, -1, 15, -15, 16, -16, 31, 32, 511, 512, 1000, -1000, 134217727, -134217727]
roundtrip_seed("worked_values", 79, 20, (3, 3, 7, 12), WORKED)
roundtrip_seed("clamped", 5, 11, (0, 1, 2, 3),
               [134217728, 2147483647, -134217728, -2147483647, 2**30])
roundtrip_seed("most_negative", 0, 500, (1, 2, 2, 2), [7, -20, -2**31, 5, 6])
roundtrip_seed("smooth", 80, 65535, (10, 20, 30, 40),
               [int(100000 * math.sin(i / 7.0)) for i in range(64)])
roundtrip_seed("empty", 1, 0, (0, 0, 0, 0), [])

# encode_lines: line width (2 bytes), capacity (2 bytes), piece size - 1 (1 byte), samples.
def lines_seed(name, width, capacity, piece, samples):
    head = struct.pack("<HH", width, capacity) + bytes([piece - 1])
    write("encode_lines", name, head + ints(samples))


lines_seed("worked_values", 80, 40, 4, WORKED)
lines_seed("fills_lines", 3, 7, 2, [1000] * 12)
lines_seed("width_one", 1, 65535, 1, [0, 1, -1, 511, -512])
lines_seed("clamped", 7, 13, 3, [134217728, 2147483647, -134217728, -2147483647, 2**30, 5])
lines_seed("most_negative", 80, 500, 64, [7, -20] * 40 + [-2**31, 5, 6])
lines_seed("smooth", 80, 65535, 65, [int(100000 * math.sin(i / 7.0)) for i in range(300)])
lines_seed("no_width", 0, 10, 1, [1, 2, 3])
lines_seed("empty", 80, 0, 1, [])

# sample_text: block size (1 byte, 0 = one block), line width (1 byte), piece size - 1 (1 byte),
# then bytes taken both as sample text and as int32 samples.
def text_seed(name, block, per_line, piece, text):
    write("sample_text", name, bytes([block, per_line, piece - 1]) + text)


text_seed("limits", 3, 1, 2, b"2147483647 -2147483648\n+0 -0 0007\n")
text_seed("out_of_range", 5, 4, 1, b"1 2\n2147483648\n-2147483649 3\n")
text_seed("long_overflow", 2, 3, 3, b"12 99999999999999999999999999 5\n")
text_seed("not_an_integer", 4, 2, 1, b"7\t1-2 12a --1 +\n8")
text_seed("bad_and_overflowing", 7, 5, 2, b"1 99999999999999999x 3")
text_seed("separators", 1, 7, 4, b" 1\t-2\r\n3\x0b4\x0c5  \n\n6")
text_seed("open_end", 9, 10, 8, b"10 -20 30")
text_seed("one_per_line", 64, 1, 64,
          b"".join(b"%d\n" % int(100000 * math.sin(i / 7.0)) for i in range(200)))
text_seed("no_width", 0, 0, 1, b"1 2 3 4 5 6 7 8")
text_seed("empty", 0, 1, 1, b"")
text_seed("samples_as_bytes", 0, 3, 2, ints([0, -1, 2**31 - 1, -2**31, 10, -10, 99, 100]))

# ibm2ieee: mode byte (7 = a count of zero or below), then the words.
write("ibm2ieee", "examples", bytes([0]) + words(
    [0x41100000, 0xC1100000, 0x42640000, 0xC276A000, 0x40800000, 0x00000000, 0x80000000]))
write("ibm2ieee", "range_edges", bytes([0]) + words(
    [0x5F100000, 0x60100000, 0x1A100000, 0x7FFFFFFF, 0xFFFFFFFF, 0x61FFFFFF, 0x00000001]))
write("ibm2ieee", "subnormals", bytes([0]) + words(
    [0x21200000, 0x21100000, 0x20FFFFFF, 0x1B400000, 0x1B800000, 0x1BC00000, 0xA0C00001]))
write("ibm2ieee", "no_count", bytes([7 | (5 << 3)]) + words([0x41100000, 0x42640000]))

# double2ibm: mode byte (7 = a count of zero or below), then the doubles.
def doubles(values):
    return b"".join(struct.pack("<d", v) for v in values)


write("double2ibm", "examples", bytes([0]) + doubles(
    [1.0, -100.0, 0.1, -118.625, 1.0 + 2.0 ** -21, 1.0 + 2.0 ** -21 + 2.0 ** -40, 0.0, -0.0]))
write("double2ibm", "range_edges", bytes([1 << 3]) + doubles(
    [(2 ** 24 - 1) * 2.0 ** 228, (2 ** 25 - 1) * 2.0 ** 227, -1e76, float("inf"), float("nan"),
     2.0 ** -260, 2.0 ** -256 * (1 - 2.0 ** -30), 1.7976931348623157e308]))
write("double2ibm", "underflow", bytes([3 << 3]) + doubles(
    [2.0 ** -280, 2.0 ** -281, 3 * 2.0 ** -282, 3 * 2.0 ** -281, 5e-324, -5e-324,
     2.2250738585072014e-308, 1e-78, 1e-80]))
write("double2ibm", "no_count", bytes([7 | (3 << 3)]) + doubles([1.0, float("inf")]))

# mseed: mode byte; bit 0 set: pack mode (encoding byte: 0 int32, 1 Steim-1, 2 Steim-2; record
# length byte: 256 << (n % 5)), then the samples.
write("mseed", "pack_steim2", bytes([1, 2, 0]) + ints(
    [int(30000 * math.sin(i / 5.0)) for i in range(300)]))
write("mseed", "pack_steim2_limits", bytes([1, 2, 1]) + ints(
    [0, 2**29 - 1, 0, -2**29, -1, 2**30, 2**31 - 1]))
write("mseed", "pack_steim1_extremes", bytes([1, 1, 0]) + ints(
    [-2**31, -1, 2**31 - 1, 0, 1, -2**31 + 1]))
write("mseed", "pack_int32", bytes([1, 0, 0]) + ints([-2**31, 2**31 - 1] * 40))


# mseed, read mode (bit 0 clear; bit 1: headers only; bit 2: block by block, the next byte
# choosing where the first block ends): records written by the package itself, when its
# libmseedio is built (the files are committed, so this part may be left out).
def mseed_record_seeds():
    import sys
    sys.path.insert(0, os.path.join(os.path.dirname(HERE), "python"))
    try:
        import wavecodec
        from wavecodec.mseed import shim, writer
        shim.library()
    except (ImportError, OSError, wavecodec.LibraryNotFoundError):
        print("make_seeds.py: libmseedio not loadable: the mseed record seeds are kept as they are")
        return
    header = dict(station="SEED", channel="HHZ", year=2024, month=5, day=17, hour=12,
                  second=1.5, sample_rate=100.0)
    samples = [int(20000 * math.sin(i / 9.0)) + (i % 7) * 100 for i in range(600)]
    for name, encoding, rate in (("records_steim2", "steim2", 100.0),
                                 ("records_steim1", "steim1", 0.025),
                                 ("records_int32", "int32", 0.123457)):
        w = wavecodec.Waveform(dict(header, sample_rate=rate), samples, sta2={"network": "XX"})
        data = bytes(writer.to_records([w], record_length=512, encoding=encoding).data)
        write("mseed", name, bytes([0]) + data)
    write("mseed", "records_headers_only", bytes([2]) + data)
    # Blocks: the records cut after 1536 bytes; junk between records; no blockette 1000
    # (libmseed finds the length from the next header and decodes Steim-1 in the header's
    # byte order); a record whose header gives neither samples nor a data offset.
    w = wavecodec.Waveform(header, samples, sta2={"network": "XX"})
    data = bytes(writer.to_records([w], record_length=256, encoding="steim1").data)
    write("mseed", "blocks_cut", bytes([4]) + data)
    write("mseed", "blocks_junk", bytes([4]) + data[:512] + b"\x17" * 300 + data[512:])
    bare = bytearray(data)
    for at in range(0, len(bare), 256):
        bare[at + 39] = 0
        bare[at + 46:at + 56] = bytes(10)
    write("mseed", "blocks_no_blockette1000", bytes([4]) + bytes(bare))
    empty = bytearray(data[:256])
    empty[30:32] = empty[44:46] = bytes(2)
    empty[64:] = bytes(192)
    write("mseed", "blocks_empty_record", bytes([4]) + data[:256] + bytes(empty) + data[256:])


mseed_record_seeds()
