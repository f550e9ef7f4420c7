#!/bin/sh
# A malformed scenario is refused with the file and line named; a good one
# runs and the simulator ends with it when it says quit.
set -u
framesim=$1
scenarios=$2/../../tools/framesim/scenarios
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

printf 'add split-mt a\n# a comment\n\nwait 10\nfrobnicate now\n' >"$dir/bad1"
out=$("$framesim" --scenario "$dir/bad1" 2>&1) && fail "bad1 accepted"
[ "$out" = "framesim: $dir/bad1 line 5: unknown command: frobnicate" ] || fail "bad1: $out"

printf 'add split-mt a\nplug\n' >"$dir/bad2"
out=$("$framesim" --scenario "$dir/bad2" 2>&1) && fail "bad2 accepted"
[ "$out" = "framesim: $dir/bad2 line 2: wrong number of arguments for plug" ] || fail "bad2: $out"

# Well-formed, but naming a frame that does not exist: found when it runs.
printf 'add split-mt a\ntap b 0.5,0.5\nquit\n' >"$dir/bad3"
out=$(timeout 20 "$framesim" --scenario "$dir/bad3" 2>&1 >/dev/null) && fail "bad3 accepted"
[ "$out" = "framesim: scenario $dir/bad3 line 2: no frame named b" ] || fail "bad3: $out"

printf 'add series s\ngesture s 50 0.1,0.1>0.9,0.9 0.5,0.5\nwait 100\nunplug s\nplug s\nquit\n' >"$dir/good"
out=$(timeout 20 "$framesim" --scenario "$dir/good" 2>&1) || fail "good: $out"
case "$out" in "listening on 127.0.0.1:"*) ;; *) fail "good: $out" ;; esac

out=$("$framesim" --frame nonesuch 2>&1) && fail "unknown model accepted"
[ "$out" = "framesim: err line 1: unknown model: nonesuch" ] || fail "model: $out"
# The scenarios shipped with the simulator are well-formed.
for f in "$scenarios"/*.txt; do
  "$framesim" --check --scenario "$f" || fail "$f"
done
echo ok
