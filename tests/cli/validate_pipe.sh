#!/bin/sh
# `qkxdr validate -` on 10 GiB piped in: well formed, and a peak resident
# size under 64 MiB. The stream is a run of one 1 KiB blob (tag D2, length
# 00 88, the bytes) repeated; a file of 64 MiB of them is sent 160 times.
# Usage: validate_pipe.sh QKXDR   (exit 77, skipped, without /usr/bin/time)
set -eu
qkxdr=$1
[ -x /usr/bin/time ] || exit 77
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
{ printf '\322\000\210'; head -c 1024 /dev/zero; } >"$dir/runs"
i=0
while [ $i -lt 16 ]; do  # 2^16 runs of 1027 bytes
  cat "$dir/runs" "$dir/runs" >"$dir/more"
  mv "$dir/more" "$dir/runs"
  i=$((i + 1))
done
start=$(date +%s)
i=0
while [ $i -lt 160 ]; do
  cat "$dir/runs"
  i=$((i + 1))
done | /usr/bin/time -f %M -o "$dir/rss" "$qkxdr" validate - >"$dir/out"
kib=$(tail -n 1 "$dir/rss")
echo "$(cat "$dir/out"); $(($(date +%s) - start)) s, peak resident size $kib KiB"
grep -q "well formed: 10485760 values in 10768875520 bytes" "$dir/out"
[ "$kib" -lt 65536 ]
