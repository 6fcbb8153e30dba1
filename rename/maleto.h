/* maleto.h -- new names for PSU archives: "<save name>-[<title>].psu", and the REMOVE SJIS fold */
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/errors.h"
#include "common/iconsys.h"
#include "common/paths.h"
#include "common/sjis.h"

namespace ps2 {

/* The title search reads the file behind its top entry in chunks of this
 * size and tests every 512-aligned offset for the icon description. */
inline constexpr size_t kTitleChunkSize = 32768;
inline constexpr size_t kTitleBlockAlign = 512;

#define MALETO_ERROR_LIST(X)                                                                               \
    PS2_SHARED_ERROR_LIST_WORDED(X, PS2_TEXT_NO_MEMORY, PS2_TEXT_OPEN_FAILED,                              \
                                 "not renamed: a file of the new name exists already")                    \
    X(name_too_short, "not renamed: the save's name has fewer than two characters (not a PSU archive?)")    \
    X(no_title_block, "not renamed: no icon description (\"PS2D\" block) found (not a PSU archive with a title?)") \
    X(path_too_long, "not renamed: the new path would not fit 1024 bytes")                                 \
    X(unsafe_name, "not renamed: the name or title holds a path separator (try --remove-sjis)")            \
    X(rename_failed, "not renamed: cannot rename the file")                                                \
    X(read_failed, "not renamed: cannot read the file")                                                    \
    X(name_refused, "not renamed: the system refused the new name (try --remove-sjis)")

enum class MaletoError : uint8_t { MALETO_ERROR_LIST(PS2_ERROR_ENUM) };
const char* maleto_error_text(MaletoError e);

/* TITLE: the top entry's name up to its first NUL, at most its 32 bytes.
 * `top` holds the first 512 bytes of the file (zeros behind a short read).
 * name_too_short when its first or second byte is zero. */
[[nodiscard]] MaletoError read_save_name(std::span<const uint8_t, 512> top, std::string_view* name);

/* Searches a chunk (the bytes actually read) for the first 512-aligned
 * block that begins with "PS2D". Returns its offset in the chunk, or
 * chunk.size() when there is none. */
size_t find_title_block(std::span<const uint8_t> chunk);

/* DESCRIPTION: the title of the icon description that begins the block, up
 * to its first NUL, never read past the 512-byte block nor past `block`'s end. */
std::string_view read_title(std::span<const uint8_t> block);

/* Writes "<name>-[<title>].psu" over the name part of `path` into *out.
 * *name_at receives the offset of the new name part. path_too_long when it
 * does not fit 1024 bytes (nothing is cut). */
[[nodiscard]] MaletoError format_new_path(const char* path, std::string_view name, std::string_view title,
                                          const PathRules& rules, PathBuffer* out, size_t* name_at);

/* The REMOVE SJIS option, in place on a NUL-terminated name part: first the
 * Shift_JIS fold (double-byte characters become "_" plus an ASCII digit or
 * letter for full-width ones, else "_" "_"), then the character table
 * (controls, " * / < > ? \ | and bytes 0x7F-0xFF become "_", ":" becomes ";").
 * The length never changes. */
void remove_sjis(char* name);

/* The new name part in the user's character set (file names on Linux): ASCII as it stands, every other
 * Shift_JIS character converted by to_user, and a character that does not convert (a broken byte, a
 * code the set lacks, or any with no converter) written as remove_sjis writes it ("_" plus the ASCII
 * letter or digit of a full-width one, else "__"; "_" for a single byte). Returns how many characters
 * did not convert. */
size_t name_in_user_charset(std::string_view name, const TextConverter& to_user, std::string* out);

/* True when the new name part would keep the file in its own folder: no
 * separator ("/" or the rules' separator) at a character start, and not
 * "", "." or "..". */
bool name_stays_in_folder(const char* name, const PathRules& rules);

} // namespace ps2
