"""Control of the simulated bridge driver: configuration, devices, faults, logs and traces.

Channels here are positions in the driver's device list (from 0), which count every channel
of every bridge, also those without an engine, so they can differ from the SPI and I2C
indexes. Everything raises :class:`NotSimulator` when the loaded driver is
not the simulator, and :class:`SimulatorError` when the simulator refuses a request (it
prints the reason on standard error)."""

import contextlib
import ctypes
import enum
import json
import os

from . import _lib
from ._buffers import Sink, Source
from .errors import fits


class SimulatorError(RuntimeError):
    """The simulator refused a request (unknown channel, device or key, a bad configuration)."""


class NotSimulator(SimulatorError):
    """The loaded bridge driver is not the simulator."""


class Entry(enum.IntEnum):
    """The driver's entry points, for :func:`fail_call` and :func:`short_transfer`."""

    GetLibraryVersion = 0
    CreateDeviceInfoList = 1
    GetDeviceInfoList = 2
    Open = 3
    Close = 4
    ResetDevice = 5
    Purge = 6
    SetUSBParameters = 7
    SetChars = 8
    SetTimeouts = 9
    SetLatencyTimer = 10
    SetBitMode = 11
    GetQueueStatus = 12
    Read = 13
    Write = 14
    GetDeviceInfo = 15


_declared = []


def _sim():
    driver = _lib.driver()
    if not _declared:
        if not hasattr(driver, "kvsim_reset"):
            raise NotSimulator(f"the loaded bridge driver {driver._name} is not the simulator")
        _lib._declare(driver, _lib.SIM_PROTOTYPES)
        _declared.append(driver)
    return driver


def _ok(result, what):
    if result != 0:
        raise SimulatorError(f"the simulator refused {what} (its reason is on standard error)")


def _channel(channel, operation):
    return fits(channel, ctypes.c_uint, "channel", operation)


def _entry(entry):
    if isinstance(entry, str):
        name = entry[3:] if entry.startswith("KV_") else entry
        try:
            return Entry[name]
        except KeyError:
            raise ValueError(f"no driver entry point {entry!r}") from None
    return Entry(entry)


def load_config(config):
    """Replaces every bridge with the configuration ``config``: a dict (as the JSON
    configuration file holds it) or the path of a JSON file. Open channels become invalid."""
    if isinstance(config, dict):
        _ok(_sim().kvsim_load_config_json(json.dumps(config).encode()), "the configuration")
    else:
        _ok(_sim().kvsim_load_config_file(os.fsencode(config)), f"the configuration {config}")


def reset():
    """Back to the configuration named by KVZUBR_SIM_CONFIG, or the built-in one."""
    _ok(_sim().kvsim_reset(), "the reset")


def channel_count():
    """Number of channels in the driver's device list."""
    return _sim().kvsim_channel_count()


def attach_device(channel, device):
    """Adds a device, given as a dict like a configuration's device object, to a channel's bus."""
    channel = _channel(channel, "attach_device")
    _ok(_sim().kvsim_attach_device(channel, json.dumps(device).encode()), f"the device {device}")


def device_get(channel, device, key):
    """A device's data by key ("memory", "registers", "frames", ...) as bytes."""
    sim, length = _sim(), ctypes.c_size_t()
    args = (_channel(channel, "device_get"), device.encode(), key.encode())
    _ok(sim.kvsim_device_get(*args, None, 0, ctypes.byref(length)), f"{device}/{key}")
    sink = Sink(length.value)
    _ok(sim.kvsim_device_get(*args, sink.address, sink.length, ctypes.byref(length)), f"{device}/{key}")
    return sink.bytes()


def device_put(channel, device, key, data):
    """Stores device data by key (memory contents, scripted answers, ...) from any bytes-like."""
    source, channel = Source(data), _channel(channel, "device_put")
    _ok(_sim().kvsim_device_put(channel, device.encode(), key.encode(), source.address, source.length),
        f"{device}/{key}")


def device_set(channel, device, key, value):
    """Sets a numeric device setting by key (rotation speed, noise, write-cycle time, ...)."""
    channel = _channel(channel, "device_set")
    _ok(_sim().kvsim_device_set(channel, device.encode(), key.encode(), float(value)), f"{device}/{key}={value}")


@contextlib.contextmanager
def trace(channel, path):
    """Writes a Value Change Dump of the channel's pins to ``path`` for the ``with`` block."""
    sim, channel = _sim(), _channel(channel, "trace")
    _ok(sim.kvsim_trace_start(channel, os.fsencode(path)), f"a trace to {path}")
    try:
        yield path
    finally:
        sim.kvsim_trace_stop(channel)


def fail_call(entry, nth, status):
    """Makes driver entry point ``entry`` (an :class:`Entry`, or a name like "KV_Write") fail
    with ``status`` on its ``nth`` call from now (1 = the next). Fires once."""
    nth = fits(nth, ctypes.c_uint, "call count", "fail_call")
    status = fits(status, ctypes.c_uint32, "status", "fail_call")
    _ok(_sim().kvsim_fail_call(_entry(entry), nth, status), f"a fault on {entry}")


def short_transfer(entry, nth, count):
    """Makes the ``nth`` KV_Read or KV_Write from now move at most ``count`` bytes."""
    nth = fits(nth, ctypes.c_uint, "call count", "short_transfer")
    count = fits(count, ctypes.c_uint32, "byte count", "short_transfer")
    _ok(_sim().kvsim_short_transfer(_entry(entry), nth, count), f"a short transfer on {entry}")


def clear_faults():
    """Drops every fault not yet fired."""
    _sim().kvsim_clear_faults()


def _known(sim, channel):
    channel = _channel(channel, "the engine log")
    if not channel < sim.kvsim_channel_count():
        raise SimulatorError(f"no channel {channel} in the simulator's device list")
    return channel


def engine_log(channel):
    """Every byte the host wrote to the channel's engine (since loading or :func:`clear_log`)."""
    sim = _sim()
    channel = _known(sim, channel)
    sink = Sink(sim.kvsim_log_size(channel))
    count = sim.kvsim_log_read(channel, sink.address, sink.length)
    return sink.bytes()[:count]


def clear_log(channel):
    """Empties the channel's engine log."""
    sim = _sim()
    sim.kvsim_log_clear(_known(sim, channel))


def save_state():
    """Writes the devices' changed state to the state file now."""
    _ok(_sim().kvsim_save_state(), "saving the state")
