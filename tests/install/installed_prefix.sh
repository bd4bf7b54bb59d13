#!/usr/bin/env bash
# An installed prefix as a new user meets it: installed into a temporary directory, then run with
# an environment that holds no loader setting, no VELTA_DRIVER and nothing of the build tree.
# The programs run on the installed simulated bridge through its launcher, also after the prefix
# is moved, and a session recorded there replays; with no driver at all they stop with the load
# report and one line of advice.
# Usage: installed_prefix.sh CMAKE BUILD_DIR SOURCE_DIR DOCDIR (DOCDIR relative to the prefix)
set -euo pipefail
cmake=$1 build=$2 source_dir=$3 docdir=$4
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

fail() {
    echo "installed_prefix: $*" >&2
    exit 1
}

# Runs a command in the bare environment; its output lands in $work/out and $work/err.
bare() {
    local status=0
    env -i PATH="$1/bin:/usr/bin:/bin" HOME="$work" KVZUBR_SIM_STATE= ASAN_OPTIONS=detect_leaks=0 \
        "${@:2}" >"$work/out" 2>"$work/err" || status=$?
    return "$status"
}

expect_ok() {
    bare "$@" || fail "'${*:2}' failed in $1: $(cat "$work/out" "$work/err")"
}

check_simulator_runs() {
    local root=$1
    expect_ok "$root" kvzubr-sim run velta list
    grep -q KV8S0001 "$work/out" || fail "velta list shows no simulated channel: $(cat "$work/out")"
    expect_ok "$root" kvzubr-sim run tqreg -r 5 -x0x
    grep -qi 0x "$work/out" || fail "tqreg printed no register: $(cat "$work/out")"
    expect_ok "$root" kvzubr-sim run --board two-sensors tqread -c2 -s4
    # A session recorded through the installed recording driver replays with the same output.
    expect_ok "$root" kvzubr-sim record "$work/session.jsonl" tqread -s4
    cp "$work/out" "$work/recorded"
    expect_ok "$root" kvzubr-sim replay "$work/session.jsonl" tqread -s4
    cmp -s "$work/out" "$work/recorded" || fail "the replay printed other output: $(cat "$work/out")"
}

check_simulator_runs "$prefix"

# With no driver to find: the load report on standard output, one line of advice on standard
# error, status 1.
status=0
bare "$prefix" velta list || status=$?
[ "$status" -eq 1 ] || fail "velta list with no driver exited with $status"
[ "$(cat "$work/out")" = "../../Infra/src/korvin_infra:243:Init_libVELTA(): NULL expression encountered" ] ||
    fail "unexpected standard output with no driver: $(cat "$work/out")"
[ "$(wc -l <"$work/err")" -eq 1 ] && grep -q "^libVELTA: cannot load the bridge driver libkvzubr.so: .*kvzubr-sim run" "$work/err" ||
    fail "unexpected standard error with no driver: $(cat "$work/err")"

# Every guide is installed where the manual pages say.
for guide in "$source_dir"/docs/*.md; do
    [ -f "$prefix/$docdir/$(basename "$guide")" ] || fail "guide $(basename "$guide") not installed"
done

# Nothing in the prefix depends on where it lies.
mv "$prefix" "$work/moved"
check_simulator_runs "$work/moved"
echo "installed_prefix: the installed programs run on the installed simulator, moved or not"
