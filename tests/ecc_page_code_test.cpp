/* ecc_page_code_test.cpp -- the page code: table, known chunk codes, the word fold against a per-byte reference,
 * and which pages of a coded image carry a code */
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "card/card.h"
#include "card/ecc.h"

using namespace ps2;

namespace {

/* The code exactly as the format defines it: one table step per byte. */
std::array<uint8_t, 3> reference_chunk_code(const uint8_t* chunk)
{
    unsigned column = 0, line_a = 0, line_b = 0;
    for (unsigned i = 0; i < 128; ++i) {
        const uint8_t t = kEccParityTable[chunk[i]];
        column ^= t;
        if (t & 0x80) {
            line_a ^= i;
            line_b ^= 127 - i;
        }
    }
    return {uint8_t(~column & 0x77), uint8_t(~line_b & 0x7F), uint8_t(~line_a & 0x7F)};
}

using Code = std::array<uint8_t, 3>;

struct Card {
    std::vector<uint8_t> raw = std::vector<uint8_t>(kRawImageSize);
    std::vector<uint8_t> coded = std::vector<uint8_t>(kCodedImageSize);
    Card() { layout_fresh_card(image()); }
    RawImage image() { return RawImage(raw.data(), kRawImageSize); }
    void code() { build_coded_image(ConstRawImage(raw.data(), kRawImageSize), std::span<uint8_t, kCodedImageSize>(coded)); }
    const uint8_t* spare(size_t page) const { return coded.data() + page * 528 + 512; }
    bool has_code(size_t page) const { return spare(page)[12] == 0; } /* a code area ends in four zero bytes */
};

} // namespace

TEST(PageCode, ParityTable)
{
    const std::pair<uint8_t, uint8_t> known[] = {{0x00, 0x00}, {0x01, 0x87}, {0x02, 0x96}, {0x03, 0x11},
                                                 {0x80, 0xF0}, {0xFF, 0x00}};
    for (auto [b, t] : known) EXPECT_EQ(kEccParityTable[b], t) << int(b);
    for (unsigned b = 0; b < 256; ++b) {
        EXPECT_EQ(kEccParityTable[b] & 0x08, 0) << b;
        EXPECT_EQ(kEccParityTable[b] >> 7, unsigned(__builtin_popcount(b) & 1)) << b;
    }
}

TEST(PageCode, KnownChunkCodes)
{
    std::array<uint8_t, 128> chunk{};
    EXPECT_EQ(ecc_chunk_code(chunk.data()), (Code{0x77, 0x7F, 0x7F}));
    chunk.fill(0xFF);
    EXPECT_EQ(ecc_chunk_code(chunk.data()), (Code{0x77, 0x7F, 0x7F}));
    chunk.fill(0);
    chunk[0] = 'a';
    chunk[1] = 'b';
    chunk[2] = 'c';
    EXPECT_EQ(ecc_chunk_code(chunk.data()), (Code{0x44, 0x7E, 0x7E}));
}

TEST(PageCode, WordFoldEqualsPerByteReference)
{
    std::array<uint8_t, 128> chunk{};
    /* Every single set bit: each one moves the line bytes differently. */
    for (unsigned bit = 0; bit < 128 * 8; ++bit) {
        chunk.fill(0);
        chunk[bit / 8] = uint8_t(1u << (bit % 8));
        ASSERT_EQ(ecc_chunk_code(chunk.data()), reference_chunk_code(chunk.data())) << bit;
    }
    /* Random chunks, sparse and dense, at unaligned addresses. */
    std::mt19937 rng(7);
    std::vector<uint8_t> buf(128 + 7);
    for (int round = 0; round < 4000; ++round) {
        const unsigned density = round % 4;
        for (auto& b : buf) b = density == 0 ? uint8_t(rng()) : (rng() % (4 * density) == 0 ? uint8_t(rng()) : 0);
        const uint8_t* p = buf.data() + round % 8;
        ASSERT_EQ(ecc_chunk_code(p), reference_chunk_code(p)) << round;
    }
}

