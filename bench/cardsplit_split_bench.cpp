/* cardsplit_split_bench.cpp -- SORVIK on a full card (every cluster in use, a few hundred saves and files,
 * the page codes in its spare areas), next to the floor: plainly reading the image and writing the same
 * bytes, as one file or as the same files. Splitting over the archives of an earlier split replaces each
 * one, flushed to the disk before its move; a split into a new folder flushes nothing: the difference is
 * what the flush costs. */
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cardsplit/sorvik_handler.h"
#include "tests/cardsplit_testcard.h"
#include "tests/test_support.h"
#include "tools/samplegen.h"

using namespace ps2;

namespace {

uint32_t free_clusters(const testcard::Card& card)
{
    uint32_t n = 0;
    for (uint32_t c = 0; c < kAllocClusters; ++c) n += (fat_entry(card.craw(), c) & kFatInUse) == 0;
    return n;
}

/* The image file and the archives splitting it must give, made once. */
struct FullCard {
    test::TempDir dir{"sorvik-bench"};
    std::string image = dir / "full.ps2";
    std::vector<std::vector<uint8_t>> archives;
    size_t archive_bytes = 0;
    uint32_t saves = 0;
    uint32_t files = 0;

    FullCard()
    {
        testcard::Card card = testcard::fresh_card();
        for (uint32_t seed = 1;; ++seed) {
            const auto save = samples::random_save(seed, true, 24000);
            const auto bytes = samples::build_save(save);
            if (free_clusters(card) < bytes.size() / kClusterSize + 64) break;
            archives.push_back(testcard::Placer(&card, {.from_top = seed % 3 == 0}).place(bytes));
            ++saves;
        }
        /* Root files take what is left, to the last cluster. */
        for (uint32_t k = 0;; ++k) {
            testcard::Placer placer(&card, {});
            uint32_t left = free_clusters(card);
            if (placer.root_count() % 2 == 0) --left; /* the root grows by a cluster for this entry */
            if (left == 0) break;
            const uint32_t clusters = left > 8 ? 8 : left;
            const uint32_t size = clusters * kClusterSize - 100;
            std::vector<uint8_t> a(kPsuEntrySize + round_up_1024(size));
            PsuWriter w(a);
            (void)w.add_file(make_file_entry("ROOTFILE" + std::to_string(k), size),
                             samples::make_fill(samples::Fill::mixed, size, k));
            archives.push_back(placer.place(a));
            ++files;
        }
        if (free_clusters(card) != 0) std::abort();
        for (const auto& a : archives) archive_bytes += a.size();
        const auto coded = testcard::coded_file(card, 0); /* with its page codes, which the split checks */
        test::put(image, coded);
    }
};

FullCard& full_card()
{
    static FullCard card;
    return card;
}

void set_counters(benchmark::State& state, const FullCard& c)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kCodedImageSize + c.archive_bytes));
    state.counters["saves"] = c.saves;
    state.counters["root_files"] = c.files;
    state.counters["archive_MB"] = double(c.archive_bytes) / 1e6;
}

/* Over the archives of the last split: every one replaced, each flushed to the disk first (the window,
 * and the command line with --force). */
void BM_SplitFullCard(benchmark::State& state)
{
    FullCard& c = full_card();
    for (auto _ : state) {
        const SplitFileResult r = split_card_image_file(c.image.c_str(), OptionBox::fixed(true), Reporter{});
        if (r.written != c.archives.size() || r.damaged != 0) state.SkipWithError("split gave other archives");
    }
    if (test::get(c.dir / "full/temp0002.psu") != c.archives[0]) state.SkipWithError("wrong archive");
    set_counters(state, c);
}

/* The command line's policy over the archives of the last split: each compared, found up to date, kept. */
void BM_SplitFullCardUpToDate(benchmark::State& state)
{
    FullCard& c = full_card();
    (void)split_card_image_file(c.image.c_str(), OptionBox::fixed(true), Reporter{});
    for (auto _ : state) {
        const SplitFileResult r =
            split_card_image_file(c.image.c_str(), OptionBox::fixed(true), Reporter{}, plat::OutputPolicy::keep);
        if (r.up_to_date != c.archives.size()) state.SkipWithError("not all up to date");
    }
    set_counters(state, c);
}

/* The first split of a card: the folder is new each time (removed outside the timing), nothing replaced,
 * nothing flushed. */
void BM_SplitFullCardNewFolder(benchmark::State& state)
{
    FullCard& c = full_card();
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(c.dir / "full");
        state.ResumeTiming();
        const SplitFileResult r = split_card_image_file(c.image.c_str(), OptionBox::fixed(true), Reporter{});
        if (r.written != c.archives.size()) state.SkipWithError("split gave other archives");
    }
    set_counters(state, c);
}

