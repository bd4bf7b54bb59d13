import pytest

import velta

# An open-drain bridge whose register device holds SCL 50 us after each byte, SCL wired back
# to pin 7, and a full-speed bridge, which has neither clock stretching nor three-phase clocking.
CONFIG = {"wall_clock": False, "bridges": [
    {"type": 8, "channels": [{"bus": "i2c", "scl_return": True, "devices": [
        {"kind": "i2c-register", "name": "temp", "address": 0x48, "temperature_c": 25.5, "stretch_us": 50}]}]},
    {"type": 4, "channels": [{"bus": "i2c", "devices": [{"kind": "i2c-register", "name": "reg", "address": 0x49}]},
                             {"bus": "none"}]}]}
THREE_PHASE_ON = 0x8C
TEMPERATURE = b"\x19\x80"  # 25.5 degC


@pytest.fixture
def velta_sim_config():
    return CONFIG


@pytest.mark.parametrize("fast", [False, True])
def test_register_read_right_only_with_clock_stretching(velta_sim, fast):
    with velta.I2cChannel(0, drive_zero_only=True, clock_stretching=True) as i2c:
        assert i2c.write_read(0x48, b"\x00", 2, fast=fast) == TEMPERATURE
    # Without it the pointer byte is clocked while the device still holds SCL after its
    # address: the device hears it shifted and the acknowledge slot finds SDA released.
    with velta.I2cChannel(0, drive_zero_only=True) as i2c:
        with pytest.raises(velta.WriteRefused):
            i2c.write_read(0x48, b"\x00", 2, fast=fast)


def test_full_speed_bridge_refuses_clock_stretching(velta_sim):
    with pytest.raises(velta.BadParameter):
        velta.I2cChannel(1, clock_stretching=True)
    with velta.I2cChannel(1):
        pass


@pytest.mark.parametrize("three_phase", [None, True, False])
def test_full_speed_bridge_reads_back_what_it_wrote(velta_sim, three_phase):
    with velta.I2cChannel(1, three_phase=three_phase) as i2c:
        i2c.write(0x49, b"\x01\xa5")
        assert i2c.write_read(0x49, b"\x01", 1) == b"\xa5"
    # By default the command the bridge lacks is not sent, so the bus runs at the clock asked.
    assert (THREE_PHASE_ON in velta_sim.engine_log(1)) == bool(three_phase)
