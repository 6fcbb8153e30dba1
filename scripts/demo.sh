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

if [ -x "$BIN/sorvik" ]; then
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
else
  echo "== MALETO: rename copies of the samples after their save's name and title"
  mkdir -p "$OUT/rename"
  n=0
  for f in samples/*.psu; do
    n=$((n + 1))
    cp "$f" "$OUT/rename/copy$n.psu"
  done
  "$BIN/maleto" --remove-sjis "$OUT"/rename/*.psu
  ls -l "$OUT/rename"
fi
echo "demo output is in $OUT"
