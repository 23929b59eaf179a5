"""Writing Waveforms as miniSEED 2 data records (packed by libmseed through libmseedio)."""
from array import array

from .. import Waveform, safeio
from ..compat import integer_types
from ..errors import FormatError
from . import codes, shim

RECORD_LENGTHS = tuple(1 << k for k in range(8, 17))
# Sequence numbers have six digits and start again at 1.
_SEQUENCE_END = 1000000


def _rate(wave):
    """The waveform's rate as the records give it back: exact, or (with blockette 100) a float
    whose reading equals the rate at GSE2's six decimals. FormatError otherwise."""
    rate = wave.sample_rate
    if isinstance(rate, bool) or not isinstance(rate, integer_types + (float,)) or not rate > 0 \
            or rate > 32767 or rate != rate:
        raise FormatError('sample rate %r is not a number above 0 and at most 32767' % (rate,))
    rate = float(rate)
    exact, factor, multiplier = shim.rate_fields(rate)
    if exact:
        return rate
    reading = codes.single_precision_reading(codes.float32(rate))
    if reading != rate and '%.6f' % reading != '%.6f' % rate:
        raise FormatError(
            'sample rate %r cannot be written exactly: the factor and multiplier (%d, %d) '
            'give %r and blockette 100 (a single-precision float) gives %r' % (
                rate, factor, multiplier, _nominal(factor, multiplier), reading))
    return rate


def _nominal(factor, multiplier):
    if factor > 0 and multiplier > 0:
        return float(factor * multiplier)
    if factor > 0 > multiplier:
        return -float(factor) / multiplier
    if factor < 0 < multiplier:
        return -float(multiplier) / factor
    if factor < 0 and multiplier < 0:
        return 1.0 / (factor * multiplier)
    return 0.0


def _int32(samples, where):
    """Samples the caller put in place of the waveform's array, as array('i')."""
    try:
        return array('i', samples)
    except (OverflowError, TypeError) as e:
        raise FormatError('%s: samples must be 32-bit integers (%s)' % (where, e))


def _stream(wave, network, location, quality, record_length, encoding):
    stream = shim.Stream()
    if network is None:
        network = (wave.sta2 or {}).get('network')
        if not network:
            raise FormatError('no network code: the waveform has no STA2 network; give one '
                              '(network=..., --network)')
    stream.network = codes.check_code('network', network, 2).encode('ascii')
    stream.station = codes.check_code('station', wave.station, 5).encode('ascii')
    stream.channel = codes.check_code('channel', wave.channel, 3).encode('ascii')
    stream.location = location.encode('ascii')
    stream.quality = quality.encode('ascii')
    start = codes.start_of(wave)
    if start is None:
        raise FormatError('the header gives no valid start time')
    stream.start = codes.to_microseconds(start)
    stream.rate = _rate(wave)
    stream.record_length = record_length
    stream.encoding = encoding
    return stream


def _options(record_length, encoding, location, quality):
    if record_length not in RECORD_LENGTHS or isinstance(record_length, bool):
        raise FormatError('record length %r is not a power of two from 256 to 65536'
                          % (record_length,))
    name = str(encoding).lower()
    if name not in shim.ENCODINGS:
        raise FormatError('encoding %r is not one of %s' % (encoding, ', '.join(
            sorted(shim.ENCODINGS))))
    location = codes.check_code('location', '' if location is None else location, 2, True)
    if quality not in codes.QUALITIES:
        raise FormatError('quality %r is not one of %s' % (quality, ', '.join(codes.QUALITIES)))
    return shim.ENCODINGS[name], location


class Packed(object):
    """The records of several waveforms: `data` (bytes), `records`, `samples`, `waveforms`."""

    def __init__(self, data, records, samples, waveforms):
        self.data = data
        self.records = records
        self.samples = samples
        self.waveforms = waveforms


def to_records(waveforms, record_length=4096, encoding='steim2', network=None, location=None,
               quality='D', allow_errors=False, name='<bytes>'):
    """The miniSEED records of `waveforms` (see write) as a Packed."""
    code, location = _options(record_length, encoding, location, quality)
    if isinstance(waveforms, Waveform):
        waveforms = [waveforms]
    parts = []
    sequence = 1
    total_records = total_samples = count = 0
    for index, wave in enumerate(waveforms, 1):
        if not isinstance(wave, Waveform):
            raise FormatError('%s: item %d is not a Waveform' % (name, index))
        where = '%s: %s' % (name, codes.describe(wave, index))
        if wave.error is not None and not allow_errors:
            raise FormatError('%s was read with a fault (%s); write(..., allow_errors=True) '
                              'writes it anyway' % (where, wave.error))
        if getattr(wave, 'headers_only', False):
            raise FormatError('%s was read with headers_only=True and holds no samples' % where)
        samples = wave.samples
        if not (isinstance(samples, array) and samples.typecode == 'i'):
            samples = _int32(samples, where)
        if not len(samples):
            raise FormatError('%s has no samples: a miniSEED data record needs at least one'
                              % where)
        try:
            stream = _stream(wave, network, location, quality, record_length, code)
            data, records = shim.pack(stream, samples, sequence)
        except FormatError as e:
            raise FormatError('%s: %s' % (where, e))
        parts.append(data)
        sequence = (sequence + records - 1) % (_SEQUENCE_END - 1) + 1
        total_records += records
        total_samples += len(samples)
        count += 1
    return Packed(b''.join(parts), total_records, total_samples, count)


def write(target, waveforms, record_length=4096, encoding='steim2', network=None,
          location=None, quality='D', allow_errors=False):
    """Writes `waveforms` (Waveform objects) as miniSEED 2 data records to `target`: a path
    ('-' is standard output), or a binary file object (one write call).

    A path gets the records complete or not at all (through the package's safe output layer).
    record_length: bytes per record, a power of two from 256 to 65536.
    encoding: 'steim2' (differences up to 30 bits), 'steim1' (up to 32 bits) or 'int32'; a
    waveform with a difference the encoding cannot hold is refused, naming the sample.
    network: the network code for every waveform; None takes each waveform's STA2 network and
    refuses a waveform without one. location: '' by default. quality: 'D', 'R', 'Q' or 'M'.
    Codes longer than the records hold (station 5, channel 3, network 2, location 2) are
    refused. Rates that the factor and multiplier cannot hold exactly get blockette 100.
    allow_errors: write waveforms whose `.error` is set (read with strict=False).
    Returns the number of records written.
    """
    name = getattr(target, 'name', '<stream>') if hasattr(target, 'write') else target
    packed = to_records(waveforms, record_length, encoding, network, location, quality,
                        allow_errors, name)
    if hasattr(target, 'write'):
        target.write(packed.data)
    else:
        safeio.write_bytes(target, packed.data)
    return packed.records
