#!/bin/sh
# Usage: run_bench.sh BUILD_BIN_DIR [RUNS]  (e.g. build/bin). Makes the clips once in $TMPDIR.
# Like with like, process CPU time (best of RUNS), ffmpeg on one thread:
#   decoding alone: our decode to the last page, no colour conversion, against
#                   ffmpeg -threads 1 -i CLIP -f null -   (no pixel conversion either);
#   every picture converted: every page through fltLoad one call at a time (24-bit rows) against
#                   ffmpeg -threads 1 -i CLIP -pix_fmt bgr24 -f null -.
# Clips: 720x576 (500 pictures) and 1920x1080 (120 pictures), 5 and 15 Mbit/s, GOP 15, 2 B pictures.
# Wall clock is printed too but is unreliable on a busy machine.
set -e
BIN=${1:-build/bin}
RUNS=${2:-3}
DIR=${TMPDIR:-/tmp}
clip() {  # NAME SIZE PICTURES RATE
  f="$DIR/pxmpeg_bench_$1.m2v"
  if [ ! -f "$f" ]; then
    ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=$2:rate=25 -frames:v $3 \
      -c:v mpeg2video -b:v $4 -maxrate $4 -bufsize 1835k -g 15 -bf 2 "$f"
  fi
  echo "$f"
}
run() {  # CLIP PICTURES
  python3 - "$BIN/mpeg_decode_bench" "$1" "$2" "$RUNS" <<'PY'
import re, resource, subprocess, sys, time
bench, clip, n, runs = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
def ffmpeg(extra):
    best = None
    for _ in range(runs):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        subprocess.run(['ffmpeg', '-nostdin', '-v', 'error', '-threads', '1', '-i', clip] + extra +
                       ['-f', 'null', '-'], check=True)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        best = cpu if best is None else min(best, cpu)
    return best
def ours(mode):
    best = None
    for _ in range(runs):
        out = subprocess.run([bench, clip, str(n), mode], check=True, capture_output=True, text=True).stdout
        cpu = float(re.search(r'cpu ([0-9.]+) s', out).group(1))
        best = cpu if best is None else min(best, cpu)
    print('  ' + out.strip())
    return best
for mode, extra, what in (('decode', [], 'decoding alone'), ('every', ['-pix_fmt', 'bgr24'], 'every picture to 24-bit')):
    o, f = ours(mode), ffmpeg(extra)
    print(f"  {what:24s} cpu pxmpeg {o:.3f} s ({n / o:.0f}/s), ffmpeg {f:.3f} s ({n / f:.0f}/s), speed ratio {f / o:.2f}")
PY
}
echo "720x576, 500 pictures, 5 Mbit/s:"
run "$(clip 720x576 720x576 500 5M)" 500
echo "1920x1080, 120 pictures, 15 Mbit/s:"
run "$(clip 1920x1080 1920x1080 120 15M)" 120
