#!/usr/bin/env bash
# Installs what is missing, builds the three builds (native, the Windows
# product for i686 and its x86_64 test flavour) and runs all their tests,
# and each libFuzzer target briefly over its corpus.
# The Windows tests run under Wine in a private prefix inside each build tree:
# the x86_64 ones always, the i686 ones where this host runs 32-bit code.
# VANTREL_NO_WIN32=1 takes the "no 32-bit" path on any host.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

step() { printf '\n== %s (%ss)\n' "$1" "$SECONDS"; }

step "setup"
scripts/setup.sh
# shellcheck source=scripts/ccache.sh
. scripts/ccache.sh

# Can this host run 32-bit code? Ask the 32-bit Wine loader itself: on a
# kernel without 32-bit emulation it fails with "Exec format error".
win32_skip=""
if [ -n "${VANTREL_NO_WIN32:-}" ]; then
  win32_skip="VANTREL_NO_WIN32 is set"
elif ! probe=$(/usr/lib/wine/wine --version 2>&1); then
  win32_skip="this host cannot run 32-bit programs (${probe##*: })"
fi

step "native build"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${ccache_flags[@]}" >/dev/null
cmake --build build/native -j "$jobs"

windows_build() { # tree toolchain [targets...]
  local tree=$1 toolchain=$2
  shift 2
  cmake -S . -B "build/$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DVANTREL_NATIVE_BUILD_DIR="$root/build/native" "${ccache_flags[@]}" >/dev/null
  cmake --build "build/$tree" -j "$jobs" ${1:+--target "$@"}
}
step "windows build, x86_64 (test flavour)"
windows_build win64 toolchain-mingw-x86_64.cmake
if [ -z "$win32_skip" ]; then
  step "windows build, i686 (the product)"
  windows_build win32 toolchain-mingw-i686.cmake
else
  # Its tests cannot run here: the product and its installer only (the
  # export-table check reads Vantrel.exe).
  step "windows build, i686 (the product only: $win32_skip)"
  windows_build win32 toolchain-mingw-i686.cmake Vantrel pelladex pelladex-probe monitor installer
fi

status=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT
step "native tests"
ctest --test-dir build/native --output-on-failure -j "$jobs" 2>&1 | tee -a "$log" || status=1

step "debian packages: amd64 and arm64, lintian, a clean Debian 12 root, qemu-user"
scripts/debian-test.sh 2>&1 | tee -a "$log" || status=1

step "windows tests, x86_64 (wine64)"
ctest --test-dir build/win64 --output-on-failure -j "$jobs" 2>&1 | tee -a "$log" || status=1

step "fuzz targets (clang, ASan and UBSan), a few seconds each over their corpora"
scripts/fuzz.sh 2>&1 | tee -a "$log" || status=1

skipped=0
if [ -z "$win32_skip" ]; then
  step "windows tests, i686 (wine)"
  ctest --test-dir build/win32 --output-on-failure -j "$jobs" 2>&1 | tee -a "$log" || status=1
else
  # The checks of the 32-bit binary itself (its export table) need no Wine.
  step "windows tests, i686: only those that need no Wine"
  ctest --test-dir build/win32 --output-on-failure -j "$jobs" -LE '^wine$' 2>&1 | tee -a "$log" || status=1
  skipped=$(ctest --test-dir build/win32 -N -L '^wine$' | sed -n 's/^Total Tests: //p')
  echo "i686 tests skipped: $win32_skip; $skipped tests not run"
fi

# One closing line for all runs.
read -r total failed < <(sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\)/\2 \1/p' "$log" |
  awk '{t += $1; f += $2} END {print t + 0, f + 0}')
[ "$failed" = 0 ] || status=1
[ "$total" -gt 0 ] || status=1
# Tests that found what they need missing on this host (ctest's "Skipped",
# e.g. no /dev/uhid) are counted as skipped, never as passed.
not_run=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$log")
host_skipped=$(printf '%s' "$not_run" | grep -c . || true)
step "done"
[ -n "$not_run" ] && echo "skipped on this host: $(echo $not_run)"
line="tests: $((total - failed - host_skipped)) passed, $failed failed"
skipped=$((skipped + host_skipped))
[ "$skipped" -gt 0 ] && line="$line, $skipped skipped"
echo "$line"
exit "$status"
