#!/bin/sh
# demo.sh -- the main job: installs what is missing, builds the six command-line tools and their manual
# pages, and takes the bundled sample saves (samples/) through the whole journey: build a card (TAVIRO),
# split it (SORVIK), convert to MAX and back (VARKON), unpack and rebuild (QUILBAN), rename (MALETO).
# Prints a summary with sizes and timings, and shows that what came back equals what went in. Output in
# demo/. Afterwards `cmake --install build --prefix DIR` installs the tools, their manual pages and the guide.
#   scripts/demo.sh --build-only DIR   only the demo's build, into DIR (the install test uses it)
set -eu
cd "$(dirname "$0")/.."
ROOT=$PWD

# build_commands DIR: configures DIR as the README's build (unless it is configured already: its other
# settings stay) and builds the target `commands`, what `cmake --install` takes: the six tools and their
# manual pages. The Windows programs and the tests are built by scripts/test-all.sh.
build_commands() {
  log=$1.log
  if [ -f "$1/CMakeCache.txt" ]; then cmake -S . -B "$1" >"$log" 2>&1; else cmake -S . -B "$1" -G Ninja >"$log" 2>&1; fi ||
    { cat "$log"; exit 1; }
  cmake --build "$1" -j "${JOBS:-2}" --target commands >>"$log" 2>&1 || { tail -40 "$log"; exit 1; }
  rm -f "$log"
}
if [ "${1:-}" = --build-only ]; then
  build_commands "$2"
  exit 0
fi
scripts/setup-debian.sh minimal
build_commands build
BIN=$ROOT/build/bin
OUT=$ROOT/demo
rm -rf "$OUT"
mkdir -p "$OUT"
cd "$OUT"

