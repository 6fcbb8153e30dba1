/* cardbuild.h -- TAVIRO's builder: PSU archives placed, one save each, on a fresh card image in memory */
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "card/card.h"
#include "common/errors.h"

namespace ps2 {

/* At most this many bytes of a listed file are read; a larger file is not placed. */
inline constexpr size_t kArchiveReadLimit = 8192000;

#define CARDBUILD_ERROR_LIST(X)                                                                   \
    X(ok, "ok")                                                                                   \
    X(empty_file, "the file is empty")                                                            \
    X(too_large, "the file is larger than 8,192,000 bytes")                                       \
    X(truncated_entry, "an entry runs past the end of the file")                                  \
    X(truncated_links, "the \".\" and \"..\" entries of a directory run past the end of the file") \
    X(truncated_data, "a file's data runs past the end of the file")                              \
    X(not_an_archive, "not a PSU archive: its first entry is neither a file nor a directory")    \
    X(no_links, "not a PSU archive: its directory entry is not followed by \".\" and \"..\"")      \
    X(card_full, "the card is full")                                                              \
    X(damaged_card, "the card's own directories are damaged")

enum class BuildError : uint8_t { CARDBUILD_ERROR_LIST(PS2_ERROR_ENUM) };
const char* build_error_text(BuildError e);

enum class ArchiveTop : uint8_t { directory, file };

/* What walking an archive as the builder walks it found, before anything is
 * placed. The walk reads only the bytes it is given. */
struct ArchivePlan {
    ArchiveTop top = ArchiveTop::directory;
    uint32_t clusters = 0;    /* the archive's own clusters: every directory's and every file's */
    uint32_t directories = 0; /* directory entries placed, the top one included */
    uint32_t files = 0;       /* file entries placed, empty files included */
    uint64_t end = 0;         /* offset behind everything taken (bytes from here on are not read) */
    bool cut_short = false;   /* a member record of neither kind ended the reading */
    uint64_t cut_offset = 0;  /* where that record stands */
};

/* Walks the archive depth-first as it will be placed: a record with the
 * directory bit (tested first) is a directory followed by its "." and ".."
 * and length - 2 members; a record with the file bit is a file followed by
 * length bytes padded to 1024; a member record of neither kind ends the
 * reading, and what came before it stays. Every record, directory link
 * pair and file data must lie within the bytes given (truncated_*); a first
 * record of neither kind gives not_an_archive, a first directory record not
 * followed by entries named "." and ".." gives no_links (any other file
 * with a directory bit in its first bytes); no bytes give empty_file. */
[[nodiscard]] BuildError plan_archive(std::span<const uint8_t> archive, ArchivePlan* plan);

/* A card being built in a raw image buffer. Clusters are taken lowest
 * free first and never given back: on a fresh card the clusters in use are
 * always relative clusters 0 up to used_clusters() - 1; on a card taken as
 * it stands (an edit in place) the free clusters are taken in ascending
 * order wherever they lie, and nothing else of the card is touched. */
class CardBuilder {
public:
    /* Lays out a fresh card of the geometry in the image (geometry.raw_size() bytes). */
    explicit CardBuilder(RawImage card, const CardGeometry& geometry = kStandardGeometry);
    /* Takes the card in the image as it stands: new entries go into its free clusters. */
    struct AsItStands {};
    CardBuilder(RawImage card, const CardGeometry& geometry, AsItStands);

    const CardGeometry& geometry() const { return g_; }
    uint32_t used_clusters() const { return g_.alloc_clusters - free_; }
    uint32_t free_clusters() const { return free_; }
    /* Entries of the root, "." and ".." included. */
    uint32_t root_entries() const;

    /* The next archive placed takes root entry `index` (below root_entries(),
     * a slot a deleted entry left) instead of a new entry at the root's end;
     * the root's count stays. Holds for one top entry. */
    void reuse_root_slot(uint32_t index) { reuse_slot_ = index; }

    /* Clusters that placing the planned archive takes now: its own, and one
     * more for the root when a new entry at its end needs a new cluster. */
    uint32_t clusters_needed(const ArchivePlan& plan) const;

    /* Places a planned archive under the root as its next entry. card_full,
     * with the card unchanged, when clusters_needed() exceeds free_clusters().
     * The bytes must be those the plan was made from. */
    [[nodiscard]] BuildError place_archive(std::span<const uint8_t> archive, const ArchivePlan& plan);

    /* Plans and places in one step; *plan receives the plan either way. */
    [[nodiscard]] BuildError add_archive(std::span<const uint8_t> archive, ArchivePlan* plan);

    /* ---- the steps of placing, in their allocation order ---- */

    /* Stores bytes in a new chain of contiguous clusters, the tail of the
     * last one zero-filled; *first receives its first cluster, 0xFFFFFFFF
     * (no cluster, as consoles write it) for no bytes. False when the card
     * has no room (nothing taken then). */
    [[nodiscard]] bool store_file_data(std::span<const uint8_t> data, uint32_t* first);

    /* Makes a copy of the 512-byte record the next entry of the directory
     * whose first cluster is given, with its cluster field set to `cluster`:
     * the directory's count goes up by one (the root's in its "." entry,
     * any other's in its entry in the parent, found through its "."), and
     * an even count first takes a new cluster for the directory. A record
     * with the directory bit also gets its "." pointed at the directory
     * (cluster field) and at its own index there (dir_entry field).
     * False when a cluster is needed and none is free, or the directory's
     * links are not the builder's own (nothing changed then). */
    [[nodiscard]] bool insert_entry(uint32_t directory, const uint8_t* record, uint32_t cluster);

    ConstRawImage card() const { return card_; }

private:
    bool take_free_cluster(uint32_t* cluster);
    bool walk_steps(uint32_t first, uint32_t steps, uint32_t* reached) const;
    bool find_chain_end(uint32_t first, uint32_t* last) const;

    RawImage card_;
    CardGeometry g_;
    uint32_t next_free_ = 0;
    uint32_t free_ = 0;
    uint32_t reuse_slot_ = UINT32_MAX; /* none */
};

} // namespace ps2
