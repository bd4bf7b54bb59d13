"""pytest fixtures for testing scripts against the simulated bridge.

``velta_sim`` gives each test a fresh simulator whose device state lives in the test's
temporary directory, loaded with the configuration that the ``velta_sim_config`` fixture
returns: a dict as the JSON configuration file holds it, or None (the default) for the
built-in one. Override ``velta_sim_config`` in a test module or conftest.py to set up your
own bridges and devices. The fixture's value is the :mod:`velta.sim` module."""

import pytest

from . import sim


@pytest.fixture
def velta_sim_config():
    """The configuration ``velta_sim`` loads: None for the simulator's built-in one."""
    return None


@pytest.fixture
def velta_sim(velta_sim_config, tmp_path, monkeypatch):
    """A fresh simulated bridge for one test (see the module's description)."""
    monkeypatch.setenv("KVZUBR_SIM_STATE", str(tmp_path / "kvzubr-state.json"))
    monkeypatch.delenv("KVZUBR_SIM_CONFIG", raising=False)
    monkeypatch.delenv("KVZUBR_SIM_TRACE", raising=False)
    if velta_sim_config is None:
        sim.reset()
    else:
        sim.load_config(velta_sim_config)
    yield sim
    # Drops the test's channels and devices while the state file is still the test's own.
    sim.reset()
