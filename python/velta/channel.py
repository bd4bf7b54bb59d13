"""Channel discovery and the GPIO pins every open channel offers."""

import ctypes
from typing import NamedTuple

from . import _lib
from .errors import BadHandle, Status, fits


class ChannelInfo(NamedTuple):
    """One engine-carrying bridge channel, as the driver describes it. ``index`` counts from 0
    and is what :class:`~velta.SpiChannel` and :class:`~velta.I2cChannel` take."""

    index: int
    device_type: int
    serial: str
    description: str
    location: int


def _text(raw):
    return raw.split(b"\0", 1)[0].decode("latin-1")


FULL_SPEED_DUAL = 4  # the device type of a full-speed bridge, which lacks three-phase clocking


def _entry(index):
    """The driver's description of channel ``index``, and the status of asking for it."""
    entry = _lib.DeviceListEntry()
    return _lib.velta().SPI_GetChannelInfo(index, ctypes.byref(entry)), entry


def channels():
    """Every bridge channel that carries the serial engine, as a list of :class:`ChannelInfo`."""
    count = ctypes.c_uint32()
    _lib.check(_lib.velta().SPI_GetNumChannels(ctypes.byref(count)), "SPI_GetNumChannels")
    found = []
    for index in range(count.value):
        status, entry = _entry(index)
        _lib.check(status, "SPI_GetChannelInfo")
        found.append(ChannelInfo(index, entry.DeviceType, _text(bytes(entry.SerialText)),
                                 _text(bytes(entry.DescriptionText)), entry.Location))
    return found


def on_full_speed_bridge(index):
    """Whether channel ``index`` is on a full-speed bridge (False where the driver cannot say:
    opening the channel then reports why)."""
    status, entry = _entry(index)
    return status == Status.SUCCESS and entry.DeviceType == FULL_SPEED_DUAL


class Channel:
    """What every open channel shares: its handle, closing, and use in a with block."""

    def __init__(self):
        self._handle = None

    def _release(self, handle):
        """Closes ``handle`` in the library; raises on failure."""
        raise NotImplementedError

    def _adopt(self, open_function, index, init_function, config):
        """Opens channel ``index`` and initialises it; closes it again when that fails."""
        index = fits(index, ctypes.c_uint32, "channel index", open_function)
        lib = _lib.velta()
        handle = _lib.KV_HANDLE()
        _lib.check(getattr(lib, open_function)(index, ctypes.byref(handle)), open_function)
        if not handle.value:
            raise BadHandle(Status.BAD_HANDLE, open_function, "no handle came back")
        status = getattr(lib, init_function)(handle, ctypes.byref(config))
        if status != Status.SUCCESS:
            try:
                self._release(handle)
            finally:
                _lib.check(status, init_function)
        self._handle = handle

    def _check(self, status, operation):
        """Raises the exception of a failed transfer, first dropping the answers it left in the
        channel's queue, so that the next call does not read them as its own."""
        if status != Status.SUCCESS:
            _lib.velta().Mid_PurgeDevice(self.handle)
            _lib.check(status, operation)

    @property
    def handle(self):
        """The channel's handle (a ctypes ``c_void_p``); raises once the channel is closed."""
        if self._handle is None:
            raise BadHandle(Status.BAD_HANDLE, type(self).__name__, "the channel is closed")
        return self._handle

    @property
    def closed(self):
        """True once :meth:`close` has run."""
        return self._handle is None

    def close(self):
        """Closes the channel. A second call does nothing."""
        handle, self._handle = self._handle, None
        if handle is not None:
            self._release(handle)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass


def gpio_read(channel):
    """Levels of the eight high (general-purpose) pins of an open SPI or I2C channel, as an int."""
    value = ctypes.c_uint8()
    _lib.check(_lib.velta().KV_ReadGPIO(channel.handle, ctypes.byref(value)), "KV_ReadGPIO")
    return value.value


def gpio_write(channel, direction, value):
    """Sets the eight high pins of an open SPI or I2C channel: ``direction`` bit 1 = output,
    ``value`` the levels of the outputs."""
    direction = fits(direction, ctypes.c_uint8, "direction", "KV_WriteGPIO")
    value = fits(value, ctypes.c_uint8, "value", "KV_WriteGPIO")
    _lib.check(_lib.velta().KV_WriteGPIO(channel.handle, direction, value), "KV_WriteGPIO")
