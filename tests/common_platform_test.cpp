/* common_platform_test.cpp -- the POSIX platform layer: whole reads, safe replace, rename without overwrite, search,
 * the system's reasons, the current folder, terminals, Shift_JIS text */
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "common/platform.h"
#include "common/platform_faults.h"
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

/* A file of 1 MiB or more is mapped, a smaller or a larger one read into the buffer; the bytes and the
 * reported size are read_file's either way. Cut short while mapped, the process ends naming the file. */
TEST(Platform, ViewFileMapsLargeFilesAndReadsTheRest)
{
    TempDir d("ps2plat");
    std::string big(3 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7 + i / 4099);
    put(d / "big", big);
    put(d / "small", "0123456789");
    std::vector<uint8_t> buf(4 << 20);
    const struct {
        const char* name;
        size_t room;
        bool mapped;
        size_t bytes;
        uint64_t size;
    } cases[] = {{"big", buf.size(), true, big.size(), big.size()},
                 {"big", 1 << 20, false, 1 << 20, big.size()},
                 {"small", buf.size(), false, 10, 10}};
    plat::FileView v;
    for (const auto& c : cases) {
        ASSERT_EQ(plat::view_file((d / c.name).c_str(), std::span<uint8_t>(buf.data(), c.room), &v), plat::IoError::ok);
        EXPECT_EQ(v.mapped(), c.mapped) << c.name << " " << c.room;
        ASSERT_EQ(v.bytes().size(), c.bytes);
        EXPECT_EQ(v.file_size(), c.size);
        EXPECT_EQ(std::memcmp(v.bytes().data(), (c.size == 10 ? std::string("0123456789") : big).data(), c.bytes), 0);
    }
    EXPECT_EQ(plat::view_file((d / "missing").c_str(), buf, &v), plat::IoError::open_failed);
    EXPECT_TRUE(v.bytes().empty());
    plat::faults::fail_nth(plat::faults::Op::read, 1);
    EXPECT_EQ(plat::view_file((d / "big").c_str(), buf, &v), plat::IoError::read_failed);
    plat::faults::reset();

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            plat::FileView cut;
            if (plat::view_file((d / "big").c_str(), buf, &cut) != plat::IoError::ok || !cut.mapped()) std::exit(2);
            fs::resize_file(d / "big", 4096);
            volatile uint8_t sum = 0;
            for (size_t i = 0; i < cut.bytes().size(); i += 4096) sum = uint8_t(sum + cut.bytes()[i]);
            std::exit(3);
        },
        testing::ExitedWithCode(1), "big: the file was cut short by another program while it was read; stopped");
}

