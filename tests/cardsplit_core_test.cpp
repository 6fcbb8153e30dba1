/* cardsplit_core_test.cpp -- splitting cards in memory: exact archives from well-formed cards (raw and coded),
 * archive names, and every bound on damaged cards */
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "card/cardscan.h"
#include "cardsplit/cardsplit.h"
#include "tests/cardsplit_testcard.h"
#include "tests/test_support.h"
#include "tools/samplegen.h"

using namespace ps2;
using testcard::Card;
using testcard::Placer;
using testcard::PlaceOptions;

namespace {

struct Split {
    std::string name;
    SplitError error = SplitError::ok;
    BuiltArchive built;
    std::vector<uint8_t> archive;
    std::vector<SplitProblem> problems;
    std::vector<std::string> paths;
};

void collect(void* context, const SplitProblem& p)
{
    auto* s = static_cast<Split*>(context);
    s->problems.push_back(p);
    s->paths.emplace_back(p.path);
}

/* Splits a raw card in memory as the handler does, one Split per root entry from 2 on. */
std::vector<Split> split_card(const CardView& card, bool temp_names = false, CardRoot* root_out = nullptr)
{
    OwnedSplitWork work(*card.geometry);
    const CardRoot root = read_card_root(card, work.get());
    CardScan scan; /* the clusters live entries own, as the handler finds them for recovering deleted saves */
    scan_card(card, &scan);
    for (uint32_t c = 0; c < card.alloc_clusters(); ++c)
        if (scan.owned.contains(c)) work->live.insert(c);
    work->live_known = true;
    if (root_out) *root_out = root;
    NamingRules rules;
    rules.temp_names = temp_names;
    plan_archive_names(card, root, rules, work.get());
    std::vector<Split> out;
    for (uint32_t i = 2; i < root.count; ++i) {
        Split s;
        s.name = work->names[i].text;
        BuiltArchive built;
        s.error = build_entry_archive(card, root, i, ProblemSink{&collect, &s}, work.get(), &built);
        s.built = built;
        if (s.error == SplitError::ok) s.archive.assign(work->archive, work->archive + built.size);
        EXPECT_EQ(built.problems, s.problems.size());
        out.push_back(std::move(s));
    }
    return out;
}

/* Pages that carry a code in the coded image TAVIRO writes of a card. */
uint32_t coded_pages(const Card& c)
{
    return 1 + uint32_t((coded_end_offset(c.craw(), c.geometry) - c.geometry.ifat[0] * kClusterSize) / kPageSize);
}

bool walks_cleanly(const std::vector<uint8_t>& archive)
{
    std::vector<PsuNode> nodes;
    size_t end = 0;
    return walk_psu_archive(archive, &nodes, &end) == PsuError::ok;
}

/* A single file node: one file standing in the root. */
std::vector<uint8_t> file_archive(const std::string& name, uint32_t size, uint32_t seed)
{
    const std::vector<uint8_t> data = samples::make_fill(samples::Fill::random, size, seed);
    std::vector<uint8_t> out(kPsuEntrySize + round_up_1024(size));
    PsuWriter w(out);
    EXPECT_TRUE(w.add_file(make_file_entry(name, size), data));
    return out;
}

samples::Save one_file_save(const std::string& name, uint32_t size)
{
    samples::Save s;
    s.name = name;
    s.members.push_back({"DATA", size, samples::Fill::random, false, {}});
    return s;
}

/* Offset of the entry of the node whose name is `name` inside an archive. */
size_t node_offset(const std::vector<uint8_t>& archive, const std::string& name)
{
    std::vector<PsuNode> nodes;
    size_t end = 0;
    (void)walk_psu_archive(archive, &nodes, &end);
    for (const auto& n : nodes)
        if (psu_record_name(&archive[n.offset]) == name) return n.offset;
    ADD_FAILURE() << name << " not in archive";
    return 0;
}

/* The card entry (a writable record) of root entry i, and member j of that directory. */
uint8_t* root_record(Card& c, uint32_t i)
{
    std::vector<uint32_t> chain;
    (void)follow_chain(c.craw(), kRootCluster, &chain);
    return directory_entry(c.raw(), chain, i);
}
uint8_t* member_record(Card& c, uint32_t i, uint32_t j)
{
    std::vector<uint32_t> chain;
    (void)follow_chain(c.craw(), record_cluster(root_record(c, i)), &chain);
    return directory_entry(c.raw(), chain, j);
}
std::vector<uint32_t> chain_of(const Card& c, uint32_t first)
{
    std::vector<uint32_t> chain;
    (void)follow_chain(c.craw(), first, &chain);
    return chain;
}

} // namespace

