#!/usr/bin/env bash
# Media engine against the ffmpeg program on a 10-minute 1280x720 25 fps H.264/AAC file (GOP 250):
#   cut 3 pieces on key frames and join them   vs  ffmpeg -ss/-to -c copy per piece + concat demuxer
#   exact cut of 3 pieces inside groups + join  vs  ffmpeg key-frame copy cut and re-encoded accurate cut
#   one re-encoded cut (60 s)                    vs  ffmpeg libx264 veryfast + AAC
#   join of three inputs by stream copy          vs  ffmpeg concat demuxer
#   cp of the whole file (the physical limit), and probing time.
# Usage: bash bench/bench_media.sh   (BUILD_DIR=build by default; the test file is cached in build/bench-data)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
DATA_DIR="${BENCH_DATA_DIR:-build/bench-data}"
BIN="$BUILD_DIR/bench/bench_media"
SRC="$DATA_DIR/bench_10min.mp4"

if [ ! -x "$BIN" ]; then
    cmake --build "$BUILD_DIR" -j2 --target bench_media >/dev/null
fi
mkdir -p "$DATA_DIR"
if [ ! -f "$SRC" ]; then
    # One minute is encoded and joined ten times by stream copy: the same coding as a ten-minute
    # encode (GOP 250, B-frames, AAC) at a tenth of the cost on a small machine.
    echo "making $SRC (once)..."
    ffmpeg -v error -y -f lavfi -i testsrc2=s=1280x720:r=25:d=60 -f lavfi -i sine=f=440:sample_rate=44100:d=60 \
        -c:v libx264 -preset veryfast -g 250 -pix_fmt yuv420p -c:a aac -b:a 128k -shortest "$DATA_DIR/minute.mp4"
    : >"$DATA_DIR/minutes.txt"
    for _ in 1 2 3 4 5 6 7 8 9 10; do echo "file 'minute.mp4'" >>"$DATA_DIR/minutes.txt"; done
    ffmpeg -v error -y -f concat -safe 0 -i "$DATA_DIR/minutes.txt" -c copy "$SRC.tmp.mp4"
    mv "$SRC.tmp.mp4" "$SRC"
    rm -f "$DATA_DIR/minute.mp4" "$DATA_DIR/minutes.txt"
fi

WORK="$(mktemp -d "${TMPDIR:-/tmp}/bench_media.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/ours" "$WORK/ffm"

secs() { date +%s.%N; }
elapsed() { echo "$(secs) - $1" | bc -l; }
dur() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }

# Warm the page cache so that both sides read from memory.
cat "$SRC" >/dev/null

# The three stretches (ms): 1-3 min, 4-6 min, 7-9 min.
RANGES=(60000 180000 240000 360000 420000 540000)

# --- cp
t0=$(secs); cp "$SRC" "$WORK/copy.mp4"; t_cp=$(elapsed "$t0"); rm -f "$WORK/copy.mp4"

# --- crop 3 + join, stream copy
t_ours_cj=$("$BIN" cropjoin "$SRC" "$WORK/ours" joined.mp4 "${RANGES[@]}")
t0=$(secs)
: >"$WORK/ffm/list.txt"
for i in 0 1 2; do
    b=$(echo "${RANGES[$((2 * i))]} / 1000" | bc -l)
    e=$(echo "${RANGES[$((2 * i + 1))]} / 1000" | bc -l)
    ffmpeg -v error -y -ss "$b" -to "$e" -i "$SRC" -c copy "$WORK/ffm/p$i.mp4"
    echo "file 'p$i.mp4'" >>"$WORK/ffm/list.txt"
done
ffmpeg -v error -y -f concat -safe 0 -i "$WORK/ffm/list.txt" -c copy "$WORK/ffm/joined.mp4"
t_ffm_cj=$(elapsed "$t0")
d_ours_cj=$(dur "$WORK/ours/joined.mp4")
d_ffm_cj=$(dur "$WORK/ffm/joined.mp4")

# --- exact cut with cut points inside groups of pictures (three stretches, six cut points), side by
#     side with the ffmpeg program's key-frame copy cut and its re-encoded accurate cut; time and peak
#     memory of each. One group (10 s) re-encoded by the ffmpeg program gives the re-encoding budget.
XR=(61000 183520 244040 365000 427480 538000)
timed() { /usr/bin/time -f '%e %M' -o "$WORK/time.txt" "$@" >/dev/null 2>>"$WORK/timed.log"; cat "$WORK/time.txt"; }
read -r t_x_ours m_x_ours < <(timed "$BIN" cropjoin "$SRC" "$WORK/ours" exact.mp4 "${XR[@]}")
x_frames=$(grep -s -o 'exact cut: [0-9]* picture(s) copied, [0-9]* re-encoded' "$WORK/timed.log" |
    awk '{ c += $3; r += $6 } END { printf "%d copied, %d re-encoded", c, r }')
cat >"$WORK/ffm_cut.sh" <<EOS
set -e
: >"$WORK/ffm/x.txt"
i=0
for r in "${XR[0]} ${XR[1]}" "${XR[2]} ${XR[3]}" "${XR[4]} ${XR[5]}"; do
    set -- \$r
    b=\$(echo "\$1 / 1000" | bc -l); e=\$(echo "\$2 / 1000" | bc -l)
    ffmpeg -v error -y -ss "\$b" -to "\$e" -i "$SRC" \$CODEC "$WORK/ffm/x\$i.mp4"
    echo "file 'x\$i.mp4'" >>"$WORK/ffm/x.txt"
    i=\$((i + 1))
