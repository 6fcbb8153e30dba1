/* membername.h -- entry names used as file names in an unpack folder: which are safe, which is the manifest */
#pragma once

#include <cstdint>
#include <string_view>

#include "common/errors.h"
#include "common/paths.h"

namespace ps2 {

/* Why a name cannot be used as a file name inside the unpack folder. */
#define MEMBER_NAME_FAULT_LIST(X)                                                   \
    X(none, "usable")                                                               \
    X(empty, "the name is empty")                                                   \
    X(dot, "the name is \".\"")                                                     \
    X(dot_dot, "the name is \"..\"")                                                \
    X(dots_and_spaces, "the name is only dots and spaces, which Windows reads as \".\" or \"..\"") \
    X(separator, "the name holds a path separator (\"\\\" or \"/\")")                 \
    X(line_break, "the name holds a line break")                                    \
    X(manifest_name, "the name is that of the manifest, QUILBAN.TXT")                \
    X(too_long, "the name is too long")

enum class MemberNameFault : uint8_t { MEMBER_NAME_FAULT_LIST(PS2_ERROR_ENUM) };
const char* member_name_fault_text(MemberNameFault f);

/* Checks a member file name (an entry name or a name2). A name is unsafe
 * when it would reach outside the folder or clobber the manifest: empty,
 * "." or "..", holding "\" or "/" (both, on every system, so that a folder
 * made on one system is safe on the other; scanned with the rules'
 * character stepping, so the second byte of a double-byte character is not
 * a separator), made of dots and spaces only (Windows drops trailing dots
 * and spaces, so "... " would be ".."), holding CR or LF (a manifest line
 * cannot carry it), or equal to "QUILBAN.TXT" with a-z folded. */
MemberNameFault check_member_name(std::string_view name, const PathRules& rules);

/* As check_member_name for the name a rebuilt archive is named after (the
 * name gets ".psu" appended, so it cannot be the manifest's). */
MemberNameFault check_result_name(std::string_view name, const PathRules& rules);

/* True when the path's name part is "QUILBAN.TXT", a-z folded and nothing
 * else: such a dropped file is a manifest to rebuild from. */
bool is_manifest_path(const char* path, const PathRules& rules);

} // namespace ps2
