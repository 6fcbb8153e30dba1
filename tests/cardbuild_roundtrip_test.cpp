/* cardbuild_roundtrip_test.cpp -- TAVIRO then SORVIK gives back every archive: the same entries and data,
 * with `cluster`, `dir_entry` and the directory lengths as the builder sets them and the padding as the
 * splitter copies it (zeros, since the builder zero-fills behind a file's end) */
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "card/cardscan.h"
#include "card/ecc.h"
#include "cardbuild/card_edit.h"
#include "cardbuild_test_util.h"
#include "cardsplit/cardsplit.h"
#include "test_support.h"

using namespace ps2;
using namespace ps2::test;
using samples::Fill;

namespace {

/* Every root entry from 2 on as SORVIK splits it (deleted ones recovered); empty when it gives none. */
using Entry = std::vector<uint8_t>;
bool deleted(const Entry& e) { return !e.empty() && !mode_exists(record_mode(e.data())); }
std::vector<Entry> split_entries(const CardView& card)
{
    OwnedSplitWork work(*card.geometry);
    const CardRoot root = read_card_root(card, work.get());
    CardScan scan;
    scan_card(card, &scan);
    for (uint32_t c = 0; c < card.alloc_clusters(); ++c)
        if (scan.owned.contains(c)) work->live.insert(c);
    work->live_known = true;
    std::vector<Entry> out(root.count);
    for (uint32_t i = 2; i < root.count; ++i) {
        BuiltArchive b;
        if (build_entry_archive(card, root, i, {}, work.get(), &b) == SplitError::ok)
            out[i].assign(work->archive, work->archive + b.size);
    }
    return out;
}

/* The builder changes `cluster` of every entry it places and `dir_entry` of every "."; the counts it
 * sets equal the archive's for a well-formed archive. Everything else comes back byte for byte. */
void expect_same_but_card_fields(std::span<const uint8_t> original, std::span<const uint8_t> back, const char* what)
{
    ASSERT_EQ(back.size(), original.size()) << what;
    std::vector<PsuNode> nodes;
    size_t end = 0;
    ASSERT_EQ(walk_psu_archive(original, &nodes, &end), PsuError::ok) << what;
    std::vector<uint8_t> a(original.begin(), original.end()), b(back.begin(), back.end());
    for (size_t k = 0; k < nodes.size(); ++k) {
        const PsuNode& n = nodes[k];
        const bool dot = n.kind == PsuNodeKind::link && nodes[k - 1].kind == PsuNodeKind::directory;
        if (n.kind == PsuNodeKind::link && !dot) continue; /* ".." comes back as it was */
        std::memset(&a[n.offset + psu_field::cluster], 0, 4);
        std::memset(&b[n.offset + psu_field::cluster], 0, 4);
        if (dot) {
            std::memset(&a[n.offset + psu_field::dir_entry], 0, 4);
            std::memset(&b[n.offset + psu_field::dir_entry], 0, 4);
        }
    }
    for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i], b[i]) << what << ": first difference at byte " << i;
}

struct Split {
    OwnedSplitWork work;
};

/* Places the archives in order on a fresh card and splits every root entry back. */
void round_trip(const std::vector<std::vector<uint8_t>>& archives, const char* what)
{
    MemCard card;
    for (size_t k = 0; k < archives.size(); ++k) {
        ArchivePlan plan;
        ASSERT_EQ(card.builder.add_archive(archives[k], &plan), BuildError::ok) << what << " #" << k;
    }
    Split s;
    const CardRoot root = read_card_root(card.image(), s.work.get());
    ASSERT_EQ(root.count, 2 + archives.size()) << what;
    for (size_t k = 0; k < archives.size(); ++k) {
        BuiltArchive built;
        ASSERT_EQ(build_entry_archive(card.image(), root, uint32_t(2 + k), {}, s.work.get(), &built), SplitError::ok)
            << what << " #" << k;
        EXPECT_EQ(built.problems, 0u) << what << " #" << k;
        expect_same_but_card_fields(archives[k], std::span<const uint8_t>(s.work->archive, built.size), what);
        if (testing::Test::HasFatalFailure()) return;
    }
}

std::vector<uint8_t> one_file_save(const std::string& name, uint32_t size, uint32_t seed)
{
    return save_bytes(name, {file_member("F", size, Fill::random)}, seed);
}

} // namespace

TEST(TaviroSorvikRoundTrip, GeneratedSaves)
{
    for (uint32_t batch = 0; batch < 8; ++batch) {
        std::vector<std::vector<uint8_t>> archives;
        for (uint32_t k = 0; k < 12; ++k) archives.push_back(samples::build_save(samples::random_save(100 * batch + k, true, 60000)));
        round_trip(archives, "random saves");
        if (HasFatalFailure()) return;
    }
}

