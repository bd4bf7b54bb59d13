"""Statuses and the exceptions that carry them."""

import enum


class Status(enum.IntEnum):
    """The statuses libVELTA produces itself. A driver's own statuses pass through unchanged
    and appear as plain integers."""

    SUCCESS = 0
    BAD_HANDLE = 1
    NO_DEVICE = 2
    IO_FAILURE = 4
    NO_RESOURCES = 5
    BAD_PARAMETER = 6
    WRITE_REFUSED = 10
    UNSUPPORTED = 17
    FAILURE = 18


class VeltaError(Exception):
    """An operation failed. ``status`` is a :class:`Status` (or the driver's own integer
    status), ``operation`` names the C function or method that failed."""

    def __init__(self, status, operation, text=None):
        try:
            status = Status(status)
        except ValueError:
            pass
        self.status = status
        self.operation = operation
        if text is None:
            text = status.name if isinstance(status, Status) else "driver status"
        super().__init__(f"{operation}: {text} (status {int(status)})")


class NoDevice(VeltaError):
    """An I2C device did not acknowledge its address."""


class IOFailure(VeltaError):
    """Fewer bytes moved than asked, or an expected answer did not arrive."""


class BadParameter(VeltaError, ValueError):
    """An argument was refused, by libVELTA or before it was called."""


class WriteRefused(VeltaError):
    """An I2C device did not acknowledge a data byte."""


class Unsupported(VeltaError):
    """The request is one libVELTA does not offer (a ten-bit I2C address)."""


class DriverNotFound(OSError):
    """No bridge driver could be loaded; the message gives the loader's reason."""


class LibraryNotFound(OSError):
    """libVELTA (or TQlib) could not be loaded; the message gives the loader's reason."""


_BY_STATUS = {
    Status.NO_DEVICE: NoDevice,
    Status.IO_FAILURE: IOFailure,
    Status.BAD_PARAMETER: BadParameter,
    Status.WRITE_REFUSED: WriteRefused,
    Status.UNSUPPORTED: Unsupported,
}


def error_class(status):
    """The exception class that stands for ``status``."""
    return _BY_STATUS.get(status, VeltaError)
