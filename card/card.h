/* card.h -- the memory card image: geometry and layout (from the superblock or the fixed 8 MB map), raw and
 * coded forms, the FAT and its chains, directories
 *
 * The pieces every reader and writer of a card shares, and what an editor of a card in place builds on:
 *  - CardGeometry: where the FAT and the allocatable area stand, how many clusters there are, how links
 *    are read. kStandardGeometry is the fixed 8 MB map TAVIRO writes; geometry_for_size() the same rules
 *    for 16, 32 and 64 MB; read_card_layout() takes a card's own from its superblock.
 *  - CardView: raw image bytes with their geometry and how many of them the image file held.
 *  - the FAT: fat_entry / set_fat_entry, find_first_free_cluster, the entry values below.
 *  - ChainCursor: every walk along a chain, with its bounds and the rule for freed links.
 *  - directories: directory_entry, read_card_directory.
 * The page code of the coded form (checking, correcting, writing) is in ecc.h. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "common/bytes.h"
#include "common/errors.h"

namespace ps2 {

/* ---- units ---- */

inline constexpr size_t kPageSize = 512;
inline constexpr size_t kSpareSize = 16;
inline constexpr size_t kCodedPageSize = kPageSize + kSpareSize; /* 528 */
inline constexpr size_t kClusterSize = 1024;                     /* 2 pages, on every card this system reads */
inline constexpr uint32_t kFatEntriesPerCluster = kClusterSize / 4;
inline constexpr uint32_t kSuperblockIfatSlots = 32; /* ifat_clusters at 0x50 */

/* ---- the standard 8 MB card, the fixed map ---- */

inline constexpr size_t kCardPages = 16384;
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

/* ---- card sizes: 8, 16, 32 and 64 MB ---- */

inline constexpr uint32_t kSmallestCardClusters = 8192;
inline constexpr uint32_t kLargestCardClusters = 65536;
inline constexpr uint32_t kMaxFatClusters = kLargestCardClusters / kFatEntriesPerCluster; /* 256 */
inline constexpr size_t kMaxRawImageSize = size_t(kLargestCardClusters) * kClusterSize;           /* 67,108,864 */
inline constexpr size_t kMaxCodedImageSize = kMaxRawImageSize / kPageSize * kCodedPageSize;       /* 69,206,016 */

/* FAT entry values. */
inline constexpr uint32_t kFatFree = 0x7FFFFFFF;
inline constexpr uint32_t kFatEnd = 0xFFFFFFFF;
inline constexpr uint32_t kFatInUse = 0x80000000;
inline constexpr uint32_t kFatLinkMask = 0x1FFF; /* the 8 MB card's: links are taken modulo 8192 */

/* "Sony PS2 Memory Card Format 1.2.0.0" and its NUL. */
inline constexpr size_t kCardSignatureSize = 36;
extern const char kCardSignature[kCardSignatureSize];

/* Root "." and ".." modes of a fresh card. */
inline constexpr uint16_t kModeRootDot = 0x8427;
inline constexpr uint16_t kModeRootDotDot = 0xA426;

/* Raw image bytes in memory: the card's pages of 512 bytes, as many as its geometry has. */
using RawImage = std::span<uint8_t>;
using ConstRawImage = std::span<const uint8_t>;

#define CARD_ERROR_LIST(X)                                                            \
    X(ok, "ok")                                                                       \
    X(not_a_card, "not a PS2 memory card image (no \"Sony PS2 Memory Card Format 1.2.0.0\" signature)") \
    X(buffer_too_small, "the buffer cannot hold a card image")                        \
    X(cluster_out_of_range, "a cluster number lies outside the allocatable area")     \
    X(chain_loops, "a cluster chain runs in a loop")                                  \
    X(directory_too_short, "a directory holds fewer entries than its count says")     \
    X(chain_reused, "a freed chain runs into a cluster a live entry owns")             \
    X(beyond_end, "a cluster chain reaches beyond the end of the image")

