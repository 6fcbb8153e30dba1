/* cardbuild_card_fuzz.cpp -- a card built from any listed files, as TAVIRO's save builds it: files that cannot
 * be placed whole are left out, a list that needs more clusters than the card has is refused with the card
 * unchanged, no cluster ever has two owners (checked by walking the card's FAT and directories), nothing is
 * written outside the allocatable area, and the coded form carries the raw image page for page.
 *
 * Input: one options byte (bit 0: also the coded form), one byte n that fills 32 * n clusters of the card
 * with a file of zeros before the list is placed (so that small inputs can fill the card), then the listed
 * files, separated by the 8 bytes "%%FILE%%"; each file's first byte says how often it is listed (1 to 8),
 * the rest are its bytes. */
#include <algorithm>
#include <bitset>
#include <cstring>
#include <string_view>
#include <vector>

#include "card/card.h"
#include "card/ecc.h"
#include "cardbuild/cardbuild.h"
#include "common/psu.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace ps2;

constexpr std::string_view kSeparator = "%%FILE%%";
constexpr size_t kMaxListed = 64;

struct State {
    std::vector<uint8_t> card = std::vector<uint8_t>(kRawImageSize);
    std::vector<uint8_t> coded = std::vector<uint8_t>(kCodedImageSize);
    std::vector<uint8_t> fat_before = std::vector<uint8_t>(4 * size_t(kCardClusters));
    std::vector<uint8_t> zeros = std::vector<uint8_t>(kRawImageSize);
    std::vector<uint8_t> ones = std::vector<uint8_t>(kRawImageSize - kReservedBlocksOffset, 0xFF);
};

/* Marks every cluster reachable from the root; false when one is reached twice or a chain or directory
 * cannot be read. */
class Owners {
public:
    explicit Owners(ConstRawImage card) : card_(card) {}

    bool mark_tree()
    {
        struct Dir {
            uint32_t first, count;
        };
        std::vector<Dir> todo{{kRootCluster, root_entry_count(card_)}};
        while (!todo.empty()) {
            const Dir d = todo.back();
            todo.pop_back();
            if (!mark_chain(d.first)) return false;
            CardDirectory dir;
            if (read_card_directory(card_, d.first, d.count, &dir) != CardError::ok) return false;
            for (uint32_t k = 2; k < dir.entry_count; ++k) {
                const uint8_t* e = directory_entry(card_, dir.chain, k);
                const uint16_t mode = record_mode(e);
                if (mode_is_directory(mode)) {
                    if (todo.size() >= kAllocClusters) return false;
                    todo.push_back({record_cluster(e), record_length(e)});
                } else if (mode_is_file(mode) && record_length(e) != 0) {
                    if (!mark_chain(record_cluster(e))) return false;
                }
            }
        }
        return true;
    }
    bool owned(uint32_t c) const { return owned_.test(c); }

private:
    bool mark_chain(uint32_t first)
    {
        std::vector<uint32_t> chain;
        if (follow_chain(card_, first, &chain) != CardError::ok) return false;
        for (const uint32_t c : chain) {
            if (owned_.test(c)) return false; /* a second owner */
            owned_.set(c);
        }
        return true;
    }

