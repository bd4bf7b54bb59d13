#!/usr/bin/env bash
# Runs every benchmark against the simulated bridge and prints their figures.
set -euo pipefail
build="${BUILD:-build}"
unset KVZUBR_SIM_CONFIG KVZUBR_SIM_TRACE
export KVZUBR_SIM_STATE=""
for b in "$build"/bin/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true
done
for s in bench/*.sh; do
  [ -x "$s" ] || continue
  echo "== $(basename "$s")"
  BUILD="$build" "$s"
done
