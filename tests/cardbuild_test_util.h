/* cardbuild_test_util.h -- helpers of TAVIRO's tests: sample archives, a card in memory, a checker that reads
 * a built card back through the card format's own chain and directory functions */
#pragma once

#include <gtest/gtest.h>

#include <bitset>
#include <cstring>
#include <string>
#include <vector>

#include "card/card.h"
#include "cardbuild/cardbuild.h"
#include "common/psu.h"
#include "tools/samplegen.h"

namespace ps2::test {

inline std::vector<uint8_t> save_bytes(const std::string& name, std::vector<samples::Member> members, uint32_t seed = 1)
{
    samples::Save s;
    s.name = name;
    s.title = "Test";
    s.members = std::move(members);
    s.seed = seed;
    return samples::build_save(s);
}

inline samples::Member file_member(const std::string& name, uint32_t size, samples::Fill fill = samples::Fill::random)
{
    return {name, size, fill, false, {}};
}

struct MemCard {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kRawImageSize);
    CardBuilder builder{RawImage(bytes.data(), kRawImageSize)};
    ConstRawImage image() const { return ConstRawImage(bytes.data(), kRawImageSize); }
    uint32_t fat(uint32_t c) const { return fat_entry(image(), c); }
    const uint8_t* cluster(uint32_t c) const { return cluster_bytes(image(), c); }
};

/* Reads a built card back and checks it against the archives placed on it:
 * every cluster in use belongs to exactly one chain, every entry equals the
 * archive's record but for the fields the builder sets, every file's data
 * equals the archive's and its last cluster is zero behind it. */
class CardChecker {
public:
    explicit CardChecker(ConstRawImage card) : card_(card) {}

    /* Checks root entry `index` against an archive placed whole. */
    void expect_save(uint32_t root_index, std::span<const uint8_t> archive)
    {
        CardDirectory root;
        ASSERT_EQ(read_card_directory(card_, kRootCluster, root_entry_count(card_), &root), CardError::ok);
        const uint8_t* entry = directory_entry(card_, root.chain, root_index);
        ASSERT_NE(entry, nullptr);
        size_t pos = 0;
        expect_node(entry, archive, &pos, kRootCluster, root_index);
    }

    /* Marks the root's chain and every chain below it; fails on a cluster met twice. */
    void expect_clusters_owned_once(uint32_t used)
    {
        owned_.reset();
        mark_directory(kRootCluster, root_entry_count(card_), 0);
        for (uint32_t c = 0; c < kAllocClusters; ++c) {
            const bool in_use = (fat_entry(card_, c) & kFatInUse) != 0;
            ASSERT_EQ(in_use, c < used) << "cluster " << c;
            ASSERT_EQ(owned_.test(c), in_use) << "cluster " << c;
        }
        for (uint32_t c = kAllocClusters; c < kCardClusters; ++c) ASSERT_EQ(fat_entry(card_, c), kFatEnd) << c;
        for (size_t off = kReservedBlocksOffset; off < kRawImageSize; ++off) ASSERT_EQ(card_[off], 0xFF) << off;
    }

private:
    static bool same_except(const uint8_t* a, const uint8_t* b, std::initializer_list<size_t> fields)
    {
        uint8_t x[kPsuEntrySize], y[kPsuEntrySize];
        std::memcpy(x, a, kPsuEntrySize);
        std::memcpy(y, b, kPsuEntrySize);
        for (size_t f : fields) {
            std::memset(x + f, 0, 4);
            std::memset(y + f, 0, 4);
        }
        return std::memcmp(x, y, kPsuEntrySize) == 0;
    }

    void expect_node(const uint8_t* entry, std::span<const uint8_t> archive, size_t* pos, uint32_t parent,
                     uint32_t index)
    {
        const uint8_t* rec = archive.data() + *pos;
        const uint16_t mode = record_mode(rec);
        ASSERT_EQ(record_mode(entry), mode);
        if (mode_is_directory(mode)) {
            EXPECT_TRUE(same_except(entry, rec, {psu_field::length, psu_field::cluster}));
            EXPECT_EQ(record_dir_entry(entry), record_dir_entry(rec));
            const uint32_t d = record_cluster(entry);
            CardDirectory dir;
            ASSERT_EQ(read_card_directory(card_, d, record_length(entry), &dir), CardError::ok);
            const uint8_t* dot = directory_entry(card_, dir.chain, 0);
            const uint8_t* dotdot = directory_entry(card_, dir.chain, 1);
            EXPECT_TRUE(same_except(dot, rec + 512, {psu_field::cluster, psu_field::dir_entry}));
            EXPECT_EQ(record_cluster(dot), parent);
            EXPECT_EQ(record_dir_entry(dot), index);
            EXPECT_EQ(std::memcmp(dotdot, rec + 1024, 512), 0);
            *pos += 1536;
            const uint32_t members = record_length(entry) - 2;
            for (uint32_t k = 0; k < members; ++k) {
                expect_node(directory_entry(card_, dir.chain, 2 + k), archive, pos, d, 2 + k);
                if (testing::Test::HasFatalFailure()) return;
            }
            if (dir.entry_count % 2 == 1) {
                const uint8_t* free_half = cluster_bytes(card_, dir.chain.back()) + 512;
                for (int b = 0; b < 512; ++b) ASSERT_EQ(free_half[b], 0xFF);
            }
        } else {
            EXPECT_TRUE(same_except(entry, rec, {psu_field::cluster}));
            const uint32_t length = record_length(rec);
            if (length == 0) {
                EXPECT_EQ(record_cluster(entry), kFatEnd);
            } else {
                std::vector<uint32_t> chain;
                ASSERT_EQ(follow_chain(card_, record_cluster(entry), &chain), CardError::ok);
                ASSERT_EQ(chain.size(), (length + 1023) / 1024);
                for (size_t k = 0; k < chain.size(); ++k) {
                    EXPECT_EQ(chain[k], chain[0] + k); /* one contiguous run */
                    const size_t piece = std::min<size_t>(1024, length - 1024 * k);
                    const uint8_t* c = cluster_bytes(card_, chain[k]);
                    ASSERT_EQ(std::memcmp(c, rec + 512 + 1024 * k, piece), 0);
                    for (size_t b = piece; b < 1024; ++b) ASSERT_EQ(c[b], 0) << "tail of the last cluster";
                }
            }
            *pos += 512 + size_t(round_up_1024(length));
        }
    }

    void mark_chain(uint32_t first)
    {
        std::vector<uint32_t> chain;
        ASSERT_EQ(follow_chain(card_, first, &chain), CardError::ok);
        for (uint32_t c : chain) {
            ASSERT_FALSE(owned_.test(c)) << "cluster " << c << " has two owners";
            owned_.set(c);
        }
    }

    void mark_directory(uint32_t first, uint32_t count, int depth)
    {
        ASSERT_LT(depth, 64);
        mark_chain(first);
        CardDirectory dir;
        ASSERT_EQ(read_card_directory(card_, first, count, &dir), CardError::ok);
        for (uint32_t k = 2; k < dir.entry_count; ++k) {
            const uint8_t* e = directory_entry(card_, dir.chain, k);
            if (mode_is_directory(record_mode(e)))
                mark_directory(record_cluster(e), record_length(e), depth + 1);
            else if (record_length(e) != 0)
                mark_chain(record_cluster(e));
            if (testing::Test::HasFatalFailure()) return;
        }
    }

    ConstRawImage card_;
    std::bitset<kAllocClusters> owned_;
};

} // namespace ps2::test
