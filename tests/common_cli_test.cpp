/* common_cli_test.cpp -- the progress line of the command-line tools: drawn in place, cut to the terminal's
 * width on a character boundary, erased around messages and at the end, never shown when quiet or for one file */
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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
