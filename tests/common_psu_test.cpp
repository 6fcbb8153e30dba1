/* common_psu_test.cpp -- PSU entries and archives: layout sizes, the depth-first walk, malformed input */
#include <gtest/gtest.h>

#include <vector>

#include "common/psu.h"

using namespace ps2;

namespace {

/* Builds an archive of a directory named SAVE with files of the given sizes. */
std::vector<uint8_t> flat_save(const std::vector<uint32_t>& sizes)
{
    std::vector<uint8_t> buf(1 << 20);
    PsuWriter w(buf);
    EXPECT_TRUE(w.add_entry(make_directory_entry("SAVE", uint32_t(sizes.size() + 2))));
    EXPECT_TRUE(w.add_entry(make_directory_entry(".", 0)));
    EXPECT_TRUE(w.add_entry(make_directory_entry("..", 0)));
    int i = 0;
    for (uint32_t s : sizes) {
        std::vector<uint8_t> data(s, uint8_t(0xA0 + i));
        EXPECT_TRUE(w.add_file(make_file_entry("F" + std::to_string(i++), s), data));
    }
    buf.resize(w.size());
    return buf;
}

std::vector<PsuNode> walk_ok(const std::vector<uint8_t>& a)
{
    std::vector<PsuNode> nodes;
    size_t end = 0;
    EXPECT_EQ(walk_psu_archive(a, &nodes, &end), PsuError::ok);
    EXPECT_EQ(end, a.size());
    return nodes;
}

} // namespace

TEST(PsuEntry, DecodeEncodeKeepsEveryByte)
{
    uint8_t rec[512], back[512];
    for (int i = 0; i < 512; ++i) rec[i] = uint8_t(i * 7 + 3);
    const PsuEntry e = decode_psu_entry(rec);
    encode_psu_entry(e, back);
    EXPECT_EQ(0, std::memcmp(rec, back, 512));
    EXPECT_EQ(e.mode, load_u16le(rec));
    EXPECT_EQ(e.length, load_u32le(rec + 4));
    EXPECT_EQ(e.cluster, load_u32le(rec + 0x10));
    EXPECT_EQ(e.attr, load_u32le(rec + 0x20));
}

TEST(PsuEntry, NameStopsAtNulOrField)
{
    PsuEntry e;
    ASSERT_TRUE(set_psu_entry_name(&e, "BESCES-50501REZ"));
    EXPECT_EQ(psu_entry_name(e), "BESCES-50501REZ");
    const std::string full(32, 'N');
    ASSERT_TRUE(set_psu_entry_name(&e, full));
    e.reserved_60[0] = 'X'; /* a reader must not run on into the reserved bytes */
    EXPECT_EQ(psu_entry_name(e), full);
    EXPECT_FALSE(set_psu_entry_name(&e, std::string(33, 'N')));
}

TEST(PsuArchive, SizesOfTheLayout)
{
    EXPECT_EQ(flat_save({1024}).size(), 3072u);
    EXPECT_EQ(flat_save({1025}).size(), 4096u);
    EXPECT_EQ(flat_save({0}).size(), 2048u);
    EXPECT_EQ(flat_save({}).size(), 1536u);
    EXPECT_EQ(flat_save({1, 1023, 2048}).size(), 512u * 6 + 1024 + 1024 + 2048);
}

TEST(PsuArchive, WalkFlatSave)
{
    const auto a = flat_save({0, 3000, 1024});
    const auto nodes = walk_ok(a);
    ASSERT_EQ(nodes.size(), 6u);
    EXPECT_EQ(nodes[0].kind, PsuNodeKind::directory);
    EXPECT_EQ(nodes[1].kind, PsuNodeKind::link);
    EXPECT_EQ(nodes[2].kind, PsuNodeKind::link);
    EXPECT_EQ(nodes[3].offset, 1536u);
    EXPECT_EQ(nodes[3].data_length, 0u);
    EXPECT_EQ(nodes[4].offset, 2048u); /* a 0-byte file has no data block */
    EXPECT_EQ(nodes[4].data_offset, 2560u);
    EXPECT_EQ(nodes[5].offset, 2560u + 3072u);
    EXPECT_EQ(nodes[5].depth, 1u);
}

