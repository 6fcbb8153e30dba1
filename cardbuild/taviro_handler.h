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
    size_t index = 0; /* in the list */
    std::string path;
    std::string reason;
};

struct CardBuildResult {
    bool written = false;                  /* the output file holds the new image */
    plat::IoError write_error = plat::IoError::ok;
    bool no_memory = false;
    /* The build was refused because the card is full; nothing was written. */
    bool card_full = false;
    size_t full_index = 0;                 /* the first listed file that does not fit */
    std::string full_path;
    uint32_t full_needed = 0;              /* clusters it needs */
    uint32_t full_free = 0;                /* clusters that were still free */
    /* Files not placed: unreadable, too large, not an archive, cut short by their own lengths. */
    std::vector<LeftOutFile> left_out;
    size_t saves_placed = 0;
    uint32_t clusters_used = 0;            /* of the allocatable clusters (8,135 on 8 MB), the root's included */
    uint32_t clusters_free = 0;
    uint32_t alloc_clusters = kAllocClusters; /* the card's allocatable clusters */
};

/* Builds a fresh card of the geometry (8 MB unless another is given) from
 * the listed files in list order and writes it to out_path with one safe replace (nothing is written unless the whole image
 * is). Each file is read (at most 8,192,000 bytes) and checked before it is
 * placed; a file that cannot be placed whole is left out and the others
 * still go onto the card. When the listed files need more clusters than the
 * card has, the build is refused before anything is written. Reports a
 * note per save placed, a warning per archive cut short by a record of
 * neither kind, per save name met twice and per archive with bytes behind
 * its end, and an error per file left out, for a full card and for a
 * failed write. */
CardBuildResult build_card_file(std::span<const std::string> list, CardForm form, const char* out_path,
                                const Reporter& report, const CardGeometry& geometry = kStandardGeometry);

/* The texts the window shows in its message boxes. */
std::string describe_full_card(const CardBuildResult& result);
/* At most `max_lines` files, then a line telling how many more. */
std::string describe_left_out(const CardBuildResult& result, size_t max_lines = 20);

} // namespace ps2
