#!/usr/bin/env bash
# Reads and writes the meta.json of a generated four-hour class (about 200 000 events) with the
# project's reader and writer; prints time and peak memory. Target: read + write under 2 s, peak
# memory under 10x the file size. Extra arguments go to the program (--events N, --runs R,
# --reference for the toolkit reading path). BUILD_DIR selects another build directory.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${BUILD_DIR:-./build}/bench/bench_json
if [ ! -x "$bin" ]; then
    echo "missing $bin: build first (bash scripts/build.sh)" >&2
    exit 1
fi
"$bin" "$@" 2> >(grep -v 'file_name=\|^$\|dir=' >&2)
