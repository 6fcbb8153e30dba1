/* maxconv_codec_bench.cpp -- LZARI encode and decode and CRC-32 throughput, MB/s of input, next to memcpy of the same input
 *
 * Run: build/bin/maxconv_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
 * and read the median lines. Each codec benchmark runs the shipped codec (new) and a frozen copy of the
 * codec as it was before its rework (base, bench/lzari_baseline.h) on the same input, so that one run
 * compares them. Inputs (4 MiB each, fixed seeds):
 *   save    mostly zero runs, with records, text, short-period patterns and random blocks
 *   random  uniformly random bytes
 *   byte    one repeated byte
 *   zruns   zero runs of random length 3-59, each followed by one non-zero byte
 *   mixed   the sample generator's save-like member bytes (tools/samplegen.h, Fill::mixed)
 * and the shapes that made the old match finder walk long chains of equal 3-byte contexts:
 *   zr2-8   zero runs of 2-8 bytes, each followed by 0x01
 *   zr1-3   zero runs of 1-3 bytes, each followed by 0x01
 *   bits    random bytes 0 and 1
 *   ab      random letters a and b
 *   sparse  zeros with a 1 at random, one byte in 8
 *   rec16   16-byte records: four small random numbers (0-15), twelve zeros
 *   counter a 16-bit little-endian counter (no matches: all literals)
 * BM_convert_psu_to_max is the whole conversion of a 7 MiB save of mixed members, in the two work buffers. */
#include <benchmark/benchmark.h>

#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bench/lzari_baseline.h"
#include "maxconv/crc32.h"
#include "maxconv/lzari.h"
#include "maxconv/max_convert.h"
#include "tools/samplegen.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kSize = 4 << 20;

Bytes random_block(std::mt19937& g, size_t n)
{
    Bytes b(n);
    for (auto& x : b) x = uint8_t(g());
    return b;
}

/* Zero runs of shortest..longest bytes, each followed by marker (0: a random non-zero byte). */
void zero_runs(std::mt19937& g, Bytes* b, unsigned shortest, unsigned longest, uint8_t marker)
{
    while (b->size() < kSize) {
        b->insert(b->end(), shortest + g() % (longest - shortest + 1), 0);
        b->push_back(marker ? marker : uint8_t(1 + g() % 255));
    }
}

Bytes make_input(int kind)
{
    std::mt19937 g(1234 + kind);
    Bytes b;
    switch (kind) {
    case 0: /* save-like */
        while (b.size() < kSize) {
            const unsigned pick = g() % 16;
            if (pick < 10) {
                b.insert(b.end(), 1000 + g() % 30000, 0);
            } else if (pick < 12) { /* records: a counter and a name in a 64-byte slot */
                for (unsigned i = 0, n = 20 + g() % 100; i < n; ++i) {
                    uint8_t rec[64] = {};
                    std::memcpy(rec, &i, 4);
                    std::snprintf(reinterpret_cast<char*>(rec + 8), 24, "ITEM_%u", unsigned(g() % 500));
                    b.insert(b.end(), rec, rec + 64);
                }
            } else if (pick < 14) { /* text */
                static const char* const words[] = {"save ", "card ", "memory ", "the ", "level ", "\n", "PlayStation "};
                for (unsigned i = 0, n = 100 + g() % 600; i < n; ++i) {
                    const char* w = words[g() % 7];
                    b.insert(b.end(), w, w + std::strlen(w));
                }
            } else { /* random (an icon's or a compressed block's bytes) */
                const Bytes r = random_block(g, 500 + g() % 6000);
                b.insert(b.end(), r.begin(), r.end());
            }
        }
        break;
    case 1: b = random_block(g, kSize); break;
    case 2: b.assign(kSize, 0x41); break;
    case 3: zero_runs(g, &b, 3, 59, 0); break;
    case 4: b = ps2::samples::make_fill(ps2::samples::Fill::mixed, uint32_t(kSize), 99); break;
    case 5: zero_runs(g, &b, 2, 8, 1); break;
    case 6: zero_runs(g, &b, 1, 3, 1); break;
    case 7: while (b.size() < kSize) b.push_back(uint8_t(g() & 1)); break;
    case 8: while (b.size() < kSize) b.push_back(uint8_t('a' + (g() & 1))); break;
    case 9: while (b.size() < kSize) b.push_back(uint8_t(g() % 8 == 0)); break;
    case 10:
        while (b.size() < kSize)
            for (int k = 0; k < 16; ++k) b.push_back(k < 4 ? uint8_t(g() % 16) : 0);
        break;
    case 11:
        for (uint32_t c = 0; b.size() < kSize; ++c) {
            b.push_back(uint8_t(c));
            b.push_back(uint8_t(c >> 8));
        }
        break;
    }
    b.resize(kSize);
    return b;
}

