#!/usr/bin/env bash
# Fails when a C++ source or header of the project does not match the root .clang-format.
#   scripts/check-format.sh [FILE...]     (default: every tracked .h/.cpp/.c of the repository)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$#" -gt 0 ]; then
    files=("$@")
else
    # Tracked files only, so build folders and generated sources are never looked at.
    mapfile -t files < <(git ls-files '*.h' '*.cpp' '*.c')
fi
clang-format --dry-run --Werror "${files[@]}"
echo "check-format: ${#files[@]} files match .clang-format"
