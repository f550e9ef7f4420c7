#!/bin/sh
# with-framesim.sh FRAMESIM COMMAND...: starts the frame simulator on a free
# loopback port, runs COMMAND with FRAMESIM_ADDR naming it, stops it again.
# The exit status is the command's.
set -u
framesim=$1
shift
dir=$(mktemp -d)
# FRAMESIM_ARGS: more options for the simulator (frames, a scenario).
# shellcheck disable=SC2086
"$framesim" --port-file "$dir/port" ${FRAMESIM_ARGS:-} >/dev/null &
sim=$!
i=0
while [ ! -s "$dir/port" ]; do
  i=$((i + 1))
  if [ $i -gt 600 ] || ! kill -0 $sim 2>/dev/null; then
    echo "with-framesim: the simulator did not start" >&2
    kill $sim 2>/dev/null
    rm -rf "$dir"
    exit 1
  fi
  sleep 0.05
done
FRAMESIM_ADDR=127.0.0.1:$(cat "$dir/port")
export FRAMESIM_ADDR
"$@"
rc=$?
kill $sim 2>/dev/null
wait $sim 2>/dev/null
rm -rf "$dir"
exit $rc
