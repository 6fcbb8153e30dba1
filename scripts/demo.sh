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

echo "== MALETO: rename copies of the samples after their save's name and title"
mkdir -p "$OUT/rename"
n=0
for f in samples/*.psu; do
  n=$((n + 1))
  cp "$f" "$OUT/rename/copy$n.psu"
done
"$BIN/maleto" --remove-sjis "$OUT"/rename/*.psu
ls -l "$OUT/rename"
echo "demo output is in $OUT"
