# taviro_cli.sh -- the taviro command line: forms by extension and option, sorting, list-only, notes,
# files left out, a full card that writes nothing, editing a card in place, usage errors and exit statuses
. "$(dirname "$0")/lib.sh"

# record MODE LENGTH NAME: a 512-byte PSU entry (mode and length as octal escapes, little-endian)
record() {
  printf "$1\000\000$2"
  head -c 56 /dev/zero
  printf '%s' "$3"
  head -c $((448 - ${#3})) /dev/zero
}
DIR='\047\204'
FILE='\027\204'
# big NAME SIZE SIZE_BYTES: a save holding one file of SIZE zero bytes
big() {
  { record "$DIR" '\003\000\000\000' "$1"; record "$DIR" '\000\000\000\000' .
    record "$DIR" '\000\000\000\000' ..; record "$FILE" "$3" D; head -c "$2" /dev/zero; } > "$1.psu"
}
size() { wc -c < "$1" | tr -d ' '; }

"$BIN/ps2-samplegen" saves >/dev/null || fail "samplegen"
mkdir -p saves/sub saves/.git
mv saves/BESLES-50001RACE.psu saves/sub/
printf 'junk' > saves/.git/junk

# A dry run: each file placed (or left out and why), then whether the list fits; nothing written.
run taviro --list-only --sort asc saves/
expect_status 0 "list-only"
expect_out "saves/BASLUS-20001GAME.psu: placed \"BASLUS-20001GAME\" (3 files, 37 clusters)
saves/BISLPS-25001ADV.psu: placed \"BISLPS-25001ADV\" (3 files, 6 clusters)
saves/sub/BESLES-50001RACE.psu: placed \"BESLES-50001RACE\" (4 files in 2 directories, 11 clusters)
the card would hold 3 saves: 55 of 8135 clusters used, 8080 free" "list-only ascending, dot folder skipped"
expect_no_file out.vm2
run taviro -q --list-only --sort=desc saves
expect_out "" "list-only, quiet"

(cd saves/sub && run taviro --list-only . && case $OUT in ./BESLES-50001RACE.psu:*) ;; *) false ;; esac) ||
  fail "\".\" names the current folder's files"

run taviro --sort asc -o card.vm2 saves/*.psu saves/sub
expect_status 0 "build"
expect_out "saves/BASLUS-20001GAME.psu: placed \"BASLUS-20001GAME\" (3 files, 37 clusters)
saves/BISLPS-25001ADV.psu: placed \"BISLPS-25001ADV\" (3 files, 6 clusters)
saves/sub/BESLES-50001RACE.psu: placed \"BESLES-50001RACE\" (4 files in 2 directories, 11 clusters)
card.vm2: coded image written: 3 saves, 55 of 8135 clusters used, 8080 free" "notes"
expect_err "" "no warnings"
[ "$(size card.vm2)" = 8650752 ] || fail "coded size"
run taviro --sort asc -o card.vm2 saves/*.psu saves/sub
expect_status 0 "built again"
expect_out_has "card.vm2: coded image up to date: 3 saves, 55 of 8135 clusters used, 8080 free"

# The form: by extension (".bin" raw, anything else coded) unless an option says.
for f in card.bin:8388608 card.ps2:8650752 card.img:8650752 CARD.BIN:8388608; do
  run taviro -q -o "${f%%:*}" saves
  expect_status 0 "$f"
  [ "$(size "${f%%:*}")" = "${f##*:}" ] || fail "$f: size $(size "${f%%:*}")"
done
run taviro --raw -q -o raw.vm2 saves
[ "$(size raw.vm2)" = 8388608 ] || fail "--raw"
run taviro --coded -q --output=coded.bin saves
[ "$(size coded.bin)" = 8650752 ] || fail "--coded"
run taviro -q -o blank.bin
expect_status 0 "no paths: a fresh card"
[ "$(size blank.bin)" = 8388608 ] || fail "fresh card size"

# Problems: a missing path, a file that is no archive, one cut short by a record of neither kind,
# a save listed twice (the second is left out). The card is built from the others; the exit status tells.
cp saves/BISLPS-25001ADV.psu cut.psu
printf '\000\000' | dd of=cut.psu bs=1 seek=3072 conv=notrunc 2>/dev/null
head -c 100 /dev/zero | tr '\000' ' ' > bad.psu
run taviro -q -o card2.vm2 saves/BASLUS-20001GAME.psu missing.psu bad.psu cut.psu saves/BASLUS-20001GAME.psu
expect_status 1 "problems"
expect_err "taviro: missing.psu: no such file or folder
taviro: bad.psu: an entry runs past the end of the file
taviro: warning: cut.psu: the record at offset 3072 is neither a file nor a directory: the archive is placed up to it
taviro: saves/BASLUS-20001GAME.psu: a save of this name is already on the card (\"BASLUS-20001GAME\", from saves/BASLUS-20001GAME.psu)" "problems"
[ "$(size card2.vm2)" = 8650752 ] || fail "built from the others"

# A full card: the first archive that does not fit is named, nothing is written, an old file stays.
big BIG1 5120000 '\000\040\116\000'
big BIG2 3276800 '\000\000\062\000'
printf 'older card' > full.vm2
run taviro -o full.vm2 BIG1.psu BIG2.psu saves
expect_status 1 "full card"
expect_out "BIG1.psu: placed \"BIG1\" (1 file, 5003 clusters)" "full card notes"
expect_err "taviro: BIG2.psu: does not fit: it needs 3202 clusters and 3131 are free. The card is full; nothing was written" "full card"
[ "$(cat full.vm2)" = "older card" ] || fail "the old file was touched"
run taviro -o new.bin BIG1.psu BIG2.psu
expect_no_file new.bin "full card: no file created"
expect_no_file new.bin.tmp~

run taviro -q -o nowhere/card.bin saves
expect_status 1 "unwritable output"
expect_err_has "nowhere/card.bin: "

# Editing a card in place: a dry run and every refusal leave the card as it was (also a cut card, a page
# its code cannot mend, a lost cluster); --replace, --delete; sorvik finds the card sound and coded.
run taviro -q -o edit.vm2 saves/BASLUS-20001GAME.psu saves/BISLPS-25001ADV.psu
run taviro -q -o lost.bin saves/sub
printf '\377\377\377\377' | dd of=lost.bin bs=1 seek=$((0x2400 + 4 * 100)) conv=notrunc 2>/dev/null
head -c 8000000 edit.vm2 > cut.vm2
cp edit.vm2 flip.vm2
printf '\377\377' | dd of=flip.vm2 bs=1 seek=$((528 * 82)) conv=notrunc 2>/dev/null
for c in "--add edit.vm2 --dry-run saves/sub|would place \"BESLES-50001RACE\" in root entry 4 (a new entry), 11 clusters: 44-54" \
         "--add edit.vm2 saves/BISLPS-25001ADV.psu|--replace puts this one" "--add edit.vm2 BIG1.psu BIG2.psu|does not fit" \
         "--delete edit.vm2 NOPE|sorvik --list" "--add edit.vm2 bad.psu|leave the file out" \
         "--add edit.vm2 missing.psu|not every named PATH" "--add edit.vm2 .|this is the card being edited" "--add cut.vm2 saves/sub|it is cut" \
         "--add flip.vm2 saves/sub|codes cannot mend" "--add lost.bin saves/sub|(1 lost clusters); the card is not changed (run \"sorvik --check\""; do
  set -- ${c%%|*}
  cp "$2" before.img
  run taviro "$@"
  case "$c" in *dry-run*) expect_status 0 "$c"; expect_out_has "${c#*|}" "$c" ;;
    *) expect_status 1 "$c"; expect_err_has "${c#*|}" "$c" ;; esac
  expect_same "$2" before.img "unchanged: $c"
done
run taviro --add edit.vm2 --replace saves/BISLPS-25001ADV.psu saves/sub
expect_out_has 'placed "BISLPS-25001ADV" in root entry 3 (a deleted entry'"'"'s slot), 6 clusters: 38-43' "replace"
run taviro --delete edit.vm2 BASLUS-20001GAME
expect_out_has "after: 8116 of 8135 clusters free" "delete"
run sorvik --list edit.vm2
expect_out_has "2  dir   deleted      5 entries  BASLUS-20001GAME" "deleted save listed"
run sorvik --check edit.vm2
expect_out_has "0 cross-linked, 0 lost" "check"
expect_out_has "175 pages checked, 0 corrected, 0 uncorrectable" "codes"

# Usage.
for args in "saves" "-o" "--raw --coded -o x.bin saves" "--sort up -o x.bin saves" "--frobnicate -o x.bin" \
            "--add edit.vm2" "--delete edit.vm2" "--add -o x.vm2 edit.vm2 a.psu" "--replace -o x.vm2 saves" \
            "--delete --replace edit.vm2 X" "--add --delete edit.vm2 X"; do
  run taviro $args
  expect_status 2 "usage: $args"
  expect_err_has "Try 'taviro --help'" "usage: $args"
done
run taviro --help
expect_status 0 "help"
expect_out_has "Usage: taviro -o OUT [--raw | --coded] [--size MB] [--sort asc|desc] [-f] [-q]"
expect_out_has "Examples:"
run taviro --version
expect_out "taviro Version 20/05/24"
finish