/* ---- well-formed cards ---- */

TEST(CardSplit, WellFormedCardSplitsBackExactlyRawAndCodedInEveryLayout)
{
    std::vector<std::pair<const char*, CardGeometry>> layouts = {{"8 MB", kStandardGeometry},
                                                                 {"another tool's layout", testcard::other_layout()}};
    for (uint32_t mb : {16u, 32u, 64u}) {
        layouts.emplace_back("larger", CardGeometry{});
        ASSERT_TRUE(geometry_for_size(mb, &layouts.back().second));
    }
    for (const auto& [what, geometry] : layouts) {
        SCOPED_TRACE(std::string(what) + ", " + std::to_string(geometry.card_megabytes()) + " MB");
        Card card = testcard::fresh_card(geometry);
        std::vector<std::pair<std::string, std::vector<uint8_t>>> expected;
        auto place = [&](const std::vector<uint8_t>& archive, PlaceOptions opt = {}) {
            Placer p(&card, opt);
            expected.emplace_back(std::string(psu_record_name(archive.data())) + ".psu", p.place(archive));
        };
        for (const auto& s : samples::demo_saves()) place(samples::build_save(s));
        place(file_archive("ROOTFILE.TXT", 1500, 7));                     /* a file in the root */
        place(samples::build_save(samples::random_save(11)), {.deleted = true}); /* deleted, between two saves */
        place(samples::build_save(samples::random_save(12)), {.from_top = true});
        samples::Save nested;
        nested.name = "BENESTED-0001";
        nested.members = {{"icon.sys", 964, samples::Fill::icon, false, {}},
                          {"SUB", 0, samples::Fill::mixed, true,
                           {{"A", 1, samples::Fill::random, false, {}},
                            {"DEEPER", 0, samples::Fill::mixed, true, {{"B", 3000, samples::Fill::text, false, {}}}},
                            {"EMPTY", 0, samples::Fill::zeros, false, {}}}},
                          {"DATA", 2048, samples::Fill::random, false, {}}};
        place(samples::build_save(nested));
        for (uint32_t seed = 20; seed < 40; ++seed)
            place(samples::build_save(samples::random_save(seed, true, 30000)), {.from_top = seed % 2 == 0});

        for (uint8_t spares : {255, 9, 0}) { /* raw; spare areas of any content; the page codes */
            Card image = card;
            if (spares != 255) {
                image.bytes = testcard::coded_file(card, spares);
                CardLayout layout;
                ASSERT_EQ(read_card_layout(image.bytes, image.bytes.size(), &layout), CardError::ok);
                EXPECT_EQ(layout.form, CardForm::coded);
                EXPECT_EQ(layout.problem, LayoutProblem::none);
                EXPECT_TRUE(layout.geometry == geometry);
                EccReport ecc;
                ASSERT_EQ(bring_card_to_raw(image.bytes, layout, &ecc), CardError::ok);
                EXPECT_EQ(ecc.pages_checked, spares == 0 ? coded_pages(card) : 0u);
                EXPECT_TRUE(ecc.corrected.empty() && ecc.uncorrectable.empty());
            }
            const auto splits = split_card(image.view());
            ASSERT_EQ(splits.size(), expected.size());
            for (size_t k = 0; k < splits.size(); ++k) {
                SCOPED_TRACE(expected[k].first);
                EXPECT_EQ(splits[k].error, SplitError::ok);
                EXPECT_EQ(splits[k].name, expected[k].first);
                EXPECT_TRUE(splits[k].problems.empty());
                EXPECT_EQ(splits[k].archive, expected[k].second);
                EXPECT_TRUE(walks_cleanly(splits[k].archive));
            }
        }
    }
}

