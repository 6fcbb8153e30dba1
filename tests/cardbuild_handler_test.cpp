/* cardbuild_handler_test.cpp -- adding paths by search, building and writing whole images: both forms, files
 * left out, a full card that writes nothing, real archives */
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "card/ecc.h"
#include "cardbuild/taviro_handler.h"
#include "common/platform_faults.h"
#include "cardbuild_gui_fixture.h"
#include "cardbuild_test_util.h"
#include "tests/test_support.h"

using namespace ps2;
using namespace ps2::test;
namespace fs = std::filesystem;
using samples::Fill;

namespace {

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

} // namespace

TEST(TaviroAddPath, FoldersRecurseDotFoldersSkipped)
{
    TempDir d("taviro");
    fs::create_directories(d / "saves/sub/deeper");
    fs::create_directories(d / "saves/.hidden");
    fs::create_directories(d / "saves/sub/.git");
    fs::create_directories(d / "saves/empty");
    put(d / "saves/a.psu", "a");
    put(d / "saves/notes.txt", "n");
    put(d / "saves/sub/b.psu", "b");
    put(d / "saves/sub/deeper/c.PSU", "c");
    put(d / "saves/.hidden/h.psu", "h");
    put(d / "saves/sub/.git/g", "g");
    put(d / "saves/.dotfile", "f"); /* only folders beginning with "." are skipped */

    std::vector<std::string> list;
    AddPathResult r = add_path((d / "saves").c_str(), kPosixRules, &list);
    EXPECT_TRUE(r.matched);
    EXPECT_EQ(r.added, 5u);
    EXPECT_EQ(sorted(list), sorted({d / "saves/a.psu", d / "saves/notes.txt", d / "saves/sub/b.psu",
                                    d / "saves/sub/deeper/c.PSU", d / "saves/.dotfile"}));
    /* Depth-first: a folder's files come together, right where the folder was met. */
    const auto b = std::find(list.begin(), list.end(), d / "saves/sub/b.psu");
    const auto c = std::find(list.begin(), list.end(), d / "saves/sub/deeper/c.PSU");
    EXPECT_EQ(std::abs(int(b - c)), 1);

    /* A file, the same file again, a pattern, and nothing at all. */
    list.clear();
    r = add_path((d / "saves/a.psu").c_str(), kPosixRules, &list);
    r = add_path((d / "saves/a.psu").c_str(), kPosixRules, &list);
    EXPECT_EQ(list, (std::vector<std::string>{d / "saves/a.psu", d / "saves/a.psu"}));
    list.clear();
    r = add_path((d / "saves/*.psu").c_str(), kPosixRules, &list);
    EXPECT_EQ(list, std::vector<std::string>{d / "saves/a.psu"});
    list.clear();
    r = add_path((d / "missing").c_str(), kPosixRules, &list);
    EXPECT_FALSE(r.matched);
    EXPECT_TRUE(list.empty());
    r = add_path((d / "saves/empty").c_str(), kPosixRules, &list);
    EXPECT_TRUE(r.matched);
    EXPECT_EQ(r.added, 0u);
}

TEST(TaviroAddPath, BracketsAreCharactersNotPatterns)
{
    /* MALETO names archives "NAME-[TITLE].psu"; only "*" and "?" are wildcards, as on Windows. */
    TempDir d("taviro");
    put(d / "SAVE-[My Title].psu", "x");
    put(d / "SAVE-M.psu", "x");
    std::vector<std::string> list;
    EXPECT_EQ(add_path((d / "SAVE-[My Title].psu").c_str(), kPosixRules, &list).added, 1u);
    EXPECT_EQ(add_path((d / "*-[My Title].psu").c_str(), kPosixRules, &list).added, 1u);
    EXPECT_EQ(add_path((d / "SAVE-[M]*").c_str(), kPosixRules, &list).added, 0u);
    EXPECT_EQ(list, (std::vector<std::string>{d / "SAVE-[My Title].psu", d / "SAVE-[My Title].psu"}));
}

