"""SPI master on a bridge channel."""

import ctypes

from . import _lib
from ._buffers import Sink, Source
from .channel import Channel
from .errors import BadParameter, IOFailure, Status, fits

IN_BITS, ASSERT_CS, RELEASE_CS = 0x01, 0x02, 0x04
CS_ACTIVE_LOW = 0x20
CLOCK_PIN, DATA_OUT_PIN, CS_CANDIDATES = 0x01, 0x02, 0xF8
LATENCY_MS = 2


def _refuse(operation, text):
    raise BadParameter(Status.BAD_PARAMETER, operation, text)


def _options(mode, cs, active_low, operation):
    if mode not in (0, 1, 2, 3):
        _refuse(operation, f"SPI mode {mode!r} is not 0 to 3")
    if cs not in (3, 4, 5, 6, 7):
        _refuse(operation, f"chip-select pin {cs!r} is not 3 to 7")
    return mode | (cs - 3) << 2 | (CS_ACTIVE_LOW if active_low else 0)


def _source(data):
    """``data`` handed over by address, refused when the library cannot take its length."""
    source = Source(data)
    fits(source.length, ctypes.c_uint32, "byte count", "SPI_Transfer")
    return source


def _bit_count(bits, operation):
    return fits(bits, ctypes.c_uint32, "bit count", operation, low=1)


