#!/usr/bin/env bash
# The quality tables of docs/mpeg-encoder.md (Quality at parity), like for like: every source and
# rate with ffmpeg held to the VBV buffer our streams declare (capped) and with -b:v alone
# (uncapped); the interlaced sources as interlaced frame pictures and as field pictures.
#   quality_table.sh BIN_DIR [FRAMES]    BIN_DIR holds pxmpeg-enc (the build's bin/)
# 50 pictures take about 20 minutes on a shared two-core machine; each table is printed as it is measured.
set -euo pipefail
bin="${1:?usage: quality_table.sh BIN_DIR [FRAMES]}"
frames="${2:-50}"
here="$(cd "$(dirname "$0")" && pwd)"
for cap in capped uncapped; do
  echo "== frame pictures, $cap (interlaced sources: --field 2)"
  python3 "$here/quality.py" "$bin" "$frames" testsrc2,mandelbrot,noise,interlaced,interlaced-zoom 1,5,15 "$cap" 2
done
for cap in capped uncapped; do
  for field in 2 1; do
    echo "== interlaced sources at 3, 5, 8 Mbit/s, $cap, --field $field (ffmpeg: interlaced frame pictures)"
    python3 "$here/quality.py" "$bin" "$frames" interlaced,interlaced-zoom 3,5,8 "$cap" "$field"
  done
done
