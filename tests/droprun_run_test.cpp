/* droprun_run_test.cpp -- one file's run: the order in which fields are read and programs started */
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "droprun/run.h"

using namespace ps2;
using namespace ps2::droprun;

namespace {

/* A form whose fields can change while a "program" runs, and a log of
 * everything the run asked for. */
class RecordingHost final : public RunHost {
public:
    std::map<FormField, std::string> form;
    std::vector<std::string> log;
    /* Called while a waited-for command "runs". */
    std::function<void(const std::string&)> during_wait;

    void read_field(FormField field, PathBuffer* text) override
    {
        log.push_back("read " + std::to_string(int(field)));
        ASSERT_TRUE(text->assign(form[field].c_str()));
    }
    void filter_decided(bool taken) override { log.push_back(taken ? "taken" : "not taken"); }
    void enter_folder(const char* folder) override { log.push_back(std::string("cd ") + folder); }
    void start_command(FormField field, const char* line, bool hide, bool wait) override
    {
        log.push_back("start " + std::to_string(int(field)) + (hide ? " hidden" : " shown") +
                      (wait ? " waited: " : " not waited: ") + line);
        if (wait && during_wait) during_wait(line);
    }
    void expansion_too_long(FormField field) override { log.push_back("too long " + std::to_string(int(field))); }
};

const SystemFolders kFolders{"C:\\WINDOWS", "C:\\tools", "C:\\Desktop"};

std::vector<std::string> starts_of(const std::vector<std::string>& log)
{
    std::vector<std::string> out;
    for (const auto& l : log)
        if (l.rfind("start", 0) == 0 || l.rfind("cd", 0) == 0 || l.rfind("too", 0) == 0) out.push_back(l);
    return out;
}

} // namespace

TEST(DroprunRun, FieldsAreReadInTheirOrder)
{
    RecordingHost host;
    host.form[FormField::tail_filter] = ".psu";
    host.form[FormField::working_folder] = "%dir%";
    host.form[FormField::command1] = "a \"%path%\"";
    host.form[FormField::command3] = "c %body%";
    EXPECT_TRUE(run_file("C:\\x\\s.psu", kFolders, kWindowsShiftJisRules, host));
    EXPECT_EQ(host.log, (std::vector<std::string>{
                            "read 136", "taken", "read 133", "cd C:\\x", "read 134", "read 135",
                            "read 129", "start 129 shown waited: a \"C:\\x\\s.psu\"", "read 130", "read 131",
                            "start 131 shown waited: c s", "read 132"}));
}

TEST(DroprunRun, FilterThatDoesNotTakeEndsTheRun)
{
    RecordingHost host;
    host.form[FormField::tail_filter] = ".psu|.max";
    host.form[FormField::working_folder] = "C:\\elsewhere";
    host.form[FormField::command1] = "never";
    EXPECT_FALSE(run_file("C:\\a\\b.bin", kFolders, kWindowsShiftJisRules, host));
    EXPECT_EQ(host.log, (std::vector<std::string>{"read 136", "not taken"}));
}

TEST(DroprunRun, OptionsAnyTextCountsAsSet)
{
    RecordingHost host;
    host.form[FormField::hide_window] = "0";
    host.form[FormField::no_wait] = "0";
    host.form[FormField::command2] = "b";
    host.form[FormField::command4] = "d";
    run_file("C:\\a.txt", kFolders, kWindowsShiftJisRules, host);
    EXPECT_EQ(starts_of(host.log),
              (std::vector<std::string>{"start 130 hidden not waited: b", "start 132 hidden not waited: d"}));
}

TEST(DroprunRun, FieldsChangedDuringAWaitCountForTheRest)
{
    /* While command 1 runs, another preset is chosen and a nested drop sets
     * a working folder: commands 2-4 come from the new form, the options
     * read before the wait stay. */
    RecordingHost host;
    host.form[FormField::command1] = "first %name%";
    host.form[FormField::command2] = "old second";
    host.during_wait = [&](const std::string& line) {
        if (line.rfind("first", 0) != 0) return;
        host.form[FormField::command2] = "";
        host.form[FormField::command3] = "new third %body%";
        host.form[FormField::no_wait] = "x";
        host.form[FormField::working_folder] = "D:\\nested";
        host.log.push_back("nested run");
    };
    run_file("C:\\s\\a.psu", kFolders, kWindowsShiftJisRules, host);
    EXPECT_EQ(starts_of(host.log), (std::vector<std::string>{"start 129 shown waited: first a.psu",
                                                             "start 131 shown waited: new third a"}));
}

TEST(DroprunRun, TooLongExpansionSkipsOnlyThatCommand)
{
    RecordingHost host;
    host.form[FormField::working_folder] = std::string(1010, 'f') + "%path%";
    host.form[FormField::command1] = std::string(1010, 'x') + " %path%";
    host.form[FormField::command2] = "ok %name%";
    run_file("C:\\dir\\file.psu", kFolders, kWindowsShiftJisRules, host);
    EXPECT_EQ(starts_of(host.log),
              (std::vector<std::string>{"too long 133", "too long 129", "start 130 shown waited: ok file.psu"}));
}

TEST(DroprunRun, EmptyFormStartsNothing)
{
    RecordingHost host;
    EXPECT_TRUE(run_file("C:\\a.psu", kFolders, kWindowsShiftJisRules, host));
    EXPECT_TRUE(starts_of(host.log).empty());
}
