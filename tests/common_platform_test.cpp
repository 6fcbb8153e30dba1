/* common_platform_test.cpp -- the POSIX platform layer: whole reads, safe replace, rename without overwrite, search */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>

#include "common/platform.h"
#include "tests/test_support.h"

using namespace ps2;
using namespace ps2::test;
namespace fs = std::filesystem;


TEST(Platform, ReadFileReportsRealSize)
{
    TempDir d("ps2plat");
    put(d / "a", "0123456789");
    uint8_t buf[4];
    plat::FileRead r;
    ASSERT_EQ(plat::read_file((d / "a").c_str(), buf, &r), plat::IoError::ok);
    EXPECT_EQ(r.bytes_read, 4u);
    EXPECT_EQ(r.file_size, 10u);
    EXPECT_EQ(plat::read_file((d / "missing").c_str(), buf, &r), plat::IoError::open_failed);
    EXPECT_EQ(plat::read_file(d.path().c_str(), buf, &r), plat::IoError::open_failed); /* a folder */
}

TEST(Platform, WriteReplaceIsAllOrNothing)
{
    TempDir d("ps2plat");
    const std::string target = d / "out.bin";
    put(target, "old contents");
    const uint8_t a[3] = {'n', 'e', 'w'};
    ASSERT_EQ(plat::write_file_replace(target.c_str(), a), plat::IoError::ok);
    EXPECT_EQ(get_text(target), "new");
    /* No temporary file is left behind. */
    EXPECT_EQ(std::distance(fs::directory_iterator(d.path()), fs::directory_iterator()), 1);
    /* A target in a folder that does not exist: nothing is created. */
    EXPECT_NE(plat::write_file_replace((d / "nope/x").c_str(), a), plat::IoError::ok);
}

TEST(Platform, RenameNeverOverwrites)
{
    TempDir d("ps2plat");
    put(d / "a", "A");
    put(d / "b", "B");
    EXPECT_EQ(plat::rename_file((d / "a").c_str(), (d / "b").c_str()), plat::IoError::target_exists);
    EXPECT_EQ(get_text(d / "a"), "A");
    EXPECT_EQ(get_text(d / "b"), "B");
    EXPECT_EQ(plat::rename_file((d / "a").c_str(), (d / "a").c_str()), plat::IoError::ok);
    EXPECT_EQ(plat::rename_file((d / "a").c_str(), (d / "c").c_str()), plat::IoError::ok);
    EXPECT_EQ(get_text(d / "c"), "A");
    EXPECT_FALSE(plat::file_exists((d / "a").c_str()));
}

TEST(Platform, FoldersAndSearch)
{
    TempDir d("ps2plat");
    ASSERT_EQ(plat::create_folder((d / "sub").c_str()), plat::IoError::ok);
    EXPECT_EQ(plat::create_folder((d / "sub").c_str()), plat::IoError::ok); /* existing is fine */
    put(d / "sub/x.psu", "");
    put(d / "sub/y.max", "");
    EXPECT_NE(plat::create_folder((d / "sub/x.psu").c_str()), plat::IoError::ok);

    std::vector<plat::FoundEntry> found;
    ASSERT_EQ(plat::find_entries((d / "sub/*.psu").c_str(), &found), plat::IoError::ok);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, "x.psu");
    ASSERT_EQ(plat::find_entries((d / "sub/*.*").c_str(), &found), plat::IoError::ok);
    EXPECT_EQ(std::count_if(found.begin(), found.end(), [](auto& f) { return !f.is_folder; }), 2);
    ASSERT_EQ(plat::find_entries((d / "sub").c_str(), &found), plat::IoError::ok);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_TRUE(found[0].is_folder);
    EXPECT_EQ(plat::find_entries((d / "none*").c_str(), &found), plat::IoError::search_failed);
}

TEST(Platform, BlocksAreZeroFilled)
{
    plat::Block b(8 << 20);
    ASSERT_TRUE(b.ok());
    EXPECT_TRUE(std::all_of(b.data(), b.data() + b.size(), [](uint8_t c) { return c == 0; }));
}

#include "common/platform_faults.h"

TEST(PlatformFaults, FailedWritesNeverTouchTheTarget)
{
    TempDir d("ps2plat");
    const std::string target = d / "card.bin";
    put(target, "precious");
    const uint8_t a[4096] = {1, 2, 3};
    const std::span<const uint8_t> pieces[2] = {a, a};
    /* Each step of a safe write: the create, either write, the final replace. */
    for (auto [op, n, expected] : {std::tuple{plat::faults::Op::write, 1u, plat::IoError::create_failed},
                                   std::tuple{plat::faults::Op::write, 2u, plat::IoError::write_failed},
                                   std::tuple{plat::faults::Op::write, 3u, plat::IoError::write_failed},
                                   std::tuple{plat::faults::Op::rename, 1u, plat::IoError::replace_failed}}) {
        plat::faults::reset();
        plat::faults::fail_nth(op, n);
        EXPECT_EQ(plat::write_file_replace(target.c_str(), pieces), expected) << n;
        EXPECT_EQ(get_text(target), "precious");
        EXPECT_EQ(std::distance(fs::directory_iterator(d.path()), fs::directory_iterator()), 1);
    }
    plat::faults::reset();
    EXPECT_EQ(plat::write_file_replace(target.c_str(), pieces), plat::IoError::ok);
    EXPECT_EQ(fs::file_size(target), 8192u);

    plat::faults::fail_nth(plat::faults::Op::alloc, 1);
    plat::Block b(4096);
    EXPECT_FALSE(b.ok());
    plat::faults::fail_nth(plat::faults::Op::open, 1);
    uint8_t buf[4];
    plat::FileRead r;
    EXPECT_EQ(plat::read_file(target.c_str(), buf, &r), plat::IoError::open_failed);
    plat::faults::fail_nth(plat::faults::Op::read, 1);
    EXPECT_EQ(plat::read_file(target.c_str(), buf, &r), plat::IoError::read_failed);
    plat::faults::reset();
}
