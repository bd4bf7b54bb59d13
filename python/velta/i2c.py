"""I2C master on a bridge channel: message transactions, and the helpers built on them."""

import ctypes

from . import _lib
from ._buffers import Sink, Source
from .channel import Channel, on_full_speed_bridge
from .errors import BadParameter, NoDevice, Status, error_class, fits

NO_THREE_PHASE, DRIVE_ZERO_ONLY, CLOCK_STRETCHING = 0x01, 0x02, 0x04
# Message flags of I2C_Transfer.
READ, IGNORE_NACK, NO_START, STOP_AFTER = 0x0001, 0x1000, 0x4000, 0x8000
FAULT_ADDRESS = 0xFFFFFFFF  # the fault's byte index when the address was not acknowledged
# Options of the byte-level calls, which carry a transaction split over several calls.
START, STOP, ABORT_ON_NACK, NACK_FINAL_BYTE = 0x01, 0x02, 0x04, 0x08
LATENCY_MS = 2
SCAN_RANGE = range(0x08, 0x78)  # the addresses not reserved by the bus


def _address(address, operation):
    if not isinstance(address, int) or not 0 <= address <= 0x7F:
        raise BadParameter(Status.BAD_PARAMETER, operation, f"address {address!r} is not 0 to 0x7F")
    return address


class I2cMessage:
    """One message of a transaction for :meth:`I2cChannel.transfer`, made with
    :meth:`I2cMessage.write` or :meth:`I2cMessage.read`. Once the transaction has run, a read
    message holds what was read: ``bytes(message)``, ``list(message)``, or iterate over it.

    Flags: ``ignore_nack`` takes a missing acknowledge of this message as no error;
    ``no_start`` sends no start and no address, so the bytes continue the previous message;
    ``stop`` ends the bus transaction after this message (the last message always does)."""

    __slots__ = ("_buffer", "_c")

    def __init__(self, address, flags, buffer, operation):
        self._buffer = buffer  # keeps the bytes alive while the message exists
        fits(buffer.length, ctypes.c_uint32, "byte count", operation)
        self._c = _lib.I2CMessage(_address(address, operation), flags, buffer.length, buffer.address)

    @staticmethod
    def _flags(ignore_nack, no_start, stop):
        return (IGNORE_NACK if ignore_nack else 0) | (NO_START if no_start else 0) | (STOP_AFTER if stop else 0)

    @classmethod
    def write(cls, address, data, *, ignore_nack=False, no_start=False, stop=False):
        """A message that writes the bytes of any bytes-like ``data`` to the 7-bit ``address``;
        empty data sends the address alone (a probe)."""
        return cls(address, cls._flags(ignore_nack, no_start, stop), Source(data), "I2cMessage.write")

    @classmethod
    def read(cls, address, length, *, ignore_nack=False, no_start=False, stop=False):
        """A message that reads ``length`` bytes from the 7-bit ``address``."""
        length = fits(length, ctypes.c_uint32, "byte count", "I2cMessage.read")
        return cls(address, READ | cls._flags(ignore_nack, no_start, stop), Sink(length), "I2cMessage.read")

    @property
    def address(self):
        return self._c.address

    @property
    def flags(self):
        """The message's flag bits as I2C_Transfer takes them."""
        return self._c.flags

    @property
    def length(self):
        return self._c.length

    def __bytes__(self):
        return ctypes.string_at(self._c.buffer, self._c.length)

    def __iter__(self):
        return iter(bytes(self))

    def __len__(self):
        return self._c.length

    def __repr__(self):
        kind = "read" if self._c.flags & READ else "write"
        return f"I2cMessage.{kind}({self.address:#04x}, {self.length} bytes, flags {self.flags:#06x})"


def _refusal(status, fault, messages):
    """The exception of a missing acknowledge, naming its message and byte."""
    index, byte = fault.message, fault.byte
    if byte == FAULT_ADDRESS:
        where, byte = f"address {messages[index].address:#04x} not acknowledged", None
    else:
        where = f"data byte {byte} not acknowledged"
    error = error_class(status)(status, "I2C_Transfer", f"message {index}: {where}")
    error.message_index, error.byte_index = index, byte
    return error


