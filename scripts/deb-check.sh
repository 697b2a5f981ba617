#!/usr/bin/env bash
# Builds the Debian package with CPack, installs it with `apt install ./<file>.deb`, starts the
# installed program under Xvfb, checks that an emoticon is shown from the installed folder, runs one
# batch cut with the installed vrk-task (checked with unzip and ffprobe), then removes the package.
# Needs root (or sudo) and a built tree: scripts/deb-check.sh [BUILD_DIR] (default build).
# Leaves nothing behind: the package is purged and every file it wrote goes with it.
# DEB_CHECK_SHOT=FILE keeps the screenshot of the installed program's window there.
set -euo pipefail

# Under Xvfb: the installed program shows its main window; the chat shows an emoticon picture read
# from the installed folder (ui_tst_install renders it and compares pixels with the picture).
gui_check() {
    [ -n "${WORK:-}" ] && [ -n "${DISPLAY:-}" ] || { echo "--gui-check is deb-check's own step" >&2; return 1; }
    /usr/bin/playback-edit-tool >"$WORK/app.out" 2>&1 &
    APP_PID=$!
    trap 'kill "$APP_PID" 2>/dev/null || true' EXIT
    local shown=0
    for _ in $(seq 1 60); do
        if grep -q '"Playback edit tool' <<<"$(xwininfo -root -tree 2>/dev/null)"; then shown=1; break; fi
        kill -0 "$APP_PID" 2>/dev/null || { cat "$WORK/app.out" >&2; echo "the installed program exited" >&2; return 1; }
        sleep 0.5
    done
    [ $shown = 1 ] || { echo "no main window of the installed program within 30 s" >&2; return 1; }
    sleep 1
    ffmpeg -v error -f x11grab -video_size 1280x800 -i "$DISPLAY" -frames:v 1 "$WORK/shot.png"
    local stats
    stats=$(ffmpeg -v error -i "$WORK/shot.png" -vf signalstats,metadata=print:file=- -f null - |
        grep -E 'YMIN|YMAX' | tr '\n' ' ')
    local ymin ymax
    ymin=$(sed -n 's/.*YMIN=\([0-9]*\).*/\1/p' <<<"$stats")
    ymax=$(sed -n 's/.*YMAX=\([0-9]*\).*/\1/p' <<<"$stats")
    [ -n "$ymin" ] && [ $((ymax - ymin)) -gt 64 ] ||
        { echo "the screen shows no drawn window (luma $ymin..$ymax)" >&2; return 1; }
    if [ -n "${DEB_CHECK_SHOT:-}" ]; then cp "$WORK/shot.png" "$DEB_CHECK_SHOT"; fi
    grep -rqs "main window shown" "$WORK/home" || { echo "the program logged no shown main window" >&2; return 1; }
    kill "$APP_PID"
    wait "$APP_PID" || true
    VRK_INSTALLED_PROGRAM_DIR=$PROGRAM_DIR "$TST_INSTALL" >"$WORK/tst_install.log" 2>&1 ||
        { cat "$WORK/tst_install.log" >&2; echo "the installed folder shows no emoticon" >&2; return 1; }
}
if [ "${1:-}" = "--gui-check" ]; then
    gui_check
    exit
fi

SELF=$(readlink -f "$0")
cd "$(dirname "$0")/.."
SRC=$(pwd)
BUILD=$(cd "${1:-build}" && pwd)
PACKAGE=playback-edit-tool
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

fail() {
    echo "deb-check: FAILED: $*" >&2
    exit 1
}
step() {
    echo "deb-check: [$((SECONDS - START))s] $*"
}
installed() {
    grep -q "ok installed" <<<"$(dpkg-query -W -f='${Status}' "$PACKAGE" 2>/dev/null)"
}

START=$SECONDS
if installed; then
    fail "$PACKAGE is already installed here; this check installs and removes it, so remove it first"
fi

