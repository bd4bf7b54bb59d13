# A user's test module: its own configuration, a script under test, and a check that every
# test starts from factory state with the state file in its own temporary directory.
USER_TESTS = '''
import pytest
import velta

pytest_plugins = ["velta.pytest_plugin"]

@pytest.fixture
def velta_sim_config():
    return {"wall_clock": False, "bridges": [{"type": 8, "serial": "MINE0001", "channels": [
        {"bus": "i2c", "devices": [{"kind": "eeprom24", "address": 80, "size": 256, "write_cycle_us": 0}]}]}]}

def store_greeting(index):
    with velta.I2cChannel(index) as bus:
        bus.write(0x50, b"\\x00hi")

@pytest.mark.parametrize("run", [1, 2])
def test_script_writes_the_eeprom(velta_sim, tmp_path, run):
    assert [c.serial for c in velta.channels()] == ["MINE0001"]
    assert velta_sim.device_get(0, "eeprom24", "memory")[:2] == b"\\xff\\xff"
    store_greeting(0)
    assert velta_sim.device_get(0, "eeprom24", "memory")[:2] == b"hi"
    assert b"hi" in (tmp_path / "kvzubr-state.json").read_bytes()
'''


def test_fixture_in_a_users_test_suite(pytester):
    pytester.makepyfile(test_user=USER_TESTS)
    result = pytester.runpytest_subprocess("-p", "no:cacheprovider")
    result.assert_outcomes(passed=2)
