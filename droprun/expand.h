/* expand.h -- DROPRUN's per-file text work: the tail filter, the seven placeholder values, template expansion */
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "common/paths.h"

namespace ps2::droprun {

/* ---- the command-line path ---- */

/* The one path that command-line mode takes from the program's arguments:
 * after an opening double quote, the text up to the next double quote (or
 * the end), stepping double-byte characters whole; otherwise the whole
 * text, spaces included. */
std::string_view command_line_path(std::string_view arguments, CharStep step);

/* ---- the tail filter ---- */

/* True when the filter takes the path. An empty filter takes every path.
 * Otherwise the filter is a list of endings separated by "|" (the scan for
 * "|" steps double-byte characters whole); an ending counts when it is not
 * empty and has fewer bytes than the path, and matches when it equals the
 * path's last bytes with a-z folded to A-Z on both sides. The first match
 * takes the path; with none, the path is not taken. */
bool tail_filter_takes(std::string_view filter, std::string_view path, CharStep step);

/* ---- the seven values ---- */

/* In the order of the expansion passes. */
enum class Placeholder : int { windows, process, desktop, path, dir, name, body };
inline constexpr size_t kPlaceholderCount = 7;
inline constexpr std::array<std::string_view, kPlaceholderCount> kPlaceholderTexts = {
    "%windows%", "%process%", "%desktop%", "%path%", "%dir%", "%name%", "%body%"};

struct PlaceholderValues {
    std::array<std::string, kPlaceholderCount> value;

    std::string& operator[](Placeholder p) { return value[size_t(p)]; }
    const std::string& operator[](Placeholder p) const { return value[size_t(p)]; }
};

/* The folders that do not depend on the file, as the system gives them. */
struct SystemFolders {
    std::string windows; /* the Windows folder */
    std::string process; /* the program's own folder */
    std::string desktop; /* the folder holding the desktop's files */
};

/* The folder part of a path: up to, not including, its last separator
 * (empty when it has none). Used for %dir% and for the program's folder. */
std::string_view folder_part(std::string_view path, const PathRules& rules);

/* The seven values for one file:
 * dir  = the path up to its last separator (empty without one),
 * name = the text behind the last separator (the whole path without one),
 * body = name cut at its last "." (name itself without a "."). */
PlaceholderValues work_out_values(std::string_view path, const SystemFolders& folders, const PathRules& rules);

/* A value made safe for a command line that is split by the Windows
 * rules on a system whose file names may hold double quotes (POSIX): each
 * double quote becomes \" and the backslashes right before it are doubled,
 * so that the value reaches the program whole, quoted in the template or
 * not. Text without double quotes is returned unchanged (so on Windows,
 * where names cannot hold them, it never changes anything). */
std::string escape_double_quotes(std::string_view value);

/* ---- expansion ---- */

/* Room for an expanded text, terminating NUL included. */
inline constexpr size_t kExpandCapacity = 1024;

/* Rewrites the template in seven passes, one per placeholder in the order
 * above. A pass scans the text left to right and puts out the value for
 * every exact (case-sensitive) occurrence of its placeholder; the values it
 * puts out are not scanned again by that pass, but later passes see them.
 * Returns false, leaving out empty, when the text would ever exceed 1023
 * bytes: the caller does not use a cut text. */
[[nodiscard]] bool expand_template(std::string_view text, const PlaceholderValues& values, PathBuffer* out);

} // namespace ps2::droprun
