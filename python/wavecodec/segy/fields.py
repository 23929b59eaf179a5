"""The fields of the SEG-Y binary file header and trace header, as data.

Each field is (name, first byte, width in bytes, kind) with the first byte numbered as in the
standard's tables: 3201-3600 for the binary header (it follows the 3200-byte text header), 1-240
for a trace header. Kinds: 'i' two's complement integer, 'u' unsigned integer, 'f' IEEE float.
Bytes that no field covers (unassigned ranges) are kept as they are when a header is rewritten.
"""
import struct

from ..errors import FormatError

TEXT_HEADER_SIZE = 3200
BINARY_HEADER_SIZE = 400
BINARY_HEADER_START = 3201
TRACE_HEADER_SIZE = 240

BINARY_FIELDS = (
    ('job_id', 3201, 4, 'i'),
    ('line_number', 3205, 4, 'i'),
    ('reel_number', 3209, 4, 'i'),
    ('traces_per_ensemble', 3213, 2, 'i'),
    ('auxiliary_traces_per_ensemble', 3215, 2, 'i'),
    ('sample_interval', 3217, 2, 'u'),
    ('original_sample_interval', 3219, 2, 'u'),
    ('samples_per_trace', 3221, 2, 'u'),
    ('original_samples_per_trace', 3223, 2, 'u'),
    ('format', 3225, 2, 'i'),
    ('ensemble_fold', 3227, 2, 'i'),
    ('trace_sorting', 3229, 2, 'i'),
    ('vertical_sum_code', 3231, 2, 'i'),
    ('sweep_frequency_start', 3233, 2, 'i'),
    ('sweep_frequency_end', 3235, 2, 'i'),
    ('sweep_length', 3237, 2, 'i'),
    ('sweep_type', 3239, 2, 'i'),
    ('sweep_channel', 3241, 2, 'i'),
    ('sweep_taper_start', 3243, 2, 'i'),
    ('sweep_taper_end', 3245, 2, 'i'),
    ('taper_type', 3247, 2, 'i'),
    ('correlated_traces', 3249, 2, 'i'),
    ('binary_gain_recovered', 3251, 2, 'i'),
    ('amplitude_recovery', 3253, 2, 'i'),
    ('measurement_system', 3255, 2, 'i'),
    ('impulse_polarity', 3257, 2, 'i'),
    ('vibratory_polarity', 3259, 2, 'i'),
    # Revision 2 extensions.
    ('extended_traces_per_ensemble', 3261, 4, 'i'),
    ('extended_auxiliary_traces_per_ensemble', 3265, 4, 'i'),
    ('extended_samples_per_trace', 3269, 4, 'i'),
    ('extended_sample_interval', 3273, 8, 'f'),
    ('extended_original_sample_interval', 3281, 8, 'f'),
    ('extended_original_samples_per_trace', 3289, 4, 'i'),
    ('extended_ensemble_fold', 3293, 4, 'i'),
    ('byte_order', 3297, 4, 'u'),
    # One byte each, so free of byte order: revision 1.0 is 0x01 0x00.
    ('revision_major', 3501, 1, 'u'),
    ('revision_minor', 3502, 1, 'u'),
    ('fixed_length_traces', 3503, 2, 'i'),
    ('extended_text_headers', 3505, 2, 'i'),
    # Revision 2.1 splits bytes 3507-3510 in two; revision 2.0 files hold one four-byte count
    # there (the reader takes it so: see layout.py).
    ('additional_trace_headers', 3507, 2, 'u'),
    ('survey_type', 3509, 2, 'i'),
    ('time_basis', 3511, 2, 'i'),
    ('trace_count', 3513, 8, 'u'),
    ('first_trace_offset', 3521, 8, 'u'),
    ('trailer_records', 3529, 4, 'i'),
)

