#!/usr/bin/env bash
# Builds the Debian package with CPack and checks it: lintian without errors (warnings are printed), the
# desktop entry with desktop-file-validate, the AppStream metadata with appstreamcli (no network), the
# dependencies found from the libraries, the recommended driverless-scanner backend and the maintainer
# scripts.
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d /tmp/m3package.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in "${CPACK:-cpack}" lintian desktop-file-validate appstreamcli dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/bootstrap installs it)"
done

"${CPACK:-cpack}" --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(ls "$scratch"/out/marlin3_*.deb)
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

dpkg-deb -f "$deb" Depends | tee "$scratch/depends"
grep -q 'libc6' "$scratch/depends" || fail "no library dependencies were found"
grep -q 'libsane1' "$scratch/depends" || fail "libsane1 is linked but not a dependency"
dpkg-deb -f "$deb" Recommends | grep -q 'sane-airscan' || fail "sane-airscan is not recommended"
dpkg-deb -f "$deb" Recommends | grep -q 'tesseract-ocr-osd' || fail "the OCR orientation data is not recommended"
mkdir "$scratch/control" "$scratch/root"
dpkg-deb -e "$deb" "$scratch/control"
[ -x "$scratch/control/postinst" ] && [ -x "$scratch/control/postrm" ] || fail "maintainer scripts"
dpkg-deb -x "$deb" "$scratch/root"
[ -f "$scratch/root/usr/lib/marlin3/libmarlin3.so" ] || fail "resource library not in /usr/lib/marlin3"
grep -qx 'ExecStart=/usr/bin/DEVWATCH' "$scratch/root/usr/lib/systemd/user/marlin3-devwatch.service" ||
  fail "the user unit does not name /usr/bin/DEVWATCH"

desktop-file-validate "$scratch/root/usr/share/applications/com.nexora.marlin3.desktop"
appstreamcli validate --no-net --pedantic "$scratch/root/usr/share/metainfo/com.nexora.marlin3.metainfo.xml"

# lintian refuses nothing here but reports; errors fail the test, warnings are shown.
lintian --allow-root --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1 || true
cat "$scratch/lintian.log"
if grep -q '^E:' "$scratch/lintian.log"; then fail "lintian reports errors"; fi
echo "lintian: $(grep -c '^W:' "$scratch/lintian.log" || true) warnings, no errors"
