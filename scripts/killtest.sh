#!/usr/bin/env bash
# Interrupts real cut, merge and export tasks with SIGKILL at random moments and checks what is left:
# the source packages are byte-identical, the output path holds nothing or a complete valid file,
# and the next start removes what the killed runs left (workspaces, staging folders, temporary
# files beside the output) and nothing else: not the look-alikes planted beside them.
#
#   scripts/killtest.sh [--build DIR] [--kills N] [--modes "cut merge export"] [--duration S]
#                       [--work DIR] [--keep]
#
# Defaults: --build build, --kills 20, all three modes, 12 s sample videos. The export needs a
# display with OpenGL; without DISPLAY the script runs itself under xvfb-run.
# Exit status 0 when every check passed; a summary goes to stdout.
set -u

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build
KILLS=20
MODES="cut merge export"
DURATION=12
WORK=
KEEP=0
while [ $# -gt 0 ]; do
    case $1 in
    --build) BUILD=$(cd "$2" && pwd); shift 2 ;;
    --kills) KILLS=$2; shift 2 ;;
    --modes) MODES=$2; shift 2 ;;
    --duration) DURATION=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    --keep) KEEP=1; shift ;;
    *) echo "unknown option $1" >&2; exit 1 ;;
    esac
done

if [ -z "${DISPLAY:-}" ] && [[ " $MODES " == *" export "* ]] && [ -z "${KILLTEST_UNDER_XVFB:-}" ]; then
    export KILLTEST_UNDER_XVFB=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --build "$BUILD" --kills "$KILLS" --modes "$MODES" \
        --duration "$DURATION" ${WORK:+--work "$WORK"} $([ $KEEP = 1 ] && echo --keep)
fi

TASK=$BUILD/tools/vrk-task
SAMPLE=$BUILD/tools/vrk-sample
for tool in "$TASK" "$SAMPLE"; do
    [ -x "$tool" ] || { echo "missing $tool (build targets vrk-task and vrk-sample)" >&2; exit 1; }
done

if [ -z "$WORK" ]; then
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/killtest-XXXXXX")
fi
mkdir -p "$WORK/src" "$WORK/out" "$WORK/tmp" "$WORK/keep"
# The runner's workspaces go to a private temporary folder so that leftovers can be counted exactly.
export TMPDIR=$WORK/tmp
cleanup() { [ $KEEP = 1 ] || rm -rf "$WORK"; }
trap cleanup EXIT

FAIL=0
fail() { echo "FAIL: $*"; FAIL=1; }

