/* maxconv_foreign_test.cpp -- CodeBreaker, SharkPort/X-Port and PSV saves: the real samples against their PSU
 * twins, damaged variants of them (cut, flipped, refused or salvaged), names, default time stamps */
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/psu.h"
#include "maxconv/foreign_save.h"
#include "tests/test_support.h"

using namespace ps2;
using namespace ps2::test;

namespace {

struct Member {
    std::string name;
    Bytes data;
    PsuEntry entry;
};

/* The members of a flat PSU archive, read by the strict walk. */
std::vector<Member> members_of(const Bytes& psu)
{
    std::vector<PsuNode> nodes;
    size_t end = 0;
    EXPECT_EQ(walk_psu_archive(psu, &nodes, &end), PsuError::ok);
    std::vector<Member> out;
    for (const PsuNode& n : nodes)
        if (n.kind == PsuNodeKind::file)
            out.push_back({std::string(psu_record_name(&psu[n.offset])),
                           Bytes(psu.begin() + long(n.data_offset), psu.begin() + long(n.data_offset + n.data_length)),
                           decode_psu_entry(&psu[n.offset])});
    return out;
}

/* Reads a save and writes its whole files as a PSU archive (the buffers kept from read to read). */
struct Read {
    std::vector<ForeignFile> files = std::vector<ForeignFile>(kForeignFileLimit);
    ForeignSave save;
    ForeignError error = ForeignError::ok;
    Bytes psu;

    explicit Read(const Bytes& file)
    {
        static Bytes room(kForeignPsuLimit), out(kForeignPsuLimit);
        error = read_foreign_save(file, room, files, &save);
        if (error != ForeignError::ok) return;
        size_t n = 0;
        EXPECT_EQ(write_foreign_psu(save, out, &n), ForeignError::ok);
        psu.assign(out.begin(), out.begin() + long(n));
    }
};

Bytes sample(const char* name) { return get(std::string(PS2_REALDATA_DIR) + "/" + name); }

} // namespace

TEST(ForeignSave, SamplesMatchTheirTwins)
{
    PS2_REQUIRE_REALDATA("rez.cbs", "rez.xps", "BESCES-5050152455A.PSV", "kingdom-hearts-japan.psv", "grandia-ii-usa.psv",
                         "007-agent-under-fire-europe.psv", "rez.psu", "kingdom-hearts-japan.psu", "grandia-ii-usa.psu",
                         "007-agent-under-fire-europe.psu");
    struct Case {
        const char* file;
        ForeignFormat format;
        const char* twin;
        uint16_t dir_mode;
        size_t same_data; /* files whose bytes equal the twin's (the PS3 export is a later game state) */
    };
    const Case cases[] = {
        {"rez.cbs", ForeignFormat::codebreaker, "rez.psu", 0x8427, 3},
        {"rez.xps", ForeignFormat::sharkport, "rez.psu", 0x84A7, 3},
        {"BESCES-5050152455A.PSV", ForeignFormat::psv, "rez.psu", 0x8427, 2},
        {"kingdom-hearts-japan.psv", ForeignFormat::psv, "kingdom-hearts-japan.psu", 0x8427, 4},
        {"grandia-ii-usa.psv", ForeignFormat::psv, "grandia-ii-usa.psu", 0x8427, 3},
        {"007-agent-under-fire-europe.psv", ForeignFormat::psv, "007-agent-under-fire-europe.psu", 0x8427, 4},
    };
    for (const Case& c : cases) {
        const Read r(sample(c.file));
        ASSERT_EQ(r.error, ForeignError::ok) << c.file;
        EXPECT_EQ(r.save.format, c.format) << c.file;
        EXPECT_TRUE(r.save.is_whole()) << c.file;
        const Bytes twin = sample(c.twin);
        EXPECT_EQ(r.psu.size(), twin.size()) << c.file;
        EXPECT_EQ(psu_record_name(r.psu.data()), psu_record_name(twin.data())) << c.file;
        EXPECT_EQ(record_mode(r.psu.data()), c.dir_mode) << c.file;
        const std::vector<Member> mine = members_of(r.psu), theirs = members_of(twin);
        ASSERT_EQ(mine.size(), theirs.size()) << c.file;
        size_t same = 0;
        for (size_t i = 0; i < mine.size(); ++i) {
            EXPECT_EQ(mine[i].name, theirs[i].name) << c.file;
            EXPECT_EQ(mine[i].entry.mode, 0x8497) << c.file;
            same += mine[i].data == theirs[i].data;
        }
        EXPECT_EQ(same, c.same_data) << c.file;
    }
    /* Two PSV saves of the collection convert to their twins byte for byte, once the card's clusters are zeroed. */
    for (const char* name : {"grandia-ii-usa", "007-agent-under-fire-europe"}) {
        Bytes twin = sample((std::string(name) + ".psu").c_str());
        std::vector<PsuNode> nodes;
        size_t end = 0;
        ASSERT_EQ(walk_psu_archive(twin, &nodes, &end), PsuError::ok);
        for (const PsuNode& n : nodes) set_record_cluster(&twin[n.offset], 0);
        const Read r(sample((std::string(name) + ".psv").c_str()));
        EXPECT_EQ(r.psu, twin) << name;
    }
}

