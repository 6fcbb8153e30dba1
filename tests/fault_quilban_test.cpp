/* fault_quilban_test.cpp -- QUILBAN under system failures at every step of an unpack and of a rebuild: the
 * files written are whole, the archive and the member files are untouched, an old result stays unless the
 * whole new one replaces it, and every failure is reported (the command line fails) */
#include <gtest/gtest.h>

#include "common/cli.h"
#include "tests/fault_support.h"
#include "tests/unpack_samples.h"
#include "unpack/quilban_handler.h"

using namespace ps2;
using namespace ps2::test;

namespace {

const Node kSave = dir("BASLUS-20194G05", {file("icon.sys", pattern(964)), file("GR2.ICO", pattern(5000, 2)),
                                           file("empty", {}), dir("SUB", {file("deep", pattern(20, 3))})});

} // namespace

TEST(FaultQuilban, EveryStepOfAnUnpack)
{
    TempDir d("fault-quilban");
    const Bytes archive = make_archive(kSave);
    const std::string in = d / "s.psu";
    Snapshot complete;
    ReportLog log;
    bool all_written = false;
    const auto counts = sweep_faults(
        [&] {
            std::filesystem::remove_all(d / "s");
            put(in, archive);
            log.clear();
        },
        [&](const FaultRun&) { all_written = handle_quilban_file(in.c_str(), OptionBox::fixed(false), log.reporter()); },
        [&](const FaultRun& run) {
            EXPECT_TRUE(get(in) == archive) << "the archive changed";
            const Snapshot out = snapshot(d / "s");
            if (run.op == faults::Op::count_) {
                ASSERT_TRUE(all_written) << log.all();
                ASSERT_EQ(out.size(), 5u); /* the manifest and four member files */
                complete = out;
                return;
            }
            for (const auto& [name, bytes] : out) {
                ASSERT_EQ(complete.count(name), 1u) << "left behind: " << name;
                EXPECT_TRUE(bytes == complete.at(name)) << name << " is not complete";
            }
            EXPECT_EQ(d.names().size(), out.empty() ? 1u : 2u);
            EXPECT_FALSE(all_written);
            EXPECT_GE(log.count(Severity::error), 1u) << "not reported";
        });
    EXPECT_GE(count_of(counts, faults::Op::open), 1u);
    EXPECT_GE(count_of(counts, faults::Op::read), 1u);
    EXPECT_EQ(count_of(counts, faults::Op::folder), 1u);
    EXPECT_EQ(count_of(counts, faults::Op::rename), 5u);
    EXPECT_GE(count_of(counts, faults::Op::alloc), 2u);
}

TEST(FaultQuilban, EveryStepOfARebuildOverAnOldResult)
{
    TempDir d("fault-quilban");
    put(d / "s.psu", make_archive(kSave));
    ASSERT_TRUE(handle_quilban_file((d / "s.psu").c_str(), OptionBox::fixed(false), {}));
    const std::string manifest = d / "s/QUILBAN.TXT", result_path = d / "s/BASLUS-20194G05.psu";
    ASSERT_TRUE(handle_quilban_file(manifest.c_str(), OptionBox::fixed(false), {}));
    const Bytes fresh = get(result_path);
    put(d / "s/GR2.ICO", pattern(7000, 9)); /* edited: the new result differs from the old */
    const Snapshot inputs = [&] {
        Snapshot s = snapshot(d / "s");
        s.erase("BASLUS-20194G05.psu");
        return s;
    }();
    ReportLog log;
    bool written = false;
    Bytes complete;
    const auto counts = sweep_faults(
        [&] {
            put(result_path, fresh);
            log.clear();
        },
        [&](const FaultRun&) { written = handle_quilban_file(manifest.c_str(), OptionBox::fixed(false), log.reporter()); },
        [&](const FaultRun& run) {
            Snapshot now = snapshot(d / "s");
            const Bytes result = get(result_path);
            now.erase("BASLUS-20194G05.psu");
            EXPECT_EQ(now, inputs) << "a member file or the manifest changed, or a temporary file was left";
            if (run.op == faults::Op::count_) {
                ASSERT_TRUE(written) << log.all();
                complete = result;
                ASSERT_FALSE(complete == fresh);
                return;
            }
            EXPECT_FALSE(written);
            EXPECT_TRUE(result == fresh) << "the old result was lost";
            EXPECT_GE(log.count(Severity::error), 1u) << "not reported";
        });
    EXPECT_GE(count_of(counts, faults::Op::open), 5u); /* the manifest and four members */
    EXPECT_GE(count_of(counts, faults::Op::read), 5u);
    EXPECT_EQ(count_of(counts, faults::Op::write), 2u);
    EXPECT_EQ(count_of(counts, faults::Op::flush), 1u);
    EXPECT_EQ(count_of(counts, faults::Op::rename), 1u);
}

TEST(FaultQuilban, TheCommandLineSaysSo)
{
    TempDir d("fault-quilban");
    put(d / "s.psu", make_archive(kSave));
    struct Case {
        faults::Op op;
        unsigned nth;
        std::string says;
    };
    const Case cases[] = {
        {faults::Op::folder, 1, "quilban: " + (d / "s.psu") + ": cannot create the folder " + (d / "s") + ": Permission denied; nothing written\n"},
        {faults::Op::write, 1, "quilban: " + (d / "s/QUILBAN.TXT") + ": cannot create the file: No space left on device\n"},
        {faults::Op::rename, 2, "quilban: " + (d / "s/icon.sys") + ": cannot replace the existing file: Permission denied\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        std::filesystem::remove_all(d / "s");
        cli::Console console("quilban");
        faults::reset();
        faults::fail_nth(c.op, c.nth);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        (void)handle_quilban_file((d / "s.psu").c_str(), OptionBox::fixed(false), console.reporter());
        const std::string err = testing::internal::GetCapturedStderr();
        (void)testing::internal::GetCapturedStdout();
        faults::reset();
        EXPECT_EQ(console.exit_status(), cli::kExitSomeFailed);
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
    }
}