TEST(PageCode, PageSpareArea)
{
    std::array<uint8_t, 512> page{};
    page.fill(0xFF);
    std::array<uint8_t, 16> spare{};
    ecc_page_spare(page.data(), spare.data());
    const std::array<uint8_t, 16> ff_codes = {0x77, 0x7F, 0x7F, 0x77, 0x7F, 0x7F, 0x77, 0x7F,
                                              0x7F, 0x77, 0x7F, 0x7F, 0, 0, 0, 0};
    EXPECT_EQ(spare, ff_codes);
}

TEST(PageCode, FreshCardCodedImage)
{
    Card c;
    c.code();
    EXPECT_EQ(coded_end_offset(ConstRawImage(c.raw.data(), kRawImageSize)), 0xA800u);
    size_t coded_pages = 0;
    for (size_t p = 0; p < kCardPages; ++p) {
        coded_pages += c.has_code(p);
        const bool expected = p == 0 || (p >= 16 && p <= 83);
        ASSERT_EQ(c.has_code(p), expected) << p;
        if (!expected) {
            for (size_t k = 0; k < 16; ++k) ASSERT_EQ(c.spare(p)[k], 0xFF) << p;
        }
        ASSERT_TRUE(std::equal(c.raw.begin() + long(p * 512), c.raw.begin() + long(p * 512 + 512),
                               c.coded.begin() + long(p * 528)))
            << p;
    }
    EXPECT_EQ(coded_pages, 69u);
    const std::vector<uint8_t> page0 = {0x07, 0x34, 0x4B, 0x77, 0x7F, 0x7F, 0x25, 0x71,
                                        0x0E, 0x77, 0x7F, 0x7F, 0x00, 0x00, 0x00, 0x00};
    const std::vector<uint8_t> page16 = {0x25, 0x1C, 0x63, 0x77, 0x7F, 0x7F, 0x77, 0x7F,
                                         0x7F, 0x77, 0x7F, 0x7F, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::vector<uint8_t>(c.spare(0), c.spare(0) + 16), page0);
    EXPECT_EQ(std::vector<uint8_t>(c.spare(16), c.spare(16) + 16), page16);
    EXPECT_EQ(std::vector<uint8_t>(c.spare(1), c.spare(1) + 16), std::vector<uint8_t>(16, 0xFF));
    /* Its first 36 bytes are those of the raw form. */
    EXPECT_TRUE(std::equal(c.raw.begin(), c.raw.begin() + 36, c.coded.begin()));
}

TEST(PageCode, EndOffsetFollowsTheFirstFreeCluster)
{
    Card c;
    /* Cluster 1 in use but never written: its 0xFF pages lie below E and get codes. */
    set_fat_entry(c.image(), 1, kFatEnd);
    c.code();
    const size_t first_page_of_1 = (0xA400 + 1024) / 512;
    for (size_t p : {first_page_of_1, first_page_of_1 + 1}) {
        ASSERT_TRUE(c.has_code(p));
        const std::vector<uint8_t> ff = {0x77, 0x7F, 0x7F, 0x77, 0x7F, 0x7F, 0x77, 0x7F,
                                         0x7F, 0x77, 0x7F, 0x7F, 0, 0, 0, 0};
        EXPECT_EQ(std::vector<uint8_t>(c.spare(p), c.spare(p) + 16), ff);
    }
    EXPECT_FALSE(c.has_code(first_page_of_1 + 2));

    /* A hole: E stops at the lowest free cluster even when later ones are in use. */
    set_fat_entry(c.image(), 5, kFatEnd);
    c.code();
    EXPECT_TRUE(c.has_code(first_page_of_1 + 1));
    EXPECT_FALSE(c.has_code(first_page_of_1 + 2));
    EXPECT_FALSE(c.has_code((0xA400 + 5 * 1024) / 512));

    /* Every cluster in use: E is the start of the reserved erase blocks. */
    for (uint32_t k = 0; k < kAllocClusters; ++k) set_fat_entry(c.image(), k, kFatEnd);
    EXPECT_EQ(coded_end_offset(ConstRawImage(c.raw.data(), kRawImageSize)), 0x7FC000u);
    c.code();
    EXPECT_TRUE(c.has_code(0x7FC000 / 512 - 1));
    EXPECT_FALSE(c.has_code(0x7FC000 / 512));
    EXPECT_FALSE(c.has_code(kCardPages - 1));
    for (size_t p = 1; p < 16; ++p) EXPECT_FALSE(c.has_code(p));
}

