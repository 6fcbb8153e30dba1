/* fault_sorvik_test.cpp -- SORVIK under system failures at every step of a split: no partial archive, the
 * image untouched, every failure reported (and the command line fails) */
#include <gtest/gtest.h>

#include "cardsplit/sorvik_handler.h"
#include "common/cli.h"
#include "tests/cardsplit_testcard.h"
#include "tests/fault_support.h"
#include "tools/samplegen.h"

using namespace ps2;
using namespace ps2::test;
using namespace ps2::testcard;

namespace {

samples::Save save(const std::string& name, bool nested)
{
    samples::Save s;
    s.name = name;
    s.title = "Title of " + name;
    s.members = {{"icon.sys", 964, samples::Fill::icon, false, {}}, {"DATA", 5000, samples::Fill::mixed, false, {}}};
    if (nested) s.members.push_back({"SUB", 0, samples::Fill::zeros, true, {{"INNER", 2000, samples::Fill::text, false, {}}}});
    return s;
}

/* A coded card of three saves, one with a nested directory. */
Bytes three_save_card()
{
    Card card = fresh_card();
    for (const char* name : {"BASLUS-20001", "BESLES-50001", "BISLPS-25001"})
        Placer(&card, {}).place(samples::build_save(save(name, name[3] == 'E')));
    return coded_file(card);
}

} // namespace

TEST(FaultSorvik, EveryStepOfASplit)
{
    TempDir d("fault-sorvik");
    const Bytes image = three_save_card();
    const std::string in = d / "card.ps2";
    Snapshot complete;
    ReportLog log;
    SplitFileResult result;
    const auto counts = sweep_faults(
        [&] {
            std::filesystem::remove_all(d / "card");
            put(in, image);
            log.clear();
        },
        [&](const FaultRun&) { result = split_card_image_file(in.c_str(), OptionBox::fixed(false), log.reporter()); },
        [&](const FaultRun& run) {
            EXPECT_TRUE(get(in) == image) << "the image changed";
            const Snapshot out = snapshot(d / "card");
            if (run.op == faults::Op::count_) {
                ASSERT_EQ(result.written, 3u) << log.all();
                ASSERT_EQ(out.size(), 3u);
                complete = out;
                return;
            }
            /* Whatever is there is whole: nothing but the archives of a sound run, each complete. */
            for (const auto& [name, bytes] : out) {
                ASSERT_EQ(complete.count(name), 1u) << "left behind: " << name;
                EXPECT_TRUE(bytes == complete.at(name)) << name << " is not complete";
            }
            EXPECT_LE(d.names().size(), 2u);
            EXPECT_LT(result.written, 3u);
            EXPECT_GE(log.count(Severity::error), 1u) << "not reported";
        });
    /* Every kind of step was met: the image's open and read, both blocks, the folder, and per archive a
     * temporary file, its write and its move into place. */
    EXPECT_GE(count_of(counts, faults::Op::open), 1u);
    EXPECT_GE(count_of(counts, faults::Op::read), 1u);
    EXPECT_EQ(count_of(counts, faults::Op::alloc), 2u);
    EXPECT_EQ(count_of(counts, faults::Op::folder), 1u);
    EXPECT_EQ(count_of(counts, faults::Op::write), 6u);
    EXPECT_EQ(count_of(counts, faults::Op::rename), 3u);
}

TEST(FaultSorvik, TheCommandLineSaysSo)
{
    TempDir d("fault-sorvik");
    const std::string in = d / "card.ps2";
    put(in, three_save_card());
    struct Case {
        faults::Op op;
        unsigned nth;
        std::string says;
    };
    const Case cases[] = {
        {faults::Op::write, 3, "sorvik: " + in + ": " + (d / "card/BESLES-50001.psu") + ": cannot create the file: No space left on device"},
        {faults::Op::folder, 1, "sorvik: " + in + ": cannot create the folder " + (d / "card") + ": Permission denied; nothing written"},
        {faults::Op::read, 1, "sorvik: " + in + ": cannot read the file: Input/output error; nothing written"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        std::filesystem::remove_all(d / "card");
        cli::Console console("sorvik");
        faults::reset();
        faults::fail_nth(c.op, c.nth);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        (void)split_card_image_file(in.c_str(), OptionBox::fixed(false), console.reporter());
        const std::string err = testing::internal::GetCapturedStderr();
        (void)testing::internal::GetCapturedStdout();
        faults::reset();
        EXPECT_EQ(console.exit_status(), cli::kExitSomeFailed);
        EXPECT_NE(err.find(c.says + "\n"), std::string::npos) << err;
    }
}