TEST(CardSplit, EdgeCasesOfSplitting)
{
    /* An empty root gives nothing. */
    Card empty = testcard::fresh_card();
    EXPECT_TRUE(split_card(empty.craw()).empty());

    /* A save with one file of 1,500 bytes: 512 x 4 + 2048 bytes, the padding is the cluster's tail. */
    Card card = testcard::fresh_card();
    Placer p(&card, {.tail_seed = 0x33});
    const auto expected = p.place(samples::build_save(one_file_save("GAMESAVE01", 1500)));
    Placer(&card, {.deleted = true}).place(samples::build_save(one_file_save("GAMESAVE02", 10)));
    Placer(&card, {}).place(samples::build_save(one_file_save("GAMESAVE03", 0)));
    const auto splits = split_card(card.craw());
    ASSERT_EQ(splits.size(), 3u);
    EXPECT_EQ(splits[0].name, "GAMESAVE01.psu");
    ASSERT_EQ(splits[0].archive.size(), 4096u);
    EXPECT_EQ(splits[0].archive, expected);
    const uint8_t* data = member_record(card, 2, 2);
    const uint8_t* last = cluster_bytes(card.craw(), chain_of(card, record_cluster(data)).back());
    EXPECT_TRUE(std::equal(last + 476, last + 1024, splits[0].archive.begin() + 2048 + 1500));
    EXPECT_NE(last[476], 0); /* the tail is not zeros here, so the copy is real */
    EXPECT_EQ(splits[2].archive.size(), 2048u); /* an empty file: its entry alone */

    /* Temp names by root index, the deleted entry keeping its number. */
    const auto temp = split_card(card.craw(), true);
    ASSERT_EQ(temp.size(), 3u);
    EXPECT_EQ(temp[0].name, "temp0002.psu");
    EXPECT_EQ(temp[1].name, "temp0003.psu");
    EXPECT_EQ(temp[2].name, "temp0004.psu");
    EXPECT_EQ(temp[1].archive, splits[1].archive);
}

TEST(CardSplit, LongestChainOfTheCardIsKept)
{
    /* One file in the root owning every cluster the root leaves free (8,133: the root takes two for its
     * three entries): more than an 8,000-cluster buffer would hold. */
    Card card = testcard::fresh_card();
    const uint32_t size = (kAllocClusters - 2) * kClusterSize;
    const auto expected = Placer(&card, {}).place(file_archive("HUGE", size, 3));
    EXPECT_EQ(find_first_free_cluster(card.craw()), kAllocClusters);
    const auto splits = split_card(card.craw());
    ASSERT_EQ(splits.size(), 1u);
    EXPECT_TRUE(splits[0].problems.empty());
    EXPECT_EQ(splits[0].archive.size(), kPsuEntrySize + size);
    EXPECT_EQ(splits[0].archive, expected);
}

TEST(CardSplit, SplitsTheRealCard)
{
    PS2_REQUIRE_REALDATA("card-two-saves-ecc.ps2", "rez.psu");
    const std::filesystem::path dir = PS2_REALDATA_DIR;
    std::vector<uint8_t> image = test::get((dir / "card-two-saves-ecc.ps2").string());
    const uint64_t size = image.size();
    image.resize(kCodedImageSize);
    ASSERT_EQ(bring_card_to_raw(image, size), CardError::ok);
    const auto splits = split_card(ConstRawImage(image.data(), kRawImageSize));
    ASSERT_EQ(splits.size(), 2u);
    EXPECT_EQ(splits[0].name, "BEDATA-SYSTEM.psu");
    EXPECT_EQ(splits[1].name, "BESCES-50501REZ.psu");
    for (const auto& s : splits) {
        EXPECT_TRUE(s.problems.empty());
        EXPECT_TRUE(walks_cleanly(s.archive)) << s.name;
    }

    /* The same save as exported by another tool: same layout, names, modes, lengths and data. */
    const std::vector<uint8_t> other = test::get((dir / "rez.psu").string());
    const std::vector<uint8_t>& ours = splits[1].archive;
    ASSERT_EQ(ours.size(), other.size());
    std::vector<PsuNode> a, b;
    size_t end = 0;
    ASSERT_EQ(walk_psu_archive(ours, &a, &end), PsuError::ok);
    ASSERT_EQ(walk_psu_archive(other, &b, &end), PsuError::ok);
    ASSERT_EQ(a.size(), b.size());
    for (size_t k = 0; k < a.size(); ++k) {
        const uint8_t* x = &ours[a[k].offset];
        const uint8_t* y = &other[b[k].offset];
        SCOPED_TRACE(std::string(psu_record_name(x)));
        EXPECT_EQ(a[k].offset, b[k].offset);
        EXPECT_EQ(record_mode(x), record_mode(y));
        EXPECT_EQ(record_length(x), record_length(y));
        EXPECT_EQ(psu_record_name(x), psu_record_name(y));
        if (a[k].kind != PsuNodeKind::link) {
            EXPECT_TRUE(std::equal(x + 8, x + 16, y + 8)) << "created";
            EXPECT_TRUE(std::equal(x + 0x18, x + 0x20, y + 0x18)) << "modified";
        }
        if (a[k].kind == PsuNodeKind::file) {
            EXPECT_TRUE(std::equal(&ours[a[k].data_offset], &ours[a[k].data_offset] + a[k].data_length,
                                   &other[b[k].data_offset]));
        }
    }
}

