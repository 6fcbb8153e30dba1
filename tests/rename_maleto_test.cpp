/* rename_maleto_test.cpp -- MALETO's name building: save name, title block search, the REMOVE SJIS fold */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/psu.h"
#include "rename/maleto.h"

using namespace ps2;

namespace {

std::string folded(std::string s)
{
    remove_sjis(s.data());
    return s;
}

std::string new_path(const char* path, std::string_view name, std::string_view title, const PathRules& rules)
{
    PathBuffer out;
    size_t at = 0;
    EXPECT_EQ(format_new_path(path, name, title, rules, &out, &at), MaletoError::ok);
    return out.c_str();
}

} // namespace

TEST(MaletoNames, FormatInTheFilesFolder)
{
    EXPECT_EQ(new_path("C:\\saves\\old.psu", "GAMESAVE01", "My Save", kWindowsShiftJisRules),
              "C:\\saves\\GAMESAVE01-[My Save].psu");
    EXPECT_EQ(new_path("/home/u/x", "A", "", kPosixRules), "/home/u/A-[].psu");
    EXPECT_EQ(new_path("plain.psu", "BESLES", "T", kPosixRules), "BESLES-[T].psu");
    /* The folder keeps a Shift_JIS character whose trail byte is 0x5C. */
    EXPECT_EQ(new_path("C:\\\x95\x5C\\a.psu", "S", "T", kWindowsShiftJisRules), "C:\\\x95\x5C\\S-[T].psu");

    PathBuffer out;
    size_t at = 0;
    const std::string deep = "C:\\" + std::string(1000, 'd') + "\\a.psu";
    EXPECT_EQ(format_new_path(deep.c_str(), "GAMESAVE01", "A long title here", kWindowsShiftJisRules, &out, &at),
              MaletoError::path_too_long);
}

TEST(MaletoNames, RemoveSjisFold)
{
    EXPECT_EQ(folded("GAMESAVE01-[My Save].psu"), "GAMESAVE01-[My Save].psu");
    EXPECT_EQ(folded("\x82\x60\x82\x61"), "_A_B");        /* full-width A B */
    EXPECT_EQ(folded("\x82\x4F\x82\x58"), "_0_9");        /* full-width 0 9 */
    EXPECT_EQ(folded("\x82\x81\x82\x9A"), "_a_z");        /* full-width a z */
    EXPECT_EQ(folded("\x81\x40"), "__");                  /* full-width space */
    EXPECT_EQ(folded("\x82\xA0\x83\x41"), "____");        /* hiragana a, katakana a */
    EXPECT_EQ(folded("\x95\x5C"), "__");                  /* trail byte 0x5C is no backslash */
    EXPECT_EQ(folded("a:b?c"), "a;b_c");
    EXPECT_EQ(folded("<>|\"*/\\\x01\x1F\x7F"), "__________");
    EXPECT_EQ(folded("\xB1\xB2"), "__");                  /* single-byte katakana */
    /* After a converted pair the trail byte never starts a new pair. */
    EXPECT_EQ(folded("\x82\x60\x82"), "_A_");
    EXPECT_EQ(folded("\x81\x81\x40"), "__@");             /* 0x8181 pair, then a lone "@" */
    /* Outside the rows: a lead byte followed by a byte below 0x40 is not a pair. */
    EXPECT_EQ(folded("\x82\x30"), "_0");
    EXPECT_EQ(folded("\xF0\x40"), "_@");
    /* The length never changes. */
    const std::string t = "\x83\x5A\x81\x5B\x83\x75 x";
    EXPECT_EQ(folded(t).size(), t.size());
}

