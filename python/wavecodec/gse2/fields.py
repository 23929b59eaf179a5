"""The field tables of the GSE2 lines this package reads by field: WID2, and the STA2, EID2 and
BEA2 lines of a waveform's block. Tables only: reading and printing by them are wid2.py's,
block.py's and columns.py's; the checks of a header to be written are complete.py's.

Columns are 1-based and inclusive, as the line layouts count them; the keyword takes columns 1
to 4 and a blank column separates the fields.
"""

# WID2 fields: name, first and last column, kind, print format, the character printed before
# the field.
WID2_TABLE = (
    ('year', 6, 9, 'int', '%04d', ' '),
    ('month', 11, 12, 'int', '%02d', '/'),
    ('day', 14, 15, 'int', '%02d', '/'),
    ('hour', 17, 18, 'int', '%02d', ' '),
    ('minute', 20, 21, 'int', '%02d', ':'),
    ('second', 23, 28, 'float', '%06.3f', ':'),
    ('station', 30, 34, 'text', '%-5s', ' '),
    ('channel', 36, 38, 'text', '%-3s', ' '),
    ('aux_id', 40, 43, 'text', '%-4s', ' '),
    ('data_format', 45, 47, 'text', '%-3s', ' '),
    ('sample_count', 49, 56, 'int', '%8d', ' '),
    ('sample_rate', 58, 68, 'float', '%11.6f', ' '),
    ('calibration', 70, 79, 'float', '%10.4e', ' '),
    ('calibration_period', 81, 87, 'float', '%7.3f', ' '),
    ('instrument_type', 89, 94, 'text', '%-6s', ' '),
    ('horizontal_angle', 96, 100, 'float', '%5.1f', ' '),
    ('vertical_angle', 102, 105, 'float', '%4.1f', ' '),
)
FIELDS = tuple(row[0] for row in WID2_TABLE)

# The lines of a waveform's block read by field: name, first and last column, kind, decimals
# of a number (None for text).
# STA2: the station's network and position (latitude and longitude in degrees, elevation and
# emplacement depth in km).
STA2_TABLE = (
    ('network', 6, 14, 'text', None),
    ('latitude', 16, 24, 'float', 5),
    ('longitude', 26, 35, 'float', 5),
    ('coordinate_system', 37, 48, 'text', None),
    ('elevation', 50, 54, 'float', 3),
    ('emplacement_depth', 56, 60, 'float', 3),
)
STA2_FIELDS = tuple(row[0] for row in STA2_TABLE)

# EID2: the event the waveform belongs to, and the bulletin that names it.
EID2_TABLE = (
    ('event_id', 6, 13, 'text', None),
    ('bulletin_type', 15, 23, 'text', None),
)
EID2_FIELDS = tuple(row[0] for row in EID2_TABLE)

# BEA2: the beam of a beam waveform: its id, and the azimuth (degrees) and slowness (seconds
# per degree) it was formed with.
BEA2_TABLE = (
    ('beam_id', 6, 17, 'text', None),
    ('azimuth', 19, 23, 'float', 1),
    ('slowness', 25, 29, 'float', 1),
)
BEA2_FIELDS = tuple(row[0] for row in BEA2_TABLE)

# The block lines read by field, by keyword, in the order a block holds them when it is made
# here (a block read keeps the order it was read in).
BLOCK_TABLES = (('STA2', STA2_TABLE), ('EID2', EID2_TABLE), ('BEA2', BEA2_TABLE))

# Fields a header to be written must give (the date may come as `start` instead); the rest
# default to DEFAULTS.
REQUIRED = ('station', 'channel', 'year', 'month', 'day', 'sample_rate')
DEFAULTS = {
    'hour': 0, 'minute': 0, 'second': 0.0,
    'aux_id': '', 'instrument_type': '',
    'calibration': 1.0, 'calibration_period': 1.0,
    # -1.0: orientation not known.
    'horizontal_angle': -1.0, 'vertical_angle': -1.0,
}
# Set by the writer from the samples and the chosen sub-format; ignored in a header given.
DERIVED = ('sample_count', 'data_format')
DATE_FIELDS = ('year', 'month', 'day', 'hour', 'minute', 'second')
