"""Writes the bundled examples, the same bytes on every run:

  event.gse   three components (HHZ, HHN, HHE) of a synthetic 3-minute recording at 100 Hz:
              background noise, a P arrival at 60 s and a stronger S arrival at 68 s;
  event.ibm   the first 2000 samples of HHZ around the P arrival, scaled to ground velocity
              in nm/s, as big-endian IBM single-precision words.

Usage: python examples/make_examples.py [OUTDIR]   (needs the built libwavecodec)
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
    print('wrote %s (%d waveforms) and %s (%d words)' % (gse, len(waves), ibm, len(velocity)))


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else HERE)
