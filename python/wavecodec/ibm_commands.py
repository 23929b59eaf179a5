"""The ibm2ieee command: raw big-endian IBM words to little-endian float32."""
import sys

from .commandline import add_output, display, done, read_bytes
from .compat import array_to_bytes
from .errors import FormatError
from .ibm import ibm_to_float32
from .safeio import check_output, write_bytes


def cmd_ibm2ieee(args):
    check_output(args.output, [args.input])
    data = read_bytes(args.input)
    if len(data) % 4:
        raise FormatError('%s: %d bytes is not a whole number of 4-byte IBM words'
                          % (display(args.input), len(data)))
    values = ibm_to_float32(data)
    if sys.byteorder == 'big':
        values.byteswap()
    write_bytes(args.output, array_to_bytes(values), [args.input])
    done(args.output, '%d float32 values' % len(values))
    return 0


def register(sub):
    s = sub.add_parser('ibm2ieee', help='raw big-endian IBM words to little-endian float32')
    s.add_argument('input', metavar='IN', help="raw big-endian IBM words ('-': standard input)")
    add_output(s, 'OUT', "the little-endian float32 file ('-': standard output)",
               after_inputs=True)
    s.set_defaults(run=cmd_ibm2ieee)
