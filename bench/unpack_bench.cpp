/* unpack_bench.cpp -- QUILBAN's core: manifest text both ways, the unpack walk, a full-size rebuild */
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "common/psu.h"
#include "unpack/manifest.h"
#include "unpack/rebuild.h"
#include "unpack/unpack.h"

using namespace ps2;

namespace {

/* A save of `members` files of `size` bytes each. */
std::vector<uint8_t> make_save(size_t members, size_t size)
{
    std::vector<uint8_t> out(3 * kPsuEntrySize + members * (kPsuEntrySize + psu_padded_size(size)));
    PsuWriter w(out);
    std::vector<uint8_t> data(size, 0x5A);
    (void)w.add_entry(make_directory_entry("BISLPS-25105-01", uint32_t(members + 2)));
    (void)w.add_entry(make_directory_entry(".", 0));
    (void)w.add_entry(make_directory_entry("..", 0));
    for (size_t i = 0; i < members; ++i)
        (void)w.add_file(make_file_entry("member" + std::to_string(i), 0), data);
    out.resize(w.size());
    return out;
}

std::vector<uint8_t> manifest_of(const std::vector<uint8_t>& archive, bool temp_names)
{
    UnpackOptions o;
    o.temp_names = temp_names;
    UnpackPlan plan;
    plan_unpack(archive, o, &plan);
    std::vector<uint8_t> text(unpack_manifest_capacity(plan));
    ManifestWriter w(text);
    (void)write_unpack_manifest(archive, plan, &w);
    text.resize(w.size());
    return text;
}

/* Many small entries: the text work dominates. */
const std::vector<uint8_t>& many_entries()
{
    static const std::vector<uint8_t> a = make_save(4000, 100);
    return a;
}

void BM_UnpackPlanAndManifest(benchmark::State& state)
{
    const auto& archive = many_entries();
    for (auto _ : state) {
        auto text = manifest_of(archive, state.range(0) != 0);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 4003);
}
BENCHMARK(BM_UnpackPlanAndManifest)->Arg(0)->Arg(1);

void BM_ReadManifest(benchmark::State& state)
{
    const auto text = manifest_of(many_entries(), false);
    for (auto _ : state) {
        ManifestReader r(text);
        ManifestBlock b;
        size_t n = 0;
        while (r.next(&b)) ++n;
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_ReadManifest);

const char* read_from_map(void* context, std::string_view name2, std::span<uint8_t> room, uint64_t* file_size,
                          size_t* bytes_read)
{
    const auto* files = static_cast<const std::map<std::string, std::vector<uint8_t>, std::less<>>*>(context);
    const auto it = files->find(name2);
    if (it == files->end()) return "missing";
    *file_size = it->second.size();
    *bytes_read = std::min(room.size(), it->second.size());
    std::copy_n(it->second.begin(), *bytes_read, room.begin());
    return nullptr;
}

/* A rebuild that fills most of the 8,192,000-byte buffer: 7 members of 1 MiB. */
void BM_RebuildFullSize(benchmark::State& state)
{
    const auto archive = make_save(7, 1u << 20);
    const auto text = manifest_of(archive, false);
    std::map<std::string, std::vector<uint8_t>, std::less<>> files;
    for (int i = 0; i < 7; ++i) files["member" + std::to_string(i)] = std::vector<uint8_t>(1u << 20, uint8_t(i));
    std::vector<uint8_t> out(kRebuildCapacity);
    const MemberSource src{&read_from_map, &files};
    for (auto _ : state) {
        RebuildResult result;
        const RebuildError e = rebuild_psu(text, src, kPosixRules, out, &result);
        if (e != RebuildError::ok) state.SkipWithError("rebuild failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(archive.size()));
}
BENCHMARK(BM_RebuildFullSize);

} // namespace

BENCHMARK_MAIN();
