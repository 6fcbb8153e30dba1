/* common_cli_test.cpp -- what the command-line tools share: the progress line (drawn in place, cut to the
 * terminal's width on a character boundary, erased around messages and at the end, never shown when quiet or
 * for one file) and the walk over the command line (files, options, values, usage errors) */
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/cli.h"

namespace {

/* What was written to a stream so far. */
std::string contents(std::FILE* f)
{
    std::fflush(f);
    const long end = std::ftell(f);
    std::string s(size_t(end), '\0');
    std::rewind(f);
    EXPECT_EQ(std::fread(s.data(), 1, s.size(), f), s.size());
    std::fseek(f, 0, SEEK_END);
    return s;
}

struct Stream {
    std::FILE* f = std::tmpfile();
    ~Stream() { std::fclose(f); }
};

} // namespace

TEST(CliProgress, DrawnInPlaceErasedAroundMessagesAndAtTheEnd)
{
    Stream s;
    ps2::cli::Console con("tool");
    con.force_progress(s.f, 80);
    con.begin_batch(3);
    con.step("a.psu");
    EXPECT_EQ(contents(s.f), "\r[1/3] a.psu");
    con.print(ps2::Severity::error, "a.psu", "cannot open the file"); /* to the real stderr */
    EXPECT_EQ(contents(s.f), "\r[1/3] a.psu\r           \r\r[1/3] a.psu");
    con.end_batch();
    EXPECT_EQ(contents(s.f), "\r[1/3] a.psu\r           \r\r[1/3] a.psu\r           \r");
    EXPECT_EQ(con.errors(), 1);
}

TEST(CliProgress, CutToTheWidthOnACharacterBoundary)
{
    struct Case {
        unsigned width;
        const char* name;
        const char* line; /* what the first step draws */
    };
    const Case cases[] = {
        {12, "abcdefgh.psu", "\r[1/2] abcde"},                /* 11 columns: one short of the width */
        {14, "ab\xE3\x81\x82\xE3\x81\x84.psu", "\r[1/2] ab\xE3\x81\x82"}, /* not inside a UTF-8 character */
        {80, "tab\there\n", "\r[1/2] tab?here?"},                /* control characters never reach the terminal */
        {1, "x", "\r["},
    };
    for (const Case& c : cases) {
        Stream s;
        ps2::cli::Console con("tool");
        con.force_progress(s.f, c.width);
        con.begin_batch(2);
        con.step(c.name);
        EXPECT_EQ(contents(s.f), c.line) << c.width;
    }
}

TEST(CliProgress, NothingWhenQuietOrForOneFile)
{
    for (const bool quiet : {false, true}) {
        Stream s;
        ps2::cli::Console con("tool");
        con.force_progress(s.f, 80);
        con.set_quiet(quiet);
        con.begin_batch(quiet ? 5 : 1);
        con.step("a.psu");
        con.print(ps2::Severity::note, "a.psu", "done");
        con.end_batch();
        EXPECT_EQ(contents(s.f), "") << quiet;
    }
}

TEST(CliProgress, LinesModeWritesOneLinePerStep)
{
    Stream s;
    ps2::cli::Console con("tool");
    con.force_progress(s.f, 80);
    con.set_progress_lines(true);
    con.begin_batch(2);
    con.step("/x/a.psu");
    con.step("/x/b.psu");
    con.end_batch();
    EXPECT_EQ(contents(s.f), "[1/2] /x/a.psu\n[2/2] /x/b.psu\n");
}

namespace {

/* Walks `line` as a tool with the options -t/--temp and --list VALUE; returns
 * the files, the list value and the exit status (-1: go on). */
struct Walk {
    std::vector<std::string> files;
    std::string list = "(none)";
    bool temp = false;
    int status = -1;
};

Walk walk(std::vector<const char*> line)
{
    line.insert(line.begin(), "tool");
    ps2::cli::Console con("tool");
    ps2::cli::CommandLine args(int(line.size()), const_cast<char**>(line.data()), con, "");
    Walk w;
    const char* list = nullptr;
    while (args.next_option()) {
        if (args.is("-t", "--temp"))
            w.temp = true;
        else if (args.takes("--list", &list)) {
        } else
            args.unknown();
    }
    for (const char* f : args.files()) w.files.push_back(f);
    if (list) w.list = list;
    if (args.stopped()) w.status = args.exit_status();
    return w;
}

} // namespace

TEST(CliCommandLine, FilesOptionsValuesAndUsageErrors)
{
    /* Options hold wherever they stand; "-" alone is a file; after "--" everything is. */
    Walk w = walk({"a", "-t", "-", "--", "-q", "--list"});
    EXPECT_EQ(w.files, (std::vector<std::string>{"a", "-", "-q", "--list"}));
    EXPECT_TRUE(w.temp);
    EXPECT_EQ(w.status, -1);

    /* A value as the next argument or after "=" (even an empty one); -q is handled here. */
    EXPECT_EQ(walk({"--list", "x", "f"}).list, "x");
    EXPECT_EQ(walk({"--list", "x", "f"}).files, std::vector<std::string>{"f"});
    EXPECT_EQ(walk({"--list=", "f"}).list, "");
    EXPECT_EQ(walk({"-q", "--temp", "f"}).status, -1);

    /* A prefix of an option is not that option; a missing value and an unknown option are usage errors. */
    EXPECT_EQ(walk({"--listx", "f"}).status, ps2::cli::kExitUsage);
    EXPECT_EQ(walk({"f", "--list"}).status, ps2::cli::kExitUsage);
    EXPECT_EQ(walk({"-x", "--help"}).status, ps2::cli::kExitUsage);

    /* --version stops the walk with success, before the options after it are seen. */
    w = walk({"--version", "--bogus", "f"});
    EXPECT_EQ(w.status, ps2::cli::kExitOk);
    EXPECT_TRUE(w.files.empty());
}
