/* droprun_cli_test.cpp -- the droprun command end to end: started programs, arguments, folders, waiting */
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/test_support.h"

extern char** environ;

using namespace ps2::test;
namespace fs = std::filesystem;

namespace {

/* A preset list of the given groups, each a name and up to eight fields. */
std::string preset_list(const std::vector<std::vector<std::string>>& presets)
{
    std::string s;
    for (const auto& p : presets) {
        s += "--------\r\n";
        for (size_t i = 0; i < 9; ++i) s += (i < p.size() ? p[i] : std::string()) + "\r\n";
    }
    return s;
}

struct Result {
    int status = -1;
    std::string out, err;
};

/* Runs a program with the arguments, in the given folder, stdout and stderr caught. */
Result run_program(const std::string& program, const std::vector<std::string>& args, const TempDir& scratch,
                   const std::string& folder = "")
{
    const std::string out_file = scratch / "stdout.txt", err_file = scratch / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string old = fs::current_path();
    if (!folder.empty()) fs::current_path(folder);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    fs::current_path(old);
    posix_spawn_file_actions_destroy(&actions);
    Result r;
    if (rc != 0) return r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = get_text(out_file);
    r.err = get_text(err_file);
    return r;
}

std::string unhex(const std::string& h)
{
    if (h == "-") return "";
    std::string s;
    for (size_t i = 0; i + 1 < h.size(); i += 2) s += char(std::stoi(h.substr(i, 2), nullptr, 16));
    return s;
}

/* One line of the recorder's file: kind, tag, and for "begin" the folder and arguments. */
struct Record {
    std::string kind, tag, folder, how;
    std::vector<std::string> args;
};

std::vector<Record> records_of(const std::string& file)
{
    std::vector<Record> out;
    std::istringstream in(get_text(file));
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        Record r;
        words >> r.kind >> r.tag;
        if (r.kind == "begin") {
            std::string w;
            words >> w;
            r.folder = unhex(w);
            while (words >> w) r.args.push_back(unhex(w));
        } else {
            words >> r.how;
        }
        out.push_back(r);
    }
    return out;
}

/* Each test gets a scratch folder, its own record file, and the recorder's path. */
class DroprunCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("DROPRUN_RECORD", record_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1); /* never the user's own list */
    }
    void TearDown() override
    {
        unsetenv("DROPRUN_RECORD");
        unsetenv("XDG_CONFIG_HOME");
    }

    Result droprun(const std::vector<std::string>& args, const std::string& folder = "")
    {
        return run_program(DROPRUN_CLI, args, dir_, folder);
    }
    std::string list(const std::vector<std::vector<std::string>>& presets)
    {
        const std::string path = dir_ / "presets.lst";
        put(path, preset_list(presets));
        return path;
    }

    TempDir dir_{"droprun_cli"};
    const std::string record_ = dir_ / "record.txt";
    const std::string recorder_ = std::string("\"") + DROPRUN_RECORDER + "\"";
};

} // namespace