    ConstRawImage card_;
    std::bitset<kAllocClusters> owned_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static State s;
    if (size < 2) return 0;
    const bool coded = (data[0] & 1) != 0;
    const uint32_t filler_clusters = 32u * data[1];
    const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);

    /* The list: each piece as often as its first byte says. Every piece is copied to memory of its own
     * size, so that a read past a file's bytes is caught. */
    std::vector<std::vector<uint8_t>> files;
    std::vector<size_t> listed;
    for (size_t at = 0; at <= text.size() && listed.size() < kMaxListed;) {
        size_t end = text.find(kSeparator, at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view piece = text.substr(at, end - at);
        const unsigned copies = piece.empty() ? 1 : 1 + (uint8_t(piece[0]) & 7);
        files.emplace_back(piece.empty() ? piece.begin() : piece.begin() + 1, piece.end());
        for (unsigned k = 0; k < copies && listed.size() < kMaxListed; ++k) listed.push_back(files.size() - 1);
        at = end + kSeparator.size();
    }

    CardBuilder builder(RawImage(s.card.data(), kRawImageSize));
    const ConstRawImage card(s.card.data(), kRawImageSize);
    uint32_t placed = 0;
    if (filler_clusters != 0 && filler_clusters + 1 <= builder.free_clusters()) {
        const std::span<const uint8_t> zeros(s.zeros.data(), size_t(filler_clusters) * kClusterSize);
        const PsuEntry filler = make_file_entry("FILLER", uint32_t(zeros.size()));
        uint8_t record[kPsuEntrySize];
        encode_psu_entry(filler, record);
        uint32_t first = 0;
        FUZZ_CHECK(builder.store_file_data(zeros, &first));
        FUZZ_CHECK(builder.insert_entry(kRootCluster, record, first));
        ++placed;
    }
    for (const size_t f : listed) {
        const std::span<const uint8_t> bytes = files[f];
        ArchivePlan plan;
        if (plan_archive(bytes, &plan) != BuildError::ok) continue; /* left out */
        FUZZ_CHECK(plan.end <= bytes.size() + 1023); /* only the last file's padding may be missing */
        const uint32_t needed = builder.clusters_needed(plan);
        const uint32_t used = builder.used_clusters(), free_before = builder.free_clusters();
        std::memcpy(s.fat_before.data(), card.data() + kFatOffset, s.fat_before.size());
        const BuildError e = builder.place_archive(bytes, plan);
        if (needed > free_before) {
            /* Overflow: refused, and the card is as it was. */
            FUZZ_CHECK(e == BuildError::card_full);
            FUZZ_CHECK(builder.used_clusters() == used);
            FUZZ_CHECK(std::memcmp(s.fat_before.data(), card.data() + kFatOffset, s.fat_before.size()) == 0);
            break; /* the save refuses the whole card */
        }
        FUZZ_CHECK(e == BuildError::ok);
        FUZZ_CHECK(builder.used_clusters() == used + needed);
        ++placed;
    }

    /* Every cluster in use has exactly one owner, and the clusters in use are 0 .. used - 1. */
    FUZZ_CHECK(root_entry_count(card) == 2 + placed);
    Owners owners(card);
    FUZZ_CHECK(owners.mark_tree());
    const uint32_t used = builder.used_clusters();
    for (uint32_t c = 0; c < kAllocClusters; ++c) {
        const bool in_use = (fat_entry(card, c) & kFatInUse) != 0;
        FUZZ_CHECK(in_use == (c < used));
        FUZZ_CHECK(owners.owned(c) == in_use);
    }
    /* Nothing outside the allocatable area. */
    for (uint32_t c = kAllocClusters; c < kCardClusters; ++c) FUZZ_CHECK(fat_entry(card, c) == kFatEnd);
    FUZZ_CHECK(std::memcmp(card.data() + kReservedBlocksOffset, s.ones.data(), s.ones.size()) == 0);

    if (coded) {
        build_coded_image(card, std::span<uint8_t, kCodedImageSize>(s.coded.data(), kCodedImageSize));
        for (size_t p = 0; p < kCardPages; ++p)
            FUZZ_CHECK(std::memcmp(s.coded.data() + p * kCodedPageSize, card.data() + p * kPageSize, kPageSize) == 0);
        const size_t end = coded_end_offset(card);
        for (size_t p = end / kPageSize; p < kCardPages; ++p)
            FUZZ_CHECK(std::memcmp(s.coded.data() + p * kCodedPageSize + kPageSize, s.ones.data(), kSpareSize) == 0);
        /* What SORVIK does with the file: the raw image again. */
        FUZZ_CHECK(bring_card_to_raw(s.coded, kCodedImageSize) == CardError::ok);
        FUZZ_CHECK(std::memcmp(s.coded.data(), card.data(), kRawImageSize) == 0);
    }
    return 0;
}