class SpiChannel(Channel):
    """An SPI master on engine channel ``index`` (from 0, as :func:`velta.channels` lists them).

    ``clock`` is the SPI clock in Hz, ``mode`` the SPI mode 0 to 3, ``cs`` the chip-select pin
    (low pin 3 to 7) and ``cs_active_low`` its polarity. Chip-select rests released between
    transfers and when the channel is closed. Use it in a ``with`` block or call :meth:`close`.
    Every failure raises a :class:`velta.VeltaError`."""

    def _release(self, handle):
        _lib.check(_lib.velta().SPI_CloseChannel(handle), "SPI_CloseChannel")

    def __init__(self, index, clock=1_000_000, mode=0, cs=3, cs_active_low=True):
        super().__init__()
        options = _options(mode, cs, cs_active_low, "SpiChannel")
        clock = fits(clock, ctypes.c_uint32, "clock", "SpiChannel")
        self.mode, self.cs, self.cs_active_low = mode, cs, cs_active_low
        outputs = CLOCK_PIN | DATA_OUT_PIN | 1 << cs
        # Every chip-select candidate gets the released level, so a pin that change_cs turns
        # into an output does not select its device.
        levels = (CS_CANDIDATES if cs_active_low else 0) | (CLOCK_PIN if mode >= 2 else 0)
        pins = outputs | levels << 8 | outputs << 16 | levels << 24
        config = _lib.ChannelConfig(ClockRate=clock, LatencyTimer=LATENCY_MS, configOptions=options, Pin=pins)
        self._adopt("SPI_OpenChannel", index, "SPI_InitChannel", config)

    def _frame(self, tx, rx, length, release, delay_us=0):
        """One transfer set of ``length`` bytes out of address ``tx`` (None: zeros) into ``rx``
        (None: discarded). Chip-select is asserted first (no change when a frame is open)
        and, with ``release``, released after."""
        transfer = _lib.SPITransfer(tx, rx, length, delay_us, 1 if release else 0, 0)
        self._check(_lib.velta().SPI_Transfer(self.handle, ctypes.byref(transfer), 1), "SPI_Transfer")

    def xfer(self, data, *, keep_cs=False, delay_us=0):
        """Sends ``data`` and returns what came in meanwhile, in one frame (full duplex): a
        list of byte values gives a list back, as spidev does; any bytes-like object gives
        bytes (no conversion, so large transfers run at the library's speed). ``keep_cs``
        leaves chip-select asserted afterwards, so the next call continues the frame;
        ``delay_us`` waits that many microseconds after the transfer (and the release)."""
        as_list = isinstance(data, (list, tuple))
        if as_list:
            try:
                data = bytes(data)
            except (TypeError, ValueError):
                _refuse("SpiChannel.xfer", "data holds a value that is not a byte, 0 to 255")
        delay_us = fits(delay_us, ctypes.c_uint32, "delay", "SpiChannel.xfer")
        source = _source(data)
        sink = Sink(source.length)
        self._frame(source.address, sink.address, source.length, not keep_cs, delay_us)
        return list(sink.bytes()) if as_list else sink.bytes()

    def write(self, data, start=True, end=True):
        """Sends the bytes of any bytes-like ``data`` in one frame. ``end=False`` leaves
        chip-select asserted, so the next call continues the frame; ``start`` is kept for older
        scripts: chip-select is asserted for every transfer (no change when it already is)."""
        source = _source(data)
        self._frame(source.address, None, source.length, end)

    def read(self, n, start=True, end=True):
        """Reads ``n`` bytes (data out held low) and returns them as bytes. ``start`` and
        ``end`` as in :meth:`write`."""
        sink = Sink(fits(n, ctypes.c_uint32, "byte count", "SPI_Transfer"))
        self._frame(None, sink.address, sink.length, end)
        return sink.bytes()

    def exchange(self, data, start=True, end=True):
        """Sends ``data`` and returns the bytes received meanwhile (full duplex): :meth:`xfer`
        with ``keep_cs=not end``."""
        return self.xfer(data, keep_cs=not end)

    def write_bits(self, value, bits, start=True, end=True):
        """Sends the ``bits`` low bits of the integer ``value``, most significant first."""
        bits = _bit_count(bits, "SPI_Write")
        if not isinstance(value, int) or not 0 <= value < 1 << bits:
            _refuse("SPI_Write", f"value {value!r} does not fit in {bits} bits")
        size = (bits + 7) // 8
        # The engine shifts each byte out from its top bit, so the bits go left-aligned.
        data = (value << (8 * size - bits)).to_bytes(size, "big")
        self._bit_transfer("SPI_Write", _lib.velta().SPI_Write, data, bits, start, end)

    def read_bits(self, bits, start=True, end=True):
        """Reads ``bits`` bits and returns them as an integer, the first bit the most significant."""
        bits = _bit_count(bits, "SPI_Read")
        sink = Sink((bits + 7) // 8)
        self._bit_transfer("SPI_Read", _lib.velta().SPI_Read, sink.address, bits, start, end)
        value = 0
        # Each answer byte holds its piece's bits at its low end.
        for k, byte in enumerate(sink.bytes()):
            width = min(8, bits - 8 * k)
            value = value << width | byte & ((1 << width) - 1)
        return value

    def _bit_transfer(self, operation, function, buffer, bits, start, end):
        done = ctypes.c_uint32()
        options = IN_BITS | (ASSERT_CS if start else 0) | (RELEASE_CS if end else 0)
        _lib.check(function(self.handle, buffer, bits, ctypes.byref(done), options), operation)
        if done.value != bits:
            raise IOFailure(Status.IO_FAILURE, operation, f"{done.value} of {bits} bits moved")

    def change_cs(self, cs, mode=None, active_low=None):
        """Switches to chip-select pin ``cs`` (3 to 7) and, where given, another SPI mode or
        polarity. The new chip-select is left released."""
        mode = self.mode if mode is None else mode
        active_low = self.cs_active_low if active_low is None else active_low
        options = _options(mode, cs, active_low, "SPI_ChangeCS")
        lib, handle = _lib.velta(), self.handle
        _lib.check(lib.SPI_ChangeCS(handle, options), "SPI_ChangeCS")
        self.mode, self.cs, self.cs_active_low = mode, cs, active_low
        # The new pin starts at the level released had under the old polarity; make it released.
        _lib.check(lib.SPI_ToggleCS(handle, 0), "SPI_ToggleCS")

    def busy(self):
        """True when any low pin reads high during a short chip-select frame (a memory's busy
        line on data in, for one)."""
        busy = ctypes.c_uint8()
        _lib.check(_lib.velta().SPI_IsBusy(self.handle, ctypes.byref(busy)), "SPI_IsBusy")
        return bool(busy.value)
