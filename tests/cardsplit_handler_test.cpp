/* cardsplit_handler_test.cpp -- SORVIK's file handler on real files: image sizes, the folder, the option box,
 * names refused, overwriting, files that are not cards, failed allocations, listing */
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cardsplit/sorvik_handler.h"
#include "tests/cardsplit_testcard.h"
#include "tools/samplegen.h"

using namespace ps2;
using namespace ps2::testcard;
namespace fs = std::filesystem;

namespace {

struct Line {
    Severity severity;
    std::string text;
};

struct Lines {
    std::vector<Line> lines;
    Reporter reporter()
    {
        Reporter r;
        r.emit = [](void* ctx, Severity s, const char*, const char* text) {
            static_cast<Lines*>(ctx)->lines.push_back({s, text});
        };
        r.context = this;
        return r;
    }
    size_t count(Severity s) const
    {
        return size_t(std::count_if(lines.begin(), lines.end(), [s](const Line& l) { return l.severity == s; }));
    }
    bool has(Severity s, const std::string& part) const
    {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const Line& l) { return l.severity == s && l.text.find(part) != std::string::npos; });
    }
};

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

SplitFileResult split(const std::string& path, bool temp, Lines* lines)
{
    return split_card_image_file(path.c_str(), OptionBox::fixed(temp), lines->reporter());
}

} // namespace

TEST(SorvikHandler, ImageSizesAndForms)
{
    ThreeSaves t;
    TempFolder dir;
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
        write_bytes(dir / image.file, image.bytes);
        Lines lines;
        const SplitFileResult r = split(dir / image.file, false, &lines);
        EXPECT_TRUE(r.is_card);
        EXPECT_EQ(r.written, 3u);
        EXPECT_EQ(r.failed, 0u);
        EXPECT_EQ(lines.count(Severity::error), 0u);
        const fs::path folder = dir.path() / fs::path(image.file).stem();
        EXPECT_TRUE(lines.has(Severity::note, "folder " + folder.string()));
        EXPECT_TRUE(lines.has(Severity::note, "wrote " + (folder / "GAMESAVE02.psu").string()));
        EXPECT_EQ(folder_names(folder), (std::vector<std::string>{"GAMESAVE01.psu", "GAMESAVE02.psu", "GAMESAVE03.psu"}));
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(read_bytes((folder / ("GAMESAVE0" + std::to_string(k + 1) + ".psu")).string()), t.expected[k]);
    }
    EXPECT_EQ(read_bytes(dir / "raw/GAMESAVE01.psu").size(), 512u * 5 + 1024 + 2048); /* 4 entries, icon, data */
}

TEST(SorvikHandler, TempNamesAndTheOptionReadOnce)
{
    ThreeSaves t;
    TempFolder dir;
    write_bytes(dir / "card.vm2", coded_file(t.card));
    struct Probe {
        int reads = 0;
        bool folder_there = false;
        size_t files_then = 99;
        fs::path folder;
    } probe;
    probe.folder = dir.path() / "card";
    OptionBox box;
    box.context = &probe;
    box.read = [](void* ctx) {
        auto* p = static_cast<Probe*>(ctx);
        ++p->reads;
        p->folder_there = fs::is_directory(p->folder);
        p->files_then = p->folder_there ? folder_names(p->folder).size() : 99;
        return true;
    };
    Lines lines;
    const SplitFileResult r = split_card_image_file((dir / "card.vm2").c_str(), box, lines.reporter());
    EXPECT_EQ(r.written, 3u);
    EXPECT_EQ(probe.reads, 1);
    EXPECT_TRUE(probe.folder_there);
    EXPECT_EQ(probe.files_then, 0u);
    EXPECT_EQ(folder_names(probe.folder), (std::vector<std::string>{"temp0002.psu", "temp0003.psu", "temp0004.psu"}));
    EXPECT_EQ(read_bytes(dir / "card/temp0003.psu"), t.expected[1]);
}

TEST(SorvikHandler, EmptyCardSameImageTwiceAndFilesThatAreNotCards)
{
    TempFolder dir;
    write_bytes(dir / "empty.ps2", fresh_card().raw_file());
    Lines lines;
    SplitFileResult r = split(dir / "empty.ps2", false, &lines);
    EXPECT_TRUE(r.is_card);
    EXPECT_EQ(r.entries, 0u);
    EXPECT_TRUE(fs::is_directory(dir.path() / "empty"));
    EXPECT_TRUE(folder_names(dir.path() / "empty").empty());

    /* The same image twice: the same folder, the archives replaced; other files there stay. */
    ThreeSaves t;
    write_bytes(dir / "card.bin", t.card.raw_file());
    ASSERT_EQ(split(dir / "card.bin", false, &lines).written, 3u);
    write_bytes(dir / "card/GAMESAVE01.psu", std::vector<uint8_t>(10, 1));
    write_bytes(dir / "card/mine.txt", std::vector<uint8_t>(3, 2));
    ASSERT_EQ(split(dir / "card.bin", false, &lines).written, 3u);
    EXPECT_EQ(read_bytes(dir / "card/GAMESAVE01.psu"), t.expected[0]);
    EXPECT_EQ(folder_names(dir.path() / "card").size(), 4u);

    /* Not a card: a PSU archive, an image of another format version, an empty file, a missing file. */
    write_bytes(dir / "save.psu", samples::build_save(small_save("X")));
    std::vector<uint8_t> v2 = t.card.raw_file();
    v2[34] = '1';
    write_bytes(dir / "other.ps2", v2);
    write_bytes(dir / "nothing.ps2", {});
    for (const char* name : {"save.psu", "other.ps2", "nothing.ps2", "missing.ps2"}) {
        SCOPED_TRACE(name);
        Lines l;
        r = split(dir / name, false, &l);
        EXPECT_FALSE(r.is_card);
        EXPECT_EQ(l.count(Severity::error), 1u);
        EXPECT_FALSE(fs::exists(dir.path() / fs::path(name).stem()));
    }

    /* A short raw file reads as zeros beyond its end. */
    std::vector<uint8_t> cut = t.card.raw_file();
    cut.resize(0xA400 + 12 * 1024);
    write_bytes(dir / "cut.bin", cut);
    Lines l;
    r = split(dir / "cut.bin", false, &l);
    EXPECT_EQ(r.written + r.failed, 3u);
}

