#!/usr/bin/env bash
# Runs every benchmark against the simulated bridge and prints their figures, each beside its
# floor where it has one.
set -euo pipefail
build="${BUILD:-build}"
unset KVZUBR_SIM_CONFIG KVZUBR_SIM_TRACE
export KVZUBR_SIM_STATE=""
for b in "$build"/bin/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true
done
# velta's memory programmers: a plain program (the 16 MiB flash with the wall clock on takes
# about a minute and a half of wire time, a few seconds of host time).
if [ -x "$build/bin/velta_bench" ]; then
  echo "== velta_bench"
  "$build/bin/velta_bench"
fi
for s in bench/*.sh; do
  [ -x "$s" ] || continue
  echo "== $(basename "$s")"
  BUILD="$build" "$s"
done
