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
  "$BIN/taviro" -q -f --raw -o "$TMP/card.bin" "$@"
  used=$("$BIN/taviro" -f --raw -o "$TMP/count.bin" "$@" | sed -n 's/.* \([0-9]*\) of 8135 clusters used.*/\1/p')
  head -c $((0xA400 + used * 1024)) "$TMP/card.bin" > "$out"
}

rm -rf valid invalid
mkdir -p valid/sorvik valid/taviro valid/varkon valid/quilban valid/maleto valid/droprun \
  invalid/sorvik invalid/taviro invalid/varkon invalid/quilban invalid/maleto invalid/droprun
"$BIN/ps2-samplegen" "$TMP/s" >/dev/null
ADV=$TMP/s/BISLPS-25001ADV.psu   # flat: icon.sys, DATA, EMPTY
RACE=$TMP/s/BESLES-50001RACE.psu # with a nested directory
{ record "$FILE" '\005\000\000\000' README; printf 'hello'; head -c 1019 /dev/zero; } > "$TMP/readme.psu"

# A save named in Shift_JIS (BISLPS-250ソウル) with a member of such a name (ソウ): the Linux tools write their
# files in the locale's character set and say so, Windows with code page 932 their bytes (the same name on disk).
cp "$ADV" "$TMP/sjis.psu" && patch "$TMP/sjis.psu" 64 'BISLPS-250\203\134\203\105\203\213' &&
  patch "$TMP/sjis.psu" 3136 '\203\134\203\105'

# ---- valid ----
short_card valid/sorvik/card.bin "$ADV" "$RACE" "$TMP/readme.psu"
short_card valid/sorvik/sjis.bin "$TMP/sjis.psu"
cp "$TMP/sjis.psu" valid/quilban/sjis.psu
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
# A FILE that is not there is skipped with a warning.
mkdir -p valid/droprun/echo/saves && : > valid/droprun/echo/saves/a.psu && : > valid/droprun/echo/notes.txt
printf -- '-\r\nEcho\r\necho "%%path%%" %%name%% [%%body%%]\r\n\r\n\r\n\r\n%%dir%%\r\n\r\n\r\n.psu|.max\r\n' > valid/droprun/echo/echo.lst
printf '%s\n' '--list $CASE/echo.lst --dry-run $CASE/saves/a.psu $CASE/gone.psu $CASE/notes.txt' > valid/droprun/echo.args

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
# TAVIRO puts no two saves of one name on a card: the third is named ADX, then renamed on the card.
sed 's/BISLPS-25001ADV/BISLPS-25001ADX/' "$ADV" > "$TMP/adv3.psu"
short_card "$TMP/names.bin" "$ADV" "$TMP/up.psu" "$TMP/adv3.psu" "$TMP/adv2.psu"
sed 's/BISLPS-25001ADX/BISLPS-25001ADV/' "$TMP/names.bin" > invalid/sorvik/names.bin

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

mkdir -p invalid/droprun/long/saves && : > invalid/droprun/long/saves/a.psu
printf -- '-\r\nToo long\r\necho %s %%path%%\r\n' "$(head -c 1000 /dev/zero | tr '\0' x)" > invalid/droprun/long/long.lst
printf '%s\n' '--list $CASE/long.lst --dry-run $CASE/saves/a.psu' > invalid/droprun/long.args