done
ffmpeg -v error -y -f concat -safe 0 -i "$WORK/ffm/x.txt" -c copy "$WORK/ffm/\$OUT"
EOS
read -r t_x_copy m_x_copy < <(CODEC="-c copy" OUT=xcopy.mp4 timed bash "$WORK/ffm_cut.sh")
read -r t_x_acc m_x_acc < <(CODEC="-c:v libx264 -preset veryfast -c:a aac" OUT=xacc.mp4 timed bash "$WORK/ffm_cut.sh")
read -r t_gop _ < <(timed ffmpeg -v error -y -ss 100 -t 10 -i "$SRC" -an -c:v libx264 -preset veryfast "$WORK/ffm/gop.mp4")
d_x_ours=$(dur "$WORK/ours/exact.mp4")
d_x_copy=$(dur "$WORK/ffm/xcopy.mp4")
d_x_acc=$(dur "$WORK/ffm/xacc.mp4")
d_x_asked=$(echo "(${XR[1]} - ${XR[0]} + ${XR[3]} - ${XR[2]} + ${XR[5]} - ${XR[4]}) / 1000" | bc -l)

# --- join of three inputs, stream copy (the pieces made above)
t_ours_j=$("$BIN" join "$WORK/ours" joined2.mp4 "$WORK/ours/bench_piece_0.mp4" "$WORK/ours/bench_piece_1.mp4" \
    "$WORK/ours/bench_piece_2.mp4")
t0=$(secs)
ffmpeg -v error -y -f concat -safe 0 -i "$WORK/ffm/list.txt" -c copy "$WORK/ffm/joined2.mp4"
t_ffm_j=$(elapsed "$t0")

# --- one re-encoded cut of 60 s
t_ours_re=$("$BIN" crop "$SRC" "$WORK/ours" reenc.mp4 120000 180000 1)
t0=$(secs)
ffmpeg -v error -y -ss 120 -to 180 -i "$SRC" -c:v libx264 -preset veryfast -c:a aac "$WORK/ffm/reenc.mp4"
t_ffm_re=$(elapsed "$t0")
d_ours_re=$(dur "$WORK/ours/reenc.mp4")
d_ffm_re=$(dur "$WORK/ffm/reenc.mp4")

# --- probing
read -r p_avg p_max < <("$BIN" probe "$SRC" 20)
t0=$(secs)
for _ in 1 2 3 4 5; do ffprobe -v error -show_format -show_streams "$SRC" >/dev/null; done
t_ffprobe=$(echo "($(elapsed "$t0")) * 1000 / 5" | bc -l)

ratio() { echo "$1 / $2" | bc -l; }
printf '\n%-34s %10s %10s %8s %s\n' "job (10 min 1280x720 source)" "engine s" "ffmpeg s" "ratio" "result length engine / ffmpeg"
printf '%-34s %10.2f %10.2f %8.2f %s / %s s\n' "cut 3 pieces + join (copy)" "$t_ours_cj" "$t_ffm_cj" "$(ratio "$t_ours_cj" "$t_ffm_cj")" "$d_ours_cj" "$d_ffm_cj"
printf '%-34s %10.2f %10.2f %8.2f\n' "join of three inputs (copy)" "$t_ours_j" "$t_ffm_j" "$(ratio "$t_ours_j" "$t_ffm_j")"
printf '%-34s %10.2f %10.2f %8.2f %s / %s s\n' "re-encoded cut 60 s (veryfast)" "$t_ours_re" "$t_ffm_re" "$(ratio "$t_ours_re" "$t_ffm_re")" "$d_ours_re" "$d_ffm_re"
printf '\n%-44s %8s %10s %s\n' "exact cut, 3 stretches, cut points inside groups" "time s" "peak MB" "length s (asked $(printf %.2f "$d_x_asked"))"
printf '%-44s %8.2f %10.1f %s  (%s)\n' "engine exact cut + join" "$t_x_ours" "$(echo "$m_x_ours / 1024" | bc -l)" "$d_x_ours" "$x_frames"
printf '%-44s %8.2f %10.1f %s\n' "ffmpeg key-frame copy cut + concat" "$t_x_copy" "$(echo "$m_x_copy / 1024" | bc -l)" "$d_x_copy"
printf '%-44s %8.2f %10.1f %s\n' "ffmpeg re-encoded accurate cut + concat" "$t_x_acc" "$(echo "$m_x_acc / 1024" | bc -l)" "$d_x_acc"
printf '%-44s %8.2f\n' "ffmpeg re-encode of one group (10 s)" "$t_gop"
printf 'targets: exact <= 3 x copy + 6 groups re-encoded = %.2f s; exact <= accurate / 10 = %.2f s\n' \
    "$(echo "3 * $t_x_copy + 6 * $t_gop" | bc -l)" "$(echo "$t_x_acc / 10" | bc -l)"
printf '%-34s %10.2f\n' "cp of the source file" "$t_cp"
printf '%-34s %10.2f ms (worst %.2f ms; ffprobe program %.1f ms)\n' "probe (duration + size)" "$p_avg" "$p_max" "$t_ffprobe"
printf 'targets: copy jobs <= 1.2x ffmpeg, re-encode <= 1.2x ffmpeg veryfast, probe < 50 ms\n'
