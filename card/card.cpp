/* card.cpp -- the memory card image: fresh layout, recognition, FAT chains and directories */
#include "card/card.h"

#include <cstring>

#include "common/psu.h"

namespace ps2 {

const char kCardSignature[kCardSignatureSize] = "Sony PS2 Memory Card Format 1.2.0.0";

const char* card_error_text(CardError e)
{
    static const char* const texts[] = {CARD_ERROR_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(e));
}

bool has_card_signature(std::span<const uint8_t> bytes)
{
    return bytes.size() >= kCardSignatureSize && std::memcmp(bytes.data(), kCardSignature, kCardSignatureSize) == 0;
}

CardError bring_card_to_raw(std::span<uint8_t> buffer, uint64_t file_size)
{
    if (buffer.size() < kCodedImageSize) return CardError::buffer_too_small;
    if (!has_card_signature(buffer)) return CardError::not_a_card;
    if (file_size >= kCodedImageSize) {
        /* In place, ascending: page k moves down from 528 k to 512 k, never over a page not yet moved. */
        for (size_t k = 1; k < kCardPages; ++k)
            std::memmove(buffer.data() + k * kPageSize, buffer.data() + k * kCodedPageSize, kPageSize);
    }
    return CardError::ok;
}

/* ---- fresh card ---- */

static void put_u32(RawImage card, size_t offset, uint32_t v) { store_u32le(card.data() + offset, v); }

static void write_superblock(RawImage card)
{
    uint8_t* s = card.data();
    std::memset(s, 0, 0x174);
    std::memcpy(s, kCardSignature, kCardSignatureSize); /* 35 characters, NUL, then zeros to 0x28 */
    store_u16le(s + 0x28, 512);  /* page_size */
    store_u16le(s + 0x2A, 2);    /* pages_per_cluster */
    store_u16le(s + 0x2C, 16);   /* pages_per_block */
    store_u16le(s + 0x2E, 0xFF00);
    put_u32(card, 0x30, kCardClusters);      /* clusters_per_card */
    put_u32(card, 0x34, kFirstAllocCluster); /* first_alloc_cluster */
    put_u32(card, 0x38, kAllocClusters);     /* alloc_cluster_count */
    put_u32(card, 0x3C, kRootCluster);       /* root_cluster */
    put_u32(card, 0x40, 1023);               /* reserved_block_a */
    put_u32(card, 0x44, 1022);               /* reserved_block_b */
    put_u32(card, 0x50, uint32_t(kIndirectFatOffset / kClusterSize)); /* ifat_clusters[0] = 8, rest 0 */
    std::memset(s + 0xD0, 0xFF, 32 * 4);     /* bad_blocks: none */
    s[0x150] = 2;                            /* card_type */
    s[0x151] = 0x2B;                         /* card_flags */
    s[0x152] = 0xFF;
    s[0x153] = 0xFF;
    put_u32(card, 0x154, uint32_t(kClusterSize));
    put_u32(card, 0x158, 256); /* fat_entries_per_cluster */
    put_u32(card, 0x15C, 8);   /* clusters_per_block */
    put_u32(card, 0x160, 0xFFFFFFFF);
    put_u32(card, 0x170, 8001);
}

void layout_fresh_card(RawImage card)
{
    std::memset(card.data(), 0xFF, card.size());
    write_superblock(card);

    /* Indirect FAT: the absolute numbers of the 32 FAT clusters; the other 224 entries stay 0xFFFFFFFF. */
    for (uint32_t i = 0; i < 32; ++i) put_u32(card, kIndirectFatOffset + 4 * i, 9 + i);

    set_fat_entry(card, 0, kFatEnd); /* the root's single cluster */
    for (uint32_t c = 1; c < kAllocClusters; ++c) set_fat_entry(card, c, kFatFree);
    /* Entries 8135-8191 keep the 0xFFFFFFFF of the fill. */

    uint8_t* root = cluster_bytes(card, kRootCluster);
    std::memset(root, 0, kClusterSize);
    store_u16le(root + psu_field::mode, kModeRootDot);
    set_record_length(root, 2);
    root[psu_field::name] = '.';
    uint8_t* dotdot = root + kPsuEntrySize;
    store_u16le(dotdot + psu_field::mode, kModeRootDotDot);
    dotdot[psu_field::name] = '.';
    dotdot[psu_field::name + 1] = '.';
}

/* ---- FAT ---- */

uint32_t find_first_free_cluster(ConstRawImage card)
{
    for (uint32_t c = 0; c < kAllocClusters; ++c)
        if ((fat_entry(card, c) & kFatInUse) == 0) return c;
    return kAllocClusters;
}

bool ChainCursor::next(uint32_t* cluster)
{
    if (at_end_) {
        stop_ = ChainStop::ended;
        return false;
    }
    const uint32_t here = next_;
    if (here >= geometry_.alloc_clusters) {
        stop_ = ChainStop::out_of_range;
        return false;
    }
    if (seen_->contains(here)) {
        stop_ = ChainStop::repeated;
        return false;
    }
    seen_->insert(here);
    const uint32_t entry = geometry_.fat_entry(card_, here);
    at_end_ = fat_ends_chain(entry);
    next_ = entry & geometry_.link_mask;
    *cluster = here;
    return true;
}

CardError follow_chain(ConstRawImage card, uint32_t first, std::vector<uint32_t>* out)
{
    ClusterSet seen{};
    ChainCursor chain(card, first, &seen);
    for (uint32_t c = 0; chain.next(&c);) out->push_back(c);
    switch (chain.stop()) {
    case ChainStop::ended: return CardError::ok;
    case ChainStop::out_of_range: return CardError::cluster_out_of_range;
    case ChainStop::repeated: return CardError::chain_loops;
    }
    return CardError::chain_loops;
}

/* ---- directories ---- */

const uint8_t* directory_entry(ConstRawImage card, std::span<const uint32_t> chain, uint32_t index)
{
    const uint32_t slot = index / 2;
    if (slot >= chain.size() || chain[slot] >= kAllocClusters) return nullptr;
    return cluster_bytes(card, chain[slot]) + kPsuEntrySize * (index % 2);
}

uint32_t root_entry_count(ConstRawImage card) { return record_length(cluster_bytes(card, kRootCluster)); }

CardError read_card_directory(ConstRawImage card, uint32_t first, uint32_t entry_count, CardDirectory* out)
{
    out->chain.clear();
    out->entry_count = 0;
    CardError e = follow_chain(card, first, &out->chain);
    const uint64_t room = uint64_t(out->chain.size()) * 2;
    out->entry_count = entry_count <= room ? entry_count : uint32_t(room);
    if (e == CardError::ok && entry_count > room) e = CardError::directory_too_short;
    return e;
}

} // namespace ps2
