#!/usr/bin/env bash
# Runs the sensor tools against the simulated bridge's default configuration, starting from a
# factory-fresh sensor each time.
set -euo pipefail
build="$(cd "${BUILD:-build}" && pwd)"
unset KVZUBR_SIM_CONFIG KVZUBR_SIM_TRACE
export KVZUBR_SIM_STATE="$build/demo-state.json"
rm -f "$KVZUBR_SIM_STATE"
cd "$build"
show() {
    echo "\$ $*"
    "$build/bin/$1" "${@:2}"
    echo
}
show tqreg
show tqreg -w -y ZL=5
show tqread -s10 -oc
show tqcmd