TEST(ForeignSave, DefaultTimesAreFixedAndCarried)
{
    PS2_REQUIRE_REALDATA("rez.cbs", "grandia-ii-usa.psv");
    /* The CodeBreaker header leaves the directory's dates 0: they come from its records. */
    const Read cbs(sample("rez.cbs"));
    const PsuEntry top = decode_psu_entry(cbs.psu.data()), dot = decode_psu_entry(&cbs.psu[512]);
    const TimeOfDay records{0, 12, 10, 22, 21, 4, 0xE2, 0x07}; /* 2018-04-21 22:10:12 */
    EXPECT_EQ(top.created, records);
    EXPECT_EQ(top.modified, records);
    EXPECT_EQ(dot.created, records);
    EXPECT_EQ(dot.modified, records);
    EXPECT_EQ(top.length, 5u);
    /* No date anywhere: 2000-01-01, the same bytes every time. */
    Bytes psv = sample("grandia-ii-usa.psv");
    std::fill(psv.begin() + 0x68, psv.begin() + 0x78, 0);
    for (size_t e = 0xA0; e < 0xA0 + 3 * 60; e += 60) std::fill(psv.begin() + long(e), psv.begin() + long(e + 16), 0);
    const Read a(psv), b(psv);
    EXPECT_EQ(a.psu, b.psu);
    for (const Member& m : members_of(a.psu)) {
        EXPECT_EQ(m.entry.created, kFallbackTime);
        EXPECT_EQ(m.entry.modified, kFallbackTime);
    }
    EXPECT_EQ(decode_psu_entry(a.psu.data()).modified, kFallbackTime);
}