TEST(TaviroAddPath, PathsBeyondTheCapacityAreCountedNotCut)
{
    TempDir d("taviro");
    std::string deep = d.path();
    while (deep.size() < 1000) deep += "/" + std::string(60, 'd');
    fs::create_directories(deep);
    put(deep + "/" + std::string(40, 'f'), "x");
    put(d / "ok", "x");
    std::vector<std::string> list;
    const AddPathResult r = add_path(d.path().c_str(), kPosixRules, &list);
    EXPECT_EQ(r.added, 1u);
    EXPECT_EQ(r.too_long, 1u);
    for (const auto& p : list) EXPECT_LT(p.size(), kPathCapacity);
}

TEST(TaviroBuild, FormFromTheExtension)
{
    EXPECT_EQ(card_form_for_path("card.bin", kPosixRules), CardForm::raw);
    EXPECT_EQ(card_form_for_path("CARD.BIN", kPosixRules), CardForm::raw);
    EXPECT_EQ(card_form_for_path("card.vm2", kPosixRules), CardForm::coded);
    EXPECT_EQ(card_form_for_path("card.ps2", kPosixRules), CardForm::coded);
    EXPECT_EQ(card_form_for_path("card", kPosixRules), CardForm::coded);
    EXPECT_EQ(card_form_for_path("dir.bin/card", kPosixRules), CardForm::coded);
    EXPECT_EQ(card_form_for_path("card.bin.vm2", kPosixRules), CardForm::coded);
    EXPECT_EQ(card_form_for_path("C:\\x.bin\\card.BIN", kWindowsShiftJisRules), CardForm::raw);
}

TEST(TaviroBuild, WorkedExampleInBothForms)
{
    TempDir d("taviro");
    const auto one = save_bytes("SAVE-ONE", {file_member("A", 3000), file_member("B", 100)}, 3);
    const auto two = save_bytes("SAVE-TWO", {file_member("C", 1024), file_member("D", 0, Fill::zeros)}, 4);
    put(d / "one.psu", one);
    put(d / "two.psu", two);
    const std::vector<std::string> list = {d / "one.psu", d / "two.psu"};

    MemCard expected;
    ArchivePlan plan;
    ASSERT_EQ(expected.builder.add_archive(one, &plan), BuildError::ok);
    ASSERT_EQ(expected.builder.add_archive(two, &plan), BuildError::ok);

    ReportLog cap;
    const CardBuildResult raw = build_card_file(list, CardForm::raw, (d / "card.bin").c_str(), cap.reporter());
    ASSERT_TRUE(raw.written);
    EXPECT_EQ(raw.saves_placed, 2u);
    EXPECT_EQ(raw.clusters_used, 11u);
    EXPECT_EQ(raw.clusters_free, 8135u - 11u);
    EXPECT_EQ(get(d / "card.bin"), expected.bytes);
    EXPECT_EQ(cap.count(Severity::warning) + cap.count(Severity::error), 0u);

    const CardBuildResult coded = build_card_file(list, CardForm::coded, (d / "card.vm2").c_str(), {});
    ASSERT_TRUE(coded.written);
    const auto bytes = get(d / "card.vm2");
    ASSERT_EQ(bytes.size(), kCodedImageSize);
    std::vector<uint8_t> want(kCodedImageSize);
    build_coded_image(expected.image(), std::span<uint8_t, kCodedImageSize>(want));
    EXPECT_EQ(bytes, want);
    /* Coded up to the end of cluster 10, the last one in use. */
    const size_t end_page = (0xA400 + 11 * 1024) / 512;
    EXPECT_EQ(bytes[(end_page - 1) * 528 + 512 + 12], 0);
    EXPECT_EQ(bytes[end_page * 528 + 512], 0xFF);

    /* An empty list writes a fresh card, in both forms. */
    ASSERT_TRUE(build_card_file({}, CardForm::coded, (d / "fresh.ps2").c_str(), {}).written);
    ASSERT_TRUE(build_card_file({}, CardForm::raw, (d / "fresh.bin").c_str(), {}).written);
    std::vector<uint8_t> fresh(kRawImageSize);
    layout_fresh_card(RawImage(fresh.data(), kRawImageSize));
    EXPECT_EQ(get(d / "fresh.bin"), fresh);
    EXPECT_EQ(get(d / "fresh.ps2").size(), kCodedImageSize);
}

