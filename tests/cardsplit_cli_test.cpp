/* cardsplit_cli_test.cpp -- the sorvik command: its output, error lines and exit statuses */
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "card/ecc.h"
#include "cardbuild/cardbuild.h"
#include "tests/cardsplit_testcard.h"
#include "tests/test_support.h"
#include "tools/samplegen.h"

using namespace ps2;
using namespace ps2::testcard;
using namespace ps2::test;
namespace fs = std::filesystem;

namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

/* Runs sorvik in the folder with the arguments (shell words). */
CliRun sorvik(const TempDir& dir, const std::string& args)
{
    const std::string cmd = "cd '" + dir.path() + "' && LC_ALL=C '" PS2_SORVIK_CLI "' " + args +
                            " >.out 2>.err";
    const int rc = std::system(cmd.c_str());
    CliRun r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = get_text(dir / ".out");
    r.err = get_text(dir / ".err");
    fs::remove(dir / ".out");
    fs::remove(dir / ".err");
    return r;
}

std::vector<uint8_t> card_with(std::initializer_list<const char*> names)
{
    Card card = fresh_card();
    for (const char* name : names) {
        samples::Save s;
        s.name = name;
        s.title = std::string("About ") + name;
        s.members = {{"icon.sys", 964, samples::Fill::icon, false, {}}, {"DATA", 3000, samples::Fill::text, false, {}}};
        Placer(&card, {}).place(samples::build_save(s));
    }
    return coded_file(card);
}

} // namespace

TEST(SorvikCli, HelpVersionAndUsage)
{
    TempDir dir("sorvik");
    CliRun r = sorvik(dir, "--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "sorvik Version 20/05/24\n");
    r = sorvik(dir, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: sorvik [--temp-names] [-f] [-q] IMAGE...\n", 0), 0u);
    EXPECT_NE(r.out.find("--list"), std::string::npos);
    r = sorvik(dir, "");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "sorvik: no card image given\nTry 'sorvik --help' for more information.\n");
    r = sorvik(dir, "--bogus card.ps2");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("sorvik: unknown option '--bogus'\n", 0), 0u);
    r = sorvik(dir, "--list --temp-names card.ps2");
    EXPECT_EQ(r.status, 2);
}

TEST(SorvikCli, SplitsAndTellsWhatItWrote)
{
    TempDir dir("sorvik");
    put(dir / "card.ps2", card_with({"BESLES-11111", "BASLUS-22222"}));
    CliRun r = sorvik(dir, "card.ps2");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "card.ps2: folder card\n"
                     "card.ps2: wrote card/BESLES-11111.psu\n"
                     "card.ps2: wrote card/BASLUS-22222.psu\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(names_in(dir / "card"), (std::vector<std::string>{"BASLUS-22222.psu", "BESLES-11111.psu"}));

    /* Again, with one archive changed by the user and one gone: the changed one is kept, the rest written. */
    put(dir / "card/BASLUS-22222.psu", std::string("edited"));
    fs::remove(dir / "card/BESLES-11111.psu");
    r = sorvik(dir, "card.ps2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "card.ps2: folder card\n"
                     "card.ps2: wrote card/BESLES-11111.psu\n");
    EXPECT_EQ(r.err, "sorvik: card.ps2: card/BASLUS-22222.psu: exists already with other content; kept (--force or -f "
                     "replaces it)\n");
    EXPECT_EQ(get_text(dir / "card/BASLUS-22222.psu"), "edited");
    r = sorvik(dir, "-f card.ps2");
    EXPECT_EQ(r.status, 0);
    r = sorvik(dir, "card.ps2"); /* and once more: all up to date */
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("card.ps2: card/BASLUS-22222.psu: up to date\n"), std::string::npos) << r.out;

    r = sorvik(dir, "-q --temp-names card.ps2");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fs::exists(dir / "card/temp0003.psu"));
}

