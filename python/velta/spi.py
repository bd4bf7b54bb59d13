"""SPI master on a bridge channel."""

import ctypes

from . import _lib
from ._buffers import Sink, Source, chunks
from .channel import Channel
from .errors import BadParameter, IOFailure, Status, fits

IN_BITS, ASSERT_CS, RELEASE_CS = 0x01, 0x02, 0x04
CS_ACTIVE_LOW = 0x20
MAX_TRANSFER = 65536  # bytes one engine command moves; longer transfers are split
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

    def _transfer(self, operation, call, length, start, end):
        """Runs ``call(offset, size, options, done)`` over pieces of at most 64 KiB, asserting
        chip-select before the first and releasing it after the last, as asked. A length of 0
        moves only chip-select: a bit transfer of no bits does exactly that."""
        done = ctypes.c_uint32()
        for offset, size, first, last in chunks(length, MAX_TRANSFER):
            options = (ASSERT_CS if start and first else 0) | (RELEASE_CS if end and last else 0)
            _lib.check(call(offset, size, options | (IN_BITS if size == 0 else 0), ctypes.byref(done)), operation)
            if done.value != size:
                raise IOFailure(Status.IO_FAILURE, operation, f"{done.value} of {size} bytes moved")

    def write(self, data, start=True, end=True):
        """Sends the bytes of any bytes-like ``data``. ``start`` asserts chip-select first,
        ``end`` releases it afterwards (at least 2 ms after the call began)."""
        source, lib, handle = Source(data), _lib.velta(), self.handle
        self._transfer("SPI_Write", lambda offset, size, options, done: lib.SPI_Write(
            handle, source.address + offset, size, done, options), source.length, start, end)

    def read(self, n, start=True, end=True):
        """Reads ``n`` bytes (data out held low) and returns them as bytes. ``start`` and
        ``end`` as in :meth:`write`."""
        n = fits(n, ctypes.c_size_t, "byte count", "SPI_Read")
        sink, lib, handle = Sink(n), _lib.velta(), self.handle
        self._transfer("SPI_Read", lambda offset, size, options, done: lib.SPI_Read(
            handle, sink.address + offset, size, done, options), n, start, end)
        return sink.bytes()

    def exchange(self, data, start=True, end=True):
        """Sends ``data`` and returns the bytes received meanwhile (full duplex)."""
        source, lib, handle = Source(data), _lib.velta(), self.handle
        sink = Sink(source.length)
        self._transfer("SPI_ReadWrite", lambda offset, size, options, done: lib.SPI_ReadWrite(
            handle, sink.address + offset, source.address + offset, size, done, options),
            source.length, start, end)
        return sink.bytes()

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