TEST(TaviroBuild, FilesThatCannotBePlacedWholeAreLeftOut)
{
    TempDir d("taviro");
    const auto big = save_bytes("BIG", {file_member("DATA", 90000, Fill::random)}, 5);
    const auto small = save_bytes("SMALL", {file_member("X", 10)}, 6);
    put(d / "big.psu", big);
    put(d / "small.psu", small);
    /* The first 40,000 bytes of the big archive: its file's length runs into
     * where the big archive's bytes still lie in the read buffer. */
    put(d / "cut.psu", std::span<const uint8_t>(big.data(), 40000));
    put(d / "empty.psu", std::string());
    put(d / "huge.psu", std::string(kArchiveReadLimit + 1, '\0'));
    put(d / "notes.txt", "# notes\nnothing to see here, just text long enough to be read as records\n" +
                             std::string(3000, '.'));
    fs::create_directories(d / "folder.psu");
    const std::vector<std::string> list = {d / "big.psu",   d / "cut.psu",   d / "missing.psu", d / "empty.psu",
                                           d / "huge.psu",  d / "folder.psu", d / "notes.txt",   d / "small.psu"};
    ReportLog cap;
    const CardBuildResult r = build_card_file(list, CardForm::raw, (d / "card.bin").c_str(), cap.reporter());
    ASSERT_TRUE(r.written);
    EXPECT_EQ(r.saves_placed, 2u);
    ASSERT_EQ(r.left_out.size(), 6u);
    const size_t indexes[] = {1, 2, 3, 4, 5, 6};
    for (size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(r.left_out[k].index, indexes[k]);
        EXPECT_EQ(r.left_out[k].path, list[indexes[k]]);
    }
    EXPECT_EQ(r.left_out[0].reason, build_error_text(BuildError::truncated_data));
    EXPECT_EQ(r.left_out[3].reason, build_error_text(BuildError::too_large));
    EXPECT_EQ(r.left_out[5].reason, build_error_text(BuildError::no_links));
    /* The window's words: a file the recogniser does not know that does not begin as an archive is not a
     * save archive; an archive cut short keeps the detail. */
    EXPECT_EQ(r.left_out[5].window_reason, "not a save archive");
    EXPECT_EQ(r.left_out[0].window_reason, r.left_out[0].reason);
    EXPECT_EQ(cap.count(Severity::error), 6u);

    const auto card = get(d / "card.bin");
    ASSERT_EQ(card.size(), kRawImageSize);
    const ConstRawImage image(card.data(), kRawImageSize);
    EXPECT_EQ(root_entry_count(image), 4u);
    CardChecker check(image);
    check.expect_save(2, big);
    check.expect_save(3, small);
    check.expect_clusters_owned_once(find_first_free_cluster(image));

    const std::string text = describe_left_out(r, 4);
    EXPECT_NE(text.find(d / "cut.psu"), std::string::npos);
    EXPECT_NE(text.find("\n... and 2 more (run the taviro command for the whole list)\n"), std::string::npos);
    EXPECT_EQ(text.find(d / "folder.psu"), std::string::npos);
}