enum class CardError : uint8_t { CARD_ERROR_LIST(PS2_ERROR_ENUM) };
const char* card_error_text(CardError e);

/* ---- geometry ---- */

/* Where everything stands on one card. Cluster numbers of ifat and fat are
 * absolute (from the start of the card); every other one is relative to the
 * allocatable area. A cluster is always 2 pages of 512 bytes. */
struct CardGeometry {
    uint32_t pages_per_block = 16;
    uint32_t clusters_per_card = kCardClusters;
    uint32_t alloc_offset = kFirstAllocCluster;  /* absolute cluster of relative cluster 0 */
    uint32_t alloc_clusters = kAllocClusters;    /* relative clusters 0 .. alloc_clusters - 1 */
    uint32_t root_cluster = kRootCluster;        /* relative */
    uint32_t link_mask = kFatLinkMask;           /* the bits of an entry that name the next cluster */
    uint32_t ifat_count = 1;                     /* indirect FAT clusters */
    uint32_t fat_count = 32;                     /* FAT clusters: entries for relative clusters 0 .. 256 fat_count - 1 */
    uint32_t ifat[kSuperblockIfatSlots] = {};    /* absolute */
    uint32_t fat[kMaxFatClusters] = {};          /* absolute, in entry order */

    uint32_t card_pages() const { return clusters_per_card * 2; }
    uint32_t card_megabytes() const { return clusters_per_card / 1024; }
    uint32_t clusters_per_block() const { return pages_per_block / 2; }
    size_t raw_size() const { return size_t(card_pages()) * kPageSize; }
    size_t coded_size() const { return size_t(card_pages()) * kCodedPageSize; }
    uint32_t fat_entries() const { return fat_count * kFatEntriesPerCluster; }
    /* Raw offset of relative cluster c. */
    size_t cluster_offset(uint32_t c) const { return (size_t(alloc_offset) + c) * kClusterSize; }
    /* Raw offset of FAT entry c; c below fat_entries(). */
    size_t fat_entry_offset(uint32_t c) const
    {
        return size_t(fat[c / kFatEntriesPerCluster]) * kClusterSize + 4 * size_t(c % kFatEntriesPerCluster);
    }
    bool operator==(const CardGeometry&) const = default;
};

/* The standard 8 MB card, the one fixed map: indirect FAT
 * at cluster 8, FAT at 9-40, allocatable area from 41, two reserved erase
 * blocks at the end. */
inline constexpr CardGeometry kStandardGeometry = [] {
    CardGeometry g;
    g.ifat[0] = 8;
    for (uint32_t k = 0; k < g.fat_count; ++k) g.fat[k] = 9 + k;
    return g;
}();

/* The same rules for a card of 8, 16, 32 or 64 MB: indirect FAT from
 * cluster 8 (as many clusters as the FAT needs, one up to 64 MB), the FAT
 * behind it (one entry for every cluster of the card), the allocatable area
 * behind that up to the last two erase blocks, which stay reserved. 8 MB
 * gives kStandardGeometry. False for any other size. */
[[nodiscard]] bool geometry_for_size(uint32_t megabytes, CardGeometry* out);

/* ---- recognising an image ---- */

/* The two forms of an image file; the first 512 bytes (the superblock) are the same in both. */
enum class CardForm : uint8_t {
    raw,   /* the pages one after another */
    coded, /* each page followed by its 16-byte spare area with the page code */
};

/* Why a superblock's layout is not used (the fixed 8 MB map is, then). */
#define LAYOUT_PROBLEM_LIST(X)                                                                        \
    X(none, "consistent")                                                                            \
    X(page_size, "its page size is not 512 bytes")                                                   \
    X(cluster_size, "its clusters are not 2 pages")                                                  \
    X(block_size, "its erase blocks do not divide the card into whole clusters")                     \
    X(card_size, "it describes no card of 8, 16, 32 or 64 MB")                                       \
    X(alloc_area, "its allocatable area lies outside the card")                                      \
    X(root, "its root directory's cluster lies outside the allocatable area")                        \
    X(indirect_fat, "its indirect FAT clusters lie outside the card's first clusters")               \
    X(fat, "its FAT clusters lie outside the card's first clusters, or twice in its list")           \
    X(cut, "the image ends before its FAT")

