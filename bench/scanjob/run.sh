#!/bin/sh
# A whole headless run of marlin3 scanning 10 letter pages at 300 dpi colour from SANE's test backend's
# feeder into one PDF, beside the same work done the way a user would pick: `scanimage --batch
# --format=jpeg` followed by `img2pdf` (the JPEG pages put into the PDF as they are), and beside
# `scanimage --batch` plus ImageMagick `convert` (one thread, PDF through its PDFA coder: Debian's
# policy forbids "PDF"; resource limits raised in a policy of the work folder's own so 10 letter pages
# fit). Wall time and peak memory of each, best of N.
# Usage: bench/scanjob/run.sh BIN_DIR [RUNS]
set -eu
bin=$(cd "$1" && pwd)
runs=${2:-3}
work=$(mktemp -d "${TMPDIR:-/tmp}/m3scanbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/sane" "$work/reg" "$work/tmp" "$work/magick"
echo test > "$work/sane/dll.conf"
printf 'number_of_devices 1\ngeometry_max 300.0\ngeometry_quant 0.0\ntest-picture "Color pattern"\n' > "$work/sane/test.conf"
cat > "$work/magick/policy.xml" <<'POLICY'
<policymap>
  <policy domain="resource" name="memory" value="2GiB"/>
  <policy domain="resource" name="map" value="4GiB"/>
  <policy domain="resource" name="area" value="1GP"/>
  <policy domain="resource" name="disk" value="8GiB"/>
</policymap>
POLICY
export SANE_CONFIG_DIR="$work/sane" MARLIN3_REGISTRY_DIR="$work/reg" TMPDIR="$work/tmp/"
"$bin/marlin3-product" direct --port 60000 --device test:0 >/dev/null
# The scanner's dialog: colour, 300 dpi, the feeder, a letter area (215.9 x 279.4 mm).
printf 'dialog 160\nselect 1601 Colour\nselect 1602 300\nselect 1603 Automatic Document Feeder\ntype 1604 0\ntype 1605 0\ntype 1606 216\ntype 1607 279\nclick 1\n' > "$work/script.txt"

# Prints "seconds kilobytes" of the best (shortest) of $runs runs of the command.
best() {
  b=""
  i=0
  while [ $i -lt "$runs" ]; do
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>&1 || true
    t=$(cat "$work/time.txt")
    if [ -z "$b" ] || [ "$(echo "$t $b" | awk '{print ($1 < $3)}')" = 1 ]; then b=$t; fi
    i=$((i + 1))
  done
  echo "$b"
}

cat > "$work/ours.sh" <<JOB
rm -f "$work/ours.pdf"
MARLIN3_UI=scripted MARLIN3_UI_SCRIPT="$work/script.txt" "$bin/marlin3" /Task 3 /Hide 4097 /Type 146 /OutFile "$work/ours.pdf"
JOB
cat > "$work/peer.sh" <<JOB
rm -f "$work"/p*.pnm "$work/peer.pdf"
scanimage -d test:0 --source "Automatic Document Feeder" --mode Color --resolution 300 -l 0 -t 0 \\
  -x 215.9 -y 279.4 --format=pnm --batch="$work/p%d.pnm" --batch-count=10 &&
MAGICK_THREAD_LIMIT=1 MAGICK_CONFIGURE_PATH="$work/magick" convert \$(ls "$work"/p*.pnm | sort -V) \\
  -quality 75 "PDFA:$work/peer.pdf"
JOB
cat > "$work/jpeg.sh" <<JOB
rm -f "$work"/j*.jpg "$work/jpeg.pdf"
scanimage -d test:0 --source "Automatic Document Feeder" --mode Color --resolution 300 -l 0 -t 0 \\
  -x 215.9 -y 279.4 --format=jpeg --batch="$work/j%d.jpg" --batch-count=10 &&
img2pdf -o "$work/jpeg.pdf" \$(ls "$work"/j*.jpg | sort -V)
JOB
o=$(best sh "$work/ours.sh")
j=$(best sh "$work/jpeg.sh")
p=$(best sh "$work/peer.sh")
echo "marlin3 (scan + PDF):         $o (s, KiB peak) pages $(pdfinfo "$work/ours.pdf" 2>/dev/null | sed -n 's/^Pages: *//p'), $(pdfimages -list "$work/ours.pdf" 2>/dev/null | awk 'NR==3{print $4 "x" $5 " px at " $13 " dpi"}')"
echo "scanimage --batch --format=jpeg + img2pdf: $j (s, KiB peak) pages $(pdfinfo "$work/jpeg.pdf" 2>/dev/null | sed -n 's/^Pages: *//p')"
echo "scanimage --batch + convert:  $p (s, KiB peak) pages $(pdfinfo "$work/peer.pdf" 2>/dev/null | sed -n 's/^Pages: *//p')"
ratios() {
  echo "$o $2" | awk -v peer="$1" '{ if ($1 > 0 && $2 > 0) printf "%s: speed ratio (peer time / ours) %.2f, memory ratio (peer / ours) %.1f\n", peer, $3 / $1, $4 / $2; else print peer ": no ratio (a run failed)" }'
}
ratios "scanimage --format=jpeg + img2pdf" "$j"
ratios "scanimage + convert" "$p"
