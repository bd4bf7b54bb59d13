"""An SPI session of the Python package, recorded through the recording driver on the simulated
bridge, replays with no bridge at all: the same output, files and exit status; a session that
sends something else stops at that call."""
import os
import subprocess
import sys
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).resolve().parents[2] / "examples" / "python"
RECORDER = os.environ.get("VELTA_TEST_RECORDER", "")

pytestmark = pytest.mark.skipif(not RECORDER, reason="the recording driver's path is not given")


def run(tmp_path, env, script, args):
    return subprocess.run([sys.executable, str(EXAMPLES / script), *args], cwd=tmp_path,
                          env=dict(os.environ, KVZUBR_SIM_STATE="", **env),
                          capture_output=True, text=True, timeout=120)


def record(tmp_path, script, args):
    return run(tmp_path, {"VELTA_DRIVER": RECORDER, "KVZUBR_RECORD_DRIVER": os.environ["VELTA_DRIVER"],
                          "KVZUBR_RECORD": str(tmp_path / "session.jsonl")}, script, args)


def replay(tmp_path, script, args):
    (tmp_path / "no-bridges.json").write_text('{"bridges": []}')
    return run(tmp_path, {"KVZUBR_SIM_CONFIG": str(tmp_path / "no-bridges.json"),
                          "KVZUBR_SIM_REPLAY": str(tmp_path / "session.jsonl")}, script, args)


@pytest.mark.parametrize("script, args, files", [
    ("flash_id.py", [], []),
    ("sensor_burst.py", ["--samples", "300", "--out", "burst.csv"], ["burst.csv"]),
])
def test_recorded_session_replays_with_no_bridge(tmp_path, script, args, files):
    live = record(tmp_path, script, args)
    assert live.returncode == 0, live.stderr
    written = {name: (tmp_path / name).read_bytes() for name in files}
    for name in files:
        (tmp_path / name).unlink()
    again = replay(tmp_path, script, args)
    assert (again.returncode, again.stdout, again.stderr) == (live.returncode, live.stdout, live.stderr)
    assert {name: (tmp_path / name).read_bytes() for name in files} == written


def test_changed_session_stops_at_the_changed_call(tmp_path):
    assert record(tmp_path, "flash_id.py", []).returncode == 0
    again = replay(tmp_path, "flash_id.py", ["--clock", "2000000"])
    assert again.returncode != 0
    ours = [line for line in again.stderr.splitlines() if line.startswith("kvzubr-sim: replay ")]
    assert len(ours) == 1 and "session.jsonl: call " in ours[0] and "KV_Write data byte" in ours[0], again.stderr


FORKING = """import os, sys, velta
print(len(velta.channels()))
if os.fork() == 0:
    sys.exit(0)
os.wait()
print(len(velta.channels()))
"""


def test_forked_child_leaves_the_session_to_its_parent(tmp_path):
    """A child that exits shares the recording file and the replay with its parent, not the
    session: it neither closes the recording nor reports the replay unfinished."""
    script = tmp_path / "forking.py"
    script.write_text(FORKING)
    live = record(tmp_path, script, [])
    assert live.returncode == 0, live.stderr
    lines = (tmp_path / "session.jsonl").read_text().splitlines()
    assert [i for i, line in enumerate(lines) if '"end"' in line] == [len(lines) - 1]
    again = replay(tmp_path, script, [])
    assert (again.returncode, again.stdout, again.stderr) == (live.returncode, live.stdout, live.stderr)
