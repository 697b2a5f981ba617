#!/usr/bin/env bash
# Export of a DURATION-second 1280x720 class (template 5: video box, whiteboard, chat, Q&A) to MP4 at
# each output size in SIZES and KBPS kbit/s, side by side with the ffmpeg program compositing the same
# video onto a canvas of that size beside a static column picture (libx264 veryfast, the preset the
# recorder uses, at the same bitrate), both in the same run: the machine may be shared, so compare the
# two sides of a row, not runs.
# Per row and side: wall and CPU seconds (user + system), frames per second, peak memory, video
# bitrate, and the quality of the video rectangle: SSIM and PSNR of the rectangle cropped from the
# output against the source video scaled to the rectangle (ffmpeg's ssim and psnr filters). Also the
# engine's memory at 10 %, 50 % and 90 % of the video (flat memory = no growth), which encoder ran,
# and the load average before and after.
# Needs an X display for OpenGL: runs itself under xvfb-run when DISPLAY is not set.
# Usage: bash bench/bench_export.sh
# Environment: BUILD (build folder, default ./build), DURATION (seconds, default 600),
#              SIZES (default "1280x720 1920x1080"), KBPS (default 1500), TEMPLATE (default 5),
#              QUALITY (1: measure SSIM/PSNR, default 1), BENCH_TMP (work folder parent),
#              BEFORE (another build's bench_export, e.g. of an older commit: adds a "before" row),
#              CLASS (a package made before with vrk-sample, used instead of making one: a long class
#              takes long to make; DURATION and TEMPLATE then only label the rows),
#              ENCODER (the H.264 encoder the engine tries first, e.g. h264_vaapi; default: its own
#              choice, a hardware encoder where one works, else libx264).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1920x1080x24" bash "$0" "$@"
fi
BUILD="$(cd "${BUILD:-build}" && pwd)"
DURATION="${DURATION:-600}"
SIZES="${SIZES:-1280x720 1920x1080}"
KBPS="${KBPS:-1500}"
TEMPLATE="${TEMPLATE:-5}"
QUALITY="${QUALITY:-1}"
BENCH="$BUILD/bench/bench_export"
SAMPLE="$BUILD/tools/vrk-sample"
for p in "$BENCH" "$SAMPLE"; do
    [ -x "$p" ] || { echo "missing $p: build the targets bench_export and vrk-sample" >&2; exit 1; }
done
for p in ffmpeg ffprobe unzip bc /usr/bin/time; do
    command -v "$p" >/dev/null || { echo "missing program $p" >&2; exit 1; }
done

WORK="$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/bench_export.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

if [ -n "${CLASS:-}" ]; then
    ln -s "$(realpath "$CLASS")" "$WORK/class.vrk"
else
    "$SAMPLE" --template "$TEMPLATE" --duration "$DURATION" --size 1280x720 --events-scale 4 --out "$WORK/class.vrk" \
        >/dev/null
fi
unzip -q -o "$WORK/class.vrk" c.mp4 -d "$WORK"
frames_src=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
    -of csv=p=0 "$WORK/c.mp4")

kbps() { ffprobe -v error -select_streams v:0 -show_entries stream=bit_rate -of csv=p=0 "$1" | awk '{printf "%.0f", $1/1000}'; }

# "SSIM PSNR" of the rectangle X Y W H of FILE against the source video scaled to W x H.
quality() {
    if [ "$QUALITY" != 1 ]; then
        echo "- -"
        return
    fi
    local log="$WORK/quality.log"
    ffmpeg -v info -nostats -i "$1" -i "$WORK/c.mp4" -filter_complex \
        "[0:v]crop=$4:$5:$2:$3:exact=1,split[a1][a2];[1:v]scale=$4:$5,split[b1][b2];[a1][b1]ssim;[a2][b2]psnr" \
        -f null - 2>"$log" || true
    local ssim psnr
    ssim=$(grep -o 'SSIM .*All:[0-9.]*' "$log" | sed 's/.*All://' | tail -1)
    psnr=$(grep -o 'PSNR .*average:[0-9.inf]*' "$log" | sed 's/.*average://' | tail -1)
    echo "${ssim:--} ${psnr:--}"
}

# One output line: size, side, wall, cpu, frames, peak KB, file, rectangle, encoder.
row() {
    local fps
    fps=$(echo "$5 / $3" | bc -l)
    read -r ssim psnr < <(quality "$7" $8 $9 ${10} ${11})
    printf '%-10s %-8s %8.1f %8.1f %7.1f %8.0f %7s %7s %8s  %s\n' "$1" "$2" "$3" "$4" "$fps" "$(echo "$6 / 1024" | bc -l)" \
        "$(kbps "$7")" "$ssim" "$psnr" "${12}"
}

