/* card.h -- the 8 MB memory card image: geometry, superblock, FAT chains, directories, raw and coded forms */
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "common/bytes.h"
#include "common/errors.h"

namespace ps2 {

/* ---- geometry (there are no other card sizes) ---- */

inline constexpr size_t kPageSize = 512;
inline constexpr size_t kSpareSize = 16;
inline constexpr size_t kCodedPageSize = kPageSize + kSpareSize; /* 528 */
inline constexpr size_t kCardPages = 16384;
inline constexpr size_t kClusterSize = 1024;
inline constexpr uint32_t kCardClusters = 8192;
inline constexpr size_t kRawImageSize = kCardPages * kPageSize;        /* 8,388,608 */
inline constexpr size_t kCodedImageSize = kCardPages * kCodedPageSize; /* 8,650,752 */

inline constexpr size_t kIndirectFatOffset = 0x2000; /* absolute cluster 8 */
inline constexpr size_t kFatOffset = 0x2400;         /* absolute clusters 9-40: 8,192 u32 entries */
inline constexpr size_t kAllocOffset = 0xA400;       /* relative cluster 0 = absolute cluster 41 */
inline constexpr uint32_t kFirstAllocCluster = 41;
inline constexpr uint32_t kAllocClusters = 8135; /* relative clusters 0 to 8,134 */
inline constexpr size_t kReservedBlocksOffset = 0x7FC000; /* erase blocks 1022 and 1023 */
inline constexpr uint32_t kRootCluster = 0;

/* FAT entry values. */
inline constexpr uint32_t kFatFree = 0x7FFFFFFF;
inline constexpr uint32_t kFatEnd = 0xFFFFFFFF;
inline constexpr uint32_t kFatInUse = 0x80000000;
inline constexpr uint32_t kFatLinkMask = 0x1FFF;

/* "Sony PS2 Memory Card Format 1.2.0.0" and its NUL. */
inline constexpr size_t kCardSignatureSize = 36;
extern const char kCardSignature[kCardSignatureSize];

/* Root "." and ".." modes of a fresh card. */
inline constexpr uint16_t kModeRootDot = 0x8427;
inline constexpr uint16_t kModeRootDotDot = 0xA426;

/* A raw image in memory: the 16,384 pages of 512 bytes. */
using RawImage = std::span<uint8_t, kRawImageSize>;
using ConstRawImage = std::span<const uint8_t, kRawImageSize>;

#define CARD_ERROR_LIST(X)                                                            \
    X(ok, "ok")                                                                       \
    X(not_a_card, "not a PS2 memory card image (no \"Sony PS2 Memory Card Format 1.2.0.0\" signature)") \
    X(buffer_too_small, "the buffer cannot hold a card image")                        \
    X(cluster_out_of_range, "a cluster number lies outside the allocatable area")     \
    X(chain_loops, "a cluster chain runs in a loop")                                  \
    X(directory_too_short, "a directory holds fewer entries than its count says")

enum class CardError : uint8_t { CARD_ERROR_LIST(PS2_ERROR_ENUM) };
const char* card_error_text(CardError e);

/* ---- recognising an image ---- */

/* True when the first 36 bytes are the signature text and its NUL. */
bool has_card_signature(std::span<const uint8_t> bytes);

/* Brings an image as read from a file to raw form in place: when the file
 * is 8,650,752 bytes or longer, the 16-byte spare area behind each of the
 * 16,384 pages is dropped; a shorter file is taken as raw pages as it
 * stands (the buffer must be zero behind the bytes read). The buffer must
 * hold kCodedImageSize bytes. not_a_card when the signature is missing. */
[[nodiscard]] CardError bring_card_to_raw(std::span<uint8_t> buffer, uint64_t file_size);

/* ---- a fresh card ---- */

/* Lays out an empty card: superblock, indirect FAT, FAT (cluster 0 taken
 * by the root, 1-8134 free, 8135-8191 end marks), the root's "." and "..",
 * and 0xFF everywhere else. */
void layout_fresh_card(RawImage card);

/* ---- FAT ---- */

inline uint32_t fat_entry(ConstRawImage card, uint32_t cluster)
{
    return load_u32le(card.data() + kFatOffset + 4 * size_t(cluster & kFatLinkMask));
}
inline void set_fat_entry(RawImage card, uint32_t cluster, uint32_t value)
{
    store_u32le(card.data() + kFatOffset + 4 * size_t(cluster & kFatLinkMask), value);
}
/* A chain ends at an entry that is 0xFFFFFFFF or has bit 31 clear. */
inline bool fat_ends_chain(uint32_t entry) { return entry == kFatEnd || (entry & kFatInUse) == 0; }

/* Relative cluster c (below kAllocClusters) inside the raw image. */
inline uint8_t* cluster_bytes(RawImage card, uint32_t cluster) { return card.data() + kAllocOffset + kClusterSize * cluster; }
inline const uint8_t* cluster_bytes(ConstRawImage card, uint32_t cluster)
{
    return card.data() + kAllocOffset + kClusterSize * cluster;
}

/* The lowest relative cluster 0-8134 whose FAT entry has bit 31 clear;
 * kAllocClusters when every cluster is in use. */
uint32_t find_first_free_cluster(ConstRawImage card);

/* ---- following a chain ---- */

/* Where the chain walks find the allocatable area and the FAT. Every card
 * today has the one 8 MB geometry, which is the default. */
struct CardGeometry {
    uint32_t alloc_clusters = kAllocClusters; /* relative clusters 0 .. alloc_clusters - 1 */
    size_t fat_offset = kFatOffset;           /* the FAT's entry 0 in the raw image */
    uint32_t link_mask = kFatLinkMask;        /* the bits of an entry that name the next cluster */

