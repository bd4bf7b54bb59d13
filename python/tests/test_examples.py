import os
import subprocess
import sys
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).resolve().parents[2] / "examples" / "python"


@pytest.mark.parametrize("script, args, expected", [
    ("eeprom_dump.py", ["--size", "32"], "0010  ff ff"),
    ("eeprom_dump.py", ["--address", "0x51"], "no device answers at 0x51"),
    ("flash_id.py", [], "status: 0x00"),
    ("sensor_burst.py", ["--samples", "500", "--out", "burst.csv"], "500 samples written to burst.csv; 0 with"),
])
def test_examples_run_against_the_simulator(tmp_path, script, args, expected):
    env = dict(os.environ, KVZUBR_SIM_STATE=str(tmp_path / "state.json"))
    run = subprocess.run([sys.executable, str(EXAMPLES / script), *args], cwd=tmp_path, env=env,
                         capture_output=True, text=True, timeout=120)
    assert expected in run.stdout + run.stderr
    if script == "sensor_burst.py":
        rows = (tmp_path / "burst.csv").read_text().splitlines()
        assert len(rows) == 501 and rows[0].startswith("sample,time_us,raw_angle")