results="$WORK/results.txt"
notes="$WORK/notes.txt"
: >"$results"
: >"$notes"
for size in $SIZES; do
    W=${size%x*}
    H=${size#*x}
    # Ours: the export engine (rendering with OpenGL, software Mesa here) and the recorder.
    out="$WORK/ours_$size.mp4"
    /usr/bin/time -f "%M %U %S %e" -o "$WORK/ours.mem" "$BENCH" "$WORK/class.vrk" "$out" "$W" "$H" "$KBPS" \
        ${ENCODER:+"$ENCODER"} >"$WORK/ours.out" 2>"$WORK/ours.log" || { tail -20 "$WORK/ours.log" >&2; exit 1; }
    # The program's log shares stdout with the result lines; take those only.
    read -r _ frames _ _ _ rss10 _ rss50 _ rss90 < <(grep '^frames ' "$WORK/ours.out" | tail -1)
    read -r _ rx ry rw rh < <(grep '^video_rect ' "$WORK/ours.out" | tail -1)
    read -r mem cpu_u cpu_s wall < <(tail -1 "$WORK/ours.mem")
    encoder=$(cat "$WORK/ours.out" "$WORK/ours.log" | grep -o 'video encoder [A-Za-z0-9_]*,' | tail -1 | tr -d , | awk '{print $3}')
    row "$size" engine "$wall" "$(echo "$cpu_u + $cpu_s" | bc -l)" "$frames" "$mem" "$out" "$rx" "$ry" "$rw" "$rh" \
        "${encoder:-?}" >>"$results"
    echo "$size engine: memory at 10 / 50 / 90 % of the video $((rss10 / 1024)) / $((rss50 / 1024)) / $((rss90 / 1024)) MB; video rectangle ${rw}x${rh} at ($rx, $ry)" >>"$notes"
    if [ -n "${BEFORE:-}" ]; then
        out="$WORK/before_$size.mp4"
        /usr/bin/time -f "%M %U %S %e" -o "$WORK/before.mem" "$BEFORE" "$WORK/class.vrk" "$out" "$W" "$H" "$KBPS" \
            >"$WORK/before.out" 2>"$WORK/before.log" || { tail -20 "$WORK/before.log" >&2; exit 1; }
        read -r _ frames _ _ _ rss10 _ rss50 _ rss90 < <(grep '^frames ' "$WORK/before.out" | tail -1)
        read -r mem cpu_u cpu_s wall < <(tail -1 "$WORK/before.mem")
        row "$size" before "$wall" "$(echo "$cpu_u + $cpu_s" | bc -l)" "$frames" "$mem" "$out" "$rx" "$ry" "$rw" "$rh" \
            libx264 >>"$results"
        echo "$size before: memory at 10 / 50 / 90 % of the video $((rss10 / 1024)) / $((rss50 / 1024)) / $((rss90 / 1024)) MB" >>"$notes"
    fi

    # ffmpeg: the same video scaled into a 16:9 area beside a static column picture of 166/1280 of the width.
    col=$(((166 * W / 1280) & ~1))
    aw=$((W - col))
    vh=$(((aw * 9 / 16) & ~1))
    # Even: the overlay filter puts 4:2:0 pictures at even rows, and the quality is measured there.
    vy=$((((H - vh) / 2) & ~1))
    ffmpeg -v error -y -f lavfi -i "color=c=0xe5f2fa:s=${col}x${H},drawbox=x=10:y=10:w=$((col - 20)):h=$((H - 20)):color=0x63738a:t=2" \
        -frames:v 1 "$WORK/column.png"
    ffm="$WORK/ffm_$size.mp4"
    /usr/bin/time -f "%M %U %S %e" -o "$WORK/ffm.mem" ffmpeg -v error -y -i "$WORK/c.mp4" -loop 1 -i "$WORK/column.png" \
        -filter_complex "color=c=black:s=${W}x${H}:r=25[bg];[0:v]scale=${aw}:${vh}[v];[bg][v]overlay=0:${vy}:shortest=1[a];[a][1:v]overlay=${aw}:0:shortest=1[out]" \
        -map "[out]" -map 0:a -c:v libx264 -preset veryfast -b:v "${KBPS}k" -c:a copy "$ffm"
    read -r mem cpu_u cpu_s wall < <(tail -1 "$WORK/ffm.mem")
    row "$size" ffmpeg "$wall" "$(echo "$cpu_u + $cpu_s" | bc -l)" "$frames_src" "$mem" "$ffm" 0 "$vy" "$aw" "$vh" \
        libx264 >>"$results"
done

printf '\nexport of a %s s 1280x720 class (template %s) at %s kbit/s; load average %s before, %s after (2 cores)\n' \
    "$DURATION" "$TEMPLATE" "$KBPS" "$load_before" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-10s %-8s %8s %8s %7s %8s %7s %7s %8s  %s\n' size side "wall s" "CPU s" fps "peak MB" kbit/s SSIM "PSNR dB" encoder
cat "$results"
cat "$notes"
printf 'targets: engine CPU and wall <= the ffmpeg composite, peak memory < 250 MB and flat, bitrate within 10 %% of %s\n' "$KBPS"
