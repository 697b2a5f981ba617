#!/usr/bin/env bash
# Cut and merge of packages with a 10-minute 720p video through the session, side by side with the
# ffmpeg program's stream-copy cut and concat of the same video plus `zip` of the result.
#
# Usage: bash bench/bench_cutmerge.sh            (build in ./build, work files in /tmp/vrk-bench-cutmerge)
#   BUILD_DIR=...  build directory holding tools/vrk-sample and bench/bench_cutmerge
#   BENCH=...      bench_cutmerge binary to time (default: the one in BUILD_DIR)
#   WORK_DIR=...   where the generated package is cached and the outputs go
#   DURATION=600   length of the generated video in seconds; SIZE=1280x720 its picture size
#   BASIC=0        skips the first table
#   CLASSES="600:45 7200:20"  class-sized packages (seconds:events scale) for the second table, whose
#                  cut, merge of two copies and reading alone are measured with /usr/bin/time -v;
#                  CLASSES= skips that table. Generated once into CACHE_DIR (~/.cache/vrk-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
WORK_DIR="${WORK_DIR:-/tmp/vrk-bench-cutmerge}"
DURATION="${DURATION:-600}"
SIZE="${SIZE:-1280x720}"
SAMPLE="$BUILD_DIR/tools/vrk-sample"
BENCH="${BENCH:-$BUILD_DIR/bench/bench_cutmerge}"
for f in "$SAMPLE" "$BENCH"; do
    [ -x "$f" ] || { echo "missing $f (build the targets vrk-sample and bench_cutmerge)" >&2; exit 1; }
done
command -v ffmpeg >/dev/null && command -v zip >/dev/null && command -v unzip >/dev/null || {
    echo "needs ffmpeg, zip and unzip" >&2
    exit 1
}

