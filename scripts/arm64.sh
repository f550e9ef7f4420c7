#!/usr/bin/env bash
# The arm64 build (build/arm64), cross-built with Debian's toolchain and its
# arm64 libraries, and run under qemu-user through binfmt_misc:
#  - the unit tests (label "unit");
#  - the service's end-to-end test: the native test program drives the
#    arm64 service against the simulator.
# The whole suite under emulation would not fit CI's time: these are the
# tests that say the arm64 service behaves as the amd64 one; the arm64
# packages themselves are installed and run in a clean arm64 root by
# scripts/deb-root-test.sh arm64. A machine that runs no arm64 programs
# says so on one line and exits 77 (skipped).
# Needs build/native (scripts/test.sh builds it first).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/setup-arm64.sh
arch-test arm64 >/dev/null 2>&1 ||
  { echo "arm64: SKIPPED: this machine does not run arm64 programs (qemu-user-static and binfmt)"; exit 77; }
# shellcheck source=scripts/ccache.sh
. scripts/ccache.sh
tree=build/arm64
liblo=$HOME/.cache/vantrel/arm64-liblo

PKG_CONFIG_PATH=$liblo/usr/lib/aarch64-linux-gnu/pkgconfig \
  cmake -S . -B $tree -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${ccache_flags[@]}" \
  -DCMAKE_C_COMPILER=aarch64-linux-gnu-gcc -DCMAKE_CXX_COMPILER=aarch64-linux-gnu-g++ \
  -DPKG_CONFIG_EXECUTABLE=/usr/bin/aarch64-linux-gnu-pkg-config \
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null
# The programs the checks run, not the whole tree.
units=$(ctest --test-dir $tree -N -L unit | sed -n 's/^ *Test *#[0-9]*: //p')
targets=(vantrel framesim)
for t in $units; do
  ninja -C $tree -t query "$t" >/dev/null 2>&1 && targets+=("$t")
done
cmake --build $tree -j "$(nproc)" --target "${targets[@]}"
file $tree/app/vantrel | grep -q 'ARM aarch64' || { echo "arm64: vantrel is not an arm64 program" >&2; exit 1; }

echo "arm64: unit tests under qemu-user"
ctest --test-dir $tree -L unit --output-on-failure -j "$(nproc)"

echo "arm64: the service's end-to-end test, the arm64 service under qemu-user"
VANTREL_E2E_SERVICE=$root/$tree/app/vantrel flock /tmp/vantrel-ports.lock \
  build/native/tests/e2e/service_e2e_test --gtest_brief=1