TEST(TaviroBuild, FullCardIsRefusedAndWritesNothing)
{
    TempDir d("taviro");
    const auto a = save_bytes("FIRST", {file_member("DATA", 5000 * 1024, Fill::zeros)}, 1);
    const auto b = save_bytes("SECOND", {file_member("DATA", 3200 * 1024, Fill::zeros)}, 2);
    const auto c = save_bytes("THIRD", {file_member("DATA", 10)}, 3);
    put(d / "a.psu", a);
    put(d / "b.psu", b);
    put(d / "c.psu", c);
    put(d / "card.vm2", std::string("an older card"));
    ReportLog cap;
    const CardBuildResult r =
        build_card_file(std::vector<std::string>{d / "a.psu", d / "b.psu", d / "c.psu"}, CardForm::coded,
                        (d / "card.vm2").c_str(), cap.reporter());
    EXPECT_FALSE(r.written);
    ASSERT_TRUE(r.card_full);
    EXPECT_EQ(r.full_index, 1u);
    EXPECT_EQ(r.full_path, d / "b.psu");
    EXPECT_EQ(r.full_needed, 2u + 3200u);
    EXPECT_EQ(r.full_free, 8134u - 5003u);
    EXPECT_EQ(get(d / "card.vm2"), std::vector<uint8_t>({'a', 'n', ' ', 'o', 'l', 'd', 'e', 'r', ' ', 'c', 'a', 'r', 'd'}));
    EXPECT_TRUE(cap.has(Severity::error, "does not fit"));
    const std::string text = describe_full_card(r);
    EXPECT_NE(text.find(d / "b.psu"), std::string::npos);
    EXPECT_NE(text.find("Nothing was written"), std::string::npos);

    /* No file is created where there was none. */
    const CardBuildResult r2 =
        build_card_file(std::vector<std::string>{d / "a.psu", d / "b.psu"}, CardForm::raw, (d / "new.bin").c_str(), {});
    EXPECT_TRUE(r2.card_full);
    EXPECT_FALSE(fs::exists(d / "new.bin"));
    /* No temporary file left behind (they are named after their target with a random suffix). */
    EXPECT_EQ(d.names(), (std::vector<std::string>{"a.psu", "b.psu", "c.psu", "card.vm2"}));
}

TEST(TaviroBuild, WarningsAndWriteFailure)
{
    TempDir d("taviro");
    const auto s = save_bytes("TWICE", {file_member("X", 10)});
    put(d / "s.psu", s);
    put(d / "folded.psu", save_bytes("TwIcE", {file_member("Y", 10)}));
    auto cut = save_bytes("CUT", {file_member("KEEP", 10), file_member("GONE", 10)});
    store_u16le(cut.data() + 1536 + 512 + 1024, 0); /* GONE is of neither kind */
    put(d / "cut.psu", cut);
    auto tail = save_bytes("TAIL", {file_member("X", 10)});
    tail.resize(tail.size() + 700, 0xEE);
    put(d / "tail.psu", tail);

    ReportLog cap;
    const std::vector<std::string> list = {d / "s.psu", d / "s.psu", d / "cut.psu", d / "folded.psu", d / "tail.psu"};
    const CardBuildResult r = build_card_file(list, CardForm::raw, (d / "card.bin").c_str(), cap.reporter());
    EXPECT_TRUE(r.written);
    EXPECT_EQ(r.saves_placed, 3u);
    /* A second save of one name (a-z folded, as the card compares them) is left out, not placed twice. */
    ASSERT_EQ(r.left_out.size(), 2u);
    EXPECT_EQ(r.left_out[0].reason, "a save of this name is already on the card (\"TWICE\", from " + (d / "s.psu") + ")");
    EXPECT_EQ(r.left_out[1].index, 3u);
    EXPECT_EQ(cap.count(Severity::error), 2u);
    EXPECT_TRUE(cap.has(Severity::warning, "neither a file nor a directory"));
    EXPECT_TRUE(cap.has(Severity::warning, "700 bytes behind the end"));
    EXPECT_EQ(cap.count(Severity::warning), 2u);

    ReportLog fail;
    const CardBuildResult w =
        build_card_file(list, CardForm::raw, (d / "no-such-folder/card.bin").c_str(), fail.reporter());
    EXPECT_FALSE(w.written);
    EXPECT_NE(w.write_error, plat::IoError::ok);
    EXPECT_TRUE(fail.has(Severity::error, "no-such-folder"));
}

TEST(TaviroBuild, RealArchivesPlaceCleanly)
{
    PS2_REQUIRE_REALDATA();
    const fs::path dir = PS2_REALDATA_DIR;
    std::vector<std::string> list;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".psu") list.push_back(e.path().string());
    std::sort(list.begin(), list.end());
    ASSERT_FALSE(list.empty());
    TempDir d("taviro");
    ReportLog cap;
    const CardBuildResult r = build_card_file(list, CardForm::coded, (d / "real.ps2").c_str(), cap.reporter());
    ASSERT_TRUE(r.written);
    EXPECT_EQ(r.saves_placed, list.size());
    EXPECT_EQ(cap.count(Severity::warning) + cap.count(Severity::error), 0u);

    auto card = get(d / "real.ps2");
    ASSERT_EQ(bring_card_to_raw(card, card.size()), CardError::ok);
    const ConstRawImage image(card.data(), kRawImageSize);
    CardChecker check(image);
    for (size_t k = 0; k < list.size(); ++k) check.expect_save(uint32_t(2 + k), get(list[k]));
    check.expect_clusters_owned_once(r.clusters_used);
}