TEST_F(DroprunCli, ArgumentsAndWorkingFolder)
{
    fs::create_directory(dir_ / "saves");
    const std::vector<std::string> names = {"a b.psu", "x;touch PWNED;$(touch PWNED2)`touch PWNED3`|y&z.psu",
                                            "it's > here.psu", "back\\slash.psu", "%body%.psu"};
    std::vector<std::string> args = {"--list", list({{"Record", recorder_ + " \"%path%\" %name% \"[%body%]\" %dir%", "",
                                                      "", "", "%dir%"}})};
    for (const auto& n : names) {
        put(dir_ / ("saves/" + n), "");
        args.push_back(dir_ / ("saves/" + n));
    }
    const Result r = droprun(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto recs = records_of(record_);
    ASSERT_EQ(recs.size(), 2 * names.size());
    const std::string saves = dir_ / "saves";
    for (size_t i = 0; i < names.size(); ++i) {
        const Record& b = recs[2 * i];
        ASSERT_EQ(b.kind, "begin");
        EXPECT_EQ(b.folder, saves);
        const std::string body = names[i].substr(0, names[i].rfind('.'));
        /* %name% unquoted: split at blanks, but never by a shell. */
        std::vector<std::string> expected = {saves + "/" + names[i]};
        std::istringstream words(names[i]);
        for (std::string w; words >> w;) expected.push_back(w);
        expected.push_back("[" + body + "]");
        expected.push_back(saves);
        if (names[i] == "%body%.psu") expected = {saves + "/%body%.psu", "%body%.psu", "[%body%]", saves};
        EXPECT_EQ(b.args, expected) << names[i];
    }
    for (const char* p : {"PWNED", "PWNED2", "PWNED3"}) {
        EXPECT_FALSE(fs::exists(saves + "/" + p));
        EXPECT_FALSE(fs::exists(dir_ / p));
    }
}

TEST_F(DroprunCli, DoubleQuotesInNamesStayInTheirArgument)
{
    /* Names may hold double quotes on Linux: they go into the command line
     * escaped, so the Windows rules give the name back whole. */
    const std::vector<std::string> names = {"say \"hi; touch PWNED\".psu", "a\\\"b.psu", "q\".psu"};
    std::vector<std::string> args = {"--list", list({{"Q", recorder_ + " \"%path%\" %name% end"}})};
    for (const auto& n : names) {
        put(dir_ / n, "");
        args.push_back(dir_ / n);
    }
    const Result r = droprun(args);
    EXPECT_EQ(r.status, 0) << r.err;
    const auto recs = records_of(record_);
    ASSERT_EQ(recs.size(), 2 * names.size());
    EXPECT_EQ(recs[0].args, (std::vector<std::string>{dir_ / names[0], "say", "\"hi;", "touch", "PWNED\".psu", "end"}));
    EXPECT_EQ(recs[2].args, (std::vector<std::string>{dir_ / names[1], names[1], "end"}));
    EXPECT_EQ(recs[4].args, (std::vector<std::string>{dir_ / names[2], names[2], "end"}));
    EXPECT_FALSE(fs::exists(dir_ / "PWNED"));
}

TEST_F(DroprunCli, RelativeNamesAndTheFolderLeftByTheLastRun)
{
    fs::create_directory(dir_ / "one");
    fs::create_directory(dir_ / "start");
    put(dir_ / "one/a.psu", "");
    put(dir_ / "start/b.psu", "");
    const std::string lst = list({{"R", recorder_ + " %path%", "", "", "", "%dir%"}});
    /* b.psu is named relative to the start folder: it stays that file even
     * though the first run entered another folder. */
    const Result r = droprun({"--list", lst, dir_ / "one/a.psu", "./b.psu"}, dir_ / "start");
    EXPECT_EQ(r.status, 0) << r.err;
    const auto recs = records_of(record_);
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(recs[0].folder, dir_ / "one");
    EXPECT_EQ(recs[2].args, std::vector<std::string>{dir_ / "start/b.psu"});
    EXPECT_EQ(recs[2].folder, dir_ / "start");

    /* Without a working folder the programs start where droprun was started. */
    fs::remove(record_);
    const std::string lst2 = list({{"R", recorder_ + " %name%"}});
    EXPECT_EQ(droprun({"--list", lst2, "b.psu"}, dir_ / "start").status, 0);
    const auto recs2 = records_of(record_);
    ASSERT_EQ(recs2.size(), 2u);
    EXPECT_EQ(recs2[0].folder, dir_ / "start");
}

TEST_F(DroprunCli, WaitingRunsOneProgramAfterTheOther)
{
    put(dir_ / "a.psu", "");
    put(dir_ / "b.psu", "");
    const std::string lst = list({{"W", recorder_ + " --tag=1 --sleep=200", recorder_ + " --tag=2"}});
    EXPECT_EQ(droprun({"--list", lst, dir_ / "a.psu", dir_ / "b.psu"}).status, 0);
    std::vector<std::string> order;
    for (const auto& rec : records_of(record_)) order.push_back(rec.kind + " " + rec.tag);
    EXPECT_EQ(order, (std::vector<std::string>{"begin 1", "end 1", "begin 2", "end 2", "begin 1", "end 1",
                                               "begin 2", "end 2"}));
}

TEST_F(DroprunCli, NotWaitingStartsTheNextAtOnce)
{
    /* Program 1 ends only once program 2 has touched the marker: it can
     * only end ("seen") if droprun did not wait for it. */
    put(dir_ / "a.psu", "");
    const std::string marker = dir_ / "marker";
    const std::string lst = list({{"N", recorder_ + " --tag=1 --wait-for=" + marker,
                                   recorder_ + " --tag=2 --touch=" + marker, "", "", "", "", "do not wait"}});
    EXPECT_EQ(droprun({"--list", lst, dir_ / "a.psu"}).status, 0);
    /* droprun has returned; wait (bounded) for program 1 to finish. */
    for (int n = 0; n < 500 && records_of(record_).size() < 4; ++n) usleep(10000);
    const auto recs = records_of(record_);
    ASSERT_EQ(recs.size(), 4u);
    for (const auto& rec : recs) {
        if (rec.kind == "end" && rec.tag == "1") {
            EXPECT_EQ(rec.how, "seen");
        }
    }
}

TEST_F(DroprunCli, FailuresAreReportedAndTheRunGoesOn)
{
    put(dir_ / "a.psu", "");
    const std::string lst = list({{"F", "/nonexistent/program %name%", std::string(1000, 'x') + " %path%",
                                   recorder_ + " --tag=3", "   ", "/no/such/folder"}});
    const Result r = droprun({"--list", lst, dir_ / "a.psu"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot enter the working folder /no/such/folder"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot start command 1 (No such file or directory): /nonexistent/program a.psu"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("command 2 is longer than 1023 bytes once expanded; not started"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("cannot start command 4"), std::string::npos) << r.err; /* blanks only */
    const auto recs = records_of(record_);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].tag, "3");
}

TEST_F(DroprunCli, DryRunStartsNothing)
{
    const std::string lst = list({{"D", recorder_ + " \"%path%\"", "", "", "", "%dir%", "", "", ".psu|.max"}});
    put(dir_ / "a b.PSU", "");
    put(dir_ / "c.bin", "");
    /* A FILE that is not there is skipped with a warning, as a real run skips it. */
    const Result r = droprun({"--list", lst, "--dry-run", dir_ / "a b.PSU", dir_ / "gone.psu", dir_ / "c.bin"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "droprun: warning: " + dir_ / "gone.psu" + ": no such file or folder; skipped\n");
    EXPECT_FALSE(fs::exists(record_));
    const std::string expected = dir_ / "a b.PSU" + "\n  taken\n  folder: " + dir_.path() + "\n  command 1: " +
                                 recorder_ + " \"" + dir_ / "a b.PSU" + "\"\n    arguments: " + DROPRUN_RECORDER +
                                 " '" + dir_ / "a b.PSU" + "'\n" + dir_ / "c.bin" +
                                 "\n  not taken by the tail filter\n";
    EXPECT_EQ(r.out, expected);
}

TEST_F(DroprunCli, ChoosingAndShowingPresets)
{
    put(dir_ / "a.psu", "");
    const std::string lst = list({{"First", recorder_ + " --tag=first"}, {"Second", recorder_ + " --tag=second"},
                                  {"3", recorder_ + " --tag=three"}});
    EXPECT_EQ(droprun({"--list", lst, dir_ / "a.psu"}).status, 0);
    EXPECT_EQ(droprun({"--list", lst, "--preset", "2", dir_ / "a.psu"}).status, 0);
    EXPECT_EQ(droprun({"--list", lst, "--preset=Second", dir_ / "a.psu"}).status, 0);
    std::vector<std::string> tags;
    for (const auto& rec : records_of(record_))
        if (rec.kind == "begin") tags.push_back(rec.tag);
    EXPECT_EQ(tags, (std::vector<std::string>{"first", "second", "second"}));

    const Result bad = droprun({"--list", lst, "--preset", "4", dir_ / "a.psu"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("no preset 4"), std::string::npos);
    EXPECT_EQ(droprun({"--list", lst, "--preset", "Third", dir_ / "a.psu"}).status, 2);

    const Result shown = droprun({"--list", lst, "--show-presets"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out, lst + ": 3 presets\n1: First\n    command 1       " + recorder_ + " --tag=first\n2: Second\n    command 1       " +
                             recorder_ + " --tag=second\n3: 3\n    command 1       " + recorder_ + " --tag=three\n");
}

TEST_F(DroprunCli, ListBesideTheProgram)
{
    /* A copy of the program under another name reads its own list. */
    const std::string copy = dir_ / "launcher.bin";
    fs::copy_file(DROPRUN_CLI, copy);
    fs::permissions(copy, fs::perms::owner_all);
    put(dir_ / "a.psu", "");
    put(dir_ / "launcher.lst", preset_list({{"Mine", recorder_ + " --tag=beside %process%"}}));
    const Result r = run_program(copy, {dir_ / "a.psu"}, dir_);
    EXPECT_EQ(r.status, 0) << r.err;
    const auto recs = records_of(record_);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].args, std::vector<std::string>{dir_.path()});

    /* The user's own list comes first; --show-presets names the list it read. */
    fs::create_directories(dir_ / "config/droprun");
    put(dir_ / "config/droprun/droprun.lst", preset_list({{"Own"}}));
    EXPECT_EQ(run_program(copy, {"--show-presets"}, dir_).out, dir_ / "config/droprun/droprun.lst: 1 preset\n1: Own\n");

    fs::remove(dir_ / "launcher.lst");
    fs::remove(dir_ / "config/droprun/droprun.lst");
    const Result missing = run_program(copy, {dir_ / "a.psu"}, dir_);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "droprun: no preset list: neither " + dir_ / "config/droprun/droprun.lst" + " nor " +
                               dir_ / "launcher.lst" + " exists; name a list with --list\n");
}

TEST_F(DroprunCli, Usage)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* text; /* in stdout for 0, in stderr otherwise */
    };
    const Case cases[] = {
        {{"--help"}, 0, "Usage: droprun"},
        {{"--version"}, 0, "droprun Version 20/05/24"},
        {{}, 2, "no file given"},
        {{"--list"}, 2, "option --list needs a value"},
        {{"--bogus", "a"}, 2, "unknown option '--bogus'"},
        {{"--show-presets", "a"}, 2, "--show-presets takes no files"},
    };
    for (const Case& c : cases) {
        const Result r = droprun(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.text), std::string::npos) << r.out << r.err;
    }
}