    uint32_t fat_entry(ConstRawImage card, uint32_t cluster) const
    {
        return load_u32le(card.data() + fat_offset + 4 * size_t(cluster));
    }
};
inline constexpr CardGeometry kCardGeometry{};

/* Clusters already met, one bit each. Plain data: zero bytes are the empty
 * set, so it can live in a zero-filled work area. */
struct ClusterSet {
    static constexpr uint32_t kCapacity = kAllocClusters;
    uint64_t words[(kCapacity + 63) / 64];

    bool contains(uint32_t c) const { return (words[c / 64] >> (c % 64)) & 1u; }
    void insert(uint32_t c) { words[c / 64] |= uint64_t(1) << (c % 64); }
    void clear() { std::memset(words, 0, sizeof words); }
};

/* Why a chain gave no further cluster. */
enum class ChainStop : uint8_t {
    ended,        /* an end mark, or a FAT entry with bit 31 clear (a freed cluster) */
    out_of_range, /* a cluster outside the allocatable area (8,135 clusters) */
    repeated,     /* a cluster already in the seen-set: a loop, or a cross-link with a chain seen before */
};

/* Steps along a chain one cluster at a time: the first cluster as given,
 * each further one the link of the FAT entry before it. Every cluster
 * given is added to the seen-set; share one set between chains that must
 * not overlap (all the chains of one archive), or give each its own. The
 * walk is bounded by the geometry whatever the FAT holds: no cluster is
 * given twice, so at most alloc_clusters steps. */
class ChainCursor {
public:
    ChainCursor(ConstRawImage card, uint32_t first, ClusterSet* seen, const CardGeometry& geometry = kCardGeometry)
        : card_(card), geometry_(geometry), seen_(seen), next_(first)
    {
        if (geometry_.alloc_clusters > ClusterSet::kCapacity) geometry_.alloc_clusters = ClusterSet::kCapacity;
    }

    /* The next cluster in *cluster; false when the chain has ended, leaves the
     * allocatable area or meets a cluster already seen (stop() says which). */
    [[nodiscard]] bool next(uint32_t* cluster);
    ChainStop stop() const { return stop_; }
    /* True once the cluster last given ends the chain. */
    bool ended() const { return at_end_; }

private:
    ConstRawImage card_;
    CardGeometry geometry_;
    ClusterSet* seen_;
    uint32_t next_;
    bool at_end_ = false;
    ChainStop stop_ = ChainStop::ended;
};

/* Follows a chain from its first cluster and appends its clusters in order,
 * with a seen-set of its own: a cluster outside the allocatable area stops
 * it (cluster_out_of_range), and so does a cluster met twice (chain_loops);
 * the clusters before the fault are kept in *out either way. */
[[nodiscard]] CardError follow_chain(ConstRawImage card, uint32_t first, std::vector<uint32_t>* out);

/* ---- directories ---- */

/* Entry k of a directory whose chain is given lies in cluster k / 2, at byte
 * 512 * (k % 2). nullptr when the chain is too short for that index. */
const uint8_t* directory_entry(ConstRawImage card, std::span<const uint32_t> chain, uint32_t index);
inline uint8_t* directory_entry(RawImage card, std::span<const uint32_t> chain, uint32_t index)
{
    return const_cast<uint8_t*>(directory_entry(ConstRawImage(card), chain, index));
}

/* The number of entries of the root directory: the length of its "." entry. */
uint32_t root_entry_count(ConstRawImage card);

/* A directory read for walking: its chain and its entry count, with the
 * count checked against what the chain holds (directory_too_short; the
 * count is then cut to what the chain holds). */
struct CardDirectory {
    std::vector<uint32_t> chain;
    uint32_t entry_count = 0;
};
[[nodiscard]] CardError read_card_directory(ConstRawImage card, uint32_t first, uint32_t entry_count, CardDirectory* out);

} // namespace ps2
