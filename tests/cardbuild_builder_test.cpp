/* cardbuild_builder_test.cpp -- placing archives: the allocation order cluster by cluster, the fields set,
 * nested directories, records of neither kind, malformed archives, a card filled to its last cluster */
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cardbuild_test_util.h"

using namespace ps2;
using namespace ps2::test;
using samples::Fill;

namespace {

/* The two archives of the worked example: a save with files of 3000 and 100
 * bytes; then a save with a 1024-byte file and an empty one. */
std::vector<uint8_t> worked_first() { return save_bytes("SAVE-ONE", {file_member("A", 3000), file_member("B", 100)}, 3); }
std::vector<uint8_t> worked_second()
{
    return save_bytes("SAVE-TWO", {file_member("C", 1024), file_member("D", 0, Fill::zeros)}, 4);
}

void place(MemCard& card, std::span<const uint8_t> archive)
{
    ArchivePlan plan;
    ASSERT_EQ(card.builder.add_archive(archive, &plan), BuildError::ok);
}

/* A record of the given mode and length, as an archive would hold it. */
std::vector<uint8_t> record(uint16_t mode, uint32_t length, const char* name)
{
    std::vector<uint8_t> r(512, 0);
    store_u16le(r.data(), mode);
    store_u32le(r.data() + 4, length);
    std::strncpy(reinterpret_cast<char*>(r.data() + 0x40), name, 32);
    return r;
}

} // namespace

TEST(CardBuilder, WorkedExampleClusterByCluster)
{
    MemCard card;
    const auto one = worked_first();
    place(card, one);

    const uint32_t after_one[] = {0x80000002, 0x80000006, 0xFFFFFFFF, 0x80000004, 0x80000005,
                                  0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x7FFFFFFF};
    for (uint32_t c = 0; c < std::size(after_one); ++c) EXPECT_EQ(card.fat(c), after_one[c]) << c;
    EXPECT_EQ(record_length(card.cluster(0)), 3u);        /* root "." */
    const uint8_t* save = card.cluster(2);                 /* root entry 2 */
    EXPECT_EQ(psu_record_name(save), "SAVE-ONE");
    EXPECT_EQ(record_length(save), 4u);
    EXPECT_EQ(record_cluster(save), 1u);
    EXPECT_EQ(record_dir_entry(save), record_dir_entry(one.data())); /* unchanged */
    EXPECT_EQ(record_cluster(card.cluster(1)), 0u);        /* the save's "." */
    EXPECT_EQ(record_dir_entry(card.cluster(1)), 2u);
    EXPECT_EQ(psu_record_name(card.cluster(1) + 512), ".."); /* ".." copied as it is */
    EXPECT_EQ(std::memcmp(card.cluster(1) + 512, one.data() + 1024, 512), 0);
    EXPECT_EQ(psu_record_name(card.cluster(6)), "A");
    EXPECT_EQ(record_cluster(card.cluster(6)), 3u);
    EXPECT_EQ(psu_record_name(card.cluster(6) + 512), "B");
    EXPECT_EQ(record_cluster(card.cluster(6) + 512), 7u);
    /* The root's second cluster is not cleared: its free half stays 0xFF. */
    for (int b = 512; b < 1024; ++b) ASSERT_EQ(card.cluster(2)[b], 0xFF);

    const auto two = worked_second();
    place(card, two);
    const uint32_t after_two[] = {0x80000002, 0x80000006, 0xFFFFFFFF, 0x80000004, 0x80000005, 0xFFFFFFFF,
                                  0xFFFFFFFF, 0xFFFFFFFF, 0x8000000A, 0xFFFFFFFF, 0xFFFFFFFF, 0x7FFFFFFF};
    for (uint32_t c = 0; c < std::size(after_two); ++c) EXPECT_EQ(card.fat(c), after_two[c]) << c;
    EXPECT_EQ(record_length(card.cluster(0)), 4u);
    const uint8_t* save2 = card.cluster(2) + 512; /* root entry 3, no new root cluster */
    EXPECT_EQ(psu_record_name(save2), "SAVE-TWO");
    EXPECT_EQ(record_cluster(save2), 8u);
    EXPECT_EQ(record_length(save2), 4u);
    EXPECT_EQ(record_cluster(card.cluster(8)), 0u);
    EXPECT_EQ(record_dir_entry(card.cluster(8)), 3u);
    EXPECT_EQ(psu_record_name(card.cluster(10)), "C");
    EXPECT_EQ(record_cluster(card.cluster(10)), 9u);
    EXPECT_EQ(psu_record_name(card.cluster(10) + 512), "D");
    EXPECT_EQ(record_cluster(card.cluster(10) + 512), kFatEnd); /* an empty file owns no cluster */
    EXPECT_EQ(card.builder.used_clusters(), 11u);

    CardChecker check(card.image());
    check.expect_save(2, one);
    check.expect_save(3, two);
    check.expect_clusters_owned_once(11);
}

