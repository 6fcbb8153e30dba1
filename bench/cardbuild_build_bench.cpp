/* cardbuild_build_bench.cpp -- a coded build of a full card: end to end from archive files, and in memory
 * alone, next to a plain read of 8 MB and a write of 8.25 MB through the same platform calls, and one
 * save added to the same card in place
 *
 * The saves are generated (fixed seeds) until the next one would not fit: about 8,100 of the card's
 * 8,135 clusters end up in use. Files live in a fresh folder under /tmp. */
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "card/ecc.h"
#include "cardbuild/cardbuild.h"
#include "cardbuild/taviro_edit_handler.h"
#include "cardbuild/taviro_handler.h"
#include "common/platform.h"
#include "tools/samplegen.h"

namespace {

using namespace ps2;
namespace fs = std::filesystem;

struct FullCardInput {
    std::string dir;
    std::vector<std::string> paths;
    std::vector<std::vector<uint8_t>> archives;
    uint32_t clusters_used = 0;

    FullCardInput()
    {
        char tmpl[] = "/tmp/taviro-bench.XXXXXX";
        dir = mkdtemp(tmpl);
        std::vector<uint8_t> card(kRawImageSize);
        CardBuilder b{RawImage(card.data(), kRawImageSize)};
        for (uint32_t seed = 1;; ++seed) {
            auto bytes = samples::build_save(samples::random_save(seed, true, 300000));
            ArchivePlan plan;
            if (plan_archive(bytes, &plan) != BuildError::ok) continue;
            if (b.place_archive(bytes, plan) != BuildError::ok) break;
            const std::string path = dir + "/" + std::to_string(seed) + ".psu";
            if (plat::write_file_replace(path.c_str(), bytes) != plat::IoError::ok) std::abort();
            paths.push_back(path);
            archives.push_back(std::move(bytes));
        }
        clusters_used = b.used_clusters();
    }
    ~FullCardInput() { fs::remove_all(dir); }
};

FullCardInput& input()
{
    static FullCardInput in;
    return in;
}

void BM_CodedBuildFromFiles(benchmark::State& state)
{
    FullCardInput& in = input();
    const std::string out = in.dir + "/card.vm2";
    for (auto _ : state) {
        const CardBuildResult r = build_card_file(in.paths, CardForm::coded, out.c_str(), Reporter{});
        if (!r.written) state.SkipWithError("not written");
    }
    state.counters["saves"] = double(in.paths.size());
    state.counters["clusters"] = double(in.clusters_used);
}
BENCHMARK(BM_CodedBuildFromFiles)->Name("CardBuild/coded_full_card_from_files")->Unit(benchmark::kMillisecond);

void BM_CodedBuildInMemory(benchmark::State& state)
{
    FullCardInput& in = input();
    std::vector<uint8_t> card(kRawImageSize), coded(kCodedImageSize);
    for (auto _ : state) {
        CardBuilder b{RawImage(card.data(), kRawImageSize)};
        for (const auto& a : in.archives) {
            ArchivePlan plan;
            if (b.add_archive(a, &plan) != BuildError::ok) state.SkipWithError("not placed");
        }
        build_coded_image(b.card(), std::span<uint8_t, kCodedImageSize>(coded));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CodedBuildInMemory)->Name("CardBuild/coded_full_card_in_memory")->Unit(benchmark::kMillisecond);

/* One save added to a full coded card in place (read, check, place, re-code the changed pages, safe
 * write), against the coded build of the same card from all its files above. */
void BM_AddOneSaveInPlace(benchmark::State& state)
{
    FullCardInput& in = input();
    const std::string base = in.dir + "/base.vm2", card = in.dir + "/edit.vm2";
    const std::vector<std::string> all_but_last(in.paths.begin(), in.paths.end() - 1);
    const std::vector<std::string> last(in.paths.end() - 1, in.paths.end());
    if (!build_card_file(all_but_last, CardForm::coded, base.c_str(), Reporter{}).written) std::abort();
    CardEditRequest rq;
    rq.items = last;
    for (auto _ : state) {
        state.PauseTiming();
        fs::copy_file(base, card, fs::copy_options::overwrite_existing);
        state.ResumeTiming();
        const CardEditResult r = edit_card_file(card.c_str(), rq, Reporter{});
        if (!r.written) state.SkipWithError("not written");
        state.counters["free_after"] = double(r.free_after);
    }
}
BENCHMARK(BM_AddOneSaveInPlace)->Name("CardEdit/add_one_save_to_full_coded_card")->Unit(benchmark::kMillisecond);

/* The floor of any build: one 8 MB read and one 8.25 MB safe write. */
void BM_PlainReadWrite(benchmark::State& state)
{
    FullCardInput& in = input();
    const std::string src = in.dir + "/plain.bin", dst = in.dir + "/plain.vm2";
    std::vector<uint8_t> buf(kCodedImageSize, 0x5A);
    if (plat::write_file_replace(src.c_str(), std::span<const uint8_t>(buf.data(), kRawImageSize)) != plat::IoError::ok)
        std::abort();
    for (auto _ : state) {
        plat::FileRead r;
        if (plat::read_file(src.c_str(), std::span<uint8_t>(buf.data(), kRawImageSize), &r) != plat::IoError::ok)
            state.SkipWithError("read");
        if (plat::write_file_replace(dst.c_str(), buf) != plat::IoError::ok) state.SkipWithError("write");
    }
}
BENCHMARK(BM_PlainReadWrite)->Name("CardBuild/plain_read_8MB_write_8.25MB")->Unit(benchmark::kMillisecond);

} // namespace