now() { date +%s%N; }
ms() { echo $(( ($2 - $1) / 1000000 )); }
bytes() { cat "$@" | wc -c | tr -d ' '; }
commas() { echo "$1" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta'; }
ROWS=""
row() { ROWS="$ROWS$(printf '  %-8s %-34s %14s %14s %6s ms' "$1" "$2" "$(commas "$3")" "$(commas "$4")" "$5")
"; }
CHECKS=""
FAILED=0
check() { if eval "$2"; then CHECKS="$CHECKS  ok    $1
"; else CHECKS="$CHECKS  FAIL  $1
"; FAILED=1; fi; }

mkdir saves
cp "$ROOT"/samples/*.psu saves/
n_saves=$(ls saves | wc -l)
in_bytes=$(bytes saves/*.psu)

# TAVIRO: a coded card image of the samples, in name order.
t0=$(now); "$BIN/taviro" -q --sort asc -o card.vm2 saves; t1=$(now)
row TAVIRO "build a card of $n_saves saves" "$in_bytes" "$(bytes card.vm2)" "$(ms "$t0" "$t1")"

# SORVIK: the card back into PSU archives, one per save.
t0=$(now); "$BIN/sorvik" -q card.vm2; t1=$(now)
row SORVIK "split the card into archives" "$(bytes card.vm2)" "$(bytes card/*.psu)" "$(ms "$t0" "$t1")"
"$BIN/taviro" -q --sort asc -o again.vm2 card
check "a card built from the split archives equals the first card" "cmp -s card.vm2 again.vm2"

# VARKON: PSU -> MAX -> PSU -> MAX. MAX archives hold flat saves only, so a save with a folder stays out.
mkdir max
cp card/*.psu max/
t0=$(now); "$BIN/varkon" -q max/*.psu 2>max.err || true; t1=$(now)
refused=$(grep -c 'holds a folder' max.err || true)
n_max=$(ls max/*.max | wc -l)
converted=$(for m in max/*.max; do echo "${m%.max}.psu"; done)
row VARKON "PSU -> MAX ($n_max of $n_saves; $refused with a folder)" "$(bytes $converted)" "$(bytes max/*.max)" "$(ms "$t0" "$t1")"
mkdir back
cp max/*.max back/
t0=$(now); "$BIN/varkon" -q back/*.max; t1=$(now)
row VARKON "MAX -> PSU" "$(bytes back/*.max)" "$(bytes back/*.psu)" "$(ms "$t0" "$t1")"
mkdir again
cp back/*.psu again/
"$BIN/varkon" -q again/*.psu
same_max=1
for m in max/*.max; do cmp -s "$m" "again/${m#max/}" || same_max=0; done
check "PSU -> MAX -> PSU -> MAX gives the same MAX archives" "[ $same_max -eq 1 ]"
# The files inside each save, unpacked from the archive before and after the trip, compared.
same_files=1
for m in max/*.max; do
  name=${m#max/}; name=${name%.max}
  mkdir -p trip/before trip/after
  cp "max/$name.psu" trip/before/ && cp "back/$name.psu" trip/after/
  "$BIN/quilban" -q "trip/before/$name.psu" "trip/after/$name.psu"
  diff -r -x QUILBAN.TXT "trip/before/$name" "trip/after/$name" >/dev/null || same_files=0
done
check "every file of every converted save came back byte for byte" "[ $same_files -eq 1 ]"

# QUILBAN: unpack every archive into plain files and a manifest, then rebuild it from the manifest.
mkdir unpack
cp card/*.psu unpack/
t0=$(now); "$BIN/quilban" -q unpack/*.psu; t1=$(now)
members=$(find unpack -mindepth 2 -type f ! -name QUILBAN.TXT | wc -l)
unpacked=$(bytes unpack/*/*)
row QUILBAN "unpack ($members member files)" "$(bytes unpack/*.psu)" "$unpacked" "$(ms "$t0" "$t1")"
t0=$(now); "$BIN/quilban" -q unpack/*/QUILBAN.TXT 2>rebuild.err; t1=$(now)
row QUILBAN "rebuild from the manifests" "$unpacked" "$(bytes unpack/*/*.psu)" "$(ms "$t0" "$t1")"
# An empty member on a card has no first cluster (0xFFFFFFFF). The manifest writes that field as a signed
# number (-1), which reads back as 0 (QUILBAN warns); a card builder sets its own. Any other byte must match.
same_rebuilt=1
for a in unpack/*.psu; do
  b=${a%.psu}
  cmp -l "$a" "$b/${b#unpack/}.psu" >rebuild.cmp && continue
  [ -s rebuild.cmp ] || { same_rebuilt=0; continue; }
  awk '{ at = ($1 - 1) % 512; if (at < 16 || at > 19 || $2 != 377 || $3 != 0) bad = 1 } END { exit bad }' \
    rebuild.cmp || same_rebuilt=0
done
check "every rebuilt archive equals the archive unpacked (the first cluster of an empty member aside)" \
  "[ $same_rebuilt -eq 1 ]"

# MALETO: the archives renamed after their save's name and title, in the locale's character set.
mkdir renamed
cp card/*.psu renamed/
t0=$(now); "$BIN/maleto" -q renamed/*.psu; t1=$(now)
row MALETO "rename after name and title" "$(bytes renamed/*)" "$(bytes renamed/*)" "$(ms "$t0" "$t1")"
check "every archive was renamed" "[ \$(ls renamed | grep -c -- '-\[.*\]\.psu\$') -eq $n_saves ]"

echo
echo "PS2 save tools: the $n_saves bundled sample saves through the whole journey"
echo
printf '  %-8s %-34s %14s %14s %9s\n' tool step "bytes in" "bytes out" time
printf '%s' "$ROWS"
echo
printf '%s' "$CHECKS"
echo
echo "  renamed:"
ls renamed | sed 's/^/    /'
echo
echo "Everything is in $OUT; the tools are in $BIN (try $BIN/sorvik --help)."
echo "To install them with their manual pages and the guide: cmake --install build --prefix ~/.local"
exit $FAILED
