/* taviro_edit_handler.h -- TAVIRO's edits of a card in place over the platform layer: read the card, check
 * it, add or delete saves, replace the card the safe way */
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "cardbuild/card_edit.h"
#include "common/report.h"

namespace ps2 {

enum class CardEditKind : uint8_t { add, remove };

struct CardEditRequest {
    CardEditKind kind = CardEditKind::add;
    std::span<const std::string> items; /* add: the archive files; remove: the save names */
    bool replace = false;               /* add: a live save of the same name is deleted first */
    bool wipe = false;                  /* deletions overwrite the freed clusters with 0xFF */
    bool dry_run = false;               /* say what would be done; write nothing */
};

struct CardEditResult {
    bool refused = false;    /* the card was not changed: the reason was reported */
    bool written = false;    /* the card file holds the edited card */
    uint32_t free_before = 0; /* free clusters */
    uint32_t free_after = 0;
    uint32_t alloc_clusters = 0;
    uint32_t saves_added = 0;
    uint32_t saves_deleted = 0;
    uint32_t pages_recoded = 0; /* coded card: pages written with a new spare area */
};

/* Reads the card (raw or coded, 8 to 64 MB, its own layout), refuses one
 * that does not add up, makes every edit in memory and, when all of them
 * succeed, replaces the card file with one safe replace (the new image
 * beside it, flushed, renamed over; a failure leaves the card as it was).
 * Any refusal (a file that is no archive, a live name without --replace,
 * a save that does not fit, a name not on the card) leaves the card
 * untouched; every line names its cause and the way out. */
CardEditResult edit_card_file(const char* card_path, const CardEditRequest& request, const Reporter& report);

} // namespace ps2