class I2cChannel(Channel):
    """An I2C master on engine channel ``index`` (from 0). ``clock`` is the bus clock in Hz;
    ``three_phase`` holds data an extra half period around each clock edge, as I2C needs
    (``None``: where the bridge has it; a full-speed bridge lacks it, and with ``True`` there
    its bus runs at 3/2 of ``clock``);
    ``drive_zero_only`` lets the bridge only pull SCL and SDA low (high-speed single-channel
    bridges); ``clock_stretching`` makes every clock edge wait while a device holds SCL low
    (SCL wired to pin 7 as well, and only pulled low by the bridge; full-speed bridges refuse
    it with :class:`velta.BadParameter`). Use it in a ``with`` block or call :meth:`close`.

    A failed transaction leaves the bus free (a stop condition), then raises:
    :class:`velta.NoDevice` when an address is not acknowledged, :class:`velta.WriteRefused`
    when a data byte is not (both name the message and byte in ``message_index`` and
    ``byte_index``), other :class:`velta.VeltaError` subclasses for the rest."""

    def _release(self, handle):
        _lib.check(_lib.velta().I2C_CloseChannel(handle), "I2C_CloseChannel")

    def __init__(self, index, clock=100_000, three_phase=None, drive_zero_only=False, clock_stretching=False):
        super().__init__()
        index = fits(index, ctypes.c_uint32, "channel index", "I2C_OpenChannel")
        if three_phase is None:
            three_phase = not on_full_speed_bridge(index)
        options = ((0 if three_phase else NO_THREE_PHASE) | (DRIVE_ZERO_ONLY if drive_zero_only else 0)
                   | (CLOCK_STRETCHING if clock_stretching else 0))
        clock = fits(clock, ctypes.c_uint32, "clock", "I2cChannel")
        config = _lib.I2CChannelConfig(ClockRate=clock, LatencyTimer=LATENCY_MS, configOptions=options)
        self._adopt("I2C_OpenChannel", index, "I2C_InitChannel", config)

    def transfer(self, *messages):
        """Runs the :class:`I2cMessage` objects given as one transaction in one engine stream:
        a start (a repeated start between messages), each message's address and bytes, a stop
        at the end. Every address and written byte must be acknowledged; the last byte of each
        read is not acknowledged. Read messages hold their data afterwards."""
        try:
            items = [message._c for message in messages]
        except AttributeError:
            raise TypeError("transfer takes I2cMessage objects") from None
        count = len(items)
        fault = _lib.I2CTransferFault()
        lib, handle = _lib.velta(), self.handle
        status = lib.I2C_Transfer(handle, (_lib.I2CMessage * count)(*items), count, ctypes.byref(fault))
        if status in (Status.NO_DEVICE, Status.WRITE_REFUSED):  # the library has stopped the bus
            raise _refusal(status, fault, messages)
        if status != Status.SUCCESS:
            self._fail(status, "I2C_Transfer")

    def _fail(self, status, operation):
        """Raises the exception of a failure that may have left the bus claimed, freeing the
        bus first with a stop."""
        try:
            self._check(status, operation)
        finally:
            _lib.velta().I2C_Stop(self.handle)

    def write(self, address, data, start=True, stop=True, fast=False):
        """Writes any bytes-like ``data`` to the device at the 7-bit ``address``, as one
        transaction. ``start=False`` continues a transaction a previous call left open
        (``stop=False``); a call with ``start`` after one that left the bus claimed sends a
        repeated start. ``fast`` is accepted for older scripts: every whole transaction runs
        as one engine stream."""
        if start and stop:
            self.transfer(I2cMessage.write(address, data))
            return
        source = Source(data)
        options = (START if start else 0) | (STOP if stop else 0) | ABORT_ON_NACK
        self._part("I2C_DeviceWrite", address, source, options)

    def read(self, address, n, start=True, stop=True, fast=False):
        """Reads ``n`` bytes from the device at ``address`` and returns them as bytes. The last
        byte is not acknowledged when ``stop`` ends the transaction, as I2C asks. ``start``,
        ``stop`` and ``fast`` as in :meth:`write`."""
        if start and stop:
            message = I2cMessage.read(address, n)
            self.transfer(message)
            return bytes(message)
        sink = Sink(fits(n, ctypes.c_uint32, "byte count", "I2C_DeviceRead"))
        options = (START if start else 0) | (STOP | NACK_FINAL_BYTE if stop else 0)
        self._part("I2C_DeviceRead", address, sink, options)
        return sink.bytes()

    def _part(self, operation, address, buffer, options):
        """Part of a transaction split over several calls, through the byte-level call
        ``operation``; on failure frees the bus with a stop before raising."""
        address = _address(address, operation)
        fits(buffer.length, ctypes.c_uint32, "byte count", operation)
        lib, handle, done = _lib.velta(), self.handle, ctypes.c_uint32()
        status = getattr(lib, operation)(handle, address, buffer.length, buffer.address, ctypes.byref(done), options)
        if status == Status.SUCCESS and done.value != buffer.length:
            status = Status.IO_FAILURE  # a read cut short is reported as a success with a smaller count
        if status != Status.SUCCESS:
            self._fail(status, operation)

    def write_read(self, address, data, n, fast=False):
        """Writes ``data``, then reads ``n`` bytes after a repeated start, in one transaction
        (a register address, then its contents, for one)."""
        reply = I2cMessage.read(address, n)
        self.transfer(I2cMessage.write(address, data), reply)
        return bytes(reply)

    def scan(self):
        """Addresses 0x08 to 0x77 at which a device acknowledges, as a list."""
        found = []
        for address in SCAN_RANGE:
            try:
                self.transfer(I2cMessage.write(address, b""))
            except NoDevice:
                continue
            found.append(address)
        return found
