/* cardsplit_handler_test.cpp -- SORVIK's file handler on real files: image sizes, the folder, the option box,
 * names refused, overwriting, files that are not cards, failed allocations, listing */
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cardsplit/sorvik_handler.h"
#include "tests/cardsplit_testcard.h"
#include "tests/test_support.h"
#include "tools/samplegen.h"

using namespace ps2;
using namespace ps2::testcard;
using namespace ps2::test;
namespace fs = std::filesystem;

namespace {

samples::Save small_save(const std::string& name, uint32_t size = 1500)
{
    samples::Save s;
    s.name = name;
    s.title = "Title of " + name;
    s.members = {{"icon.sys", 964, samples::Fill::icon, false, {}}, {"DATA", size, samples::Fill::random, false, {}}};
    return s;
}

/* A card of three saves, the middle one deleted, and the archives they split into. */
struct ThreeSaves {
    Card card = fresh_card();
    std::vector<std::vector<uint8_t>> expected;
    ThreeSaves()
    {
        expected.push_back(Placer(&card, {}).place(samples::build_save(small_save("GAMESAVE01"))));
        expected.push_back(Placer(&card, {.deleted = true}).place(samples::build_save(small_save("GAMESAVE02", 70000))));
        expected.push_back(Placer(&card, {}).place(samples::build_save(small_save("GAMESAVE03", 0))));
    }
};

SplitFileResult split(const std::string& path, bool temp, ReportLog* lines)
{
    return split_card_image_file(path.c_str(), OptionBox::fixed(temp), lines->reporter());
}

} // namespace

TEST(SorvikHandler, ImageSizesAndForms)
{
    ThreeSaves t;
    TempDir dir("sorvik");
    std::vector<uint8_t> long_raw = t.card.raw_file();
    long_raw.resize(kCodedImageSize - 1, 0xEE); /* 8,650,751 bytes: still taken as raw */
    const struct {
        const char* file;
        std::vector<uint8_t> bytes;
    } images[] = {
        {"coded.ps2", coded_file(t.card, 4)},
        {"raw.bin", t.card.raw_file()},
        {"long.bin", long_raw},
    };
    for (const auto& image : images) {
        SCOPED_TRACE(image.file);
        put(dir / image.file, image.bytes);
        ReportLog lines;
        const SplitFileResult r = split(dir / image.file, false, &lines);
        EXPECT_TRUE(r.is_card);
        EXPECT_EQ(r.written, 3u);
        EXPECT_EQ(r.failed, 0u);
        EXPECT_EQ(lines.count(Severity::error), 0u);
        const fs::path folder = dir / fs::path(image.file).stem().string();
        EXPECT_TRUE(lines.has(Severity::note, "folder " + folder.string()));
        EXPECT_TRUE(lines.has(Severity::note, "wrote " + (folder / "GAMESAVE02.psu").string()));
        EXPECT_EQ(names_in(folder), (std::vector<std::string>{"GAMESAVE01.psu", "GAMESAVE02.psu", "GAMESAVE03.psu"}));
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(get((folder / ("GAMESAVE0" + std::to_string(k + 1) + ".psu")).string()), t.expected[k]);
    }
    EXPECT_EQ(get(dir / "raw/GAMESAVE01.psu").size(), 512u * 5 + 1024 + 2048); /* 4 entries, icon, data */
}

TEST(SorvikHandler, TempNamesAndTheOptionReadOnce)
{
    ThreeSaves t;
    TempDir dir("sorvik");
    put(dir / "card.vm2", coded_file(t.card));
    struct Probe {
        int reads = 0;
        bool folder_there = false;
        size_t files_then = 99;
        fs::path folder;
    } probe;
    probe.folder = dir / "card";
    OptionBox box;
    box.context = &probe;
    box.read = [](void* ctx) {
        auto* p = static_cast<Probe*>(ctx);
        ++p->reads;
        p->folder_there = fs::is_directory(p->folder);
        p->files_then = p->folder_there ? names_in(p->folder).size() : 99;
        return true;
    };
    ReportLog lines;
    const SplitFileResult r = split_card_image_file((dir / "card.vm2").c_str(), box, lines.reporter());
    EXPECT_EQ(r.written, 3u);
    EXPECT_EQ(probe.reads, 1);
    EXPECT_TRUE(probe.folder_there);
    EXPECT_EQ(probe.files_then, 0u);
    EXPECT_EQ(names_in(probe.folder), (std::vector<std::string>{"temp0002.psu", "temp0003.psu", "temp0004.psu"}));
    EXPECT_EQ(get(dir / "card/temp0003.psu"), t.expected[1]);
}

