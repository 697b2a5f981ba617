#!/usr/bin/env bash
# Export of a 10-minute 1280x720 playback (template 5: video box, whiteboard, chat, Q&A) to MP4 at
# 1280x720 and 1500 kbit/s, side by side with the ffmpeg program compositing the same video onto a
# 1280x720 canvas beside a static column image (libx264 veryfast, the preset the recorder uses, at the
# same bitrate). Prints CPU time (user + system: the machine may be shared), frames per second,
# multiple of realtime and peak memory of both, and the resident memory of the export at 10 %, 50 %
# and 90 % of the video (flat memory = no growth).
# Needs an X display for OpenGL: runs itself under xvfb-run when DISPLAY is not set.
# Usage: bash bench/bench_export.sh
# Environment: BUILD (build folder, default ./build), DURATION (seconds, default 600),
#              TEMPLATE (default 5), BENCH_TMP (work folder parent, default the temporary folder).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1920x1080x24" bash "$0" "$@"
fi
BUILD="$(cd "${BUILD:-build}" && pwd)"
DURATION="${DURATION:-600}"
TEMPLATE="${TEMPLATE:-5}"
BENCH="$BUILD/bench/bench_export"
SAMPLE="$BUILD/tools/vrk-sample"
for p in "$BENCH" "$SAMPLE"; do
    [ -x "$p" ] || { echo "missing $p: build the targets bench_export and vrk-sample" >&2; exit 1; }
done
for p in ffmpeg ffprobe unzip /usr/bin/time; do
    command -v "$p" >/dev/null || { echo "missing program $p" >&2; exit 1; }
done

WORK="$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/bench_export.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

"$SAMPLE" --template "$TEMPLATE" --duration "$DURATION" --size 1280x720 --events-scale 4 --out "$WORK/class.vrk"
unzip -q -o "$WORK/class.vrk" c.mp4 -d "$WORK"
frames_src=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
    -of csv=p=0 "$WORK/c.mp4")

# Ours: the export engine (rendering with OpenGL, software Mesa here) and the recorder.
/usr/bin/time -f "%M %U %S" -o "$WORK/ours.mem" "$BENCH" "$WORK/class.vrk" "$WORK/ours.mp4" 1280 720 1500 \
    >"$WORK/ours.out" 2>"$WORK/ours.log" || { tail -20 "$WORK/ours.log" >&2; exit 1; }
# The program's log shares stdout with the result line; take the result line only.
read -r _ frames _ t_ours _ rss10 _ rss50 _ rss90 < <(grep '^frames ' "$WORK/ours.out" | tail -1)
read -r mem_ours cpu_u_ours cpu_s_ours < <(tail -1 "$WORK/ours.mem")

# ffmpeg: the same video scaled into the video area, beside a static 166-pixel column picture.
ffmpeg -v error -y -f lavfi -i "color=c=0xe5f2fa:s=166x720,drawbox=x=10:y=10:w=146:h=700:color=0x63738a:t=2" \
    -frames:v 1 "$WORK/column.png"
t0=$(date +%s.%N)
/usr/bin/time -f "%M %U %S" -o "$WORK/ffm.mem" ffmpeg -v error -y -i "$WORK/c.mp4" -loop 1 -i "$WORK/column.png" \
    -filter_complex "color=c=black:s=1280x720:r=25[bg];[0:v]scale=1114:626[v];[bg][v]overlay=0:47:shortest=1[a];[a][1:v]overlay=1114:0:shortest=1[out]" \
    -map "[out]" -map 0:a -c:v libx264 -preset veryfast -b:v 1500k -c:a copy "$WORK/ffm.mp4"
t1=$(date +%s.%N)
t_ffm=$(echo "$t1 - $t0" | bc -l)
read -r mem_ffm cpu_u_ffm cpu_s_ffm < <(tail -1 "$WORK/ffm.mem")

kbps() { ffprobe -v error -select_streams v:0 -show_entries stream=bit_rate -of csv=p=0 "$1" | awk '{printf "%.0f", $1/1000}'; }
dur() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }
fps_ours=$(echo "$frames / $t_ours" | bc -l)
fps_ffm=$(echo "$frames_src / $t_ffm" | bc -l)

printf '\n%-40s %10s %10s\n' "export, ${DURATION} s 1280x720 source" "engine" "ffmpeg"
printf '%-40s %10.2f %10.2f\n' "wall seconds" "$t_ours" "$t_ffm"
printf '%-40s %10.2f %10.2f\n' "CPU seconds (user + system)" "$(echo "$cpu_u_ours + $cpu_s_ours" | bc -l)" "$(echo "$cpu_u_ffm + $cpu_s_ffm" | bc -l)"
printf '%-40s %10.1f %10.1f\n' "frames per second" "$fps_ours" "$fps_ffm"
printf '%-40s %10.2f %10.2f\n' "multiple of realtime" "$(echo "$DURATION / $t_ours" | bc -l)" "$(echo "$DURATION / $t_ffm" | bc -l)"
printf '%-40s %10.0f %10.0f\n' "peak memory MB" "$(echo "$mem_ours / 1024" | bc -l)" "$(echo "$mem_ffm / 1024" | bc -l)"
printf '%-40s %10s %10s\n' "video kbit/s (1500 asked)" "$(kbps "$WORK/ours.mp4")" "$(kbps "$WORK/ffm.mp4")"
printf '%-40s %10s %10s\n' "length s" "$(dur "$WORK/ours.mp4")" "$(dur "$WORK/ffm.mp4")"
printf '%-40s %s / %s / %s MB\n' "engine memory at 10 / 50 / 90 %" "$((rss10 / 1024))" "$((rss50 / 1024))" "$((rss90 / 1024))"
printf '%-40s %.2f (engine / ffmpeg time)\n' "ratio" "$(echo "$t_ours / $t_ffm" | bc -l)"
printf 'targets: >= 1x realtime, <= 2x the ffmpeg composite, memory flat over the video\n'
