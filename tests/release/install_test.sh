#!/bin/sh
# install_test.sh -- builds a tree as the README's first command does (scripts/demo.sh --build-only: only
# the target `commands`), installs it into a temporary prefix and uses what was installed: every CLI's
# --help and manual page, then one real job through all six tools on the bundled samples.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR   (the tree is BUILD_DIR/demo-tree, kept between runs)
set -u
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/installtest.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
FAILED=0
fail() { echo "FAIL: $*" >&2; FAILED=1; }
PREFIX=$WORK/prefix
TOOLS="sorvik taviro varkon quilban maleto droprun"

TREE=$BUILD/demo-tree
command -v ccache >/dev/null 2>&1 && export CMAKE_CXX_COMPILER_LAUNCHER=ccache
sh "$SRC/scripts/demo.sh" --build-only "$TREE" || { fail "the demo's build"; exit 1; }
cmake --install "$TREE" --prefix "$PREFIX" >"$WORK/install.log" 2>&1 || { cat "$WORK/install.log"; fail "cmake --install"; exit 1; }
BIN=$PREFIX/bin
DOC=$PREFIX/share/doc/ps2-save-tools
for t in $TOOLS; do
  [ -x "$BIN/$t" ] || fail "$t is not installed"
  [ -f "$PREFIX/share/man/man1/$t.1.gz" ] || fail "$t.1.gz is not installed"
  "$BIN/$t" --help >"$WORK/help" 2>&1 || fail "$t --help exits $?"
  head -n1 "$WORK/help" | grep -q "^Usage: $t " || fail "$t --help: $(head -n1 "$WORK/help")"
  [ "$("$BIN/$t" --version)" = "$t Version 20/05/24" ] || fail "$t --version"
  if ldd "$BIN/$t" 2>/dev/null | grep -q "not found"; then fail "$t needs a library that is missing"; fi
  if command -v man >/dev/null 2>&1; then
    MANWIDTH=80 man -l "$PREFIX/share/man/man1/$t.1.gz" 2>"$WORK/man.err" | grep -q "^NAME" || fail "man $t does not render"
    [ -s "$WORK/man.err" ] && fail "man $t: $(cat "$WORK/man.err")"
  fi
done
for page in GUIDE SORVIK TAVIRO VARKON QUILBAN MALETO DROPRUN JOURNEYS README; do
  [ -f "$DOC/$page.md" ] || fail "$page.md is not installed"
done
[ -f "$DOC/examples/droprun-linux.example.lst" ] || fail "the DROPRUN example list is not installed"
# Without a list of its own, droprun names the installed example to copy.
XDG_CONFIG_HOME=$WORK/config "$BIN/droprun" --show-presets 2>"$WORK/err" && fail "droprun read a list that is not there"
grep -q "copy the example $DOC/examples/droprun-linux.example.lst to $WORK/config/droprun/droprun.lst" "$WORK/err" ||
  fail "droprun without a list: $(cat "$WORK/err")"
# Nothing of the build tree (tests, benchmarks, fuzzers, the sample generator) comes along.
extra=$(cd "$PREFIX" && find . -type f | grep -v -e '^./bin/\(sorvik\|taviro\|varkon\|quilban\|maleto\|droprun\)$' \
  -e '^./share/man/man1/' -e '^./share/doc/ps2-save-tools/')
[ -z "$extra" ] || fail "installed besides the tools and their documents: $extra"

# The journey: build a card, split it, convert to MAX and back, unpack and rebuild, rename, launch.
cd "$WORK" || exit 1
mkdir saves && cp "$SRC"/samples/*.psu saves/
"$BIN/taviro" -q --sort asc -o card.vm2 saves || fail "taviro"
[ "$(wc -c < card.vm2)" -eq 8650752 ] || fail "card.vm2 is not a coded card image"
"$BIN/sorvik" -q card.vm2 || fail "sorvik"
"$BIN/taviro" -q --sort asc -o again.vm2 card || fail "taviro again"
cmp -s card.vm2 again.vm2 || fail "a card built from the split archives differs from the first card"
cp card/BASLUS-20001GAME.psu game.psu
"$BIN/varkon" -q game.psu || fail "varkon to MAX"
mkdir back && cp game.max back/
"$BIN/varkon" -q back/game.max && "$BIN/varkon" -q back/game.psu || fail "varkon back"
cmp -s game.max back/game.max || fail "varkon: PSU -> MAX -> PSU -> MAX changed the MAX archive"
"$BIN/quilban" -q card/BISLPS-25001ADV.psu || fail "quilban unpack"
"$BIN/quilban" -q card/BISLPS-25001ADV/QUILBAN.TXT || fail "quilban rebuild"
# The rebuilt archive gives the same card (the manifest reads an empty file's first cluster -1 as 0).
"$BIN/taviro" -q -o from-split.vm2 card/BISLPS-25001ADV.psu && "$BIN/taviro" -q -o from-rebuilt.vm2 card/BISLPS-25001ADV/BISLPS-25001ADV.psu ||
  fail "taviro from the rebuilt archive"
cmp -s from-split.vm2 from-rebuilt.vm2 || fail "quilban: the rebuilt archive differs"
"$BIN/maleto" -q game.psu || fail "maleto"
[ -f "BASLUS-20001GAME-[My Save].psu" ] || fail "maleto: no BASLUS-20001GAME-[My Save].psu"
"$BIN/droprun" --list "$DOC/examples/droprun-linux.example.lst" --preset 3 --dry-run "saves/BASLUS-20001GAME.psu" \
  >droprun.out 2>&1 || fail "droprun --dry-run"
grep -q "zip -jq BASLUS-20001GAME.zip BASLUS-20001GAME.psu" droprun.out || fail "droprun --dry-run: $(cat droprun.out)"

if [ $FAILED -eq 0 ]; then echo "install test: 1 passed, 0 failed"; else echo "install test: 0 passed, 1 failed"; fi
exit $FAILED
