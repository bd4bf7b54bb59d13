import ctypes
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import velta
from velta import _lib

SOURCE = Path(__file__).resolve().parents[2]
PACKAGE = SOURCE / "python" / "velta"

PROBE = """
import velta
try:
    velta.channels()
except velta.DriverNotFound as e:
    print("DriverNotFound:", e)
"""


@pytest.mark.parametrize("driver, reason", [
    ("/nonexistent/libkvzubr.so", "cannot load /nonexistent/libkvzubr.so (named by VELTA_DRIVER): "),
    ("", "cannot load libkvzubr.so (through the system loader, VELTA_DRIVER unset): "),
    ("libm.so.6", "does not answer to the name libkvzubr.so"),
])
def test_no_driver_raises_instead_of_ending_the_interpreter(tmp_path, driver, reason):
    # A copy of the package away from the build tree, so only the environment and the system
    # loader can offer a driver.
    shutil.copytree(PACKAGE, tmp_path / "velta")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("VELTA_", "LD_LIBRARY_PATH"))}
    env.update(PYTHONPATH=str(tmp_path), VELTA_DRIVER=driver)
    run = subprocess.run([sys.executable, "-c", PROBE], env=env, capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert "DriverNotFound:" in run.stdout and reason in run.stdout
    assert "set VELTA_DRIVER to " in run.stdout


C_TYPES = {
    "KV_STATUS": [ctypes.c_uint32], "uint32_t": [ctypes.c_uint32], "unsigned": [ctypes.c_uint],
    "uint8_t": [ctypes.c_uint8], "int": [ctypes.c_int], "size_t": [ctypes.c_size_t], "double": [ctypes.c_double],
    "kvsim_entry": [ctypes.c_int], "void": [None], "KV_HANDLE": [_lib.KV_HANDLE], "const char *": [ctypes.c_char_p],
    "KV_HANDLE *": [ctypes.POINTER(_lib.KV_HANDLE)], "uint32_t *": [ctypes.POINTER(ctypes.c_uint32)],
    "size_t *": [ctypes.POINTER(ctypes.c_size_t)], "uint8_t *": [_lib.BUFFER, ctypes.POINTER(ctypes.c_uint8)],
    "const uint8_t *": [_lib.BUFFER], "void *": [_lib.BUFFER],
    "DeviceListEntry *": [ctypes.POINTER(_lib.DeviceListEntry)],
    "ChannelConfig *": [ctypes.POINTER(_lib.ChannelConfig)],
    "I2CChannelConfig *": [ctypes.POINTER(_lib.I2CChannelConfig)],
    "const SPITransfer *": [ctypes.POINTER(_lib.SPITransfer)],
    "const I2CMessage *": [ctypes.POINTER(_lib.I2CMessage)],
    "I2CTransferFault *": [ctypes.POINTER(_lib.I2CTransferFault)],
}
HEADERS = ["MiddleLayer/src/korvin_mid.h", "TopLayer/SPI/src/libVELTA_spi.h", "TopLayer/I2C/src/libVELTA_i2c.h",
           "TQlib/include/tq_api.h", "simulator/include/kvsim.h"]


def declarations():
    found = {}
    for header in HEADERS:
        text = re.sub(r"/\*.*?\*/", "", (SOURCE / header).read_text(), flags=re.S)
        for result, name, args in re.findall(r"(?:KV|TQ|KVSIM)_API\s+([\w ]+?)\s*\b(\w+)\(([^)]*)\);", text):
            params = [re.sub(r"\s*\b\w+$", "", a.strip()) for a in args.split(",")]  # drops the names
            found[name] = (result, [p for p in params if p])
    return found


def test_prototypes_match_the_c_headers():
    """Argument widths, and above all the pointer-sized handle, as the headers declare them."""
    declared = declarations()
    tables = {**_lib.VELTA_PROTOTYPES, **_lib.TQ_PROTOTYPES, **_lib.SIM_PROTOTYPES}
    for name, (restype, argtypes) in tables.items():
        result, params = declared[name]
        assert restype in C_TYPES[result], name
        assert len(argtypes) == len(params), name
        for given, c_type in zip(argtypes, params):
            assert given in C_TYPES[c_type], f"{name}: {c_type}"


def test_errors_name_their_status_and_operation():
    error = velta.IOFailure(velta.Status.IO_FAILURE, "SPI_Read")
    assert error.status is velta.Status.IO_FAILURE and error.operation == "SPI_Read"
    assert "IO_FAILURE" in str(error) and "SPI_Read" in str(error)
    assert isinstance(velta.BadParameter(6, "x"), ValueError)
    driver_status = velta.VeltaError(101, "SPI_Write")
    assert driver_status.status == 101 and "101" in str(driver_status)
