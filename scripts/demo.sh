#!/bin/sh
# demo.sh -- installs what is missing, builds the command-line tools and runs the main job on the
# bundled sample saves (samples/): what each tool does, with sizes.
set -eu
cd "$(dirname "$0")/.."
scripts/setup-debian.sh minimal
cmake -S . -B build -G Ninja -DPS2_WINDOWS=OFF >/dev/null
cmake --build build -j "${JOBS:-2}" >/dev/null
BIN=$PWD/build/bin
OUT=$PWD/demo
rm -rf "$OUT"
mkdir -p "$OUT"

echo "== TAVIRO: build a memory card image from the bundled saves"
"$BIN/taviro" --sort asc -o "$OUT/card.vm2" samples/*.psu
echo "== SORVIK: split the card into PSU archives again"
"$BIN/sorvik" "$OUT/card.vm2"
echo "== MALETO: rename the archives after their save's name and title"
"$BIN/maleto" --remove-sjis "$OUT"/card/*.psu
ls -l "$OUT/card"
echo "== What came back equals what went in: a card built from the returned archives is the same card"
"$BIN/taviro" -q --sort asc -o "$OUT/again.vm2" "$OUT"/card/*.psu
cmp "$OUT/card.vm2" "$OUT/again.vm2"
echo "card.vm2 and again.vm2 are identical, byte for byte ($(wc -c < "$OUT/card.vm2") bytes)"

echo "== QUILBAN: unpack a sample into plain files and a manifest, then rebuild it"
mkdir -p "$OUT/unpack"
cp samples/BISLPS-25001ADV.psu "$OUT/unpack/ADV.psu"
"$BIN/quilban" "$OUT/unpack/ADV.psu"
ls -l "$OUT/unpack/ADV"
"$BIN/quilban" "$OUT/unpack/ADV/QUILBAN.TXT"
if cmp -s "$OUT/unpack/ADV.psu" "$OUT/unpack/ADV/BISLPS-25001ADV.psu"; then
  echo "the rebuilt archive equals the original byte for byte"
fi

echo "== VARKON: convert the samples to MAX archives, and those back to PSU archives"
echo "   (a MAX archive holds flat saves only: the sample with a nested folder is refused)"
mkdir -p "$OUT/convert/back"
cp samples/*.psu "$OUT/convert/"
"$BIN/varkon" "$OUT"/convert/*.psu || true
cp "$OUT"/convert/*.max "$OUT/convert/back/"
"$BIN/varkon" "$OUT"/convert/back/*.max
"$BIN/varkon" --check "$OUT"/convert/*.max
ls -l "$OUT/convert" "$OUT/convert/back"
echo "demo output is in $OUT"
