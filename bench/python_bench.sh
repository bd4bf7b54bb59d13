#!/usr/bin/env bash
# The Python package's transaction figures beside bench_transfer's C ones (bench/bench_python.py).
set -euo pipefail
build="$(cd "${BUILD:-build}" && pwd)"
[ -x "$build/bin/bench_transfer" ] || { echo "bench_transfer not built: skipped"; exit 0; }
unset KVZUBR_SIM_CONFIG KVZUBR_SIM_TRACE
export KVZUBR_SIM_STATE=""
# Both sides keep their heap: libVELTA's transaction calls take their stream buffers (over
# 128 KiB) per call, and in a small process glibc gives that memory back and faults it in
# again on every call, which would swamp the host time compared here. The C figure without
# this is printed too.
export GLIBC_TUNABLES=glibc.malloc.trim_threshold=67108864:glibc.malloc.mmap_threshold=67108864
python=/usr/bin/python3
[ -x "$python" ] || python=python3
PYTHONDONTWRITEBYTECODE=1 "$python" "$(dirname "$0")/bench_python.py" "$build"