TEST(SorvikHandler, ImagePathsWithoutAFolderName)
{
    ThreeSaves t;
    TempFolder dir;
    fs::create_directory(dir.path() / "a.b");
    for (const char* name : {"card", "a.b/card", ".ps2"}) write_bytes(dir / name, t.card.raw_file());
    for (const char* name : {"card", "a.b/card", ".ps2"}) {
        SCOPED_TRACE(name);
        const auto before = folder_names(dir.path());
        Lines lines;
        const SplitFileResult r = split(dir / name, false, &lines);
        EXPECT_TRUE(r.is_card);
        EXPECT_EQ(r.written, 0u);
        EXPECT_EQ(r.failed, 3u);
        EXPECT_EQ(lines.count(Severity::error), 1u);
        EXPECT_EQ(folder_names(dir.path()), before);
        EXPECT_EQ(folder_names(dir.path() / "a.b"), (std::vector<std::string>{"card"}));
    }
}

TEST(SorvikHandler, NamesThatCannotBeFileNamesAreNotWritten)
{
    Card card = fresh_card();
    std::vector<std::vector<uint8_t>> expected;
    for (const char* name : {"GOOD1", "..", "../ESCAPE", "", ".", "GOOD2", "GOOD1"})
        expected.push_back(Placer(&card, {}).place(samples::build_save(small_save(name))));
    TempFolder dir;
    write_bytes(dir / "card.ps2", card.raw_file());
    Lines lines;
    SplitFileResult r = split(dir / "card.ps2", false, &lines);
    EXPECT_EQ(r.written, 2u);
    EXPECT_EQ(r.failed, 5u);
    EXPECT_EQ(r.refused_names, 5u);
    EXPECT_EQ(lines.count(Severity::error), 5u);
    EXPECT_TRUE(lines.has(Severity::error, "entry 3 \"..\": the name cannot be used as a file name; not written"));
    EXPECT_TRUE(lines.has(Severity::error, "entry 8 \"GOOD1\": entry 2 of the same name is written as GOOD1.psu"));
    EXPECT_EQ(folder_names(dir.path()), (std::vector<std::string>{"card", "card.ps2"}));
    EXPECT_EQ(folder_names(dir.path() / "card"), (std::vector<std::string>{"GOOD1.psu", "GOOD2.psu"}));
    EXPECT_EQ(read_bytes(dir / "card/GOOD1.psu"), expected[0]);

    /* With temp names every entry is written. */
    Lines temp_lines;
    r = split(dir / "card.ps2", true, &temp_lines);
    EXPECT_EQ(r.written, 7u);
    EXPECT_EQ(temp_lines.count(Severity::error), 0u);
    EXPECT_EQ(read_bytes(dir / "card/temp0004.psu"), expected[2]);
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

    TempFolder dir;
    write_bytes(dir / "card.ps2", t.card.raw_file());
    Lines lines;
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
    TempFolder dir;
    write_bytes(dir / "card.ps2", t.card.raw_file());
    for (int missing = 0; missing < 2; ++missing) {
        plat::Block card_buffer(missing == 0 ? 0 : kCodedImageSize);
        plat::Block work_buffer(missing == 1 ? 0 : sizeof(SplitWork));
        Lines lines;
        const SplitFileResult r = split_card_image_with((dir / "card.ps2").c_str(), OptionBox::fixed(false),
                                                        lines.reporter(), card_buffer, work_buffer);
        EXPECT_EQ(r.written, 0u);
        EXPECT_TRUE(lines.has(Severity::error, "not enough memory"));
        EXPECT_FALSE(fs::exists(dir.path() / "card"));
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
    TempFolder dir;
    write_bytes(dir / "card.ps2", coded_file(t.card));
    Lines lines;
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
    EXPECT_EQ(folder_names(dir.path()), (std::vector<std::string>{"card.ps2"}));

    write_bytes(dir / "x.psu", std::vector<uint8_t>(600, 0));
    EXPECT_FALSE(list_card_image_file((dir / "x.psu").c_str(), lines.reporter(), &listing));
}