TEST(SorvikCli, OneLinePerFailureAndANonZeroStatus)
{
    TempDir dir("sorvik");
    put(dir / "card.ps2", card_with({"GOOD", "A/B", ".."}));
    put(dir / "noext", card_with({"GOOD"}));
    put(dir / "save.psu", std::vector<uint8_t>(2048, 0));
    CliRun r = sorvik(dir, "-q save.psu noext card.ps2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "sorvik: save.psu: not a PS2 memory card image (no \"Sony PS2 Memory Card Format 1.2.0.0\" signature); "
              "nothing written\n"
              "sorvik: noext: the image's name has no extension before which its folder could be named; nothing written\n"
              "sorvik: card.ps2: entry 3 \"A/B\": the name cannot be used as a file name; not written\n"
              "sorvik: card.ps2: entry 4 \"..\": the name cannot be used as a file name; not written\n"
              "sorvik: 2 entries were not written for their name; --temp-names writes every entry as tempNNNN.psu by "
              "its place in the root directory\n");
    EXPECT_EQ(names_in(dir / "card"), (std::vector<std::string>{"GOOD.psu"}));

    r = sorvik(dir, "-q --temp-names card.ps2");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(names_in(dir / "card"),
              (std::vector<std::string>{"GOOD.psu", "temp0002.psu", "temp0003.psu", "temp0004.psu"}));
}

TEST(SorvikCli, ListShowsTheRootAndWritesNothing)
{
    TempDir dir("sorvik");
    put(dir / "card.vm2", card_with({"BESLES-11111", "BASLUS-22222"}));
    const CliRun r = sorvik(dir, "--list card.vm2");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "card.vm2: 2 root entries\n"
                     " index  kind  state             size  name                              title\n"
                     "     2  dir   live         4 entries  BESLES-11111                      About BESLES-11111\n"
                     "     3  dir   live         4 entries  BASLUS-22222                      About BASLUS-22222\n");
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"card.vm2"}));
}

TEST(SorvikCli, CardsOfEverySizeFromTaviroSplitAlikeAndCheckSound)
{
    TempDir dir("sorvik");
    std::vector<std::vector<uint8_t>> archives;
    for (const auto& s : samples::demo_saves()) archives.push_back(samples::build_save(s));
    std::vector<std::string> split_8mb;
    for (uint32_t mb : {8u, 16u, 32u, 64u}) {
        SCOPED_TRACE(std::to_string(mb) + " MB");
        CardGeometry g;
        ASSERT_TRUE(geometry_for_size(mb, &g));
        std::vector<uint8_t> raw(g.raw_size());
        CardBuilder builder(raw, g);
        for (const auto& a : archives) {
            ArchivePlan plan;
            ASSERT_EQ(builder.add_archive(a, &plan), BuildError::ok);
        }
        std::vector<uint8_t> coded(g.coded_size());
        build_coded_image(raw, coded, g);
        for (const auto* image : {&raw, &coded}) {
            const std::string name = "c" + std::to_string(mb) + (image == &raw ? ".bin" : ".ps2");
            put(dir / name, *image);
            CliRun r = sorvik(dir, "-q " + name);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");
            std::vector<std::string> split;
            const std::string folder = name.substr(0, name.size() - 4);
            for (const std::string& f : names_in(dir / folder)) split.push_back(f + " " + get_text(dir / (folder + "/" + f)));
            if (split_8mb.empty()) split_8mb = split;
            EXPECT_TRUE(split == split_8mb) << "the same archives from every size and form";
            r = sorvik(dir, "--check " + name);
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_NE(r.out.find(name + ": sound\n"), std::string::npos) << r.out;
            r = sorvik(dir, "--list " + name);
            EXPECT_EQ(r.out.find(name + ": " + std::to_string(mb) + " MB card") == 0, mb != 8) << r.out;
        }
    }
    /* A damaged card: --check says so and fails. */
    std::vector<uint8_t> image = get(dir / "c8.bin");
    store_u32le(&image[kFatOffset + 4 * 8000], kFatEnd); /* a lost cluster */
    put(dir / "lost.bin", image);
    const CliRun r = sorvik(dir, "--check lost.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("lost.bin: lost: 1 clusters in use that no live entry owns, the first cluster 8000\n"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("lost.bin: damaged\n"), std::string::npos);
}
