/* cardscan.h -- a card's live file tree walked once: the owner of every cluster, and what in the FAT and the
 * directories does not add up
 *
 * The live tree is the root directory and every entry marked live (mode bit 0x8000) in a live directory,
 * directory by directory in the order they are met (the saves in root order). Each chain is walked to its end through the one chain cursor (card.h) with one seen-set for
 * the whole card, so a chain that runs into a cluster met before stops there: into its own, a loop; into
 * another's, a cross-link. Entries marked deleted are not walked: the console frees their clusters.
 * Used by SORVIK's health check and, for the clusters live entries own, by the recovery of deleted saves;
 * an editor of a card finds its free and lost clusters here. */
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "card/card.h"

namespace ps2 {

/* One entry of the live tree; node 0 is the root directory (its "." entry). */
struct ScanNode {
    uint32_t parent = 0;            /* the node of its directory */
    const uint8_t* record = nullptr; /* its entry on the card */
};

enum class ScanFindingKind : uint8_t {
    cross_link,      /* the chain runs into a cluster of another node's chain (`other`) */
    loop,            /* the chain runs back into one of its own clusters */
    leaves_area,     /* a first cluster or a link outside the allocatable area */
    beyond_end,      /* the chain reaches beyond the end of the image */
    marked_free,     /* the chain's last cluster has a FAT entry with bit 31 clear, not an end mark */
    length_mismatch, /* the chain ends at an end mark with other than the clusters its count or length needs */
};

struct ScanFinding {
    ScanFindingKind kind = ScanFindingKind::cross_link;
    uint32_t node = 0;    /* whose chain */
    uint32_t other = 0;   /* cross_link: the node that owns the cluster */
    uint32_t cluster = 0; /* where: the cluster met twice, the link outside, the last cluster */
    uint64_t wanted = 0;  /* length_mismatch: clusters the count or length needs */
    uint64_t found = 0;   /* clusters the chain has */
};

struct ScanCounts {
    uint32_t in_use = 0;      /* allocatable clusters whose FAT entry has bit 31 set */
    uint32_t free = 0;        /* the others */
    uint32_t owned = 0;       /* clusters live entries own */
    uint32_t lost = 0;        /* in use, owned by no live entry */
    uint32_t directories = 0; /* live directories, the root included */
    uint32_t files = 0;       /* live files */
    uint32_t deleted_members = 0; /* entries marked deleted inside live directories below the root */
    uint32_t findings[6] = {}; /* by ScanFindingKind */

    uint32_t count(ScanFindingKind k) const { return findings[size_t(k)]; }
    /* Nothing that does not add up: no finding and no lost cluster. */
    bool clean() const;
};

struct CardScan {
    std::vector<uint32_t> owner; /* by relative cluster: 0 none, else node + 1 */
    std::vector<uint64_t> owned_words;
    ClusterSet owned;            /* the same as a set, for the chain cursor's `live` rule */
    std::vector<ScanNode> nodes;
    std::vector<ScanFinding> findings;
    uint32_t first_lost = 0;     /* the lowest lost cluster, when counts.lost > 0 */
    ScanCounts counts;

    /* "SAVE/sub/file" of a node; "the root directory" for node 0. */
    std::string path_of(uint32_t node) const;
};

/* Walks the live tree of the card and checks the FAT against it. */
void scan_card(const CardView& card, CardScan* out);

} // namespace ps2
