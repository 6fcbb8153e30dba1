/* unpack_cli_test.cpp -- the quilban command: options, messages on stdout and stderr, exit statuses */
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/unpack_samples.h"

using namespace ps2;
using namespace ps2::test;
namespace fs = std::filesystem;

namespace {

struct CliRun {
    int status = -1;
    std::string out, err;
};

class QuilbanCli : public ::testing::Test {
protected:
    /* Runs quilban in the test folder with the arguments (already shell-quoted), in the locale given. */
    CliRun run(const std::string& args, const std::string& locale = "C")
    {
        const std::string cmd =
            "cd '" + dir_ + "' && LC_ALL=" + locale + " '" QUILBAN_CLI_PATH "' " + args + " >out.txt 2>err.txt";
        CliRun r;
        const int raw = std::system(cmd.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = get_text(dir_ + "/out.txt");
        r.err = get_text(dir_ + "/err.txt");
        return r;
    }
    void put(const std::string& name, const Bytes& b)
    {
        test::put(dir_ + "/" + name, b);
    }

    TempDir tmp_{"quilbancli"};
    const std::string dir_ = tmp_.path();
};

} // namespace

TEST_F(QuilbanCli, StandardOptionsAndUsage)
{
    struct Case {
        std::string args;
        int status;
        std::string out_part, err;
    };
    const Case cases[] = {
        {"--version", 0, "quilban Version 20/05/24\n", ""},
        {"--help", 0, "Usage: quilban [--temp-names] [-f] [-q] FILE...", ""},
        {"-h", 0, "--temp-names", ""},
        {"", 2, "", "quilban: no file given\nTry 'quilban --help' for more information.\n"},
        {"-q", 2, "", "quilban: no file given\nTry 'quilban --help' for more information.\n"},
        {"--bogus x.psu", 2, "", "quilban: unknown option '--bogus'\nTry 'quilban --help' for more information.\n"},
    };
    for (const Case& c : cases) {
        const CliRun r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_NE(r.out.find(c.out_part), std::string::npos) << c.args << ": " << r.out;
        EXPECT_EQ(r.err, c.err) << c.args;
    }
    EXPECT_EQ(run("--version").out, "quilban Version 20/05/24\n");
}

TEST_F(QuilbanCli, UnpackAndRebuild)
{
    put("SAVE01.psu", make_archive(dir("BESLES-50539", {file("icon.sys", pattern(964)), file("data", pattern(99))})));
    CliRun r = run("SAVE01.psu");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "SAVE01.psu: unpacked 5 entries into SAVE01: QUILBAN.TXT and 2 member files\n");
    EXPECT_EQ(r.err, "");
    r = run("SAVE01/quilban.txt");
    EXPECT_EQ(r.status, 1); /* taken for a manifest, but no such file on a case-sensitive file system */
    EXPECT_EQ(r.err, "quilban: SAVE01/quilban.txt: cannot open the manifest: cannot open the file: No such file or "
                     "directory\n");
    r = run("SAVE01/QUILBAN.TXT");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "SAVE01/QUILBAN.TXT: rebuilt SAVE01/BESLES-50539.psu: 5 entries, 2 member files, 4608 bytes\n");
    r = run("-q --temp-names SAVE01/QUILBAN.TXT");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fs::exists(dir_ + "/SAVE01/temp.psu"));
    /* Options hold for every file, wherever they stand; "--" ends them. */
    put("-dash.psu", make_archive(dir("D", {file("f", pattern(3))})));
    r = run("-- -dash.psu -t");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(fs::exists(dir_ + "/-dash/f"));
    EXPECT_NE(r.err.find("quilban: -t: cannot open the archive"), std::string::npos) << r.err;
    r = run("./-dash.psu -t"); /* another manifest: the one there is kept */
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("quilban: ./-dash/QUILBAN.TXT: exists already with other content; kept (--force or -f "
                         "replaces it)\n"),
              std::string::npos)
        << r.err;
    r = run("-f ./-dash.psu -t");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir_ + "/-dash/temp0003.bin"));
}

TEST_F(QuilbanCli, ShiftJisNamesInTheLocalesCharacterSet)
{
    /* ソウル: a save and a member named in Shift_JIS (0x835C: a trail byte 0x5C) become UTF-8 file names; the
     * manifest's name lines keep the bytes, so the rebuild gives the archive back byte for byte. */
    const Bytes archive = make_archive(dir("\x83\x5C\x83\x45\x83\x8B", {file("\x83\x5C.dat", pattern(99))}));
    put("s.psu", archive);
    CliRun r = run("s.psu", "C.UTF-8");
    EXPECT_EQ(r.out, "s.psu: entry 4 \"\xE3\x82\xBD.dat\": member file s/\xE3\x82\xBD.dat (the Shift_JIS name in UTF-8)\n"
                     "s.psu: unpacked 4 entries into s: QUILBAN.TXT and 1 member file\n");
    EXPECT_NE(get_text(dir_ + "/s/QUILBAN.TXT").find("\r\n\x83\x5C.dat\r\n"), std::string::npos);
    r = run("s/QUILBAN.TXT", "C.UTF-8");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(get(dir_ + "/s/\xE3\x82\xBD\xE3\x82\xA6\xE3\x83\xAB.psu"), archive);
}

TEST_F(QuilbanCli, FailuresWarningsAndExitStatus)
{
    const Bytes archive = make_archive(dir("SAVE", {file("one", pattern(1000)), file("../two", pattern(10))}));
    put("bad.psu", archive);
    put("cut.psu", Bytes(archive.begin(), archive.begin() + 2048 + 500));
    CliRun r = run("missing.psu cut.psu");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quilban: missing.psu: cannot open the archive: cannot open the file: No such file or directory\n"
                     "quilban: warning: cut.psu: entry 4 \"one\": the archive ends inside its data: cut/one holds "
                     "500 of its 1000 bytes\n"
                     "quilban: warning: cut.psu: the archive ends early: 1 member of \"SAVE\" (entry 1) is missing\n");
    EXPECT_EQ(r.out, "cut.psu: unpacked 4 entries into cut: QUILBAN.TXT and 1 member file\n");
    r = run("cut.psu");
    EXPECT_EQ(r.status, 1); /* warnings alone, but the archive ends early */
    EXPECT_EQ(r.out, "cut.psu: unpacked 4 entries into cut: QUILBAN.TXT and 1 member file, 2 of them up to date\n");

    r = run("bad.psu");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quilban: bad.psu: entry 5 \"../two\": member file not written: the name holds a path "
                     "separator (\"\\\" or \"/\"); use temporary names (--temp-names, or USE TEMP NAME in the "
                     "window)\n");
    r = run("bad/QUILBAN.TXT");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quilban: bad/QUILBAN.TXT: block 5 (line 78): member file \"../two\" cannot be used: the name "
                     "holds a path separator (\"\\\" or \"/\"); unpack the archive again and use temporary names "
                     "(--temp-names, or USE TEMP NAME in the window)\n"
                     "quilban: bad/QUILBAN.TXT: no archive written\n");
    EXPECT_FALSE(fs::exists(dir_ + "/bad/SAVE.psu"));
    /* Unpacking again with temporary names writes another manifest: it replaces the old one with --force. */
    r = run("-q -t -f bad.psu && '" QUILBAN_CLI_PATH "' bad/QUILBAN.TXT");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir_ + "/bad/SAVE.psu"));
}