TEST(TaviroSorvikRoundTrip, EdgeShapes)
{
    std::vector<std::vector<uint8_t>> archives;
    archives.push_back(save_bytes("EMPTY-SAVE", {}));
    archives.push_back(save_bytes("EMPTY-FILES", {file_member("A", 0, Fill::zeros), file_member("B", 0, Fill::zeros)}));
    for (uint32_t size : {1u, 511u, 512u, 1023u, 1024u, 1025u, 2047u, 2048u, 2049u, 65536u})
        archives.push_back(one_file_save("EDGE" + std::to_string(size), size, size));
    std::vector<samples::Member> deep = {file_member("TOP", 3000)};
    samples::Member level{"L1", 0, Fill::zeros, true, {file_member("X", 1024)}};
    samples::Member inner{"L2", 0, Fill::zeros, true, {file_member("Y", 0, Fill::zeros), file_member("Z", 5000)}};
    inner.children.push_back({"L3", 0, Fill::zeros, true, {}});
    level.children.push_back(inner);
    deep.push_back(level);
    deep.push_back(file_member("AFTER", 10));
    archives.push_back(save_bytes("NESTED-DEEP", deep));
    std::string long_name(32, 'N');
    archives.push_back(save_bytes(long_name, {file_member("F", 100)}));
    round_trip(archives, "edge shapes");
}

TEST(TaviroSorvikRoundTrip, CardFilledToTheLastCluster)
{
    MemCard probe;
    std::vector<std::vector<uint8_t>> archives;
    for (uint32_t seed = 1;; ++seed) {
        auto bytes = samples::build_save(samples::random_save(seed, true, 400000));
        ArchivePlan plan;
        ASSERT_EQ(plan_archive(bytes, &plan), BuildError::ok);
        /* Keep room for a last save of at least one data cluster. */
        if (probe.builder.clusters_needed(plan) + 4 > probe.builder.free_clusters()) break;
        ASSERT_EQ(probe.builder.place_archive(bytes, plan), BuildError::ok);
        archives.push_back(std::move(bytes));
    }
    /* The last save: a directory of three entries (2 clusters), a root cluster when the count is even,
     * and a file taking every cluster left. */
    const uint32_t root_cost = probe.builder.root_entries() % 2 == 0 ? 1 : 0;
    const uint32_t data_clusters = probe.builder.free_clusters() - 2 - root_cost;
    archives.push_back(one_file_save("LAST", data_clusters * 1024 - 7, 77));
    ArchivePlan plan;
    ASSERT_EQ(probe.builder.add_archive(archives.back(), &plan), BuildError::ok);
    ASSERT_EQ(probe.builder.free_clusters(), 0u);
    round_trip(archives, "full card");
}

/* ---- a card edited in place ---- */

namespace {

/* A card under edit. After every step the live tree adds up (no cross link, loop or lost cluster), every
 * save that was live splits as before, and no byte changed but those of the clusters the step took or
 * freed, their FAT entries and the root's chain and entries. */
struct EditedCard {
    std::vector<uint8_t> raw;
    CardGeometry g;
    CardEditor ed() { return CardEditor(RawImage(raw), g); }
    CardView view() const { return CardView(ConstRawImage(raw), g); }

    std::vector<Entry> expect_kept(const std::vector<uint8_t>& before, const std::vector<Entry>& was,
                                   std::span<const uint32_t> clusters, uint32_t changed_index)
    {
        CardScan scan;
        scan_card(view(), &scan);
        EXPECT_TRUE(scan.counts.clean()) << scan.findings.size() << " findings, " << scan.counts.lost << " lost";
        std::vector<bool> may(raw.size());
        auto allow = [&](size_t at, size_t n) { std::fill(may.begin() + at, may.begin() + at + n, true); };
        for (uint32_t c : clusters) allow(g.cluster_offset(c), kClusterSize), allow(g.fat_entry_offset(c), 4);
        std::vector<uint32_t> root;
        EXPECT_EQ(follow_chain(CardView(ConstRawImage(before), g), g.root_cluster, &root), CardError::ok);
        for (uint32_t c : root) allow(g.fat_entry_offset(c), 4);
        allow(g.cluster_offset(g.root_cluster), kPsuEntrySize);
        if (const uint8_t* slot = directory_entry(CardView(ConstRawImage(before), g), root, changed_index))
            allow(slot - before.data(), kPsuEntrySize); /* else it lies in a cluster the step took */
        for (size_t at = 0; at < raw.size(); at += kPageSize)
            if (std::memcmp(&raw[at], &before[at], kPageSize) != 0)
                for (size_t k = at; k < at + kPageSize; ++k)
                    if (!may[k] && raw[k] != before[k]) ADD_FAILURE() << "byte " << k << " changed";
        std::vector<Entry> now = split_entries(view());
        for (uint32_t i = 2; i < was.size(); ++i)
            EXPECT_TRUE(deleted(was[i]) || i == changed_index || now[i] == was[i]) << "root entry " << i;
        return now;
    }

