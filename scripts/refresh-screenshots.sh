#!/bin/sh
# refresh-screenshots.sh -- makes the user guide's pictures anew from a build: runs the GUI test driver
# tests/gui/guide_gui_test.cpp under Wine (each program in the state the guide shows) and copies its
# screenshots to docs/images/<tool>.png and the pictures of the messages the guide shows
# (taviro_overwrite, taviro_left_out, varkon_not_written).
# Usage: scripts/refresh-screenshots.sh [BUILD_DIR]      (default: build; it must hold the Windows programs)
# The Japanese texts show only with a Japanese font installed (scripts/setup-debian.sh installs one).
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
cmake --build "$BUILD" -j "${JOBS:-2}" >/dev/null
rm -f "$BUILD"/screenshots/guide_*.png
ctest --test-dir "$BUILD" -R '^(gui_wineprefix|gui_guide_ja_JP)$' --output-on-failure >/dev/null || {
  echo "refresh-screenshots: the picture run failed (ctest --test-dir $BUILD -R gui_guide --output-on-failure)" >&2
  exit 1
}
mkdir -p docs/images
for picture in sorvik taviro taviro_overwrite taviro_left_out varkon varkon_not_written quilban maleto droprun; do
  shot="$BUILD/screenshots/guide_$picture.png"
  [ -f "$shot" ] || { echo "refresh-screenshots: $shot was not made" >&2; exit 1; }
  cp "$shot" "docs/images/$picture.png"
  echo "docs/images/$picture.png ($(wc -c < "docs/images/$picture.png") bytes)"
done
