#!/usr/bin/env bash
# Makes the binary seed corpora of the fuzz targets with the project's own generators (media is
# never committed): make-seeds.sh VRK_SAMPLE PACK_SEED OUT_DIR
# OUT_DIR/unpack: plain and enciphered packages, whole and reduced to meta.json.
# OUT_DIR/probe:  small videos of each codec the generator knows, audio only, cut short, other containers.
# OUT_DIR/meta:   the generator's meta.json.
set -euo pipefail
sample=$1
pack=$2
out=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out/unpack" "$out/probe" "$out/meta"

small=(--duration 1 --size 64x36 --fps 10 --gop 10)
"$sample" --template 1 --out "$work/plain.vrk" "${small[@]}"
"$sample" --template 3 --out "$work/enc.vrk" "${small[@]}" --encrypt --no-audio
"$sample" --template 2 --out "$work/hevc.vrk" "${small[@]}" --video-codec hevc --no-audio
"$sample" --template 4 --out "$work/mpeg4.vrk" "${small[@]}" --video-codec mpeg4

# Whole packages are large for a fuzzer; keep one of each kind, and small ones holding only meta.json.
cp "$work/plain.vrk" "$out/unpack/plain.vrk"
cp "$work/enc.vrk" "$out/unpack/enc.vrk"
mkdir -p "$work/m"
unzip -q -o "$work/plain.vrk" meta.json -d "$work/m"
cp "$work/m/meta.json" "$out/meta/sample.json"
rm -f "$out/unpack/meta_plain.vrk" "$out/unpack/meta_enc.vrk"
"$pack" 0 "$out/unpack/meta_plain.vrk" "$work/m/meta.json"
"$pack" 1 "$out/unpack/meta_enc.vrk" "$work/m/meta.json"
printf '{"success":true,"datas":{"meta":{}}}' > "$work/m/meta.json"
: > "$work/m/c.mp4"
rm -f "$out/unpack/tiny_enc.vrk" "$out/unpack/tiny_plain.vrk"
"$pack" 1 "$out/unpack/tiny_enc.vrk" "$work/m/meta.json" "$work/m/c.mp4"
"$pack" 0 "$out/unpack/tiny_plain.vrk" "$work/m/meta.json" "$work/m/c.mp4"
# The committed JSON seeds, packed both ways.
for j in "$here"/corpus/meta/*.json; do
    n=$(basename "$j" .json)
    cp "$j" "$work/m/meta.json"
    rm -f "$out/unpack/json_$n.vrk"
    "$pack" $(( RANDOM % 2 )) "$out/unpack/json_$n.vrk" "$work/m/meta.json"
done

for p in plain hevc mpeg4; do
    unzip -q -p "$work/$p.vrk" c.mp4 > "$out/probe/$p.mp4"
done
head -c 3000 "$out/probe/plain.mp4" > "$out/probe/plain_head.mp4"
ff=(ffmpeg -hide_banner -loglevel error -y)
"${ff[@]}" -f lavfi -i "sine=frequency=440:duration=0.5" -c:a aac "$out/probe/audio_only.m4a"
"${ff[@]}" -f lavfi -i "testsrc2=size=32x18:rate=5:duration=0.6" -c:v mpeg2video "$out/probe/mpeg2.ts"
"${ff[@]}" -f lavfi -i "testsrc2=size=32x18:rate=5:duration=0.6" -c:v mjpeg "$out/probe/mjpeg.avi"
"${ff[@]}" -f lavfi -i "testsrc2=size=32x18:rate=5:duration=0.6" -c:v libx264 -pix_fmt yuv444p \
    -movflags +faststart "$out/probe/yuv444.mp4" 2>/dev/null || true
echo "seeds written to $out"
