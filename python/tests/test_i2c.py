import pytest

import velta

# One I2C channel: an EEPROM at 0x50 (instant write cycle), a register file at 0x48 and a
# recording device at 0x3C that takes one data byte per write.
CONFIG = {"wall_clock": False, "bridges": [{"type": 6, "channels": [
    {"bus": "none"},
    {"bus": "i2c", "devices": [
        {"kind": "eeprom24", "name": "eeprom", "address": 0x50, "write_cycle_us": 0},
        {"kind": "i2c-register", "name": "temp", "address": 0x48},
        {"kind": "i2c-test", "name": "rec", "address": 0x3C, "ack_bytes": 1}]}]}]}
POSITION = 1  # the I2C channel's place in the driver's list; its engine index is 1 too


@pytest.fixture
def velta_sim_config():
    return CONFIG


@pytest.fixture
def i2c(velta_sim):
    with velta.I2cChannel(1) as channel:
        yield channel


def events(sim):
    return sim.device_get(POSITION, "rec", "events").decode().split()


@pytest.mark.parametrize("fast", [False, True])
def test_eeprom_written_and_read_back(i2c, velta_sim, fast):
    i2c.write(0x50, b"\x00\x10hello", fast=fast)  # two memory-address bytes, then the data
    assert velta_sim.device_get(POSITION, "eeprom", "memory")[0x10:0x15] == b"hello"
    assert i2c.write_read(0x50, b"\x00\x10", 5, fast=fast) == b"hello"
    i2c.write(0x50, b"\x00\x12")
    assert i2c.read(0x50, 3, fast=fast) == b"llo"


def test_scan_finds_every_device(i2c):
    assert i2c.scan() == [0x3C, 0x48, 0x50]


@pytest.mark.parametrize("fast", [False, True])
@pytest.mark.parametrize("call, error", [
    (lambda c, fast: c.write(0x51, b"\x00", fast=fast), velta.NoDevice),
    (lambda c, fast: c.read(0x51, 2, fast=fast), velta.NoDevice),
    (lambda c, fast: c.write(0x3C, b"\x01\x02\x03", fast=fast), velta.WriteRefused),
])
def test_refusals_raise_and_free_the_bus(i2c, velta_sim, call, error, fast):
    with pytest.raises(error):
        call(i2c, fast)
    velta_sim.device_put(POSITION, "rec", "events", b"")
    i2c.write(0x3C, b"\x07")
    assert events(velta_sim) == ["start", "addr", "3c", "w", "write", "07", "ack", "stop"]


def test_read_does_not_acknowledge_its_last_byte(i2c, velta_sim):
    velta_sim.device_put(POSITION, "rec", "read_data", b"\x01\x02")
    assert i2c.read(0x3C, 2) == b"\x01\x02"
    assert events(velta_sim)[-7:] == ["read", "01", "ack", "read", "02", "nack", "stop"]


@pytest.mark.parametrize("call", [
    lambda c: c.write(0x80, b"\x00"),
    lambda c: c.read(-1, 1),
    lambda c: c.read(0x50, -1),
])
def test_bad_arguments_are_refused_before_the_bus(i2c, velta_sim, call):
    velta_sim.clear_log(POSITION)
    with pytest.raises(velta.BadParameter):
        call(i2c)
    assert velta_sim.engine_log(POSITION) == b""


@pytest.mark.parametrize("make", [lambda: velta.SpiChannel(1), lambda: velta.I2cChannel(1)])
def test_gpio_on_either_channel(velta_sim, make):
    with make() as channel:
        velta_sim.clear_log(POSITION)
        velta.gpio_write(channel, 0xFF, 0x0F)
        assert velta.gpio_read(channel) == 0x0F
        assert velta_sim.engine_log(POSITION) == bytes([0x82, 0x0F, 0xFF, 0x83, 0x87])
        with pytest.raises(velta.BadParameter):
            velta.gpio_write(channel, 0x100, 0)


def test_transfer_runs_messages_as_one_transaction(i2c, velta_sim):
    write, read = velta.I2cMessage.write, velta.I2cMessage.read
    # The memory address and the data as two messages, the second continuing the first.
    i2c.transfer(write(0x50, b"\x00\x40"), write(0x50, b"abc", no_start=True))
    pointer, data = write(0x50, b"\x00\x40"), read(0x50, 3)
    i2c.transfer(pointer, data)
    assert bytes(data) == b"abc" and list(data) == list(b"abc") and len(data) == 3
    velta_sim.device_set(POSITION, "temp", "temperature_c", 25.5)
    register = read(0x48, 2)
    i2c.transfer(write(0x48, b"\x00"), register)
    assert bytes(register) == i2c.write_read(0x48, b"\x00", 2) == b"\x19\x80"


@pytest.mark.parametrize("messages, error, message_index, byte_index", [
    (lambda w, r: [w(0x50, b"\x00\x00"), r(0x51, 2)], velta.NoDevice, 1, None),
    (lambda w, r: [w(0x3C, b"\x01\x02\x03")], velta.WriteRefused, 0, 1),
    (lambda w, r: [w(0x51, b"\x00", ignore_nack=True), w(0x3C, b"\x01", stop=True), w(0x3C, b"\x02\x03")],
     velta.WriteRefused, 2, 1),
])
def test_a_missing_acknowledge_names_its_message_and_byte(i2c, velta_sim, messages, error, message_index,
                                                            byte_index):
    with pytest.raises(error) as caught:
        i2c.transfer(*messages(velta.I2cMessage.write, velta.I2cMessage.read))
    assert (caught.value.message_index, caught.value.byte_index) == (message_index, byte_index)
    assert f"message {message_index}" in str(caught.value)
    velta_sim.device_put(POSITION, "rec", "events", b"")
    i2c.write(0x3C, b"\x07")
    assert events(velta_sim) == ["start", "addr", "3c", "w", "write", "07", "ack", "stop"]


def test_a_short_transfer_raises_io_failure_and_frees_the_bus(i2c, velta_sim):
    # A read longer than one piece of the stream: the piece with the stop is never sent.
    velta_sim.short_transfer("KV_Read", 1, 1)
    with pytest.raises(velta.IOFailure):
        i2c.read(0x3C, 100_000)
    assert events(velta_sim)[-1] == "stop"
    assert i2c.write_read(0x48, b"\x00", 2) == i2c.read(0x48, 2)
