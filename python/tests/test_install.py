import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

PYTHON_DIR = Path(__file__).resolve().parents[1]

# Run inside the venv: the installed copy, its pytest plugin, and a transfer on the simulated
# bridge (the libraries come from the VELTA_* variables the test suite runs with).
SMOKE = """
import importlib.metadata, sys, velta
assert velta.__file__.startswith(sys.prefix), velta.__file__
print([e.value for e in importlib.metadata.entry_points(group="pytest11") if e.value.startswith("velta")])
with velta.SpiChannel(0) as spi:
    print(len(velta.channels()) > 0, len(spi.exchange(b"\\x9f\\x00")))
"""


def interpreters():
    """Debian's interpreter, and the first python3 on PATH when that is another one."""
    found = {}
    for candidate in ("/usr/bin/python3", shutil.which("python3")):
        if candidate and os.path.exists(candidate):
            base = subprocess.run([candidate, "-c", "import sys; print(sys.base_prefix)"],
                                  capture_output=True, text=True).stdout.strip()
            found.setdefault(base, candidate)
    return list(found.values())


@pytest.mark.parametrize("python", interpreters())
def test_the_documented_venv_recipe_installs_offline(tmp_path, python):
    # No index at all: the machine may be offline, and nothing may be fetched.
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PIP_", "PYTHONPATH"))}
    env.update(PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1")
    venv = tmp_path / "venv"
    subprocess.run([python, "-m", "venv", str(venv)], env=env, check=True, timeout=300)
    subprocess.run([str(venv / "bin" / "pip"), "install", "--quiet", str(PYTHON_DIR)], env=env, cwd=tmp_path,
                   check=True, timeout=300)
    run = subprocess.run([str(venv / "bin" / "python"), "-c", SMOKE], env=env, cwd=tmp_path,
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split("\n")[:2] == ["['velta.pytest_plugin']", "True 2"]
