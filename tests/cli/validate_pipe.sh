#!/bin/sh
# Long inputs piped into qkxdr, each with a peak resident size under 64 MiB:
# 10 GiB into `validate -`, well formed; 2 GiB into `decode -`; 294 MiB of
# text into `encode -`. The binary stream is a run of one 1 KiB blob (tag D2,
# length 00 88, the bytes) repeated; a file of 64 MiB of them is sent 160
# times, then 32. The text is a line of 49 bytes of values, in a file of
# 2^18 of them sent 24 times.
# Usage: validate_pipe.sh QKXDR   (exit 77, skipped, without /usr/bin/time)
set -eu
qkxdr=$1
[ -x /usr/bin/time ] || exit 77
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# Doubles the file $1 $2 times.
double() {
  i=0
  while [ $i -lt "$2" ]; do
    cat "$1" "$1" >"$dir/more"
    mv "$dir/more" "$1"
    i=$((i + 1))
  done
}

# Sends the file $1 $2 times to qkxdr with the arguments after them; checks
# its exit status and peak resident size, and says how it went.
piped() {
  file=$1 times=$2
  shift 2
  start=$(date +%s)
  i=0
  while [ $i -lt "$times" ]; do
    cat "$file"
    i=$((i + 1))
  done | /usr/bin/time -f %M -o "$dir/rss" "$qkxdr" "$@" >"$dir/out"
  kib=$(tail -n 1 "$dir/rss")
  echo "qkxdr $*: $(($(date +%s) - start)) s, peak resident size $kib KiB"
  [ "$kib" -lt 65536 ]
}

{ printf '\322\000\210'; head -c 1024 /dev/zero; } >"$dir/runs"
double "$dir/runs" 16  # 2^16 runs of 1027 bytes
piped "$dir/runs" 160 validate -
cat "$dir/out"
grep -q "well formed: 10485760 values in 10768875520 bytes" "$dir/out"
piped "$dir/runs" 32 decode - -o /dev/null

printf '[1, -70000, 2.5, "caf\303\251", "0xBEEF", [[], ["x"]]]\n' >"$dir/text"
double "$dir/text" 18
piped "$dir/text" 24 encode - -o /dev/null