TEST(TaviroBuild, SystemFailuresLoseNothing)
{
    TempDir d("taviro");
    const auto a = save_bytes("A", {file_member("X", 5000)}, 1);
    const auto b = save_bytes("B", {file_member("Y", 50)}, 2);
    put(d / "a.psu", a);
    put(d / "b.psu", b);
    const std::vector<std::string> list = {d / "a.psu", d / "b.psu"};
    const std::string out = d / "card.bin";
    put(out, std::string("older card"));
    const std::vector<uint8_t> older = get(out);
    using plat::faults::Op;

    struct Case {
        const char* what;
        Op op;
        unsigned nth;
        bool written;
        size_t left_out;
    } cases[] = {
        {"no memory", Op::alloc, 1, false, 0},
        {"second block", Op::alloc, 2, false, 0},
        {"a listed file cannot be opened", Op::open, 2, true, 1},
        {"a listed file cannot be read", Op::read, 1, true, 1},
        {"the output cannot be created", Op::write, 1, false, 0},
        {"the output write stops half-way", Op::write, 2, false, 0},
        {"the new card cannot be flushed to the disk", Op::flush, 1, false, 0},
        {"the output cannot replace the old file", Op::rename, 1, false, 0},
    };
    for (const Case& c : cases) {
        plat::faults::reset();
        plat::faults::fail_nth(c.op, c.nth);
        ReportLog cap;
        const CardBuildResult r = build_card_file(list, CardForm::raw, out.c_str(), cap.reporter());
        plat::faults::reset();
        EXPECT_EQ(r.written, c.written) << c.what;
        EXPECT_EQ(r.left_out.size(), c.left_out) << c.what;
        EXPECT_GE(cap.count(Severity::error), 1u) << c.what;
        if (c.written) {
            EXPECT_EQ(get(out).size(), kRawImageSize) << c.what;
            put(out, std::string("older card"));
        } else {
            EXPECT_EQ(get(out), older) << c.what << ": the old file must stay";
        }
        EXPECT_EQ(d.names(), (std::vector<std::string>{"a.psu", "b.psu", "card.bin"})) << c.what;
    }
}

/* The list the window test saves, built as the command line builds it: the window's images must have
 * the same fingerprints. */
TEST(TaviroBuild, WindowTestFixtureFingerprints)
{
    TempDir d("taviro");
    std::vector<std::string> list;
    for (const std::string& name : gui_fixture::saved_order())
        for (const auto& [file, bytes] : gui_fixture::archives())
            if (file == name) {
                put(d / file, bytes);
                list.push_back(d / file);
            }
    ASSERT_EQ(list.size(), 4u);
    ASSERT_TRUE(build_card_file(list, CardForm::raw, (d / "card.bin").c_str(), {}).written);
    ASSERT_TRUE(build_card_file(list, CardForm::coded, (d / "card.vm2").c_str(), {}).written);
    const auto raw = get(d / "card.bin");
    const auto coded = get(d / "card.vm2");
    EXPECT_EQ(gui_fixture::fingerprint(raw.data(), raw.size()), gui_fixture::kRawFingerprint);
    EXPECT_EQ(gui_fixture::fingerprint(coded.data(), coded.size()), gui_fixture::kCodedFingerprint);

    CardChecker check(ConstRawImage(raw.data(), kRawImageSize));
    for (size_t k = 0; k < list.size(); ++k) check.expect_save(uint32_t(2 + k), get(list[k]));
    check.expect_clusters_owned_once(find_first_free_cluster(ConstRawImage(raw.data(), kRawImageSize)));
}
