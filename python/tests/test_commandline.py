"""Every subcommand's parser: a description, help for every argument, the output as -o, and a
usage error that shows the subcommand's usage; the older positional outputs still work."""
import argparse
import os
import signal as signals
import struct
import sys

from .helpers import TempDirCase, header, run_cli, signal, wavecodec
from .test_cli_safety import _Text
from .test_segy_bad import EXAMPLE
from wavecodec import cli


def main(argv):
    """cli.main(argv) in this process: (status, standard error)."""
    saved = sys.stdout, sys.stderr, signals.getsignal(signals.SIGTERM)
    sys.stdout, sys.stderr = _Text(), _Text()
    try:
        return cli.main(argv), ''.join(sys.stderr.parts)
    finally:
        sys.stdout, sys.stderr = saved[:2]
        signals.signal(signals.SIGTERM, saved[2])


class EverySubcommand(TempDirCase):
    def test_help_output_and_usage_errors(self):
        commands = [a for a in cli.build_parser()._actions
                    if isinstance(a, argparse._SubParsersAction)][0].choices.items()
        self.assertGreaterEqual(len(commands), 13)
        for name, parser in commands:
            self.assertTrue((parser.description or '').strip(), '%s has no description' % name)
            for action in parser._actions:
                if isinstance(action, argparse._HelpAction):
                    continue
                what = '%s %s' % (name, '/'.join(action.option_strings) or action.dest)
                self.assertTrue(action.help and action.help != argparse.SUPPRESS and
                                action.help.strip(), '%s has no help text' % what)
                if action.dest == 'output':
                    self.assertIn('-o', action.option_strings, '%s: outputs are -o' % what)
            for argv in ([name], [name, '--no-such-option']):
                status, err = main(argv)
                self.assertEqual((status, len(err.strip().splitlines())), (2, 1), (argv, err))
                self.assertIn('usage error', err)
                self.assertIn('usage: wavecodec %s ' % name, err)
                self.assertIn(parser.format_usage().split()[-1], err)   # to its last word


class OutputForms(TempDirCase):
    def test_older_positional_outputs_and_o_alike(self):
        self.write_bytes('w.ibm', struct.pack('>2I', 0x41100000, 0xC276A000))
        for command, given, extra in (('ibm2ieee', self.path('w.ibm'), []),
                                      ('segy-convert', EXAMPLE, ['--format', 'ieee'])):
            outputs = []
            for where in ([self.path('older')], ['-o', self.path('o')]):
                status, text, err = run_cli([command, given] + where + extra)
                self.assertEqual((status, err), (0, ''), (command, where))
                outputs.append(self.read_bytes(os.path.basename(where[-1])))
                os.remove(where[-1])
            self.assertEqual(outputs[0], outputs[1], command)
        self.assertEqual(self.leftovers(), ['w.ibm'])

    def test_usage_errors_write_nothing(self):
        wavecodec.write(self.path('in.gse'), [wavecodec.Waveform(header(), signal(50))])
        seg, ieee = ['segy-convert', EXAMPLE], ['--format', 'ieee']
        # (row, arguments, standard input, texts of the one line of error)
        for row, args, data, texts in (
                ('ibm2ieee output twice', ['ibm2ieee', EXAMPLE, self.path('a'), '-o',
                                           self.path('b')], None,
                 ['the output is given twice', 'usage: wavecodec ibm2ieee ']),
                ('segy-convert output twice', seg + [self.path('a'), '-o', self.path('b')] +
                 ieee, None, ['the output is given twice']),
                ('ibm2ieee no output', ['ibm2ieee', EXAMPLE], None, ['-o/--output']),
                ('segy-convert no output', seg + ieee, None, ['-o/--output']),
                ('convert from standard input', ['convert', '-', '-o', self.path('out'),
                                                 '--network', 'XX'],
                 self.read_bytes('in.gse'), ['standard input', 'usage: wavecodec convert '])):
            status, out, err = run_cli(args, data=data)
            self.assertEqual((status, len(err.strip().splitlines())), (2, 1), (row, err))
            for text in texts:
                self.assertIn(text, err, row)
            self.assertEqual(self.leftovers(), ['in.gse'], row)