TEST(MaletoNames, SaveNameAndTitleSearch)
{
    uint8_t top[512] = {};
    std::string_view name;
    EXPECT_EQ(read_save_name(top, &name), MaletoError::name_too_short);
    top[0x40] = 'A';
    EXPECT_EQ(read_save_name(top, &name), MaletoError::name_too_short);
    top[0x41] = 'B';
    ASSERT_EQ(read_save_name(top, &name), MaletoError::ok);
    EXPECT_EQ(name, "AB");
    std::memset(top + 0x40, 'N', 32);
    top[0x60] = 'X'; /* reserved bytes are not part of the name */
    ASSERT_EQ(read_save_name(top, &name), MaletoError::ok);
    EXPECT_EQ(name, std::string(32, 'N'));

    std::vector<uint8_t> chunk(32768, 0);
    EXPECT_EQ(find_title_block(chunk), chunk.size());
    std::memcpy(&chunk[100], "PS2D", 4); /* not 512-aligned */
    EXPECT_EQ(find_title_block(chunk), chunk.size());
    std::memcpy(&chunk[1024], "PS2D", 4);
    std::memcpy(&chunk[4096], "PS2D", 4);
    EXPECT_EQ(find_title_block(chunk), 1024u); /* the first one wins */
    std::memcpy(&chunk[32256], "PS2D", 4);
    EXPECT_EQ(find_title_block(std::span<const uint8_t>(chunk).subspan(32256)), 0u);
    EXPECT_EQ(find_title_block(std::span<const uint8_t>(chunk.data(), 3)), 3u); /* shorter than the magic */

    std::vector<uint8_t> block(512, 0);
    std::memcpy(&block[0xC0], "My Save", 7);
    EXPECT_EQ(read_title(block), "My Save");
    std::fill(block.begin() + 0xC0, block.end(), 'T'); /* no NUL: stops at the block's end */
    EXPECT_EQ(read_title(block).size(), 512u - 0xC0);
    EXPECT_EQ(read_title(std::span<const uint8_t>(block.data(), 0xC4)), "TTTT"); /* only what was read */
    EXPECT_EQ(read_title(std::span<const uint8_t>(block.data(), 0x80)), "");
}

TEST(MaletoNames, NewNameStaysInItsFolder)
{
    EXPECT_TRUE(name_stays_in_folder("GAME-[T].psu", kWindowsShiftJisRules));
    EXPECT_FALSE(name_stays_in_folder("GAME-[a\\b].psu", kWindowsShiftJisRules));
    EXPECT_FALSE(name_stays_in_folder("GAME-[a/b].psu", kWindowsShiftJisRules));
    EXPECT_FALSE(name_stays_in_folder("GAME-[a/b].psu", kPosixRules));
    EXPECT_TRUE(name_stays_in_folder("GAME-[\x95\x5C].psu", kWindowsShiftJisRules)); /* one character */
    EXPECT_FALSE(name_stays_in_folder("..", kPosixRules));
    EXPECT_FALSE(name_stays_in_folder("", kPosixRules));
}

TEST(MaletoNames, NameInTheUsersCharacterSet)
{
    /* Converts the katakana row (lead byte 0x83) to "K"; every other character has no form. */
    const TextConverter katakana{[](const void*, std::string_view c, std::string* out) {
                                     return c.size() == 2 && uint8_t(c[0]) == 0x83 ? (*out = "K", true) : false;
                                 },
                                 nullptr, "test"};
    struct Case {
        const char* name;
        const char* want;
        size_t fell_back;
    } const cases[] = {
        {"GAME-[a:b?].psu", "GAME-[a:b?].psu", 0},           /* ASCII as it stands, unlike the fold */
        {"\x83\x5A\x83\x75", "KK", 0},                      /* converted, trail 0x5C-free or not */
        {"\x82\x60\x81\x40\x83\x5C", "_A__K", 2},           /* no form: as REMOVE SJIS writes it */
        {"a\x80" "b\xFD", "a_b_", 2},                        /* broken single bytes */
        {"\x83\x20x", "_ x", 1},                             /* a lead byte without its trail byte */
        {"x\x83", "x_", 1},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(name_in_user_charset(c.name, katakana, &out), c.fell_back) << c.name;
        EXPECT_EQ(out, c.want) << c.name;
    }
    std::string out;
    EXPECT_EQ(name_in_user_charset("\x83\x5A!", TextConverter{}, &out), 1u); /* no converter at all */
    EXPECT_EQ(out, "__!");
}
