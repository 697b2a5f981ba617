#!/usr/bin/env bash
# Runs every benchmark script (bench/bench_*.sh) against the build in ./build and prints their tables.
# Usage: bash bench/run.sh [name-filter]
set -euo pipefail
cd "$(dirname "$0")/.."
filter="${1:-}"
for s in bench/bench_*.sh; do
    [ -n "$filter" ] && [[ "$s" != *"$filter"* ]] && continue
    echo "== $s"
    bash "$s"
done