mkdir -p "$WORK_DIR"
ph() { grep "^$2 " "$1" | cut -d' ' -f2; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
size() { stat -c %s "$1"; }

# ---- one 10-minute package against unzip + ffmpeg + zip (BASIC=0 skips it) ----
if [ "${BASIC:-1}" = 1 ]; then
SRC="$WORK_DIR/src-${DURATION}s-${SIZE}.vrk"
if [ ! -f "$SRC" ]; then
    echo "generating $SRC ..."
    "$SAMPLE" --duration "$DURATION" --size "$SIZE" --video-bitrate 2000 --out "$SRC"
fi
for i in 1 2 3; do
    [ -f "$WORK_DIR/in$i.vrk" ] || cp "$SRC" "$WORK_DIR/in$i.vrk"
done

# Three segments spread over the video, in seconds; every cut point lies inside a group of pictures
# (key frames every 2 s), so the exact cut re-encodes a little at each of the six.
D=$DURATION
SEGS=($((D / 10)).52 $((D * 3 / 10)).96 $((D * 4 / 10)).52 $((D * 6 / 10)).96 $((D * 7 / 10)).52 $((D * 9 / 10)).96)

secs() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# ---- ours: cut ----
rm -f "$WORK_DIR/cut.vrk"
t0=$(secs)
/usr/bin/time -f '%M' -o "$WORK_DIR/cut.mem" "$BENCH" cut "$WORK_DIR/cut.vrk" "$SRC" "${SEGS[@]}" >"$WORK_DIR/cut.phases"
t1=$(secs)
ours_cut=$(grep '^total_without_read_pause ' "$WORK_DIR/cut.phases" | cut -d' ' -f2)

# ---- ffmpeg + zip: cut ----
B="$WORK_DIR/base-cut"
rm -rf "$B" "$WORK_DIR/base-cut.vrk"
t0=$(secs)
mkdir -p "$B/src" "$B/out"
unzip -q "$SRC" -d "$B/src"
ta=$(secs)
: >"$B/list.txt"
for n in 0 1 2; do
    b=${SEGS[$((n * 2))]}
    e=${SEGS[$((n * 2 + 1))]}
    ffmpeg -v error -y -ss "$b" -to "$e" -i "$B/src/c.mp4" -c copy -avoid_negative_ts make_zero "$B/c_$n.mp4"
    echo "file '$B/c_$n.mp4'" >>"$B/list.txt"
done
tb=$(secs)
ffmpeg -v error -y -f concat -safe 0 -i "$B/list.txt" -c copy "$B/out/c.mp4"
tc=$(secs)
cp "$B/src/meta.json" "$B/out/"
cp -r "$B/src/image" "$B/out/"
(cd "$B/out" && zip -qr "$WORK_DIR/base-cut.vrk" .)
t1=$(secs)
base_cut=$(elapsed "$t0" "$t1")
base_cut_unpack=$(elapsed "$t0" "$ta")
base_cut_crop=$(elapsed "$ta" "$tb")
base_cut_join=$(elapsed "$tb" "$tc")
base_cut_pack=$(elapsed "$tc" "$t1")

# ---- ffmpeg + zip: accurate cut (re-encoded) ----
B="$WORK_DIR/acc-cut"
rm -rf "$B" "$WORK_DIR/acc-cut.vrk"
t0=$(secs)
mkdir -p "$B/src" "$B/out"
unzip -q "$SRC" -d "$B/src"
: >"$B/list.txt"
for n in 0 1 2; do
    b=${SEGS[$((n * 2))]}
    e=${SEGS[$((n * 2 + 1))]}
    /usr/bin/time -f '%M' -a -o "$B/mem" ffmpeg -v error -y -ss "$b" -to "$e" -i "$B/src/c.mp4" \
        -c:v libx264 -preset veryfast -c:a aac "$B/c_$n.mp4"
    echo "file '$B/c_$n.mp4'" >>"$B/list.txt"
done
ffmpeg -v error -y -f concat -safe 0 -i "$B/list.txt" -c copy "$B/out/c.mp4"
cp "$B/src/meta.json" "$B/out/"
cp -r "$B/src/image" "$B/out/"
(cd "$B/out" && zip -qr "$WORK_DIR/acc-cut.vrk" .)
t1=$(secs)
acc_cut=$(elapsed "$t0" "$t1")
acc_mem=$(sort -n "$B/mem" | tail -1)
vlen() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }
rm -rf "$WORK_DIR/cut-check" && mkdir -p "$WORK_DIR/cut-check" && unzip -q "$WORK_DIR/cut.vrk" c.mp4 -d "$WORK_DIR/cut-check"
len_ours=$(vlen "$WORK_DIR/cut-check/c.mp4")
len_copy=$(vlen "$WORK_DIR/base-cut/out/c.mp4")
len_acc=$(vlen "$B/out/c.mp4")
asked=$(awk -v a="${SEGS[0]}" -v b="${SEGS[1]}" -v c="${SEGS[2]}" -v d="${SEGS[3]}" -v e="${SEGS[4]}" -v f="${SEGS[5]}" \
    'BEGIN { printf "%.2f", (b - a) + (d - c) + (f - e) }')

# ---- ours: merge ----
rm -f "$WORK_DIR/merged.vrk"
"$BENCH" merge "$WORK_DIR/merged.vrk" "$WORK_DIR/in1.vrk" "$WORK_DIR/in2.vrk" "$WORK_DIR/in3.vrk" >"$WORK_DIR/merge.phases"
ours_merge=$(grep '^total_without_read_pause ' "$WORK_DIR/merge.phases" | cut -d' ' -f2)

# ---- ffmpeg + zip: merge ----
B="$WORK_DIR/base-merge"
rm -rf "$B" "$WORK_DIR/base-merge.vrk"
t0=$(secs)
mkdir -p "$B/out"
: >"$B/list.txt"
for i in 1 2 3; do
    unzip -q "$WORK_DIR/in$i.vrk" -d "$B/in$i"
    echo "file '$B/in$i/c.mp4'" >>"$B/list.txt"
done
ta=$(secs)
ffmpeg -v error -y -f concat -safe 0 -i "$B/list.txt" -c copy "$B/out/c.mp4"
tb=$(secs)
cp "$B/in1/meta.json" "$B/out/"
for i in 1 2 3; do cp -r "$B/in$i/image" "$B/out/"; done
(cd "$B/out" && zip -qr "$WORK_DIR/base-merge.vrk" .)
t1=$(secs)
base_merge=$(elapsed "$t0" "$t1")
base_merge_unpack=$(elapsed "$t0" "$ta")
base_merge_join=$(elapsed "$ta" "$tb")
base_merge_pack=$(elapsed "$tb" "$t1")


