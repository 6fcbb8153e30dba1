/* endtoend_bench.cpp -- whole runs of the command-line tools next to what bounds them: `varkon` on an
 * 8 MB save-like PSU next to the in-memory encoder on the same payload, and `sorvik` splitting a full card
 * into a new folder next to `cp -r` of the archives it writes. The commands run as processes (posix_spawn),
 * as a user runs them.
 *
 * Run: build/bin/endtoend_bench --benchmark_repetitions=7 --benchmark_enable_random_interleaving=true
 *      --benchmark_report_aggregates_only=true
 * and compare the median lines: BM_VarkonCommand / BM_EncodePayload, BM_SorvikCommandNewFolder /
 * BM_CpRecursiveNewFolder. Times are wall times; child_cpu_ms is the processor time the command used
 * (user and system), steadier than the wall time on a busy machine. */
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "card/card.h"
#include "common/psu.h"
#include "maxconv/lzari.h"
#include "maxconv/max_convert.h"
#include "tests/cardsplit_testcard.h"
#include "tests/test_support.h"
#include "tools/samplegen.h"

extern char** environ;

using namespace ps2;

namespace {

using Bytes = std::vector<uint8_t>;

/* Processor time (user and system) of the waited-for children so far, in ms. */
double children_ms()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

/* Puts the children's processor time per run beside the wall time (which includes waiting for the disk). */
struct ChildTime {
    benchmark::State& state;
    double start = children_ms();
    ~ChildTime()
    {
        state.counters["child_cpu_ms"] = (children_ms() - start) / double(state.iterations() ? state.iterations() : 1);
    }
};

/* Runs a program with its arguments and waits for it; false unless it exits with 0. */
bool run(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

/* ---- VARKON ---- */

/* Member bytes shaped as the codec benchmark's save input: mostly zero runs, with records, text and random blocks. */
Bytes save_like(std::mt19937& g, size_t n)
{
    Bytes b;
    while (b.size() < n) {
        const unsigned pick = g() % 16;
        if (pick < 10) {
            b.insert(b.end(), 1000 + g() % 30000, 0);
        } else if (pick < 12) {
            for (unsigned i = 0, k = 20 + g() % 100; i < k; ++i) {
                uint8_t rec[64] = {};
                std::memcpy(rec, &i, 4);
                std::snprintf(reinterpret_cast<char*>(rec + 8), 24, "ITEM_%u", unsigned(g() % 500));
                b.insert(b.end(), rec, rec + 64);
            }
        } else if (pick < 14) {
            static const char* const words[] = {"save ", "card ", "memory ", "the ", "level ", "\n", "PlayStation "};
            for (unsigned i = 0, k = 100 + g() % 600; i < k; ++i) {
                const char* w = words[g() % 7];
                b.insert(b.end(), w, w + std::strlen(w));
            }
        } else {
            for (unsigned i = 0, k = 500 + g() % 6000; i < k; ++i) b.push_back(uint8_t(g()));
        }
    }
    b.resize(n);
    return b;
}

/* An 8 MB PSU archive of eight save-like members, written once; its MAX payload kept in memory. */
struct BigSave {
    test::TempDir dir{"varkon-bench"};
    std::string psu = dir / "big.psu";
    Bytes payload; /* header and payload, as the conversion builds them */
    uint32_t payload_size = 0;

    BigSave()
    {
        std::mt19937 g(4321);
        Bytes file(kWorkBufferSize);
        PsuWriter w(file);
        constexpr uint32_t kMembers = 8, kMemberSize = 990000;
        (void)w.add_entry(make_directory_entry("BASLUS-20001BIGSAVE", kMembers + 2));
        (void)w.add_entry(make_directory_entry(".", 0));
        (void)w.add_entry(make_directory_entry("..", 0));
        for (uint32_t i = 0; i < kMembers; ++i)
            (void)w.add_file(make_file_entry("DATA" + std::to_string(i), kMemberSize), save_like(g, kMemberSize));
        file.resize(w.size());
        test::put(psu, file);
        payload.resize(kWorkBufferSize);
        MaxPayloadInfo info;
        if (build_max_payload(file, payload, &info) != MaxError::ok) std::abort();
        payload_size = info.unpacked_size;
    }
};

BigSave& big_save()
{
    static BigSave s;
    return s;
}

void BM_VarkonCommand(benchmark::State& state)
{
    const ChildTime child{state};
    BigSave& s = big_save();
    const std::string max = s.dir / "big.max";
    for (auto _ : state) {
        /* A new output each time, as a first conversion writes it (no existing file to compare or flush). */
        state.PauseTiming();
        std::filesystem::remove(max);
        state.ResumeTiming();
        if (!run({PS2_VARKON_PATH, "-q", s.psu})) state.SkipWithError("varkon failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * s.payload_size);
}

/* The codec alone on the same payload, in memory. */
void BM_EncodePayload(benchmark::State& state)
{
    BigSave& s = big_save();
    const std::span<const uint8_t> in(s.payload.data() + kMaxHeaderSize, s.payload_size);
    Bytes out(kWorkBufferSize);
    size_t stored = 0;
    for (auto _ : state)
        if (lzari_encode(in, out, &stored) != LzariError::ok) state.SkipWithError("encode failed");
    state.SetBytesProcessed(int64_t(state.iterations()) * s.payload_size);
    state.counters["ratio"] = double(stored) / double(s.payload_size);
}

/* ---- SORVIK ---- */

uint32_t free_clusters(const testcard::Card& card)
{
    uint32_t n = 0;
    for (uint32_t c = 0; c < kAllocClusters; ++c) n += (fat_entry(card.craw(), c) & kFatInUse) == 0;
    return n;
}

/* A coded card image with every cluster in use (saves with nested folders, then root files), written once,
 * and the folder of archives it splits into, for cp to copy. */
struct FullCard {
    test::TempDir dir{"sorvik-bench"};
    std::string image = dir / "full.ps2";
    std::string folder = dir / "full";
    size_t archive_bytes = 0;

    FullCard()
    {
        testcard::Card card = testcard::fresh_card();
        for (uint32_t seed = 1;; ++seed) {
            const Bytes bytes = samples::build_save(samples::random_save(seed, true, 24000));
            if (free_clusters(card) < bytes.size() / kClusterSize + 64) break;
            archive_bytes += testcard::Placer(&card, {.from_top = seed % 3 == 0}).place(bytes).size();
        }
        for (uint32_t k = 0;; ++k) {
            testcard::Placer placer(&card, {});
            uint32_t left = free_clusters(card);
            if (placer.root_count() % 2 == 0) --left; /* the root grows by a cluster for this entry */
            if (left == 0) break;
            const uint32_t size = (left > 8 ? 8 : left) * kClusterSize - 100;
            Bytes a(kPsuEntrySize + round_up_1024(size));
            PsuWriter w(a);
            (void)w.add_file(make_file_entry("ROOTFILE" + std::to_string(k), size),
                             samples::make_fill(samples::Fill::mixed, size, k));
            archive_bytes += placer.place(a).size();
        }
        test::put(image, testcard::coded_file(card));
        if (!run({PS2_SORVIK_PATH, "-q", image})) std::abort();
    }
};

FullCard& full_card()
{
    static FullCard c;
    return c;
}

/* Each run writes a folder of its own, all removed at the end: removing a run's files before the next
 * makes the file system step over their freed inodes (it keeps them a while before it reuses one), a
 * cost that grows from run to run and would swamp the commands' own. */
void BM_SorvikCommandNewFolder(benchmark::State& state)
{
    const ChildTime child{state};
    FullCard& c = full_card();
    static unsigned runs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string image = c.dir / ("new" + std::to_string(runs++) + ".ps2");
        std::filesystem::copy_file(c.image, image, std::filesystem::copy_options::overwrite_existing);
        state.ResumeTiming();
        if (!run({PS2_SORVIK_PATH, "-q", image})) state.SkipWithError("sorvik failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c.archive_bytes));
}

void BM_CpRecursiveNewFolder(benchmark::State& state)
{
    const ChildTime child{state};
    FullCard& c = full_card();
    static unsigned runs = 0;
    for (auto _ : state)
        if (!run({"/bin/cp", "-r", c.folder, c.dir / ("copy" + std::to_string(runs++))})) state.SkipWithError("cp failed");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c.archive_bytes));
}

} // namespace

/* Wall time for all: the commands' work happens in other processes. */
BENCHMARK(BM_VarkonCommand)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EncodePayload)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SorvikCommandNewFolder)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CpRecursiveNewFolder)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
