import array
import time

import pytest

import velta

# Bridge 0: one SPI channel (driver position 0, SPI index 0) with recording devices on
# chip-select 3 and 4. Bridge 1: a memory (busy() reads every low pin, so it has a bus of its own).
CONFIG = {"wall_clock": False, "bridges": [
    {"type": 8, "serial": "KV8S0001", "channels": [{"bus": "spi", "devices": [
        {"kind": "spi-test", "name": "rec", "cs": 3},
        {"kind": "spi-test", "name": "rec4", "cs": 4}]}]},
    {"type": 8, "serial": "KV8S0002", "channels": [{"bus": "spi", "devices": [
        {"kind": "spi-memory", "name": "mem", "cs": 3, "write_cycle_us": 100000}]}]}]}


@pytest.fixture
def velta_sim_config():
    return CONFIG


@pytest.fixture
def spi(velta_sim):
    with velta.SpiChannel(0, clock=10_000_000) as channel:
        velta_sim.clear_log(0)
        yield channel


def test_write_sends_one_frame_with_chip_select_around_it(spi, velta_sim):
    # Chip-select pin 3 low for the frame; the other candidates 4 to 7 rest released (high).
    spi.write(b"\x01\x02")
    assert velta_sim.engine_log(0) == bytes([0x80, 0xF0, 0x0B, 0x11, 0x01, 0x00, 0x01, 0x02, 0x80, 0xF8, 0x0B])


@pytest.mark.parametrize("data", [
    b"\xa5\x5a\x00", bytearray(b"\xa5\x5a\x00"), memoryview(b"\xff\xa5\x5a\x00")[1:],
    array.array("B", [0xA5, 0x5A, 0x00]), memoryview(bytearray(b"\xa5.\x5a.\x00"))[::2],
])
def test_any_bytes_like_is_written(spi, velta_sim, frames_of, data):
    spi.write(data)
    assert frames_of(velta_sim, 0, "rec") == [(24, b"\xa5\x5a\x00")]


def test_transfers_longer_than_one_engine_command_stay_one_frame(spi, velta_sim, frames_of):
    data = bytes(range(256)) * 300
    spi.write(data)
    assert frames_of(velta_sim, 0, "rec") == [(len(data) * 8, data)]
    velta_sim.device_put(0, "rec", "answers", data)
    assert spi.read(len(data)) == data


def test_read_and_exchange_return_the_device_answers(spi, velta_sim, frames_of):
    velta_sim.device_put(0, "rec", "answers", b"\x10\x20\x30\x40\x50")
    assert spi.read(2) == b"\x10\x20"
    assert spi.exchange(b"\x01\x02\x03") == b"\x30\x40\x50"
    assert frames_of(velta_sim, 0, "rec") == [(16, b"\x00\x00"), (24, b"\x01\x02\x03")]


def test_a_frame_may_span_several_calls(spi, velta_sim, frames_of):
    spi.write(b"\x03\x00", end=False)
    spi.read(2, start=False, end=False)
    spi.write(b"", start=False)
    assert frames_of(velta_sim, 0, "rec") == [(32, b"\x03\x00\x00\x00")]


def test_bit_transfers_take_and_give_right_aligned_integers(spi, velta_sim, frames_of):
    spi.write_bits(0b101, 3)
    spi.write_bits(0xABC, 12)
    velta_sim.device_put(0, "rec", "answers", b"\xab\xcd")
    assert spi.read_bits(12) == 0xABC
    assert frames_of(velta_sim, 0, "rec") == [(3, b"\xa0"), (12, b"\xab\xc0"), (12, b"\x00\x00")]


def test_change_cs_moves_the_frames_to_the_other_device(spi, velta_sim, frames_of):
    spi.change_cs(4)
    spi.write(b"\x42")
    assert frames_of(velta_sim, 0, "rec4") == [(8, b"\x42")]
    assert frames_of(velta_sim, 0, "rec") == []


def test_busy_follows_the_memory_write_cycle(velta_sim):
    with velta.SpiChannel(1) as spi:
        assert not spi.busy()
        spi.write(b"\x06")
        spi.write(b"\x02\x00\x00\x99")
        assert spi.busy()


