#!/bin/bash
# run.sh BUILD_DIR [PAGE_DIR]: ten text pages to one searchable PDF by pxocr-bench and by ocrmypdf --jobs 2 -l eng
# on the same images; wall time, CPU, peak memory and word recall of each.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pages=${2:-$work/pages}
[ -n "${2:-}" ] || "$here/make-pages.sh" "$pages"
measure() {  # name command...
  python3 "$here/peak.py" "$@"
}
measure pxocr env OMP_THREAD_LIMIT=1 "$build/bin/pxocr-bench" -j 2 "$work/pxocr.pdf" "$pages"/p*.png
python3 "$here/score.py" "$work/pxocr.pdf" "$pages" | tail -1 | sed 's/^/pxocr recall: /'
if command -v ocrmypdf > /dev/null; then
  img2pdf "$pages"/p*.png -o "$work/in.pdf"  # ImageMagick may not write PDF (its policy)
  measure ocrmypdf ocrmypdf --jobs 2 -l eng "$work/in.pdf" "$work/ocrmypdf.pdf"
  python3 "$here/score.py" "$work/ocrmypdf.pdf" "$pages" | tail -1 | sed 's/^/ocrmypdf recall: /'
fi
