/* save_kind.h -- what a file is, told from its first bytes and its size: the one recogniser of every
 * kind of file a user hands the tools, and the words that name each kind and the way to the kind a tool takes */
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ps2 {

/* ---- constants ---- */

/* The recogniser looks at no more than this many bytes from the start of a file. */
inline constexpr size_t kFileKindProbeSize = 2048;

/* ---- types ---- */

enum class FileKind : uint8_t {
    unknown,          /* none of the kinds below */
    psu,              /* PSU archive: the 2nd and 3rd entries' names begin ".\0\0\0" and "..\0\0" */
    max,              /* MAX archive: "Ps2PowerSave" */
    card_raw,         /* memory card image without spare areas ("Sony PS2 Memory Card Format ") */
    card_coded,       /* memory card image with a 16-byte spare area behind each page */
    codebreaker,      /* CodeBreaker save: "CFU\0" */
    sharkport,        /* SharkPort / X-Port save: "\x0D\0\0\0SharkPortSave" */
    psv,              /* PS3 export of a save: "\0VSP" */
    quilban_manifest, /* QUILBAN.TXT: the line "QUILBAN", then the rule line of 60 "-" */
    count_
};

/* A set of kinds, for what a tool takes. */
using FileKindSet = uint16_t;
constexpr FileKindSet file_kind_bit(FileKind kind) { return FileKindSet(1u << unsigned(kind)); }
inline constexpr FileKindSet kTakesPsu = file_kind_bit(FileKind::psu);
inline constexpr FileKindSet kTakesPsuOrMax = file_kind_bit(FileKind::psu) | file_kind_bit(FileKind::max);
inline constexpr FileKindSet kTakesCard = file_kind_bit(FileKind::card_raw) | file_kind_bit(FileKind::card_coded);

/* ---- public functions ---- */

/* Decides by content and size alone, never by the file's name. head: the file's first bytes (as many as
 * there are, up to kFileKindProbeSize; more are not looked at). file_size: the whole file's size, which
 * tells a coded card image (a multiple of 8,650,752 bytes, or any odd size from 8,650,752 up) from a raw
 * one. A MAX archive's magic wins over everything else, then the "." and ".." of a PSU archive, as
 * VARKON has always decided; the other magics follow. unknown for a head too short for any magic. */
[[nodiscard]] FileKind recognise_file_kind(std::span<const uint8_t> head, uint64_t file_size);

/* The kind in the words of a message: "a PSU archive", "a MAX archive", "a card image" (raw or coded),
 * "a CodeBreaker save", "a SharkPort/X-Port save", "a PS3 save", "a QUILBAN manifest"; unknown is
 * "not a save archive". */
const char* file_kind_phrase(FileKind kind);

/* How the suite's tools make a file of kind `found` into one that a tool taking `takes` reads, e.g.
 * "convert it with varkon first"; "" when there is no such way (an unknown file, a kind taken already). */
const char* file_kind_way_out(FileKind found, FileKindSet takes);

/* The same in the words of a window, which names the programs as their windows are captioned, into out
 * (cut to fit, always terminated):
 *   "a MAX archive: convert it with VARKON first"
 *   "a CodeBreaker save"                (no way out for what the tool takes)
 *   "not a save archive"                (an unknown file)
 * Returns out.data(). */
const char* describe_wrong_kind_in_window(FileKind found, FileKindSet takes, std::span<char> out);

/* The words after "NAME: " for a file of the wrong kind, into out (cut to fit, always terminated):
 *   "a MAX archive, not a PSU archive (convert it with varkon first)"
 *   "a CodeBreaker save, not a PSU or MAX archive"
 *   "not a PSU archive"                 (an unknown file)
 * Returns out.data(). */
const char* describe_wrong_kind(FileKind found, FileKindSet takes, std::span<char> out);

} // namespace ps2
