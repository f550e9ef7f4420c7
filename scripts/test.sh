#!/usr/bin/env bash
# Installs what is missing, builds both builds (native and the Windows cross
# build) and runs all their tests. The Windows tests run under Wine in a
# private prefix inside the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

step() { printf '\n== %s (%ss)\n' "$1" "$SECONDS"; }

step "setup"
scripts/setup.sh

step "native build"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j "$jobs"

step "windows build"
cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DVANTREL_NATIVE_BUILD_DIR="$root/build/native" >/dev/null
cmake --build build/win32 -j "$jobs"

status=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT
step "native tests"
ctest --test-dir build/native --output-on-failure -j "$jobs" 2>&1 | tee -a "$log" || status=1

step "windows tests (wine)"
ctest --test-dir build/win32 --output-on-failure -j "$jobs" 2>&1 | tee -a "$log" || status=1

# One closing line for both runs.
read -r total failed < <(sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\)/\2 \1/p' "$log" |
  awk '{t += $1; f += $2} END {print t + 0, f + 0}')
[ "$failed" = 0 ] || status=1
step "done"
echo "tests: $((total - failed)) passed, $failed failed"
exit "$status"