WORK=$(mktemp -d /tmp/deb-check.XXXXXX)
chmod 755 "$WORK"  # apt reads the package as its own unprivileged user
WE_INSTALLED=0
cleanup() {
    local rc=$?
    if [ "$WE_INSTALLED" = 1 ] && installed; then
        $SUDO apt-get purge -y -q "$PACKAGE" >"$WORK/purge.log" 2>&1 || {
            cat "$WORK/purge.log" >&2
            echo "deb-check: FAILED: could not remove $PACKAGE" >&2
            rc=1
        }
    fi
    rm -rf "$WORK"
    exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step "building $BUILD"
# cpack builds everything anyway (its install step depends on the whole build).
cmake --build "$BUILD" -j"$(nproc)" >"$WORK/build.log" 2>&1 || { tail -30 "$WORK/build.log" >&2; fail "build failed"; }

step "cpack -G DEB"
(cd "$WORK" && cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/pkg") >"$WORK/cpack.log" 2>&1 ||
    { cat "$WORK/cpack.log" >&2; fail "cpack failed"; }
DEBS=("$WORK"/pkg/*.deb)
[ ${#DEBS[@]} -eq 1 ] && [ -f "${DEBS[0]}" ] || fail "cpack made no single .deb: ${DEBS[*]}"
DEB=$(basename "${DEBS[0]}")
DEPENDS=$(dpkg-deb -f "${DEBS[0]}" Depends)
step "$DEB, $(du -k "${DEBS[0]}" | cut -f1) KiB; Depends: $DEPENDS"
for dep in libqt5widgets5 libmpv2 libavcodec59 fonts-wqy-microhei libgl1-mesa-dri; do
    grep -q "$dep" <<<"$DEPENDS" || fail "run-time dependency $dep is not declared"
done

step "apt install ./$DEB"
WE_INSTALLED=1
(cd "$WORK/pkg" && $SUDO apt install -y -q "./$DEB") >"$WORK/apt.log" 2>&1 ||
    { cat "$WORK/apt.log" >&2; fail "apt install ./$DEB failed"; }
installed || fail "apt install finished but $PACKAGE is not installed"
dpkg -L "$PACKAGE" >"$WORK/files.txt"
PROGRAM_DIR=$(dirname "$(readlink -f /usr/bin/playback-edit-tool)")
for f in /usr/bin/playback-edit-tool /usr/bin/vrk-task "$PROGRAM_DIR/playback-edit-tool" \
    "$PROGRAM_DIR/vrk-task" "$PROGRAM_DIR/ch.qm" "$PROGRAM_DIR/en.qm" "$PROGRAM_DIR/fonts/99-vrk-cjk.conf" \
    "$PROGRAM_DIR/expression/[em2_1].png" /usr/share/applications/playback-edit-tool.desktop \
    /usr/share/icons/hicolor/64x64/apps/playback-edit-tool.png; do
    [ -e "$f" ] || fail "not installed: $f"
done
grep -q '^Exec=playback-edit-tool$' /usr/share/applications/playback-edit-tool.desktop ||
    fail "the menu entry does not start playback-edit-tool"
step "installed $(wc -l <"$WORK/files.txt") paths under $PROGRAM_DIR and /usr/share"

# Everything the programs write (settings, logs, default output folder, temporary files) stays in WORK.
mkdir -p "$WORK/home" "$WORK/tmp"
export HOME=$WORK/home TMPDIR=$WORK/tmp XDG_CONFIG_HOME=$WORK/home/.config
export XDG_DATA_HOME=$WORK/home/.local/share XDG_CACHE_HOME=$WORK/home/.cache XDG_RUNTIME_DIR=$WORK/tmp
TST_INSTALL=$(find "$BUILD/tests" -name ui_tst_install -type f -perm -u+x | head -1)
[ -n "$TST_INSTALL" ] || fail "ui_tst_install is not built in $BUILD"

export WORK PROGRAM_DIR TST_INSTALL DEB_CHECK_SHOT
step "starting the installed program under Xvfb"
xvfb-run -a -s "-screen 0 1280x800x24" bash "$SELF" --gui-check || fail "the installed program under Xvfb"
step "main window drawn, emoticon [em2_1] shown from $PROGRAM_DIR/expression"

step "batch cut with /usr/bin/vrk-task"
"$BUILD/tools/vrk-sample" --out "$WORK/in.vrk" --duration 10 --size 320x180 --no-audio ||
    fail "vrk-sample could not write a package"
set +e
/usr/bin/vrk-task --json cut "$WORK/in.vrk" "$WORK/out.vrk" 1000 3000 5000 8000 >"$WORK/cut.json" 2>"$WORK/cut.err"
rc=$?
set -e
[ $rc -eq 0 ] || { cat "$WORK/cut.err" >&2; fail "vrk-task cut exited with $rc"; }
grep -q '"status":"done"' "$WORK/cut.json" && grep -q "\"written\":\"$WORK/out.vrk\"" "$WORK/cut.json" ||
    fail "unexpected JSON summary: $(cat "$WORK/cut.json")"
unzip -tq "$WORK/out.vrk" >/dev/null || fail "the cut package is not a sound zip"
# A listing first: grep -q would end the pipe early and pipefail would count unzip's SIGPIPE.
grep -qx 'meta.json' <<<"$(unzip -Z1 "$WORK/out.vrk")" || fail "the cut package has no meta.json"
unzip -p "$WORK/out.vrk" c.mp4 >"$WORK/cut.mp4" || fail "the cut package has no c.mp4"
DURATION=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$WORK/cut.mp4")
awk -v d="$DURATION" 'BEGIN { exit !(d > 4.5 && d < 5.5) }' ||
    fail "the cut video lasts $DURATION s, 5 s expected (1-3 s and 5-8 s)"
step "cut package: meta.json and a ${DURATION}s c.mp4 (5 s kept); summary $(cat "$WORK/cut.json")"

step "apt-get purge $PACKAGE"
$SUDO apt-get purge -y -q "$PACKAGE" >"$WORK/purge.log" 2>&1 || { cat "$WORK/purge.log" >&2; fail "purge failed"; }
installed && fail "$PACKAGE is still installed after the purge"
while read -r f; do
    if [ -f "$f" ] || [ -L "$f" ]; then fail "left behind after the purge: $f"; fi
done <"$WORK/files.txt"
[ ! -e "$PROGRAM_DIR" ] || fail "left behind after the purge: $PROGRAM_DIR"
step "OK: built, installed, shown, cut and removed in $((SECONDS - START)) s (sources $SRC)"
