#!/usr/bin/env bash
# The Linux kiosk's packages, as scripts/test.sh checks them: each check
# below passes or fails on its own, and the closing line counts them.
#  - amd64: scripts/deb.sh (debhelper, lintian) and scripts/deb-root-test.sh
#    (a clean Debian 12 root: install, the packaged service, purge);
#  - arm64: scripts/arm64.sh (the packages cross-built, the unit tests and
#    the service's end-to-end test under qemu-user, the wire bytes against
#    the amd64 build's).
set -uo pipefail
cd "$(dirname "$0")/.."
passed=0 failed=0
check() {  # NAME COMMAND...
  local name=$1 t0=$SECONDS
  shift
  echo "-- $name"
  if "$@"; then
    passed=$((passed + 1))
    echo "-- $name: passed ($((SECONDS - t0)) s)"
  else
    failed=$((failed + 1))
    echo "-- $name: FAILED ($((SECONDS - t0)) s)"
  fi
}
check "amd64 packages and lintian" scripts/deb.sh amd64
check "amd64 packages in a clean Debian 12 root" flock /tmp/vantrel-ports.lock scripts/deb-root-test.sh
if [ -x scripts/arm64.sh ]; then
  check "arm64 packages and lintian" scripts/deb.sh arm64
  check "arm64 build and tests under qemu-user" scripts/arm64.sh
fi
total=$((passed + failed))
echo "debian checks: $((total ? passed * 100 / total : 0))% tests passed, $failed tests failed out of $total"
[ "$failed" = 0 ]
