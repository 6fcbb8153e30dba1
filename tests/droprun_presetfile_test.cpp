/* droprun_presetfile_test.cpp -- the preset list read from disk: missing lists, read failures, re-reading */
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/platform_faults.h"
#include "droprun/presetfile.h"
#include "tests/test_support.h"

using namespace ps2;
using namespace ps2::droprun;
namespace fs = std::filesystem;
namespace faults = ps2::plat::faults;

namespace {

class PresetFile : public ::testing::Test {
protected:
    void TearDown() override { faults::reset(); }
    void put(const std::string& text) { test::put(path_, text); }

    test::TempDir tmp_{"droprun_list"};
    const std::string dir_ = tmp_.path(), path_ = dir_ + "/presets.lst";
};

/* n groups; group g's name is "name g" and its fields "g.0" to "g.7". */
std::string groups(int n)
{
    std::string s;
    for (int g = 0; g < n; ++g) {
        s += std::string(40, '-') + "\r\nname " + std::to_string(g) + "\r\n";
        for (int f = 0; f < 8; ++f) s += std::to_string(g) + "." + std::to_string(f) + std::string(60, ' ') + "\r\n";
    }
    return s;
}

} // namespace

TEST_F(PresetFile, MissingListReadsAsOneEmptyPreset)
{
    PresetList list;
    EXPECT_EQ(load_preset_file(path_.c_str(), &list), plat::IoError::open_failed);
    EXPECT_EQ(list.names, std::vector<std::string>{""});
    PresetFields f;
    f.field[0] = "stale";
    EXPECT_EQ(read_preset_file(path_.c_str(), 0, &f), plat::IoError::open_failed);
    EXPECT_EQ(f.field[0], "");
    EXPECT_EQ(load_preset_file(dir_.c_str(), &list), plat::IoError::open_failed); /* a folder */
}

TEST_F(PresetFile, LargeListThroughSeveralReads)
{
    put(groups(500)); /* about 380 KB: several 64 KB chunks */
    PresetList list;
    faults::reset();
    ASSERT_EQ(load_preset_file(path_.c_str(), &list), plat::IoError::ok);
    EXPECT_GT(faults::calls(faults::Op::read), 5u);
    ASSERT_EQ(list.names.size(), 500u);
    EXPECT_EQ(list.names[499], "name 499");
    PresetFields f;
    ASSERT_EQ(read_preset_file(path_.c_str(), 321, &f), plat::IoError::ok);
    EXPECT_EQ(f.field[7].substr(0, 5), "321.7");
}

TEST_F(PresetFile, ReadFailureEndsTheListThere)
{
    put(groups(500));
    PresetList list;
    faults::reset();
    faults::fail_nth(faults::Op::read, 3); /* the third chunk cannot be read */
    ASSERT_EQ(load_preset_file(path_.c_str(), &list), plat::IoError::ok);
    EXPECT_GT(list.names.size(), 100u);
    EXPECT_LT(list.names.size(), 500u);
    for (size_t i = 0; i < list.names.size(); ++i) {
        /* Every name read is a real one, or the empty name of a group cut by the failure. */
        if (i + 1 < list.names.size()) {
            EXPECT_EQ(list.names[i], "name " + std::to_string(i));
        }
    }
}

TEST_F(PresetFile, SelectionSeesTheFileAsItIsNow)
{
    put(groups(3));
    PresetFields f;
    ASSERT_EQ(read_preset_file(path_.c_str(), 1, &f), plat::IoError::ok);
    EXPECT_EQ(f.field[0].substr(0, 3), "1.0");
    put("-\r\nnew\r\nchanged\r\n");
    ASSERT_EQ(read_preset_file(path_.c_str(), 0, &f), plat::IoError::ok);
    EXPECT_EQ(f.field[0], "changed");
    ASSERT_EQ(read_preset_file(path_.c_str(), 1, &f), plat::IoError::ok);
    EXPECT_EQ(f.field[0], "");
}

TEST_F(PresetFile, DefaultListBesideTheProgram)
{
    PathBuffer p;
    ASSERT_EQ(default_preset_list_path(&p), plat::IoError::ok);
    const std::string s = p.c_str();
    EXPECT_EQ(s.substr(s.size() - 4), ".lst");
    EXPECT_EQ(s.find("droprun_tests"), s.rfind('/') + 1);

    setenv("WINDIR", "C:\\WINDOWS", 1);
    setenv("XDG_DESKTOP_DIR", "/home/u/Schreibtisch", 1);
    const SystemFolders f = query_system_folders();
    EXPECT_EQ(f.windows, "C:\\WINDOWS");
    EXPECT_EQ(f.desktop, "/home/u/Schreibtisch");
    EXPECT_EQ(f.process, s.substr(0, s.rfind('/')));
    unsetenv("WINDIR");
    unsetenv("XDG_DESKTOP_DIR");
    setenv("HOME", "/home/v", 1);
    EXPECT_EQ(query_system_folders().windows, "");
    EXPECT_EQ(query_system_folders().desktop, "/home/v/Desktop");
}
