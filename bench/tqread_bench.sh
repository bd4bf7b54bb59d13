#!/usr/bin/env bash
# Wall time and peak memory of a two-second burst (1,000,000 samples) read by tqread, printed
# to standard output (discarded) and written to a file with its report. The floor is the 2 ms
# pause after each of the 400 pieces (0.8 s); the burst itself holds 3 MB.
set -euo pipefail
build="$(cd "${BUILD:-build}" && pwd)"
tqread="$build/bin/tqread"
runs="${RUNS:-3}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
unset KVZUBR_SIM_CONFIG KVZUBR_SIM_TRACE
export KVZUBR_SIM_STATE=""
cd "$scratch"

# Prints "seconds kilobytes" for one run of tqread with the given arguments.
measure() {
    if [ -x /usr/bin/time ]; then
        /usr/bin/time -f "%e %M" -o "$scratch/usage" "$tqread" "$@" >/dev/null
        cat "$scratch/usage"
    else
        python3 - "$tqread" "$@" <<'EOF'
import resource, subprocess, sys, time
start = time.monotonic()
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
print(f"{time.monotonic() - start:.2f} {resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss}")
EOF
    fi
}

report() {
    local label="$1"
    shift
    local best_time="" best_rss=""
    for _ in $(seq "$runs"); do
        read -r seconds kilobytes < <(measure "$@")
        if [ -z "$best_time" ] || awk "BEGIN{exit !($seconds < $best_time)}"; then best_time="$seconds"; fi
        if [ -z "$best_rss" ] || [ "$kilobytes" -lt "$best_rss" ]; then best_rss="$kilobytes"; fi
    done
    printf '%-28s wall %5.2f s (%.2fx the 0.8 s floor)  peak RSS %6d kB\n' \
        "$label" "$best_time" "$(awk "BEGIN{print $best_time / 0.8}")" "$best_rss"
}

echo "tqread, best of $runs runs"
report "-s0 (start-up only)" -s0
report "-t2s to stdout" -t2s
report "-t2s -op to stdout" -t2s -op
report "-t2s -f out.txt" -t2s -f out.txt
