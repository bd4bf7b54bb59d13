#!/usr/bin/env bash
# Installs the build into a staging prefix, then builds the examples against it as a user
# would, once with pkg-config and once with find_package(VELTA), and runs them on the
# installed simulated driver through its launcher. Finally checks that uninstall leaves nothing
# behind. (tests/install/installed_prefix.sh checks the installed programs themselves.)
set -euo pipefail
build="$(cd "${BUILD:-build}" && pwd)"
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
stage="$work/prefix"

cmake --install "$build" --prefix "$stage" --strip >/dev/null
libdir="$(dirname "$(find "$stage" -name 'libVELTA.so.1' | head -n1)")"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# The examples are built without a run path, as a user's program is: the loader is told where
# libVELTA lies, and the launcher names the simulated driver.
export LD_LIBRARY_PATH="$libdir"
export KVZUBR_SIM_STATE=
unset KVZUBR_SIM_CONFIG KVZUBR_SIM_TRACE

run_examples() {
    local dir="$1"
    for example in list_channels spi_memory i2c_eeprom; do
        "$stage/bin/kvzubr-sim" run "$dir/$example" >"$work/out.txt" || { cat "$work/out.txt"; echo "check-install: $example failed ($dir)" >&2; exit 1; }
    done
}

mkdir -p "$work/pc"
for example in list_channels spi_memory i2c_eeprom; do
    cc -Wall -Wextra -Werror "$source_dir/examples/$example.c" -o "$work/pc/$example" $(pkg-config --cflags --libs velta)
done
run_examples "$work/pc"
echo "check-install: examples built with pkg-config run on the installed simulator"

cmake -S "$source_dir/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$stage" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$work/cmake" >/dev/null
run_examples "$work/cmake"
echo "check-install: examples built with find_package(VELTA) run on the installed simulator"

test "$(pkg-config --modversion velta-tq)" = "$(pkg-config --modversion velta)"
DESTDIR= cmake --build "$build" --target uninstall >/dev/null
left="$(find "$stage" -type f | wc -l)"
[ "$left" -eq 0 ] || { find "$stage" -type f; echo "check-install: uninstall left $left files" >&2; exit 1; }
echo "check-install: uninstall removed every installed file"