TEST(PsuArchive, WalkNestedDirectory)
{
    std::vector<uint8_t> buf(1 << 16);
    PsuWriter w(buf);
    ASSERT_TRUE(w.add_entry(make_directory_entry("TOP", 4)));
    ASSERT_TRUE(w.add_entry(make_directory_entry(".", 0)));
    ASSERT_TRUE(w.add_entry(make_directory_entry("..", 0)));
    ASSERT_TRUE(w.add_entry(make_directory_entry("SUB", 3)));
    ASSERT_TRUE(w.add_entry(make_directory_entry(".", 0)));
    ASSERT_TRUE(w.add_entry(make_directory_entry("..", 0)));
    const uint8_t d[5] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(w.add_file(make_file_entry("IN", 0), d));
    ASSERT_TRUE(w.add_file(make_file_entry("OUT", 0), d));
    buf.resize(w.size());
    const auto nodes = walk_ok(buf);
    ASSERT_EQ(nodes.size(), 8u);
    EXPECT_EQ(nodes[3].kind, PsuNodeKind::directory);
    EXPECT_EQ(nodes[3].depth, 1u);
    EXPECT_EQ(nodes[6].depth, 2u); /* IN, inside SUB */
    EXPECT_EQ(nodes[7].depth, 1u); /* OUT, back in TOP */
    EXPECT_EQ(nodes[7].data_length, 5u);
}

TEST(PsuArchive, SingleFileNodeAndEmptySave)
{
    std::vector<uint8_t> buf(4096);
    PsuWriter w(buf);
    const uint8_t d[3] = {'a', 'b', 'c'};
    ASSERT_TRUE(w.add_file(make_file_entry("ROOTFILE", 0), d));
    buf.resize(w.size());
    EXPECT_EQ(walk_ok(buf).size(), 1u);
    EXPECT_EQ(walk_ok(flat_save({})).size(), 3u);
}

TEST(PsuArchive, MalformedInputIsRejected)
{
    std::vector<PsuNode> nodes;
    size_t end;
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        PsuError expected;
    };
    auto base = flat_save({3000});
    auto neither = base;
    store_u16le(neither.data() + 1536, 0x8400);
    auto both = base;
    store_u16le(both.data() + 1536, 0x8437);
    auto short_dir = base;
    store_u32le(short_dir.data() + 4, 1);
    auto huge_count = base;
    store_u32le(huge_count.data() + 4, 0xFFFFFFFF);
    auto huge_file = base;
    store_u32le(huge_file.data() + 1536 + 4, 0xFFFFFFF0);
    auto trailing = base;
    trailing.resize(base.size() + 512);
    auto cut_entry = base;
    cut_entry.resize(1536 + 100);
    const Case cases[] = {
        {"empty", {}, PsuError::empty},
        {"member with neither bit", neither, PsuError::bad_kind},
        {"member with both bits", both, PsuError::bad_kind},
        {"directory length 1", short_dir, PsuError::bad_directory_length},
        {"entry count far past the end", huge_count, PsuError::truncated_entry},
        {"file length past the end", huge_file, PsuError::truncated_data},
        {"bytes behind the last node", trailing, PsuError::trailing_bytes},
        {"cut inside an entry", cut_entry, PsuError::truncated_entry},
    };
    for (const auto& c : cases) {
        nodes.clear();
        EXPECT_EQ(walk_psu_archive(c.bytes, &nodes, &end), c.expected) << c.what;
    }
}

TEST(PsuArchive, EveryPrefixIsHandled)
{
    const auto a = flat_save({0, 1, 1500, 1024});
    for (size_t n = 0; n < a.size(); n += 7) {
        std::vector<uint8_t> cut(a.begin(), a.begin() + long(n));
        std::vector<PsuNode> nodes;
        size_t end;
        EXPECT_NE(walk_psu_archive(cut, &nodes, &end), PsuError::ok) << n;
    }
}

TEST(PsuWriter, RefusesWhatDoesNotFit)
{
    std::vector<uint8_t> buf(2047);
    PsuWriter w(buf);
    ASSERT_TRUE(w.add_entry(make_directory_entry("S", 2)));
    const uint8_t d[1] = {7};
    EXPECT_FALSE(w.add_file(make_file_entry("F", 1), d)); /* needs 512 + 1024 more */
    EXPECT_EQ(w.size(), 512u);
}
