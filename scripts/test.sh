#!/usr/bin/env bash
# Runs the whole test suite: widget and GL tests need an X display, so everything runs under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
xvfb-run -a -s "-screen 0 1920x1080x24" ctest --test-dir build --output-on-failure -j2 --timeout 900
