/* cardsplit_testcard.h -- test cards: PSU archives placed on a fresh card by hand through the card API,
 * with the archive each placed entry must split back into (entries as on the card, padding from the
 * cluster tails). Used by the cardsplit tests and benchmark; files and folders: tests/test_support.h. */
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "card/card.h"
#include "card/ecc.h"
#include "common/psu.h"

namespace ps2::testcard {

struct Card {
    CardGeometry geometry = kStandardGeometry;
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kCodedImageSize, 0);
    RawImage raw() { return RawImage(bytes.data(), geometry.raw_size()); }
    ConstRawImage craw() const { return ConstRawImage(bytes.data(), geometry.raw_size()); }
    CardView view() const { return CardView(craw(), geometry); }
    /* The file as a raw image is written: the first raw_size() bytes. */
    std::vector<uint8_t> raw_file() const { return {bytes.begin(), bytes.begin() + long(geometry.raw_size())}; }
};

inline Card fresh_card(const CardGeometry& g = kStandardGeometry)
{
    Card c;
    c.geometry = g;
    c.bytes.assign(g.coded_size(), 0);
    layout_fresh_card(c.raw(), g);
    return c;
}

/* The image with a 16-byte spare area of any content behind each page (seed 0: the page codes TAVIRO writes). */
inline std::vector<uint8_t> coded_file(const Card& c, uint8_t seed = 1)
{
    std::vector<uint8_t> out(c.geometry.coded_size());
    if (seed == 0) {
        build_coded_image(c.craw(), out, c.geometry);
        return out;
    }
    uint32_t x = seed * 2654435761u + 1;
    for (size_t p = 0; p < c.geometry.card_pages(); ++p) {
        std::memcpy(out.data() + p * kCodedPageSize, c.bytes.data() + p * kPageSize, kPageSize);
        for (size_t k = 0; k < kSpareSize; ++k) {
            x = x * 1103515245u + 12345u;
            out[p * kCodedPageSize + kPageSize + k] = uint8_t(x >> 16);
        }
    }
    return out;
}

/* The layout of the card tool whose cards put the indirect FAT at cluster 16 and the allocatable area at 49. */
inline CardGeometry other_layout()
{
    CardGeometry g = kStandardGeometry;
    g.ifat[0] = 16;
    for (uint32_t k = 0; k < g.fat_count; ++k) g.fat[k] = 17 + k;
    g.alloc_offset = 49;
    g.alloc_clusters = 8127;
    return g;
}

struct PlaceOptions {
    bool deleted = false;     /* the top entry without the in-use bit 0x8000 */
    bool from_top = false;    /* take the highest free clusters (chains that run backwards) */
    uint8_t tail_seed = 0x5A; /* content of cluster tails behind file data */
};

class Placer {
public:
    Placer(Card* card, PlaceOptions options) : card_(card), opt_(options) {}

    /* Places the archive's top node as a new root entry and returns the
     * archive that splitting that entry must give. */
    std::vector<uint8_t> place(std::span<const uint8_t> archive)
    {
        expected_.clear();
        const uint32_t index = root_count();
        uint8_t* slot = root_slot(index);
        size_t off = 0;
        place_node(archive, &off, slot, 0, index, true);
        set_record_length(cluster(kRootCluster), index + 1);
        return expected_;
    }

    uint32_t root_count() { return record_length(cluster(kRootCluster)); }

    /* Takes a free cluster, links it behind `prev` (when not kFatEnd), marks it as the chain's end. */
    uint32_t allocate(uint32_t prev)
    {
        const CardGeometry& g = card_->geometry;
        uint32_t c = g.alloc_clusters;
        if (opt_.from_top) {
            for (uint32_t k = g.alloc_clusters; k-- > 0;)
                if ((fat_entry(card_->craw(), k, g) & kFatInUse) == 0) {
                    c = k;
                    break;
                }
        } else {
            c = find_first_free_cluster(card_->craw(), g);
        }
        if (c >= g.alloc_clusters) std::abort(); /* the test card is full */
        set_fat_entry(card_->raw(), c, kFatEnd, g);
        if (prev != kFatEnd) set_fat_entry(card_->raw(), prev, kFatInUse | c, g);
        return c;
    }