/* The floor with the same files in a new folder each time. */
void BM_PlainReadWriteSameFilesNewFolder(benchmark::State& state)
{
    FullCard& c = full_card();
    std::vector<uint8_t> buffer(kCodedImageSize);
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(c.dir / "plain");
        state.ResumeTiming();
        std::FILE* in = std::fopen(c.image.c_str(), "rb");
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        std::fclose(in);
        benchmark::DoNotOptimize(got);
        std::filesystem::create_directory(c.dir / "plain");
        for (size_t k = 0; k < c.archives.size(); ++k) {
            const std::string name = c.dir / ("plain/" + std::to_string(k) + ".psu");
            std::FILE* f = std::fopen(name.c_str(), "wb");
            std::fwrite(c.archives[k].data(), 1, c.archives[k].size(), f);
            std::fclose(f);
        }
    }
    set_counters(state, c);
}

/* The core alone: the image already in memory and raw, every archive built, nothing written. */
void BM_SplitInMemory(benchmark::State& state)
{
    FullCard& c = full_card();
    std::vector<uint8_t> image = test::get(c.image);
    if (bring_card_to_raw(image, image.size()) != CardError::ok) std::abort();
    const CardView card(ConstRawImage(image.data(), kRawImageSize));
    OwnedSplitWork work;
    for (auto _ : state) {
        const CardRoot root = read_card_root(card, work.get());
        NamingRules rules;
        plan_archive_names(card, root, rules, work.get());
        size_t total = 0;
        for (uint32_t i = 2; i < root.count; ++i) {
            BuiltArchive built;
            if (build_entry_archive(card, root, i, ProblemSink{}, work.get(), &built) != SplitError::ok) std::abort();
            total += built.size;
        }
        if (total != c.archive_bytes) state.SkipWithError("other archives");
    }
    set_counters(state, c);
}

/* The floor: one read of the image, then its archive bytes written as one file. */
void BM_PlainReadWriteOneFile(benchmark::State& state)
{
    FullCard& c = full_card();
    std::vector<uint8_t> buffer(kCodedImageSize);
    std::vector<uint8_t> out;
    for (const auto& a : c.archives) out.insert(out.end(), a.begin(), a.end());
    const std::string target = c.dir / "plain.bin";
    for (auto _ : state) {
        std::FILE* in = std::fopen(c.image.c_str(), "rb");
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        std::fclose(in);
        benchmark::DoNotOptimize(got);
        std::FILE* f = std::fopen(target.c_str(), "wb");
        std::fwrite(out.data(), 1, out.size(), f);
        std::fclose(f);
    }
    set_counters(state, c);
}

/* The floor with the same files: one read, then each archive written plainly (no temporary file). */
void BM_PlainReadWriteSameFiles(benchmark::State& state)
{
    FullCard& c = full_card();
    std::vector<uint8_t> buffer(kCodedImageSize);
    std::filesystem::create_directories(c.dir / "plain");
    for (auto _ : state) {
        std::FILE* in = std::fopen(c.image.c_str(), "rb");
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        std::fclose(in);
        benchmark::DoNotOptimize(got);
        for (size_t k = 0; k < c.archives.size(); ++k) {
            const std::string name = c.dir / ("plain/" + std::to_string(k) + ".psu");
            std::FILE* f = std::fopen(name.c_str(), "wb");
            std::fwrite(c.archives[k].data(), 1, c.archives[k].size(), f);
            std::fclose(f);
        }
    }
    set_counters(state, c);
}

/* As above, each archive written the safe way (a temporary file beside it, then replaced). */
void BM_PlainReadSafeWriteSameFiles(benchmark::State& state)
{
    FullCard& c = full_card();
    std::vector<uint8_t> buffer(kCodedImageSize);
    std::filesystem::create_directories(c.dir / "safe");
    for (auto _ : state) {
        std::FILE* in = std::fopen(c.image.c_str(), "rb");
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        std::fclose(in);
        benchmark::DoNotOptimize(got);
        for (size_t k = 0; k < c.archives.size(); ++k) {
            const std::string name = c.dir / ("safe/" + std::to_string(k) + ".psu");
            if (plat::write_file_replace(name.c_str(), c.archives[k]) != plat::IoError::ok) std::abort();
        }
    }
    set_counters(state, c);
}

} // namespace

BENCHMARK(BM_SplitInMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitFullCard)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitFullCardNewFolder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitFullCardUpToDate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainReadWriteSameFilesNewFolder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainReadWriteOneFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainReadWriteSameFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainReadSafeWriteSameFiles)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
