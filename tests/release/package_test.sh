#!/bin/sh
# package_test.sh -- makes the packages and looks inside: the Debian package of the command-line tools
# (deb), or the Windows zip (zip: six static programs and, in cli/, the six console programs, all importing
# only system DLLs; DROPRUN.lst, the guide with a picture of every window).
# Usage: package_test.sh deb|zip BUILD_DIR      (exit 77: skipped, the zip's cross build is missing)
set -u
KIND=$1
BUILD=$(cd "$2" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/packagetest.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
FAILED=0
fail() { echo "FAIL: $*" >&2; FAILED=1; }
has() { grep -q -- "$1" "$WORK/list" || fail "$KIND lacks $1"; }

case $KIND in
deb)
  cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK" >"$WORK/cpack.log" 2>&1 || { cat "$WORK/cpack.log"; exit 1; }
  deb=$(ls "$WORK"/ps2-save-tools_*.deb 2>/dev/null | head -n1)
  [ -n "$deb" ] || { fail "no .deb made"; exit 1; }
  dpkg-deb -f "$deb" Package Version Depends >"$WORK/fields"
  grep -q '^Package: ps2-save-tools$' "$WORK/fields" || fail "package name: $(cat "$WORK/fields")"
  grep -q '^Depends: .*libc6' "$WORK/fields" || fail "no dependency on libc6: $(cat "$WORK/fields")"
  dpkg-deb -c "$deb" | awk '{print $NF}' >"$WORK/list"
  for t in sorvik taviro varkon quilban maleto droprun; do
    has "^\./usr/bin/$t\$"
    has "^\./usr/share/man/man1/$t\.1\.gz\$"
  done
  has "^\./usr/share/doc/ps2-save-tools/GUIDE\.md\$"
  has "^\./usr/share/doc/ps2-save-tools/examples/droprun-linux\.example\.lst\$"
  echo "$(basename "$deb"): $(wc -c < "$deb") bytes, $(wc -l < "$WORK/list") entries"
  ;;
zip)
  config="$BUILD/windows/CPackConfig.cmake"
  [ -f "$config" ] || { echo "skipped: no Windows cross build in $BUILD/windows"; exit 77; }
  cpack -G ZIP --config "$config" -B "$WORK" >"$WORK/cpack.log" 2>&1 || { cat "$WORK/cpack.log"; exit 1; }
  zip=$(ls "$WORK"/ps2-save-tools-*-win64.zip 2>/dev/null | head -n1)
  [ -n "$zip" ] || { fail "no .zip made"; exit 1; }
  unzip -Z1 "$zip" >"$WORK/list"
  top=$(head -n1 "$WORK/list" | cut -d/ -f1)
  for p in SORVIK TAVIRO VARKON QUILBAN MALETO DROPRUN; do has "^$top/$p\.exe\$"; done
  for t in sorvik taviro varkon quilban maleto droprun; do has "^$top/cli/$t\.exe\$"; done
  has "^$top/DROPRUN\.lst\$"
  has "^$top/guide/\(index\.html\|GUIDE\.md\)\$"   # HTML when cmark-gfm made it
  for shot in sorvik taviro taviro_overwrite taviro_left_out varkon varkon_not_written quilban maleto droprun; do has "^$top/guide/images/$shot\.png\$"; done
  if grep -q '\.dll$' "$WORK/list"; then fail "the zip holds DLLs"; fi
  mkdir "$WORK/x" && (cd "$WORK/x" && unzip -q "$zip") || fail "unzip"
  OBJDUMP=$(command -v x86_64-w64-mingw32-objdump || command -v objdump)
  for exe in "$WORK/x/$top"/cli/*.exe; do   # the command-line tools are console programs
    "$OBJDUMP" -p "$exe" | grep -q '^Subsystem.*(Windows CUI)' || fail "cli/$(basename "$exe") is no console program"
  done
  for exe in "$WORK/x/$top"/*.exe "$WORK/x/$top"/cli/*.exe; do
    "$OBJDUMP" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' >"$WORK/dlls"
    [ -s "$WORK/dlls" ] || fail "$(basename "$exe"): no imports read"
    # Windows' own DLLs only: nothing of the compiler's runtime (libstdc++, libgcc, winpthread).
    bad=$(grep -v -x -e KERNEL32.DLL -e USER32.DLL -e GDI32.DLL -e SHELL32.DLL -e COMDLG32.DLL -e OLE32.DLL \
      -e ADVAPI32.DLL -e COMCTL32.DLL -e MSVCRT.DLL -e 'API-MS-WIN-.*' "$WORK/dlls")
    [ -z "$bad" ] || fail "$(basename "$exe") imports $(echo $bad)"
  done
  grep -q '^---- 1' "$WORK/x/$top/DROPRUN.lst" || fail "DROPRUN.lst is not a preset list"
  echo "$(basename "$zip"): $(wc -c < "$zip") bytes, $(wc -l < "$WORK/list") entries"
  ;;
*) echo "usage: $0 deb|zip BUILD_DIR" >&2; exit 2 ;;
esac
if [ $FAILED -eq 0 ]; then echo "package test ($KIND): 1 passed, 0 failed"; else echo "package test ($KIND): 0 passed, 1 failed"; fi
exit $FAILED