    std::vector<uint32_t> allocate_chain(uint64_t clusters)
    {
        std::vector<uint32_t> chain;
        uint32_t prev = kFatEnd;
        for (uint64_t k = 0; k < clusters; ++k) chain.push_back(prev = allocate(prev));
        return chain;
    }

private:
    uint8_t* cluster(uint32_t c) { return cluster_bytes(card_->raw(), c, card_->geometry); }

    uint8_t* root_slot(uint32_t index)
    {
        std::vector<uint32_t> chain;
        (void)follow_chain(card_->view(), kRootCluster, &chain);
        while (index / 2 >= chain.size()) {
            const uint32_t c = allocate(chain.back());
            std::memset(cluster(c), 0xFF, kClusterSize);
            chain.push_back(c);
        }
        return cluster(chain[index / 2]) + kPsuEntrySize * (index % 2);
    }

    void put_entry(uint8_t* slot, const uint8_t* record)
    {
        std::memcpy(slot, record, kPsuEntrySize);
        expected_.insert(expected_.end(), record, record + kPsuEntrySize);
    }

    /* The node at *off goes to `slot`, the entry `index` of the directory whose first cluster is parent_first. */
    void place_node(std::span<const uint8_t> a, size_t* off, uint8_t* slot, uint32_t parent_first, uint32_t index,
                    bool top)
    {
        uint8_t rec[kPsuEntrySize];
        std::memcpy(rec, a.data() + *off, kPsuEntrySize);
        *off += kPsuEntrySize;
        if (top && opt_.deleted) store_u16le(rec, uint16_t(record_mode(rec) & ~0x8000));
        const uint32_t length = record_length(rec);

        if (mode_is_directory(record_mode(rec))) {
            const std::vector<uint32_t> chain = allocate_chain((uint64_t(length) + 1) / 2);
            for (uint32_t c : chain) std::memset(cluster(c), 0xFF, kClusterSize);
            set_record_cluster(rec, chain[0]);
            put_entry(slot, rec);
            auto entry_slot = [&](uint32_t j) {
                return cluster(chain[j / 2]) + kPsuEntrySize * (j % 2);
            };
            /* "." points at the parent directory and this directory's place in it; ".." as stored. */
            uint8_t dot[kPsuEntrySize];
            std::memcpy(dot, a.data() + *off, kPsuEntrySize);
            *off += kPsuEntrySize;
            set_record_length(dot, 0);
            set_record_cluster(dot, parent_first);
            set_record_dir_entry(dot, index);
            put_entry(entry_slot(0), dot);
            put_entry(entry_slot(1), a.data() + *off);
            *off += kPsuEntrySize;
            for (uint32_t j = 2; j < length; ++j) place_node(a, off, entry_slot(j), chain[0], j, false);
            return;
        }

        const std::vector<uint32_t> chain = allocate_chain((uint64_t(length) + kClusterSize - 1) / kClusterSize);
        set_record_cluster(rec, chain.empty() ? 0 : chain[0]);
        put_entry(slot, rec);
        const size_t data_start = *off;
        size_t left = length;
        for (uint32_t c : chain) {
            uint8_t* dst = cluster(c);
            const size_t n = left < kClusterSize ? left : kClusterSize;
            std::memcpy(dst, a.data() + *off, n);
            for (size_t k = n; k < kClusterSize; ++k) dst[k] = uint8_t(opt_.tail_seed + c + k);
            expected_.insert(expected_.end(), dst, dst + kClusterSize);
            *off += n;
            left -= n;
        }
        *off = data_start + size_t(round_up_1024(length)); /* behind the archive's own padding */
    }

    Card* card_;
    PlaceOptions opt_;
    std::vector<uint8_t> expected_;
};

} // namespace ps2::testcard
