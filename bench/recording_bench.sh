#!/usr/bin/env bash
# Host time (user + system) that the recording driver adds: tqread -t1s, and a 1 MiB SPI read
# (velta flash read --size 1048576 of the 16 MiB flash on the example board), each run plain on
# the simulated driver and through the recording driver in front of it. Best of RUNS runs.
set -euo pipefail
build="$(cd "${BUILD:-build}" && pwd)"
boards="$(cd "$(dirname "$0")/../simulator/boards" && pwd)"
runs="${RUNS:-5}"
# The recording driver to time (another build of it, to compare two).
recorder="${RECORDER:-$build/lib/kvzubr-rec/libkvzubr.so}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
unset KVZUBR_SIM_CONFIG KVZUBR_SIM_TRACE KVZUBR_SIM_REPLAY VELTA_DRIVER
export KVZUBR_SIM_STATE=""
cd "$scratch"

# Prints the host seconds (user + system) of one run of the command: its own usage, from wait4,
# since the usage of all the interpreter's children counts whatever else it ran on starting.
# Leading NAME=VALUE arguments are set in its environment (no env program, whose start would count).
host_time() {
    python3 - "$@" <<'PY'
import os, subprocess, sys
args, env = sys.argv[1:], dict(os.environ)
while "=" in args[0]:
    name, value = args.pop(0).split("=", 1)
    env[name] = value
child = subprocess.Popen(args, stdout=subprocess.DEVNULL, env=env)
_, status, usage = os.wait4(child.pid, 0)
if status:
    sys.exit(f"{args[0]} failed")
print(f"{usage.ru_utime + usage.ru_stime:.4f}")
PY
}

best() {
    local best=""
    for _ in $(seq "$runs"); do
        local t
        t="$(host_time "$@")"
        if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best="$t"; fi
    done
    echo "$best"
}

recorded_to() {
    local file="$1"
    shift
    best VELTA_DRIVER="$recorder" KVZUBR_RECORD_DRIVER="$build/lib/libkvzubr.so" KVZUBR_RECORD="$file" "$@"
}

percent() { awk "BEGIN{printf \"%+.1f%%\", ($1 - $2) / $2 * 100}"; }

# Recorded into the scratch directory (TMPDIR's file system), and into /dev/null: the
# recording driver's own work without the file system's cost of storing the lines.
compare() {
    local label="$1"
    shift
    local plain recorded discarded
    plain="$(best "$@")"
    recorded="$(recorded_to "$scratch/session.jsonl" "$@")"
    discarded="$(recorded_to /dev/null "$@")"
    printf '%-16s plain %6.3f s  recorded %6.3f s (%s, %s)  to /dev/null %6.3f s (%s)\n' "$label" \
        "$plain" "$recorded" "$(percent "$recorded" "$plain")" "$(du -h "$scratch/session.jsonl" | cut -f1)" \
        "$discarded" "$(percent "$discarded" "$plain")"
}

compare "tqread -t1s" "$build/bin/tqread" -t1s
compare "1 MiB SPI read" KVZUBR_SIM_CONFIG="$boards/flash16m.json" \
    "$build/bin/velta" flash read --size 1048576 4 "$scratch/flash.bin"
