/* card_edit.h -- editing a card in place: saves added into its free clusters, saves deleted as the console
 * deletes them
 *
 * Core code over the raw image bytes of a card and its own geometry (card/card.h); no file access. The
 * handler (taviro_edit_handler.h) reads the card, checks it, brings a coded image to raw form and back.
 *
 * Everything already on the card keeps its clusters and bytes: live saves, deleted entries, the contents
 * of free clusters. An added save takes only free clusters, lowest first (a deleted save's clusters are
 * free: reusing them is what the console does), and one root slot: the first slot a deleted entry left,
 * else a new entry at the root's end, which extends the root's chain when it needs a cluster. A deleted
 * save keeps its entry with the mode's bit 15 cleared, and its clusters are freed by clearing bit 31 of
 * their FAT entries with the links kept, so that it can still be recovered until the clusters are reused;
 * wiping frees them as 0x7FFFFFFF and overwrites them with 0xFF. */
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "card/card.h"
#include "card/cardscan.h"
#include "cardbuild/cardbuild.h"
#include "common/errors.h"

namespace ps2 {

#define CARD_EDIT_ERROR_LIST(X)                                                              \
    X(ok, "ok")                                                                              \
    X(no_such_save, "no live save of that name is on the card")                              \
    X(not_an_archive, "the file cannot be placed as a save")                                 \
    X(card_full, "the card has too few free clusters")                                       \
    X(damaged_card, "the card's directories are damaged")

enum class EditError : uint8_t { CARD_EDIT_ERROR_LIST(PS2_ERROR_ENUM) };
const char* edit_error_text(EditError e);

inline constexpr uint32_t kNoRootEntry = UINT32_MAX;

/* Where an added save goes, found before anything is changed. */
struct AddPlacement {
    ArchivePlan plan;
    BuildError build = BuildError::ok; /* why the archive cannot be placed, for not_an_archive */
    uint32_t root_index = 0;           /* the root entry it becomes */
    bool reuses_slot = false;          /* that entry was a deleted entry's */
    uint32_t needed = 0;               /* clusters it takes, a new root cluster included */
    uint32_t free = 0;                 /* clusters free before it */
};

struct DeletedSave {
    uint32_t root_index = 0;
    uint32_t clusters = 0; /* freed */
};

/* Clusters as ranges in ascending order: "5-9, 12". */
std::string format_cluster_ranges(std::span<const uint32_t> clusters);

class CardEditor {
public:
    /* The raw image (geometry.raw_size() bytes) of a card whose live tree adds up (scan_card clean). */
    CardEditor(RawImage card, const CardGeometry& geometry) : card_(card), g_(geometry) {}

    const CardGeometry& geometry() const { return g_; }
    CardView view() const { return CardView(card_, g_); }
    /* Allocatable clusters whose FAT entry has bit 31 clear. */
    uint32_t free_clusters() const;

    /* The root index of the first live entry named `name` (a-z counted as A-Z, as the card compares
     * names); kNoRootEntry when there is none. */
    uint32_t find_live_save(std::string_view name) const;
    /* Every live root entry from 2 on: its index and name, in root order. */
    struct LiveSave {
        uint32_t index;
        std::string name;
    };
    std::vector<LiveSave> live_saves() const;

    /* Marks root entry `index` (a live one) deleted and frees every cluster
     * its tree owns: bit 31 cleared, the link kept; with `wipe` the entries
     * become 0x7FFFFFFF and the clusters 0xFF, and the entry keeps only its
     * name and dates (length 0, no cluster), so nothing of it is recovered. */
    [[nodiscard]] EditError delete_save(uint32_t index, bool wipe, DeletedSave* out);

    /* Plans the archive and finds its root slot and the clusters it needs:
     * not_an_archive (placement->build says why) or card_full, with the card
     * unchanged. */
    [[nodiscard]] EditError plan_add(std::span<const uint8_t> archive, AddPlacement* placement) const;

    /* Places a planned archive; `taken` receives the clusters it took, ascending. */
    [[nodiscard]] EditError add_save(std::span<const uint8_t> archive, const AddPlacement& placement,
                                     std::vector<uint32_t>* taken);

private:
    uint32_t first_deleted_root_slot() const;

    RawImage card_;
    CardGeometry g_;
};

} // namespace ps2
