#!/usr/bin/env bash
# Records `tqread -s10` on the simulated bridge's default board into tqread-s10.jsonl, with what
# it printed in tqread-s10.txt, then replays the recording with no bridge and compares.
# usage: record.sh [BUILD_DIR]   (default: build, under the source tree)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../../build}" && pwd)"
unset KVZUBR_SIM_CONFIG KVZUBR_SIM_TRACE KVZUBR_SIM_REPLAY
export KVZUBR_SIM_STATE=

# The driver is named relative to the build directory, so the recording's header holds no
# path of this machine.
cd "$build"
VELTA_DRIVER=lib/kvzubr-rec/libkvzubr.so KVZUBR_RECORD_DRIVER=lib/libkvzubr.so \
    KVZUBR_RECORD="$here/tqread-s10.jsonl" bin/tqread -s10 >"$here/tqread-s10.txt"

bin/velta decode "$here/tqread-s10.jsonl" | grep "spi frame" | head -n3
KVZUBR_SIM_REPLAY="$here/tqread-s10.jsonl" VELTA_DRIVER=lib/libkvzubr.so bin/tqread -s10 | \
    cmp - "$here/tqread-s10.txt"
echo "record.sh: tqread-s10.jsonl recorded; its replay prints tqread-s10.txt again"
