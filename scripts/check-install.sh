#!/usr/bin/env bash
# Installs the build into a staging prefix, builds and runs the examples against it
# (examples-against.sh), then checks that uninstall leaves nothing behind.
# (tests/install/installed_prefix.sh checks the installed programs themselves.)
set -euo pipefail
build="$(cd "${BUILD:-build}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
stage="$work/prefix"

cmake --install "$build" --prefix "$stage" --strip >/dev/null
"$(dirname "$0")/examples-against.sh" "$stage" | sed 's/^examples/check-install/'

DESTDIR= cmake --build "$build" --target uninstall >/dev/null
left="$(find "$stage" -type f | wc -l)"
[ "$left" -eq 0 ] || { find "$stage" -type f; echo "check-install: uninstall left $left files" >&2; exit 1; }
echo "check-install: uninstall removed every installed file"
