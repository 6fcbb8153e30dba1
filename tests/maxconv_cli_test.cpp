/* maxconv_cli_test.cpp -- the varkon command: output lines, exit statuses, --check, options */
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/psu.h"
#include "maxconv/max_convert.h"

using namespace ps2;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

struct Outcome {
    int status;
    std::string out, err;
};

std::string slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

class VarkonCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/varkoncli.XXXXXX";
        dir_ = mkdtemp(tmpl);
        fs::create_directory(dir_ + "/w");
    }
    void TearDown() override { fs::remove_all(dir_); }

    /* Runs varkon in the work folder w/ (so the paths printed are short). */
    Outcome run(const std::string& args)
    {
        const std::string cmd = "cd '" + dir_ + "/w' && '" VARKON_EXE "' " + args + " >'" + dir_ + "/out' 2>'" + dir_ + "/err'";
        const int s = std::system(cmd.c_str());
        return {WIFEXITED(s) ? WEXITSTATUS(s) : -1, slurp(dir_ + "/out"), slurp(dir_ + "/err")};
    }
    void put(const std::string& name, const Bytes& b)
    {
        std::ofstream(dir_ + "/w/" + name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    }
    bool exists(const std::string& name) const { return fs::exists(dir_ + "/w/" + name); }

    static Bytes psu()
    {
        Bytes buf(8192);
        PsuWriter w(buf);
        EXPECT_TRUE(w.add_entry(make_directory_entry("SAVE", 3)));
        EXPECT_TRUE(w.add_entry(make_directory_entry(".", 0)));
        EXPECT_TRUE(w.add_entry(make_directory_entry("..", 0)));
        EXPECT_TRUE(w.add_file(make_file_entry("DATA", 0), Bytes{0x61, 0x62, 0x63}));
        buf.resize(w.size());
        return buf;
    }
    static Bytes max()
    {
        Bytes build(kWorkBufferSize), out(kWorkBufferSize);
        size_t n = 0;
        EXPECT_EQ(convert_psu_to_max(psu(), build, out, &n), MaxError::ok);
        out.resize(n);
        return out;
    }

    std::string dir_;
};

} // namespace

TEST_F(VarkonCli, UsageVersionAndBadOptions)
{
    struct Case {
        const char* args;
        int status;
        const char* out_starts;
        const char* err;
    };
    const Case cases[] = {
        {"--version", 0, "varkon Version 20/05/24\n", ""},
        {"--help", 0, "Usage: varkon [-q] FILE...\n", ""},
        {"-h", 0, "Usage: varkon", ""},
        {"", 2, "", "varkon: no files named\nTry 'varkon --help' for more information.\n"},
        {"-q", 2, "", "varkon: no files named\nTry 'varkon --help' for more information.\n"},
        {"--bogus x.psu", 2, "", "varkon: unknown option '--bogus'\nTry 'varkon --help' for more information.\n"},
    };
    for (const Case& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out.rfind(c.out_starts, 0), 0u) << c.args << ": " << r.out;
        EXPECT_EQ(r.err, c.err) << c.args;
    }
}

TEST_F(VarkonCli, ConvertsEachFileAndPrintsInToOut)
{
    put("a.psu", psu());
    put("b.max", max());
    const Outcome r = run("a.psu b.max");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "a.psu -> a.max\nb.max -> b.psu\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(exists("a.max") && exists("b.psu"));
    EXPECT_EQ(run("-q a.psu").out, "");
}

TEST_F(VarkonCli, BadCrcIsAWarningAndRefusalsFailTheRun)
{
    Bytes bad = max();
    store_u32le(&bad[12], 0);
    put("bad.max", bad);
    put("junk.psu", Bytes(100, 'j'));
    put("ok.psu", psu());
    const Outcome r = run("bad.max junk.psu -- ok.psu");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "bad.max -> bad.psu\nok.psu -> ok.max\n");
    EXPECT_EQ(r.err, "varkon: warning: bad.max: BAD CRC: the check value does not match (stored 0x00000000, computed 0x68121DDE)\n"
                     "varkon: junk.psu: neither a MAX archive (no \"Ps2PowerSave\") nor a PSU archive (no \".\" and \"..\" "
                     "entries); nothing written\n");
    /* A warning alone does not fail the run. */
    EXPECT_EQ(run("bad.max").status, 0);
    /* The damaged file named .psu is kept, and the command says why. */
    put("only.psu", bad);
    const Outcome kept = run("only.psu");
    EXPECT_EQ(kept.status, 1);
    EXPECT_NE(kept.err.find("BAD CRC"), std::string::npos);
    EXPECT_NE(kept.err.find("kept it"), std::string::npos) << kept.err;
}

TEST_F(VarkonCli, CheckWritesNothing)
{
    put("a.max", max());
    put("b.psu", psu());
    Outcome r = run("--check a.max b.psu");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "a.max: MAX archive of SAVE: 1 files, 40 bytes of payload, CRC ok; sound\n"
                     "b.psu: PSU archive of SAVE: 1 files, 40 bytes of MAX payload; sound\n");
    EXPECT_FALSE(exists("a.psu") || exists("b.max"));
    r = run("--check a.max missing.max");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "varkon: missing.max: cannot open the file\n");
}
