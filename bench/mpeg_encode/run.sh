#!/usr/bin/env bash
# Encoder benchmark: 500 pictures of 720x576 at 5 Mbit/s, GOP 15, two B pictures, one thread;
# our encoder against ffmpeg's mpeg2video on the same raw source. Prints the speed ratio, each
# one's PSNR against the source (ffmpeg's psnr filter) and the bit rate actually spent.
#   bench_mpeg_encode.sh [FRAMES] [SOURCE]   SOURCE: mandelbrot (default, with temporal noise) | testsrc2
set -euo pipefail
bin="$(cd "$(dirname "$0")" && pwd)"
frames="${1:-500}"
kind="${2:-mandelbrot}"
work="$(mktemp -d "${TMPDIR:-/tmp}/mpeg_encode.XXXXXX")"
trap 'rm -rf "$work"' EXIT
size=720x576
case "$kind" in
  testsrc2) filter="testsrc2=size=$size:rate=25" ;;
  *) filter="mandelbrot=size=$size:rate=25,noise=alls=6:allf=t" ;;
esac
ffmpeg -v error -f lavfi -i "$filter" -frames:v "$frames" -pix_fmt yuv420p "$work/src.yuv"

psnr() {  # stream -> "y u v avg"
  ffmpeg -v error -y -i "$1" -vsync passthrough -f rawvideo -pix_fmt yuv420p "$work/dec.yuv"
  ffmpeg -s $size -pix_fmt yuv420p -f rawvideo -i "$work/dec.yuv" -s $size -pix_fmt yuv420p -f rawvideo \
    -i "$work/src.yuv" -lavfi "[0:v][1:v]psnr" -f null - 2>&1 | sed -n 's/.*PSNR y:\([0-9.]*\) u:\([0-9.]*\) v:\([0-9.]*\) average:\([0-9.]*\).*/\1 \2 \3 \4/p'
}
now() { date +%s.%N; }

# Headline: the toolkit kernel's writes (one call per byte into its write-behind buffer), timed
# like ffmpeg from process start; the in-memory figure isolates the coding itself.
ourm=$("$bin/bench_mpeg_encode" "$work/src.yuv" $size "$work/ours_m.m2v" --frame-rate-code 3)
t0=$(now)
"$bin/bench_mpeg_encode" "$work/src.yuv" $size "$work/ours.m2v" --frame-rate-code 3 --kernel-writes > /dev/null
ours=$(echo "$(now) - $t0" | bc)
t0=$(now)
ffmpeg -v error -threads 1 -s $size -pix_fmt yuv420p -f rawvideo -r 25 -i "$work/src.yuv" \
  -threads 1 -c:v mpeg2video -b:v 5M -g 15 -bf 2 "$work/ffmpeg.m2v"
theirs=$(echo "$(now) - $t0" | bc)

rate() { echo "scale=3; $(stat -c %s "$1") * 8 * 25 / $frames / 1000000" | bc; }
read -r oy ou ov oa <<<"$(psnr "$work/ours.m2v")"
read -r fy fu fv fa <<<"$(psnr "$work/ffmpeg.m2v")"
echo "frames: $frames of $size ($kind), 5 Mbit/s, GOP 15, M 3, one thread"
printf "ours:   %7.2f s (in memory: %.2f s)      PSNR y %s u %s v %s avg %s  %s Mbit/s\n" "$ours" "$ourm" "$oy" "$ou" "$ov" "$oa" "$(rate "$work/ours.m2v")"
printf "ffmpeg: %7.2f s                        PSNR y %s u %s v %s avg %s  %s Mbit/s\n" "$theirs" "$fy" "$fu" "$fv" "$fa" "$(rate "$work/ffmpeg.m2v")"
printf "speed ratio (ours / ffmpeg, >1 = faster): %.2f   PSNR difference (avg): %.2f dB\n" \
  "$(echo "$theirs / $ours" | bc -l)" "$(echo "$oa - $fa" | bc -l)"
