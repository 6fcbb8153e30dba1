# fault_tmpfs_cli.sh -- the command-line tools writing onto a full file system (a tmpfs of 64 KiB, mostly
# filled): what is written is whole, nothing partial or temporary is left, every input and every older
# output stays byte for byte, each failure gets an error line and the exit status is 1.
# Needs to mount a tmpfs (root, in a mount namespace of its own when unshare allows): skipped (77) otherwise.
# MALETO only renames within a folder, which takes no room: it has nothing to fail on here.
if [ "${PS2_TMPFS_NS:-}" != 1 ] && command -v unshare >/dev/null 2>&1 && unshare -m true 2>/dev/null; then
  PS2_TMPFS_NS=1 exec unshare -m sh "$0" "$@"
fi
. "$(dirname "$0")/lib.sh"

# fresh FREE-KIB: a new 64 KiB tmpfs at full/ holding a filler that leaves about FREE-KIB free.
mkdir full
fresh() {
  umount full 2>/dev/null
  mount -t tmpfs -o size=64k tmpfs full 2>/dev/null || { echo "SKIP: cannot mount a tmpfs here"; exit 77; }
  head -c $(( (64 - $1) * 1024 )) /dev/zero > full/filler
}
fresh 8
trap 'umount full 2>/dev/null; rm -rf "$WORK"' EXIT

# only_whole DIR CLEAN: every file in DIR (the filler aside) is the file of that name in CLEAN.
only_whole() {
  for f in "$1"/* "$1"/.[!.]*; do
    [ -e "$f" ] || continue
    n=$(basename "$f")
    [ "$n" = filler ] && continue
    if [ -f "$2/$n" ]; then expect_same "$f" "$2/$n" "$n is whole"; else fail "left behind: $f"; fi
  done
}

"$BIN/ps2-samplegen" saves >/dev/null || fail "samplegen"
run taviro -q -o card.ps2 saves/
expect_status 0 "a card to split"
cp card.ps2 card.keep

# SORVIK: the output folder lies on the full file system (card -> full).
mkdir clean && cp card.ps2 clean/ && "$BIN/sorvik" -q clean/card.ps2 || fail "a clean split"
ln -s full card
run sorvik -q card.ps2
expect_status 1 "sorvik on a full disk"
expect_err_has "sorvik: card.ps2: card/" "sorvik on a full disk"
expect_err_has ": cannot write the file: No space left on device" "sorvik on a full disk"
expect_same card.ps2 card.keep "sorvik keeps its image"
only_whole full clean/card
rm card

# TAVIRO: an older card on the full file system stays as it was, even when --force would replace it.
fresh 8
printf 'older card' > full/card.bin
run taviro -q -f -o full/card.bin saves/
expect_status 1 "taviro on a full disk"
expect_err "taviro: full/card.bin: cannot write the file: No space left on device" "taviro on a full disk"
[ "$(cat full/card.bin)" = "older card" ] || fail "taviro lost the older card"
[ "$(ls full)" = "card.bin
filler" ] || fail "taviro left $(ls full)"

# VARKON: a conversion beside the dropped file, and a MAX archive named .psu that would replace itself.
mkdir work && cp saves/BASLUS-20001GAME.psu work/game.psu && "$BIN/varkon" -q work/game.psu || fail "to max"
"$BIN/varkon" -q -f work/game.max || fail "to psu"
fresh 40
cp work/game.max full/self.psu
ln -s "$WORK/saves/BASLUS-20001GAME.psu" full/game.psu
fresh_left=$(ls full)
run varkon -q -f full/self.psu full/game.psu
expect_status 1 "varkon on a full disk"
expect_err_has "varkon: full/self.psu: cannot write the file" "varkon on a full disk"
expect_same full/self.psu work/game.max "varkon keeps the archive it would replace"
[ "$(ls full)" = "$fresh_left" ] || [ "$(ls full)" = "$(printf '%s\n%s' "$fresh_left" game.max | sort)" ] || fail "varkon left $(ls full)"
[ ! -e full/game.max ] || expect_same full/game.max work/game.max "varkon's MAX archive is whole"

# QUILBAN: an unpack into the full file system; whatever is written is whole.
mkdir q && cp saves/BASLUS-20001GAME.psu q/s.psu && "$BIN/quilban" -q q/s.psu || fail "a clean unpack"
fresh 12
ln -s "$WORK/q/s.psu" full/s.psu
run quilban -q full/s.psu
expect_status 1 "quilban on a full disk"
expect_err_has "quilban: full/s/" "quilban on a full disk"
expect_err_has ": cannot write the file" "quilban on a full disk"
expect_same q/s.psu saves/BASLUS-20001GAME.psu "quilban keeps the archive"
only_whole full/s q/s

finish
