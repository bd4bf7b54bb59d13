"""Builds the velta wheel and source archive with the standard library alone, so that pip
installs the package offline on any interpreter, in a venv or not, with or without build
isolation: nothing (setuptools, wheel) has to be fetched or installed first."""

import base64
import hashlib
import io
import runpy
import tarfile
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
NAME = "velta"
VERSION_MODULE = f"{NAME}/_version.py"
_version = runpy.run_path(str(HERE / VERSION_MODULE))
VERSION = _version["__version__"]
if VERSION == _version["UNKNOWN"]:
    raise RuntimeError("no version: build from the source tree, whose Infra/src/libVELTA.h holds it")
SUMMARY = "SPI, I2C, GPIO and Torqa sensor access through VELTA bridges (libVELTA over ctypes)"
TAG = "py3-none-any"
DIST_INFO = f"{NAME}-{VERSION}.dist-info"


def _metadata():
    return (f"Metadata-Version: 2.1\nName: {NAME}\nVersion: {VERSION}\nSummary: {SUMMARY}\n"
            "Requires-Python: >=3.8\nDescription-Content-Type: text/markdown\n\n"
            + (HERE / "README.md").read_text())


def _sources():
    return sorted(p.relative_to(HERE).as_posix() for p in (HERE / NAME).glob("*.py"))


def _files():
    """The package's modules, the version module holding the number itself."""
    files = {name: (HERE / name).read_bytes() for name in _sources()}
    files[VERSION_MODULE] = f'"""Version of this package."""\n\nUNKNOWN = "0+unknown"\n__version__ = "{VERSION}"\n'.encode()
    return files


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    files = _files()
    files[f"{DIST_INFO}/METADATA"] = _metadata().encode()
    files[f"{DIST_INFO}/WHEEL"] = (f"Wheel-Version: 1.0\nGenerator: velta_build\nRoot-Is-Purelib: true\n"
                                   f"Tag: {TAG}\n").encode()
    # The pytest fixture registers itself in every interpreter that has the package.
    files[f"{DIST_INFO}/entry_points.txt"] = b"[pytest11]\nvelta.pytest_plugin = velta.pytest_plugin\n"
    filename = f"{NAME}-{VERSION}-{TAG}.whl"
    with zipfile.ZipFile(Path(wheel_directory) / filename, "w", zipfile.ZIP_DEFLATED) as wheel:
        for name, data in files.items():
            wheel.writestr(name, data)
        record = [_record_line(name, data) for name, data in files.items()] + [f"{DIST_INFO}/RECORD,,"]
        wheel.writestr(f"{DIST_INFO}/RECORD", "\n".join(record) + "\n")
    return filename


def build_sdist(sdist_directory, config_settings=None):
    base = f"{NAME}-{VERSION}"
    filename = f"{base}.tar.gz"
    with tarfile.open(Path(sdist_directory) / filename, "w:gz") as archive:
        files = {name: (HERE / name).read_bytes() for name in ["pyproject.toml", "README.md", "velta_build.py"]}
        files.update(_files())
        files["PKG-INFO"] = _metadata().encode()
        for name, data in files.items():
            info = tarfile.TarInfo(f"{base}/{name}")
            info.size, info.mode = len(data), 0o644
            archive.addfile(info, io.BytesIO(data))
    return filename
