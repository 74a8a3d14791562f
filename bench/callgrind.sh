#!/usr/bin/env bash
# Instructions and mispredicted branches per value of each benchmark case,
# counted by callgrind (with its branch predictor simulation) over one run of
# the case at a hundredth of its full size, after one warm-up run. The counts
# do not depend on machine load: compare them before and after a change.
# Builds the bench preset first, or the build tree named by BENCH_BUILD.
#   bench/callgrind.sh [REGEX] [--scale=F]
#   BENCH_BUILD=build/other bench/callgrind.sh [REGEX] [--scale=F]
# REGEX selects cases by name (default: all), e.g. 'qkxdr/text' or '^ints/'.
set -euo pipefail
cd "$(dirname "$0")/.."
filter=${1:-.}
shift || true

if [[ -n ${BENCH_BUILD:-} ]]; then
  cmake --build "$BENCH_BUILD" >/dev/null
else
  cmake --preset bench >/dev/null
  cmake --build --preset bench >/dev/null
fi
count=${BENCH_BUILD:-build/bench}/bench/qkxdr_count

printf '%-40s %8s %14s %10s %12s\n' case values instructions per-value mispredicts
for name in $("$count" --list | grep -E -- "$filter"); do
  out=$(valgrind --tool=callgrind --branch-sim=yes --callgrind-out-file=/dev/null \
    --toggle-collect=qkxdr_bench_measured_run "$count" "$name" "$@" 2>&1) || {
    printf '%-40s %s\n' "$name" "failed: $(grep -v '^==' <<<"$out" | tail -1)"
    continue
  }
  values=$(sed -n 's/^values \([0-9]*\).*/\1/p' <<<"$out")
  # Collected: Ir, then the branch events Bc, Bcm, Bi, Bim.
  read -r instructions _ bcm _ bim < <(sed -n 's/.*Collected : //p' <<<"$out")
  awk -v n="$name" -v v="$values" -v i="$instructions" -v m="$((bcm + bim))" \
    'BEGIN { printf "%-40s %8d %14d %10.1f %12.2f\n", n, v, i, i / v, m / v }'
done
