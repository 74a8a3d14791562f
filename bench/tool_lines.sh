#!/usr/bin/env bash
# The qkxdr tool's cost a value, whatever the shape of its input: text on one
# line against a value a line, and a binary stream as one top-level array
# against as many top-level values. Each command should cost the same a value
# both ways (no command may take time in the square of a line or a value).
# Usage: bench/tool_lines.sh [build/<preset>/tools/qkxdr] [values]
set -euo pipefail
tool=$(realpath "${1:-build/ci/tools/qkxdr}")
n=${2:-1000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# A mix of integers, doubles and strings, as one array on one line, and as
# one array with a value a line.
python3 - "$n" <<'PY'
import sys
n = int(sys.argv[1])
values = [str(i * 7919 % 100003) if i % 3 == 0 else
          f"{i / 7:.6g}" if i % 3 == 1 else f'"v{i}"' for i in range(n)]
open("line.txt", "w").write("[" + ",".join(values) + "]\n")
open("lines.txt", "w").write("[" + ",\n".join(values) + "]\n")
open("values.txt", "w").write("\n".join(values) + "\n")
PY
"$tool" encode line.txt -o array.bin
"$tool" encode values.txt -o values.bin

# ns a value of one run of `command` on `input`.
per_value() {
  local start end
  start=$(date +%s%N)
  "$tool" "$@" >/dev/null
  end=$(date +%s%N)
  echo $(((end - start) / n))
}

printf '%-28s %16s %16s\n' "command" "one line / array" "lines / values"
row() {
  local label=$1 a=$2 b=$3
  shift 3
  printf '%-28s %13s ns %13s ns\n' "$label" "$(per_value "$@" "$a")" "$(per_value "$@" "$b")"
}
row "encode" line.txt lines.txt encode -o /dev/null
row "validate --text" line.txt lines.txt validate --text
row "decode --json --text" line.txt lines.txt decode --json --text
row "decode" array.bin values.bin decode -o /dev/null
row "decode --json" array.bin values.bin decode --json -o /dev/null
row "validate" array.bin values.bin validate
row "dump" array.bin values.bin dump -o /dev/null