TEST(CardBuilder, EmptyListIsAFreshCard)
{
    MemCard card;
    std::vector<uint8_t> fresh(kRawImageSize);
    layout_fresh_card(RawImage(fresh.data(), kRawImageSize));
    EXPECT_EQ(card.bytes, fresh);
    EXPECT_EQ(card.builder.used_clusters(), 1u);
    EXPECT_EQ(card.builder.free_clusters(), 8134u);
}

TEST(CardBuilder, SavesOfEveryShape)
{
    MemCard card;
    /* An empty save: one cluster, root entry of length 2. */
    const auto empty = save_bytes("EMPTY", {});
    place(card, empty);
    EXPECT_EQ(record_length(card.cluster(2)), 2u);
    EXPECT_EQ(card.fat(1), 0xFFFFFFFFu);

    /* A nested directory: its entry points at its own first cluster, its "." at the save's. */
    std::vector<samples::Member> members = {file_member("TOP", 1500)};
    members.push_back({"SUB", 0, Fill::zeros, true, {file_member("IN", 2048), file_member("NIL", 0, Fill::zeros)}});
    const auto nested = save_bytes("NESTED", members, 9);
    const uint32_t save_cluster = card.builder.used_clusters();
    place(card, nested);
    CardDirectory save;
    ASSERT_EQ(read_card_directory(card.image(), save_cluster, 4, &save), CardError::ok);
    const uint8_t* sub = directory_entry(card.image(), save.chain, 3);
    ASSERT_EQ(psu_record_name(sub), "SUB");
    EXPECT_EQ(record_length(sub), 4u);
    const uint32_t sub_cluster = record_cluster(sub);
    EXPECT_EQ(record_cluster(card.cluster(sub_cluster)), save_cluster);
    EXPECT_EQ(record_dir_entry(card.cluster(sub_cluster)), 3u);

    /* An archive whose top record is a file goes into the root as a file. */
    std::vector<uint8_t> lone = record(0x8417, 700, "LONE.BIN");
    lone.resize(512 + 1024, 0x5A);
    place(card, lone);
    CardDirectory root;
    ASSERT_EQ(read_card_directory(card.image(), 0, root_entry_count(card.image()), &root), CardError::ok);
    ASSERT_EQ(root.entry_count, 5u);
    const uint8_t* file = directory_entry(card.image(), root.chain, 4);
    EXPECT_EQ(psu_record_name(file), "LONE.BIN");
    EXPECT_EQ(record_length(file), 700u);

    /* A record with both kind bits is a directory. */
    auto both = save_bytes("BOTH", {file_member("X", 10)});
    store_u16le(both.data(), 0x8437);
    place(card, both);

    CardChecker check(card.image());
    check.expect_save(2, empty);
    check.expect_save(3, nested);
    check.expect_save(4, lone);
    check.expect_save(5, both);
    check.expect_clusters_owned_once(card.builder.used_clusters());
}

