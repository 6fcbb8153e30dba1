/* fault_taviro_test.cpp -- TAVIRO under system failures at every step of a save over an existing card: the
 * old card stays byte for byte unless the whole new one replaces it, the listed files are untouched, and
 * every failure is reported (the command line fails) */
#include <gtest/gtest.h>

#include "cardbuild/taviro_edit_handler.h"
#include "cardbuild/taviro_handler.h"
#include "common/cli.h"
#include "tests/fault_support.h"
#include "tools/samplegen.h"

using namespace ps2;
using namespace ps2::test;

namespace {

Bytes save(const std::string& name, uint32_t seed)
{
    samples::Save s;
    s.name = name;
    s.title = "Title";
    s.seed = seed;
    s.members = {{"icon.sys", 964, samples::Fill::icon, false, {}}, {"DATA", 3000 * seed, samples::Fill::mixed, false, {}}};
    return samples::build_save(s);
}

} // namespace

TEST(FaultTaviro, EveryStepOfASaveOverAnOldCard)
{
    TempDir d("fault-taviro");
    const std::vector<std::string> list = {d / "a.psu", d / "b.psu", d / "c.psu"};
    const std::vector<Bytes> archives = {save("SAVE-A", 1), save("SAVE-B", 2), save("SAVE-C", 3)};
    const std::string out = d / "card.ps2";
    for (size_t k = 0; k < list.size(); ++k) put(list[k], archives[k]);

    /* The old card, the new one, and the new one without each listed file (left out when it cannot be read). */
    ASSERT_TRUE(build_card_file(std::vector<std::string>{d / "a.psu"}, CardForm::coded, out.c_str(), {}).written);
    const Bytes old = get(out);
    ASSERT_TRUE(build_card_file(list, CardForm::coded, (d / "full").c_str(), {}).written);
    const Bytes full = get(d / "full");
    std::vector<Bytes> without(list.size());
    for (size_t k = 0; k < list.size(); ++k) {
        std::vector<std::string> shorter = list;
        shorter.erase(shorter.begin() + long(k));
        ASSERT_TRUE(build_card_file(shorter, CardForm::coded, (d / "part").c_str(), {}).written);
        without[k] = get(d / "part");
    }
    std::filesystem::remove(d / "full");
    std::filesystem::remove(d / "part");
    const std::vector<std::string> names = d.names();

    ReportLog log;
    CardBuildResult result;
    const auto counts = sweep_faults(
        [&] {
            put(out, old);
            log.clear();
        },
        [&](const FaultRun&) { result = build_card_file(list, CardForm::coded, out.c_str(), log.reporter()); },
        [&](const FaultRun& run) {
            for (size_t k = 0; k < list.size(); ++k) EXPECT_TRUE(get(list[k]) == archives[k]) << list[k] << " changed";
            EXPECT_EQ(d.names(), names) << "a temporary file left behind";
            const Bytes card = get(out);
            if (run.op == faults::Op::count_) {
                EXPECT_TRUE(result.written && card == full);
                return;
            }
            EXPECT_GE(log.count(Severity::error), 1u) << "not reported";
            if (card == old) {
                EXPECT_FALSE(result.written);
                return;
            }
            /* Written whole: a file that could not be read is left out, the rest is on the card. */
            ASSERT_TRUE(result.written);
            ASSERT_EQ(result.left_out.size(), 1u);
            EXPECT_TRUE(card == without[result.left_out[0].index]) << "not the card of the other files";
        });
    EXPECT_EQ(count_of(counts, faults::Op::open), 3u);
    EXPECT_EQ(count_of(counts, faults::Op::read), 3u);
    EXPECT_EQ(count_of(counts, faults::Op::alloc), 2u);
    EXPECT_EQ(count_of(counts, faults::Op::write), 2u);
    EXPECT_EQ(count_of(counts, faults::Op::flush), 1u); /* the old card is replaced: the new one is flushed first */
    EXPECT_EQ(count_of(counts, faults::Op::rename), 1u);
}

TEST(FaultTaviro, EveryStepOfAnEditInPlace)
{
    TempDir d("fault-taviro");
    const std::string card = d / "card.ps2";
    put(d / "a.psu", save("SAVE-A", 1));
    put(d / "b.psu", save("SAVE-B", 2));
    ASSERT_TRUE(build_card_file(std::vector<std::string>{d / "a.psu"}, CardForm::coded, card.c_str(), {}).written);
    const Bytes old = get(card);
    const std::vector<std::string> items = {d / "b.psu"};
    CardEditRequest rq;
    rq.items = items;
    ReportLog log;
    CardEditResult result;
    Bytes edited;
    const std::vector<std::string> names = d.names();
    const auto counts = sweep_faults([&] { put(card, old), log.clear(); },
                 [&](const FaultRun&) { result = edit_card_file(card.c_str(), rq, log.reporter()); },
                 [&](const FaultRun& run) {
                     EXPECT_EQ(d.names(), names) << "a temporary file left behind";
                     if (run.op == faults::Op::count_) edited = get(card);
                     if (result.written) {
                         EXPECT_TRUE(get(card) == edited) << "not the edited card";
                         return;
                     }
                     EXPECT_TRUE(get(card) == old) << "a failed edit changed the card";
                     EXPECT_GE(log.count(Severity::error), 1u) << "not reported";
                 });
    EXPECT_NE(edited, old);
    EXPECT_EQ(count_of(counts, faults::Op::read), 2u); /* the card, the archive */
    EXPECT_GE(count_of(counts, faults::Op::write), 1u);
    EXPECT_EQ(count_of(counts, faults::Op::rename), 1u);
}

TEST(FaultTaviro, TheCommandLineSaysSo)
{
    TempDir d("fault-taviro");
    put(d / "a.psu", save("SAVE-A", 1));
    put(d / "card.bin", std::string_view("older card"));
    const std::vector<std::string> list = {d / "a.psu"};
    struct Case {
        faults::Op op;
        unsigned nth;
        std::string says;
    };
    const Case cases[] = {
        {faults::Op::write, 2, "taviro: " + (d / "card.bin") + ": cannot write the file: No space left on device\n"},
        {faults::Op::rename, 1, "taviro: " + (d / "card.bin") + ": cannot replace the existing file: Permission denied\n"},
        {faults::Op::read, 1, "taviro: " + (d / "a.psu") + ": cannot read the file: Input/output error\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        cli::Console console("taviro");
        faults::reset();
        faults::fail_nth(c.op, c.nth);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        (void)build_card_file(list, CardForm::raw, (d / "card.bin").c_str(), console.reporter());
        const std::string err = testing::internal::GetCapturedStderr();
        (void)testing::internal::GetCapturedStdout();
        faults::reset();
        EXPECT_EQ(console.exit_status(), cli::kExitSomeFailed);
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
    }
}