echo "source: $SRC ($(($(size "$SRC") / 1048576)) MB, ${DURATION}s $SIZE); cut keeps ${SEGS[*]} (s)"
printf '%-8s %-22s %8s %8s %8s %8s %8s %8s\n' task tool unpack crop join pack total ratio
printf '%-8s %-22s %8s %8s %8s %8s %8s %8s\n' cut "session (save)" "$(ph "$WORK_DIR/cut.phases" unpack)" \
    "$(ph "$WORK_DIR/cut.phases" crop)" "$(ph "$WORK_DIR/cut.phases" join)" \
    "$(ph "$WORK_DIR/cut.phases" trim_write_pack)" "$ours_cut" "$(ratio "$ours_cut" "$base_cut")"
printf '%-8s %-22s %8.2f %8.2f %8.2f %8.2f %8.2f %8s\n' cut "unzip+ffmpeg+zip" "$base_cut_unpack" "$base_cut_crop" \
    "$base_cut_join" "$base_cut_pack" "$base_cut" 1.00
printf '%-8s %-22s %8s %8s %8s %8s %8s %8s\n' merge "session (merge)" "$(ph "$WORK_DIR/merge.phases" unpack)" - \
    "$(ph "$WORK_DIR/merge.phases" join)" "$(ph "$WORK_DIR/merge.phases" write_pack)" "$ours_merge" \
    "$(ratio "$ours_merge" "$base_merge")"
printf '%-8s %-22s %8.2f %8s %8.2f %8.2f %8.2f %8s\n' merge "unzip+ffmpeg+zip" "$base_merge_unpack" - \
    "$base_merge_join" "$base_merge_pack" "$base_merge" 1.00
printf '%-8s %-22s %8s %8s %8s %8s %8.2f %8s\n' cut "unzip+ffmpeg accurate" - - - - "$acc_cut" "$(ratio "$acc_cut" "$base_cut")"
echo "exact cut: session $(ratio "$ours_cut" "$base_cut") x the key-frame copy cut, $(ratio "$acc_cut" "$ours_cut") x faster than the accurate re-encoded cut"
echo "video length (asked $asked s): session $len_ours s, key-frame copy $len_copy s, accurate $len_acc s"
echo "peak memory: session cut $(($(cat "$WORK_DIR/cut.mem") / 1024)) MB, ffmpeg accurate cut $((acc_mem / 1024)) MB (largest piece)"
echo "outputs: cut $(($(size "$WORK_DIR/cut.vrk") / 1048576)) MB vs $(($(size "$WORK_DIR/base-cut.vrk") / 1048576)) MB;" \
    "merge $(($(size "$WORK_DIR/merged.vrk") / 1048576)) MB vs $(($(size "$WORK_DIR/base-merge.vrk") / 1048576)) MB"
echo "(session totals leave out the fixed one-second pause before each read)"
rm -rf "$WORK_DIR/base-cut" "$WORK_DIR/base-merge" "$WORK_DIR/acc-cut" "$WORK_DIR/cut-check"
fi

# ---- class-sized event lists ----
# A 10-minute class at 45 and a 2-hour class at 20 times the sample's event density: about 0.34 M and
# 1.8 M events, meta.json of about 117 MB and 626 MB. The video is one 60 s 720p clip joined with
# itself (stream copy), so that generating a long class takes seconds rather than an encode.
CLASSES="${CLASSES-600:45 7200:20}"
[ -n "$CLASSES" ] || exit 0
CACHE_DIR="${CACHE_DIR:-$HOME/.cache/vrk-bench}"
mkdir -p "$CACHE_DIR"

class_package() { # duration scale -> path of the cached package
    local d=$1 x=$2 out="$CACHE_DIR/class-${1}s-x${2}.vrk"
    if [ ! -f "$out" ]; then
        local g
        g=$(mktemp -d "$CACHE_DIR/.gen-XXXXXX")
        [ -f "$CACHE_DIR/clip60.vrk" ] ||
            "$SAMPLE" --duration 60 --size 1280x720 --video-bitrate 670 --out "$CACHE_DIR/clip60.vrk"
        "$SAMPLE" --duration "$d" --size 16x16 --no-audio --events-scale "$x" --out "$g/events.vrk"
        unzip -q "$CACHE_DIR/clip60.vrk" c.mp4 -d "$g/clip"
        for _ in $(seq $(((d + 59) / 60))); do echo "file '$g/clip/c.mp4'"; done >"$g/list.txt"
        mkdir "$g/pkg"
        ffmpeg -nostdin -v error -f concat -safe 0 -i "$g/list.txt" -t "$d" -c copy -movflags +faststart \
            "$g/pkg/c.mp4"
        (cd "$g/pkg" && zip -q -0 "$g/events.vrk" c.mp4)
        mv "$g/events.vrk" "$out"
        rm -rf "$g"
    fi
    echo "$out"
}

