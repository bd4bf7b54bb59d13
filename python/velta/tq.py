"""The Torqa angle sensor through TQlib."""

import ctypes
from typing import NamedTuple

from . import _lib
from ._buffers import Sink
from .channel import Channel
from .errors import BadHandle, BadParameter, Status, error_class, fits

OTP_KEY = 0x7A3C  # permits programming the one-time-programmable register 9
REGISTER_COUNT = 10
SAMPLE_BYTES = 3
FIELD_TOO_WEAK, FIELD_TOO_STRONG = 0x80, 0x40


class Sample(NamedTuple):
    """One sensor sample: the 16-bit angle, the same in degrees, and the status byte (bit 7
    field too weak, bit 6 too strong, bit 0 odd parity over the three bytes)."""

    raw_angle: int
    degrees: float
    status: int


def _check(result, operation):
    # TQlib answers 0, a libVELTA status, or -1 for its own refusal.
    if result == 0:
        return
    if result < 0:
        raise BadParameter(Status.BAD_PARAMETER, operation, "refused by TQlib")
    raise error_class(result)(result, operation, _lib.status_text(result))


class Sensor(Channel):
    """A Torqa sensor on SPI channel ``index`` (from 0, as :class:`velta.SpiChannel` and
    ``velta list`` count), in SPI mode ``mode`` (0 or 3 for a sensor) at ``clock`` Hz. Use it
    in a ``with`` block or call :meth:`close`. Raises :class:`velta.NoDevice` when no sensor
    answers there in that mode."""

    def __init__(self, index=0, mode=0, clock=1_000_000):
        super().__init__()
        # TQlib counts channels from 1, as the sensor tools' -c does.
        channel = fits(index, ctypes.c_uint32, "channel index", "TQ_Open", high=0xFFFFFFFE) + 1
        mode = fits(mode, ctypes.c_int, "SPI mode", "TQ_Open")
        clock = fits(clock, ctypes.c_int, "clock", "TQ_Open")
        handle = _lib.KV_HANDLE()
        config = _lib.ChannelConfig()
        _check(_lib.tq().TQ_Open(ctypes.byref(handle), channel, 1, mode, clock, ctypes.byref(config)), "TQ_Open")
        if not handle.value:
            raise BadHandle(Status.BAD_HANDLE, "TQ_Open", "no handle came back")
        self._handle = handle

    def read_register(self, register):
        """The 8-bit value of register 0 to 9. Raises :class:`velta.IOFailure` when the
        sensor's check byte does not match."""
        register = fits(register, ctypes.c_int, "register", "TQ_ReadReg")
        value = ctypes.c_uint8()
        _check(_lib.tq().TQ_ReadReg(self.handle, register, ctypes.byref(value)), "TQ_ReadReg")
        return value.value

    def write_register(self, register, value, key=0):
        """Writes register 0 to 8, or programs bits of the one-time-programmable register 9
        with ``key`` :data:`OTP_KEY` (bits once set stay set)."""
        operation = "TQ_WriteReg_Restricted"
        register = fits(register, ctypes.c_int, "register", operation)
        value = fits(value, ctypes.c_uint8, "value", operation)
        key = fits(key, ctypes.c_int, "key", operation)
        _check(_lib.tq().TQ_WriteReg_Restricted(self.handle, register, value, key), operation)

    def read_samples(self, n):
        """Reads a burst of ``n`` consecutive samples (2 µs apart) as a list of :class:`Sample`."""
        n = fits(n, ctypes.c_int, "sample count", "KORVIN_ReadStream", low=0, high=0x7FFFFFFF // SAMPLE_BYTES)
        sink = Sink(n * SAMPLE_BYTES)
        _check(_lib.tq().KORVIN_ReadStream(self.handle, sink.address, sink.length), "KORVIN_ReadStream")
        data = sink.bytes()
        return [Sample(angle, angle * 360 / 65536, data[i + 2])
                for i in range(0, len(data), SAMPLE_BYTES)
                for angle in (data[i] << 8 | data[i + 1],)]

    def _release(self, handle):
        _check(_lib.tq().TQ_Close(handle), "TQ_Close")
