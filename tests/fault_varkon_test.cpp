/* fault_varkon_test.cpp -- VARKON under system failures at every step of a conversion either way and of
 * the same-path replacement: an output is either the old file or the whole new one, the dropped file is
 * never lost, and every failure is reported (the command line fails) */
#include <gtest/gtest.h>

#include "common/cli.h"
#include "common/psu.h"
#include "maxconv/max_convert.h"
#include "maxconv/varkon_handler.h"
#include "tests/fault_support.h"
#include "tools/samplegen.h"

using namespace ps2;
using namespace ps2::test;

namespace {

Bytes psu_save()
{
    samples::Save s;
    s.name = "BASLUS-20001";
    s.title = "Title";
    s.card_fields = false;
    s.file_mode = kModeNewFile;
    s.members = {{"icon.sys", 964, samples::Fill::icon, false, {}}, {"DATA", 40000, samples::Fill::mixed, false, {}}};
    return samples::build_save(s);
}

Bytes max_of(const Bytes& psu)
{
    Bytes build(kWorkBufferSize), out(kWorkBufferSize);
    size_t n = 0;
    EXPECT_EQ(convert_psu_to_max(psu, build, out, &n), MaxError::ok);
    out.resize(n);
    return out;
}

Bytes psu_of(const Bytes& max)
{
    Bytes build(kWorkBufferSize), out(kWorkBufferSize);
    size_t n = 0;
    EXPECT_EQ(convert_max_to_psu(max, build, out, &n), MaxError::ok);
    out.resize(n);
    return out;
}

struct Job {
    const char* what;
    const char* in;     /* the dropped file */
    Bytes in_bytes;
    const char* out;    /* the file written (the dropped one for a same-path replacement) */
    Bytes old_out;      /* what the output held before (empty: nothing) */
    Bytes new_out;      /* what a sound run writes */
    plat::OutputPolicy policy = plat::OutputPolicy::replace;
    VarkonOutcome sound = VarkonOutcome::wrote_max; /* what a run without faults gives */
};

} // namespace

TEST(FaultVarkon, EveryStepOfEachConversion)
{
    const Bytes psu = psu_save(), max = max_of(psu), back = psu_of(max);
    const Job jobs[] = {
        {"PSU to MAX over an old MAX", "save.psu", psu, "save.max", bytes_of("old max"), max},
        {"MAX to PSU", "save.max", max, "save.psu", {}, back, plat::OutputPolicy::replace, VarkonOutcome::wrote_psu},
        {"a MAX archive named .psu replaced by its PSU archive", "self.psu", max, "self.psu", max, back,
         plat::OutputPolicy::replace, VarkonOutcome::wrote_psu},
        /* The command line's policy: the old MAX is read to be compared, and left alone. */
        {"PSU to MAX over the same MAX, kept", "save.psu", psu, "save.max", max, max, plat::OutputPolicy::keep,
         VarkonOutcome::up_to_date},
    };
    for (const Job& j : jobs) {
        SCOPED_TRACE(j.what);
        TempDir d("fault-varkon");
        const std::string in = d / j.in, out = d / j.out;
        ReportLog log;
        VarkonResult result;
        const auto counts = sweep_faults(
            [&] {
                std::filesystem::remove(out);
                if (!j.old_out.empty()) put(out, j.old_out);
                put(in, j.in_bytes);
                log.clear();
            },
            [&](const FaultRun&) {
                VarkonHooks hooks;
                hooks.report = log.reporter();
                hooks.outputs = j.policy;
                result = convert_save_file(in.c_str(), hooks);
            },
            [&](const FaultRun& run) {
                const std::vector<std::string> names = d.names();
                EXPECT_LE(names.size(), 2u) << "a temporary file left behind";
                if (in != out) {
                    EXPECT_TRUE(get(in) == j.in_bytes) << "the dropped file changed";
                }
                const bool written = result.outcome == VarkonOutcome::wrote_max || result.outcome == VarkonOutcome::wrote_psu;
                if (run.op == faults::Op::count_) {
                    EXPECT_EQ(result.outcome, j.sound);
                    EXPECT_TRUE(get(out) == j.new_out);
                    return;
                }
                /* The output is the old file (or none) or the whole new one: never lost, never partial. */
                EXPECT_FALSE(written);
                EXPECT_EQ(result.outcome, VarkonOutcome::failed);
                if (j.old_out.empty()) {
                    EXPECT_FALSE(std::filesystem::exists(out));
                } else {
                    EXPECT_TRUE(get(out) == j.old_out) << "the old file was lost";
                }
                EXPECT_EQ(log.count(Severity::error), 1u) << log.all();
            });
        const bool kept = j.policy == plat::OutputPolicy::keep;
        EXPECT_EQ(count_of(counts, faults::Op::open), kept ? 2u : 1u);
        EXPECT_GE(count_of(counts, faults::Op::read), kept ? 2u : 1u);
        EXPECT_EQ(count_of(counts, faults::Op::alloc), 2u);
        EXPECT_EQ(count_of(counts, faults::Op::write), kept ? 0u : 2u);
        /* Only a file that replaces another is flushed before its move. */
        EXPECT_EQ(count_of(counts, faults::Op::flush), j.old_out.empty() || kept ? 0u : 1u);
        EXPECT_EQ(count_of(counts, faults::Op::rename), kept ? 0u : 1u);
    }
}

TEST(FaultVarkon, TheCommandLineSaysSo)
{
    TempDir d("fault-varkon");
    put(d / "save.psu", psu_save());
    struct Case {
        faults::Op op;
        unsigned nth;
        std::string says;
    };
    const Case cases[] = {
        {faults::Op::write, 1, "varkon: " + (d / "save.max") + ": cannot create the file: No space left on device\n"},
        {faults::Op::rename, 1, "varkon: " + (d / "save.max") + ": cannot replace the existing file: Permission denied\n"},
        {faults::Op::alloc, 2, "varkon: " + (d / "save.psu") + ": not enough memory for the two 8 MiB work buffers; skipped\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        cli::Console console("varkon");
        faults::reset();
        faults::fail_nth(c.op, c.nth);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        VarkonHooks hooks;
        hooks.report = console.reporter();
        (void)convert_save_file((d / "save.psu").c_str(), hooks);
        const std::string err = testing::internal::GetCapturedStderr();
        (void)testing::internal::GetCapturedStdout();
        faults::reset();
        EXPECT_EQ(console.exit_status(), cli::kExitSomeFailed);
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(d.names(), std::vector<std::string>{"save.psu"});
    }
}