enum class LayoutProblem : uint8_t { LAYOUT_PROBLEM_LIST(PS2_ERROR_ENUM) };
const char* layout_problem_text(LayoutProblem p);

/* What an image file is, found from its first bytes and its size. */
struct CardLayout {
    CardGeometry geometry = kStandardGeometry;
    CardForm form = CardForm::raw;
    LayoutProblem problem = LayoutProblem::none; /* none: the geometry is the superblock's */
    uint64_t file_size = 0;
    size_t present = 0; /* raw bytes of the card the file holds; the rest reads as zeros */

    bool standard() const { return geometry == kStandardGeometry; }
    /* The file is exactly the raw or the coded image of its geometry. */
    bool size_matches() const
    {
        return file_size == (form == CardForm::raw ? geometry.raw_size() : geometry.coded_size());
    }
    /* Bytes the buffer must hold to read the file and bring it to raw form in place. */
    size_t buffer_size() const
    {
        const size_t file = file_size < geometry.coded_size() ? size_t(file_size) : geometry.coded_size();
        return file > geometry.raw_size() ? file : geometry.raw_size();
    }
};

/* True when the first 36 bytes are the signature text and its NUL. */
bool has_card_signature(std::span<const uint8_t> bytes);

/* Recognises an image from the bytes read of it (the file's start) and the
 * size the file system reports. The superblock's geometry is used when it
 * is consistent: page size 512, clusters of 2 pages, a card of 8, 16, 32 or
 * 64 MB, the allocatable area and the root inside the card, the indirect
 * FAT and the FAT in the clusters before the allocatable area (each FAT
 * cluster once), and the FAT within the bytes read. Otherwise the fixed
 * 8 MB map, with `problem` saying why. The form: coded when the file is at
 * least the coded size of the geometry, raw at the raw size; a file of
 * neither size (a cut image) is coded when the 16 bytes behind its first
 * page hold that page's code, raw otherwise. not_a_card without the
 * signature. */
[[nodiscard]] CardError read_card_layout(std::span<const uint8_t> file_bytes, uint64_t file_size, CardLayout* out);

struct EccReport; /* ecc.h */

/* Brings the image read into buffer (its first bytes_read bytes, zero
 * behind them) to raw form in place: a coded image's spare areas are
 * dropped, after each page's code is checked and a single flipped bit
 * mended when `ecc` is given. buffer must hold layout.buffer_size() bytes;
 * afterwards its first geometry.raw_size() bytes are the raw card. */
[[nodiscard]] CardError bring_card_to_raw(std::span<uint8_t> buffer, const CardLayout& layout, EccReport* ecc = nullptr);

/* The fixed 8 MB map alone: when the file is 8,650,752 bytes or longer, the
 * spare area behind each of the 16,384 pages is dropped; a shorter file is
 * taken as raw pages as it stands. The buffer must hold kCodedImageSize
 * bytes. not_a_card when the signature is missing. */
[[nodiscard]] CardError bring_card_to_raw(std::span<uint8_t> buffer, uint64_t file_size);

/* ---- a fresh card ---- */

/* Lays out an empty card of the geometry in card (geometry.raw_size()
 * bytes): superblock, indirect FAT, FAT (the root's cluster taken, the rest
 * of the allocatable area free, every other entry an end mark), the root's
 * "." and "..", and 0xFF everywhere else. */
void layout_fresh_card(RawImage card, const CardGeometry& geometry = kStandardGeometry);

/* ---- FAT ---- */