    EditError add(std::span<const uint8_t> archive, AddPlacement* p = nullptr)
    {
        const std::vector<uint8_t> before = raw;
        const std::vector<Entry> was = split_entries(view());
        AddPlacement local;
        p = p ? p : &local;
        CardEditor editor = ed();
        const EditError e = editor.plan_add(archive, p);
        if (e != EditError::ok) {
            EXPECT_EQ(raw, before) << "a refused save changed the card";
            return e;
        }
        std::vector<uint32_t> taken;
        EXPECT_EQ(editor.add_save(archive, *p, &taken), EditError::ok);
        /* The lowest free clusters, as many as planned. */
        EXPECT_EQ(taken.size(), p->needed);
        for (uint32_t c = 0, k = 0; k < taken.size() && c < g.alloc_clusters; ++c)
            if ((fat_entry(ConstRawImage(before), c, g) & kFatInUse) == 0) {
                EXPECT_EQ(taken[k++], c);
            }
        const std::vector<Entry> now = expect_kept(before, was, taken, p->root_index);
        expect_same_but_card_fields(archive, now[p->root_index], "added save");
        return e;
    }

    void remove(std::string_view name, bool wipe)
    {
        const std::vector<uint8_t> before = raw;
        const std::vector<Entry> was = split_entries(view());
        CardEditor editor = ed();
        const uint32_t index = editor.find_live_save(name);
        ASSERT_NE(index, kNoRootEntry) << name;
        DeletedSave d;
        ASSERT_EQ(editor.delete_save(index, wipe, &d), EditError::ok);
        std::vector<uint32_t> freed;
        for (uint32_t c = 0; c < g.alloc_clusters; ++c)
            if (fat_entry(ConstRawImage(before), c, g) != fat_entry(ConstRawImage(raw), c, g)) freed.push_back(c);
        EXPECT_EQ(freed.size(), d.clusters);
        for (uint32_t c : freed) {
            EXPECT_EQ(fat_entry(ConstRawImage(raw), c, g), wipe ? kFatFree : fat_entry(ConstRawImage(before), c, g) & ~kFatInUse);
            const uint8_t* bytes = cluster_bytes(ConstRawImage(raw), c, g);
            EXPECT_TRUE(!wipe || std::count(bytes, bytes + kClusterSize, 0xFF) == 1024);
        }
        const std::vector<Entry> now = expect_kept(before, was, freed, index);
        Entry gone = was[index]; /* recovered: the same bytes but for the mode's bit 15 */
        gone[1] &= 0x7F;
        EXPECT_TRUE(wipe ? deleted(now[index]) : now[index] == gone);
    }
};

std::vector<uint8_t> named(std::vector<uint8_t> archive, const std::string& name)
{
    std::memset(&archive[psu_field::name], 0, kPsuNameSize);
    std::memcpy(&archive[psu_field::name], name.data(), std::min(name.size(), kPsuNameSize));
    return archive;
}

/* A card of the size with saves OLD0, OLD1 ... placed by the builder. */
EditedCard built_card(uint32_t megabytes, uint32_t saves)
{
    CardGeometry g;
    EXPECT_TRUE(geometry_for_size(megabytes, &g));
    EditedCard c{std::vector<uint8_t>(g.raw_size()), g};
    CardBuilder b(RawImage(c.raw), g);
    for (uint32_t k = 0; k < saves; ++k) {
        ArchivePlan plan;
        auto save = named(samples::build_save(samples::random_save(k + 1, true, 30000)), "OLD" + std::to_string(k));
        EXPECT_EQ(b.add_archive(save, &plan), BuildError::ok);
    }
    return c;
}

} // namespace