TEST(CardSplit, SharedCardsSplitAsTheirWriterExportsThem)
{
    PS2_REQUIRE_REALDATA("cards/deleted-saves.ps2", "cards/deleted-saves.txt", "cards/other-layout.ps2",
                         "cards/other-layout.txt");
    const std::filesystem::path dir = std::filesystem::path(PS2_REALDATA_DIR) / "cards";
    struct Case {
        const char* card;
        uint32_t alloc_offset, live, deleted, deleted_members;
    } cases[] = {{"deleted-saves", 41, 20, 2, 1}, {"other-layout", 49, 32, 2, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.card);
        /* The listing: "- SAVE", then "  - member size sha256" lines. */
        std::map<std::string, std::vector<std::string>> listed;
        std::ifstream txt(dir / (std::string(c.card) + ".txt"));
        std::string save;
        for (std::string line; std::getline(txt, line);) {
            if (line.rfind("- ", 0) == 0) listed[save = line.substr(2)];
            if (line.rfind("  - ", 0) == 0 && !save.empty()) listed[save].push_back(line.substr(4));
        }
        std::vector<uint8_t> image = test::get((dir / (std::string(c.card) + ".ps2")).string());
        CardLayout layout;
        ASSERT_EQ(read_card_layout(image, image.size(), &layout), CardError::ok);
        EXPECT_EQ(layout.geometry.alloc_offset, c.alloc_offset);
        EccReport ecc;
        ASSERT_EQ(bring_card_to_raw(image, layout, &ecc), CardError::ok);
        EXPECT_EQ(ecc.pages_checked, 16384u);
        EXPECT_TRUE(ecc.corrected.empty() && ecc.uncorrectable.empty());
        const CardView card(ConstRawImage(image), layout.geometry);
        uint32_t live = 0, deleted = 0, deleted_members = 0;
        for (const Split& s : split_card(card)) {
            ASSERT_EQ(s.error, SplitError::ok) << s.name;
            EXPECT_TRUE(walks_cleanly(s.archive)) << s.name;
            const std::string name = s.name.substr(0, s.name.size() - 4);
            if (s.built.recovered) { /* every deleted save comes back whole */
                ++deleted;
                EXPECT_EQ(s.built.files_cut + s.built.entries_lost + s.built.damage, 0u) << name;
                continue;
            }
            ++live;
            deleted_members += s.built.problems;
            std::vector<std::string> members;
            std::vector<PsuNode> nodes;
            size_t end = 0;
            ASSERT_EQ(walk_psu_archive(s.archive, &nodes, &end), PsuError::ok);
            for (const PsuNode& n : nodes)
                if (n.kind == PsuNodeKind::file)
                    members.push_back(std::string(psu_record_name(&s.archive[n.offset])) + " " +
                                      std::to_string(n.data_length) + " " +
                                      test::sha256_hex({&s.archive[n.data_offset], n.data_length}));
            EXPECT_EQ(members, listed[name]) << name;
        }
        EXPECT_EQ(live, c.live);
        EXPECT_EQ(live, listed.size());
        EXPECT_EQ(deleted, c.deleted);
        EXPECT_EQ(deleted_members, c.deleted_members);
    }
}