TEST(CardBuilder, RecordOfNeitherKindEndsTheArchive)
{
    /* Save of four members where the second is of neither kind. */
    auto a = save_bytes("CUT", {file_member("KEEP", 2000), file_member("GONE", 10), file_member("LOST", 10)});
    const size_t second = 1536 + 512 + 2048;
    store_u16le(a.data() + second, 0x8407);
    ArchivePlan plan;
    ASSERT_EQ(plan_archive(a, &plan), BuildError::ok);
    EXPECT_TRUE(plan.cut_short);
    EXPECT_EQ(plan.cut_offset, second);
    EXPECT_EQ(plan.files, 1u);
    EXPECT_EQ(plan.clusters, 2u + 2u); /* a directory of 3 entries, 2000 bytes of data */

    MemCard card;
    ASSERT_EQ(card.builder.place_archive(a, plan), BuildError::ok);
    EXPECT_EQ(record_length(card.cluster(2)), 3u); /* counts only the member before it */
    EXPECT_EQ(card.builder.used_clusters(), 1u + plan.clusters + 1u);

    /* The same record in a nested directory also ends the enclosing ones. */
    std::vector<samples::Member> members = {
        {"SUB", 0, Fill::zeros, true, {file_member("IN", 10), file_member("BAD", 10)}}, file_member("AFTER", 10)};
    auto n = save_bytes("NEST", members);
    store_u16le(n.data() + 1536 + 1536 + 1024 + 512, 0x0000); /* "BAD" */
    ASSERT_EQ(plan_archive(n, &plan), BuildError::ok);
    EXPECT_TRUE(plan.cut_short);
    EXPECT_EQ(plan.directories, 2u);
    EXPECT_EQ(plan.files, 1u);
}

TEST(CardBuilder, MalformedArchivesAreRefusedWhole)
{
    const auto good = save_bytes("GOOD", {file_member("A", 3000), file_member("B", 0, Fill::zeros)});
    auto with_length = [&](size_t at, uint32_t length) {
        auto b = good;
        store_u32le(b.data() + at + 4, length);
        return b;
    };
    std::vector<uint8_t> dir_only = record(0x8427, 2, "D");
    std::vector<uint8_t> text(4000, 'x');
    std::memcpy(text.data(), "# A text file", 13); /* "# " has the directory bit */
    std::vector<uint8_t> neither = record(0x8407, 0, "N");
    neither.resize(2048);
    std::vector<uint8_t> huge_file = record(0x8417, 0xFFFFFFFF, "F");
    huge_file.resize(4096);
    /* A card whose root chain leads out of the card (the archive itself is sound). */
    auto root_chain_out = [](MemCard& card) {
        set_fat_entry(RawImage(card.bytes.data(), kRawImageSize), kRootCluster, kFatInUse + 8150);
    };

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        BuildError expected;
        void (*damage)(MemCard&) = nullptr; /* done to the card before placing */
    } cases[] = {
        {"no bytes", {}, BuildError::empty_file},
        {"shorter than a record", std::vector<uint8_t>(good.begin(), good.begin() + 100), BuildError::truncated_entry},
        {"directory without its links", dir_only, BuildError::truncated_links},
        {"more members than bytes", with_length(0, 5), BuildError::truncated_entry},
        {"members counted up to 2^32", with_length(0, 0xFFFFFFFF), BuildError::truncated_entry},
        {"file longer than the bytes", with_length(1536, 5000), BuildError::truncated_data},
        {"file length 2^32 - 1", with_length(1536, 0xFFFFFFFF), BuildError::truncated_data},
        {"top record of neither kind", neither, BuildError::not_an_archive},
        {"text with a directory bit", text, BuildError::no_links},
        {"top file longer than the bytes", huge_file, BuildError::truncated_data},
        {"empty top file, damaged root chain", record(0x8417, 0, "E"), BuildError::damaged_card, root_chain_out},
    };
    for (const Case& c : cases) {
        ArchivePlan plan;
        EXPECT_EQ(plan_archive(c.bytes, &plan), c.damage ? BuildError::ok : c.expected) << c.what;
        MemCard card;
        if (c.damage) c.damage(card);
        ArchivePlan p2;
        EXPECT_EQ(card.builder.add_archive(c.bytes, &p2), c.expected) << c.what;
        EXPECT_EQ(card.builder.used_clusters(), 1u) << c.what; /* nothing placed */
        EXPECT_EQ(root_entry_count(card.image()), 2u) << c.what;
    }

    /* Every prefix is planned without reading past it; only the whole archive is taken. */
    for (size_t n = 0; n <= good.size(); ++n) {
        ArchivePlan plan;
        const BuildError e = plan_archive(std::span<const uint8_t>(good.data(), n), &plan);
        EXPECT_EQ(e == BuildError::ok, n == good.size()) << n;
    }
    /* The padding behind the last file's data may be missing. */
    const auto last = save_bytes("LAST", {file_member("A", 3000)});
    ArchivePlan plan;
    EXPECT_EQ(plan_archive(std::span<const uint8_t>(last.data(), 2048 + 3000), &plan), BuildError::ok);
    EXPECT_EQ(plan_archive(std::span<const uint8_t>(last.data(), 2048 + 2999), &plan), BuildError::truncated_data);
}