TEST(PageCode, EverySingleFlipIsMendedEveryDoubleFlipIsReported)
{
    std::mt19937 rng(7);
    std::array<uint8_t, 128 + 3> good{}; /* the chunk, then its code */
    for (auto& b : good) b = uint8_t(rng());
    const Code code = ecc_chunk_code(good.data());
    std::copy(code.begin(), code.end(), good.begin() + 128);
    /* The bits that carry something: all 1024 of the data, 20 of the code (the column byte's 0x77, the lines' 0x7F). */
    std::vector<unsigned> bits;
    for (unsigned b = 0; b < (128 + 3) * 8; ++b)
        if (b < 1024 || (((b / 8 == 128) ? 0x77u : 0x7Fu) >> (b % 8) & 1)) bits.push_back(b);
    ASSERT_EQ(bits.size(), 1044u);
    auto check = [&](std::initializer_list<unsigned> flips) {
        auto c = good;
        for (unsigned b : flips) c[b / 8] = uint8_t(c[b / 8] ^ (1u << (b % 8)));
        const EccChunkState s = ecc_check_chunk(c.data(), c.data() + 128);
        EXPECT_TRUE(std::equal(c.begin(), c.begin() + 128, good.begin()) || s == EccChunkState::uncorrectable);
        return s;
    };
    for (unsigned b : bits)
        ASSERT_EQ(check({b}), b < 1024 ? EccChunkState::data_bit_corrected : EccChunkState::code_bit_flipped) << b;
    for (unsigned b : {1024 + 3, 1024 + 7, 1032 + 7, 1040 + 7}) EXPECT_EQ(check({b}), EccChunkState::clean) << b;
    for (size_t i = 0; i < bits.size(); ++i)
        for (size_t j = i + 1; j < bits.size(); ++j)
            if (check({bits[i], bits[j]}) != EccChunkState::uncorrectable) FAIL() << bits[i] << " and " << bits[j];

    /* A page: its spare area holds no code when all 0xFF, all 0x00, or its unused bytes are another writer's data. */
    std::vector<uint8_t> page(512 + 16);
    for (auto& b : page) b = uint8_t(rng());
    ecc_page_spare(page.data(), page.data() + 512);
    const auto coded = page;
    EXPECT_EQ(ecc_check_page(page.data(), page.data() + 512), EccPageState::clean);
    std::fill(page.begin() + 524, page.end(), 0xFF);
    EXPECT_EQ(ecc_check_page(page.data(), page.data() + 512), EccPageState::clean);
    page[300] ^= 0x10;
    EXPECT_EQ(ecc_check_page(page.data(), page.data() + 512), EccPageState::corrected);
    EXPECT_TRUE(std::equal(page.begin(), page.begin() + 512, coded.begin()));
    page[300] ^= 0x11;
    EXPECT_EQ(ecc_check_page(page.data(), page.data() + 512), EccPageState::uncorrectable);
    for (uint8_t fill : {0xFF, 0x00}) {
        std::fill(page.begin() + 512, page.end(), fill);
        EXPECT_EQ(ecc_check_page(page.data(), page.data() + 512), EccPageState::no_code);
    }
    page = coded;
    page[514] ^= 1;
    page[527] = 0x5A;
    EXPECT_EQ(ecc_check_page(page.data(), page.data() + 512), EccPageState::no_code);
}
