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
    EXPECT_EQ(r.written + r.failed + r.deleted_not_written, r.entries);
    EXPECT_TRUE(l.has(Severity::warning, "the image is 54,272 bytes; a card image is 8,388,608 or 8,650,752 ("));
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

TEST(SorvikHandler, DamageIsReportedByArchiveDeletedEntriesAreNotes)
{
    ThreeSaves t;
    const CardView card(t.card.craw());
    auto chain = [&](uint32_t first) {
        std::vector<uint32_t> c;
        (void)follow_chain(card, first, &c, {.through_freed = true});
        return c;
    };
    auto entry = [&](uint32_t first, uint32_t j) { return directory_entry(t.card.raw(), chain(first), j); };
    uint8_t* save1 = entry(kRootCluster, 2);
    uint8_t* save2 = entry(kRootCluster, 3);
    /* GAMESAVE02 deleted as the console deletes: modes and chains freed, links kept. */
    for (uint32_t j = 2; j < 4; ++j) {
        uint8_t* m = entry(record_cluster(save2), j);
        store_u16le(m, uint16_t(record_mode(m) & 0x7FFF));
        for (uint32_t c : chain(record_cluster(m))) set_fat_entry(t.card.raw(), c, fat_entry(card.raw, c) & 0x7FFFFFFF);
    }
    for (uint32_t c : chain(record_cluster(save2))) set_fat_entry(t.card.raw(), c, fat_entry(card.raw, c) & 0x7FFFFFFF);
    /* Its sixth data cluster given to GAMESAVE01's DATA, whose length then claims 9 clusters; GAMESAVE03 loses icon.sys. */
    const uint32_t reused = chain(record_cluster(entry(record_cluster(save2), 3)))[5];
    const uint8_t* data1 = entry(record_cluster(save1), 3);
    set_fat_entry(t.card.raw(), record_cluster(data1), kFatInUse | reused);
    set_fat_entry(t.card.raw(), reused, kFatEnd);
    set_record_length(entry(record_cluster(save1), 3), 9000);
    uint8_t* icon3 = entry(record_cluster(entry(kRootCluster, 4)), 2);
    store_u16le(icon3, uint16_t(record_mode(icon3) & 0x7FFF));

    TempDir dir("sorvik");
    put(dir / "card.ps2", t.card.raw_file());
    ReportLog lines;
    const SplitFileResult r = split(dir / "card.ps2", false, &lines);
    EXPECT_EQ(r.written, 3u);
    EXPECT_EQ(r.damaged, 1u);
    EXPECT_EQ(r.recovered, 1u);
    EXPECT_EQ(lines.count(Severity::warning), 0u);
    EXPECT_EQ(lines.errors(), (std::vector<std::string>{
        dir / "card.ps2: entry 2: GAMESAVE01/DATA: file of 9 clusters: its cluster chain ends after 2; the rest is written as zeros",
        dir / "card.ps2: " + dir / "card/GAMESAVE01.psu holds what could be read of a damaged save: 1 file cut (zeros stand for the missing data)"}));
    EXPECT_TRUE(lines.has(Severity::note, "entry 3 (deleted): GAMESAVE02/DATA: file of 69 clusters: its cluster chain runs into a cluster a live save now uses after 5"));
    EXPECT_TRUE(lines.has(Severity::note, "GAMESAVE02.psu (a deleted save, recovered in part: 1 of 2 files whole, 1 cut)"));
    EXPECT_TRUE(lines.has(Severity::note, "entry 4: GAMESAVE03/icon.sys: marked deleted; left out"));
    /* The deleted save's archive holds its whole icon.sys and the data up to the reused cluster, then zeros. */
    const Bytes recovered = get(dir / "card/GAMESAVE02.psu");
    ASSERT_EQ(recovered.size(), t.expected[1].size());
    const long icon = 4 * 512, data = icon + 1024 + 512, read = data + 5 * 1024;
    EXPECT_TRUE(std::equal(recovered.begin() + icon, recovered.begin() + icon + 1024, t.expected[1].begin() + icon));
    EXPECT_TRUE(std::equal(recovered.begin() + data, recovered.begin() + read, t.expected[1].begin() + data));
    EXPECT_TRUE(std::all_of(recovered.begin() + read, recovered.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(record_length(get(dir / "card/GAMESAVE03.psu").data()), 3u);
}

TEST(SorvikHandler, FailedAllocationWritesNothing)
{
    ThreeSaves t;
    TempDir dir("sorvik");
    put(dir / "card.ps2", t.card.raw_file());
    for (int missing = 0; missing < 2; ++missing) {
        plat::Block card_buffer(missing == 0 ? 0 : kCodedImageSize);
        plat::Block work_buffer(missing == 1 ? 0 : split_work_size(kStandardGeometry));
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

TEST(SorvikHandler, HealthCheckCountsWhatWasDamaged)
{
    /* Two saves of a 5,000-byte DATA (clusters a0-a4, b0-b4) on a coded card with its page codes. */
    struct Damaged {
        Card card = fresh_card();
        std::vector<uint32_t> a, b;
        Damaged()
        {
            for (const char* name : {"SAVEA", "SAVEB"}) Placer(&card, {}).place(samples::build_save(small_save(name, 5000)));
            a = data_chain(2);
            b = data_chain(3);
        }
        uint8_t* data_entry(uint32_t save)
        {
            std::vector<uint32_t> root, dir;
            (void)follow_chain(card.view(), kRootCluster, &root);
            (void)follow_chain(card.view(), record_cluster(directory_entry(card.raw(), root, save)), &dir);
            return directory_entry(card.raw(), dir, 3);
        }
        std::vector<uint32_t> data_chain(uint32_t save)
        {
            std::vector<uint32_t> c;
            (void)follow_chain(card.view(), record_cluster(data_entry(save)), &c);
            return c;
        }
        void link(uint32_t from, uint32_t to) { set_fat_entry(card.raw(), from, to); }
    };
    const char* cut = "damaged: 1 file cut (zeros stand for the missing data)";
    struct Case {
        const char* what;
        void (*damage)(Damaged&);
        uint8_t flip; /* bits of a byte of B's data flipped in the coded file */
        uint32_t cross, loops, leaving, marked_free, mismatches, lost, corrected, uncorrectable;
        const char* health; /* SAVEA's */
    } cases[] = {
        {"clean", [](Damaged&) {}, 0, 0, 0, 0, 0, 0, 0, 0, 0, "sound"},
        {"A's chain runs into B's", [](Damaged& d) { d.link(d.a[0], kFatInUse | d.b[1]); }, 0, 1, 0, 0, 0, 0, 4, 0, 0,
         "sound"},
        {"A's chain loops", [](Damaged& d) { d.link(d.a[4], kFatInUse | d.a[1]); }, 0, 0, 1, 0, 0, 0, 0, 0, 0,
         "damaged: its chains were repaired to keep it well-formed"},
        {"A's chain leaves the area", [](Damaged& d) { d.link(d.a[2], kFatInUse | 8150); }, 0, 0, 0, 1, 0, 0, 2, 0, 0, cut},
        {"A's last cluster marked free", [](Damaged& d) { d.link(d.a[4], kFatFree); }, 0, 0, 0, 0, 1, 0, 0, 0, 0, "sound"},
        {"A's length claims 9 clusters", [](Damaged& d) { set_record_length(d.data_entry(2), 9000); }, 0, 0, 0, 0, 0, 1,
         0, 0, 0, cut},
        {"a free cluster marked in use", [](Damaged& d) { d.link(8000, kFatEnd); }, 0, 0, 0, 0, 0, 0, 1, 0, 0, "sound"},
        {"one bit of B's data flipped", [](Damaged&) {}, 4, 0, 0, 0, 0, 0, 0, 1, 0, "sound"},
        {"two bits of B's data flipped", [](Damaged&) {}, 5, 0, 0, 0, 0, 0, 0, 0, 1, "sound"},
    };
    TempDir dir("sorvik");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Damaged d;
        c.damage(d);
        Bytes file = coded_file(d.card, 0); /* the page codes of the card as it is */
        file[d.card.geometry.cluster_offset(d.b[2]) / 512 * 528 + 17] ^= c.flip;
        put(dir / "card.ps2", file);
        ReportLog lines;
        CardHealth h;
        ASSERT_TRUE(check_card_image_file((dir / "card.ps2").c_str(), lines.reporter(), &h));
        const ScanCounts& n = h.scan.counts;
        EXPECT_EQ(n.count(ScanFindingKind::cross_link), c.cross);
        EXPECT_EQ(n.count(ScanFindingKind::loop), c.loops);
        EXPECT_EQ(n.count(ScanFindingKind::leaves_area), c.leaving);
        EXPECT_EQ(n.count(ScanFindingKind::marked_free), c.marked_free);
        EXPECT_EQ(n.count(ScanFindingKind::length_mismatch), c.mismatches);
        EXPECT_EQ(n.lost, c.lost);
        EXPECT_EQ(h.ecc.corrected.size(), c.corrected);
        EXPECT_EQ(h.ecc.uncorrectable.size(), c.uncorrectable);
        EXPECT_EQ(h.clean, c.cross + c.loops + c.leaving + c.marked_free + c.mismatches + c.lost + c.corrected +
                               c.uncorrectable == 0);
        ASSERT_EQ(h.saves.size(), 2u);
        EXPECT_EQ(describe_save_health(h.saves[0]), c.health);
        EXPECT_TRUE(names_in(dir.path()) == std::vector<std::string>{"card.ps2"}) << "nothing written";
    }
}

TEST(SorvikHandler, DamagedPagesAndCutImagesAreToldByPageArchiveAndOnce)
{
    ThreeSaves t;
    std::vector<uint32_t> root, dir, data;
    ASSERT_EQ(follow_chain(t.card.view(), kRootCluster, &root), CardError::ok);
    ASSERT_EQ(follow_chain(t.card.view(), record_cluster(directory_entry(t.card.raw(), root, 2)), &dir), CardError::ok);
    ASSERT_EQ(follow_chain(t.card.view(), record_cluster(directory_entry(t.card.raw(), dir, 3)), &data), CardError::ok);
    const uint32_t page = uint32_t(t.card.geometry.cluster_offset(data[1]) / 512 + 1); /* the second page of DATA's second cluster */
    const size_t at = page * 528 + 100;                                                 /* byte 1636 of DATA */
    const std::string where = "page " + std::to_string(page) + " (cluster " + std::to_string(data[1]) + ")";
    struct Case {
        uint8_t flip;
        size_t cut; /* bytes of the raw image kept; 0: the coded image whole */
        bool coded; /* a cut coded image: its form told by the code behind its first page */
    } cases[] = {{0x40, 0, true}, {0x41, 0, true}, {0, t.card.geometry.cluster_offset(root[2]), false},
                 {0, t.card.geometry.cluster_offset(root[2]), true}, {0, t.card.geometry.cluster_offset(root[0]), true}};
    TempDir d("sorvik");
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.flip));
        Bytes image = c.coded ? coded_file(t.card, 0) : t.card.raw_file();
        if (c.cut) image.resize(c.coded ? c.cut / 512 * 528 : c.cut);
        if (c.flip) image[at] ^= c.flip;
        put(d / "card.ps2", image);
        ReportLog lines;
        const SplitFileResult r = split(d / "card.ps2", false, &lines);
        const Bytes first = get(d / "card/GAMESAVE01.psu");
        if (c.flip == 0x40) { /* one bit: mended, the archive as it was */
            EXPECT_TRUE(lines.has(Severity::note, where + ": a flipped bit mended by its page code"));
            EXPECT_EQ(lines.count(Severity::error), 0u);
            EXPECT_EQ(first, t.expected[0]);
            EXPECT_EQ(r.corrected_pages, 1u);
        } else if (c.flip) { /* two bits: told with the archive, the bytes as they are */
            EXPECT_EQ(lines.errors(), (std::vector<std::string>{
                d / "card.ps2: entry 2: GAMESAVE01/DATA: " + where + " holds damage its page code cannot mend; copied as it is",
                d / "card.ps2: " + d / "card/GAMESAVE01.psu holds what could be read of a damaged save: 1 cluster copied "
                                       "with damage the page code cannot mend"}));
            Bytes want = t.expected[0];
            want[4 * 512 + 1024 + 512 + 1636] ^= 0x41;
            EXPECT_EQ(first, want);
        } else if (c.cut == t.card.geometry.cluster_offset(root[0])) { /* cut before the root: said so, once */
            EXPECT_EQ(lines.errors(), (std::vector<std::string>{d / "card.ps2: the root directory (cluster 0) lies beyond "
                                                                    "the end of the image; no entry can be read"}));
            EXPECT_EQ(r.written, 0u);
        } else { /* cut inside the root's last cluster: the entries behind the end, once */
            EXPECT_EQ(lines.errors(), (std::vector<std::string>{
                d / "card.ps2: the root directory counts 5 entries, but its cluster chain reaches beyond the end of the image "
                    "after 4; only those are split"}));
            EXPECT_EQ(r.written, 2u);
        }
        std::filesystem::remove_all(d / "card");
    }
}
