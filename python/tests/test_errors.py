import pytest

import velta
from velta import tq

# The class each status raises, for every status libVELTA has and one of the driver's own.
STATUS_CLASSES = [
    (velta.Status.BAD_HANDLE, velta.BadHandle),
    (velta.Status.NO_DEVICE, velta.NoDevice),
    (velta.Status.IO_FAILURE, velta.IOFailure),
    (velta.Status.NO_RESOURCES, velta.NoResources),
    (velta.Status.BAD_PARAMETER, velta.BadParameter),
    (velta.Status.WRITE_REFUSED, velta.WriteRefused),
    (velta.Status.UNSUPPORTED, velta.Unsupported),
    (velta.Status.FAILURE, velta.Failure),
    (101, velta.DriverError),
]


def test_the_table_covers_every_status_with_a_class_of_its_own():
    assert {status for status, _ in STATUS_CLASSES} >= set(velta.Status) - {velta.Status.SUCCESS}
    assert len({cls for _, cls in STATUS_CLASSES}) == len(STATUS_CLASSES)


@pytest.mark.parametrize("status, cls", STATUS_CLASSES)
def test_each_status_from_the_driver_raises_its_class(velta_sim, status, cls):
    # libVELTA passes a failed driver call's status up unchanged; the package maps it.
    with velta.SpiChannel(0) as spi:
        velta_sim.fail_call("KV_Write", 1, status)
        with pytest.raises(velta.VeltaError) as caught:
            spi.write(b"\x01")
    assert type(caught.value) is cls and caught.value.status == status


@pytest.fixture
def opened(velta_sim):
    """The sensor on channel 0, a memory's SPI channel 1 and the I2C channel 2, their engine
    logs emptied, so that a test sees whether anything reached a bus."""
    with tq.Sensor(0) as sensor, velta.SpiChannel(1) as spi, velta.I2cChannel(2) as i2c:
        for channel in range(3):
            velta_sim.clear_log(channel)
        yield {"sensor": sensor, "spi": spi, "i2c": i2c, "sim": velta_sim}
        assert [velta_sim.engine_log(channel) for channel in range(3)] == [b""] * 3


# Each of these would be cut to the C parameter's width by ctypes (2**32 + k becomes k).
@pytest.mark.parametrize("call", [
    lambda o: velta.SpiChannel(2**32 + 3),
    lambda o: velta.SpiChannel(-1),
    lambda o: velta.SpiChannel(3, clock=2**32 + 1_000_000),
    lambda o: velta.I2cChannel(2**32 + 4),
    lambda o: velta.I2cChannel(4, clock=2**32 + 100_000),
    lambda o: o["spi"].read_bits(2**32 + 8),
    lambda o: o["spi"].write_bits(1, 2**32 + 1),
    lambda o: o["spi"].read(1.0),
    lambda o: o["i2c"].read(0x50, 2**32 + 1),
    lambda o: velta.gpio_write(o["spi"], 0x1FF, 0),
    lambda o: tq.Sensor(2**32 - 1),
    lambda o: tq.Sensor(3, mode=2**32),
    lambda o: tq.Sensor(3, clock=2**32 + 1_000_000),
    lambda o: o["sensor"].read_register(2**32),
    lambda o: o["sensor"].write_register(2**32 + 4, 0),
    lambda o: o["sensor"].write_register(9, 0x01, key=2**32 + tq.OTP_KEY),
    lambda o: o["sensor"].read_samples(2**31),
    lambda o: o["sim"].fail_call("KV_Write", 2**32 + 1, 4),
    lambda o: o["sim"].device_get(2**32, "torqa", "registers"),
])
def test_values_the_c_parameter_cannot_hold_are_refused_before_the_call(opened, call):
    with pytest.raises(velta.BadParameter):
        call(opened)
