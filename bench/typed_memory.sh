#!/usr/bin/env bash
# The table of docs/robustness.md ("Typed reads"): hostile inputs of 1, 4 and
# 16 MiB read with the default budget, and with a budget raised far enough
# to read them whole.
# Usage: bench/typed_memory.sh [build/<preset>/bench/qkxdr_typed_memory]
set -euo pipefail
program=${1:-build/bench/bench/qkxdr_typed_memory}
for mib in 1 4 16; do "$program" "$mib"; done
for mib in 1 4; do "$program" "$mib" 4096; done
