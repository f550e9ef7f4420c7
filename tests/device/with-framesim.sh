#!/bin/sh
# with-framesim.sh FRAMESIM [FRAMESIM ARGS...] -- COMMAND [ARGS...]
# Starts the frame simulator on a port the system picks, runs COMMAND with
# FRAMESIM_ADDR naming it, stops the simulator and exits with COMMAND's status.
sim=$1
shift
args=
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  args="$args $1"
  shift
done
[ "$1" = "--" ] || { echo "usage: with-framesim.sh FRAMESIM [ARGS] -- COMMAND" >&2; exit 2; }
shift
dir=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
# shellcheck disable=SC2086
"$sim" --port 0 --port-file "$dir/port" $args >"$dir/log" 2>&1 &
pid=$!
i=0
while [ ! -s "$dir/port" ]; do
  i=$((i + 1))
  if [ $i -gt 100 ] || ! kill -0 "$pid" 2>/dev/null; then
    echo "with-framesim.sh: the simulator did not start" >&2
    cat "$dir/log" >&2
    exit 1
  fi
  sleep 0.1
done
FRAMESIM_ADDR=127.0.0.1:$(cat "$dir/port")
export FRAMESIM_ADDR
"$@"
status=$?
exit $status
