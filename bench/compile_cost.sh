#!/usr/bin/env bash
# What including one public header costs a user's translation unit: for each
# header of include/ (include/*.h, include/*.hpp, include/qkxdr/*.hpp, found
# anew on each run) and for a baseline unit of <vector> and <string> alone,
# the lines the preprocessor hands the compiler and the time of
# `$CXX -std=c++17 -O0 -fsyntax-only`, wall and processor (medians of RUNS
# runs). Prints a markdown table (docs/performance.md, "Compile cost").
#   bench/compile_cost.sh            CXX=clang++ RUNS=9 bench/compile_cost.sh
set -euo pipefail
cd "$(dirname "$0")/.."

CXX=${CXX:-g++}
RUNS=${RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Lines of preprocessed code, blank lines and line markers left out.
lines_of() {
  "$CXX" -std=c++17 -E -P -I include "$1" | grep -c '[^[:space:]]'
}

# "wall cpu": the medians of the wall time and of the processor time (user +
# system, which other work on the machine disturbs less) of the syntax-only
# compile, in milliseconds.
cost_of() {
  local i real user sys walls=() cpus=() TIMEFORMAT='%3R %3U %3S'
  for ((i = 0; i < RUNS; i++)); do
    read -r real user sys < <({ time "$CXX" -std=c++17 -O0 -fsyntax-only -I include "$1"; } 2>&1)
    walls+=("$(awk -v r="$real" 'BEGIN { printf "%d", r * 1000 }')")
    cpus+=("$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%d", (u + s) * 1000 }')")
  done
  echo "$(median "${walls[@]}") $(median "${cpus[@]}")"
}

median() {
  printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"
}

# row NAME UNIT [COST]: one line of the table; COST ("wall cpu") when
# already measured.
row() {
  local name=$1 unit=$2 cost=${3:-} lines wall cpu
  lines=$(lines_of "$unit")
  [[ -n $cost ]] || cost=$(cost_of "$unit")
  read -r wall cpu <<<"$cost"
  printf '| %s | %s | %s | %s | %s |\n' "$name" "$lines" "$wall" "$cpu" \
    "$(awk -v a="$cpu" -v b="$base_cpu" 'BEGIN { printf "%.1f", a / b }')"
}

printf '#include <string>\n#include <vector>\n' >"$work/baseline.cpp"
base_cost=$(cost_of "$work/baseline.cpp")
base_cpu=${base_cost#* }

echo "$("$CXX" --version | head -n 1), -std=c++17 -O0 -fsyntax-only, medians of $RUNS runs"
echo
echo '| translation unit includes | preprocessed lines | wall ms | cpu ms | cpu × baseline |'
echo '|---|---:|---:|---:|---:|'
# shellcheck disable=SC2016  # backquotes for markdown
row '`<vector>`, `<string>` (baseline)' "$work/baseline.cpp" "$base_cost"
for header in include/*.h include/*.hpp include/qkxdr/*.hpp; do
  name=${header#include/}
  printf '#include "%s"\n' "$name" >"$work/unit.cpp"
  row "\`$name\`" "$work/unit.cpp"
done
