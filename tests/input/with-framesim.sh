#!/bin/sh
# Runs a test program beside a fresh frame simulator: starts framesim on a
# free loopback port, exports FRAMESIM_ADDR for the test, stops it afterwards.
#   with-framesim.sh FRAMESIM_BINARY COMMAND [ARGS...]
set -u
framesim=$1
shift
dir=$(mktemp -d)
"$framesim" --port-file "$dir/port" >"$dir/log" 2>&1 &
pid=$!
i=0
while [ ! -s "$dir/port" ] && [ $i -lt 100 ]; do
  sleep 0.05
  i=$((i + 1))
done
if [ ! -s "$dir/port" ]; then
  echo "framesim did not start:" >&2
  cat "$dir/log" >&2
  kill "$pid" 2>/dev/null
  rm -rf "$dir"
  exit 1
fi
FRAMESIM_ADDR=127.0.0.1:$(cat "$dir/port")
export FRAMESIM_ADDR
"$@"
rc=$?
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
rm -rf "$dir"
exit $rc