"$SAMPLE" --out "$WORK/src/a.vrk" --duration "$DURATION" --size 320x180 --gop 25 --template 2 || exit 2
"$SAMPLE" --out "$WORK/src/b.vrk" --duration "$DURATION" --size 320x180 --gop 25 --template 2 --seed 2 || exit 2
"$SAMPLE" --out "$WORK/src/e.vrk" --duration "$DURATION" --size 320x180 --gop 25 --template 2 --encrypt || exit 2
# Files that must survive every run untouched, beside the outputs and inside the temporary folder.
echo "keep me" >"$WORK/keep/file.txt"
echo "keep me" >"$WORK/out/unrelated.txt"
mkdir -p "$WORK/tmp/unrelated_000000" && echo "keep me" >"$WORK/tmp/unrelated_000000/file.txt"
# Look-alikes of a workspace, its staging folder and the temporary names beside an output, which no
# run made: the clean-up must leave them.
mkdir -p "$WORK/tmp/a4242_000000/image" "$WORK/tmp/.a4242_000000.unpack-AbCdEf" && echo "keep me" >"$WORK/tmp/a4242_000000/c.mp4"
echo "keep me" >"$WORK/out/.cut-1.vrk.pack-AbCdEf"
echo "keep me" >"$WORK/out/.export-1.mp4.1.0.1.part"
DECOYS="./tmp/unrelated_000000 ./tmp/a4242_000000 ./tmp/.a4242_000000.unpack-AbCdEf ./out/.cut-1.vrk.pack-AbCdEf ./out/.export-1.mp4.1.0.1.part"
is_decoy() { [[ " $DECOYS " == *" $1 "* ]]; }
SOURCES_SUM=$(cd "$WORK/src" && sha256sum ./*.vrk)

half=$((DURATION * 1000 / 2))
task_args() { # mode output
    case $1 in
    cut) echo cut "$WORK/src/a.vrk" "$2" 1000 $((half - 1000)) $((half + 500)) $((DURATION * 1000 - 1000)) ;;
    merge) echo merge "$2" "$WORK/src/a.vrk" "$WORK/src/e.vrk" "$WORK/src/b.vrk" ;;
    export) echo export "$WORK/src/a.vrk" "$2" 320x180 300 ;;
    esac
}
ext() { [ "$1" = export ] && echo mp4 || echo vrk; }

now_ms() { date +%s%3N; }

# A complete output: a package that tests clean with a playable video, or a playable MP4.
valid_output() { # mode path
    if [ "$1" = export ]; then
        ffprobe -v error -show_entries format=duration -of csv=p=0 "$2" >/dev/null 2>&1 || return 1
        return 0
    fi
    unzip -tq "$2" >/dev/null 2>&1 || {
        # Enciphered packages are not readable by unzip; the session must open them instead.
        "$TASK" cut "$2" "$WORK/verify.vrk" 0 1000 >/dev/null 2>&1 || return 1
        rm -f "$WORK/verify.vrk"
        return 0
    }
    local d
    d=$(mktemp -d "$WORK/verify-XXXXXX")
    unzip -q "$2" c.mp4 meta.json -d "$d" >/dev/null 2>&1 && ffprobe -v error "$d/c.mp4" >/dev/null 2>&1
    local rc=$?
    rm -rf "$d"
    return $rc
}

snapshot() { (cd "$WORK" && find . -path ./verify\* -prune -o -print | LC_ALL=C sort); }
# Files that no run may change: everything outside tmp/ and out/, out/'s visible files and the
# look-alikes.
kept_sums() {
    (cd "$WORK" && {
        find ./keep ./src ./tmp/unrelated_000000 ./tmp/a4242_000000 -type f
        find ./out -maxdepth 1 -type f ! -name '.*'
        for d in $DECOYS; do [ -f "$d" ] && echo "$d"; done
    } | xargs -d '\n' sha256sum | LC_ALL=C sort)
}
# Top-level entries of tmp/ and hidden entries of out/ that are not look-alikes: leftovers. Qt's
# runtime folder (made in the temporary folder when XDG_RUNTIME_DIR is unset) is not a leftover.
leftovers() { # dir pattern
    (cd "$WORK" && find "./$1" -mindepth 1 -maxdepth 1 -name "$2" ! -name 'runtime-*' | while read -r p; do
        is_decoy "$p" || echo "$p"
    done)
}

for mode in $MODES; do
    # One undisturbed run tells how long the task takes.
    full="$WORK/out/$mode-full.$(ext "$mode")"
    t0=$(now_ms)
    # shellcheck disable=SC2046
    "$TASK" $(task_args "$mode" "$full") >"$WORK/full-$mode.log" 2>&1
    rc=$?
    took=$(($(now_ms) - t0))
    if [ $rc -ne 0 ] || ! valid_output "$mode" "$full"; then
        fail "$mode: the undisturbed run failed (exit $rc), see log"
        cat "$WORK/full-$mode.log"
        continue
    fi

    absent=0 complete=0 partial=0 finished=0 left_by_kills=0
    for i in $(seq 1 "$KILLS"); do
        out="$WORK/out/$mode-$i.$(ext "$mode")"
        delay=$((RANDOM * took / 32768))
        # shellcheck disable=SC2046
        "$TASK" $(task_args "$mode" "$out") >/dev/null 2>&1 &
        pid=$!
        sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
        if kill -0 "$pid" 2>/dev/null; then
            kill -KILL "$pid" 2>/dev/null
        else
            finished=$((finished + 1))
        fi
        wait "$pid" 2>/dev/null
        if [ -e "$out" ]; then
            if valid_output "$mode" "$out"; then
                complete=$((complete + 1))
            else
                partial=$((partial + 1))
                fail "$mode kill $i after ${delay} ms: partial file at the output path"
            fi
        else
            absent=$((absent + 1))
        fi
        # What this kill left; the next run's start must remove it.
        left_by_kills=$((left_by_kills + $( (leftovers tmp '*'; leftovers out '.*') | grep -vc '/\.playback-edit-tool-')))
        sums=$(cd "$WORK/src" && sha256sum ./*.vrk)
        [ "$sums" = "$SOURCES_SUM" ] || fail "$mode kill $i: a source package changed"
    done

    # The next start removes the killed runs' leftovers (each run started during the kills already
    # removed those of the runs killed before it) and nothing else.
    before=$(snapshot)
    expected=$( (leftovers tmp '*'; leftovers out '.*') | LC_ALL=C sort)
    keep_sums=$(kept_sums)
    next="$WORK/out/$mode-next.$(ext "$mode")"
    # shellcheck disable=SC2046
    if ! "$TASK" $(task_args "$mode" "$next") >/dev/null 2>&1 || ! valid_output "$mode" "$next"; then
        fail "$mode: the run after the kills failed"
    fi
    missing=$(LC_ALL=C comm -23 <(echo "$before") <(snapshot))
    wrong=$(echo "$missing" | while read -r p; do
        [ -n "$p" ] || continue
        ok=0
        for e in $expected; do
            case $p in "$e" | "$e"/*) ok=1 ;; esac
        done
        [ $ok = 1 ] || echo "$p"
    done)
    [ -z "$wrong" ] || fail "$mode: the next run removed: $wrong"
    changed=$(LC_ALL=C comm -23 <(echo "$keep_sums") <(kept_sums))
    [ -z "$changed" ] || fail "$mode: the next run changed: $changed"

    removed_by_next=$(LC_ALL=C comm -12 <(echo "$expected") <(echo "$missing") | grep -c .)
    stale_tmp=$(leftovers tmp '*' | wc -l)
    stale_out=$(leftovers out '.*' | wc -l)
    [ "$stale_tmp" = 0 ] || fail "$mode: left in the temporary folder: $(leftovers tmp '*' | tr '\n' ' ')"
    [ "$stale_out" = 0 ] || fail "$mode: hidden leftovers beside the output: $(leftovers out '.*' | tr '\n' ' ')"
    for d in $DECOYS; do
        [ -e "$WORK/$d" ] || fail "$mode: the look-alike $d was removed"
    done
    echo "$mode: $KILLS kills (task ${took} ms; $finished had already ended): output absent $absent," \
        "complete $complete, partial $partial; leftovers seen after the kills $left_by_kills (all removed by the" \
        "following starts; the last start removed $removed_by_next);" \
        "left in the temporary folder: $stale_tmp entries; hidden leftovers beside the output: $stale_out"
done

[ $FAIL = 0 ] && echo "killtest: passed" || echo "killtest: FAILED"
exit $FAIL
