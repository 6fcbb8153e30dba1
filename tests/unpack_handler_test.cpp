/* unpack_handler_test.cpp -- QUILBAN's handler on real files: folders, member files, refusals that leave files alone */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/platform_faults.h"
#include "tests/unpack_samples.h"
#include "unpack/quilban_handler.h"
#include "unpack/rebuild.h"

using namespace ps2;
using namespace ps2::test;
namespace fs = std::filesystem;

namespace {

bool exists(const std::string& path) { return fs::exists(fs::path(path)); }

/* Names in a folder (raw bytes), "." and ".." left out. */
std::set<std::string> listing(const std::string& folder)
{
    const std::vector<std::string> names = names_in(folder);
    return {names.begin(), names.end()};
}

bool drop(const std::string& path, bool temp_names, ReportLog* m)
{
    return handle_quilban_file(path.c_str(), OptionBox::fixed(temp_names), m->reporter());
}

const Node kSave = dir("BASLUS-20194G05", {file("icon.sys", pattern(964)), file("GR2.ICO", pattern(5000, 2)),
                                           file("empty", {}), dir("SUB", {file("icon.sys", pattern(20, 3))})});

} // namespace

TEST(QuilbanHandler, UnpackThenRebuild)
{
    TempDir d("quilban");
    const Bytes archive = make_archive(kSave);
    put(d / "SAVE01.psu", archive);
    ReportLog m;
    ASSERT_TRUE(drop(d / "SAVE01.psu", false, &m));
    EXPECT_EQ(listing(d / "SAVE01"), (std::set<std::string>{"QUILBAN.TXT", "icon.sys", "GR2.ICO", "empty"}));
    EXPECT_EQ(get(d / "SAVE01/icon.sys"), pattern(20, 3)); /* the nested one came later */
    EXPECT_EQ(get(d / "SAVE01/GR2.ICO"), pattern(5000, 2));
    EXPECT_TRUE(get(d / "SAVE01/empty").empty());
    EXPECT_EQ(text_of(get(d / "SAVE01/QUILBAN.TXT")).substr(0, 9), "QUILBAN\r\n");
    EXPECT_TRUE(m.has(Severity::warning, "entry 10 \"icon.sys\" overwrites the member file"));
    EXPECT_TRUE(m.has(Severity::note, "unpacked 10 entries into " + (d / "SAVE01") + ": QUILBAN.TXT and 4 member files"));
    EXPECT_TRUE(m.errors().empty());

    /* Dropped again in lower case, the manifest is rebuilt: the overwritten member's data is the later one. */
    fs::rename(d / "SAVE01/QUILBAN.TXT", d / "SAVE01/quilban.txt");
    ReportLog r;
    ASSERT_TRUE(drop(d / "SAVE01/quilban.txt", false, &r));
    const Bytes rebuilt = get(d / "SAVE01/BASLUS-20194G05.psu");
    ASSERT_EQ(rebuilt.size(), archive.size()); /* 964 and 20 bytes both take 1024 */
    Bytes expected = carried_only(archive);
    std::fill_n(expected.begin() + 2048, 1024, 0);
    std::copy_n(pattern(20, 3).begin(), 20, expected.begin() + 2048); /* the first icon.sys slot */
    set_record_length(expected.data() + 1536, 20);
    EXPECT_TRUE(rebuilt == expected);
    EXPECT_TRUE(r.has(Severity::note, "rebuilt " + (d / "SAVE01/BASLUS-20194G05.psu") + ": 10 entries, 4 member files, " +
                                   std::to_string(archive.size()) + " bytes"));
}

