#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 60) under
# AddressSanitizer and UndefinedBehaviorSanitizer, starting from the seeds in fuzz/corpus.
# New inputs go to build-fuzz/corpus-*, findings to build-fuzz/finding-*; a finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${BUILD_FUZZ:-build-fuzz}
cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" -j "${JOBS:-2}"
for target in config state engine recording; do
  mkdir -p "$build/corpus-$target"
  echo "fuzz: $target for ${seconds} s"
  log="$build/$target.log"
  if ! "$build/${target}_fuzz" -max_total_time="$seconds" -close_fd_mask=3 -print_final_stats=1 \
      -artifact_prefix="$build/finding-$target-" "$build/corpus-$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "fuzz: $target found a fault (see $log)" >&2
    exit 1
  fi
  grep -E 'DONE|^stat::(number_of_executed_units|peak_rss_mb)' "$log"
done
