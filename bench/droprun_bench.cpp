/* droprun_bench.cpp -- DROPRUN: loading a preset list, selecting deep in it, expanding a template */
#include <benchmark/benchmark.h>

#include <string>

#include "droprun/expand.h"
#include "droprun/presets.h"

using namespace ps2;
using namespace ps2::droprun;

namespace {

std::string make_list(int presets)
{
    std::string s;
    for (int g = 0; g < presets; ++g) {
        s += "----------------------------------------\r\nPreset number " + std::to_string(g) + "\r\n";
        s += "\"C:\\Program Files\\Tool\\tool.exe\" --in \"%path%\" --out \"%dir%\\%body%.out\"\r\n";
        s += "cmd /c copy \"%path%\" \"%desktop%\\%name%\"\r\n\r\n\r\n%dir%\r\n\r\n\r\n.psu|.max|.bin\r\n";
    }
    return s;
}

void BM_LoadPresetList(benchmark::State& state)
{
    const std::string text = make_list(int(state.range(0)));
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    const ByteSource source = memory_source(&bytes);
    for (auto _ : state) {
        PresetList list;
        load_preset_list(source, &list);
        benchmark::DoNotOptimize(list.names.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_LoadPresetList)->Arg(10)->Arg(1000)->Arg(10000);

void BM_SelectLastPreset(benchmark::State& state)
{
    const std::string text = make_list(int(state.range(0)));
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    const ByteSource source = memory_source(&bytes);
    for (auto _ : state) {
        PresetFields f;
        read_preset(source, size_t(state.range(0) - 1), &f);
        benchmark::DoNotOptimize(f.field[0].data());
    }
}
BENCHMARK(BM_SelectLastPreset)->Arg(1000)->Arg(10000);

void BM_ExpandTemplate(benchmark::State& state)
{
    const PlaceholderValues v = work_out_values("C:\\Users\\someone\\Documents\\PS2 saves\\BESLES-12345GAME.tar.psu",
                                                {"C:\\WINDOWS", "C:\\tools", "C:\\Users\\someone\\Desktop"},
                                                kWindowsShiftJisRules);
    const std::string text = "\"%process%\\tool.exe\" --in \"%path%\" --out \"%dir%\\%body%.out\" --log "
                             "\"%desktop%\\%name%.log\" --sys \"%windows%\"";
    PathBuffer out;
    for (auto _ : state) {
        const bool ok = expand_template(text, v, &out);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_ExpandTemplate);

void BM_WorkOutValues(benchmark::State& state)
{
    const SystemFolders folders{"C:\\WINDOWS", "C:\\tools", "C:\\Users\\someone\\Desktop"};
    const char* path = "C:\\Users\\someone\\Documents\\PS2 saves\\\x95\x5C\x8E\xA6\\BESLES-12345GAME.tar.psu";
    for (auto _ : state) {
        PlaceholderValues v = work_out_values(path, folders, kWindowsShiftJisRules);
        benchmark::DoNotOptimize(v.value[6].data());
    }
}
BENCHMARK(BM_WorkOutValues);

} // namespace

BENCHMARK_MAIN();