# ---- what a user has is never replaced unasked; a wrong file is named for what it is ----
# taviro: a folder with no archive in reach (its one file lies in a dot folder) keeps the card there; so
# does a card of other content; the card named as an input, or found in a folder named, is never read
# (not even with --force); a MAX archive, a second save of a name on the card (a-z folded) are left out.
mkdir -p invalid/taviro/emptydir/emptydir/.hidden && cp "$ADV" invalid/taviro/emptydir/emptydir/.hidden/
cp valid/sorvik/card.bin invalid/taviro/emptydir/card.bin
printf '%s\n' '-o $CASE/card.bin $CASE/emptydir' > invalid/taviro/emptydir.args
mkdir invalid/taviro/kept && cp valid/sorvik/card.bin invalid/taviro/kept/card.bin && cp "$ADV" invalid/taviro/kept/
printf '%s\n' '-o $CASE/card.bin $CASE/BISLPS-25001ADV.psu' > invalid/taviro/kept.args
mkdir invalid/taviro/self-input && cp valid/sorvik/card.bin invalid/taviro/self-input/c3.bin && cp "$ADV" invalid/taviro/self-input/
printf '%s\n' '-o $CASE/c3.bin $CASE/c3.bin $CASE/BISLPS-25001ADV.psu' > invalid/taviro/self-input.args
mkdir -p invalid/taviro/walked/saves && cp valid/sorvik/card.bin "$ADV" invalid/taviro/walked/saves/
printf '%s\n' '-f -o $CASE/saves/card.bin $CASE/saves' > invalid/taviro/walked.args
cp "$TMP/adv.max" invalid/taviro/adv.max
mkdir invalid/taviro/twice && cp "$ADV" invalid/taviro/twice/a.psu && sed 's/BISLPS-25001ADV/bislps-25001adv/' "$ADV" > invalid/taviro/twice/b.psu
printf '%s\n' '--raw -o $CASE/card.bin $CASE/a.psu $CASE/b.psu' > invalid/taviro/twice.args
# No PATH: a fresh card; the same card there already is up to date.
"$BIN/taviro" -q --raw -o valid/taviro/fresh.bin
printf '%s\n' '--raw -o $CASE' > valid/taviro/fresh.bin.args
# A dry run: what would be placed, whether it fits, what writing OUT would do; and with a file left out.
cp "$ADV" valid/taviro/dry-run.psu
printf '%s\n' '--list-only -o card.bin $CASE' > valid/taviro/dry-run.psu.args
mkdir invalid/taviro/dry-run && cp "$ADV" "$TMP/adv.max" invalid/taviro/dry-run/
printf '%s\n' '--list-only $CASE' > invalid/taviro/dry-run.args
# varkon run twice over both kinds: the MAX archive is up to date, and the PSU archive, which has time
# stamps its MAX copy lost, is kept. A CodeBreaker save without a name is refused; a card image is
# named for what it is. A PSV save converts; beside an older PSU archive of its name it keeps that archive.
mkdir invalid/varkon/twice && cp "$ADV" invalid/varkon/twice/adv.psu && cp "$TMP/adv.max" invalid/varkon/twice/adv.max
printf '%s\n' '$CASE/adv.psu $CASE/adv.max' > invalid/varkon/twice.args
{ printf 'CFU\000\100\037\000\000\050\001\000\000'; head -c 400 /dev/zero; } > invalid/varkon/save.cbs
head -c 4096 valid/sorvik/card.bin > invalid/varkon/card.max
mkdir invalid/varkon/beside && cp "$ADV" invalid/varkon/beside/mini.psu
python3 -c 'import sys, struct
t = bytes([0, 10, 20, 12, 9, 12, 0xD4, 7])  # 2004-12-09 12:20:10
h = bytearray(0xA0); h[0:4] = b"\0VSP"; struct.pack_into("<I", h, 0x3C, 2); struct.pack_into("<I", h, 0x64, 1)
h[0x68:0x70] = t; h[0x70:0x78] = t; struct.pack_into("<I", h, 0x7C, 0x8427); h[0x80:0x8F] = b"BISLPS-25001MIN"
e = bytearray(60); e[0:8] = t; e[8:16] = t; struct.pack_into("<II", e, 16, 5, 0x8497); e[24:28] = b"DATA"
struct.pack_into("<I", e, 56, 0xA0 + 60); open(sys.argv[1], "wb").write(bytes(h) + bytes(e) + b"hello")' invalid/varkon/beside/mini.psv
printf '%s\n' '$CASE/mini.psv' > invalid/varkon/beside.args
cp invalid/varkon/beside/mini.psv valid/varkon/mini.psv
# The same save named in Shift_JIS (BISLPS-250ウル): its name is shown in the terminal's character set.
cp valid/varkon/mini.psv valid/varkon/sjis.psv && patch valid/varkon/sjis.psv 128 'BISLPS-250\203\105\203\213\000'
# sorvik: an archive the user changed in the card's folder is kept; the others are written.
mkdir -p invalid/sorvik/kept/card && cp valid/sorvik/card.bin invalid/sorvik/kept/
printf 'my own edit' > invalid/sorvik/kept/card/BISLPS-25001ADV.psu
printf '%s\n' '$CASE/card.bin' > invalid/sorvik/kept.args
# quilban: unpacking again finds everything up to date; a member file the user edited is kept; a file
# where the folder would go is named; a card image is named and not unpacked; an archive that ends
# early is unpacked as far as it goes, with its missing and cut members named.
mkdir valid/quilban/again && cp "$ADV" valid/quilban/again/adv.psu && "$BIN/quilban" -q valid/quilban/again/adv.psu
printf '%s\n' '$CASE/adv.psu' > valid/quilban/again.args
cp -r valid/quilban/again invalid/quilban/edited && printf 'my own edit' > invalid/quilban/edited/adv/DATA
printf '%s\n' '$CASE/adv.psu' > invalid/quilban/edited.args
mkdir invalid/quilban/blocked && cp "$ADV" invalid/quilban/blocked/adv.psu && printf 'in the way' > invalid/quilban/blocked/adv
printf '%s\n' '$CASE/adv.psu' > invalid/quilban/blocked.args
head -c 4096 valid/sorvik/card.bin > invalid/quilban/card.ps2
head -c 3000 "$RACE" > invalid/quilban/cut.psu
# quilban rebuild: values that do not read as their line holds are named and read as they are; a
# deleted line is named once.
cp -r valid/quilban/manifest valid/quilban/odd-values
python3 -c 'import sys
p = sys.argv[1]; t = open(p, "rb").read().split(b"\r\n")
t[3] = b"0x8427"; t[7] = b"00 1A 0C"; t[9] = b"-1"; t[15] = b"zz"
open(p, "wb").write(b"\r\n".join(t))' valid/quilban/odd-values/QUILBAN.TXT
cp -r valid/quilban/manifest valid/quilban/shifted && sed -i '26d' valid/quilban/shifted/QUILBAN.TXT
# varkon: a stream one byte shorter than its decoder's last look-ahead converts as it stands, and
# --check calls its payload complete.
cp "$TMP/adv.max" valid/varkon/short-tail.max
python3 -c 'import sys, zlib, struct
b = bytearray(open(sys.argv[1], "rb").read())[:-1]
struct.pack_into("<I", b, 0x50, struct.unpack_from("<I", b, 0x50)[0] - 1); b[12:16] = bytes(4)
b[12:16] = struct.pack("<I", zlib.crc32(bytes(b)) & 0xFFFFFFFF); open(sys.argv[1], "wb").write(b)' valid/varkon/short-tail.max
cp valid/varkon/short-tail.max valid/varkon/short-tail-check.max
printf '%s\n' '--check $CASE' > valid/varkon/short-tail-check.max.args
echo "golden inputs made in $GOLDEN"
