#!/usr/bin/env bash
# Installs the build into a scratch prefix and scans with the installed marlin3: SANE's test backend as
# the product's scanner, the scripted ui host answering the scanner's dialog, a scratch registry, the
# working folder a scratch folder and MARLIN3_MODULE_DIR unset, so every library must come from the
# installed private folder. Also checks that nothing installed points back into the build tree.
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d /tmp/m3install.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$scratch/prefix
"${CMAKE:-cmake}" --install "$build" --prefix "$prefix" >"$scratch/install.log" || { cat "$scratch/install.log"; fail "install"; }

for program in marlin3 marlin3-reg marlin3-product marlin3-mail marlin3-notify marlin3-ocr pxmpeg-tool pxmpeg-enc DEVWATCH; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program missing"
done
for library in marlin3 m3uiqt pxkernel pxfile pxpdfread pxocr pxclean pxtwain Mapi32 DvPortBridge pxmpeg; do
  [ -f "$prefix/lib/marlin3/lib$library.so" ] || fail "lib/marlin3/lib$library.so missing"
done
for page in marlin3 marlin3-reg marlin3-product marlin3-mail marlin3-notify marlin3-ocr pxmpeg-tool pxmpeg-enc DEVWATCH; do
  gzip -t "$prefix/share/man/man1/$page.1.gz" || fail "man page $page"
done
for size in 16 32 48 64 128 256; do
  icon=$prefix/share/icons/hicolor/${size}x${size}/apps/com.nexora.marlin3.png
  [ "$(identify -format '%wx%h' "$icon")" = "${size}x${size}" ] || fail "icon $size"
done
grep -qx "ExecStart=$prefix/bin/DEVWATCH" "$prefix/lib/systemd/user/marlin3-devwatch.service" ||
  fail "the user unit does not name the installed DEVWATCH"
[ ! -e "$prefix/bin/marlin3-devsim" ] || fail "the device simulator is a test tool, not installed"

# No run path or file name of the build tree survives in what was installed.
if grep -rlF "$build" "$prefix/bin" "$prefix/lib" >"$scratch/leaks" 2>/dev/null; then
  while read -r file; do
    readelf -d "$file" 2>/dev/null | grep -F "$build" && fail "$file has a run path into the build tree"
  done <"$scratch/leaks"
fi
for file in "$prefix"/bin/* "$prefix"/lib/marlin3/*.so; do
  ldd "$file" | grep -q "not found" && { ldd "$file"; fail "$file: a library is not found"; }
done

# The scan, from a folder that is neither the build tree nor the prefix.
run=$scratch/run
mkdir -p "$run/registry" "$run/sane" "$run/scans" "$run/cwd"
cd "$run/cwd"
unset MARLIN3_MODULE_DIR LD_LIBRARY_PATH
export MARLIN3_REGISTRY_DIR=$run/registry TMPDIR=$run SANE_CONFIG_DIR=$run/sane
export XDG_CONFIG_HOME=$run/config XDG_STATE_HOME=$run/state
echo test >"$run/sane/dll.conf"
printf 'number_of_devices 1\n' >"$run/sane/test.conf"
"$prefix/bin/marlin3-product" direct --port localhost:60000 --device test:0 >/dev/null
"$prefix/bin/marlin3" /Task 15
qs=$("$prefix/bin/marlin3-reg" query 'HKCU\SOFTWARE\Nexora\marlin3' /v Qs | sed -n 's/^ *Qs *REG_SZ *//p')
[ -n "$qs" ] || fail "the first run wrote no default Quick Set (is the resource library found?)"

export MARLIN3_UI=scripted MARLIN3_UI_SCRIPT=$run/script.txt MARLIN3_UI_TRANSCRIPT=$run/transcript.txt
printf 'dialog 160\nselect 1603 Automatic Document Feeder\nselect 1602 100\nclick 1\n' >"$MARLIN3_UI_SCRIPT"
printf 'number_of_devices 1\ntest-picture "Color pattern"\n' >"$run/sane/test.conf"
"$prefix/bin/marlin3" /Qs "$qs" /Hide 4097 /Type 17 /OutFile "$run/scans/scan.tif" /LogDebug 2 ||
  fail "marlin3 exited with $?"
[ -s "$run/scans/scan.tif" ] || { cat "$run/marlin3.log"; fail "no scan.tif"; }
pages=$(tiffinfo "$run/scans/scan.tif" 2>/dev/null | grep -c 'TIFF Directory')
[ "$pages" -eq 10 ] || { cat "$run/marlin3.log"; fail "scan.tif has $pages pages, not the feeder's 10"; }
echo "installed marlin3 scanned $pages pages from $(pwd) into $run/scans/scan.tif"
