/* common_psu_test.cpp -- PSU entries and archives: layout sizes, the depth-first walk, malformed input; the file-kind recogniser */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/psu.h"
#include "common/save_kind.h"

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

/* ---- the recogniser ---- */

TEST(FileKindRecogniser, NamesEveryKindAndItsWayOut)
{
    const std::vector<uint8_t> psu = flat_save({3});
    auto bytes = [](std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    const std::string rule(60, '-');
    struct Case {
        std::vector<uint8_t> head;
        uint64_t size;
        FileKind kind;
        const char* for_taviro; /* describe_wrong_kind(kind, kTakesPsu) */
    } cases[] = {
        {psu, psu.size(), FileKind::psu, nullptr},
        {bytes("Ps2PowerSave...."), 4056, FileKind::max, "a MAX archive, not a PSU archive (convert it with varkon first)"},
        {bytes("Sony PS2 Memory Card Format 1.2.0.0"), 8388608, FileKind::card_raw, "a card image, not a PSU archive (split it with sorvik first)"},
        {bytes("Sony PS2 Memory Card Format 1.2.0.0"), 8650752, FileKind::card_coded, "a card image, not a PSU archive (split it with sorvik first)"},
        {bytes("Sony PS2 Memory Card Format 1.1.0.0"), 2000000, FileKind::card_raw, "a card image, not a PSU archive (split it with sorvik first)"},
        {bytes("Sony PS2 Memory Card Format 1.2.0.0"), 4 * 8650752ull, FileKind::card_coded, "a card image, not a PSU archive (split it with sorvik first)"},
        {bytes(std::string_view("CFU\0\x40\x1f", 6)), 3386, FileKind::codebreaker, "a CodeBreaker save, not a PSU archive (convert it with varkon first)"},
        {bytes(std::string_view("\x0D\0\0\0SharkPortSave", 17)), 51467, FileKind::sharkport, "a SharkPort/X-Port save, not a PSU archive (convert it with varkon first)"},
        {bytes(std::string_view("\0VSP\0\0", 6)), 50736, FileKind::psv, "a PS3 save, not a PSU archive (convert it with varkon first)"},
        {bytes("QUILBAN\r\n" + rule + "\r\n"), 900, FileKind::quilban_manifest, "a QUILBAN manifest, not a PSU archive (rebuild its archive with quilban first)"},
        {bytes("QUILBAN\n" + rule), 900, FileKind::quilban_manifest, nullptr},
        {bytes("QUILBAN\r\n" + rule.substr(1) + "\r\n"), 900, FileKind::unknown, "not a PSU archive"},
        {bytes("QUILBAN" + rule), 900, FileKind::unknown, nullptr},
        {bytes(std::string_view("\x0D\0\0\0SharkPortSav", 16)), 16, FileKind::unknown, nullptr},
        {bytes("Ps2PowerSav"), 11, FileKind::unknown, nullptr},
        {std::vector<uint8_t>(psu.begin(), psu.begin() + 0x443), 0x443, FileKind::unknown, nullptr},
        {{}, 0, FileKind::unknown, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.head.begin(), c.head.begin() + std::min<size_t>(c.head.size(), 20)));
        EXPECT_EQ(recognise_file_kind(c.head, c.size), c.kind);
        char text[128];
        if (c.for_taviro) {
            EXPECT_STREQ(describe_wrong_kind(c.kind, kTakesPsu, text), c.for_taviro);
        }
    }
    /* The MAX magic wins over the "." and ".." of a PSU archive, as VARKON has always decided. */
    std::vector<uint8_t> both = psu;
    std::memcpy(both.data(), "Ps2PowerSave", 12);
    EXPECT_EQ(recognise_file_kind(both, both.size()), FileKind::max);

    char text[128];
    EXPECT_STREQ(describe_wrong_kind(FileKind::codebreaker, kTakesPsuOrMax, text), "a CodeBreaker save, not a PSU or MAX archive");
    EXPECT_STREQ(describe_wrong_kind(FileKind::card_coded, kTakesPsuOrMax, text), "a card image, not a PSU or MAX archive (split it with sorvik first)");
    EXPECT_STREQ(describe_wrong_kind(FileKind::psu, kTakesCard, text), "a PSU archive, not a card image (put it on a card with taviro first)");
    EXPECT_STREQ(describe_wrong_kind(FileKind::unknown, kTakesPsuOrMax | file_kind_bit(FileKind::psv), text), "not a PSU or MAX archive or a PS3 save");
    EXPECT_STREQ(file_kind_phrase(FileKind::unknown), "not a save archive");
    char small[8];
    EXPECT_STREQ(describe_wrong_kind(FileKind::max, kTakesPsu, small), "a MAX a"); /* cut, terminated */
    /* A window's words name the programs as their windows are captioned. */
    EXPECT_STREQ(describe_wrong_kind_in_window(FileKind::psv, kTakesPsu, text), "a PS3 save: convert it with VARKON first");
    EXPECT_STREQ(describe_wrong_kind_in_window(FileKind::card_coded, kTakesPsu, text), "a card image: split it with SORVIK first");
    EXPECT_STREQ(describe_wrong_kind_in_window(FileKind::max, kTakesCard, text), "a MAX archive: convert it with VARKON, then put it on a card with TAVIRO");
    EXPECT_STREQ(describe_wrong_kind_in_window(FileKind::codebreaker, kTakesPsuOrMax, text), "a CodeBreaker save");
    EXPECT_STREQ(describe_wrong_kind_in_window(FileKind::unknown, kTakesPsu, text), "not a save archive");
    EXPECT_STREQ(describe_wrong_kind_in_window(FileKind::max, kTakesPsu, std::span<char>(text, 25)), "a MAX archive: convert i");
}
