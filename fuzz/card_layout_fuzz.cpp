/* card_layout_fuzz.cpp -- any superblock and indirect FAT: recognising the image never reads outside the bytes
 * given, and a layout taken from the superblock always lies inside its card (else the fixed 8 MB map is used).
 *
 * Input: a byte choosing the file's size, then the superblock's first 512 bytes (behind the signature, which
 * stays), then 1024 bytes put at both clusters 8 and 16 (where indirect FATs stand), over a fresh 8 MB card's
 * first 64 clusters, read raw or coded as the size says. */
#include <algorithm>
#include <cstring>
#include <vector>

#include "card/card.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace ps2;

constexpr size_t kHeld = 64 * kClusterSize;

struct State {
    std::vector<uint8_t> fresh = std::vector<uint8_t>(kRawImageSize);
    State() { layout_fresh_card(fresh); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static State s;
    fuzz::InputCursor in(data, size);
    const uint64_t sizes[] = {kHeld, kRawImageSize, kCodedImageSize, 2 * kRawImageSize, 2 * kCodedImageSize,
                              kMaxRawImageSize, kMaxCodedImageSize, kCodedImageSize - 1};
    const uint8_t choice = in.byte();
    const uint64_t file_size = sizes[choice % 8];
    const bool coded = (choice & 8) != 0; /* lay the held bytes out as coded pages */

    std::vector<uint8_t> raw(s.fresh.begin(), s.fresh.begin() + long(kHeld));
    const auto sb = in.take(kPageSize - kCardSignatureSize);
    std::copy(sb.begin(), sb.end(), raw.begin() + long(kCardSignatureSize));
    const auto ifat = in.take(kClusterSize);
    for (size_t c : {8u, 16u}) std::copy(ifat.begin(), ifat.end(), raw.begin() + long(c * kClusterSize));
    std::vector<uint8_t> file(kHeld);
    for (size_t p = 0; p * (coded ? kCodedPageSize : kPageSize) + kPageSize <= kHeld; ++p)
        std::memcpy(file.data() + p * (coded ? kCodedPageSize : kPageSize), raw.data() + p * kPageSize, kPageSize);

    CardLayout l;
    FUZZ_CHECK(read_card_layout(file, file_size, &l) == CardError::ok);
    const CardGeometry& g = l.geometry;
    FUZZ_CHECK(l.present <= g.raw_size() && l.buffer_size() <= kMaxCodedImageSize);
    if (l.problem != LayoutProblem::none) {
        FUZZ_CHECK(l.standard());
        return 0;
    }
    const uint32_t n = g.clusters_per_card;
    FUZZ_CHECK(n >= kSmallestCardClusters && n <= kLargestCardClusters && (n & (n - 1)) == 0);
    FUZZ_CHECK(g.alloc_offset >= 1 && g.alloc_clusters >= 1 && uint64_t(g.alloc_offset) + g.alloc_clusters <= n);
    FUZZ_CHECK(g.root_cluster < g.alloc_clusters && g.fat_entries() >= g.alloc_clusters);
    FUZZ_CHECK(g.ifat_count >= 1 && g.ifat_count <= kSuperblockIfatSlots && g.fat_count <= kMaxFatClusters);
    std::vector<bool> met(g.alloc_offset);
    for (uint32_t k = 0; k < g.ifat_count + g.fat_count; ++k) {
        const uint32_t c = k < g.ifat_count ? g.ifat[k] : g.fat[k - g.ifat_count];
        FUZZ_CHECK(c >= 1 && c < g.alloc_offset && !met[c]);
        met[c] = true;
        FUZZ_CHECK(size_t(c + 1) * kClusterSize <= l.present); /* the FAT lies in the bytes held */
    }
    FUZZ_CHECK(g.fat_entry_offset(g.alloc_clusters - 1) + 4 <= g.raw_size());
    return 0;
}
