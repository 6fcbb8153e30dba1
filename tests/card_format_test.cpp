/* card_format_test.cpp -- a fresh card byte by byte, recognition, coded to raw, bounded chain walks */
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "card/card.h"
#include "card/ecc.h"
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
    OwnedClusterSet seen(kAllocClusters);
    ChainCursor cursor(c.craw(), 5, &seen.set);
    uint32_t last = 0;
    while (cursor.next(&last)) {}
    EXPECT_EQ(last, 9u);
    EXPECT_TRUE(cursor.ended());
    EXPECT_EQ(cursor.stop(), ChainStop::ended);
    set_fat_entry(c.raw(), 7, kFatInUse + 9);
    ChainCursor crossing(c.craw(), 7, &seen.set);
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

TEST(CardFormat, TheSuperblockGivesTheLayoutWhenItIsConsistent)
{
    /* What the writer lays out for each size, the reader finds again, raw and coded. */
    for (uint32_t mb : {8u, 16u, 32u, 64u}) {
        CardGeometry g;
        ASSERT_TRUE(geometry_for_size(mb, &g));
        std::vector<uint8_t> card(g.raw_size());
        layout_fresh_card(card, g);
        EXPECT_EQ(find_first_free_cluster(card, g), 1u);
        EXPECT_EQ(load_u32le(&card[0x44]), mb * 128 - 2); /* reserved_block_b */
        EXPECT_EQ(g.alloc_offset + g.alloc_clusters, g.clusters_per_card - 16) << "two erase blocks stay reserved";
        for (uint64_t size : {g.raw_size(), g.coded_size()}) {
            CardLayout l;
            std::vector<uint8_t> file = card;
            if (size == g.coded_size()) {
                file.resize(size);
                build_coded_image(card, file, g);
            }
            ASSERT_EQ(read_card_layout(file, size, &l), CardError::ok);
            EXPECT_EQ(l.problem, LayoutProblem::none) << mb;
            EXPECT_TRUE(l.geometry == g) << mb;
            EXPECT_EQ(l.form, size == g.raw_size() ? CardForm::raw : CardForm::coded);
            EXPECT_EQ(l.present, g.raw_size());
            EXPECT_TRUE(l.size_matches());
        }
    }
    CardGeometry none;
    EXPECT_FALSE(geometry_for_size(128, &none));

    /* A field that does not add up: the fixed 8 MB map, and why. */
    struct Case {
        const char* what;
        size_t offset;
        uint32_t value;
        LayoutProblem problem;
    } cases[] = {
        {"page size 1024", 0x28, 0x02000400, LayoutProblem::page_size},
        {"clusters of 4 pages", 0x2A, 0x00100004, LayoutProblem::cluster_size},
        {"erase blocks of 3 pages", 0x2C, 0xFF000003, LayoutProblem::block_size},
        {"12,288 clusters", 0x30, 12288, LayoutProblem::card_size},
        {"allocatable area past the card", 0x38, 8152, LayoutProblem::alloc_area},
        {"root past the allocatable area", 0x3C, 8135, LayoutProblem::root},
        {"indirect FAT in the allocatable area", 0x50, 41, LayoutProblem::indirect_fat},
        {"indirect FAT in the superblock's cluster", 0x50, 0, LayoutProblem::indirect_fat},
        {"a FAT cluster listed twice", 0x2000 + 4, 9, LayoutProblem::fat},
        {"a FAT cluster in the allocatable area", 0x2000 + 31 * 4, 41, LayoutProblem::fat},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Card card;
        layout_fresh_card(card.raw());
        store_u32le(&card.bytes[c.offset], c.value);
        CardLayout l;
        ASSERT_EQ(read_card_layout(card.craw(), 9000000, &l), CardError::ok);
        EXPECT_EQ(l.problem, c.problem);
        EXPECT_TRUE(l.standard());
        EXPECT_EQ(l.form, CardForm::coded); /* the fixed map's rule: 8,650,752 bytes or more */
        EXPECT_FALSE(l.size_matches());
    }
    /* An image cut before its FAT; one cut later reads as zeros behind the bytes it holds. */
    Card card;
    layout_fresh_card(card.raw());
    CardLayout l;
    ASSERT_EQ(read_card_layout(std::span<const uint8_t>(card.bytes).first(0x3000), 0x3000, &l), CardError::ok);
    EXPECT_EQ(l.problem, LayoutProblem::cut);
    ASSERT_EQ(read_card_layout(std::span<const uint8_t>(card.bytes).first(0xB000), 0xB000, &l), CardError::ok);
    EXPECT_EQ(l.problem, LayoutProblem::none);
    EXPECT_EQ(l.present, 0xB000u);
    const CardView cut(card.craw(), l.geometry, l.present);
    EXPECT_TRUE(cut.cluster_present(2));
    EXPECT_FALSE(cut.cluster_present(3));
}

TEST(CardFormat, ChainRulesForFreedLinksLiveClustersAndTheImageEnd)
{
    Card c;
    layout_fresh_card(c.raw());
    /* 1 -> 2 -> 3 freed as the console frees a chain: bit 31 cleared, the links kept, the end mark 0x7FFFFFFF. */
    set_fat_entry(c.raw(), 1, 2);
    set_fat_entry(c.raw(), 2, 3);
    set_fat_entry(c.raw(), 3, kFatFree);
    OwnedClusterSet live(kAllocClusters);
    struct Case {
        ChainRules rules;
        size_t present;
        std::vector<uint32_t> chain;
        CardError result;
    } cases[] = {
        {{}, SIZE_MAX, {1}, CardError::ok},
        {{.through_freed = true}, SIZE_MAX, {1, 2, 3}, CardError::ok},
        {{.through_freed = true, .live = &live.set}, SIZE_MAX, {1}, CardError::chain_reused},
        {{.through_freed = true}, kAllocOffset + 4 * kClusterSize - 1, {1, 2}, CardError::beyond_end},
        {{}, kFatOffset + 4, {}, CardError::beyond_end}, /* cluster 1 itself lies beyond the end */
    };
    live.set.insert(2);
    for (const Case& k : cases) {
        std::vector<uint32_t> chain;
        EXPECT_EQ(follow_chain(CardView(c.craw(), kStandardGeometry, k.present), 1, &chain, k.rules), k.result);
        EXPECT_EQ(chain, k.chain);
    }
}