const char* const kNames[] = {"save", "random", "byte", "zruns", "mixed", "zr2-8", "zr1-3", "bits", "ab", "sparse", "rec16", "counter"};
constexpr int kShapes = int(std::size(kNames));

const Bytes& input(int kind)
{
    static std::vector<Bytes> inputs(kShapes);
    if (inputs[kind].empty()) inputs[kind] = make_input(kind);
    return inputs[kind];
}

/* The codec under test (range(1) == 1) or the baseline. */
ps2::LzariError encode_with(int64_t which, std::span<const uint8_t> in, std::span<uint8_t> out, size_t* stored)
{
    return which ? ps2::lzari_encode(in, out, stored) : ps2::lzari_baseline::encode(in, out, stored);
}
size_t decode_with(int64_t which, std::span<const uint8_t> stream, std::span<uint8_t> out)
{
    return which ? ps2::lzari_decode(stream, out) : ps2::lzari_baseline::decode(stream, out);
}
std::string label(const benchmark::State& state)
{
    return std::string(kNames[state.range(0)]) + (state.range(1) ? " new" : " base");
}

void BM_memcpy(benchmark::State& state)
{
    const Bytes& in = input(int(state.range(0)));
    Bytes out(in.size());
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
    state.SetLabel(kNames[state.range(0)]);
}

void BM_lzari_encode(benchmark::State& state)
{
    const Bytes& in = input(int(state.range(0)));
    Bytes out(in.size() * 9 / 8 + 64);
    size_t stored = 0;
    for (auto _ : state) {
        if (encode_with(state.range(1), in, out, &stored) != ps2::LzariError::ok) state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(stored);
    }
    /* Both codecs must give the same stream. */
    Bytes other(out.size());
    size_t other_stored = 0;
    (void)encode_with(!state.range(1), in, other, &other_stored);
    if (other_stored != stored || std::memcmp(other.data(), out.data(), stored) != 0)
        state.SkipWithError("the streams differ");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
    state.counters["ratio"] = double(stored) / double(in.size());
    state.SetLabel(label(state));
}

void BM_lzari_decode(benchmark::State& state)
{
    const Bytes& in = input(int(state.range(0)));
    Bytes stream(in.size() * 9 / 8 + 64);
    size_t stored = 0;
    if (ps2::lzari_encode(in, stream, &stored) != ps2::LzariError::ok) state.SkipWithError("encode failed");
    stream.resize(stored);
    Bytes out(in.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(decode_with(state.range(1), stream, out));
        benchmark::ClobberMemory();
    }
    if (out != in) state.SkipWithError("round trip differs");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
    state.SetLabel(label(state));
}

void BM_crc32(benchmark::State& state)
{
    const Bytes& in = input(1);
    uint32_t c = 0;
    for (auto _ : state) benchmark::DoNotOptimize(c = ps2::crc32(in));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

void BM_convert_psu_to_max(benchmark::State& state)
{
    ps2::samples::Save save;
    save.name = "BASLUS-20001GAME";
    for (int i = 0; i < 7; ++i) save.members.push_back({"part" + std::to_string(i), 1 << 20, ps2::samples::Fill::mixed, false, {}});
    const Bytes psu = ps2::samples::build_save(save);
    Bytes build(ps2::kWorkBufferSize), out(ps2::kWorkBufferSize);
    size_t n = 0;
    for (auto _ : state)
        if (ps2::convert_psu_to_max(psu, build, out, &n) != ps2::MaxError::ok) state.SkipWithError("convert failed");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(psu.size()));
    state.counters["ratio"] = double(n) / double(psu.size());
}

} // namespace

BENCHMARK(BM_memcpy)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_lzari_encode)->ArgsProduct({benchmark::CreateDenseRange(0, kShapes - 1, 1), {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_lzari_decode)->ArgsProduct({benchmark::CreateDenseRange(0, kShapes - 1, 1), {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_convert_psu_to_max)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_crc32)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
