#!/usr/bin/env bash
# Builds the Debian packages and the Python wheel (make package), checks the packages with
# lintian and their computed dependencies, installs them with dpkg into a throwaway root whose
# package database knows only the system packages they depend on, builds and runs the examples
# against that root (examples-against.sh), runs `velta list` from it on its simulated bridge,
# then purges them and checks that nothing is left. Finally installs the wheel offline into a
# fresh venv and runs its smoke test (python/smoke) on the simulated bridge of the root.
# Runs as root, as CI does (dpkg installs files owned by root).
set -euo pipefail
BUILD="${BUILD:-build}"
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
cd "$source_dir"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "check-packages: $*" >&2; exit 1; }

make --no-print-directory package BUILD="$BUILD" >/dev/null
packages="$(cd "$BUILD/packages" && pwd)"
debs=("$packages"/*.deb)
names=()
for deb in "${debs[@]}"; do names+=("$(dpkg-deb -f "$deb" Package)"); done
version="$(dpkg-deb -f "${debs[0]}" Version)"
echo "check-packages: built ${names[*]} $version"

# Errors fail; the warnings left are shown.
lintian --fail-on error "${debs[@]}" || fail "lintian found errors"

# The dependencies dpkg-shlibdeps computed, on this project's libraries among them.
depends() { dpkg-deb -f "$packages/$1_${version}_"*.deb Depends; }
for check in "velta libvelta1 (>= $version)" "velta libtq1 (>= $version)" "libtq1 libvelta1 (>= $version)" \
             "libvelta-dev libtq1 (= $version)" "velta libc6" "kvzubr-sim libstdc++6"; do
    package="${check%% *}"
    [[ "$(depends "$package")" == *"${check#* }"* ]] || fail "$package: Depends '$(depends "$package")' lacks ${check#* }"
done

# The throwaway root's database lists, as installed with no files, the system packages the
# packages depend on, so dpkg checks those dependencies against the versions present here.
root="$work/root"
admin="$root/var/lib/dpkg"
mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
touch "$admin/available"
for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Depends; done | tr ',|' '\n\n' | sed 's/(.*//; s/[[:space:]]//g' |
    sort -u | grep -vxF -f <(printf '%s\n' "${names[@]}") | while read -r dep; do
        # A library installed for a second architecture too (libc6:i386) makes the bare
        # name ambiguous; the packages are built for this machine's own architecture.
        native="$dep:$(dpkg --print-architecture)"
        dpkg-query -s "$native" >/dev/null 2>&1 && dep="$native"
        dpkg-query -s "$dep" >/dev/null 2>&1 || fail "dependency $dep is not installed here"
        dpkg-query -s "$dep" && echo
        touch "$admin/info/$(dpkg-query -W -f '${binary:Package}' "$dep").list"
    done >"$admin/status"
dpkg_root() { dpkg --root="$root" --log=/dev/null "$@"; }
dpkg_root --install "${debs[@]}" >/dev/null || fail "dpkg could not install the packages"

"$source_dir/scripts/examples-against.sh" "$root/usr" | sed 's/^examples/check-packages/'
KVZUBR_SIM_STATE= "$root/usr/bin/kvzubr-sim" run "$root/usr/bin/velta" list >"$work/list.txt"
grep -q "VELTA dual bridge" "$work/list.txt" || { cat "$work/list.txt"; fail "velta list shows no simulated bridge"; }
echo "check-packages: velta list runs on the installed simulated bridge"

# The wheel, into a fresh venv with no index; pytest comes from the system's packages. The
# launcher alone tells it where the root's libraries and simulated driver are.
python="$(command -v /usr/bin/python3 || command -v python3)"
"$python" -m venv --system-site-packages "$work/venv"
PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 "$work/venv/bin/pip" install --quiet "$packages"/velta-*.whl
mkdir "$work/smoke"
cp python/smoke/test_installed.py "$work/smoke/"
(cd "$work/smoke" && env -u PYTHONPATH -u LD_LIBRARY_PATH -u VELTA_LIBRARY -u VELTA_TQLIB -u VELTA_DRIVER \
    VELTA_EXPECTED_VERSION="$version" KVZUBR_SIM_STATE= PYTHONDONTWRITEBYTECODE=1 \
    "$root/usr/bin/kvzubr-sim" run "$work/venv/bin/python" -m pytest -q -p no:cacheprovider test_installed.py)

dpkg_root --purge "${names[@]}" >/dev/null || fail "dpkg could not remove the packages"
left="$(find "$root" -mindepth 1 -path "$root/var" -prune -o -print)"
[ -z "$left" ] || { echo "$left"; fail "removing the packages left files behind"; }
echo "check-packages: removing the packages left nothing behind"