TEST(QuilbanHandler, TempNamesAndRebuildingTwice)
{
    TempDir d("quilban");
    const Bytes archive = make_archive(kSave);
    put(d / "a.b.psu", archive);
    ReportLog m;
    ASSERT_TRUE(drop(d / "a.b.psu", true, &m));
    EXPECT_EQ(listing(d / "a.b"), (std::set<std::string>{"QUILBAN.TXT", "temp0003.bin", "temp0004.bin",
                                                          "temp0005.bin", "temp0009.bin"}));
    /* Rebuilt with the option off, the result is named after the first entry. */
    ASSERT_TRUE(drop(d / "a.b/QUILBAN.TXT", false, &m));
    EXPECT_TRUE(get(d / "a.b/BASLUS-20194G05.psu") == carried_only(archive));
    ASSERT_TRUE(drop(d / "a.b/QUILBAN.TXT", true, &m));
    EXPECT_TRUE(get(d / "a.b/temp.psu") == carried_only(archive));
    /* A member replaced by a larger file: rebuilding again overwrites the result. */
    put(d / "a.b/temp0003.bin", pattern(3000, 7));
    ASSERT_TRUE(drop(d / "a.b/QUILBAN.TXT", true, &m));
    const Bytes again = get(d / "a.b/temp.psu");
    EXPECT_EQ(again.size(), archive.size() + 2048);
    EXPECT_EQ(record_length(again.data() + 1536), 3000u);
    EXPECT_TRUE(m.errors().empty());
}

TEST(QuilbanHandler, UnpackFolderAndOddInputs)
{
    TempDir d("quilban");
    ReportLog m;
    /* No extension: the folder would take the file's own name. */
    put(d / "noext", make_archive(kSave));
    EXPECT_FALSE(drop(d / "noext", false, &m));
    EXPECT_TRUE(m.has(Severity::error, "the file has no extension"));
    EXPECT_EQ(listing(d.path()), (std::set<std::string>{"noext"}));

    /* A folder with a dot does not count as the extension. */
    fs::create_directory(d / "dir.v2");
    put(d / "dir.v2/save", make_archive(kSave));
    EXPECT_FALSE(drop(d / "dir.v2/save", false, &m));

    /* Files that do not begin as a save directory with "." and "..": refused, named for what they are. */
    const Bytes card = [] {
        Bytes c(8650752, 0xFF);
        std::memcpy(c.data(), "Sony PS2 Memory Card Format 1.2.0.0", 36);
        return c;
    }();
    Bytes file_top = make_archive(dir("SAVE", {}));
    store_u16le(file_top.data(), kModeNewFile);
    const std::pair<Bytes, std::string> not_archives[] = {
        {Bytes{}, "not a PSU archive: its first entry is not a directory followed by \".\" and \"..\"; nothing written"},
        {file_top, "not a PSU archive: its first entry is not a directory followed by \".\" and \"..\"; nothing written"},
        {card, "a card image, not a PSU archive (split it with sorvik first); nothing written"},
        {bytes_of("Ps2PowerSave"), "a MAX archive, not a PSU archive (convert it with varkon first); nothing written"},
    };
    for (const auto& [bytes, says] : not_archives) {
        ReportLog n;
        put(d / "odd.psu", bytes);
        EXPECT_FALSE(drop(d / "odd.psu", false, &n));
        EXPECT_EQ(n.errors(), std::vector<std::string>{d / "odd.psu" + ": " + says});
        EXPECT_FALSE(exists(d / "odd"));
    }

    /* A name that merely begins with QUILBAN.TXT is an archive. */
    put(d / "QUILBAN.TXT.psu", make_archive(dir("X", {})));
    EXPECT_TRUE(drop(d / "QUILBAN.TXT.psu", false, &m));
    EXPECT_TRUE(exists(d / "QUILBAN.TXT/QUILBAN.TXT"));

    /* A missing file. */
    ReportLog e;
    EXPECT_FALSE(drop(d / "missing.psu", false, &e));
    EXPECT_TRUE(e.has(Severity::error, "cannot open the archive"));
    EXPECT_FALSE(exists(d / "missing"));
}

TEST(QuilbanHandler, UnpackingAgainOverwritesInPlace)
{
    TempDir d("quilban");
    put(d / "s.psu", make_archive(kSave));
    ReportLog m;
    ASSERT_TRUE(drop(d / "s.psu", false, &m));
    put(d / "s/GR2.ICO", "edited");
    put(d / "s/QUILBAN.TXT", "edited");
    put(d / "s/notes.txt", "mine");
    ASSERT_TRUE(drop(d / "s.psu", false, &m));
    EXPECT_EQ(get(d / "s/GR2.ICO"), pattern(5000, 2));
    EXPECT_EQ(text_of(get(d / "s/QUILBAN.TXT")).substr(0, 9), "QUILBAN\r\n");
    EXPECT_EQ(text_of(get(d / "s/notes.txt")), "mine");
}

