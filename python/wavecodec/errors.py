"""Exceptions raised by the package."""


class WaveformError(ValueError):
    """Base of the errors about a file's content; the message names the file and waveform."""


class FormatError(WaveformError):
    """Input that is not sound GSE2.0 (or a waveform that cannot be written as asked)."""


class ChecksumError(WaveformError):
    """The CHK2 line of a waveform disagrees with the checksum of its samples."""


class LibraryNotFoundError(OSError):
    """A shared library could not be loaded, or lacks one of its functions; the message lists
    every place tried, or names the file and the missing symbol (`.path`, `.symbol`)."""
