"""Smoke test of an installed velta package (a wheel in a venv) on an installed simulated bridge:
scripts/check-packages.sh runs it from outside the source tree, under the kvzubr-sim launcher."""

import os
import sys

import velta

# The default board's type 6 bridge: its I2C channel (the third channel) has an EEPROM at 0x50
# and a register device at 0x48.
I2C_CHANNEL = 2


def test_the_installed_package_runs_on_the_installed_simulator(velta_sim):
    assert velta.__file__.startswith(sys.prefix), velta.__file__
    assert velta.__version__ == os.environ["VELTA_EXPECTED_VERSION"]
    assert any(info.description for info in velta.channels())
    with velta.I2cChannel(I2C_CHANNEL) as i2c:
        assert i2c.scan() == [0x48, 0x50]
        i2c.write(0x50, b"\x00\x20wheel")
    assert velta_sim.device_get(I2C_CHANNEL, "eeprom", "memory")[0x20:0x25] == b"wheel"
