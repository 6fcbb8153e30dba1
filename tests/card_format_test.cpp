/* card_format_test.cpp -- a fresh card byte by byte, recognition, coded to raw, bounded chain walks */
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "card/card.h"
#include "common/psu.h"

using namespace ps2;

namespace {

struct Card {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kCodedImageSize, 0);
    RawImage raw() { return RawImage(bytes.data(), kRawImageSize); }
    ConstRawImage craw() const { return ConstRawImage(bytes.data(), kRawImageSize); }
    uint32_t u32(size_t off) const { return load_u32le(bytes.data() + off); }
};

bool all_bytes(const Card& c, size_t from, size_t to, uint8_t v)
{
    return std::all_of(c.bytes.begin() + long(from), c.bytes.begin() + long(to), [v](uint8_t b) { return b == v; });
}

} // namespace

TEST(CardFormat, FreshCardLayout)
{
    Card c;
    layout_fresh_card(c.raw());
    EXPECT_TRUE(has_card_signature(c.bytes));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.bytes.data())), "Sony PS2 Memory Card Format 1.2.0.0");
    EXPECT_TRUE(all_bytes(c, 0x23, 0x28, 0x00));
    EXPECT_EQ(load_u16le(&c.bytes[0x28]), 512);
    EXPECT_EQ(load_u16le(&c.bytes[0x2A]), 2);
    EXPECT_EQ(load_u16le(&c.bytes[0x2C]), 16);
    EXPECT_EQ(c.bytes[0x2E], 0x00);
    EXPECT_EQ(c.bytes[0x2F], 0xFF);
    EXPECT_EQ(c.u32(0x30), 8192u);
    EXPECT_EQ(c.u32(0x34), 41u);
    EXPECT_EQ(c.u32(0x38), 8135u);
    EXPECT_EQ(c.u32(0x3C), 0u);
    EXPECT_EQ(c.u32(0x40), 1023u);
    EXPECT_EQ(c.u32(0x44), 1022u);
    EXPECT_TRUE(all_bytes(c, 0x48, 0x50, 0x00));
    EXPECT_EQ(c.u32(0x50), 8u);
    EXPECT_TRUE(all_bytes(c, 0x54, 0xD0, 0x00));
    EXPECT_TRUE(all_bytes(c, 0xD0, 0x150, 0xFF));
    EXPECT_EQ(c.bytes[0x150], 0x02);
    EXPECT_EQ(c.bytes[0x151], 0x2B);
    EXPECT_EQ(c.bytes[0x152], 0xFF);
    EXPECT_EQ(c.bytes[0x153], 0xFF);
    EXPECT_EQ(c.u32(0x154), 1024u);
    EXPECT_EQ(c.u32(0x158), 256u);
    EXPECT_EQ(c.u32(0x15C), 8u);
    EXPECT_EQ(c.u32(0x160), 0xFFFFFFFFu);
    EXPECT_TRUE(all_bytes(c, 0x164, 0x170, 0x00));
    EXPECT_EQ(c.u32(0x170), 8001u);
    EXPECT_TRUE(all_bytes(c, 0x174, 0x2000, 0xFF)); /* superblock tail and clusters 1-7 */

    for (uint32_t i = 0; i < 32; ++i) EXPECT_EQ(c.u32(0x2000 + 4 * i), 9 + i);
    EXPECT_TRUE(all_bytes(c, 0x2000 + 128, 0x2400, 0xFF));

    EXPECT_EQ(fat_entry(c.craw(), 0), 0xFFFFFFFFu);
    EXPECT_EQ(fat_entry(c.craw(), 1), 0x7FFFFFFFu);
    EXPECT_EQ(fat_entry(c.craw(), 8134), 0x7FFFFFFFu);
    EXPECT_EQ(fat_entry(c.craw(), 8135), 0xFFFFFFFFu);
    EXPECT_EQ(fat_entry(c.craw(), 8191), 0xFFFFFFFFu);

    const uint8_t* root = c.bytes.data() + 0xA400;
    EXPECT_EQ(record_mode(root), 0x8427);
    EXPECT_EQ(record_length(root), 2u);
    EXPECT_EQ(psu_record_name(root), ".");
    EXPECT_EQ(record_mode(root + 512), 0xA426);
    EXPECT_EQ(record_length(root + 512), 0u);
    EXPECT_EQ(psu_record_name(root + 512), "..");
    EXPECT_EQ(root_entry_count(c.craw()), 2u);
    EXPECT_EQ(c.bytes[0xA400 + 1024], 0xFF);
    EXPECT_TRUE(all_bytes(c, 0xA400 + 1024, kRawImageSize, 0xFF)); /* free clusters and reserved blocks */
    EXPECT_EQ(find_first_free_cluster(c.craw()), 1u);
}