TEST(SorvikHandler, EmptyCardSameImageTwiceAndFilesThatAreNotCards)
{
    TempDir dir("sorvik");
    put(dir / "empty.ps2", fresh_card().raw_file());
    ReportLog lines;
    SplitFileResult r = split(dir / "empty.ps2", false, &lines);
    EXPECT_TRUE(r.is_card);
    EXPECT_EQ(r.entries, 0u);
    EXPECT_TRUE(fs::is_directory(dir / "empty"));
    EXPECT_TRUE(names_in(dir / "empty").empty());

    /* The same image twice: the same folder, the archives replaced; other files there stay. */
    ThreeSaves t;
    put(dir / "card.bin", t.card.raw_file());
    ASSERT_EQ(split(dir / "card.bin", false, &lines).written, 3u);
    put(dir / "card/GAMESAVE01.psu", std::vector<uint8_t>(10, 1));
    put(dir / "card/mine.txt", std::vector<uint8_t>(3, 2));
    ASSERT_EQ(split(dir / "card.bin", false, &lines).written, 3u);
    EXPECT_EQ(get(dir / "card/GAMESAVE01.psu"), t.expected[0]);
    EXPECT_EQ(names_in(dir / "card").size(), 4u);

    /* Not a card: a PSU archive, an image of another format version, an empty file, a missing file. */
    put(dir / "save.psu", samples::build_save(small_save("X")));
    std::vector<uint8_t> v2 = t.card.raw_file();
    v2[34] = '1';
    put(dir / "other.ps2", v2);
    put(dir / "nothing.ps2", Bytes{});
    for (const char* name : {"save.psu", "other.ps2", "nothing.ps2", "missing.ps2"}) {
        SCOPED_TRACE(name);
        ReportLog l;
        r = split(dir / name, false, &l);
        EXPECT_FALSE(r.is_card);
        EXPECT_EQ(l.count(Severity::error), 1u);
        EXPECT_FALSE(fs::exists(dir / fs::path(name).stem().string()));
    }

    /* A short raw file reads as zeros beyond its end. */
    std::vector<uint8_t> cut = t.card.raw_file();
    cut.resize(0xA400 + 12 * 1024);
    put(dir / "cut.bin", cut);
    ReportLog l;
    r = split(dir / "cut.bin", false, &l);
    EXPECT_EQ(r.written + r.failed, 3u);
}

TEST(SorvikHandler, ImagePathsWithoutAFolderName)
{
    ThreeSaves t;
    TempDir dir("sorvik");
    fs::create_directory(dir / "a.b");
    for (const char* name : {"card", "a.b/card", ".ps2"}) put(dir / name, t.card.raw_file());
    for (const char* name : {"card", "a.b/card", ".ps2"}) {
        SCOPED_TRACE(name);
        const auto before = names_in(dir.path());
        ReportLog lines;
        const SplitFileResult r = split(dir / name, false, &lines);
        EXPECT_TRUE(r.is_card);
        EXPECT_EQ(r.written, 0u);
        EXPECT_EQ(r.failed, 3u);
        EXPECT_EQ(lines.count(Severity::error), 1u);
        EXPECT_EQ(names_in(dir.path()), before);
        EXPECT_EQ(names_in(dir / "a.b"), (std::vector<std::string>{"card"}));
    }
}

TEST(SorvikHandler, NamesThatCannotBeFileNamesAreNotWritten)
{
    Card card = fresh_card();
    std::vector<std::vector<uint8_t>> expected;
    for (const char* name : {"GOOD1", "..", "../ESCAPE", "", ".", "GOOD2", "GOOD1"})
        expected.push_back(Placer(&card, {}).place(samples::build_save(small_save(name))));
    TempDir dir("sorvik");
    put(dir / "card.ps2", card.raw_file());
    ReportLog lines;
    SplitFileResult r = split(dir / "card.ps2", false, &lines);
    EXPECT_EQ(r.written, 2u);
    EXPECT_EQ(r.failed, 5u);
    EXPECT_EQ(r.refused_names, 5u);
    EXPECT_EQ(lines.count(Severity::error), 5u);
    EXPECT_TRUE(lines.has(Severity::error, "entry 3 \"..\": the name cannot be used as a file name; not written"));
    EXPECT_TRUE(lines.has(Severity::error, "entry 8 \"GOOD1\": entry 2 of the same name is written as GOOD1.psu"));
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"card", "card.ps2"}));
    EXPECT_EQ(names_in(dir / "card"), (std::vector<std::string>{"GOOD1.psu", "GOOD2.psu"}));
    EXPECT_EQ(get(dir / "card/GOOD1.psu"), expected[0]);

    /* With temp names every entry is written. */
    ReportLog temp_lines;
    r = split(dir / "card.ps2", true, &temp_lines);
    EXPECT_EQ(r.written, 7u);
    EXPECT_EQ(temp_lines.count(Severity::error), 0u);
    EXPECT_EQ(get(dir / "card/temp0004.psu"), expected[2]);
}

