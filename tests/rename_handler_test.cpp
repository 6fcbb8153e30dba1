/* rename_handler_test.cpp -- MALETO's handler on real files: renames, refusals, no overwrite */
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/platform.h"
#include "rename/maleto_handler.h"
#include "tests/test_support.h"
#include "tools/samplegen.h"

using namespace ps2;
using namespace ps2::test;
namespace fs = std::filesystem;

namespace {

class MaletoHandler : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        const std::string p = dir_ + "/" + name;
        put(p, bytes);
        return p;
    }
    std::vector<uint8_t> save(const std::string& name, const std::string& title, bool icon_first = true)
    {
        samples::Save s;
        s.name = name;
        s.title = title;
        s.members = {{"DATA", 40000, samples::Fill::mixed, false, {}}};
        s.members.insert(icon_first ? s.members.begin() : s.members.end(), {"icon.sys", 964, samples::Fill::icon, false, {}});
        return samples::build_save(s);
    }
    MaletoError rename(const std::string& path, bool option)
    {
        return maleto_rename_file(path.c_str(), OptionBox::fixed(option), out_.reporter(), kPosixRules);
    }
    bool exists(const std::string& name) const { return fs::exists(dir_ + "/" + name); }

    TempDir tmp_{"maleto"};
    const std::string dir_ = tmp_.path();
    ReportLog out_;
};

} // namespace

TEST_F(MaletoHandler, RenamesWithAndWithoutOption)
{
    const auto a = write("a.psu", save("GAMESAVE01", "My Save"));
    ASSERT_EQ(rename(a, false), MaletoError::ok);
    EXPECT_TRUE(exists("GAMESAVE01-[My Save].psu"));
    EXPECT_FALSE(exists("a.psu"));
    ASSERT_EQ(out_.notes().size(), 1u);
    EXPECT_EQ(out_.notes()[0], a + " -> " + dir_ + "/GAMESAVE01-[My Save].psu");

    /* Dropped again: the same name, nothing changes. */
    EXPECT_EQ(rename(dir_ + "/GAMESAVE01-[My Save].psu", true), MaletoError::ok);
    EXPECT_TRUE(exists("GAMESAVE01-[My Save].psu"));

    const auto b = write("b.psu", save("BISLPS-25105", "\x82\x60\x82\x61\x81\x40:?", false));
    ASSERT_EQ(rename(b, true), MaletoError::ok);
    EXPECT_TRUE(exists("BISLPS-25105-[_A_B__;_].psu"));
}

TEST_F(MaletoHandler, RefusalsKeepTheFile)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool option;
        MaletoError expected;
    };
    auto no_icon = save("GAMESAVE01", "T");
    for (size_t off = 512; off < no_icon.size(); off += 512)
        if (std::memcmp(&no_icon[off], "PS2D", 4) == 0) no_icon[off] = 'X';
    auto short_name = save("G", "T");
    auto top_only = save("GAMESAVE01", "T");
    top_only.resize(512);
    const Case cases[] = {
        {"no PS2D block", no_icon, false, MaletoError::no_title_block},
        {"one-character name", short_name, false, MaletoError::name_too_short},
        {"512 bytes only", top_only, false, MaletoError::no_title_block},
        {"empty file", {}, false, MaletoError::name_too_short},
        {"title with a slash", save("GAMESAVE01", "a/b"), false, MaletoError::unsafe_name},
    };
    for (const auto& c : cases) {
        const auto p = write("case.psu", c.bytes);
        EXPECT_EQ(rename(p, c.option), c.expected) << c.what;
        EXPECT_TRUE(exists("case.psu")) << c.what;
        fs::remove(p);
    }
    EXPECT_EQ(rename(dir_ + "/missing.psu", false), MaletoError::open_failed);
    EXPECT_EQ(out_.errors().size(), 6u);
    EXPECT_TRUE(out_.notes().empty());

    /* With the option the slash becomes "_". */
    const auto s = write("slash.psu", save("GAMESAVE01", "a/b"));
    EXPECT_EQ(rename(s, true), MaletoError::ok);
    EXPECT_TRUE(exists("GAMESAVE01-[a_b].psu"));
}

TEST_F(MaletoHandler, NeverOverwrites)
{
    const auto first = write("first.psu", save("GAMESAVE01", "My Save"));
    const auto second = write("second.psu", save("GAMESAVE01", "My Save"));
    ASSERT_EQ(rename(first, false), MaletoError::ok);
    EXPECT_EQ(rename(second, false), MaletoError::target_exists);
    EXPECT_TRUE(exists("second.psu"));
}

TEST_F(MaletoHandler, TitleBlockFarBehindTheTopEntry)
{
    /* A large member before icon.sys: the title lies beyond the first 32 KiB chunk. */
    samples::Save s;
    s.name = "BASLUS-20001";
    s.title = "Far";
    s.members = {{"BIG", 100000, samples::Fill::random, false, {}}, {"icon.sys", 964, samples::Fill::icon, false, {}}};
    const auto p = write("far.psu", samples::build_save(s));
    ASSERT_EQ(rename(p, false), MaletoError::ok);
    EXPECT_TRUE(exists("BASLUS-20001-[Far].psu"));
}

TEST_F(MaletoHandler, RealSaves)
{
    PS2_REQUIRE_REALDATA("rez.psu", "grandia-ii-usa.psu", "kingdom-hearts-japan.psu");
    const std::string real = PS2_REALDATA_DIR;
    struct Case {
        const char* file;
        const char* expected; /* with REMOVE SJIS */
    };
    const Case cases[] = {
        {"rez.psu", "BESCES-50501REZ-[_R_e_z].psu"},
        {"grandia-ii-usa.psu", "BASLUS-20194G05-[_G_R_A_N_D_I_A_2___0_6].psu"},
        {"kingdom-hearts-japan.psu", nullptr},
    };
    for (const auto& c : cases) {
        const auto p = dir_ + "/" + c.file;
        fs::copy_file(real + "/" + c.file, p);
        ASSERT_EQ(rename(p, true), MaletoError::ok) << c.file;
        if (c.expected) {
            EXPECT_TRUE(exists(c.expected)) << c.file;
        }
    }
    for (const auto& e : fs::directory_iterator(dir_)) {
        const std::string n = e.path().filename().string();
        for (unsigned char ch : n) EXPECT_LT(ch, 0x80) << n; /* plain ASCII with the option */
        EXPECT_EQ(n.substr(n.size() - 5), "].psu");
    }
}