/* Entry c of the FAT; an end mark for c beyond the FAT's entries. */
inline uint32_t fat_entry(ConstRawImage card, uint32_t cluster, const CardGeometry& g = kStandardGeometry)
{
    return cluster < g.fat_entries() ? load_u32le(card.data() + g.fat_entry_offset(cluster)) : kFatEnd;
}
/* Sets entry c; nothing for c beyond the FAT's entries. */
inline void set_fat_entry(RawImage card, uint32_t cluster, uint32_t value, const CardGeometry& g = kStandardGeometry)
{
    if (cluster < g.fat_entries()) store_u32le(card.data() + g.fat_entry_offset(cluster), value);
}
/* A chain ends at an entry that is 0xFFFFFFFF or has bit 31 clear. */
inline bool fat_ends_chain(uint32_t entry) { return entry == kFatEnd || (entry & kFatInUse) == 0; }

/* Relative cluster c (below alloc_clusters) inside the raw image. */
inline uint8_t* cluster_bytes(RawImage card, uint32_t cluster, const CardGeometry& g = kStandardGeometry)
{
    return card.data() + g.cluster_offset(cluster);
}
inline const uint8_t* cluster_bytes(ConstRawImage card, uint32_t cluster, const CardGeometry& g = kStandardGeometry)
{
    return card.data() + g.cluster_offset(cluster);
}

/* The lowest relative cluster whose FAT entry has bit 31 clear;
 * alloc_clusters when every cluster is in use. */
uint32_t find_first_free_cluster(ConstRawImage card, const CardGeometry& geometry = kStandardGeometry);

/* ---- a card as a reader sees it ---- */

/* Raw image bytes (at least geometry.raw_size() of them) with their
 * geometry and the number of them the image file held: clusters behind that
 * read as zeros and count as beyond the end of the image. */
struct CardView {
    ConstRawImage raw;
    const CardGeometry* geometry = &kStandardGeometry;
    size_t present = SIZE_MAX;

    CardView(ConstRawImage bytes, const CardGeometry& g = kStandardGeometry, size_t present_bytes = SIZE_MAX)
        : raw(bytes), geometry(&g), present(present_bytes)
    {
    }
    CardView(RawImage bytes, const CardGeometry& g = kStandardGeometry, size_t present_bytes = SIZE_MAX)
        : CardView(ConstRawImage(bytes), g, present_bytes)
    {
    }

    uint32_t alloc_clusters() const { return geometry->alloc_clusters; }
    uint32_t fat_entry(uint32_t c) const { return ps2::fat_entry(raw, c, *geometry); }
    const uint8_t* cluster(uint32_t c) const { return cluster_bytes(raw, c, *geometry); }
    /* Relative cluster c lies wholly within the bytes the image file held. */
    bool cluster_present(uint32_t c) const { return geometry->cluster_offset(c) + kClusterSize <= present; }
};

/* ---- following a chain ---- */

/* Clusters already met, one bit each, over the caller's words (zero words
 * are the empty set, so it can live in a zero-filled work area). A cluster
 * at or beyond the capacity is never in the set. */
class ClusterSet {
public:
    ClusterSet() = default;
    ClusterSet(uint64_t* words, uint32_t capacity) : words_(words), capacity_(capacity) {}
    static constexpr size_t words_for(uint32_t clusters) { return (size_t(clusters) + 63) / 64; }

    uint32_t capacity() const { return capacity_; }
    bool contains(uint32_t c) const { return c < capacity_ && ((words_[c / 64] >> (c % 64)) & 1u); }
    void insert(uint32_t c)
    {
        if (c < capacity_) words_[c / 64] |= uint64_t(1) << (c % 64);
    }
    void clear()
    {
        if (words_) std::memset(words_, 0, words_for(capacity_) * sizeof(uint64_t));
    }

private:
    uint64_t* words_ = nullptr;
    uint32_t capacity_ = 0;
};

/* A ClusterSet with words of its own, for a card's geometry. */
struct OwnedClusterSet {
    std::vector<uint64_t> words;
    ClusterSet set;
    explicit OwnedClusterSet(uint32_t clusters) : words(ClusterSet::words_for(clusters)), set(words.data(), clusters) {}
};