TEST(SorvikHandler, DamageIsReportedAndDeletedSavesOnlyWarn)
{
    ThreeSaves t;
    /* The deleted save's chain freed after its first cluster, as the console does; the live one's data cut. */
    std::vector<uint32_t> root;
    ASSERT_EQ(follow_chain(t.card.craw(), kRootCluster, &root), CardError::ok);
    const uint8_t* deleted = directory_entry(t.card.craw(), root, 3);
    set_fat_entry(t.card.raw(), record_cluster(deleted), kFatFree);
    std::vector<uint32_t> live;
    ASSERT_EQ(follow_chain(t.card.craw(), record_cluster(directory_entry(t.card.craw(), root, 2)), &live), CardError::ok);
    set_record_length(directory_entry(t.card.raw(), live, 3), 9000);

    TempDir dir("sorvik");
    put(dir / "card.ps2", t.card.raw_file());
    ReportLog lines;
    const SplitFileResult r = split(dir / "card.ps2", false, &lines);
    EXPECT_EQ(r.written, 3u);
    EXPECT_EQ(r.damaged, 2u);
    EXPECT_EQ(lines.count(Severity::error), 1u);
    EXPECT_EQ(lines.count(Severity::warning), 1u);
    EXPECT_TRUE(lines.has(Severity::error, "entry 2: GAMESAVE01/DATA: file of 9 clusters: its cluster chain ends after 2"));
    EXPECT_TRUE(lines.has(Severity::warning, "entry 3 (deleted): GAMESAVE02: directory of 4 entries"));
}

TEST(SorvikHandler, FailedAllocationWritesNothing)
{
    ThreeSaves t;
    TempDir dir("sorvik");
    put(dir / "card.ps2", t.card.raw_file());
    for (int missing = 0; missing < 2; ++missing) {
        plat::Block card_buffer(missing == 0 ? 0 : kCodedImageSize);
        plat::Block work_buffer(missing == 1 ? 0 : sizeof(SplitWork));
        ReportLog lines;
        const SplitFileResult r = split_card_image_with((dir / "card.ps2").c_str(), OptionBox::fixed(false),
                                                        lines.reporter(), card_buffer, work_buffer);
        EXPECT_EQ(r.written, 0u);
        EXPECT_TRUE(lines.has(Severity::error, "not enough memory"));
        EXPECT_FALSE(fs::exists(dir / "card"));
    }
}

TEST(SorvikHandler, ListingWritesNothing)
{
    ThreeSaves t;
    Placer(&t.card, {}).place([] {
        std::vector<uint8_t> a(kPsuEntrySize + 1024);
        PsuWriter w(a);
        EXPECT_TRUE(w.add_file(make_file_entry("README", 5), std::vector<uint8_t>(5, 'x')));
        return a;
    }());
    TempDir dir("sorvik");
    put(dir / "card.ps2", coded_file(t.card));
    ReportLog lines;
    CardListing listing;
    ASSERT_TRUE(list_card_image_file((dir / "card.ps2").c_str(), lines.reporter(), &listing));
    ASSERT_EQ(listing.entries.size(), 4u);
    EXPECT_EQ(listing.entries[0].index, 2u);
    EXPECT_STREQ(listing.entries[0].name, "GAMESAVE01");
    EXPECT_EQ(listing.entries[0].length, 4u);
    EXPECT_TRUE(listing.entries[0].has_title);
    EXPECT_STREQ(listing.entries[0].title, "Title of GAMESAVE01");
    EXPECT_EQ(listing.entries[1].mode & 0x8000, 0);
    EXPECT_STREQ(listing.entries[3].name, "README");
    EXPECT_EQ(listing.entries[3].length, 5u);
    EXPECT_FALSE(listing.entries[3].has_title);
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"card.ps2"}));

    put(dir / "x.psu", std::vector<uint8_t>(600, 0));
    EXPECT_FALSE(list_card_image_file((dir / "x.psu").c_str(), lines.reporter(), &listing));
}
