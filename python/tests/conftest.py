import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

pytest_plugins = ["velta.pytest_plugin", "pytester"]


def frames(sim, channel, device):
    """The chip-select frames an spi-test device recorded, as (bit count, bytes) pairs."""
    data, found = sim.device_get(channel, device, "frames"), []
    while data:
        bits = int.from_bytes(data[:4], "little")
        size = (bits + 7) // 8
        found.append((bits, data[4:4 + size]))
        data = data[4 + size:]
    return found


@pytest.fixture
def frames_of():
    return frames
