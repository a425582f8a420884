#!/bin/sh
# bench/cleanup/run.sh BIN_DIR: letter pages at 300 dpi (text upright, skewed 1.5, -4 and 7 degrees,
# upside down, in a black border, blank with noise), each cleanup step timed by pxclean-bench (with
# Leptonica's skew search beside ours), then unpaper with its defaults on the same pages: its time
# per page and the angle it found.
set -eu
bin=$1
dir=$(mktemp -d "${TMPDIR:-/tmp}/pxclean-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
text="The quarterly report shows that sales rose in every region except the north, where parts arrived late and the new line of printers sold well above plan while service costs fell again. "
body=""
for i in 1 2 3 4 5 6 7; do body="$body$text"; done
convert -size 2100x2700 -density 300 -units PixelsPerInch -font DejaVu-Serif -pointsize 11 -background white \
  caption:"$body" -gravity center -extent 2550x3300 -colorspace Gray -depth 8 "$dir/upright.pgm"
for a in 1.5 -4 7; do
  convert "$dir/upright.pgm" -background white -rotate "$a" -gravity center -extent 2550x3300 -depth 8 "$dir/skew$a.pgm"
done
convert "$dir/upright.pgm" -rotate 180 "$dir/upside.pgm"
convert "$dir/upright.pgm" -resize 2330x3140! -background black -gravity northwest -splice 80x50 \
  -gravity southeast -splice 140x110 "$dir/border.pgm"
convert "$dir/upright.pgm" -fill white -draw 'rectangle 0,0 3000,4000' -attenuate 0.5 +noise Gaussian \
  -colorspace Gray -depth 8 "$dir/blank.pgm"
pages="upright skew1.5 skew-4 skew7 upside border blank"
for p in $pages; do convert "$dir/$p.pgm" -density 300 -units PixelsPerInch "$dir/$p.tif"; done
echo "pxclean (ms per step; skew in degrees, positive clockwise):"
set --
for p in $pages; do set -- "$@" "$dir/$p.tif"; done
OMP_THREAD_LIMIT=1 "$bin/pxclean-bench" "$@"
if command -v unpaper >/dev/null; then
  echo "unpaper, defaults (the angle it turned the page by, in degrees, its own sign):"
  for p in $pages; do
    start=$(date +%s.%N)
    radians=$(unpaper -v --overwrite "$dir/$p.pgm" "$dir/out-$p.pgm" 2>&1 |
      sed -n 's/^rotate ([^)]*): *\(-\{0,1\}[0-9.]*\).*/\1/p' | head -1)
    end=$(date +%s.%N)
    angle=$(awk "BEGIN { printf \"%.3f\", ${radians:-0} * 57.29578 }")
    printf '  %-10s %7.1f ms  angle %s\n' "$p" "$(awk "BEGIN { print ($end - $start) * 1000 }")" "$angle"
  done
else
  echo "unpaper is not installed (scripts/bootstrap installs it)"
fi
