#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test the project.
# Quick when everything is present; as a non-root user it only says what to install.
set -euo pipefail

packages=(
  cmake make g++ pkgconf
  nlohmann-json3-dev
  libgtest-dev libgmock-dev
  libbenchmark-dev
  doxygen
  scdoc
  libcli11-dev
  python3-pytest python3-venv
)
[ "${KV_SETUP_DECODERS:-0}" = 1 ] && packages+=(sigrok-cli)
# The 32-bit x86 build (cmake/linux-i686.cmake): the multilib compiler and the i386 libraries.
[ "${KV_SETUP_32BIT:-0}" = 1 ] && packages+=(g++-multilib libgtest-dev:i386 libgmock-dev:i386 libbenchmark-dev:i386)
# The Windows cross-builds (cmake/mingw-w64-*.cmake) and wine to run them.
[ "${KV_SETUP_WINDOWS:-0}" = 1 ] && packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine32:i386)
# The Debian packages and the Python wheel (make package, scripts/check-packages.sh): CPack's
# DEB generator calls dpkg-shlibdeps and file; lintian checks the packages; python3-build
# makes the wheel.
[ "${KV_SETUP_PACKAGE:-0}" = 1 ] && packages+=(dpkg-dev file lintian python3-build)
# clang and its runtime libraries for libFuzzer (fuzz/run.sh)
[ "${KV_SETUP_FUZZ:-0}" = 1 ] && packages+=(clang libclang-rt-14-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}" >&2
  echo "setup: install them with: sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