TEST(CardEdit, AddAndDeleteKeepEverythingElse)
{
    for (uint32_t mb : {8u, 16u}) {
        SCOPED_TRACE(mb);
        EditedCard c = built_card(mb, 5); /* root of 7 entries */
        c.remove("OLD1", false); /* root entry 3: a deleted save that still splits whole */
        AddPlacement p;
        ASSERT_EQ(c.add(one_file_save("NEW-A", 5000, 1), &p), EditError::ok);
        EXPECT_TRUE(p.reuses_slot && p.root_index == 3); /* the deleted entry's slot */
        ASSERT_EQ(c.add(one_file_save("NEW-B", 100, 2), &p), EditError::ok);
        EXPECT_TRUE(!p.reuses_slot && p.root_index == 7);
        const uint32_t without_root = p.needed; /* NEW-B: entry 7, in the root's last cluster */
        ASSERT_EQ(c.add(one_file_save("NEW-C", 100, 3), &p), EditError::ok); /* entry 8: the root needs a cluster */
        EXPECT_EQ(p.needed, without_root + 1);
        c.remove("NEW-A", true);
        if (HasFatalFailure()) return;

        /* Filled to the last cluster: 2 directory clusters and the data; then nothing more fits. */
        AddPlacement probe;
        ASSERT_EQ(c.ed().plan_add(one_file_save("LAST", 1, 4), &probe), EditError::ok);
        const uint32_t data = probe.free - (probe.needed - 1);
        ASSERT_EQ(c.add(one_file_save("LAST", data * 1024 - 3, 4), &p), EditError::ok);
        EXPECT_EQ(c.ed().free_clusters(), 0u);
        EXPECT_EQ(c.add(save_bytes("EMPTY", {})), EditError::card_full);
    }
}

TEST(CardEdit, CodedCardChangedPagesCarryTheirCodes)
{
    EditedCard c = built_card(8, 4);
    std::vector<uint8_t> coded(c.g.coded_size());
    build_coded_image(ConstRawImage(c.raw), coded, c.g);
    const std::vector<uint8_t> old_coded = coded;
    ASSERT_EQ(c.add(one_file_save("CODED", 3000, 9)), EditError::ok);
    c.remove("OLD0", true);
    const uint32_t written = recode_changed_pages(ConstRawImage(c.raw), coded, c.g);
    uint32_t changed = 0, erased = 0;
    for (size_t p = 0; p < c.g.card_pages(); ++p) {
        uint8_t* page = coded.data() + p * kCodedPageSize;
        if (std::memcmp(page, old_coded.data() + p * kCodedPageSize, kCodedPageSize) == 0) continue;
        ++changed;
        ASSERT_EQ(std::memcmp(page, c.raw.data() + p * kPageSize, kPageSize), 0) << "page " << p;
        const bool blank = std::all_of(page + kPageSize, page + kCodedPageSize, [](uint8_t b) { return b == 0xFF; });
        erased += blank;
        EXPECT_TRUE(blank || ecc_check_page(page, page + kPageSize) == EccPageState::clean) << "page " << p;
    }
    EXPECT_EQ(changed, written);
    EXPECT_GT(erased, 0u); /* the wiped save's pages are erased ones */
}

TEST(CardEdit, SharedCardsFilledEmptiedAndFilledAgain)
{
    PS2_REQUIRE_REALDATA("cards/deleted-saves.ps2", "cards/other-layout.ps2", "dot-hack-infection-japan.psu",
                         "kingdom-hearts-japan.psu", "rez.psu");
    const std::filesystem::path dir = PS2_REALDATA_DIR;
    std::vector<std::vector<uint8_t>> saves;
    for (const char* f : {"dot-hack-infection-japan.psu", "kingdom-hearts-japan.psu", "rez.psu"})
        saves.push_back(test::get((dir / f).string()));
    for (const char* name : {"deleted-saves", "other-layout"}) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> image = test::get((dir / "cards" / (std::string(name) + ".ps2")).string());
        CardLayout layout;
        ASSERT_EQ(read_card_layout(image, image.size(), &layout), CardError::ok);
        ASSERT_EQ(bring_card_to_raw(image, layout), CardError::ok);
        image.resize(layout.geometry.raw_size());
        EditedCard c{image, layout.geometry};
        std::vector<std::string> added;
        for (uint32_t k = 0;; ++k) {
            added.push_back("ADDED" + std::to_string(k));
            const EditError e = c.add(named(saves[k % saves.size()], added.back()));
            if (HasFatalFailure()) return;
            if (e == EditError::card_full) break;
            ASSERT_EQ(e, EditError::ok);
        }
        added.pop_back();
        ASSERT_GE(added.size(), 3u);
        for (const std::string& a : added) c.remove(a, a.back() == '1');
        ASSERT_EQ(c.add(named(saves[2], "AGAIN")), EditError::ok);
    }
}
