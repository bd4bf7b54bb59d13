#!/usr/bin/env bash
# Runs the example against the simulated bridge's default configuration.
set -euo pipefail
bin="${BUILD:-build}/bin"
unset KVZUBR_SIM_CONFIG
show() { echo "\$ $*"; "$bin/$@"; echo; }
show list_channels