TRACE_FIELDS = (
    ('trace_sequence_line', 1, 4, 'i'),
    ('trace_sequence_file', 5, 4, 'i'),
    ('field_record', 9, 4, 'i'),
    ('trace_number', 13, 4, 'i'),
    ('energy_source_point', 17, 4, 'i'),
    ('cdp', 21, 4, 'i'),
    ('cdp_trace', 25, 4, 'i'),
    ('trace_identification', 29, 2, 'i'),
    ('vertically_summed_traces', 31, 2, 'i'),
    ('horizontally_stacked_traces', 33, 2, 'i'),
    ('data_use', 35, 2, 'i'),
    ('offset', 37, 4, 'i'),
    ('receiver_elevation', 41, 4, 'i'),
    ('source_surface_elevation', 45, 4, 'i'),
    ('source_depth', 49, 4, 'i'),
    ('receiver_datum_elevation', 53, 4, 'i'),
    ('source_datum_elevation', 57, 4, 'i'),
    ('source_water_depth', 61, 4, 'i'),
    ('receiver_water_depth', 65, 4, 'i'),
    ('elevation_scalar', 69, 2, 'i'),
    ('coordinate_scalar', 71, 2, 'i'),
    ('source_x', 73, 4, 'i'),
    ('source_y', 77, 4, 'i'),
    ('group_x', 81, 4, 'i'),
    ('group_y', 85, 4, 'i'),
    ('coordinate_units', 89, 2, 'i'),
    ('weathering_velocity', 91, 2, 'i'),
    ('subweathering_velocity', 93, 2, 'i'),
    ('source_uphole_time', 95, 2, 'i'),
    ('group_uphole_time', 97, 2, 'i'),
    ('source_static_correction', 99, 2, 'i'),
    ('group_static_correction', 101, 2, 'i'),
    ('total_static', 103, 2, 'i'),
    ('lag_time_a', 105, 2, 'i'),
    ('lag_time_b', 107, 2, 'i'),
    ('delay_recording_time', 109, 2, 'i'),
    ('mute_time_start', 111, 2, 'i'),
    ('mute_time_end', 113, 2, 'i'),
    ('sample_count', 115, 2, 'u'),
    ('sample_interval', 117, 2, 'u'),
    ('gain_type', 119, 2, 'i'),
    ('instrument_gain_constant', 121, 2, 'i'),
    ('instrument_initial_gain', 123, 2, 'i'),
    ('correlated', 125, 2, 'i'),
    ('sweep_frequency_start', 127, 2, 'i'),
    ('sweep_frequency_end', 129, 2, 'i'),
    ('sweep_length', 131, 2, 'i'),
    ('sweep_type', 133, 2, 'i'),
    ('sweep_taper_start', 135, 2, 'i'),
    ('sweep_taper_end', 137, 2, 'i'),
    ('taper_type', 139, 2, 'i'),
    ('alias_filter_frequency', 141, 2, 'i'),
    ('alias_filter_slope', 143, 2, 'i'),
    ('notch_filter_frequency', 145, 2, 'i'),
    ('notch_filter_slope', 147, 2, 'i'),
    ('low_cut_frequency', 149, 2, 'i'),
    ('high_cut_frequency', 151, 2, 'i'),
    ('low_cut_slope', 153, 2, 'i'),
    ('high_cut_slope', 155, 2, 'i'),
    ('year', 157, 2, 'i'),
    ('day_of_year', 159, 2, 'i'),
    ('hour', 161, 2, 'i'),
    ('minute', 163, 2, 'i'),
    ('second', 165, 2, 'i'),
    ('time_basis', 167, 2, 'i'),
    ('trace_weighting_factor', 169, 2, 'i'),
    ('group_number_roll_switch', 171, 2, 'i'),
    ('group_number_first_trace', 173, 2, 'i'),
    ('group_number_last_trace', 175, 2, 'i'),
    ('gap_size', 177, 2, 'i'),
    ('over_travel', 179, 2, 'i'),
    ('cdp_x', 181, 4, 'i'),
    ('cdp_y', 185, 4, 'i'),
    ('inline', 189, 4, 'i'),
    ('crossline', 193, 4, 'i'),
    ('shotpoint', 197, 4, 'i'),
    ('shotpoint_scalar', 201, 2, 'i'),
    ('trace_value_unit', 203, 2, 'i'),
    ('transduction_constant_mantissa', 205, 4, 'i'),
    ('transduction_constant_exponent', 209, 2, 'i'),
    ('transduction_unit', 211, 2, 'i'),
    ('device_trace_id', 213, 2, 'i'),
    ('time_scalar', 215, 2, 'i'),
    ('source_type_orientation', 217, 2, 'i'),
    ('source_energy_direction_vertical', 219, 2, 'i'),
    ('source_energy_direction_crossline', 221, 2, 'i'),
    ('source_energy_direction_inline', 223, 2, 'i'),
    ('source_measurement_mantissa', 225, 4, 'i'),
    ('source_measurement_exponent', 229, 2, 'i'),
    ('source_measurement_unit', 231, 2, 'i'),
)

# Trace header extension 1 (revision 2.1): the first additional 240-byte trace header, where the
# binary header's additional_trace_headers is at least 1 and its bytes 233-240 hold the name
# 'SEG00001' (a first additional header of another name is proprietary: bytes only).
EXTENSION1_FIELDS = (
    ('trace_sequence_line', 1, 8, 'u'),
    ('trace_sequence_file', 9, 8, 'u'),
    ('field_record', 17, 8, 'i'),
    ('ensemble_number', 25, 8, 'i'),
    ('receiver_elevation', 33, 8, 'f'),
    ('receiver_depth', 41, 8, 'f'),
    ('source_surface_elevation', 49, 8, 'f'),
    ('source_depth', 57, 8, 'f'),
    ('receiver_datum_elevation', 65, 8, 'f'),
    ('source_datum_elevation', 73, 8, 'f'),
    ('source_water_depth', 81, 8, 'f'),
    ('receiver_water_depth', 89, 8, 'f'),
    ('source_x', 97, 8, 'f'),
    ('source_y', 105, 8, 'f'),
    ('group_x', 113, 8, 'f'),
    ('group_y', 121, 8, 'f'),
    ('offset', 129, 8, 'f'),
    ('sample_count', 137, 4, 'u'),
    ('nanoseconds', 141, 4, 'i'),
    ('sample_interval', 145, 8, 'f'),
    ('cable_number', 153, 4, 'i'),
    ('additional_trace_headers', 157, 2, 'u'),
    ('last_trace', 159, 2, 'i'),
    ('cdp_x', 161, 8, 'f'),
    ('cdp_y', 169, 8, 'f'),
)

