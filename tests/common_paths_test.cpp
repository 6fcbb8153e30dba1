/* common_paths_test.cpp -- frame helpers: copy, compares, name part, extension point under both path rules */
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/paths.h"

using namespace ps2;

namespace {

size_t ext_at(const char* path, const PathRules& rules = kWindowsShiftJisRules)
{
    return size_t(find_extension_point(path, rules) - path);
}
std::string name_of(const char* path, const PathRules& rules = kWindowsShiftJisRules)
{
    return find_name_part(path, rules);
}

} // namespace

TEST(Paths, ExtensionPointExamples)
{
    EXPECT_EQ(ext_at("C:\\saves\\card.vm2"), std::strlen("C:\\saves\\card"));
    EXPECT_EQ(ext_at("C:\\saves\\a.b\\card"), std::strlen("C:\\saves\\a.b\\card")); /* folder dot ignored */
    EXPECT_EQ(ext_at("C:\\saves\\card.tar.gz"), std::strlen("C:\\saves\\card.tar"));
    EXPECT_EQ(ext_at("C:\\saves\\card."), std::strlen("C:\\saves\\card")); /* empty extension */
    EXPECT_EQ(ext_at(""), 0u);
    EXPECT_EQ(ext_at("/home/u/a.b/card", kPosixRules), std::strlen("/home/u/a.b/card"));
    EXPECT_EQ(ext_at("/home/u/card.psu", kPosixRules), std::strlen("/home/u/card"));
    /* On POSIX a backslash is an ordinary character. */
    EXPECT_EQ(ext_at("/x/a.b\\c", kPosixRules), std::strlen("/x/a"));
}

TEST(Paths, NamePart)
{
    EXPECT_EQ(name_of("C:\\saves\\QUILBAN.TXT"), "QUILBAN.TXT");
    EXPECT_EQ(name_of("QUILBAN.TXT"), "QUILBAN.TXT");
    EXPECT_EQ(name_of("C:\\saves\\"), "");
    EXPECT_EQ(name_of("/a/b/c.psu", kPosixRules), "c.psu");
    EXPECT_EQ(name_of("C:\\a\\b", kPosixRules), "C:\\a\\b");
}

TEST(Paths, ShiftJisTrailByteIsNoSeparator)
{
    /* 表 is 0x95 0x5C in Shift_JIS: its second byte has the value of "\". */
    const char path[] = "C:\\\x95\x5C\\save.\x95\x5C";
    EXPECT_EQ(name_of(path), "save.\x95\x5C");
    EXPECT_EQ(ext_at(path), std::strlen("C:\\\x95\x5C\\save"));
    /* Stepping single bytes would take the trail byte for a separator. */
    EXPECT_EQ(name_of("C:\\\x95\x5C" "abc", kWindowsSingleByteRules), "abc");
    EXPECT_EQ(name_of("C:\\\x95\x5C" "abc"), "\x95\x5C" "abc");
    /* A lead byte at the very end does not step over the NUL. */
    EXPECT_EQ(name_of("a\\\x95"), "\x95");
    EXPECT_EQ(ext_at("a.\x95"), 1u);
}

TEST(Paths, Compares)
{
    EXPECT_EQ(compare_exact("abc", "abc"), 0);
    EXPECT_LT(compare_exact("abc", "abd"), 0);
    EXPECT_GT(compare_exact("abc", "ab"), 0);
    EXPECT_GT(compare_exact("\xE0", "a"), 0); /* bytes compare unsigned */
    EXPECT_EQ(compare_folded("quilban.txt", "QUILBAN.TXT"), 0);
    EXPECT_EQ(compare_folded("QuIlBaN.TxT", "QUILBAN.TXT"), 0);
    EXPECT_NE(compare_folded("QUILBAN.TXT.psu", "QUILBAN.TXT"), 0);
    /* Only a-z fold: 0xE0 is not a letter here, and "_" stays above the letters. */
    EXPECT_NE(compare_folded("\xE0", "\xC0"), 0);
    EXPECT_GT(compare_folded("_", "z"), 0);
}

TEST(Paths, CopyAndBuffer)
{
    char buf[8];
    char* end = copy_string(buf, sizeof buf, "abc");
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end - buf, 3);
    EXPECT_EQ(copy_string(buf, sizeof buf, "12345678"), nullptr); /* needs 9 with the NUL */
    EXPECT_STREQ(buf, "");
    EXPECT_NE(copy_string(buf, sizeof buf, "1234567"), nullptr);

    PathBuffer p;
    ASSERT_TRUE(p.assign("C:\\x"));
    ASSERT_TRUE(p.append("\\y"));
    EXPECT_STREQ(p.c_str(), "C:\\x\\y");
    std::string long_text(1023 - p.length(), 'a');
    EXPECT_TRUE(p.append(long_text.c_str()));
    EXPECT_EQ(p.length(), 1023u);
    EXPECT_FALSE(p.append("b")); /* full: unchanged, nothing cut */
    EXPECT_EQ(p.length(), 1023u);
    p.cut(4);
    EXPECT_STREQ(p.c_str(), "C:\\x");
    EXPECT_FALSE(p.assign(std::string(1024, 'x').c_str()));
}
