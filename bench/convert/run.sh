#!/bin/sh
# Usage: bench/convert/run.sh BUILD_BIN_DIR [RUNS]   (e.g. build/bin)
# 1. 20 scanned 300 dpi colour letter pages (JPEG files, as a scan of type 10 leaves them) to one PDF
#    (type 146) through FileConvert. Debian's ImageMagick policy forbids writing PDF and its pixel
#    cache limits stop `convert page*.jpg` at page 19 of 20, so ImageMagick does the same per-page
#    work (decode, JPEG encode) page by page: `convert pageN.jpg -compress jpeg pageN.tif`, 20 runs,
#    CPU summed, peak memory the largest run.
# 2. A 20-page wrapped fax (1728 x 2200, 204 x 196 dpi) to one TIFF (type 3) through FileConvert,
#    beside ImageMagick converting the same Group 3 data in a TIFF container (ImageMagick cannot read
#    the wrapped stream) to an uncompressed TIFF.
# Best of RUNS for CPU time (user + system) and wall clock; peak resident memory from /usr/bin/time.
set -e
BIN=${1:-build/bin}
RUNS=${2:-3}
W=${TMPDIR:-/tmp}/m3_convert_bench
mkdir -p "$W"
if [ ! -f "$W/page20.jpg" ]; then
  convert -size 2550x3300 -seed 7 plasma:fractal -blur 0x2 -density 300 -units PixelsPerInch \
    -quality 90 "$W/page1.jpg"
  for i in $(seq 2 20); do cp "$W/page1.jpg" "$W/page$i.jpg"; done
fi
if [ ! -f "$W/fax.mfp" ]; then
  convert -size 1728x2200 xc:white -fill black -draw "rectangle 100,100 1600,180" \
    -draw "rectangle 100,300 900,2000" -draw "circle 1300,1100 1300,1500" -monochrome "$W/fax1.pbm"
  args=""
  for i in $(seq 1 20); do args="$args $W/fax1.pbm"; done
  # shellcheck disable=SC2086
  convert $args -density 204x196 -units PixelsPerInch -compress Fax "$W/fax20.tif"
  "$BIN/marlin3-faxwrap" "$W/fax20.tif" "$W/fax.mfp" > /dev/null
fi
python3 - "$BIN" "$W" "$RUNS" <<'PY'
import subprocess, sys
bin, w, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
pages = [f"{w}/page{i}.jpg" for i in range(1, 21)]

def measure(cmd):
    best = None
    for _ in range(runs):
        r = subprocess.run(["/usr/bin/time", "-f", "%e %U %S %M"] + cmd, capture_output=True, text=True)
        if r.returncode != 0:
            sys.exit(f"failed: {' '.join(cmd)}\n{r.stderr}")
        wall, user, system, rss = r.stderr.strip().splitlines()[-1].split()
        cpu = float(user) + float(system)
        if best is None or cpu < best[0]:
            best = (cpu, float(wall), int(rss) / 1024)
    return best

def measure_each(cmds):
    total = [0.0, 0.0, 0.0]
    for cmd in cmds:
        cpu, wall, rss = measure(cmd)
        total = [total[0] + cpu, total[1] + wall, max(total[2], rss)]
    return total

def row(name, ours, theirs):
    print(f"{name}: marlin3 cpu {ours[0]:.2f} s (wall {ours[1]:.2f} s, peak {ours[2]:.0f} MiB); "
          f"ImageMagick cpu {theirs[0]:.2f} s (wall {theirs[1]:.2f} s, peak {theirs[2]:.0f} MiB); "
          f"speed ratio {theirs[0] / ours[0]:.2f}x, memory ratio {theirs[2] / ours[2]:.2f}x")

ours = measure([f"{bin}/convert_bench", "146", "0", f"{w}/out.pdf"] + pages)
theirs = measure_each([["convert", p, "-compress", "jpeg", f"{w}/im{i}.tif"] for i, p in enumerate(pages)])
row("20 colour pages to PDF", ours, theirs)
ours = measure([f"{bin}/convert_bench", "3", "1", f"{w}/out.tif", f"{w}/fax.mfp"])
theirs = measure(["convert", f"{w}/fax20.tif", "-compress", "none", f"{w}/im.tif"])
row("20-page fax to TIFF", ours, theirs)
PY
