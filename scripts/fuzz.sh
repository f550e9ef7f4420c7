#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan and UBSan) in build/fuzz and runs
# each over its seed corpus in tests/fuzz/corpus, one after the other.
#   scripts/fuzz.sh            a few seconds each, as ctest (label fuzz)
#   scripts/fuzz.sh 1800       up to 30 minutes or 10 million executions each,
#                              whichever comes first, at the lowest priority
#   scripts/fuzz.sh 1800 report_fuzz settings_fuzz
#                              the same for the targets named
# Inputs found along the way go to build/fuzz/tests/fuzz/found/<target>,
# crashes to build/fuzz/tests/fuzz/crash-<target>-*, each long run's output
# to build/fuzz/tests/fuzz/<target>.log. The XML client target
# uses the loopback interface only (any free port).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# shellcheck source=scripts/ccache.sh
. scripts/ccache.sh
seconds=${1:-}
shift || true
runs=${VANTREL_FUZZ_RUNS:-10000000}

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVANTREL_SANITIZE=fuzzer-no-link,address,undefined -DVANTREL_FUZZ=ON "${ccache_flags[@]}" >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target fuzz_targets

if [ -z "$seconds" ]; then
  exec ctest --test-dir build/fuzz --output-on-failure -L '^fuzz$'
fi
dir=build/fuzz/tests/fuzz
status=0
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(ctest --test-dir build/fuzz -N -L '^fuzz$' | sed -n 's/^ *Test *#[0-9]*: //p')
fi
for target in "${targets[@]}"; do
  mkdir -p "$dir/found/$target"
  echo "== $target ($seconds s)"
  nice -n 19 "$dir/$target" -max_total_time="$seconds" -runs="$runs" -timeout=120 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/crash-$target-" \
    "$dir/found/$target" "tests/fuzz/corpus/$target" >"$dir/$target.log" 2>&1 || status=1
  # The whole log stays beside the crashes; the summary and any failure here.
  grep -E '^(stat::|SUMMARY)|ERROR|fuzz: |DONE' "$dir/$target.log" || true
done
exit "$status"