TEST(CardSplit, TheTitleIsIconSysWithItsTwoLinesJoined)
{
    struct Case {
        std::string title;
        uint16_t line_break;
        std::string shown;
    } cases[] = {
        {"Line oneLine two", 8, "Line one Line two"},
        {"Line one Line two", 9, "Line one Line two"},           /* a space ends the first line */
        {"Line one Line two", 8, "Line one Line two"},           /* a space begins the second */
        {"\x82\x60\x82\x61", 2, "\x82\x60 \x82\x61"},          /* between two double-byte characters */
        {"\x82\x60\x81\x40\x82\x61", 4, "\x82\x60\x81\x40\x82\x61"}, /* a full-width space ends the first */
        {"\x82\x60\x82\x61", 1, "\x82\x60\x82\x61"},             /* inside a character: no break there */
        {"One line", 32, "One line"},
        {"One line", 0, "One line"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> icon = samples::make_icon_sys(c.title, 964);
        store_u16le(&icon[kIconSysLineBreakOffset], c.line_break);
        char shown[kIconSysTitleSize + 2];
        icon_sys_joined_title(icon, shown, sizeof shown);
        EXPECT_EQ(std::string(shown), c.shown) << c.title;
    }

    /* A save holding a second icon description before icon.sys: the listing takes icon.sys's title. */
    Card card = testcard::fresh_card();
    samples::Save s;
    s.name = "BESLES-00001TWO";
    s.title = "Right";
    s.members = {{"other.sys", 964, samples::Fill::icon, false, {}}, {"icon.sys", 964, samples::Fill::icon, false, {}}};
    Placer(&card, {}).place(samples::build_save(s));
    std::memcpy(cluster_bytes(card.raw(), record_cluster(member_record(card, 2, 2))) + kIconSysTitleOffset, "Wrong", 6);
    OwnedSplitWork work;
    const CardRoot root = read_card_root(card.craw(), work.get());
    ListedEntry listed;
    list_root_entry(card.craw(), *work.get(), root, 2, &listed);
    EXPECT_STREQ(listed.title, "Right");
}

/* ---- names ---- */

TEST(CardSplit, ArchiveNamesThatCannotBeFileNames)
{
    struct Case {
        const char* name;
        const PathRules* rules;
        bool safe;
    } cases[] = {
        {"BESLES-12345", &kPosixRules, true},
        {"", &kPosixRules, false},
        {".", &kPosixRules, false},
        {"..", &kPosixRules, false},
        {"...", &kPosixRules, true},
        {"A/B", &kPosixRules, false},
        {"A\\B", &kPosixRules, false},
        {"A\\B", &kWindowsShiftJisRules, false},
        {"/", &kWindowsShiftJisRules, false},
        {"\x95\x5C", &kWindowsShiftJisRules, true},  /* the second byte of a double-byte character */
        {"\x95\x5C", &kPosixRules, false},
        {"\x95\x5C\\", &kWindowsShiftJisRules, false},
        {"C:X", &kWindowsShiftJisRules, false},       /* a stream of the file "C" */
        {"C:X", &kPosixRules, true},
        {"WHAT?", &kPosixRules, true},                /* refused by Windows itself, not replaced */
    };
    for (const auto& c : cases) EXPECT_EQ(archive_name_is_safe(c.name, *c.rules), c.safe) << c.name;
}

TEST(CardSplit, NamesTakenTwiceAndUnsafeNames)
{
    Card card = testcard::fresh_card();
    auto place = [&](const std::string& name, bool deleted) {
        Placer(&card, {.deleted = deleted}).place(samples::build_save(one_file_save(name, 100)));
    };
    place("SAVE", true);   /* 2: deleted, loses to the live 4 */
    place("..", false);    /* 3: unsafe */
    place("SAVE", false);  /* 4 */
    place("save", false);  /* 5: the same file where names fold */
    place("SAVE", false);  /* 6: loses to 4 */
    place("", false);      /* 7: unsafe */
    OwnedSplitWork work;
    const CardRoot root = read_card_root(card.craw(), work.get());
    ASSERT_EQ(root.count, 8u);

    NamingRules posix;
    plan_archive_names(card.craw(), root, posix, work.get());
    const SplitError expect_posix[] = {SplitError::name_taken, SplitError::unsafe_name, SplitError::ok,
                                       SplitError::ok, SplitError::name_taken, SplitError::unsafe_name};
    for (uint32_t i = 2; i < 8; ++i) EXPECT_EQ(work->names[i].status, expect_posix[i - 2]) << i;
    EXPECT_EQ(work->names[2].taken_by, 4u);
    EXPECT_EQ(work->names[6].taken_by, 4u);
    EXPECT_STREQ(work->names[4].text, "SAVE.psu");

    NamingRules windows;
    windows.path = kWindowsShiftJisRules;
    windows.case_insensitive = true;
    plan_archive_names(card.craw(), root, windows, work.get());
    EXPECT_EQ(work->names[5].status, SplitError::name_taken);
    EXPECT_EQ(work->names[5].taken_by, 4u);

    NamingRules temp;
    temp.temp_names = true;
    plan_archive_names(card.craw(), root, temp, work.get());
    for (uint32_t i = 2; i < 8; ++i) EXPECT_EQ(work->names[i].status, SplitError::ok);
    EXPECT_STREQ(work->names[7].text, "temp0007.psu");
}

/* ---- damaged cards ---- */

namespace {

struct Damaged {
    Card card = testcard::fresh_card();
    std::vector<uint8_t> expected; /* the archive of the well-formed save */

    /* SAVE: "." "..", DATA of 5,000 bytes (5 clusters), SUB (a directory with X of 100 bytes), TAIL of 10 bytes. */
    Damaged()
    {
        samples::Save s;
        s.name = "SAVE";
        s.members = {{"DATA", 5000, samples::Fill::random, false, {}},
                     {"SUB", 0, samples::Fill::mixed, true, {{"X", 100, samples::Fill::text, false, {}}}},
                     {"TAIL", 10, samples::Fill::text, false, {}}};
        expected = Placer(&card, {}).place(samples::build_save(s));
    }
    uint8_t* save() { return root_record(card, 2); }
    uint8_t* member(uint32_t j) { return member_record(card, 2, j); }
    std::vector<uint32_t> chain(uint32_t first) { return chain_of(card, first); }
    Split split()
    {
        auto s = split_card(card.craw());
        EXPECT_EQ(s.size(), 1u);
        return s.empty() ? Split{} : s[0];
    }
};

void expect_one_problem(const Split& s, SplitProblemKind kind, const std::string& path)
{
    ASSERT_EQ(s.problems.size(), 1u);
    EXPECT_EQ(s.problems[0].kind, kind);
    EXPECT_EQ(s.paths[0], path);
}

} // namespace

TEST(CardSplitDamaged, FileChainsThatLoopOrLeaveTheCard)
{
    struct Case {
        const char* what;
        void (*damage)(Damaged&);
        ChainStop stop;
        uint64_t found;
    } cases[] = {
        {"third cluster links back to the first",
         [](Damaged& d) {
             const auto c = d.chain(record_cluster(d.member(2)));
             set_fat_entry(d.card.raw(), c[2], kFatInUse | c[0]);
         },
         ChainStop::repeated, 3},
        {"a cluster links to itself",
         [](Damaged& d) {
             const auto c = d.chain(record_cluster(d.member(2)));
             set_fat_entry(d.card.raw(), c[1], kFatInUse | c[1]);
         },
         ChainStop::repeated, 2},
        {"a link into the reserved blocks",
         [](Damaged& d) {
             const auto c = d.chain(record_cluster(d.member(2)));
             set_fat_entry(d.card.raw(), c[0], kFatInUse | 8150);
         },
         ChainStop::out_of_range, 1},
        {"first cluster 8192", [](Damaged& d) { set_record_cluster(d.member(2), 8192); }, ChainStop::out_of_range, 0},
        {"first cluster 0xFFFFFFFF", [](Damaged& d) { set_record_cluster(d.member(2), 0xFFFFFFFF); },
         ChainStop::out_of_range, 0},
        {"first cluster 8135", [](Damaged& d) { set_record_cluster(d.member(2), kAllocClusters); },
         ChainStop::out_of_range, 0},
        {"a freed cluster ends the chain early",
         [](Damaged& d) {
             const auto c = d.chain(record_cluster(d.member(2)));
             set_fat_entry(d.card.raw(), c[1], kFatFree);
         },
         ChainStop::ended, 2},
        {"length larger than the chain holds", [](Damaged& d) { set_record_length(d.member(2), 9000); },
         ChainStop::ended, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Damaged d;
        const uint32_t length = record_length(d.member(2));
        c.damage(d);
        const Split s = d.split();
        ASSERT_EQ(s.error, SplitError::ok);
        expect_one_problem(s, SplitProblemKind::file_cut, "SAVE/DATA");
        EXPECT_EQ(s.problems[0].stop, c.stop);
        EXPECT_EQ(s.problems[0].found, c.found);
        /* The archive keeps its layout: the missing clusters are zeros, every other byte as on the card. */
        EXPECT_TRUE(walks_cleanly(s.archive));
        const size_t data = node_offset(s.archive, "DATA") + kPsuEntrySize;
        const size_t old_end = data + size_t(round_up_1024(length));
        const size_t new_end = data + size_t(round_up_1024(record_length(d.member(2))));
        const size_t read_end = data + size_t(c.found) * kClusterSize;
        ASSERT_EQ(s.archive.size(), d.expected.size() - old_end + new_end);
        EXPECT_TRUE(std::equal(s.archive.begin() + long(data), s.archive.begin() + long(read_end),
                               d.expected.begin() + long(data)));
        EXPECT_TRUE(std::all_of(s.archive.begin() + long(read_end), s.archive.begin() + long(new_end),
                                [](uint8_t b) { return b == 0; }));
        EXPECT_TRUE(std::equal(s.archive.begin() + long(new_end), s.archive.end(), d.expected.begin() + long(old_end)));
    }
}

TEST(CardSplitDamaged, LengthsBeyondTheCardAndChainsTooLong)
{
    {
        /* A member claiming 4 GB: left out, its directory's count follows. */
        Damaged d;
        set_record_length(d.member(2), 0xFFFFFFFF);
        const Split s = d.split();
        ASSERT_EQ(s.error, SplitError::ok);
        expect_one_problem(s, SplitProblemKind::member_too_large, "SAVE/DATA");
        EXPECT_TRUE(walks_cleanly(s.archive));
        EXPECT_EQ(record_length(s.archive.data()), 4u);
        EXPECT_EQ(s.archive.size(), d.expected.size() - kPsuEntrySize - 5 * kClusterSize);
    }
    {
        /* A chain that goes on past the file's clusters (its end mark lost): cut, data as well-formed. */
        Damaged d;
        const auto c = d.chain(record_cluster(d.member(2)));
        set_fat_entry(d.card.raw(), c.back(), kFatInUse | find_first_free_cluster(d.card.craw()));
        const Split s = d.split();
        expect_one_problem(s, SplitProblemKind::file_chain_long, "SAVE/DATA");
        EXPECT_EQ(s.archive, d.expected);
    }
    {
        /* A root file of 0xFFFFFFFF bytes gives no archive. */
        Card card = testcard::fresh_card();
        Placer(&card, {}).place(file_archive("BIG", 2000, 1));
        set_record_length(root_record(card, 2), 0xFFFFFFFF);
        const auto s = split_card(card.craw());
        ASSERT_EQ(s.size(), 1u);
        EXPECT_EQ(s[0].error, SplitError::too_large);
    }
}

TEST(CardSplitDamaged, DirectoryCountsLargerThanTheirChains)
{
    {
        /* The save counts 11 entries but its chain holds 3 clusters: 6 entries, the last the 0xFF half
         * of the last cluster, which reads as a directory beyond the card and is left out. */
        Damaged d;
        set_record_length(d.save(), 11);
        const Split s = d.split();
        ASSERT_EQ(s.problems.size(), 2u);
        EXPECT_EQ(s.problems[0].kind, SplitProblemKind::directory_cut);
        EXPECT_EQ(s.paths[0], "SAVE");
        EXPECT_EQ(s.problems[0].wanted, 11u);
        EXPECT_EQ(s.problems[0].found, 6u);
        EXPECT_EQ(s.problems[1].kind, SplitProblemKind::member_unreadable);
        EXPECT_EQ(s.archive, d.expected); /* the count follows the 5 nodes written */
    }
    {
        /* Its chain cut after the first cluster: ".", "..", then nothing. */
        Damaged d;
        set_fat_entry(d.card.raw(), record_cluster(d.save()), kFatEnd);
        const Split s = d.split();
        expect_one_problem(s, SplitProblemKind::directory_cut, "SAVE");
        EXPECT_EQ(s.problems[0].found, 2u);
        EXPECT_EQ(s.archive.size(), 3 * kPsuEntrySize);
        EXPECT_EQ(record_length(s.archive.data()), 2u);
        EXPECT_TRUE(walks_cleanly(s.archive));
    }
    {
        /* The root counts 100 entries; its chain holds 2 clusters; entry 3 is the 0xFF half of cluster 1. */
        Damaged d;
        set_record_length(cluster_bytes(d.card.raw(), kRootCluster), 100);
        CardRoot root;
        const auto s = split_card(d.card.craw(), false, &root);
        EXPECT_EQ(root.stored_count, 100u);
        EXPECT_EQ(root.count, 4u);
        ASSERT_EQ(s.size(), 2u);
        EXPECT_EQ(s[0].archive, d.expected);
        EXPECT_EQ(s[1].error, SplitError::unreadable_directory);
    }
    {
        /* A save whose first cluster lies beyond the card. */
        Damaged d;
        set_record_cluster(d.save(), 9000);
        EXPECT_EQ(d.split().error, SplitError::unreadable_directory);
    }
}

TEST(CardSplitDamaged, CyclesInTheTreeEndAndKeepWellFormedOutput)
{
    {
        /* "." and ".." with a nonzero length lead back up: written as they stand, never followed. */
        Damaged d;
        set_record_length(d.member(0), 5);
        set_record_length(d.member(1), 4);
        const Split s = d.split();
        EXPECT_TRUE(s.problems.empty());
        std::vector<uint8_t> want = d.expected;
        set_record_length(&want[512], 5);
        set_record_length(&want[1024], 4);
        EXPECT_EQ(s.archive, want);
    }
    struct Case {
        const char* what;
        uint32_t (*target)(Damaged&);
        SplitProblemKind kind;
    } cases[] = {
        {"SUB points at its own save", [](Damaged& d) { return record_cluster(d.save()); }, SplitProblemKind::member_cycle},
        {"SUB points at the root", [](Damaged&) { return kRootCluster; }, SplitProblemKind::member_cycle},
        {"SUB points beyond the card", [](Damaged&) { return 8191u; }, SplitProblemKind::member_unreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Damaged d;
        set_record_cluster(d.member(3), c.target(d));
        const Split s = d.split();
        ASSERT_EQ(s.error, SplitError::ok);
        ASSERT_FALSE(s.problems.empty());
        EXPECT_EQ(s.problems.back().kind, c.kind);
        EXPECT_TRUE(walks_cleanly(s.archive));
        EXPECT_LE(s.archive.size(), kSplitArchiveCapacity);
    }
    {
        /* A directory whose members all point at one sub-directory: written once, the others left out. */
        Damaged d;
        uint8_t* sub = d.member(3);
        for (uint32_t j : {2u, 4u}) {
            uint8_t* m = d.member(j);
            std::memcpy(m, sub, kPsuEntrySize);
        }
        const Split s = d.split();
        EXPECT_EQ(s.problems.size(), 2u);
        for (const auto& p : s.problems) EXPECT_EQ(p.kind, SplitProblemKind::member_cycle);
        EXPECT_EQ(record_length(s.archive.data()), 3u);
        EXPECT_TRUE(walks_cleanly(s.archive));
    }
}

TEST(CardSplitDamaged, DeepWellFormedNestingIsWrittenWhole)
{
    /* 300 directories inside each other: no recursion limit cuts a well-formed tree. */
    samples::Member leaf{"LEAF", 700, samples::Fill::text, false, {}};
    samples::Member m = leaf;
    for (int k = 0; k < 300; ++k) m = samples::Member{"D" + std::to_string(k), 0, samples::Fill::mixed, true, {m}};
    samples::Save s;
    s.name = "DEEP";
    s.members = {m};
    Card card = testcard::fresh_card();
    const auto expected = Placer(&card, {}).place(samples::build_save(s));
    const auto splits = split_card(card.craw());
    ASSERT_EQ(splits.size(), 1u);
    EXPECT_TRUE(splits[0].problems.empty());
    EXPECT_EQ(splits[0].archive, expected);
}

TEST(CardSplitDamaged, RandomGarbageNeverEscapesTheBounds)
{
    /* FAT links and directory entries overwritten at random: every entry either gives an archive within
     * the capacity or an error, and nothing reads outside the card (the sanitizer build checks that). */
    for (uint32_t seed = 1; seed <= 24; ++seed) {
        Card card = testcard::fresh_card();
        for (uint32_t k = 0; k < 6; ++k) Placer(&card, {}).place(samples::build_save(samples::random_save(seed * 10 + k, true, 30000)));
        uint32_t x = seed * 2654435761u;
        auto next = [&x]() { return x = x * 1664525u + 1013904223u; };
        for (int k = 0; k < 200; ++k) { /* FAT entries of the used area */
            const uint32_t c = next() % 400;
            const uint32_t v = next();
            set_fat_entry(card.raw(), c, (next() % 2) ? (kFatInUse | (v & 0x1FFF)) : v);
        }
        for (int k = 0; k < 40; ++k) { /* fields of directory entries: mode, length, cluster */
            const uint32_t c = next() % 64;
            uint8_t* r = cluster_bytes(card.raw(), c) + 512 * (next() % 2);
            const uint32_t field = next() % 3;
            if (field == 0) store_u16le(r, uint16_t(next()));
            if (field == 1) set_record_length(r, next() % 4 ? next() % 64 : next());
            if (field == 2) set_record_cluster(r, next() % 4 ? next() % 8192 : next());
        }
        for (const auto& s : split_card(card.craw())) EXPECT_LE(s.archive.size(), kSplitArchiveCapacity);
    }
}