TEST(QuilbanHandler, DamagedArchivesKeepWhatThereIs)
{
    TempDir d("quilban");
    const Bytes archive = make_archive(dir("SAVE", {file("one", pattern(1000)), file("two", pattern(3000))}));
    put(d / "cut.psu", std::span<const uint8_t>(archive).first(2048 + 1024 + 512 + 100));
    /* An archive that ends early: unpacked as far as it goes, every member cut or missing told, and a failure. */
    ReportLog m;
    EXPECT_FALSE(drop(d / "cut.psu", false, &m));
    EXPECT_EQ(get(d / "cut/two"), Bytes(archive.begin() + 2048 + 1024 + 512, archive.begin() + 2048 + 1024 + 612));
    EXPECT_TRUE(m.has(Severity::warning, "entry 5 \"two\": the archive ends inside its data"));
    EXPECT_TRUE(m.has(Severity::warning, "holds 100 of its 3000 bytes"));
    EXPECT_EQ(m.count(Severity::error), 0u);

    put(d / "tail.psu", std::span<const uint8_t>(archive).first(2048 + 1024 + 300));
    ReportLog t;
    EXPECT_FALSE(drop(d / "tail.psu", false, &t));
    EXPECT_TRUE(t.has(Severity::warning, "the archive ends inside an entry: its last 300 bytes were not unpacked"));
    EXPECT_TRUE(t.has(Severity::warning, "the archive ends early: 1 member of \"SAVE\" (entry 1) is missing"));
    EXPECT_FALSE(exists(d / "tail/two"));
    put(d / "whole.psu", std::span<const uint8_t>(archive).first(2048 + 1024)); /* cut between two members */
    EXPECT_FALSE(drop(d / "whole.psu", false, &t));
    EXPECT_TRUE(t.has(Severity::warning, "whole.psu: the archive ends early: 1 member of \"SAVE\""));

    /* Not an archive at all: unpacked entry by entry, with a word of warning. */
    Bytes junk = make_archive(dir("SAVE", {file("one", pattern(10))}));
    store_u16le(junk.data() + 1536, 0x0030); /* both kind bits */
    put(d / "junk.psu", junk);
    ReportLog j;
    EXPECT_TRUE(drop(d / "junk.psu", false, &j));
    EXPECT_TRUE(j.has(Severity::warning, "not a well-formed PSU archive"));
}

TEST(QuilbanHandler, UnsafeNamesAreRefused)
{
    TempDir d("quilban");
    fs::create_directory(d / "in");
    const Bytes archive = make_archive(dir("SAVE", {file("../escaped", pattern(5)), file("quilban.txt", pattern(6)),
                                                    file("..", pattern(7)), file("ok", pattern(8))}));
    put(d / "in/s.psu", archive);
    ReportLog m;
    EXPECT_FALSE(drop(d / "in/s.psu", false, &m));
    EXPECT_EQ(listing(d / "in/s"), (std::set<std::string>{"QUILBAN.TXT", "ok"}));
    EXPECT_FALSE(exists(d / "in/escaped"));
    EXPECT_EQ(text_of(get(d / "in/s/QUILBAN.TXT")).substr(0, 9), "QUILBAN\r\n");
    EXPECT_TRUE(m.has(Severity::error, "entry 4 \"../escaped\": member file not written: the name holds a path separator"));
    EXPECT_TRUE(m.has(Severity::error, "the name is that of the manifest"));
    EXPECT_TRUE(m.has(Severity::error, "--temp-names"));

    /* Its manifest names the unsafe files: no rebuild, nothing written. */
    ReportLog r;
    EXPECT_FALSE(drop(d / "in/s/QUILBAN.TXT", false, &r));
    EXPECT_TRUE(r.has(Severity::error, "block 4 (line 59): member file \"../escaped\" cannot be used"));
    EXPECT_TRUE(r.has(Severity::error, "no archive written"));
    EXPECT_EQ(listing(d / "in/s"), (std::set<std::string>{"QUILBAN.TXT", "ok"}));

    /* With temporary names all is written and the rebuild works. */
    ReportLog t;
    EXPECT_TRUE(drop(d / "in/s.psu", true, &t));
    EXPECT_TRUE(drop(d / "in/s/QUILBAN.TXT", false, &t));
    EXPECT_TRUE(get(d / "in/s/SAVE.psu") == carried_only(archive));

    /* A first entry whose name cannot name the result: refused unless temp.psu is asked for. */
    const Bytes bad_top = make_archive(dir("../up", {file("f", pattern(3))}));
    put(d / "in/t.psu", bad_top);
    ReportLog b;
    EXPECT_TRUE(drop(d / "in/t.psu", false, &b));
    EXPECT_FALSE(drop(d / "in/t/QUILBAN.TXT", false, &b));
    EXPECT_TRUE(b.has(Severity::error, "the first entry's name \"../up\" cannot name the archive"));
    EXPECT_EQ(listing(d.path()), (std::set<std::string>{"in"}));
    EXPECT_TRUE(drop(d / "in/t/QUILBAN.TXT", true, &b));
    EXPECT_TRUE(get(d / "in/t/temp.psu") == carried_only(bad_top));
}

