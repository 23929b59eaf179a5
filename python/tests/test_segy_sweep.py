"""Every combination of the writer's options read back exactly, traces and headers: sample
formats, byte orders, revisions, extended text headers (counted and open-ended), a gap before
the first trace, one length or varying lengths, and SU."""
import io
import itertools

from .helpers import TempDirCase
from . import segy_model as m
from .test_segy_read import same
from wavecodec import segy
from wavecodec.errors import FormatError

END = 'C 1 ((SEG: EndText))'


class WriterSweep(TempDirCase):
    def traces(self, code, varying, rng):
        lengths = [7, 5, 9, 7] if varying else [7] * 4
        values = [m.random_samples(code if code != 1 else 5, n, rng) for n in lengths]
        if code in (1, 5):
            values = [[m.to_float32(v) for v in t] for t in values]
        return values

    def expected(self, code, values):
        if code == 1:
            return [m.to_float32(m.ibm_value(m.ibm_word(v))) for v in values]
        return m.expected(code, values)

    def test_every_combination_reads_back(self):
        rng = m.rng(23)
        extended_choices = ((), ('C 1 FIRST EXTENDED', 'C 1 SECOND'), ('C 1 OPEN', END))
        checked = 0
        for code, endian, revision, extended, varying, gap in itertools.product(
                sorted(segy.FORMATS), ('big', 'little'), (0, 1, 2), extended_choices,
                (False, True), (False, True)):
            if (varying and revision == 0) or (gap and revision < 2):
                continue   # refused, below
            data = self.traces(code, varying, rng)
            headers = [dict(offset=11 * k - 20, cdp_x=-k, inline=k) for k in range(4)]
            binary = dict(revision_major=revision, job_id=5,
                          fixed_length_traces=0 if varying else 1)
            if extended and extended[-1] == END:
                binary['extended_text_headers'] = -1
            start = 3600 + 3200 * len(extended)
            if gap:
                binary['first_trace_offset'] = start + 480
            out = io.BytesIO()
            self.assertEqual(segy.write(out, data, 500, format=code, endian=endian,
                                        binary_header=binary, trace_headers=headers,
                                        extended_text_headers=list(extended)), 4)
            what = (code, endian, revision, len(extended), varying, gap)
            out.seek(0)
            with segy.open(out) as f:
                self.assertEqual((f.endian, f.format, f.revision, len(f), f.varying),
                                 (endian, code, revision, 4, varying), what)
                self.assertEqual([t[:80].rstrip() for t in f.extended_text_headers],
                                 list(extended), what)
                self.assertEqual(f.binary_header['job_id'], 5)
                for k, (got, values) in enumerate(zip(f.traces(), data)):
                    self.assertTrue(same(list(got), self.expected(code, values)), what)
                    h = f.header(k)
                    self.assertEqual((h['offset'], h['cdp_x'], h['inline'], h['sample_count'],
                                      h['trace_sequence_line']),
                                     (11 * k - 20, -k, k, len(values), k + 1), what)
            checked += 1
        self.assertGreater(checked, 400)

    def test_seismic_unix_combinations(self):
        rng = m.rng(29)
        for endian, varying in itertools.product(('big', 'little'), (False, True)):
            data = [[m.to_float32(v) for v in t] for t in self.traces(5, varying, rng)]
            out = io.BytesIO()
            segy.write_su(out, data, 250, endian=endian,
                          trace_headers=[dict(cdp=k) for k in range(4)])
            out.seek(0)
            with segy.open_su(out) as f:
                self.assertEqual((f.endian, f.varying), (endian, varying))
                self.assertEqual([list(t) for t in f.traces()], data)
                self.assertEqual([f.header(k)['cdp'] for k in range(4)], list(range(4)))

    def test_combinations_that_cannot_be_laid_out_are_refused(self):
        for binary, field in ((dict(revision_major=0, fixed_length_traces=0),
                               'fixed_length_traces'),
                              (dict(revision_major=1, first_trace_offset=4000),
                               'first_trace_offset'),
                              (dict(first_trace_offset=3000, revision_major=2),
                               'first_trace_offset'),
                              (dict(revision_major=3), 'revision_major')):
            with self.assertRaises(FormatError) as e:
                segy.write(io.BytesIO(), [[1.0, 2.0]] * 2, 500, binary_header=binary)
            self.assertIn("'%s'" % field, str(e.exception))