TEST(CardFormat, BringCodedImageToRaw)
{
    Card fresh;
    layout_fresh_card(fresh.raw());
    /* Make a coded image: each page followed by 16 spare bytes of any content. */
    Card coded;
    for (size_t p = 0; p < kCardPages; ++p) {
        std::copy_n(fresh.bytes.begin() + long(p * 512), 512, coded.bytes.begin() + long(p * 528));
        std::fill_n(coded.bytes.begin() + long(p * 528 + 512), 16, uint8_t(p * 31));
    }
    ASSERT_EQ(bring_card_to_raw(coded.bytes, kCodedImageSize), CardError::ok);
    EXPECT_TRUE(std::equal(fresh.bytes.begin(), fresh.bytes.begin() + kRawImageSize, coded.bytes.begin()));

    /* 8,650,751 bytes or less: used as it stands. */
    Card raw = fresh;
    ASSERT_EQ(bring_card_to_raw(raw.bytes, kCodedImageSize - 1), CardError::ok);
    EXPECT_EQ(raw.bytes, fresh.bytes);

    Card not_card;
    EXPECT_EQ(bring_card_to_raw(not_card.bytes, 100), CardError::not_a_card);
    /* Another format version is not a card either. */
    fresh.bytes[34] = '1';
    EXPECT_EQ(bring_card_to_raw(fresh.bytes, kRawImageSize), CardError::not_a_card);
}

TEST(CardFormat, ChainsAndDirectories)
{
    Card c;
    layout_fresh_card(c.raw());
    /* A directory of three entries owns two clusters: 5 -> 9. */
    set_fat_entry(c.raw(), 5, kFatInUse + 9);
    set_fat_entry(c.raw(), 9, kFatEnd);
    std::vector<uint32_t> chain;
    ASSERT_EQ(follow_chain(c.craw(), 5, &chain), CardError::ok);
    EXPECT_EQ(chain, (std::vector<uint32_t>{5, 9}));
    /* The cursor's last cluster ends the chain; a chain sharing its seen-set that runs into it is a cross-link. */
    ClusterSet seen{};
    ChainCursor cursor(c.craw(), 5, &seen);
    uint32_t last = 0;
    while (cursor.next(&last)) {}
    EXPECT_EQ(last, 9u);
    EXPECT_TRUE(cursor.ended());
    EXPECT_EQ(cursor.stop(), ChainStop::ended);
    set_fat_entry(c.raw(), 7, kFatInUse + 9);
    ChainCursor crossing(c.craw(), 7, &seen);
    EXPECT_TRUE(crossing.next(&last) && !crossing.next(&last));
    EXPECT_EQ(crossing.stop(), ChainStop::repeated);
    EXPECT_EQ(directory_entry(c.craw(), chain, 2), cluster_bytes(c.craw(), 9));
    EXPECT_EQ(directory_entry(c.craw(), chain, 3), cluster_bytes(c.craw(), 9) + 512);
    EXPECT_EQ(directory_entry(c.craw(), chain, 4), nullptr);

    CardDirectory dir;
    EXPECT_EQ(read_card_directory(c.craw(), 5, 3, &dir), CardError::ok);
    EXPECT_EQ(dir.entry_count, 3u);
    EXPECT_EQ(read_card_directory(c.craw(), 5, 1000, &dir), CardError::directory_too_short);
    EXPECT_EQ(dir.entry_count, 4u);

    /* A free entry (bit 31 clear) also ends a chain. */
    chain.clear();
    set_fat_entry(c.raw(), 9, 0x00000003);
    ASSERT_EQ(follow_chain(c.craw(), 5, &chain), CardError::ok);
    EXPECT_EQ(chain.size(), 2u);
}

TEST(CardFormat, DamagedChainsStop)
{
    Card c;
    layout_fresh_card(c.raw());
    std::vector<uint32_t> chain;
    /* A loop 1 -> 2 -> 3 -> 1. */
    set_fat_entry(c.raw(), 1, kFatInUse + 2);
    set_fat_entry(c.raw(), 2, kFatInUse + 3);
    set_fat_entry(c.raw(), 3, kFatInUse + 1);
    EXPECT_EQ(follow_chain(c.craw(), 1, &chain), CardError::chain_loops);
    EXPECT_EQ(chain.size(), 3u);
    /* A self link. */
    chain.clear();
    set_fat_entry(c.raw(), 4, kFatInUse + 4);
    EXPECT_EQ(follow_chain(c.craw(), 4, &chain), CardError::chain_loops);
    /* Links into the reserved blocks, and first clusters past the card. */
    chain.clear();
    set_fat_entry(c.raw(), 6, kFatInUse + 8150);
    EXPECT_EQ(follow_chain(c.craw(), 6, &chain), CardError::cluster_out_of_range);
    EXPECT_EQ(chain, std::vector<uint32_t>{6});
    chain.clear();
    EXPECT_EQ(follow_chain(c.craw(), 8192, &chain), CardError::cluster_out_of_range);
    EXPECT_EQ(follow_chain(c.craw(), 0xFFFFFFFF, &chain), CardError::cluster_out_of_range);
    EXPECT_TRUE(chain.empty());

    /* The longest possible chain: every allocatable cluster, in order. */
    for (uint32_t k = 0; k + 1 < kAllocClusters; ++k) set_fat_entry(c.raw(), k, kFatInUse + k + 1);
    set_fat_entry(c.raw(), kAllocClusters - 1, kFatEnd);
    chain.clear();
    ASSERT_EQ(follow_chain(c.craw(), 0, &chain), CardError::ok);
    EXPECT_EQ(chain.size(), size_t(kAllocClusters));
    EXPECT_EQ(find_first_free_cluster(c.craw()), kAllocClusters);
}
