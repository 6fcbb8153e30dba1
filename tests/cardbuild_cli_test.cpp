/* cardbuild_cli_test.cpp -- the taviro command: usage, the form by extension and by option, sorting, list-only,
 * exit statuses and messages for missing paths, files left out and a full card */
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "card/card.h"
#include "cardbuild_test_util.h"

using namespace ps2;
using namespace ps2::test;
namespace fs = std::filesystem;

namespace {

struct CliRun {
    int status = -1;
    std::string out, err;
};

std::string slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

class TaviroCli : public testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/taviro-cli.XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string at(const std::string& name) const { return dir_ + "/" + name; }

    CliRun run(const std::string& args)
    {
        CliRun r;
        const std::string cmd = "cd '" + dir_ + "' && '" TAVIRO_CLI "' " + args + " >out.txt 2>err.txt";
        const int s = std::system(cmd.c_str());
        r.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
        r.out = slurp(at("out.txt"));
        r.err = slurp(at("err.txt"));
        return r;
    }
    void put(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        fs::create_directories(fs::path(at(name)).parent_path());
        std::ofstream(at(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    }

    std::string dir_;
};

} // namespace

TEST_F(TaviroCli, UsageAndVersion)
{
    CliRun r = run("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: taviro -o OUT"), std::string::npos);
    EXPECT_NE(r.out.find("Examples:"), std::string::npos);
    r = run("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "taviro Version 20/05/24\n");

    const char* bad[] = {"a.psu", "-o", "--raw --coded -o x.bin", "--sort up -o x.bin", "--frobnicate -o x.bin"};
    for (const char* args : bad) {
        r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("taviro: "), std::string::npos) << args;
        EXPECT_NE(r.err.find("--help"), std::string::npos) << args;
    }
}

TEST_F(TaviroCli, FormsSortAndListOnly)
{
    put("saves/b.psu", save_bytes("BBB", {file_member("X", 100)}, 1));
    put("saves/A.psu", save_bytes("AAA", {file_member("Y", 2000)}, 2));
    put("saves/sub/c.psu", save_bytes("CCC", {file_member("Z", 0)}, 3));
    put("saves/.git/junk", {1, 2, 3});

    CliRun r = run("--list-only --sort asc saves/");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "saves/A.psu\nsaves/b.psu\nsaves/sub/c.psu\n");
    EXPECT_FALSE(fs::exists(at("out.vm2")));
    r = run("--list-only --sort=desc saves");
    EXPECT_EQ(r.out, "saves/sub/c.psu\nsaves/b.psu\nsaves/A.psu\n");

    struct {
        const char* args;
        const char* file;
        size_t size;
    } forms[] = {
        {"-o card.bin saves", "card.bin", kRawImageSize},
        {"-o card.vm2 saves", "card.vm2", kCodedImageSize},
        {"-o card.ps2 saves", "card.ps2", kCodedImageSize},
        {"-o card.img saves", "card.img", kCodedImageSize},
        {"--raw -o raw.vm2 saves", "raw.vm2", kRawImageSize},
        {"--coded --output=coded.BIN saves", "coded.BIN", kCodedImageSize},
    };
    for (const auto& f : forms) {
        r = run(f.args);
        EXPECT_EQ(r.status, 0) << f.args << r.err;
        EXPECT_EQ(fs::file_size(at(f.file)), f.size) << f.args;
    }
    /* Notes: one per save and the summary; -q silences them. */
    r = run("--sort asc -o card.bin saves/*.psu saves/sub");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("saves/A.psu: placed \"AAA\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("card.bin: raw image written: 3 saves, "), std::string::npos) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
    auto image = slurp(at("card.bin"));
    const ConstRawImage card(reinterpret_cast<const uint8_t*>(image.data()), kRawImageSize);
    CardDirectory root;
    ASSERT_EQ(read_card_directory(card, 0, root_entry_count(card), &root), CardError::ok);
    ASSERT_EQ(root.entry_count, 5u);
    EXPECT_EQ(psu_record_name(directory_entry(card, root.chain, 2)), "AAA");
    EXPECT_EQ(psu_record_name(directory_entry(card, root.chain, 3)), "BBB");
    EXPECT_EQ(psu_record_name(directory_entry(card, root.chain, 4)), "CCC");
    r = run("-q -o card.bin saves");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.empty());

    /* No paths at all: a fresh card. */
    r = run("-o blank.bin");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(fs::file_size(at("blank.bin")), kRawImageSize);
}

TEST_F(TaviroCli, ProblemsAreToldAndExitNonZero)
{
    put("good.psu", save_bytes("GOOD", {file_member("X", 100)}, 1));
    auto cut = save_bytes("CUT", {file_member("K", 10), file_member("G", 10)});
    store_u16le(cut.data() + 1536 + 512 + 1024, 0);
    put("cut.psu", cut);
    put("bad.psu", std::vector<uint8_t>(100, 0x20));

    CliRun r = run("-o card.vm2 good.psu missing.psu bad.psu cut.psu good.psu");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("taviro: missing.psu: no such file or folder"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("taviro: bad.psu: an entry runs past the end of the file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("taviro: warning: cut.psu: the record at offset 3072"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("taviro: warning: good.psu: a save named \"GOOD\" is on the card already"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(fs::file_size(at("card.vm2")), kCodedImageSize); /* built from the others */

    /* A full card: the message names the first archive that does not fit; no file. */
    put("big1.psu", save_bytes("BIG1", {file_member("D", 5000 * 1024, samples::Fill::zeros)}, 1));
    put("big2.psu", save_bytes("BIG2", {file_member("D", 3200 * 1024, samples::Fill::zeros)}, 2));
    r = run("-o full.vm2 big1.psu big2.psu good.psu");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("taviro: big2.psu: does not fit"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(at("full.vm2")));

    r = run("-o nowhere/card.bin good.psu");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("nowhere/card.bin"), std::string::npos) << r.err;
}
