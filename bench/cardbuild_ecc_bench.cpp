/* cardbuild_ecc_bench.cpp -- the page code in MB/s of page data on one core: the word fold used by the
 * builder next to a table step per byte and a branch per byte, and the coded image of a full card
 *
 * Run: build/bin/cardbuild_bench --benchmark_filter=PageCode --benchmark_repetitions=5
 *      --benchmark_report_aggregates_only=true, and read the median lines. */
#include <benchmark/benchmark.h>

#include <array>
#include <random>
#include <vector>

#include "card/card.h"
#include "card/ecc.h"

namespace {

using namespace ps2;

std::vector<uint8_t> random_pages(size_t n)
{
    std::mt19937 g(99);
    std::vector<uint8_t> b(n);
    for (auto& x : b) x = uint8_t(g());
    return b;
}

/* The code as written in the format: a table step and a branch per byte. */
std::array<uint8_t, 3> branchy_chunk_code(const uint8_t* chunk)
{
    unsigned column = 0, line_a = 0, line_b = 0;
    for (unsigned i = 0; i < 128; ++i) {
        const uint8_t t = kEccParityTable[chunk[i]];
        column ^= t;
        if (t & 0x80) {
            line_a ^= i;
            line_b ^= 127 - i;
        }
    }
    return {uint8_t(~column & 0x77), uint8_t(~line_b & 0x7F), uint8_t(~line_a & 0x7F)};
}

/* Table step per byte without a branch: the index is masked in. */
std::array<uint8_t, 3> table_chunk_code(const uint8_t* chunk)
{
    unsigned column = 0, line_a = 0, odd = 0;
    for (unsigned i = 0; i < 128; ++i) {
        const unsigned t = kEccParityTable[chunk[i]];
        column ^= t;
        const unsigned m = 0u - (t >> 7);
        line_a ^= i & m;
        odd ^= t >> 7;
    }
    const unsigned line_b = line_a ^ (odd ? 0x7F : 0);
    return {uint8_t(~column & 0x77), uint8_t(~line_b & 0x7F), uint8_t(~line_a & 0x7F)};
}

template <std::array<uint8_t, 3> (*Code)(const uint8_t*)>
void BM_PageCode(benchmark::State& state)
{
    const auto data = random_pages(kRawImageSize);
    for (auto _ : state) {
        unsigned sink = 0;
        for (size_t off = 0; off < data.size(); off += kEccChunkSize) {
            const auto c = Code(data.data() + off);
            sink += c[0] + c[1] + c[2];
        }
        benchmark::DoNotOptimize(sink);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_PageCode<ecc_chunk_code>)->Name("PageCode/word_fold")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageCode<table_chunk_code>)->Name("PageCode/table_per_byte")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageCode<branchy_chunk_code>)->Name("PageCode/branch_per_byte")->Unit(benchmark::kMillisecond);

/* The whole coded image of a card whose every cluster is in use (every page below the reserved blocks coded). */
void BM_CodedImageOfFullCard(benchmark::State& state)
{
    std::vector<uint8_t> raw = random_pages(kRawImageSize);
    layout_fresh_card(RawImage(raw.data(), kRawImageSize));
    for (uint32_t c = 0; c < kAllocClusters; ++c) set_fat_entry(RawImage(raw.data(), kRawImageSize), c, kFatEnd);
    std::vector<uint8_t> coded(kCodedImageSize);
    for (auto _ : state) {
        build_coded_image(ConstRawImage(raw.data(), kRawImageSize), std::span<uint8_t, kCodedImageSize>(coded));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kRawImageSize));
}
BENCHMARK(BM_CodedImageOfFullCard)->Name("PageCode/coded_image_full_card")->Unit(benchmark::kMillisecond);

} // namespace