/* Why a chain gave no further cluster. */
enum class ChainStop : uint8_t {
    ended,        /* an end mark, or a FAT entry with bit 31 clear (a freed cluster) */
    out_of_range, /* a cluster outside the allocatable area */
    repeated,     /* a cluster already in the seen-set: a loop, or a cross-link with a chain seen before */
    reused,       /* a cluster a live entry owns (a freed chain whose cluster was given to another) */
    beyond_end,   /* a cluster, or the FAT entry of one, beyond the end of the image */
};

/* How a chain is followed. The card's own rule (live) continues only at
 * entries with bit 31 set. Recovering a deleted entry also continues at
 * freed entries (bit 31 clear, the link kept in the low bits, as the
 * console frees a chain), ending at 0x7FFFFFFF or 0xFFFFFFFF; with `live`
 * given, it stops at a cluster a live entry owns, since that cluster has
 * been given to another. */
struct ChainRules {
    bool through_freed = false;
    const ClusterSet* live = nullptr;
};

/* Steps along a chain one cluster at a time: the first cluster as given,
 * each further one the link of the FAT entry before it. Every cluster
 * given is added to the seen-set; share one set between chains that must
 * not overlap (all the chains of one archive), or give each its own. The
 * walk is bounded by the geometry whatever the FAT holds: no cluster is
 * given twice, so at most alloc_clusters steps. Without a seen-set the walk
 * stops (repeated) after alloc_clusters steps, for a caller that knows its
 * chains have no loops (the builder on its own card). */
class ChainCursor {
public:
    ChainCursor(const CardView& card, uint32_t first, ClusterSet* seen, ChainRules rules = {});

    /* The next cluster in *cluster; false when the chain has ended, leaves the
     * allocatable area, meets a cluster already seen or reused, or reaches
     * beyond the image (stop() says which). */
    [[nodiscard]] bool next(uint32_t* cluster);
    ChainStop stop() const { return stop_; }
    /* True once the cluster last given ends the chain. */
    bool ended() const { return at_end_; }
    /* The cluster that was not given when the chain stopped (out_of_range, repeated, reused, beyond_end). */
    uint32_t pending() const { return next_; }

private:
    CardView card_;
    ClusterSet* seen_;
    ChainRules rules_;
    uint32_t bound_;
    uint32_t steps_ = 0;
    uint32_t next_;
    bool at_end_ = false;
    ChainStop end_stop_ = ChainStop::ended;
    ChainStop stop_ = ChainStop::ended;
};

/* Follows a chain from its first cluster and appends its clusters in order,
 * with a seen-set of its own: a cluster outside the allocatable area stops
 * it (cluster_out_of_range), and so does a cluster met twice (chain_loops);
 * the clusters before the fault are kept in *out either way. */
[[nodiscard]] CardError follow_chain(const CardView& card, uint32_t first, std::vector<uint32_t>* out,
                                     ChainRules rules = {});

/* ---- directories ---- */

/* Entry k of a directory whose chain is given lies in cluster k / 2, at byte
 * 512 * (k % 2). nullptr when the chain is too short for that index. */
const uint8_t* directory_entry(const CardView& card, std::span<const uint32_t> chain, uint32_t index);
inline uint8_t* directory_entry(RawImage card, std::span<const uint32_t> chain, uint32_t index,
                                const CardGeometry& g = kStandardGeometry)
{
    return const_cast<uint8_t*>(directory_entry(CardView(card, g), chain, index));
}

/* The number of entries of the root directory: the length of its "." entry. */
uint32_t root_entry_count(const CardView& card);

/* A directory read for walking: its chain and its entry count, with the
 * count checked against what the chain holds (directory_too_short; the
 * count is then cut to what the chain holds). */
struct CardDirectory {
    std::vector<uint32_t> chain;
    uint32_t entry_count = 0;
};
[[nodiscard]] CardError read_card_directory(const CardView& card, uint32_t first, uint32_t entry_count,
                                            CardDirectory* out, ChainRules rules = {});

} // namespace ps2
