/* cardbuild_place_fuzz.cpp -- any bytes as a listed file: planning never reads outside them, and a planned
 * archive is placed taking exactly the clusters the plan counted, never touching the card outside its
 * allocatable area */
#include <cstdlib>
#include <cstring>
#include <vector>

#include "card/card.h"
#include "cardbuild/cardbuild.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ps2;
    /* A copy of exactly the input, so that a read past it is caught by the sanitizers. */
    const std::vector<uint8_t> bytes(data, data + size);
    ArchivePlan plan;
    if (plan_archive(bytes, &plan) != BuildError::ok) return 0;
    if (plan.end > uint64_t(size) + 1023) std::abort(); /* only the last file's padding may be missing */

    static std::vector<uint8_t> card(kRawImageSize);
    CardBuilder builder(RawImage(card.data(), kRawImageSize));
    const uint32_t needed = builder.clusters_needed(plan);
    const BuildError e = builder.place_archive(bytes, plan);
    if (e == BuildError::card_full) {
        if (needed <= kAllocClusters - 1) std::abort();
        if (builder.used_clusters() != 1) std::abort();
        return 0;
    }
    if (e != BuildError::ok) std::abort();
    if (builder.used_clusters() != 1 + needed) std::abort();
    if (root_entry_count(ConstRawImage(card.data(), kRawImageSize)) != 3) std::abort();
    for (uint32_t c = kAllocClusters; c < kCardClusters; ++c)
        if (fat_entry(ConstRawImage(card.data(), kRawImageSize), c) != kFatEnd) std::abort();
    for (size_t off = kReservedBlocksOffset; off < kRawImageSize; ++off)
        if (card[off] != 0xFF) std::abort();
    return 0;
}
