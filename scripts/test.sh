#!/usr/bin/env bash
# Installs what is missing, builds the three builds (native, the Windows
# product for i686 and its x86_64 test flavour) and runs all their tests,
# the Debian packages' checks, and each libFuzzer target briefly over its
# corpus.
# The Windows tests run under Wine in a private prefix inside each build tree:
# the x86_64 ones always, the i686 ones where this host runs 32-bit code.
# VANTREL_NO_WIN32=1 takes the "no 32-bit" path on any host.
#
# Most of a test suite's time is spent waiting (pauses between a frame's
# commands, gestures played in real time, Wine starting), not computing.
# So after the native build (which everything else needs) five lanes run at
# once, each with its own log, printed whole when all are done:
#   native:  the native tests, then the fuzz targets;
#   win64:   the x86_64 Windows build, then its tests under wine64;
#   win32:   the i686 build, then its tests under wine;
#   amd64:   the Debian packages, lintian, a clean root booting systemd;
#   arm64:   the same for arm64, and the arm64 build's tests under qemu-user.
# The test suites use the service's fixed ports (UDP 3333, TCP 3000, 3334),
# so each suite runs in a network namespace of its own, with a loopback of
# its own; the Debian lanes keep the machine's (their roots are made from the
# machine's package archive) and take turns on the ports' lock. Without namespaces (not root) the suites take
# turns on one lock instead.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
logs=$root/build/logs
times=$logs/times

step() { printf '\n== %s (%ss)\n' "$1" "$SECONDS"; }

step "setup"
# What the native build needs first; the rest (Wine, the cross toolchains,
# the browser, the arm64 libraries: most of a fresh machine's setup)
# installs while the native tree builds, so no lane waits on apt.
scripts/setup.sh --native
# shellcheck source=scripts/ccache.sh
. scripts/ccache.sh
rm -rf "$logs" && mkdir -p "$logs"
setup_s=$SECONDS
(scripts/setup.sh && scripts/setup-arm64.sh) >"$logs/setup.log" 2>&1 </dev/null &
setup_pid=$!

step "native build"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${ccache_flags[@]}" >/dev/null
cmake --build build/native -j "$jobs"
native_s=$((SECONDS - setup_s))
step "the rest of the setup"
rest=0
wait "$setup_pid" || rest=$?
cat "$logs/setup.log"
[ "$rest" = 0 ] || { echo "test.sh: setup failed (status $rest)"; exit 1; }
rest_s=$((SECONDS - setup_s - native_s))

# Can this host run 32-bit code? Ask the 32-bit Wine loader itself: on a
# kernel without 32-bit emulation it fails with "Exec format error".
win32_skip=""
if [ -n "${VANTREL_NO_WIN32:-}" ]; then
  win32_skip="VANTREL_NO_WIN32 is set"
elif [ ! -x /usr/lib/wine/wine ]; then
  win32_skip="the 32-bit Wine (wine32:i386) is not installed: the setup's log says why"
elif ! probe=$(/usr/lib/wine/wine --version 2>&1); then
  win32_skip="this host cannot run 32-bit programs (${probe##*: })"
fi

# own_net COMMAND...: runs it with a loopback of its own, which also holds
# an address that is not a loopback one (from the range kept for
# documentation), so the checks of what a peer elsewhere may not do have a
# peer address to try.
if unshare --net true 2>/dev/null; then
  own_net() {
    unshare --net sh -c 'ip link set lo up && ip addr add 192.0.2.1/24 dev lo && exec "$@"' own_net "$@"
  }
else
  echo "test.sh: no network namespaces here; the test suites take turns on the ports"
  own_net() { flock /tmp/vantrel-ports.lock "$@"; }
fi

windows_build() { # tree toolchain [targets...]
  local tree=$1 toolchain=$2
  shift 2
  cmake -S . -B "build/$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DVANTREL_NATIVE_BUILD_DIR="$root/build/native" "${ccache_flags[@]}" >/dev/null
  cmake --build "build/$tree" -j "$jobs" ${1:+--target "$@"}
}

# part LANE NAME COMMAND...: one step of a lane, its time kept for the table.
# A failing step fails the run but not its lane: the lane goes on.
part() {
  local lane=$1 name=$2 t0=$SECONDS rc=0
  shift 2
  printf '\n== %s\n' "$name"
  "$@" || rc=$?
  printf '%s\t%s\t%s\t%s\n' "$lane" "$t0" "$((SECONDS - t0))" "$name" >>"$times"
  [ "$rc" = 0 ] || { echo "== $name: FAILED (status $rc)"; return 1; }
}
# Builds yield to the tests of the other lanes, whose pauses are timed; the
# x86_64 Windows build, whose lane ends last on a fresh machine (its tests
# then run alone for five minutes), goes before the other builds.
nice_build() { (renice -n 10 -p "$BASHPID" >/dev/null && "$@"); }
first_build() { (renice -n 5 -p "$BASHPID" >/dev/null && "$@"); }

