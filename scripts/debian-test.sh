#!/usr/bin/env bash
# The Linux kiosk's packages, as scripts/test.sh checks them: each check
# below passes, fails or is skipped on its own, and the closing line counts
# them.
#  - amd64: scripts/deb.sh (debhelper, lintian) and scripts/deb-root-test.sh
#    (a clean Debian 12 root booting systemd in a container: install, the
#    service as systemd runs it, purge);
#  - arm64: scripts/deb.sh arm64, scripts/arm64.sh (the unit tests and the
#    service's end-to-end test under qemu-user) and scripts/deb-root-test.sh
#    arm64 (the arm64 packages in a clean arm64 root, through binfmt).
# A check that finds what it needs missing on this machine (systemd-nspawn,
# binfmt) exits 77: it is counted as skipped, in the line ctest writes for
# a skipped test, which scripts/test.sh counts.
#   scripts/debian-test.sh [amd64|arm64]   one architecture's checks (both
#                                          without an argument)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
passed=0 failed=0 skipped=0
check() {  # NAME COMMAND...
  local name=$1 t0=$SECONDS rc=0
  shift
  echo "-- $name"
  "$@" || rc=$?
  if [ "$rc" = 0 ]; then
    passed=$((passed + 1))
    echo "-- $name: passed ($((SECONDS - t0)) s)"
  elif [ "$rc" = 77 ]; then
    skipped=$((skipped + 1))
    echo "-- $name: skipped ($((SECONDS - t0)) s)"
    echo "  $((passed + failed + skipped)) - $name (Skipped)"
  else
    failed=$((failed + 1))
    echo "-- $name: FAILED ($((SECONDS - t0)) s)"
  fi
}
# The clean root made (once) before the ports lock is taken, then the run under it.
root_test() { scripts/deb-root-test.sh "$1" --root-only && flock /tmp/vantrel-ports.lock scripts/deb-root-test.sh "$1"; }
arch=${1:-}
case "$arch" in "" | amd64 | arm64) ;; *) echo "usage: $0 [amd64|arm64]" >&2; exit 2 ;; esac
if [ "$arch" != arm64 ]; then
  check "amd64 packages and lintian" scripts/deb.sh amd64
  check "amd64 packages in a clean Debian 12 root booting systemd" root_test amd64
fi
if [ "$arch" != amd64 ]; then
  check "arm64 packages and lintian" scripts/deb.sh arm64
  check "arm64 build and tests under qemu-user" scripts/arm64.sh
  check "arm64 packages in a clean Debian 12 arm64 root" root_test arm64
fi
total=$((passed + failed + skipped))
echo "debian checks${arch:+ ($arch)}: $((total ? passed * 100 / total : 0))% tests passed, $failed tests failed out of $total"
[ "$failed" = 0 ]