EXTENSION1_NAME = b'SEG00001'
NAME_AT = 232

_CODES = {(1, 'i'): 'b', (1, 'u'): 'B', (2, 'i'): 'h', (2, 'u'): 'H', (4, 'i'): 'i',
          (4, 'u'): 'I', (8, 'i'): 'q', (8, 'u'): 'Q', (4, 'f'): 'f', (8, 'f'): 'd'}
_ORDER = {'big': '>', 'little': '<'}


class HeaderLayout(object):
    """One header's fields with struct codecs for both byte orders: `decode(raw, endian)` gives
    the dict of every field; `encode(values, endian, base)` writes fields into a copy of `base`."""

    def __init__(self, fields, size, first, what):
        self.fields = fields
        self.size = size
        self.first = first
        self.what = what
        self.by_name = dict((f[0], f) for f in fields)
        self.names = tuple(f[0] for f in fields)
        layout = []
        at = first
        for name, start, width, kind in fields:
            if start > at:
                layout.append('%dx' % (start - at))
            layout.append(_CODES[width, kind])
            at = start + width
        self._whole = dict((e, struct.Struct(o + ''.join(layout))) for e, o in _ORDER.items())
        self._single = dict(((e, f[0]), struct.Struct(o + _CODES[f[2], f[3]]))
                            for e, o in _ORDER.items() for f in fields)
        self._plain = dict(((e, f[0]), (self._single[e, f[0]], f[1] - first))
                           for e in _ORDER for f in fields if f[3] != 'f')

    def decode(self, raw, endian):
        """The fields of the header bytes `raw` (at least `size` long) as a dict."""
        return dict(zip(self.names, self._whole[endian].unpack_from(raw, 0)))

    def swap(self, raw, source, target):
        """Header bytes `raw` of byte order `source` in byte order `target`: every field
        rewritten; bytes no field covers (names, unassigned ranges) kept as they are."""
        raw = bytes(raw)
        if source == target:
            return raw
        return self.encode(self.decode(raw, source), target, raw)

    def field_offset(self, name):
        return self.by_name[name][1] - self.first

    def describe(self, name):
        _, start, width, _ = self.by_name[name]
        return "%s field '%s' (bytes %d-%d)" % (self.what, name, start, start + width - 1)

    def encode(self, values, endian, base=None):
        """Header bytes: `base` (or zeros) with the fields named in `values` written over it.
        Unknown names and values that do not fit their field are a FormatError naming it."""
        raw = bytearray(base if base is not None else self.size)
        if len(raw) != self.size:
            raise FormatError('a %s must be %d bytes, not %d' % (self.what, self.size, len(raw)))
        try:
            # Plain integers into integer fields: packed at once (the common case).
            for name, value in values.items():
                packer, at = self._plain[endian, name]
                if type(value) is not int:
                    raise KeyError(name)
                packer.pack_into(raw, at, value)
            return bytes(raw)
        except (KeyError, struct.error):
            pass  # the careful road below names the field and the value
        for name in sorted(values):
            if name not in self.by_name:
                raise FormatError("unknown %s field '%s' (known: %s)"
                                  % (self.what, name, ', '.join(self.names)))
            value = values[name]
            kind = self.by_name[name][3]
            try:
                if kind == 'f':
                    value = float(value)
                elif int(value) != value:
                    raise ValueError('not a whole number')
                else:
                    value = int(value)
                self._single[endian, name].pack_into(raw, self.field_offset(name), value)
            except (struct.error, ValueError, TypeError, OverflowError) as e:
                raise FormatError('%s cannot hold %r: %s' % (self.describe(name), values[name], e))
        return bytes(raw)


BINARY = HeaderLayout(BINARY_FIELDS, BINARY_HEADER_SIZE, BINARY_HEADER_START, 'binary header')
TRACE = HeaderLayout(TRACE_FIELDS, TRACE_HEADER_SIZE, 1, 'trace header')
EXTENSION1 = HeaderLayout(EXTENSION1_FIELDS, TRACE_HEADER_SIZE, 1, 'trace header extension 1')
