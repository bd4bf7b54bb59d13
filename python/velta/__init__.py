"""Python access to VELTA bridges: SPI and I2C masters, GPIO, the Torqa sensor (``velta.tq``)
and the simulated bridge (``velta.sim``), over libVELTA and TQlib through ctypes.

The libraries are loaded on first use: the bridge driver from ``VELTA_DRIVER``, libVELTA from
``VELTA_LIBRARY`` and TQlib from ``VELTA_TQLIB`` when set, else from the build tree beside this
package, else through the system loader. A missing driver raises :class:`DriverNotFound`."""

from .channel import ChannelInfo, channels, gpio_read, gpio_write
from .errors import (BadHandle, BadParameter, DriverError, DriverNotFound, Failure, IOFailure, LibraryNotFound,
                     NoDevice, NoResources, Status, Unsupported, VeltaError, WriteRefused)
from .i2c import I2cChannel, I2cMessage
from .spi import SpiChannel
from ._version import __version__

__all__ = [
    "BadHandle", "BadParameter", "ChannelInfo", "DriverError", "DriverNotFound", "Failure", "I2cChannel", "I2cMessage", "IOFailure",
    "LibraryNotFound", "NoDevice", "NoResources", "SpiChannel", "Status", "Unsupported", "VeltaError",
    "WriteRefused", "channels", "gpio_read", "gpio_write", "load",
]


def load():
    """Loads the driver and libVELTA now rather than on first use; raises
    :class:`DriverNotFound` or :class:`LibraryNotFound` when one cannot be loaded."""
    from . import _lib
    _lib.velta()
