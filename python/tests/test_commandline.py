"""Every subcommand's parser: a description, help for every argument, the output as -o, and a
usage error that shows the subcommand's usage; the older positional outputs still work."""
import argparse
import os
import signal as signals
import struct
import sys

from .helpers import TempDirCase, header, run_cli, signal, wavecodec
from .test_segy_bad import EXAMPLE
from wavecodec import cli


class _Text(object):
    """A text stream for both Pythons (io.StringIO refuses str under 2.7)."""

    def __init__(self):
        self.parts = []

    def write(self, text):
        self.parts.append(text)

    def flush(self):
        pass

    def isatty(self):
        return False

    def value(self):
        return ''.join(self.parts)


def subcommands():
    """(name, parser) of every subcommand, in the order the command line lists them."""
    parser = cli.build_parser()
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            return list(action.choices.items())
    return []


def main(argv):
    """cli.main(argv) in this process: (status, standard error)."""
    saved = sys.stdout, sys.stderr, signals.getsignal(signals.SIGTERM)
    sys.stdout, sys.stderr = _Text(), _Text()
    try:
        status = cli.main(argv)
        return status, sys.stderr.value()
    finally:
        err = sys.stderr
        sys.stdout, sys.stderr = saved[:2]
        signals.signal(signals.SIGTERM, saved[2])
        del err


class EverySubcommand(TempDirCase):
    def test_help_output_and_usage_errors(self):
        commands = subcommands()
        self.assertGreaterEqual(len(commands), 13)
        for name, parser in commands:
            self.assertTrue((parser.description or '').strip(), '%s has no description' % name)
            for action in parser._actions:
                if isinstance(action, argparse._HelpAction):
                    continue
                what = '%s %s' % (name, '/'.join(action.option_strings) or action.metavar or
                                  action.dest)
                self.assertTrue(action.help and action.help != argparse.SUPPRESS and
                                action.help.strip(), '%s has no help text' % what)
                if action.dest == 'output':
                    self.assertIn('-o', action.option_strings, '%s: outputs are -o' % what)
            usage = 'usage: wavecodec %s ' % name
            for argv in ([name], [name, '--no-such-option']):
                status, err = main(argv)
                self.assertEqual(status, 2, (argv, err))
                self.assertEqual(len(err.strip().splitlines()), 1, err)
                self.assertIn('usage error', err)
                self.assertIn(usage, err)
                self.assertIn(parser.format_usage().split()[-1], err)   # to its last word


class OutputForms(TempDirCase):
    def test_older_positional_outputs_and_o_alike(self):
        self.write_bytes('w.ibm', struct.pack('>2I', 0x41100000, 0xC276A000))
        for command, given, extra in (('ibm2ieee', self.path('w.ibm'), []),
                                      ('segy-convert', EXAMPLE, ['--format', 'ieee'])):
            outputs = []
            for form in ('older', '-o'):
                out = self.path('%s-%s.out' % (command, form))
                where = [out] if form == 'older' else ['-o', out]
                status, text, err = run_cli([command, given] + where + extra)
                self.assertEqual((status, err), (0, ''), (command, form))
                outputs.append(self.read_bytes(os.path.basename(out)))
            self.assertEqual(outputs[0], outputs[1], command)
            status, text, err = run_cli([command, given, self.path('a'), '-o', self.path('b')] +
                                        extra)
            self.assertEqual(status, 2, err)
            self.assertIn('the output is given twice', err)
            status, text, err = run_cli([command, given] + extra)
            self.assertEqual(status, 2, err)
            self.assertIn('-o/--output', err)
        self.assertEqual(sorted(os.listdir(self.dir)),
                         ['ibm2ieee--o.out', 'ibm2ieee-older.out', 'segy-convert--o.out',
                          'segy-convert-older.out', 'w.ibm'])

    def test_convert_refuses_standard_input(self):
        wavecodec.write(self.path('in.gse'), [wavecodec.Waveform(header(), signal(50))])
        status, out, err = run_cli(['convert', '-', '-o', self.path('out'), '--network', 'XX'],
                                   data=self.read_bytes('in.gse'))
        self.assertEqual(status, 2, (out, err))
        self.assertEqual(len(err.strip().splitlines()), 1, err)
        self.assertIn('standard input', err)
        self.assertIn('usage: wavecodec convert ', err)
        self.assertEqual(sorted(os.listdir(self.dir)), ['in.gse'])
