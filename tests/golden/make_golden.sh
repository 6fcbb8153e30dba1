#!/bin/sh
# make_golden.sh -- makes the golden inputs of tests/golden/ from our own samples and the tools themselves:
# valid/<tool>/ must be handled cleanly, invalid/<tool>/ must be refused. Run it again only to remake them;
# then bless the expected outputs: GOLDEN_BLESS=1 sh tests/cli/golden_cli.sh <bin-dir> <source-dir>.
# Usage: sh tests/golden/make_golden.sh <bin-dir>
set -eu
BIN=$(cd "$1" && pwd)
cd "$(dirname "$0")"
GOLDEN=$(pwd)
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

# record MODE LENGTH NAME: a 512-byte PSU entry (mode and length as octal escapes, little-endian)
record() {
  printf "$1\000\000$2"
  head -c 56 /dev/zero
  printf '%s' "$3"
  head -c $((448 - ${#3})) /dev/zero
}
DIR='\047\204'
FILE='\027\204'
# patch FILE OFFSET OCTAL-BYTES: overwrites bytes in place
patch() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null; }
# reseal FILE: the MAX archive's check value made right again (CRC-32 of the file, its crc field zero)
reseal() {
  python3 -c 'import sys, zlib, struct
b = bytearray(open(sys.argv[1], "rb").read()); b[12:16] = bytes(4)
b[12:16] = struct.pack("<I", zlib.crc32(bytes(b)) & 0xFFFFFFFF); open(sys.argv[1], "wb").write(b)' "$1"
}
# short_card OUT ARCHIVES...: a raw card of the archives, cut behind its last cluster in use
short_card() {
  out=$1; shift
  "$BIN/taviro" -q --raw -o "$TMP/card.bin" "$@"
  used=$("$BIN/taviro" --raw -o "$TMP/count.bin" "$@" | sed -n 's/.* \([0-9]*\) of 8135 clusters used.*/\1/p')
  head -c $((0xA400 + used * 1024)) "$TMP/card.bin" > "$out"
}

rm -rf valid invalid
mkdir -p valid/sorvik valid/taviro valid/varkon valid/quilban valid/maleto valid/droprun \
  invalid/sorvik invalid/taviro invalid/varkon invalid/quilban invalid/maleto invalid/droprun
"$BIN/ps2-samplegen" "$TMP/s" >/dev/null
ADV=$TMP/s/BISLPS-25001ADV.psu   # flat: icon.sys, DATA, EMPTY
RACE=$TMP/s/BESLES-50001RACE.psu # with a nested directory
{ record "$FILE" '\005\000\000\000' README; printf 'hello'; head -c 1019 /dev/zero; } > "$TMP/readme.psu"

# ---- valid ----
short_card valid/sorvik/card.bin "$ADV" "$RACE" "$TMP/readme.psu"
cp "$ADV" valid/taviro/adv.psu
cp "$RACE" valid/taviro/race.psu
cp "$TMP/readme.psu" valid/taviro/file-top.psu
cp "$ADV" valid/varkon/adv.psu
cp "$ADV" "$TMP/adv.psu" && "$BIN/varkon" -q "$TMP/adv.psu"
cp "$TMP/adv.max" valid/varkon/adv.max
cp "$TMP/adv.max" valid/varkon/bad-crc.max && patch valid/varkon/bad-crc.max 12 '\000\000\000\000'
cp "$ADV" valid/quilban/adv.psu
cp "$RACE" valid/quilban/race.psu
mkdir "$TMP/q" && cp "$ADV" "$TMP/q/adv.psu" && "$BIN/quilban" -q "$TMP/q/adv.psu"
cp -r "$TMP/q/adv" valid/quilban/manifest
cp "$ADV" valid/maleto/adv.psu
cp "$ADV" valid/maleto/adv-remove-sjis.psu
printf '%s\n' '--remove-sjis $CASE' > valid/maleto/adv-remove-sjis.psu.args
printf -- '-\r\nEcho\r\necho "%%path%%" %%name%% [%%body%%]\r\n\r\n\r\n\r\n%%dir%%\r\n\r\n\r\n.psu|.max\r\n' > valid/droprun/echo.lst
printf '%s\n' '--list $CASE --dry-run saves/a.psu notes.txt' > valid/droprun/echo.lst.args

# ---- invalid ----
printf 'just some text, not a card image\n' > invalid/sorvik/text.ps2
: > invalid/sorvik/empty.ps2
cp valid/sorvik/card.bin invalid/sorvik/version-1.1.bin && patch invalid/sorvik/version-1.1.bin 28 '1.1'
cp valid/sorvik/card.bin invalid/sorvik/noext
# The root's chain runs back into itself; the first save's directory chain does.
cp valid/sorvik/card.bin invalid/sorvik/looped-root.bin && patch invalid/sorvik/looped-root.bin $((0x2400)) '\000\000\000\200'
cp valid/sorvik/card.bin invalid/sorvik/looped-save.bin && patch invalid/sorvik/looped-save.bin $((0x2404)) '\001\000\000\200'
{ record "$DIR" '\003\000\000\000' "../UP"; record "$DIR" '\000\000\000\000' .; record "$DIR" '\000\000\000\000' ..
  record "$FILE" '\001\000\000\000' X; printf 'x'; head -c 1023 /dev/zero; } > "$TMP/up.psu"
sed 's/BISLPS-25001ADV/BISLPS-25001ADW/' "$ADV" > "$TMP/adv2.psu"
short_card invalid/sorvik/names.bin "$ADV" "$TMP/up.psu" "$ADV" "$TMP/adv2.psu"

printf 'plain text is not a save\n' > invalid/taviro/text.psu
: > invalid/taviro/empty.psu
head -c 3000 "$RACE" > invalid/taviro/cut.psu
# An older card named as the output, and only a mistyped path: the card stays.
cp valid/sorvik/card.bin invalid/taviro/older-card.bin
printf '%s\n' '-o $CASE mistyped.psu' > invalid/taviro/older-card.bin.args
{ record "$DIR" '\002\000\000\000' LONELY; record "$FILE" '\000\000\000\000' A; record "$FILE" '\000\000\000\000' B; } \
  > invalid/taviro/no-links.psu

printf 'neither kind of save\n' > invalid/varkon/text.txt
printf 'Ps2PowerSave short' > invalid/varkon/short.max
cp "$TMP/adv.max" invalid/varkon/cut-stream.max && truncate -s -100 invalid/varkon/cut-stream.max
reseal invalid/varkon/cut-stream.max
cp "$TMP/adv.max" invalid/varkon/huge-payload.max && patch invalid/varkon/huge-payload.max 88 '\000\000\200\000'
reseal invalid/varkon/huge-payload.max
cp "$TMP/adv.max" invalid/varkon/records-past-end.max && patch invalid/varkon/records-past-end.max 84 '\011'
reseal invalid/varkon/records-past-end.max
cp "$RACE" invalid/varkon/nested.psu
cp "$ADV" invalid/varkon/count-1.psu && patch invalid/varkon/count-1.psu 4 '\001'
head -c 4000 "$ADV" > invalid/varkon/member-cut.psu
cp valid/varkon/bad-crc.max invalid/varkon/damaged-self.psu
# Other writers' saves (our tools write none; real ones are in ../shared): a PlayStation save in a PSV
# file (save type 1 at 0x3C), a CodeBreaker header cut short, a SharkPort save cut inside its strings.
{ printf '\000VSP'; head -c 56 /dev/zero; printf '\001\000\000\000'; head -c 64 /dev/zero; } > invalid/varkon/ps1.psv
{ printf 'CFU\000\100\037\000\000\050\001\000\000'; head -c 20 /dev/zero; } > invalid/varkon/cut.cbs
{ printf '\015\000\000\000SharkPortSave\000\000\000\000\004\000\000\000Re'; } > invalid/varkon/cut.sps

cp "$ADV" invalid/quilban/noext
{ record "$DIR" '\004\000\000\000' SAVE; record "$DIR" '\000\000\000\000' .; record "$DIR" '\000\000\000\000' ..
  record "$FILE" '\003\000\000\000' ../escaped; printf 'bad'; head -c 1021 /dev/zero
  record "$FILE" '\002\000\000\000' quilban.txt; printf 'no'; head -c 1022 /dev/zero; } > invalid/quilban/unsafe.psu
mkdir invalid/quilban/no-block && printf 'QUILBAN\r\n------\r\n' > invalid/quilban/no-block/QUILBAN.TXT
mkdir "$TMP/u" && cp invalid/quilban/unsafe.psu "$TMP/u/s.psu" && "$BIN/quilban" -q --temp-names "$TMP/u/s.psu"
cp -r "$TMP/u/s" invalid/quilban/unsafe-manifest
sed 's/temp0004\.bin/..\/escaped/' "$TMP/u/s/QUILBAN.TXT" > invalid/quilban/unsafe-manifest/QUILBAN.TXT

cp "$ADV" invalid/maleto/no-title.psu && sed -i 's/PS2D/PS2X/' invalid/maleto/no-title.psu
cp "$ADV" invalid/maleto/short-name.psu && patch invalid/maleto/short-name.psu 64 'B\000'
head -c 512 "$ADV" > invalid/maleto/top-only.psu
"$BIN/ps2-samplegen" "$TMP/t" >/dev/null
sed 's/My Save/My\/Save/' "$TMP/t/BASLUS-20001GAME.psu" > invalid/maleto/slash.psu

printf -- '-\r\nToo long\r\necho %s %%path%%\r\n' "$(head -c 1000 /dev/zero | tr '\0' x)" > invalid/droprun/long.lst
printf '%s\n' '--list $CASE --dry-run saves/a.psu' > invalid/droprun/long.lst.args
echo "golden inputs made in $GOLDEN"