TEST(QuilbanHandler, RefusedRebuildsLeaveTheOldResult)
{
    TempDir d("quilban");
    put(d / "s.psu", make_archive(dir("SAVE", {file("a", pattern(100)), file("b", pattern(200))})));
    ReportLog m;
    ASSERT_TRUE(drop(d / "s.psu", false, &m));
    ASSERT_TRUE(drop(d / "s/QUILBAN.TXT", false, &m));
    const Bytes old = get(d / "s/SAVE.psu");
    ASSERT_FALSE(old.empty());

    /* Too large. */
    put(d / "s/b", Bytes(kRebuildCapacity, 1));
    ReportLog big;
    EXPECT_FALSE(drop(d / "s/QUILBAN.TXT", false, &big));
    EXPECT_TRUE(big.has(Severity::error, "member file \"b\": the archive would take at least 8195584 bytes, more than "
                                    "the 8,192,000"));
    EXPECT_EQ(get(d / "s/SAVE.psu"), old);

    /* Missing members: each one is named. */
    fs::remove(d / "s/a");
    fs::remove(d / "s/b");
    ReportLog gone;
    EXPECT_FALSE(drop(d / "s/QUILBAN.TXT", false, &gone));
    EXPECT_TRUE(gone.has(Severity::error, "block 4 (line 59): member file \"a\": cannot open the file"));
    EXPECT_TRUE(gone.has(Severity::error, "block 5 (line 78): member file \"b\": cannot open the file"));
    EXPECT_EQ(get(d / "s/SAVE.psu"), old);
    EXPECT_EQ(listing(d / "s"), (std::set<std::string>{"QUILBAN.TXT", "SAVE.psu"}));

    /* A result that would replace a member file. */
    put(d / "s/a", "x");
    put(d / "s/b", "y");
    std::string t = text_of(get(d / "s/QUILBAN.TXT"));
    t.replace(t.rfind("\r\nb\r\n") + 2, 1, "SAVE.psu");
    put(d / "s/QUILBAN.TXT", t);
    put(d / "s/SAVE.psu", "member data");
    ReportLog clash;
    EXPECT_FALSE(drop(d / "s/QUILBAN.TXT", false, &clash));
    EXPECT_TRUE(clash.has(Severity::error, "is that of the member file of block 5"));
    EXPECT_EQ(text_of(get(d / "s/SAVE.psu")), "member data");

    /* A manifest without a complete block. */
    put(d / "s/QUILBAN.TXT", "QUILBAN\r\n-----\r\n");
    ReportLog none;
    EXPECT_FALSE(drop(d / "s/QUILBAN.TXT", false, &none));
    EXPECT_TRUE(none.has(Severity::error, "no complete entry block"));
    EXPECT_TRUE(none.has(Severity::warning, "ends inside a block (1 of its 19 lines)"));
    EXPECT_EQ(listing(d / "s"), (std::set<std::string>{"QUILBAN.TXT", "SAVE.psu", "a", "b"}));
}

