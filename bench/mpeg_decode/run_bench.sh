#!/bin/sh
# Usage: run_bench.sh BUILD_BIN_DIR [RUNS] [SET]  (e.g. build/bin). Makes the clips once in $TMPDIR.
# Like with like, process CPU time (best of RUNS), ffmpeg on one thread:
#   decoding alone: our decode to the last page, no colour conversion, against
#                   ffmpeg -threads 1 -i CLIP -f null -   (no pixel conversion either);
#   every picture converted: every page through fltLoad one call at a time (24-bit rows) against
#                   ffmpeg -threads 1 -i CLIP -pix_fmt bgr24 -f null -.
# (Our pages are the pictures but the last in display order, so we convert one picture fewer.)
# ffmpeg's process start-up (about 0.05 s of CPU here, a sixth of a short clip's total) is not part
# of the work: its figure is the whole run minus a run of the same command stopped after the first
# picture (-frames:v 1), which also takes off that picture's decoding, in ffmpeg's favour. Ours is
# timed inside the process, from before the first fltLoad.
# SET "main" (default): 720x576 (500 pictures, 5 Mbit/s) and 1920x1080 (120 pictures, 15 Mbit/s),
# 4:2:0 progressive, GOP 15, 2 B pictures. SET "all": 352x288 (500, 2 Mbit/s), 720x576 (250,
# 5 Mbit/s) and 1920x1080 (120, 15 Mbit/s), each 4:2:0 and 4:2:2, progressive and interlaced
# (field DCT and field prediction, top field first). Prints one Markdown table row per clip.
# Wall clock is printed too but is unreliable on a busy machine.
set -e
BIN=${1:-build/bin}
RUNS=${2:-3}
SET=${3:-main}
DIR=${TMPDIR:-/tmp}
clip() {  # NAME SIZE PICTURES RATE PIXFMT INTERLACED
  f="$DIR/pxmpeg_bench_$1.m2v"
  if [ ! -f "$f" ]; then
    il=""
    [ "$6" = 1 ] && il="-flags +ildct+ilme -top 1"
    ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=$2:rate=25 -frames:v $3 -pix_fmt $5 $il \
      -c:v mpeg2video -b:v $4 -maxrate $4 -bufsize 1835k -g 15 -bf 2 "$f"
  fi
  echo "$f"
}
run() {  # LABEL CLIP PICTURES
  python3 - "$BIN/mpeg_decode_bench" "$2" "$3" "$RUNS" "$1" <<'PY'
import re, resource, subprocess, sys
bench, clip, n, runs, label = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
def ffmpeg(extra):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(['ffmpeg', '-nostdin', '-v', 'error', '-threads', '1', '-i', clip] + extra +
                   ['-f', 'null', '-'], check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
start = {}
def ours(mode):
    out = subprocess.run([bench, clip, str(n), mode], check=True, capture_output=True, text=True).stdout
    return float(re.search(r'cpu ([0-9.]+) s', out).group(1))
cells = []
for mode, extra in (('decode', []), ('every', ['-pix_fmt', 'bgr24'])):
    o = f = s = None
    for _ in range(runs):  # alternating, so all see the same load on a shared machine
        a, b, c = ours(mode), ffmpeg(extra), ffmpeg(extra + ['-frames:v', '1'])
        o = a if o is None else min(o, a)
        f = b if f is None else min(f, b)
        s = c if s is None else min(s, c)
    f -= s
    cells.append(f"{o:.3f} / {f:.3f} ({f / o:.2f}x)")
print(f"| {label} | {cells[0]} | {cells[1]} |", flush=True)
PY
}
echo "| clip | decoding alone: ours / ffmpeg CPU s, start-up excluded (speed ratio) | every picture to 24-bit: ours / ffmpeg |"
echo "|---|---|---|"
if [ "$SET" = all ]; then
  for size in 352x288:500:2M 720x576:250:5M 1920x1080:120:15M; do
    s=${size%%:*}; rest=${size#*:}; n=${rest%%:*}; rate=${rest#*:}
    for fmt in yuv420p yuv422p; do
      for il in 0 1; do
        scan=progressive; [ $il = 1 ] && scan=interlaced
        name="${s}_${fmt}_$il"
        run "$s ${fmt#yuv}, $scan, $n pictures, $rate" "$(clip $name $s $n $rate $fmt $il)" $n
      done
    done
  done
else
  run "720x576 420p, progressive, 500 pictures, 5M" "$(clip 720x576 720x576 500 5M yuv420p 0)" 500
  run "1920x1080 420p, progressive, 120 pictures, 15M" "$(clip 1920x1080 1920x1080 120 15M yuv420p 0)" 120
fi
