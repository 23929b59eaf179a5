"""Writing Waveforms as miniSEED 2 data records (packed by libmseed through libmseedio)."""
from array import array

from .. import Waveform, safeio
from ..compat import integer_types
from ..errors import FormatError
from . import codes, shim

RECORD_LENGTHS = tuple(1 << k for k in range(7, 17))
# Sequence numbers have six digits and start again at 1.
_SEQUENCE_END = 1000000


def _rate(wave):
    """The rate the records are written with: the waveform's when the factor and multiplier
    hold it exactly, or when blockette 100 (a single-precision float) reads back as it; else
    the factor and multiplier's when they agree with the waveform's at GSE2's six decimals
    (333.333333 read from GSE2 is written 1000/3); else the waveform's with blockette 100 when
    its reading agrees to six decimals. FormatError otherwise."""
    rate = wave.sample_rate
    if isinstance(rate, bool) or not isinstance(rate, integer_types + (float,)) or \
            not rate > 0 or rate == float('inf'):
        raise FormatError('sample rate %r is not a number above 0' % (rate,))
    rate = float(rate)
    exact, factor, multiplier = shim.rate_fields(rate)
    reading = codes.single_precision_reading(codes.float32(rate))
    if exact or reading == rate:
        return rate
    nominal = _nominal(factor, multiplier)
    if '%.6f' % nominal == '%.6f' % rate and shim.rate_fields(nominal)[0]:
        return nominal
    if '%.6f' % reading != '%.6f' % rate:
        raise FormatError(
            'sample rate %r cannot be written exactly: the factor and multiplier (%d, %d) '
            'give %r and blockette 100 (a single-precision float) gives %r' % (
                rate, factor, multiplier, nominal, reading))
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


def location_of(wave, location):
    """The location code of a waveform: `location` when given, else its WID2 auxiliary id when
    that is a location code (at most 2 printable characters without blanks; mseed-to-gse2
    writes the location there), else ''."""
    if location is not None:
        return location
    aux = wave.header.get('aux_id') or ''
    try:
        return codes.check_code('location', aux, True)
    except FormatError:
        return ''


def _stream(wave, network, location, quality, record_length, encoding, start):
    stream = shim.Stream()
    if network is None:
        network = (wave.sta2 or {}).get('network')
        if not network:
            raise FormatError('no network code: the waveform has no STA2 network; give one '
                              'with network= (--network on the command line)')
    stream.network = codes.check_code('network', network).encode('ascii')
    stream.station = codes.check_code('station', wave.station).encode('ascii')
    stream.channel = codes.check_code('channel', wave.channel).encode('ascii')
    stream.location = location_of(wave, location).encode('ascii')
    stream.quality = quality.encode('ascii')
    stream.start = start
    stream.rate = _rate(wave)
    stream.record_length = record_length
    stream.encoding = encoding
    return stream


def _options(record_length, encoding, location, quality):
    if record_length not in RECORD_LENGTHS or isinstance(record_length, bool):
        raise FormatError('record length %r is not a power of two from 128 to 65536'
                          % (record_length,))
    name = str(encoding).lower()
    if name not in shim.ENCODINGS:
        raise FormatError('encoding %r is not one of %s' % (encoding, ', '.join(
            sorted(shim.ENCODINGS))))
    if location is not None:
        location = codes.check_code('location', location, True)
    if quality not in codes.QUALITIES:
        raise FormatError('quality %r is not one of %s' % (quality, ', '.join(codes.QUALITIES)))
    return shim.ENCODINGS[name], location


class Packed(object):
    """The records of several waveforms: `data` (bytes-like), `records`, `samples`,
    `waveforms`; `outside`: waveforms the selection left out."""

    def __init__(self, data, records, samples, waveforms, outside=0):
        self.data = data
        self.records = records
        self.samples = samples
        self.waveforms = waveforms
        self.outside = outside


def _selected(wave, selection, network, location, where):
    """(start in microseconds, first, stop) of the samples of `wave` the selection keeps, or
    None when it keeps none."""
    start = codes.start_of(wave)
    if start is None:
        raise FormatError('%s: the header gives no valid start time' % where)
    start = codes.to_microseconds(start)
    if selection is None:
        return start, 0, None
    net = network if network is not None else (wave.sta2 or {}).get('network')
    if not selection.matches(net, wave.station, location_of(wave, location), wave.channel):
        return None
    rate = wave.sample_rate
    if selection.start is None and selection.end is None or \
            not isinstance(rate, integer_types + (float,)) or not rate > 0:
        return start, 0, None
    first, stop, start = selection.cut(start, float(rate), len(wave.samples))
    return (start, first, stop) if first < stop else None