@pytest.mark.parametrize("make, error, status", [
    (lambda: velta.SpiChannel(7), velta.VeltaError, velta.Status.BAD_HANDLE),
    (lambda: velta.SpiChannel(0, mode=4), velta.BadParameter, velta.Status.BAD_PARAMETER),
    (lambda: velta.SpiChannel(0, cs=8), velta.BadParameter, velta.Status.BAD_PARAMETER),
    (lambda: velta.SpiChannel(0, clock=30_000_001), velta.BadParameter, velta.Status.BAD_PARAMETER),
])
def test_refused_opens_raise_and_leave_the_channel_free(velta_sim, make, error, status):
    with pytest.raises(error) as caught:
        make()
    assert caught.value.status == status
    with velta.SpiChannel(0):
        pass


@pytest.mark.parametrize("fault, call, error, status", [
    (("fail_call", "KV_Write", 1, 4), lambda s: s.write(b"\x01"), velta.IOFailure, velta.Status.IO_FAILURE),
    (("fail_call", "KV_Read", 1, 101), lambda s: s.read(4), velta.VeltaError, 101),
    (("short_transfer", "KV_Read", 1, 3), lambda s: s.read(4), velta.IOFailure, velta.Status.IO_FAILURE),
    (("short_transfer", "KV_Write", 1, 1), lambda s: s.exchange(b"\x01\x02"), velta.IOFailure,
     velta.Status.IO_FAILURE),
])
def test_driver_faults_raise_with_their_status(spi, velta_sim, fault, call, error, status):
    getattr(velta_sim, fault[0])(*fault[1:])
    with pytest.raises(error) as caught:
        call(spi)
    assert caught.value.status == status and type(caught.value.status) is type(status)
    assert caught.value.operation.startswith("SPI_")
    # Nothing the failed call left queued is taken for the next call's answer.
    velta_sim.device_put(0, "rec", "answers", b"\x42\x43")
    assert spi.read(2) == b"\x42\x43"


def test_a_closed_or_busy_channel_is_refused(spi):
    with pytest.raises(velta.VeltaError) as caught:
        velta.SpiChannel(0)
    assert caught.value.status == 103  # the driver's "already open", passed through
    spi.close()
    spi.close()
    with pytest.raises(velta.VeltaError) as caught:
        spi.write(b"\x00")
    assert caught.value.status == velta.Status.BAD_HANDLE


def test_channels_lists_the_bridges(velta_sim):
    assert [(c.index, c.device_type, c.serial, c.location & 0xF) for c in velta.channels()] == [
        (0, 8, "KV8S0001", 1), (1, 8, "KV8S0002", 1)]


def test_xfer_programs_and_reads_back_the_memory(velta_sim):
    velta_sim.device_set(1, "mem", "write_cycle_us", 50)
    with velta.SpiChannel(1) as memory:
        memory.xfer([0x06])  # write enable, its own frame
        memory.xfer(b"\x02\x00\x10", keep_cs=True)  # page program: command and address ...
        memory.xfer(b"hello")  # ... and data in the same frame, written when it ends
        polls = 1
        while memory.xfer([0x05, 0x00])[1] & 1:
            polls += 1
            assert polls < 100
        assert polls > 1  # the write cycle was seen, and its end
        reply = memory.xfer([0x03, 0x00, 0x10] + [0] * 5)
        assert reply[3:] == list(b"hello")
        assert memory.xfer(bytearray(b"\x03\x00\x11\x00\x00"))[3:] == b"el"


def test_xfer_keeps_chip_select_and_waits_when_asked(spi, velta_sim, frames_of):
    velta_sim.device_put(0, "rec", "answers", b"\x10\x20\x30")
    assert spi.xfer([0x01, 0x02], keep_cs=True) == [0x10, 0x20]
    began = time.monotonic()
    assert spi.xfer(b"\x03", delay_us=20_000) == b"\x30"
    assert time.monotonic() - began >= 0.02
    assert frames_of(velta_sim, 0, "rec") == [(24, b"\x01\x02\x03")]
    with pytest.raises(velta.BadParameter):
        spi.xfer([0x100])