lane_native() {
  local rc=0
  part native "native tests" own_net ctest --test-dir build/native --output-on-failure -j "$jobs" || rc=1
  part native "fuzz targets (clang, ASan and UBSan), a few seconds each over their corpora" \
    nice_build scripts/fuzz.sh || rc=1
  return $rc
}
lane_win64() {
  part win64 "windows build, x86_64 (test flavour)" first_build windows_build win64 toolchain-mingw-x86_64.cmake &&
    part win64 "windows tests, x86_64 (wine64)" own_net ctest --test-dir build/win64 --output-on-failure -j "$jobs"
}
lane_win32() {
  if [ -z "$win32_skip" ]; then
    part win32 "windows build, i686 (the product)" nice_build windows_build win32 toolchain-mingw-i686.cmake &&
      part win32 "windows tests, i686 (wine)" own_net ctest --test-dir build/win32 --output-on-failure -j "$jobs"
  else
    # Its tests cannot run here: the product and its installer only (the
    # export-table check reads Vantrel.exe), and the checks of the 32-bit
    # binary itself, which need no Wine.
    part win32 "windows build, i686 (the product only: $win32_skip)" nice_build windows_build win32 \
      toolchain-mingw-i686.cmake Vantrel pelladex pelladex-probe monitor installer &&
      part win32 "windows tests, i686: only those that need no Wine" \
        ctest --test-dir build/win32 --output-on-failure -j "$jobs" -LE '^wine$' || return 1
    echo "i686 tests skipped: $win32_skip; $(ctest --test-dir build/win32 -N -L '^wine$' |
      sed -n 's/^Total Tests: //p') tests not run"
  fi
}
lane_amd64() {
  part amd64 "debian packages, amd64: lintian, a clean Debian 12 root booting systemd" \
    nice_build scripts/debian-test.sh amd64
}
lane_arm64() {
  part arm64 "debian packages, arm64: lintian, a clean arm64 root, the tests under qemu-user" \
    nice_build scripts/debian-test.sh arm64
}

lanes=(native win64 win32 amd64 arm64)
declare -A pid
for l in "${lanes[@]}"; do
  "lane_$l" >"$logs/$l.log" 2>&1 </dev/null &
  pid[$l]=$!
  echo "lane $l started (log: build/logs/$l.log)"
done
status=0
for l in "${lanes[@]}"; do
  if wait "${pid[$l]}"; then echo "lane $l done ($SECONDS s)"; else echo "lane $l FAILED ($SECONDS s)"; status=1; fi
done
for l in "${lanes[@]}"; do
  printf '\n######## lane %s\n' "$l"
  cat "$logs/$l.log"
done
log=$logs/all.log
for l in "${lanes[@]}"; do cat "$logs/$l.log"; done >"$log"

# One closing line for all runs.
read -r total failed < <(sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\)/\2 \1/p' "$log" |
  awk '{t += $1; f += $2} END {print t + 0, f + 0}')
[ "$failed" = 0 ] || status=1
[ "$total" -gt 0 ] || status=1
# Tests that found what they need missing on this host (ctest's "Skipped",
# e.g. no /dev/uhid) are counted as skipped, never as passed; so are the
# i686 tests a host without 32-bit code cannot run.
not_run=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$log")
host_skipped=$(printf '%s' "$not_run" | grep -c . || true)
skipped=$(sed -n 's/^i686 tests skipped: .*; \([0-9]*\) tests not run$/\1/p' "$log")
step "done"
echo "step times (lane, start, length, in seconds):"
printf '  %-6s %5s %5s  %s\n' - 0 "$setup_s" "setup, what the native build needs" \
  - "$setup_s" "$native_s" "native build" - "$((setup_s + native_s))" "$rest_s" \
  "setup, the rest (beside the native build), what it took longer"
sort -t$'\t' -k2,2n "$times" | while IFS=$'\t' read -r l start len name; do
  printf '  %-6s %5s %5s  %s\n' "$l" "$start" "$len" "$name"
done
echo "  in all: $SECONDS s"
[ -n "$not_run" ] && echo "skipped on this host: $(echo $not_run)"
line="tests: $((total - failed - host_skipped)) passed, $failed failed"
skipped=$((${skipped:-0} + host_skipped))
[ "$skipped" -gt 0 ] && line="$line, $skipped skipped"
echo "$line"
exit "$status"