class _Where(object):
    """'NAME: waveform N (STATION CHANNEL START)' for messages, made only when one is (a
    tenth of a millisecond a waveform otherwise)."""
    __slots__ = ('name', 'wave', 'index')

    def __init__(self, name, wave, index):
        self.name, self.wave, self.index = name, wave, index

    def __str__(self):
        return '%s: %s' % (self.name, codes.describe(self.wave, self.index))


def to_records(waveforms, record_length=4096, encoding='steim2', network=None, location=None,
               quality='D', allow_errors=False, name='<bytes>', selection=None):
    """The miniSEED records of `waveforms` (see write) as a Packed."""
    code, location = _options(record_length, encoding, location, quality)
    if isinstance(waveforms, Waveform):
        waveforms = [waveforms]
    parts = []
    sequence = 1
    total_records = total_samples = count = outside = 0
    for index, wave in enumerate(waveforms, 1):
        if not isinstance(wave, Waveform):
            raise FormatError('%s: item %d is not a Waveform' % (name, index))
        where = _Where(name, wave, index)
        if wave.error is not None and not allow_errors:
            raise FormatError('%s was read with a fault (%s); --lenient writes it anyway'
                              % (where, wave.error))
        if getattr(wave, 'headers_only', False):
            raise FormatError('%s was read with headers_only=True and holds no samples' % where)
        kept = _selected(wave, selection, network, location, where)
        if kept is None:
            outside += 1
            continue
        start, first, stop = kept
        samples = wave.samples
        if not (isinstance(samples, array) and samples.typecode == 'i'):
            samples = _int32(samples, where)
        if first or stop is not None:
            samples = samples[first:stop]
        if not len(samples):
            raise FormatError('%s has no samples: a miniSEED data record needs at least one'
                              % where)
        try:
            stream = _stream(wave, network, location, quality, record_length, code, start)
            data, records = shim.pack(stream, samples, sequence)
        except FormatError as e:
            raise FormatError('%s: %s' % (where, e))
        parts.append(data)
        sequence = (sequence + records - 1) % (_SEQUENCE_END - 1) + 1
        total_records += records
        total_samples += len(samples)
        count += 1
    if not parts:
        raise FormatError('%s: no waveforms to write%s' % (
            name, ' within the selection' if outside else ''))
    data = parts[0] if len(parts) == 1 else bytearray().join(parts)
    return Packed(data, total_records, total_samples, count, outside)


def write(target, waveforms, record_length=4096, encoding='steim2', network=None,
          location=None, quality='D', allow_errors=False, selection=None):
    """Writes `waveforms` (Waveform objects) as miniSEED 2 data records to `target`: a path
    ('-' is standard output), or a binary file object (one write call).

    A path gets the records complete or not at all (through the package's safe output layer).
    record_length: bytes per record, a power of two from 128 to 65536; no record holds more
    than 65535 samples (its header's count is 16 bits).
    encoding: 'steim2' (differences up to 30 bits), 'steim1' (up to 32 bits) or 'int32'; a
    waveform with a difference the encoding cannot hold is refused, naming the sample.
    network: the network code for every waveform; None takes each waveform's STA2 network and
    refuses a waveform without one. location: the location code for every waveform; None takes
    each waveform's WID2 auxiliary id when it is a location code (at most 2 printable
    characters without blanks), else ''. quality: 'D', 'R', 'Q' or 'M'.
    Codes longer than the records hold (station 5, channel 3, network 2, location 2) are
    refused. Rates that the factor and multiplier cannot hold exactly get blockette 100;
    records whose start falls between tenths of a millisecond get blockette 1001.
    allow_errors: write waveforms whose `.error` is set (read with strict=False).
    selection: a mseed.select.Selection: waveforms whose codes it does not match are left
    out, the others cut to its time window.
    Returns the number of records written.
    """
    if hasattr(target, 'write'):
        name = getattr(target, 'name', None)
        name = name if isinstance(name, str) else 'the file object'
    else:
        name = target
    packed = to_records(waveforms, record_length, encoding, network, location, quality,
                        allow_errors, name, selection)
    if hasattr(target, 'write'):
        target.write(packed.data)
    else:
        safeio.write_bytes(target, packed.data)
    return packed.records
