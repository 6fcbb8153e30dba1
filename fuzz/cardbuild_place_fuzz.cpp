/* cardbuild_place_fuzz.cpp -- any bytes as a listed file: planning never reads outside them, and a planned
 * archive is placed taking exactly the clusters the plan counted, never touching the card outside its
 * allocatable area */
#include <vector>

#include "card/card.h"
#include "cardbuild/cardbuild.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ps2;
    /* A copy of exactly the input, so that a read past it is caught by the sanitizers. */
    const std::vector<uint8_t> bytes(data, data + size);
    ArchivePlan plan;
    if (plan_archive(bytes, &plan) != BuildError::ok) return 0;
    FUZZ_CHECK(plan.end <= uint64_t(size) + 1023); /* only the last file's padding may be missing */

    static std::vector<uint8_t> card(kRawImageSize);
    CardBuilder builder(RawImage(card.data(), kRawImageSize));
    const uint32_t needed = builder.clusters_needed(plan);
    const BuildError e = builder.place_archive(bytes, plan);
    if (e == BuildError::card_full) {
        FUZZ_CHECK(needed > kAllocClusters - 1);
        FUZZ_CHECK(builder.used_clusters() == 1);
        return 0;
    }
    FUZZ_CHECK(e == BuildError::ok);
    FUZZ_CHECK(builder.used_clusters() == 1 + needed);
    FUZZ_CHECK(root_entry_count(ConstRawImage(card.data(), kRawImageSize)) == 3);
    for (uint32_t c = kAllocClusters; c < kCardClusters; ++c)
        FUZZ_CHECK(fat_entry(ConstRawImage(card.data(), kRawImageSize), c) == kFatEnd);
    for (size_t off = kReservedBlocksOffset; off < kRawImageSize; ++off) FUZZ_CHECK(card[off] == 0xFF);
    return 0;
}
