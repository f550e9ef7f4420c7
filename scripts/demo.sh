#!/usr/bin/env bash
# The service on the embedded default: installs what is missing, builds the
# native tree, then starts the frame simulator playing the demo scenario
# (a multi-touch frame, then a single-channel one plugged in halfway), the
# service reading it, and the monitor printing the touches as they arrive on
# UDP 3333 and TCP 3000. Ends by itself after DEMO_SECONDS (default 22), or
# on Ctrl+C, and leaves no process behind. The monitor then draws every
# cursor's path into DEMO_SVG (default build/native/demo-touches.svg).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
build=build/native
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "${JOBS:-2}" --target framesim vantrel monitor

seconds=${DEMO_SECONDS:-22}
svg=${DEMO_SVG:-$PWD/$build/demo-touches.svg}
dir=$(mktemp -d)
sim= service= monitor=

# Ctrl+C goes to the whole foreground group; the service shuts down on it
# by itself (its receivers see the session end, the frame gets its exit
# commands). Everything is then stopped here and waited for.
stop() {
  trap - INT TERM EXIT
  [ -n "$service" ] && kill -INT "$service" 2>/dev/null || true
  [ -n "$service" ] && wait "$service" 2>/dev/null || true
  sleep 0.3  # the monitor prints the end of the session
  [ -n "$monitor" ] && kill -INT "$monitor" 2>/dev/null || true
  [ -n "$monitor" ] && wait "$monitor" 2>/dev/null || true
  if [ -n "$monitor" ] && [ -s "$svg" ]; then echo "demo: the touches drawn: $svg" >&2; fi
  [ -n "$sim" ] && kill "$sim" 2>/dev/null || true
  [ -n "$sim" ] && wait "$sim" 2>/dev/null || true
  rm -rf "$dir"
}
trap 'stop; exit 130' INT TERM
trap stop EXIT

wait_for_file() {  # FILE PID WHAT
  for _ in $(seq 200); do
    [ -s "$1" ] && return 0
    kill -0 "$2" 2>/dev/null || { echo "demo: $3 did not start" >&2; exit 1; }
    sleep 0.05
  done
  echo "demo: $3 did not start in time" >&2
  exit 1
}

rm -f "$svg"
"$build/tools/monitor/monitor" --svg "$svg" --ready-file "$dir/monitor" &
monitor=$!
# Another TUIO receiver holding the port would leave the demo showing
# nothing: stop at once and say what to do.
for _ in $(seq 200); do
  [ -s "$dir/monitor" ] && break
  if ! kill -0 "$monitor" 2>/dev/null; then
    monitor=
    echo "demo: UDP port 3333 is taken by another program; end it (ss -lunp 'sport = :3333' names it) and run the demo again" >&2
    exit 1
  fi
  sleep 0.05
done
"$build/tools/framesim/framesim" --port-file "$dir/port" \
  --scenario tools/framesim/scenarios/demo.txt >/dev/null &
sim=$!
wait_for_file "$dir/port" "$sim" "the frame simulator"
FRAMESIM_ADDR=127.0.0.1:$(cat "$dir/port") "$build/app/vantrel" --ready-file "$dir/ready" &
service=$!
wait_for_file "$dir/ready" "$service" "the service"
echo "demo: the service reads the simulated frames; touches follow for ${seconds} s (Ctrl+C ends)" >&2
sleep "$seconds" &
wait $! || true