TEST(ForeignSave, DamagedSamplesAreRefusedOrSalvaged)
{
    PS2_REQUIRE_REALDATA("rez.cbs", "rez.xps", "grandia-ii-usa.psv");
    using Edit = std::function<void(Bytes&)>;
    const auto cut = [](size_t n) { return Edit([n](Bytes& b) { b.resize(n); }); };
    const auto flip = [](size_t at) { return Edit([at](Bytes& b) { b[at] ^= 0x40; }); };
    const auto u32 = [](size_t at, uint32_t v) { return Edit([at, v](Bytes& b) { store_u32le(&b[at], v); }); };
    const auto text = [](size_t at, const char* s) {
        return Edit([at, s](Bytes& b) { std::copy(s, s + std::strlen(s) + 1, b.begin() + long(at)); });
    };
    using E = ForeignError;
    constexpr size_t kEntry3 = 0xA0 + 2 * 60; /* grandia's third table entry */
    struct Case {
        const char* file;
        Edit edit;
        const char* what;
        E error;  /* refused whole */
        E damage; /* read, but not whole: the save's fault, or a file's */
        uint32_t whole;
    };
    const Case cases[] = {
        {"rez.cbs", cut(0x50), "header cut", E::cbs_header_cut, E::ok, 0},
        {"rez.cbs", u32(0x08, 0x10), "data_offset inside the directory fields", E::cbs_bad_data_offset, E::ok, 0},
        {"rez.cbs", u32(0x0C, 65u << 20), "a zip bomb", E::cbs_zip_bomb, E::ok, 0},
        {"rez.cbs", u32(0x0C, 9u << 20), "more than a PSU archive holds", E::cbs_body_too_large, E::ok, 0},
        {"rez.cbs", flip(0x128), "not zlib once decrypted", E::cbs_not_zlib, E::ok, 0},
        {"rez.cbs", text(0x14, "../UP"), "a name that leaves the folder", E::name_separator, E::ok, 0},
        {"rez.cbs", text(0x14, ".."), "the name ..", E::name_dots, E::ok, 0},
        {"rez.cbs", cut(2400), "a cut zlib stream", E::ok, E::cbs_stream_cut, 1},
        {"rez.cbs", flip(1500), "a flipped bit in the stream", E::ok, E::cbs_stream_damaged, 3},
        {"rez.cbs", u32(0x0C, 50589), "unpacked_size one too large", E::ok, E::cbs_stream_short, 3},
        {"rez.cbs", u32(0x0C, 50587), "unpacked_size one too small", E::ok, E::cbs_stream_long, 2},
        {"rez.xps", cut(30000), "cut short", E::ok, E::sps_cut, 1},
        {"rez.xps", flip(5000), "a flipped byte", E::ok, E::sps_bad_checksum, 3},
        {"rez.xps", cut(0x30), "header cut", E::sps_header_cut, E::ok, 0},
        {"rez.xps", u32(0x3F, 10), "payload_size too small", E::sps_size_mismatch, E::ok, 0},
        {"rez.xps", u32(0x43 + 66, 1), "a directory of 1 entry", E::sps_bad_entry_count, E::ok, 0},
        {"grandia-ii-usa.psv", u32(0x3C, 1), "a PlayStation save", E::psv_ps1, E::ok, 0},
        {"grandia-ii-usa.psv", u32(0x3C, 7), "an unknown type", E::psv_unknown_type, E::ok, 0},
        {"grandia-ii-usa.psv", cut(0x90), "header cut", E::psv_header_cut, E::ok, 0},
        {"grandia-ii-usa.psv", u32(0x64, 2000), "a table past the end", E::psv_table_cut, E::ok, 0},
        {"grandia-ii-usa.psv", text(0x80, ""), "an empty name", E::name_empty, E::ok, 0},
        {"grandia-ii-usa.psv",
         [](Bytes& b) { /* a garbage entry: random bytes but its offset */
             for (size_t i = 0; i < 56; ++i) b[kEntry3 + i] = uint8_t(i * 37 + 11);
         },
         "a garbage table entry", E::ok, E::mode_too_large, 2},
        {"grandia-ii-usa.psv", u32(kEntry3 + 16, 0), "size 0, the data left unreferenced at the end", E::ok,
         E::psv_unreferenced_tail, 2},
        {"grandia-ii-usa.psv", cut(60000), "the last file cut", E::ok, E::data_past_end, 2},
        {"grandia-ii-usa.psv", u32(kEntry3 + 56, 0x40), "data in the header", E::ok, E::data_in_header, 2},
        {"grandia-ii-usa.psv", u32(kEntry3 + 20, 0x8427), "a directory entry", E::ok, E::not_a_file, 2},
        {"grandia-ii-usa.psv", u32(kEntry3 + 20, 0x18497), "a mode of 17 bits", E::ok, E::mode_too_large, 2},
    };
    for (const Case& c : cases) {
        Bytes file = sample(c.file);
        c.edit(file);
        const Read r(file);
        EXPECT_EQ(r.error, c.error) << c.file << ": " << c.what << ": " << foreign_error_text(r.error);
        if (c.error != E::ok) continue;
        EXPECT_FALSE(r.save.is_whole()) << c.what;
        E first = r.save.damage;
        for (const ForeignFile& f : r.save.file_list())
            if (first == E::ok) first = f.fault;
        EXPECT_EQ(first, c.damage) << c.file << ": " << c.what << ": " << foreign_error_text(first);
        /* Salvage writes the whole files, and the archive reads back. */
        EXPECT_EQ(members_of(r.psu).size(), c.whole) << c.file << ": " << c.what;
    }
}

TEST(ForeignSave, EveryPrefixAndNames)
{
    PS2_REQUIRE_REALDATA("rez.cbs");
    const Bytes cbs = sample("rez.cbs");
    for (size_t n = 0; n <= cbs.size(); n += 7) {
        const Read r(Bytes(cbs.begin(), cbs.begin() + long(n)));
        if (r.error == ForeignError::ok) {
            EXPECT_EQ(r.save.is_whole(), n == cbs.size()) << n;
        }
    }
    using E = ForeignError;
    const std::pair<const char*, E> names[] = {
        {"BESCES-50501REZ", E::ok}, {"", E::name_empty},        {".", E::name_dots},
        {"..", E::name_dots},       {". .", E::name_dots},      {"a/b", E::name_separator},
        {"a\\b", E::name_separator}, {"0123456789012345678901234567890", E::ok},
        {"\x83\x5C\x83\x45", E::ok} /* ソウ */, {"\x83\x5C\\x", E::name_separator}, {"\x83/", E::name_separator},
        {"01234567890123456789012345678901", E::name_too_long},
    };
    for (const auto& [name, fault] : names) EXPECT_EQ(check_save_name(name), fault) << name;
}
