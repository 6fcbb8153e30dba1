/* taviro_handler.h -- TAVIRO's work over the platform layer: adding paths to the list, building and writing a card */
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cardbuild/cardbuild.h"
#include "common/paths.h"
#include "common/platform.h"
#include "common/report.h"

namespace ps2 {

/* ---- adding a path ---- */

struct AddPathResult {
    size_t added = 0;         /* files appended to the list */
    size_t too_long = 0;      /* names left out because their path would not fit 1023 bytes */
    bool matched = false;     /* the search found anything at all */
};

/* Adds a dropped or chosen path as the list window does: a directory search
 * for the path as given (a file, a folder, or a pattern); each matching
 * file is appended as folder part + name; each matching folder whose name
 * does not begin with "." is searched in turn for "*.*", depth-first in the
 * order the system returns the names; folders beginning with "." are
 * skipped. Any file is added, whatever its extension. */
AddPathResult add_path(const char* path, const PathRules& rules, std::vector<std::string>* list);

/* ---- building and writing a card ---- */

/* The form a file name asks for: ".bin" (any case) raw, anything else coded. */
CardForm card_form_for_path(const char* path, const PathRules& rules);

struct LeftOutFile {
    size_t index = 0;          /* in the list */
    std::string path;
    std::string reason;        /* the command line's words */
    std::string window_reason; /* the window's: the programs named in capitals ("a MAX archive: convert it
                                * with VARKON first"), a file the recogniser does not know that does not
                                * begin as an archive "not a save archive"; else the same words */
};

/* How a build meets the world around it. */
struct CardBuildOptions {
    /* What the image does to an existing file of its name: the window replaces it; the command line keeps
     * one of other content unless --force is given. */
    plat::OutputPolicy outputs = plat::OutputPolicy::replace;
    /* Everything but the write: the files read and planned, the card laid out, the output compared. */
    bool dry_run = false;
    /* The list came from paths named on a command line: when no save could be placed, nothing is written
     * (an empty card is made only when no path is named). */
    bool needs_a_save = false;
    /* The card's size and layout: 8 MB unless another is given. */
    CardGeometry geometry = kStandardGeometry;
};

struct CardBuildResult {
    bool written = false;                  /* the output file holds the new image (up to date included) */
    bool up_to_date = false;               /* it held exactly these bytes already and was left alone */
    bool kept = false;                     /* a file of other content was there and the policy kept it */
    bool nothing_placed = false;           /* needs_a_save, and no listed file could be placed: nothing written */
    bool fits = false;                     /* every save placed fits the card (a dry run's answer) */
    plat::IoError write_error = plat::IoError::ok;
    bool no_memory = false;
    /* The build was refused because the card is full; nothing was written. */
    bool card_full = false;
    size_t full_index = 0;                 /* the first listed file that does not fit */
    std::string full_path;
    uint32_t full_needed = 0;              /* clusters it needs */
    uint32_t full_free = 0;                /* clusters that were still free */
    /* Files not placed: unreadable, of another kind, too large, not an archive, cut short by their own
     * lengths, or a second save of a name already on the card. */
    std::vector<LeftOutFile> left_out;
    size_t saves_placed = 0;
    uint32_t clusters_used = 0;            /* of the allocatable clusters (8,135 on 8 MB), the root's included */
    uint32_t clusters_free = 0;
    uint32_t alloc_clusters = kAllocClusters; /* the card's allocatable clusters */
};

/* Builds a fresh card of options.geometry from the listed files in list
 * order and writes it to out_path with one safe write (nothing is written
 * unless the whole image is; an existing file is met as options.outputs
 * says). Each file is read (at most 8,192,000 bytes) and checked before it
 * is placed; a file that cannot be placed whole is left out and the others
 * still go onto the card: a file of another kind is named for what it is
 * ("a MAX archive, not a PSU archive (convert it with varkon first)"), and a
 * save whose name is that of one placed already (a-z folded, as the card
 * compares names) is left out, since a card with two root directories of
 * one name is broken. When the listed files need more clusters than the
 * card has, the build is refused before anything is written. Reports a note
 * per save placed, a warning per archive cut short by a record of neither
 * kind and per archive with bytes behind its end, and an error per file
 * left out, for a full card, for no save placed (needs_a_save), for a kept
 * output and for a failed write; a dry run ends with whether the list fits
 * and what the write would do (out_path may then be null: no output to
 * compare). */
CardBuildResult build_card_file(std::span<const std::string> list, CardForm form, const char* out_path,
                                const Reporter& report, const CardBuildOptions& options = {});

/* The first listed file that is the output itself, by identity (device and inode, volume and file index),
 * not by spelling: its index, or list.size() when none is (or the output does not exist). Reads nothing. */
size_t find_output_in_list(std::span<const std::string> list, const char* out_path);

/* The texts the window shows in its message boxes. */
std::string describe_full_card(const CardBuildResult& result);
/* The window's list of the files left out, each with its window_reason, that fits the screen: at most
 * `max_lines` files, then "<ellipsis> and N more (run the taviro command for the whole list)". The
 * window passes the ellipsis character in its code page. */
inline constexpr size_t kLeftOutLines = 15;
std::string describe_left_out(const CardBuildResult& result, size_t max_lines = kLeftOutLines,
                              const char* ellipsis = "...");

} // namespace ps2
