import pytest

import velta
from velta import tq


@pytest.fixture
def sensor(velta_sim):
    with tq.Sensor() as s:
        yield s


def test_registers_read_write_and_one_time_programming(sensor, velta_sim):
    assert sensor.read_register(0) == 0x21
    sensor.write_register(4, 0x12)
    assert sensor.read_register(4) == 0x12
    with pytest.raises(velta.BadParameter):
        sensor.write_register(9, 0x01)
    sensor.write_register(9, 0x01, key=tq.OTP_KEY)
    assert velta_sim.device_get(0, "torqa", "registers")[4:10] == bytes([0x12, 0, 0, 0x40, 0, 0x01])


def test_samples_carry_angle_degrees_and_status(sensor, velta_sim):
    for key, value in (("rpm", 0), ("noise_deg", 0), ("angle_deg", 90)):
        velta_sim.device_set(0, "torqa", key, value)
    samples = sensor.read_samples(5000)
    assert len(samples) == 5000
    for raw, degrees, status in samples:
        assert bin(raw << 8 | status).count("1") % 2 == 1
        assert degrees == raw * 360 / 65536
    assert samples[-1].raw_angle == 16384 and samples[-1].status & 0xC0 == 0


def test_a_channel_without_sensor_is_refused_at_open(velta_sim):
    with pytest.raises(velta.NoDevice):
        tq.Sensor(1)  # the memory's channel: no sensor answers


@pytest.mark.parametrize("kwargs", [{"index": 99}, {"mode": 4}])
def test_refused_opens(velta_sim, kwargs):
    with pytest.raises(velta.VeltaError):
        tq.Sensor(**kwargs)
