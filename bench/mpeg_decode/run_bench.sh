#!/bin/sh
# Usage: run_bench.sh BUILD_BIN_DIR  (e.g. build/bin). Makes the clip once in $TMPDIR.
set -e
BIN=${1:-build/bin}
CLIP=${TMPDIR:-/tmp}/pxmpeg_bench_720x576.m2v
N=500
if [ ! -f "$CLIP" ]; then
  ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=720x576:rate=25 -frames:v $N \
    -c:v mpeg2video -b:v 5M -maxrate 5M -bufsize 1835k -g 15 -bf 2 "$CLIP"
fi
OURS=$("$BIN/mpeg_decode_bench" "$CLIP" $N)
echo "$OURS"
START=$(date +%s.%N)
ffmpeg -nostdin -v error -threads 1 -i "$CLIP" -pix_fmt bgr24 -f null -
END=$(date +%s.%N)
python3 - "$OURS" "$START" "$END" $N <<'PY'
import sys, re
ours = float(re.search(r'([0-9.]+) pictures/s', sys.argv[1]).group(1))
t = float(sys.argv[3]) - float(sys.argv[2]); n = int(sys.argv[4])
ff = n / t
print(f"ffmpeg -threads 1: {t:.3f} s, {ff:.1f} pictures/s")
print(f"ratio pxmpeg/ffmpeg: {ours/ff:.2f}")
PY
