/* fault_maleto_test.cpp -- MALETO under system failures at every step of a rename: the file keeps its name
 * and bytes unless it is renamed whole, nothing else appears, and every failure is reported as what it
 * is (the command line fails) */
#include <gtest/gtest.h>

#include "common/cli.h"
#include "rename/maleto_handler.h"
#include "tests/fault_support.h"
#include "tools/samplegen.h"

using namespace ps2;
using namespace ps2::test;

namespace {

Bytes save_with_far_title()
{
    /* A large member before icon.sys, so that the title is found in the second chunk read. */
    samples::Save s;
    s.name = "BASLUS-20001";
    s.title = "Far";
    s.members = {{"BIG", 50000, samples::Fill::random, false, {}}, {"icon.sys", 964, samples::Fill::icon, false, {}}};
    return samples::build_save(s);
}

} // namespace

TEST(FaultMaleto, EveryStepOfARename)
{
    TempDir d("fault-maleto");
    const Bytes bytes = save_with_far_title();
    const std::string in = d / "a.psu", renamed = "BASLUS-20001-[Far].psu";
    ReportLog log;
    MaletoError result = MaletoError::ok;
    const auto counts = sweep_faults(
        [&] {
            std::filesystem::remove(d / renamed);
            put(in, bytes);
            log.clear();
        },
        [&](const FaultRun&) { result = maleto_rename_file(in.c_str(), OptionBox::fixed(false), log.reporter(), kPosixRules); },
        [&](const FaultRun& run) {
            if (run.op == faults::Op::count_) {
                EXPECT_EQ(result, MaletoError::ok);
                EXPECT_EQ(d.names(), std::vector<std::string>{renamed});
                EXPECT_TRUE(get(d / renamed) == bytes);
                return;
            }
            EXPECT_NE(result, MaletoError::ok);
            EXPECT_EQ(d.names(), std::vector<std::string>{"a.psu"});
            EXPECT_TRUE(get(in) == bytes);
            ASSERT_EQ(log.count(Severity::error), 1u);
            /* A failure of the system is not taken for a file without a title. */
            EXPECT_NE(result, MaletoError::no_title_block) << log.all();
            EXPECT_NE(result, MaletoError::name_too_short) << log.all();
        });
    EXPECT_EQ(count_of(counts, faults::Op::open), 1u);
    EXPECT_EQ(count_of(counts, faults::Op::read), 3u); /* the top entry, then two chunks */
    EXPECT_EQ(count_of(counts, faults::Op::rename), 1u);
}

TEST(FaultMaleto, TheCommandLineSaysSo)
{
    TempDir d("fault-maleto");
    put(d / "a.psu", save_with_far_title());
    struct Case {
        faults::Op op;
        unsigned nth;
        std::string says;
    };
    const Case cases[] = {
        {faults::Op::open, 1, "maleto: " + (d / "a.psu") + ": cannot open the file: Permission denied\n"},
        {faults::Op::read, 2, "maleto: " + (d / "a.psu") + ": not renamed: cannot read the file: Input/output error\n"},
        /* A folder that allows no renaming: the reason, and no advice to change the name. */
        {faults::Op::rename, 1, "maleto: " + (d / "a.psu") + ": not renamed: cannot rename the file: Permission denied\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        cli::Console console("maleto");
        faults::reset();
        faults::fail_nth(c.op, c.nth);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        (void)maleto_rename_file((d / "a.psu").c_str(), OptionBox::fixed(false), console.reporter(), kPosixRules);
        const std::string err = testing::internal::GetCapturedStderr();
        (void)testing::internal::GetCapturedStdout();
        faults::reset();
        EXPECT_EQ(console.exit_status(), cli::kExitSomeFailed);
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(d.names(), std::vector<std::string>{"a.psu"});
    }
}