# Runs the bench under /usr/bin/time -v; leaves phases in $1.phases and the resource report in $1.time.
timed() {
    local name=$1
    shift
    /usr/bin/time -v "$@" >"$name.phases" 2>"$name.time"
}
wall() { awk -F': ' '/Elapsed/ { n = split($2, a, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + a[i]; printf "%.1f", s }' "$1.time"; }
cpu() { awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } END { printf "%.1f", u + s }' "$1.time"; }
peak() { awk -F': ' '/Maximum resident/ { printf "%d", $2 / 1024 }' "$1.time"; }

echo
echo "class packages; machine before: $(uptime)"
printf '%-7s %9s %8s %-6s %7s %7s %8s %8s %7s %7s %7s %7s %7s\n' class events meta_MB task wall_s cpu_s peak_MB \
    peak/meta read_s trim_s write_s pack_s join_s
for c in $CLASSES; do
    d=${c%%:*}
    x=${c##*:}
    pkg=$(class_package "$d" "$x")
    R="$WORK_DIR/class-$d"
    rm -rf "$R"
    mkdir -p "$R"
    unzip -q "$pkg" meta.json -d "$R"
    metaMB=$(($(size "$R/meta.json") / 1048576))
    timed "$R/read" "$BENCH" read "$R/meta.json"
    events=$(ph "$R/read.phases" events)
    SEGS=($((d / 10)) $((d * 3 / 10)) $((d * 4 / 10)) $((d * 6 / 10)) $((d * 7 / 10)) $((d * 9 / 10)))
    timed "$R/cut" "$BENCH" cut "$R/cut.vrk" "$pkg" "${SEGS[@]}"
    cp "$pkg" "$R/in1.vrk"
    cp "$pkg" "$R/in2.vrk"
    timed "$R/merge" "$BENCH" merge "$R/merged.vrk" "$R/in1.vrk" "$R/in2.vrk"
    label="$((d / 60))min"
    row() { # task name, read, trim, write, pack, join
        printf '%-7s %9s %8s %-6s %7s %7s %8s %8s %7s %7s %7s %7s %7s\n' "$label" "$events" "$metaMB" "$1" \
            "$(wall "$R/$2")" "$(cpu "$R/$2")" "$(peak "$R/$2")" \
            "$(awk -v p="$(peak "$R/$2")" -v m="$3" 'BEGIN { printf "%.2f", p / m }')" "$4" "$5" "$6" "$7" "$8"
    }
    row read read "$metaMB" "$(ph "$R/read.phases" read)" - - - -
    row cut cut "$metaMB" "$(ph "$R/read.phases" read)" "$(ph "$R/cut.phases" trim)" \
        "$(ph "$R/cut.phases" write)" "$(ph "$R/cut.phases" pack)" "$(ph "$R/cut.phases" join)"
    row merge merge "$((metaMB * 2))" "$(ph "$R/read.phases" read)x2" "$(ph "$R/merge.phases" shift_append)" \
        "$(ph "$R/merge.phases" write)" "$(ph "$R/merge.phases" pack)" "$(ph "$R/merge.phases" join)"
    # The writer alone, then with meta.json deflated beside it for packing (the whole document).
    "$BENCH" write "$R/meta.json" "$R" >"$R/write.phases" 2>/dev/null
    echo "$label write of the whole meta.json: alone $(ph "$R/write.phases" write_plain) s," \
        "with the side deflate $(ph "$R/write.phases" write_with_side) s," \
        "then packing waits $(ph "$R/write.phases" side_wait_after_write) s for it"
    rm -f "$R/in1.vrk" "$R/in2.vrk" "$R/cut.vrk" "$R/merged.vrk"
done
echo "machine after: $(uptime)"
echo "(wall and cpu include unpacking, the fixed one-second pause before each read, and the engine;"
echo " peak/meta is the peak memory over the meta.json size of the input (merge: both inputs);"
echo " read is measured alone; for merge, trim_s is the shifting and appending of the event lists)"
