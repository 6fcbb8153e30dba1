/* unpack_walk_test.cpp -- the linear unpack walk, temporary names, member name safety, damaged archives */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unpack_samples.h"
#include "unpack/membername.h"
#include "unpack/unpack.h"

using namespace ps2;
using namespace ps2::test;

namespace {

UnpackPlan plan_of(std::span<const uint8_t> archive, bool temp_names = false, bool fold = false)
{
    UnpackOptions o;
    o.temp_names = temp_names;
    o.names_fold_case = fold;
    UnpackPlan p;
    plan_unpack(archive, o, &p);
    return p;
}

std::vector<std::string> name2s(const UnpackPlan& p)
{
    std::vector<std::string> out;
    for (const auto& e : p.entries) out.emplace_back(e.name2.view());
    return out;
}

} // namespace

TEST(MemberName, SafetyTable)
{
    struct Case {
        std::string name;
        MemberNameFault posix, windows_sjis; /* under each system's rules */
    };
    using F = MemberNameFault;
    const Case cases[] = {
        {"icon.sys", F::none, F::none},
        {"BISLPS-25105-01", F::none, F::none},
        {"", F::empty, F::empty},
        {".", F::dot, F::dot},
        {"..", F::dot_dot, F::dot_dot},
        {"...", F::dots_and_spaces, F::dots_and_spaces},
        {".. ", F::dots_and_spaces, F::dots_and_spaces},
        {" ", F::dots_and_spaces, F::dots_and_spaces},
        {"a.", F::none, F::none},
        {". a", F::none, F::none},
        {".hidden", F::none, F::none},
        {"a/b", F::separator, F::separator},
        {"a\\b", F::separator, F::separator},
        {"/etc", F::separator, F::separator},
        {"..\\..\\x", F::separator, F::separator},
        {"a\rb", F::line_break, F::line_break},
        {"a\n", F::line_break, F::line_break},
        {"QUILBAN.TXT", F::manifest_name, F::manifest_name},
        {"quilban.txt", F::manifest_name, F::manifest_name},
        {"Quilban.Txt", F::manifest_name, F::manifest_name},
        {"QUILBAN.TXT.bak", F::none, F::none},
        {"QUILBAN.TX", F::none, F::none},
        /* "ソ" is 0x83 0x5C: a separator byte only to single-byte stepping. */
        {"\x83\x5C", F::separator, F::none},
        {"\x95\x5C\x8E\xA6.bin", F::separator, F::none},
        {"\x83\x5C/x", F::separator, F::separator},
        {"\x83", F::none, F::none}, /* a lone lead byte at the end */
        {std::string(1023, 'a'), F::none, F::none},
        {std::string(1024, 'a'), F::too_long, F::too_long},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(check_member_name(c.name, kPosixRules), c.posix) << c.name;
        EXPECT_EQ(check_member_name(c.name, kWindowsShiftJisRules), c.windows_sjis) << c.name;
    }
    /* The archive's own name gets ".psu": the manifest's name is no clash there. */
    EXPECT_EQ(check_result_name("QUILBAN.TXT", kPosixRules), F::none);
    EXPECT_EQ(check_result_name("..", kPosixRules), F::dot_dot);
    EXPECT_STRNE(member_name_fault_text(F::separator), member_name_fault_text(F::none));
}

