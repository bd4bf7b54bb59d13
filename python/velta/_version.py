"""The package's version: the project's, which libVELTA's public header holds. The build
backend (velta_build.py) puts the number itself in this module's place in the wheel and the
source archive, which have no header beside them; a copy of the package made some other way
has none either, and says so."""

import re
from pathlib import Path

_HEADER = Path(__file__).resolve().parents[2] / "Infra" / "src" / "libVELTA.h"
UNKNOWN = "0+unknown"
try:
    __version__ = re.search(r'#define VELTA_VERSION_TEXT "([^"]+)"', _HEADER.read_text()).group(1)
except OSError:
    __version__ = UNKNOWN
