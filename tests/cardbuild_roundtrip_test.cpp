/* cardbuild_roundtrip_test.cpp -- TAVIRO then SORVIK gives back every archive: the same entries and data,
 * with `cluster`, `dir_entry` and the directory lengths as the builder sets them and the padding as the
 * splitter copies it (zeros, since the builder zero-fills behind a file's end) */
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "cardbuild_test_util.h"
#include "cardsplit/cardsplit.h"

using namespace ps2;
using namespace ps2::test;
using samples::Fill;

namespace {

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
