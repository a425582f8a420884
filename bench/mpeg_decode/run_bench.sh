#!/bin/sh
# Usage: run_bench.sh BUILD_BIN_DIR [RUNS]  (e.g. build/bin). Makes the clip once in $TMPDIR.
# Compares process CPU time (best of RUNS) of fltLoad's full decode with ffmpeg on one thread
# converting every picture to bgr24; wall clock is printed too but is unreliable on a busy machine.
set -e
BIN=${1:-build/bin}
RUNS=${2:-3}
CLIP=${TMPDIR:-/tmp}/pxmpeg_bench_720x576.m2v
N=500
if [ ! -f "$CLIP" ]; then
  ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=720x576:rate=25 -frames:v $N \
    -c:v mpeg2video -b:v 5M -maxrate 5M -bufsize 1835k -g 15 -bf 2 "$CLIP"
fi
python3 - "$BIN/mpeg_decode_bench" "$CLIP" $N "$RUNS" <<'PY'
import re, resource, subprocess, sys, time
bench, clip, n, runs = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
ours = []
for _ in range(runs):
    out = subprocess.run([bench, clip, str(n)], check=True, capture_output=True, text=True).stdout
    print(out.strip())
    ours.append(float(re.search(r'cpu ([0-9.]+) s', out).group(1)))
ff = []
for _ in range(runs):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t = time.time()
    subprocess.run(['ffmpeg', '-nostdin', '-v', 'error', '-threads', '1', '-i', clip, '-pix_fmt', 'bgr24',
                    '-f', 'null', '-'], check=True)
    wall = time.time() - t
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    print(f"ffmpeg -threads 1: {wall:.3f} s, cpu {cpu:.3f} s, {n / cpu:.1f} pictures/cpu-s")
    ff.append(cpu)
print(f"best cpu: pxmpeg {min(ours):.3f} s, ffmpeg {min(ff):.3f} s")
print(f"ratio pxmpeg/ffmpeg (speed, cpu time): {min(ff) / min(ours):.2f}")
PY