TEST(QuilbanHandler, PathsThatDoNotFitAreRefused)
{
    TempDir d("quilban");
    /* Build a folder path of about 990 bytes. */
    std::string deep = d.path();
    while (deep.size() + 201 < 960) {
        deep += "/" + std::string(200, 'p');
        fs::create_directory(deep);
    }
    deep += "/" + std::string(990 - deep.size() - 1, 'q');
    fs::create_directory(deep);
    ASSERT_EQ(deep.size(), 990u);

    /* The folder fits with its manifest (990 + 2 + 12); a member of 32 bytes does not. */
    const std::string long_name(32, 'L');
    put(deep + "/s.psu", make_archive(dir("SAVE", {file(long_name, pattern(10)), file("short", pattern(4))})));
    ReportLog m;
    EXPECT_FALSE(drop(deep + "/s.psu", false, &m));
    EXPECT_TRUE(m.has(Severity::error, "\"" + long_name + "\": member file not written: its path would be longer than "
                                                   "1023 bytes"));
    EXPECT_EQ(listing(deep + "/s"), (std::set<std::string>{"QUILBAN.TXT", "short"}));
    /* Its manifest cannot be rebuilt: the member's path does not fit. */
    ReportLog r;
    EXPECT_FALSE(drop(deep + "/s/QUILBAN.TXT", false, &r));
    EXPECT_TRUE(r.has(Severity::error, "its path would be longer than 1023 bytes"));
    EXPECT_EQ(listing(deep + "/s"), (std::set<std::string>{"QUILBAN.TXT", "short"}));

    /* A folder path too long for the manifest itself: nothing at all. */
    const std::string longer = deep + "/" + std::string(1016 - deep.size() - 1, 'r');
    fs::create_directory(longer);
    put(longer + "/x.psu", make_archive(dir("SAVE", {})));
    ReportLog n;
    EXPECT_FALSE(drop(longer + "/x.psu", false, &n));
    EXPECT_TRUE(n.has(Severity::error, "too long for its manifest"));
    EXPECT_EQ(listing(longer), (std::set<std::string>{"x.psu"}));
}

