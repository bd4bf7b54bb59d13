#!/usr/bin/env bash
# usage: examples-against.sh PREFIX
# Builds the examples against the libVELTA installed in PREFIX as a user would, once with
# pkg-config and once with find_package(VELTA), and runs them on the simulated driver
# installed there, through its launcher. Used by check-install.sh and check-packages.sh.
set -euo pipefail
prefix="$1"
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

libdir="$(dirname "$(find "$prefix" -name 'libVELTA.so.1' | head -n1)")"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# The examples are built without a run path, as a user's program is: the loader is told where
# libVELTA lies, and the launcher names the simulated driver.
export LD_LIBRARY_PATH="$libdir"
export KVZUBR_SIM_STATE=
unset KVZUBR_SIM_CONFIG KVZUBR_SIM_TRACE

run_examples() {
    local dir="$1"
    for example in list_channels spi_memory i2c_eeprom; do
        "$prefix/bin/kvzubr-sim" run "$dir/$example" >"$work/out.txt" || { cat "$work/out.txt"; echo "examples: $example failed ($dir)" >&2; exit 1; }
    done
}

mkdir -p "$work/pc"
for example in list_channels spi_memory i2c_eeprom; do
    cc -Wall -Wextra -Werror "$source_dir/examples/$example.c" -o "$work/pc/$example" $(pkg-config --cflags --libs velta)
done
run_examples "$work/pc"
echo "examples: built with pkg-config, run on the simulator in $prefix"

cmake -S "$source_dir/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$work/cmake" >/dev/null
run_examples "$work/cmake"
echo "examples: built with find_package(VELTA), run on the simulator in $prefix"

test "$(pkg-config --modversion velta-tq)" = "$(pkg-config --modversion velta)"
