#!/usr/bin/env bash
# Generates a sample package of each layout template into ./samples and starts the application.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p samples
for t in 1 2 3 4 5 6; do
    if [ ! -f "samples/template$t.vrk" ]; then
        ./build/tools/vrk-sample --template "$t" --out "samples/template$t.vrk"
    fi
done
echo "Sample packages are in $(pwd)/samples"
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1920x1080x24" ./build/ui/playback-edit-tool
fi
exec ./build/ui/playback-edit-tool
