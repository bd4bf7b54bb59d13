import pytest

import velta
from velta import sim


def test_trace_writes_a_value_change_dump(velta_sim, tmp_path):
    path = tmp_path / "spi.vcd"
    with velta.SpiChannel(1) as spi, velta_sim.trace(1, path):
        spi.write(b"\x05")
    text = path.read_text()
    assert "$timescale" in text and "MOSI" in text


@pytest.mark.parametrize("call, error", [
    (lambda: sim.load_config({"bridges": [{"type": 8, "channels": [{"bus": "can"}]}]}), sim.SimulatorError),
    (lambda: sim.load_config("/nonexistent/config.json"), sim.SimulatorError),
    (lambda: sim.device_get(0, "nothing", "memory"), sim.SimulatorError),
    (lambda: sim.device_set(0, "torqa", "rpm", float("nan")), sim.SimulatorError),
    (lambda: sim.attach_device(0, {"kind": "no-such-kind"}), sim.SimulatorError),
    (lambda: sim.engine_log(99), sim.SimulatorError),
    (lambda: sim.fail_call("KV_Frobnicate", 1, 4), ValueError),
])
def test_refused_requests_raise(velta_sim, call, error):
    with pytest.raises(error):
        call()


def test_attached_device_answers_and_the_fixture_state_file_is_the_tests(velta_sim, tmp_path):
    velta_sim.attach_device(3, {"kind": "spi-test", "name": "extra", "cs": 4})
    velta_sim.device_put(3, "extra", "answers", b"\x5a")
    with velta.SpiChannel(3, cs=4) as spi:
        assert spi.read(1) == b"\x5a"
    with velta.SpiChannel(1) as flash:
        flash.write(b"\x06")
        flash.write(b"\x02\x00\x00\x42")
    velta_sim.save_state()
    assert (tmp_path / "kvzubr-state.json").exists()


def test_a_driver_that_is_not_the_simulator_is_named(monkeypatch):
    monkeypatch.setitem(sim._lib._loaded, "driver", type("Driver", (), {"_name": "libother.so"})())
    monkeypatch.setattr(sim, "_declared", [])
    with pytest.raises(sim.NotSimulator, match="libother.so"):
        sim.reset()
