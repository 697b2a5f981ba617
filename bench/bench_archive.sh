#!/usr/bin/env bash
# Packs and unpacks a 300 MB package, plain and enciphered, side by side with unzip, zip -0 and cp
# (cp copies inside the kernel; dd with 4 MB blocks is the user-space copy for comparison).
# Each figure is the best of $REPS runs (wall seconds). Usage: bash bench/bench_archive.sh
# Environment: BUILD (build folder, default ./build), SIZE_MB (default 300), REPS (default 3),
#              BENCH_TMP (work folder parent, default the system temporary folder).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$(cd "${BUILD:-build}" && pwd)"
SIZE_MB="${SIZE_MB:-300}"
REPS="${REPS:-3}"
BENCH="$BUILD/bench/bench_archive"
SAMPLE="$BUILD/tools/vrk-sample"
for p in "$BENCH" "$SAMPLE"; do
    [ -x "$p" ] || { echo "missing $p: build the targets bench_archive and vrk-sample" >&2; exit 1; }
done
for p in zip unzip cp; do
    command -v "$p" >/dev/null || { echo "missing program $p" >&2; exit 1; }
done

WORK="$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/bench_archive.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

# Content: meta.json and page images of a generated sample, and a random c.mp4 of SIZE_MB.
"$SAMPLE" --duration 10 --size 320x180 --out "$WORK/seed.vrk"
mkdir -p "$WORK/src"
unzip -q "$WORK/seed.vrk" -d "$WORK/src"
head -c "$((SIZE_MB * 1024 * 1024))" /dev/urandom > "$WORK/src/c.mp4"
sync

# best_of CMD...: runs the command REPS times after a cleanup step (CLEAN) and prints the best time.
best_of() {
    local best="" t0 t1 dt
    for _ in $(seq "$REPS"); do
        eval "$CLEAN"
        t0=$(date +%s.%N)
        "$@" >/dev/null || { echo "failed: $*" >&2; exit 1; }
        t1=$(date +%s.%N)
        dt=$(echo "$t1 - $t0" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$dt < $best" | bc -l)" = 1 ]; then best=$dt; fi
    done
    printf '%.3f' "$best"
}

cd "$WORK/src"
CLEAN='rm -rf "$WORK/copy"'
t_cp=$(best_of cp -r "$WORK/src" "$WORK/copy")
CLEAN='rm -f "$WORK/dd.bin"'
t_dd=$(best_of dd if="$WORK/src/c.mp4" of="$WORK/dd.bin" bs=4M status=none)
rm -f "$WORK/dd.bin"
CLEAN='rm -f "$WORK/zip0.vrk"'
t_zip0=$(best_of zip -q -0 -r "$WORK/zip0.vrk" meta.json image c.mp4)
CLEAN='rm -f "$WORK/plain.vrk"'
t_pack_plain=$(best_of "$BENCH" pack 0 "$WORK/plain.vrk" "$WORK/src/meta.json" "$WORK/src/image" "$WORK/src/c.mp4")
CLEAN='rm -f "$WORK/enc.vrk"'
t_pack_enc=$(best_of "$BENCH" pack 1 "$WORK/enc.vrk" "$WORK/src/meta.json" "$WORK/src/image" "$WORK/src/c.mp4")
cd "$WORK"

CLEAN='rm -rf "$WORK/u"'
t_unzip=$(best_of unzip -q "$WORK/zip0.vrk" -d "$WORK/u")
t_unpack_plain=$(best_of "$BENCH" unpack "$WORK/zip0.vrk" "$WORK/u/")
t_unpack_enc=$(best_of "$BENCH" unpack "$WORK/enc.vrk" "$WORK/u/")
cmp -s "$WORK/u/c.mp4" "$WORK/src/c.mp4" || { echo "enciphered round trip changed c.mp4" >&2; exit 1; }

# Through the workspace as a cut uses it (plain packs go through QuaZip, which deflates the video).
handler() { TMPDIR="$WORK" "$BENCH" handler "$1" "$2" 2>/dev/null | tail -n 1; }
CLEAN='rm -f "$WORK/h.vrk"'
h_plain=$(handler "$WORK/plain.vrk" "$WORK/h.vrk"); rm -f "$WORK/h.vrk"
h_enc=$(handler "$WORK/enc.vrk" "$WORK/h.vrk"); rm -f "$WORK/h.vrk"

ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }
printf '\nArchive benchmark: %d MB package (random c.mp4 + sample meta.json and images), best of %d runs\n' "$SIZE_MB" "$REPS"
printf '%-44s %9s  %-22s %7s  %s\n' "operation" "seconds" "reference" "ratio" "target"
row() { printf '%-44s %9s  %-22s %7s  %s\n' "$1" "$2" "$3 $4" "$(ratio "$2" "$4")" "$5"; }
row "unpack plain (DecompressZipDec)" "$t_unpack_plain" "unzip" "$t_unzip" "<= 1.5"
row "unpack enciphered (DecompressZipDec)" "$t_unpack_enc" "unzip(plain)" "$t_unzip" "<= 1.5"
row "pack plain, stored media (CompressToZipEnc 0)" "$t_pack_plain" "zip -0" "$t_zip0" ""
row "pack enciphered (CompressToZipEnc 1)" "$t_pack_enc" "cp -r" "$t_cp" "<= 2"
row "pack enciphered (CompressToZipEnc 1)" "$t_pack_enc" "dd bs=4M" "$t_dd" ""
row "pack enciphered (CompressToZipEnc 1)" "$t_pack_enc" "zip -0" "$t_zip0" ""
row "FileHandler unpack, enciphered" "${h_enc% *}" "unzip(plain)" "$t_unzip" ""
row "FileHandler compress, enciphered" "${h_enc#* }" "cp -r" "$t_cp" ""
row "FileHandler compress, plain (QuaZip deflate)" "${h_plain#* }" "zip -0" "$t_zip0" ""
printf 'machine load: %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
