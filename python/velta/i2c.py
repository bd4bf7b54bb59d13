"""I2C master on a bridge channel."""

import ctypes

from . import _lib
from ._buffers import Sink, Source
from .channel import Channel
from .errors import BadParameter, IOFailure, NoDevice, Status, VeltaError, WriteRefused, fits

NO_THREE_PHASE, DRIVE_ZERO_ONLY, CLOCK_STRETCHING = 0x01, 0x02, 0x04
START, STOP, ABORT_ON_NACK, NACK_FINAL_BYTE, FAST_BYTES, SKIP_ADDRESS = 0x01, 0x02, 0x04, 0x08, 0x10, 0x40
LATENCY_MS = 2
SCAN_RANGE = range(0x08, 0x78)  # the addresses not reserved by the bus


def _address(address, operation):
    if not isinstance(address, int) or not 0 <= address <= 0x7F:
        raise BadParameter(Status.BAD_PARAMETER, operation, f"address {address!r} is not 0 to 0x7F")
    return address


class I2cChannel(Channel):
    """An I2C master on engine channel ``index`` (from 0). ``clock`` is the bus clock in Hz;
    ``three_phase`` holds data an extra half period around each clock edge, as I2C needs;
    ``drive_zero_only`` lets the bridge only pull SCL and SDA low (high-speed single-channel
    bridges); ``clock_stretching`` makes every clock edge wait while a device holds SCL low
    (SCL wired to pin 7 as well, and only pulled low by the bridge; full-speed bridges refuse
    it with :class:`velta.BadParameter`). Use it in a ``with`` block or call :meth:`close`.

    A failed transfer sends a stop condition, so the bus is free again, then raises:
    :class:`velta.NoDevice` when the address is not acknowledged, :class:`velta.WriteRefused`
    when a data byte is not, other :class:`velta.VeltaError` subclasses for the rest."""

    def _release(self, handle):
        _lib.check(_lib.velta().I2C_CloseChannel(handle), "I2C_CloseChannel")

    def __init__(self, index, clock=100_000, three_phase=True, drive_zero_only=False, clock_stretching=False):
        super().__init__()
        options = ((0 if three_phase else NO_THREE_PHASE) | (DRIVE_ZERO_ONLY if drive_zero_only else 0)
                   | (CLOCK_STRETCHING if clock_stretching else 0))
        clock = fits(clock, ctypes.c_uint32, "clock", "I2cChannel")
        config = _lib.I2CChannelConfig(ClockRate=clock, LatencyTimer=LATENCY_MS, configOptions=options)
        self._adopt("I2C_OpenChannel", index, "I2C_InitChannel", config)

    def _run(self, operation, call):
        """Runs a transfer; on failure frees the bus with a stop before raising."""
        try:
            call()
        except VeltaError:
            _lib.velta().I2C_Stop(self.handle)
            raise

    @staticmethod
    def _expect(operation, done, size):
        if done.value != size:
            raise IOFailure(Status.IO_FAILURE, operation, f"{done.value} of {size} bytes moved")

    def write(self, address, data, start=True, stop=True, fast=False):
        """Writes any bytes-like ``data`` to the device at the 7-bit ``address``. ``start``
        sends a start condition first (a repeated start when the bus is still claimed),
        ``stop`` a stop condition after. ``fast`` sends the whole transaction in one command
        stream instead of byte by byte; acknowledges are checked alike."""
        address = _address(address, "I2C_DeviceWrite")
        flags = (START if start else 0) | (STOP if stop else 0)
        if fast:
            # The address goes out as the first data byte, so its acknowledge comes back too.
            stream = bytearray([address << 1])
            stream += data
            fits(len(stream), ctypes.c_uint32, "byte count", "I2C_FastWrite")
            self._run("I2C_FastWrite", lambda: self._fast_write(address, stream, flags))
            return
        source, done = Source(data), ctypes.c_uint32()
        fits(source.length, ctypes.c_uint32, "byte count", "I2C_DeviceWrite")

        def call():
            _lib.check(_lib.velta().I2C_DeviceWrite(self.handle, address, source.length, source.address,
                                                    ctypes.byref(done), flags | ABORT_ON_NACK), "I2C_DeviceWrite")
            self._expect("I2C_DeviceWrite", done, source.length)
        self._run("I2C_DeviceWrite", call)

    def _fast_write(self, address, stream, flags):
        lib, handle, source = _lib.velta(), self.handle, Source(stream)
        acks = Sink(source.length)
        ctypes.memset(acks.address, 0xFF, source.length)  # an answer that never came counts as refused
        done = ctypes.c_uint32()
        _lib.check(lib.Mid_PurgeDevice(handle), "Mid_PurgeDevice")
        _lib.check(lib.I2C_FastWrite(handle, address, source.length, source.address, acks.address,
                                     ctypes.byref(done), flags | FAST_BYTES | SKIP_ADDRESS), "I2C_FastWrite")
        answers = acks.bytes()
        if answers[0] & 1:
            raise NoDevice(Status.NO_DEVICE, "I2C_FastWrite", f"no acknowledge from address {address:#04x}")
        refused = next((i for i, a in enumerate(answers) if a & 1), None)
        if refused is not None:
            raise WriteRefused(Status.WRITE_REFUSED, "I2C_FastWrite", f"data byte {refused - 1} not acknowledged")

    def read(self, address, n, start=True, stop=True, fast=False):
        """Reads ``n`` bytes from the device at ``address`` and returns them as bytes. The last
        byte is not acknowledged when ``stop`` ends the transaction, as I2C asks."""
        address = _address(address, "I2C_DeviceRead")
        n = fits(n, ctypes.c_uint32, "byte count", "I2C_DeviceRead")
        sink, done, lib = Sink(n), ctypes.c_uint32(), _lib.velta()

        def call():
            if fast:
                self._fast_write(address, bytes([address << 1 | 1]), START if start else 0)
                _lib.check(lib.I2C_FastRead(self.handle, address, n, sink.address, None, ctypes.byref(done),
                                            FAST_BYTES | SKIP_ADDRESS | (STOP if stop else 0)), "I2C_FastRead")
            else:
                options = (START if start else 0) | (STOP | NACK_FINAL_BYTE if stop else 0)
                _lib.check(lib.I2C_DeviceRead(self.handle, address, n, sink.address, ctypes.byref(done), options),
                           "I2C_DeviceRead")
            self._expect("I2C_DeviceRead", done, n)
        self._run("I2C_DeviceRead", call)
        return sink.bytes()

    def write_read(self, address, data, n, fast=False):
        """Writes ``data``, then reads ``n`` bytes after a repeated start, in one transaction
        (a register address, then its contents, for one)."""
        self.write(address, data, stop=False, fast=fast)
        return self.read(address, n, fast=fast)

    def scan(self):
        """Addresses 0x08 to 0x77 at which a device acknowledges, as a list."""
        found = []
        for address in SCAN_RANGE:
            try:
                self.write(address, b"")
            except NoDevice:
                continue
            found.append(address)
        return found