TEST(MemberName, ManifestPathTable)
{
    struct Case {
        const char* path;
        bool posix, windows;
    };
    const Case cases[] = {
        {"QUILBAN.TXT", true, true},
        {"dir/quilban.txt", true, false}, /* the name part follows the last "\\" only */
        {"C:\\saves\\SAVE01\\QuilBan.txt", false, true},
        {"C:\\saves\\SAVE01\\QUILBAN.TXT.bak", false, false},
        {"dir/QUILBAN.TXT.bak", false, false},
        {"dir/XQUILBAN.TXT", false, false},
        {"dir/QUILBAN.TX", false, false},
        {"dir/QUILBAN_TXT", false, false},
        /* "ソ" before the name: its 0x5C byte is no separator in Shift_JIS. */
        {"C:\\\x83\x5CQUILBAN.TXT", false, false},
        {"C:\\a\\QUILBAN.TXT", false, true},
        {"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_manifest_path(c.path, kPosixRules), c.posix) << c.path;
        EXPECT_EQ(is_manifest_path(c.path, kWindowsShiftJisRules), c.windows) << c.path;
    }
}

TEST(UnpackWalk, FlatSaveWithTempNames)
{
    const Bytes archive = make_archive(dir("SAVE01", {file("icon.sys", pattern(964)), file("data", pattern(1025, 9)),
                                                      file("empty", {})}));
    ASSERT_EQ(archive.size(), 512u * 6 + 1024 + 2048);
    const UnpackPlan plain = plan_of(archive);
    EXPECT_EQ(plain.shape, PsuError::ok);
    EXPECT_EQ(plain.ignored_tail, 0u);
    EXPECT_EQ(name2s(plain), (std::vector<std::string>{"SAVE01", ".", "..", "icon.sys", "data", "empty"}));
    ASSERT_EQ(plain.file_count(), 3u);
    EXPECT_EQ(Bytes(plain.entries[3].data.begin(), plain.entries[3].data.end()), pattern(964));
    EXPECT_EQ(plain.entries[3].offset, 1536u);
    EXPECT_EQ(plain.entries[4].offset, 1536u + 512 + 1024);
    EXPECT_EQ(Bytes(plain.entries[4].data.begin(), plain.entries[4].data.end()), pattern(1025, 9));
    EXPECT_TRUE(plain.entries[5].data.empty());
    EXPECT_EQ(plain.entries[5].offset, archive.size() - 512);
    for (const auto& e : plain.entries) {
        EXPECT_EQ(e.name_fault, MemberNameFault::none);
        EXPECT_EQ(e.replaces, kNoEntry);
    }

    /* The counter counts every entry: the members are numbered from 3. */
    const UnpackPlan temp = plan_of(archive, true);
    EXPECT_EQ(name2s(temp), (std::vector<std::string>{"temp0000.bin", "temp0001.bin", "temp0002.bin",
                                                      "temp0003.bin", "temp0004.bin", "temp0005.bin"}));
    EXPECT_FALSE(temp.entries[2].is_file);
    EXPECT_TRUE(temp.entries[3].is_file);
}

TEST(UnpackWalk, TempNamesGrowPast9999)
{
    std::vector<Node> members(10001, file("x", {}));
    const Bytes archive = make_archive(dir("MANY", members));
    const UnpackPlan p = plan_of(archive, true);
    ASSERT_EQ(p.entries.size(), 10004u);
    EXPECT_EQ(p.entries[9999].name2.view(), "temp9999.bin");
    EXPECT_EQ(p.entries[10003].name2.view(), "temp10003.bin");
    /* Without temp names the 10001 members share one file, each overwriting the one before. */
    const UnpackPlan same = plan_of(archive);
    EXPECT_EQ(same.entries[3].replaces, kNoEntry);
    EXPECT_EQ(same.entries[4].replaces, 3u);
    EXPECT_EQ(same.entries[10003].replaces, 10002u);
}

TEST(UnpackWalk, NestedDirectoriesShareTheFolder)
{
    const Bytes archive = make_archive(dir("TOP", {file("a", pattern(10)), dir("SUB", {file("a", pattern(20, 5)),
                                                                                       file("A", pattern(3))})}));
    const UnpackPlan p = plan_of(archive);
    EXPECT_EQ(p.shape, PsuError::ok);
    EXPECT_EQ(name2s(p), (std::vector<std::string>{"TOP", ".", "..", "a", "SUB", ".", "..", "a", "A"}));
    EXPECT_FALSE(p.entries[4].is_file);
    EXPECT_EQ(p.entries[7].replaces, 3u); /* the later "a" overwrites the earlier */
    EXPECT_EQ(p.entries[8].replaces, kNoEntry);
    /* Where names differ in a-z only and the file system ignores case, "A" is that file again. */
    const UnpackPlan folded = plan_of(archive, false, true);
    EXPECT_EQ(folded.entries[8].replaces, 7u);
    /* Temp names never share. */
    const UnpackPlan temp = plan_of(archive, true);
    for (const auto& e : temp.entries) EXPECT_EQ(e.replaces, kNoEntry);
}

TEST(UnpackWalk, UnsafeNamesAreNotWritten)
{
    const Bytes archive = make_archive(dir("SAVE", {file("../evil", pattern(5)), file("..", pattern(5)),
                                                    file("sub\\x", pattern(5)), file("quilban.txt", pattern(5)),
                                                    file("", pattern(5)), file("fine", pattern(5))}));
    const UnpackPlan p = plan_of(archive);
    using F = MemberNameFault;
    const F expected[] = {F::separator, F::dot_dot, F::separator, F::manifest_name, F::empty, F::none};
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(p.entries[3 + i].name_fault, expected[i]) << i;
    /* Directory entries "." and ".." write nothing, so their names are no fault. */
    EXPECT_EQ(p.entries[1].name_fault, F::none);
    /* With temporary names every member can be written. */
    const UnpackPlan temp = plan_of(archive, true);
    for (const auto& e : temp.entries) EXPECT_EQ(e.name_fault, F::none);
}

TEST(UnpackWalk, NamesWithLineBreaksAreFlagged)
{
    const Bytes archive = make_archive(dir("SA\nVE", {file("x\ry", pattern(5))}));
    const UnpackPlan p = plan_of(archive);
    EXPECT_TRUE(p.entries[0].name_breaks_line);
    EXPECT_TRUE(p.entries[3].name_breaks_line);
    EXPECT_EQ(p.entries[3].name_fault, MemberNameFault::line_break);
    EXPECT_FALSE(p.entries[1].name_breaks_line);
}

TEST(UnpackWalk, DamagedArchives)
{
    const Bytes good = make_archive(dir("SAVE", {file("one", pattern(1000)), file("two", pattern(3000))}));
    ASSERT_EQ(good.size(), 512u * 5 + 1024 + 3072);
    struct Case {
        size_t size;      /* the archive cut to this size */
        size_t entries;   /* whole entries walked */
        size_t tail;      /* bytes of a cut entry */
        size_t last_data; /* data of the last file entry there is */
        bool last_cut;
    };
    const size_t two_at = 1536 + 512 + 1024;
    const Case cases[] = {
        {0, 0, 0, 0, false},
        {100, 0, 100, 0, false},
        {511, 0, 511, 0, false},
        {512, 1, 0, 0, false},
        {1600, 3, 64, 0, false},
        {2048, 4, 0, 0, true},
        {2048 + 999, 4, 0, 999, true},
        {2048 + 1000, 4, 0, 1000, false},
        {2048 + 1010, 4, 0, 1000, false}, /* padding cut short: no fault */
        {two_at + 100, 4, 100, 1000, false},
        {two_at + 512 + 2999, 5, 0, 2999, true},
        {good.size() - 1, 5, 0, 3000, false},
        {good.size(), 5, 0, 3000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const UnpackPlan p = plan_of(std::span<const uint8_t>(good).first(c.size));
        ASSERT_EQ(p.entries.size(), c.entries);
        EXPECT_EQ(p.ignored_tail, c.tail);
        if (c.entries >= 4) {
            const UnpackEntry& last = p.entries.back();
            EXPECT_EQ(last.data.size(), c.last_data);
            EXPECT_EQ(last.data_cut, c.last_cut);
            const Bytes whole = pattern(c.entries == 4 ? 1000 : 3000);
            EXPECT_EQ(Bytes(last.data.begin(), last.data.end()), Bytes(whole.begin(), whole.begin() + long(c.last_data)));
        }
        /* Only a cut in the last padding leaves the archive well-formed. */
        EXPECT_EQ(p.shape == PsuError::ok, c.size >= two_at + 512 + 3000);
    }
}

TEST(UnpackWalk, HugeLengthsNeitherLoopNorOverread)
{
    /* A file entry claiming 0xFFFFFFFF bytes: a 32-bit position would wrap and walk again. */
    Bytes archive = make_archive(dir("SAVE", {file("big", pattern(10))}));
    set_record_length(archive.data() + 1536, 0xFFFFFFFFu);
    const UnpackPlan p = plan_of(archive);
    ASSERT_EQ(p.entries.size(), 4u);
    EXPECT_TRUE(p.entries[3].data_cut);
    EXPECT_EQ(p.entries[3].data.size(), 1024u);
    EXPECT_EQ(p.entries[3].length, 0xFFFFFFFFu);
    EXPECT_NE(p.shape, PsuError::ok);
}

TEST(UnpackWalk, EveryPrefixAndAnyBytesAreHandled)
{
    const Bytes good = make_archive(
        dir("SAVE", {file("a", pattern(700)), dir("D", {file("b", pattern(1500))}), file("c", {})}));
    for (size_t n = 0; n <= good.size(); n += 37) {
        const UnpackPlan p = plan_of(std::span<const uint8_t>(good).first(n));
        size_t covered = 0;
        for (const auto& e : p.entries) {
            ASSERT_LE(e.offset + kPsuEntrySize, n);
            if (e.is_file) {
                ASSERT_LE(size_t(e.data.data() - good.data()) + e.data.size(), n);
            }
            covered = e.offset + kPsuEntrySize;
        }
        ASSERT_LE(covered, n);
    }
    /* Bytes that are no archive at all: every entry a file of some length. */
    Bytes noise(20000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = uint8_t((i * 2654435761u) >> 13);
    const UnpackPlan p = plan_of(noise);
    ASSERT_FALSE(p.entries.empty());
    for (const auto& e : p.entries) ASSERT_LE(e.offset + kPsuEntrySize, noise.size());
    Bytes manifest(unpack_manifest_capacity(p));
    ManifestWriter w(manifest);
    EXPECT_TRUE(write_unpack_manifest(noise, p, &w));
}