TEST(Platform, OutputsMeetExistingFilesAsThePolicySays)
{
    TempDir d("ps2plat");
    const std::string target = d / "out.bin";
    const uint8_t a[3] = {'n', 'e', 'w'};
    using plat::IoError, plat::OutputOutcome, plat::OutputPolicy;
    /* In order, on one target: what is there before, the policy, what the call gives, what is there after. */
    const struct {
        const char* before; /* nullptr: nothing */
        OutputPolicy policy;
        IoError error;
        OutputOutcome outcome;
        const char* after;
    } cases[] = {
        {nullptr, OutputPolicy::keep, IoError::ok, OutputOutcome::created, "new"},
        {"new", OutputPolicy::keep, IoError::ok, OutputOutcome::up_to_date, "new"},
        {"old contents", OutputPolicy::keep, IoError::output_differs, OutputOutcome::none, "old contents"},
        {"nex", OutputPolicy::keep, IoError::output_differs, OutputOutcome::none, "nex"}, /* same size */
        {"old contents", OutputPolicy::replace, IoError::ok, OutputOutcome::replaced, "new"},
        {"new", OutputPolicy::replace, IoError::ok, OutputOutcome::replaced, "new"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before ? c.before : "nothing");
        fs::remove(target);
        if (c.before) put(target, c.before);
        plat::OutputOutcome dry = OutputOutcome::none, done = OutputOutcome::none;
        EXPECT_EQ(plat::check_output(target.c_str(), a, c.policy, &dry), c.error);
        EXPECT_EQ(plat::write_output(target.c_str(), a, c.policy, &done), c.error);
        EXPECT_EQ(dry, c.outcome);
        EXPECT_EQ(done, c.outcome);
        EXPECT_EQ(get_text(target), c.after);
        EXPECT_EQ(d.names(), std::vector<std::string>{"out.bin"}); /* no temporary file left behind */
    }
    EXPECT_STREQ(plat::describe_io_error(IoError::output_differs),
                 "exists already with other content; kept (--force or -f replaces it)");
    /* A target in a folder that does not exist, and a folder of the target's name: nothing is created. */
    EXPECT_EQ(plat::write_output((d / "nope/x").c_str(), a, OutputPolicy::replace), IoError::create_failed);
    fs::create_directory(d / "dir");
    EXPECT_EQ(plat::write_output((d / "dir").c_str(), a, OutputPolicy::replace), IoError::create_failed);
    EXPECT_STREQ(plat::describe_io_error(IoError::create_failed), "cannot create the file: is a folder");
    /* Identity, whatever the spelling. */
    plat::FileId x, y;
    ASSERT_EQ(plat::query_file_id(target.c_str(), &x), IoError::ok);
    ASSERT_EQ(plat::query_file_id((d / "dir/../out.bin").c_str(), &y), IoError::ok);
    EXPECT_TRUE(x == y);
    ASSERT_EQ(plat::query_file_id((d / "dir").c_str(), &y), IoError::ok);
    EXPECT_FALSE(x == y);
    EXPECT_EQ(plat::query_file_id((d / "missing").c_str(), &y), IoError::open_failed);
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

TEST(Platform, FailuresKeepTheSystemsReason)
{
    TempDir d("ps2plat");
    put(d / "a", "A");
    const uint8_t byte[1] = {0};
    char small[4];
    uint8_t buf[4];
    plat::FileRead r;
    /* Each failing call, and the reason it keeps; the successful read after each leaves that reason. */
    const std::tuple<std::function<plat::IoError()>, plat::IoError, std::string> cases[] = {
        {[&] { return plat::read_file((d / "missing").c_str(), buf, &r); }, plat::IoError::open_failed, std::strerror(ENOENT)},
        {[&] { return plat::read_file(d.path().c_str(), buf, &r); }, plat::IoError::open_failed, "is a folder"},
        {[&] { return plat::write_file_replace((d / "nope/x").c_str(), byte); }, plat::IoError::create_failed, std::strerror(ENOENT)},
        {[&] { return plat::create_folder((d / "a/b").c_str()); }, plat::IoError::folder_failed, std::strerror(ENOTDIR)},
        {[&] { return plat::create_folder((d / "a").c_str()); }, plat::IoError::folder_failed, "exists as a file"},
        {[&] { return plat::rename_file((d / "missing").c_str(), (d / "b").c_str()); }, plat::IoError::rename_failed, std::strerror(ENOENT)},
        {[&] { return plat::rename_file((d / "a").c_str(), (d / std::string(300, 'n')).c_str()); }, plat::IoError::name_refused, std::strerror(ENAMETOOLONG)},
        {[&] { return plat::set_current_folder((d / "a").c_str()); }, plat::IoError::open_failed, std::strerror(ENOTDIR)},
        {[&] { return plat::current_folder(small, sizeof small); }, plat::IoError::path_too_long, std::strerror(ERANGE)},
    };
    for (const auto& [call, error, reason] : cases) {
        EXPECT_EQ(call(), error) << reason;
        ASSERT_EQ(plat::read_file((d / "a").c_str(), buf, &r), plat::IoError::ok);
        EXPECT_EQ(plat::last_error_text(), reason);
        EXPECT_EQ(plat::describe_io_error(error), std::string(plat::io_error_text(error)) + ": " + reason);
    }
}

TEST(Platform, CurrentFolderAndTerminals)
{
    TempDir d("ps2plat");
    const fs::path before = fs::current_path();
    char buf[4096];
    ASSERT_EQ(plat::set_current_folder(d.path().c_str()), plat::IoError::ok);
    ASSERT_EQ(plat::current_folder(buf, sizeof buf), plat::IoError::ok);
    EXPECT_EQ(fs::path(buf), fs::canonical(d.path()));
    fs::current_path(before);
    /* A file is no terminal, and its width is the fallback. */
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(plat::is_terminal(f));
    EXPECT_EQ(plat::terminal_width(f), 80u);
    std::fclose(f);
}

TEST(Platform, ShiftJisInTheLocalesCharacterSet)
{
    std::string out = "kept";
    {
        const plat::ShiftJisToLocale ascii; /* the C locale: plain ASCII, nothing converts */
        EXPECT_FALSE(ascii.convert("\x83\x5C", &out));
        EXPECT_EQ(out, "kept");
    }
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    const plat::ShiftJisToLocale utf8;
    EXPECT_TRUE(utf8.convert("\x83\x5C\x83\x51 A", &out)); /* katakana SO and GE, then " A" */
    EXPECT_EQ(out, "\xE3\x82\xBD\xE3\x82\xB2 A");
    EXPECT_FALSE(utf8.convert("A\x83", &out)); /* a lead byte without its second byte */
    EXPECT_EQ(out, "\xE3\x82\xBD\xE3\x82\xB2 A");
    /* As Windows reads code page 932, not as JIS's Shift_JIS: U+FF3C U+FF5E U+FF0D, a backslash, a tilde. */
    EXPECT_TRUE(utf8.convert("\x81\x5F\x81\x60\x81\x7C\x5C\x7E", &out));
    EXPECT_EQ(out, "\xEF\xBC\xBC\xEF\xBD\x9E\xEF\xBC\x8D\\~");

    /* Names: ASCII and UTF-8 stay, Shift_JIS that converts whole is converted, the rest stays. */
    const TextConverter names = utf8.converter();
    EXPECT_STREQ(names.charset, "UTF-8");
    for (const char* kept : {"BESCES-50501REZ", "\xE3\x82\xBD", "\x83\x5C\x80"}) {
        out = "kept";
        EXPECT_FALSE(save_name_to_user(kept, names, &out)) << kept;
        EXPECT_EQ(out, "kept");
    }
    EXPECT_TRUE(save_name_to_user("\x83\x5C.dat", names, &out));
    EXPECT_EQ(out, "\xE3\x82\xBD.dat");
    std::setlocale(LC_ALL, "C");

    for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE3\x82", "\x82\xA0"})
        EXPECT_FALSE(is_valid_utf8(bad)) << bad; /* overlong, surrogate, past U+10FFFF, cut, Shift_JIS */
    EXPECT_TRUE(is_valid_utf8("a\xC3\xA9\xE3\x82\xBD\xF0\x9F\x98\x80"));
}

TEST(Platform, BlocksAreZeroFilled)
{
    plat::Block b(8 << 20);
    ASSERT_TRUE(b.ok());
    EXPECT_TRUE(std::all_of(b.data(), b.data() + b.size(), [](uint8_t c) { return c == 0; }));
}

TEST(PlatformFaults, FailedWritesNeverTouchTheTarget)
{
    TempDir d("ps2plat");
    const std::string target = d / "card.bin";
    put(target, "precious");
    const uint8_t a[4096] = {1, 2, 3};
    const std::span<const uint8_t> pieces[2] = {a, a};
    /* Each step of a safe write over an old file: the create, either write, the flush, the final replace;
     * and the reason each keeps. */
    for (auto [op, n, expected, code] : {std::tuple{plat::faults::Op::write, 1u, plat::IoError::create_failed, ENOSPC},
                                         std::tuple{plat::faults::Op::write, 2u, plat::IoError::write_failed, ENOSPC},
                                         std::tuple{plat::faults::Op::write, 3u, plat::IoError::write_failed, ENOSPC},
                                         std::tuple{plat::faults::Op::flush, 1u, plat::IoError::flush_failed, EIO},
                                         std::tuple{plat::faults::Op::rename, 1u, plat::IoError::replace_failed, EACCES}}) {
        plat::faults::reset();
        plat::faults::fail_nth(op, n);
        EXPECT_EQ(plat::write_file_replace(target.c_str(), pieces), expected) << n;
        EXPECT_STREQ(plat::last_error_text(), std::strerror(code)) << n;
        EXPECT_EQ(get_text(target), "precious");
        EXPECT_EQ(std::distance(fs::directory_iterator(d.path()), fs::directory_iterator()), 1);
    }
    plat::faults::reset();
    EXPECT_EQ(plat::write_file_replace(target.c_str(), pieces), plat::IoError::ok);
    EXPECT_EQ(fs::file_size(target), 8192u);
    EXPECT_EQ(plat::faults::calls(plat::faults::Op::flush), 1u);
    /* A new file replaces nothing: no flush. */
    plat::faults::reset();
    EXPECT_EQ(plat::write_file_replace((d / "new.bin").c_str(), pieces), plat::IoError::ok);
    EXPECT_EQ(plat::faults::calls(plat::faults::Op::flush), 0u);

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
