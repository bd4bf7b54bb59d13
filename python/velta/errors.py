"""Statuses and the exceptions that carry them."""

import ctypes
import enum
import operator


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
    status), ``operation`` names the C function or method that failed. An I2C transaction
    that was not acknowledged names where: ``message_index`` (from 0) and ``byte_index`` (the
    data byte from 0, None for the address); both are None elsewhere."""

    message_index = None
    byte_index = None

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


class BadHandle(VeltaError):
    """The handle names no open channel (closed, or never opened), or no channel is at that index."""


class NoDevice(VeltaError):
    """An I2C device did not acknowledge its address."""


class IOFailure(VeltaError):
    """Fewer bytes moved than asked, or an expected answer did not arrive."""


class NoResources(VeltaError):
    """Out of memory, or too many bytes pending."""


class BadParameter(VeltaError, ValueError):
    """An argument was refused, by libVELTA or before it was called."""


class WriteRefused(VeltaError):
    """An I2C device did not acknowledge a data byte."""


class Unsupported(VeltaError):
    """The request is one libVELTA does not offer (a ten-bit I2C address)."""


class Failure(VeltaError):
    """The engine did not answer, or the channel is not set up."""


class DriverError(VeltaError):
    """The bridge driver's own status, passed through libVELTA unchanged."""


class DriverNotFound(OSError):
    """No bridge driver could be loaded; the message names the path tried, the loader's reason
    and the ``VELTA_DRIVER`` variable that picks the driver."""


class LibraryNotFound(OSError):
    """libVELTA (or TQlib) could not be loaded; the message gives the loader's reason."""


_BY_STATUS = {
    Status.BAD_HANDLE: BadHandle,
    Status.NO_DEVICE: NoDevice,
    Status.IO_FAILURE: IOFailure,
    Status.NO_RESOURCES: NoResources,
    Status.BAD_PARAMETER: BadParameter,
    Status.WRITE_REFUSED: WriteRefused,
    Status.UNSUPPORTED: Unsupported,
    Status.FAILURE: Failure,
}


def error_class(status):
    """The exception class that stands for ``status``: one per libVELTA status, and
    :class:`DriverError` for the driver's own."""
    return _BY_STATUS.get(status, DriverError)


def fits(value, ctype, what, operation, low=None, high=None):
    """``value`` as an int when the C type ``ctype`` holds it (and it lies within ``low`` and
    ``high`` where given); else raises :class:`BadParameter`, since ctypes would silently cut
    it to the type's width."""
    bits = 8 * ctypes.sizeof(ctype)
    signed = ctype(-1).value < 0
    lowest, highest = (-(1 << bits - 1), (1 << bits - 1) - 1) if signed else (0, (1 << bits) - 1)
    lowest = lowest if low is None else max(low, lowest)
    highest = highest if high is None else min(high, highest)
    try:
        number = operator.index(value)
    except TypeError:
        number = None
    if number is None or not lowest <= number <= highest:
        raise BadParameter(Status.BAD_PARAMETER, operation, f"{what} {value!r} is not {lowest} to {highest}")
    return number
