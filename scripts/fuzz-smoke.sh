#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and fuzzes each one for a while,
# starting from a scratch copy of its seeds (fuzz/seeds/<target>), two at a
# time. Fails when a target finds a crash, a leak, a timeout or runs out of
# memory; prints each target's executions per second and coverage.
#
# usage: scripts/fuzz-smoke.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=${JOBS:-2}

cmake -S . -B build/fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DMORVEL_BUILD_FUZZ=ON -DMORVEL_BUILD_TESTS=OFF >/dev/null
cmake --build build/fuzz -j "$jobs"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
run() {  # run TARGET
  local t=$1
  cp -r "fuzz/seeds/$t" "$work/$t"
  if build/fuzz/fuzz/fuzz_"$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$work/$t-" "$work/$t" >"$work/$t.log" 2>&1; then
    printf '%-9s %s execs/s, %s runs, %s\n' "$t" \
      "$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$t.log")" \
      "$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log")" \
      "$(grep -o 'cov: [0-9]* ft: [0-9]*' "$work/$t.log" | tail -n 1)"
  else
    echo "fuzz_$t failed:"; tail -n 40 "$work/$t.log"; return 1
  fi
}

status=0
run optimize & a=$!
run scan & b=$!
wait $a || status=1; wait $b || status=1
run xref & a=$!
run codecs & b=$!
wait $a || status=1; wait $b || status=1
exit $status
