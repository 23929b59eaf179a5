"""The writer's quick road through a header (checked fields remembered, the usual time taken in
a few steps, the float texts of a WID2 line looked up at once) against the full checks and the
field-by-field line: the same dict, the same line, the same refusal, value by value."""
import random
import unittest

from wavecodec.errors import FormatError
from wavecodec.gse2 import columns, complete, wid2
from wavecodec.gse2.fields import WID2_TABLE


class Checked(dict):
    """A header that complete() takes the full road with (the quick one takes plain dicts)."""


def wid2_by_table(full, sample_count, data_format):
    """The WID2 line printed field by field through the table: the reference for format_wid2."""
    values = dict(full, sample_count=sample_count, data_format=data_format)
    fields = []
    for name, first, last, kind, fmt, _ in WID2_TABLE:
        if kind == 'float' and name != 'second':
            fields.append(columns.fit_number('WID2', name, values[name], last - first + 1, fmt))
        else:
            fields.append(values[name])
    return (wid2.WID2_FORMAT % tuple(fields)).encode('ascii')


def outcome(header):
    try:
        full = complete.complete(header)
    except FormatError as e:
        return 'refused', str(e)
    # Types as well as values: 12 and 12.0 print alike but are not the same header.
    return [(k, type(v), v) for k, v in full.items()], [
        wid2.format_wid2(full, 7, 'CM6'), wid2_by_table(full, 7, 'CM6')]


BASE = dict(station='ABC', channel='BHZ', year=2024, month=2, day=3, hour=4, minute=5,
            second=6.0, sample_rate=40.0)

VARIANTS = [
    {}, {'second': 12.345}, {'second': 12.3456}, {'second': 0.0005}, {'second': 0.0015},
    {'second': 12.3445}, {'second': 59.9989}, {'second': 59.999}, {'second': 59.9996},
    {'second': 7}, {'second': 1e-05}, {'second': -0.0}, {'second': 60.0},
    {'hour': 23, 'minute': 59, 'second': 60.5}, {'day': 28}, {'day': 29}, {'day': 30},
    {'month': 2, 'day': 29, 'year': 2023}, {'day': 31, 'month': 4}, {'year': 9999, 'month': 12,
                                                                     'day': 31, 'hour': 23,
                                                                     'minute': 59,
                                                                     'second': 59.9999},
    {'year': 0}, {'month': 13}, {'hour': 24}, {'minute': 60}, {'year': 2024.0},
    {'hour': True}, {'second': '1'}, {'sample_rate': 0.0}, {'sample_rate': -1.0},
    {'sample_rate': 1e12}, {'sample_rate': 1234.5678912}, {'sample_rate': 20},
    {'calibration': 0.0}, {'calibration': -0.0}, {'calibration': 1}, {'calibration': 1.0e-7},
    {'horizontal_angle': 0.0}, {'horizontal_angle': -0.0}, {'vertical_angle': 90},
    {'calibration_period': 12345678.0}, {'station': 'TOOLONG'}, {'station': ' AB'},
    {'station': u'\xe9'}, {'channel': ''}, {'aux_id': 'X1'}, {'instrument_type': 'STS-2'},
    {'sample_count': 5, 'data_format': 'INT'}, {'nonsense': 1}, {'station': None},
    {'sample_rate': float('nan')}, {'sample_rate': float('inf')}, {'year': 10 ** 30},
]


class QuickRoad(unittest.TestCase):
    def check(self, header):
        quick = outcome(dict(header))
        again = outcome(dict(header))  # now with the fields remembered
        full = outcome(Checked(header))
        self.assertEqual(quick, full, header)
        self.assertEqual(again, full, header)
        if quick[0] != 'refused':
            self.assertEqual(quick[1][0], quick[1][1], header)

    def test_edge_headers_as_the_full_checks_take_them(self):
        for variant in VARIANTS:
            header = dict(BASE, **variant)
            self.check(header)
        missing = dict(BASE)
        del missing['sample_rate']
        self.check(missing)

    def test_random_times_and_values(self):
        rng = random.Random(20261209)
        for _ in range(3000):
            header = dict(BASE, year=rng.randint(1, 9999), month=rng.randint(1, 12),
                          day=rng.randint(1, 31), hour=rng.randint(0, 23),
                          minute=rng.randint(0, 59))
            kind = rng.randrange(4)
            if kind == 0:
                header['second'] = rng.randint(0, 59999) / 1000.0
            elif kind == 1:
                header['second'] = rng.randint(0, 599999) / 10000.0
            elif kind == 2:
                header['second'] = rng.uniform(0, 60)
            else:
                header['second'] = rng.randint(0, 59)
            header['sample_rate'] = rng.choice([1.0, 40.0, 0.1, 1234.567891, 2e-6, 100])
            header['calibration'] = rng.choice([1.0, 0.5e-9, 123456.0, -0.0, 3])
            self.check(header)


if __name__ == '__main__':
    unittest.main()
