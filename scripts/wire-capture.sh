#!/usr/bin/env bash
# Records what a build of the headless service sends and writes, for every
# model of the frame simulator, so that two builds can be compared with
# scripts/wire-compare.sh:
#   OUT_DIR/MODEL.records  every report the service wrote to the frame
#                          (the simulator's record: rec MS PATH w|sf HEX)
#   OUT_DIR/MODEL.tuio     every UDP datagram to 127.0.0.1:3333, one hex line each
#   OUT_DIR/MODEL.xml      every byte of the XML stream on TCP port 3000
#   OUT_DIR/MODEL.notes    what the capture driver found odd (normally empty)
# The scenario per model (scripts/wire/capture.py): touches of one, two, four
# and up to eleven fingers as the layout allows, an unplug and replug (the
# calibrated models read their calibration back each time), then Ctrl+C.
#
# The service's tick (CLOCK_BOOTTIME) comes from a preloaded library
# (scripts/wire/fixed-clock.c) that the driver steps before each touch
# sample, waiting until the service has read it: the TUIO speeds, the
# acceleration and the bundles of a new second come out the same on every
# run, which a real tick on a busy machine never gives.
#
#   scripts/wire-capture.sh [--repeat N] BUILD_DIR OUT_DIR [MODEL...]
# BUILD_DIR is a native build tree (app/vantrel, tools/framesim/framesim) or
# a directory holding vantrel and framesim side by side.
#
# A capture is the same on every run of one build: what the service's threads
# would race (a Series01xx frame's echoes of the start-up's mode writes against
# its initialised flag) the driver orders by waiting for it. --repeat N
# captures each model N times and fails when a capture differs from the first
# (kept in OUT_DIR/variants/K/ for looking into).
#
# Each model runs in a network namespace of its own (unshare), so the fixed
# ports 3333 and 3000 never meet other tests; where namespaces are not
# allowed, runs take /tmp/vantrel-wire.lock and use the host's loopback.
#
# For looking into one capture: WIRE_KEEP=1 keeps the run's directory (the
# service's output, the simulator's log), WIRE_LOG=LEVEL turns the service's
# trace on (trace lines read the tick too, so such a capture is not one to
# compare), WIRE_REAL_CLOCK=1 leaves the tick real (to see what it changes).
set -euo pipefail

repeat=1
if [ "${1:-}" = --repeat ] && [ $# -ge 2 ]; then
  repeat=$2
  shift 2
fi
if [ $# -lt 2 ] || ! [ "$repeat" -ge 1 ] 2>/dev/null; then
  echo "usage: $0 [--repeat N] BUILD_DIR OUT_DIR [MODEL...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
out=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)

find_program() {  # NAME RELATIVE-PATH
  for p in "$build/$2" "$build/$1"; do
    [ -x "$p" ] && { echo "$p"; return 0; }
  done
  echo "wire-capture: no $1 in $build" >&2
  exit 1
}
vantrel=$(find_program vantrel app/vantrel)
# WIRE_FRAMESIM names another simulator, e.g. the baseline's, so that only
# the service differs between two captures.
framesim=${WIRE_FRAMESIM:-$(find_program framesim tools/framesim/framesim)}

mkdir -p "$out"
tmp=$(mktemp -d /tmp/vantrel-wire-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
clock_lib=$tmp/fixed-clock.so
# WIRE_CC: the compiler of the service's architecture (aarch64-linux-gnu-gcc for arm64).
"${WIRE_CC:-cc}" -shared -fPIC -O2 -o "$clock_lib" "$here/wire/fixed-clock.c" -ldl

# Model names and layouts from the simulator itself.
declare -A layout
models=()
while read -r name _ _ _ _ _ _ _ lay _; do
  layout[$name]=$lay
  models+=("$name")
done < <("$framesim" --models)
[ $# -gt 0 ] && models=("$@")

if unshare --user --map-root-user --net true 2>/dev/null; then
  isolate=(unshare --user --map-root-user --net)
  netns=(--netns)
else
  isolate=(flock /tmp/vantrel-wire.lock)
  netns=()
fi

start=$(date +%s)
status=0
for m in "${models[@]}"; do
  if [ -z "${layout[$m]:-}" ]; then
    echo "wire-capture: $m: no such model in this simulator" >&2
    status=1
    continue
  fi
  t0=$(date +%s)
  different=0
  rm -f "$out/$m".* "$out"/variants/*/"$m".*
  for ((run = 1; run <= repeat; run++)); do
    # A disturbed run (status 3: the machine too slow for a wait) is tried again.
    for attempt in 1 2 3; do
      rc=0
      rm -rf "$tmp/run" && mkdir "$tmp/run"
      "${isolate[@]}" python3 "$here/wire/capture.py" "${netns[@]}" \
        --vantrel "$vantrel" --framesim "$framesim" --clock-lib "$clock_lib" --model "$m" \
        --layout "${layout[$m]}" --out "$tmp/run/$m" || rc=$?
      [ $rc -ne 3 ] && break
    done
    if [ $rc -ne 0 ]; then
      echo "wire-capture: $m: FAILED" >&2
      status=1
      break
    fi
    # The first run is the capture; a later one that differs is kept aside.
    dest=$out
    if [ "$run" -gt 1 ]; then
      python3 "$here/wire/compare.py" --quiet --model "$m" "$out" "$tmp/run" && continue
      different=$((different + 1))
      dest=$out/variants/$different
      mkdir -p "$dest"
    fi
    mv "$tmp/run/$m".* "$dest/"
  done
  if [ $rc -eq 0 ]; then
    again=""
    [ "$repeat" -gt 1 ] && again="; $different of $((repeat - 1)) further captures different"
    echo "wire-capture: $m: $(wc -l <"$out/$m.records") writes, $(wc -l <"$out/$m.tuio") datagrams, $(wc -c <"$out/$m.xml") XML bytes$again ($(($(date +%s) - t0)) s)"
    if [ $different -gt 0 ]; then
      echo "wire-capture: $m: NOT DETERMINISTIC: scripts/wire-compare.sh $out $out/variants/1 shows how" >&2
      status=1
    fi
  fi
done
echo "wire-capture: ${#models[@]} models in $(($(date +%s) - start)) s into $out"
exit $status
