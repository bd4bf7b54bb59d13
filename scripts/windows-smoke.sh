#!/usr/bin/env bash
# Cross-builds the Windows programs (64-bit and 32-bit, mingw-w64) and runs them under wine on
# the simulated bridge: every command's output, exit status and written files must match the
# Linux build's once line ends are normalised. Also checks that each DLL exports what the
# Linux library exports and nothing more, that a missing driver DLL is reported as on Linux,
# that tqread writes its files in text mode, and that the simulator's state file is replaced
# on every save and lives under %LOCALAPPDATA% by default.
#   BUILD=build scripts/windows-smoke.sh     (BUILD: the native build, built already)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
native=$root/${BUILD:-build}
jobs=${JOBS:-2}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
passed=0
failed=0

# check DESCRIPTION COMMAND...: one check, counted.
check() {
  local what=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "windows-smoke: FAIL: $what" >&2; fi
}

# The tool runs, in order, on one state file: the write must show in the later reads.
commands=(
  "tqreg"
  "tqreg -w -y ZL=5"
  "tqread -s10 -oc"
  "tqread -s4 -f out.txt"
  "tqcmd"
  "velta list"
  "velta i2c detect 2"
  "tqreg -w -y ZL=9"
  "tqreg"
)

# run_all DIR BIN SUFFIX [WRAPPER...]: runs the commands in DIR, with a fresh state file there,
# each program as BIN/NAME SUFFIX under WRAPPER; leaves N.out, N.err and N.rc per command.
run_all() {
  local dir=$1 bin=$2 suffix=$3
  shift 3
  mkdir -p "$dir"
  local i=0 cmd words
  for cmd in "${commands[@]}"; do
    read -r -a words <<<"$cmd"
    (cd "$dir" && KVZUBR_SIM_STATE=state.json KVZUBR_SIM_CONFIG= KVZUBR_SIM_TRACE= \
       "$@" "$bin/${words[0]}$suffix" "${words[@]:1}" </dev/null >"$i.out" 2>"$i.err"; echo $? >"$i.rc") || true
    i=$((i + 1))
  done
}

# same_text A B: the two files hold the same text once line ends are normalised; shows how not.
same_text() {
  diff <(tr -d '\r' <"$1") <(tr -d '\r' <"$2") >"$work/diff" && return
  head -6 "$work/diff" >&2
  return 1
}

compare_runs() {
  local label=$1 linux=$2 windows=$3 i=0 cmd
  for cmd in "${commands[@]}"; do
    check "$label: '$cmd' prints and ends as on Linux" \
      eval 'same_text "$linux/$i.out" "$windows/$i.out" && same_text "$linux/$i.err" "$windows/$i.err" &&
            same_text "$linux/$i.rc" "$windows/$i.rc"'
    i=$((i + 1))
  done
  for file in out.txt out.txt.info; do
    check "$label: $file as on Linux, in text mode" \
      eval 'same_text "$linux/$file" "$windows/$file" && grep -q $'"'"'\r$'"'"' "$windows/$file"'
  done
}

dll_exports() {
  "$1"-objdump -p "$2" | awk '/\[Ordinal\/Name Pointer\] Table/ {f = 1; next} f && NF == 0 {f = 0} f {print $NF}' | sort
}

so_exports() { nm -D --defined-only "$1" | awk '$2 ~ /^[TDB]$/ {print $3}' | sort; }

check_exports() {
  local label=$1 triplet=$2 bin=$3 lib
  for lib in VELTA TQ kvzubr; do
    dll_exports "$triplet" "$bin/lib$lib.dll" >"$work/dll.txt"
    so_exports "$native/lib/lib$lib.so" >"$work/so.txt"
    check "$label: lib$lib.dll exports what lib$lib.so exports" same_text "$work/so.txt" "$work/dll.txt"
  done
}

check_missing_driver() {
  local label=$1 bin=$2 wine=$3 dir=$work/$label-nodriver
  mkdir -p "$dir"
  cp "$bin/tqreg.exe" "$bin/libTQ.dll" "$bin/libVELTA.dll" "$dir"
  local rc=0
  (cd "$dir" && "$wine" ./tqreg.exe </dev/null >out 2>&1) || rc=$?
  echo "../../Infra/src/korvin_infra:243:Init_libVELTA(): NULL expression encountered" >"$dir/expected"
  check "$label: a missing libkvzubr.dll is reported, exit status 1 ($rc)" \
    eval '[ "$rc" = 1 ] && same_text "$dir/expected" "$dir/out"'
}

check_default_state() {
  local label=$1 bin=$2 wine=$3 dir=$work/$label-default
  local state=$WINEPREFIX/drive_c/users/$USER/AppData/Local/kvzubr-sim/state.json
  rm -f "$state"
  mkdir -p "$dir"
  (cd "$dir" && env -u KVZUBR_SIM_STATE "$wine" "$bin/tqreg.exe" -w -y ZL=3 </dev/null >/dev/null 2>&1) || true
  check "$label: the state file is kept under %LOCALAPPDATA% by default" test -s "$state"
}

[ -x "$native/bin/tqreg" ] && [ -x "$native/bin/velta" ] || { echo "windows-smoke: build $native first" >&2; exit 1; }
export USER=${USER:-$(id -un)}
run_all "$work/linux" "$native/bin" ""

start=$SECONDS
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
echo "windows-smoke: wine prefix made in $((SECONDS - start)) s"

for target in x86_64:wine64 i686:wine; do
  arch=${target%%:*}
  wine=/usr/lib/wine/${target#*:}
  triplet=$arch-w64-mingw32
  build=$root/build-windows-$arch
  start=$SECONDS
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$arch.cmake" >/dev/null
  cmake --build "$build" -j "$jobs" --target tqreg tqread tqcmd velta kvzubr >/dev/null
  echo "windows-smoke: $arch built in $((SECONDS - start)) s"

  bin=$build/bin
  check_exports "$arch" "$triplet" "$bin"
  start=$SECONDS
  run_all "$work/$arch" "$bin" .exe "$wine"
  compare_runs "$arch" "$work/linux" "$work/$arch"
  check_missing_driver "$arch" "$bin" "$wine"
  check_default_state "$arch" "$bin" "$wine"
  echo "windows-smoke: $arch ran under wine in $((SECONDS - start)) s"
done

echo "windows-smoke: $passed passed, $failed failed"
[ "$failed" = 0 ]
