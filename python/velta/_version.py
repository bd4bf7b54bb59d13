"""The package's version: the project's, which libVELTA's public header holds. The build
backend (velta_build.py) puts the number itself in this module's place in the wheel and the
source archive, which have no header beside them."""

import re
from pathlib import Path

_HEADER = Path(__file__).resolve().parents[2] / "Infra" / "src" / "libVELTA.h"
__version__ = re.search(r'#define VELTA_VERSION_TEXT "([^"]+)"', _HEADER.read_text()).group(1)
