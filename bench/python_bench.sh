#!/usr/bin/env bash
# The Python package's transaction figures beside bench_transfer's C ones (bench/bench_python.py).
set -euo pipefail
build="$(cd "${BUILD:-build}" && pwd)"
[ -x "$build/bin/bench_transfer" ] || { echo "bench_transfer not built: skipped"; exit 0; }
unset KVZUBR_SIM_CONFIG KVZUBR_SIM_TRACE
export KVZUBR_SIM_STATE=""
python=/usr/bin/python3
[ -x "$python" ] || python=python3
PYTHONDONTWRITEBYTECODE=1 "$python" "$(dirname "$0")/bench_python.py" "$build"