TEST(CardBuilder, ClusterCountsMatchWhatPlacingTakes)
{
    MemCard card;
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        const auto bytes = samples::build_save(samples::random_save(seed, true, 20000));
        ArchivePlan plan;
        ASSERT_EQ(plan_archive(bytes, &plan), BuildError::ok) << seed;
        const uint32_t needed = card.builder.clusters_needed(plan);
        if (needed > card.builder.free_clusters()) break;
        const uint32_t before = card.builder.used_clusters();
        ASSERT_EQ(card.builder.place_archive(bytes, plan), BuildError::ok);
        EXPECT_EQ(card.builder.used_clusters() - before, needed) << seed;
        CardChecker(card.image()).expect_save(root_entry_count(card.image()) - 1, bytes);
    }
    EXPECT_EQ(root_entry_count(card.image()), 62u);
    CardChecker(card.image()).expect_clusters_owned_once(card.builder.used_clusters());
}

TEST(CardBuilder, FullCardToTheLastClusterThenRefused)
{
    /* 8134 free clusters. The first save takes its directory (2 clusters: 3
     * entries), 7000 data clusters and the root's second cluster; the second
     * takes 2 + its data and no root cluster (the root count is odd). */
    MemCard card;
    const auto big = save_bytes("BIG", {file_member("DATA", 7000 * 1024, Fill::zeros)});
    place(card, big);
    EXPECT_EQ(card.builder.free_clusters(), 8134u - 7003u);

    const auto too_big = save_bytes("REST", {file_member("DATA", 1130 * 1024 - 5, Fill::text)});
    const std::vector<uint8_t> before = card.bytes;
    ArchivePlan plan;
    EXPECT_EQ(card.builder.add_archive(too_big, &plan), BuildError::card_full);
    EXPECT_EQ(card.builder.clusters_needed(plan), 1132u);
    EXPECT_EQ(card.bytes, before) << "a refused archive changes nothing";

    const auto exact = save_bytes("REST", {file_member("DATA", 1129 * 1024 - 5, Fill::text)});
    place(card, exact);
    EXPECT_EQ(card.builder.free_clusters(), 0u);
    EXPECT_EQ(find_first_free_cluster(card.image()), kAllocClusters);

    /* Even an empty save needs a cluster now. */
    const auto empty = save_bytes("E", {});
    EXPECT_EQ(card.builder.add_archive(empty, &plan), BuildError::card_full);
    uint32_t first = 0;
    EXPECT_FALSE(card.builder.store_file_data(std::vector<uint8_t>(1, 0), &first));
    EXPECT_EQ(card.bytes.size(), kRawImageSize);

    CardChecker check(card.image());
    check.expect_save(2, big);
    check.expect_save(3, exact);
    check.expect_clusters_owned_once(kAllocClusters);
}