TEST(QuilbanHandler, SystemFailuresAreReportedAndLoseNothing)
{
    using plat::faults::Op;
    TempDir d("quilban");
    put(d / "s.psu", make_archive(dir("SAVE", {file("a", pattern(100)), file("b", pattern(200))})));
    struct Case {
        const char* what;
        Op op;
        unsigned n;
        std::set<std::string> written; /* in the unpack folder */
        const char* error;
    };
    const Case cases[] = {
        {"archive unreadable", Op::read, 1, {}, "cannot read the archive"},
        {"no folder", Op::folder, 1, {}, "cannot create the folder"},
        {"no manifest", Op::write, 1, {"a", "b"}, "QUILBAN.TXT: cannot create the file"},
        {"second member fails", Op::write, 5, /* create and write of the manifest, then of a */ {"QUILBAN.TXT", "a"}, "/b: cannot create the file"},
        {"member not moved in", Op::rename, 2, {"QUILBAN.TXT", "b"}, "/a: cannot replace the existing file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(d / "s");
        ReportLog m;
        plat::faults::reset();
        plat::faults::fail_nth(c.op, c.n);
        EXPECT_FALSE(drop(d / "s.psu", false, &m));
        plat::faults::reset();
        EXPECT_TRUE(m.has(Severity::error, c.error)) << (m.errors().empty() ? "" : m.errors()[0]);
        EXPECT_EQ(listing(d / "s"), c.written);
    }

    /* A rebuild whose member read or result write fails leaves the old result as it was. */
    fs::remove_all(d / "s");
    ReportLog m;
    ASSERT_TRUE(drop(d / "s.psu", false, &m));
    ASSERT_TRUE(drop(d / "s/QUILBAN.TXT", false, &m));
    const Bytes old = get(d / "s/SAVE.psu");
    put(d / "s/a", pattern(5000, 1));
    for (const auto& [op, n] : {std::pair{Op::read, 2u}, std::pair{Op::open, 3u}, std::pair{Op::write, 1u},
                                std::pair{Op::rename, 1u}, std::pair{Op::alloc, 2u}}) {
        SCOPED_TRACE(int(op));
        ReportLog r;
        plat::faults::reset();
        plat::faults::fail_nth(op, n);
        EXPECT_FALSE(drop(d / "s/QUILBAN.TXT", false, &r));
        plat::faults::reset();
        EXPECT_FALSE(r.errors().empty());
        EXPECT_EQ(get(d / "s/SAVE.psu"), old);
        EXPECT_EQ(listing(d / "s"), (std::set<std::string>{"QUILBAN.TXT", "SAVE.psu", "a", "b"}));
    }
}

TEST(QuilbanHandler, TheOptionIsReadOncePerFile)
{
    TempDir d("quilban");
    put(d / "s.psu", make_archive(dir("SAVE", {file("a", pattern(3))})));
    int reads = 0;
    OptionBox box;
    box.read = [](void* c) {
        ++*static_cast<int*>(c);
        return true;
    };
    box.context = &reads;
    ReportLog m;
    EXPECT_TRUE(handle_quilban_file((d / "s.psu").c_str(), box, m.reporter()));
    EXPECT_EQ(reads, 1);
    EXPECT_TRUE(exists(d / "s/temp0003.bin"));
    EXPECT_TRUE(handle_quilban_file((d / "s/QUILBAN.TXT").c_str(), box, m.reporter()));
    EXPECT_EQ(reads, 2);
    EXPECT_TRUE(exists(d / "s/temp.psu"));
}

TEST(QuilbanHandler, ShiftJisFolderNames)
{
    TempDir d("quilban");
    /* "ソ" (0x83 0x5C) and "表" (0x95 0x5C) in the folder's name. */
    const std::string folder = d / "\x83\x5C\x95\x5C";
    fs::create_directory(folder);
    const Bytes archive = make_archive(dir("BISLPS-25105", {file("\x83\x51\x81\x5B\x83\x80", pattern(50))}));
    put(folder + "/\x83\x5C.psu", archive);
    ReportLog m;
    ASSERT_TRUE(drop(folder + "/\x83\x5C.psu", false, &m));
    EXPECT_EQ(get(folder + "/\x83\x5C/\x83\x51\x81\x5B\x83\x80"), pattern(50));
    ASSERT_TRUE(drop(folder + "/\x83\x5C/QUILBAN.TXT", false, &m));
    EXPECT_TRUE(get(folder + "/\x83\x5C/BISLPS-25105.psu") == carried_only(archive));
}

TEST(QuilbanHandler, RealSavesRoundTrip)
{
    PS2_REQUIRE_REALDATA();
    const fs::path dir_path(PS2_REALDATA_DIR);
    int seen = 0;
    for (const auto& entry : fs::directory_iterator(dir_path)) {
        if (entry.path().extension() != ".psu") continue;
        SCOPED_TRACE(entry.path().filename().string());
        TempDir d("quilban");
        const Bytes archive = get(entry.path().string());
        put(d / "save.psu", archive);
        ReportLog m;
        ASSERT_TRUE(drop(d / "save.psu", false, &m));
        EXPECT_TRUE(m.warnings().empty());
        ASSERT_TRUE(drop(d / "save/QUILBAN.TXT", false, &m));
        const std::string top(psu_record_name(archive.data()));
        const Bytes rebuilt = get(d / ("save/" + top + ".psu"));
        EXPECT_TRUE(rebuilt == carried_only(archive));
        /* With temporary names too. */
        ASSERT_TRUE(drop(d / "save.psu", true, &m));
        ASSERT_TRUE(drop(d / "save/QUILBAN.TXT", true, &m));
        EXPECT_TRUE(get(d / "save/temp.psu") == carried_only(archive));
        EXPECT_TRUE(m.errors().empty());
        ++seen;
    }
    EXPECT_GE(seen, 1);
}
