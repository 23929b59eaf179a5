"""Writes the bundled examples, the same bytes on every run:

  event.gse   three components (HHZ, HHN, HHE) of a synthetic 3-minute recording at 100 Hz:
              background noise, a P arrival at 60 s and a stronger S arrival at 68 s;
  event.ibm   the first 2000 samples of HHZ around the P arrival, scaled to ground velocity
              in nm/s, as big-endian IBM single-precision words;
  shot.sgy    a synthetic shot gather as SEG-Y (IBM floats, big-endian, EBCDIC text header):
              48 traces of 1 s at 2 ms, offsets 50 to 2400 m, a direct wave, two reflections
              (hyperbolas) and noise.

Usage: python examples/make_examples.py [OUTDIR]   (needs the built libraries)
"""
import math
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'python'))

import wavecodec  # noqa: E402

RATE = 100.0
SECONDS = 180
P_ARRIVAL, S_ARRIVAL = 60.0, 68.0


class Noise(object):
    """A small deterministic generator (xorshift32), identical under every Python version."""

    def __init__(self, seed):
        self.state = seed & 0xffffffff or 1

    def uniform(self):
        x = self.state
        x ^= (x << 13) & 0xffffffff
        x ^= x >> 17
        x ^= (x << 5) & 0xffffffff
        self.state = x
        return x / 4294967296.0

    def normal(self):
        # Sum of twelve uniforms: close enough to Gaussian for background noise.
        return sum(self.uniform() for _ in range(12)) - 6.0


def wavelet(t, onset, freq, amplitude, decay, phase):
    if t < onset:
        return 0.0
    dt = t - onset
    rise = 1.0 - math.exp(-dt * 8.0)
    return amplitude * rise * math.exp(-dt / decay) * math.sin(2 * math.pi * freq * dt + phase)


def component(seed, p_amp, s_amp):
    noise = Noise(seed)
    samples = []
    smooth = 0.0
    for i in range(int(SECONDS * RATE)):
        t = i / RATE
        # Background: coloured noise plus a 0.2 Hz microseism.
        smooth = 0.9 * smooth + 0.1 * noise.normal()
        value = 900.0 * smooth + 300.0 * math.sin(2 * math.pi * 0.2 * t + seed)
        value += wavelet(t, P_ARRIVAL, 4.0, p_amp, 3.0, 0.3 * seed)
        value += wavelet(t, P_ARRIVAL + 0.35, 6.5, 0.4 * p_amp, 2.0, 1.0)
        value += wavelet(t, S_ARRIVAL, 1.8, s_amp, 9.0, 0.7 * seed)
        value += wavelet(t, S_ARRIVAL + 1.1, 2.6, 0.5 * s_amp, 6.0, 2.0)
        samples.append(int(round(value)))
    return samples


def ibm_word(value):
    """The IBM single-precision word nearest below `value`'s magnitude (truncated fraction)."""
    if value == 0:
        return 0
    sign = 0x80000000 if value < 0 else 0
    magnitude = abs(value)
    exponent = 64
    while magnitude >= 1.0:
        magnitude /= 16.0
        exponent += 1
    while magnitude < 1.0 / 16:
        magnitude *= 16.0
        exponent -= 1
    return sign | (exponent << 24) | int(magnitude * (1 << 24))


def ricker(t, freq):
    a = (math.pi * freq * t) ** 2
    return (1.0 - 2.0 * a) * math.exp(-a)


def shot_gather(traces=48, samples=501, interval=0.002):
    """Traces and trace headers of a shot gather: direct wave at 1800 m/s, reflections at
    0.35 s and 0.62 s two-way time (stacking velocities 2000 and 2600 m/s)."""
    noise = Noise(99)
    data, headers = [], []
    for k in range(traces):
        offset = 50 * (k + 1)
        events = [(offset / 1800.0, 0.6), (math.sqrt(0.35 ** 2 + (offset / 2000.0) ** 2), 1.0),
                  (math.sqrt(0.62 ** 2 + (offset / 2600.0) ** 2), -0.7)]
        spread = 1.0 / (1.0 + offset / 1000.0)
        trace = []
        for i in range(samples):
            t = i * interval
            value = sum(amp * ricker(t - t0, 25.0) for t0, amp in events) * spread
            trace.append(1000.0 * (value + 0.02 * noise.normal()))
        data.append(trace)
        headers.append(dict(field_record=1, trace_number=k + 1, cdp=k + 1, offset=offset,
                            source_x=0, group_x=offset, cdp_x=offset // 2, coordinate_scalar=1,
                            trace_identification=1))
    return data, headers


def write_shot(path):
    from wavecodec import segy
    data, headers = shot_gather()
    lines = ['SYNTHETIC SHOT GATHER WRITTEN BY WAVECODEC EXAMPLES/MAKE_EXAMPLES.PY',
             'LINE DEMO-1  SHOT 1  48 CHANNELS  OFFSETS 50-2400 M (50 M STEP)',
             'SAMPLE INTERVAL 2 MS  501 SAMPLES  RECORD LENGTH 1 S',
             'EVENTS: DIRECT WAVE 1800 M/S, REFLECTIONS AT 0.35 S AND 0.62 S',
             'SAMPLE FORMAT 1 (IBM FLOAT)  BIG-ENDIAN',
             'SEG Y REV1']
    segy.write(path, data, 2000, format=1, text_header=segy.text.default(lines),
               binary_header=dict(job_id=1, line_number=1, traces_per_ensemble=len(data),
                                  trace_sorting=1, measurement_system=1),
               trace_headers=headers)
    return len(data)


def main(outdir):
    header = dict(station='DEMO', channel='HHZ', year=2024, month=5, day=17, hour=12,
                  minute=0, second=0.0, sample_rate=RATE, calibration=0.5,
                  calibration_period=1.0, instrument_type='SYNTH')
    parts = [('HHZ', 1, 60000.0, 40000.0, -1.0, 0.0),
             ('HHN', 2, 20000.0, 110000.0, 0.0, 90.0),
             ('HHE', 3, 15000.0, 90000.0, 90.0, 90.0)]
    waves = []
    for channel, seed, p_amp, s_amp, hang, vang in parts:
        h = dict(header, channel=channel, horizontal_angle=hang, vertical_angle=vang)
        waves.append(wavecodec.Waveform(h, component(seed, p_amp, s_amp)))
    gse = os.path.join(outdir, 'event.gse')
    wavecodec.write(gse, waves)

    start = int((P_ARRIVAL - 5) * RATE)
    velocity = [v * header['calibration'] for v in waves[0].samples[start:start + 2000]]
    ibm = os.path.join(outdir, 'event.ibm')
    with open(ibm + '.part', 'wb') as f:
        f.write(struct.pack('>%dI' % len(velocity), *[ibm_word(v) for v in velocity]))
    os.rename(ibm + '.part', ibm)
    shot = os.path.join(outdir, 'shot.sgy')
    count = write_shot(shot)
    print('wrote %s (%d waveforms), %s (%d words) and %s (%d traces)'
          % (gse, len(waves), ibm, len(velocity), shot, count))


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else HERE)
