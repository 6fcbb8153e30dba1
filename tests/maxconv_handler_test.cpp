/* maxconv_handler_test.cpp -- VARKON's file handler on real files: outputs beside the input, BAD CRC, same-path rules, refusals */
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/platform_faults.h"
#include "common/psu.h"
#include "maxconv/max_convert.h"
#include "maxconv/varkon_handler.h"
#include "tests/test_support.h"

using namespace ps2;
using namespace ps2::test;
namespace fs = std::filesystem;

namespace {

/* files small members; and one of noise bytes when noise is set (a file of that size to read). */
Bytes make_psu(const char* dir, int files, size_t noise = 0)
{
    Bytes buf((1 << 20) + noise * 2);
    PsuWriter w(buf);
    EXPECT_TRUE(w.add_entry(make_directory_entry(dir, uint32_t(files + 2 + (noise > 0)))));
    EXPECT_TRUE(w.add_entry(make_directory_entry(".", 0)));
    EXPECT_TRUE(w.add_entry(make_directory_entry("..", 0)));
    for (int i = 0; i < files; ++i) {
        Bytes data(1000 + 700 * size_t(i));
        for (size_t k = 0; k < data.size(); ++k) data[k] = uint8_t(k * (i + 3));
        EXPECT_TRUE(w.add_file(make_file_entry("file" + std::to_string(i), 0), data));
    }
    if (noise) {
        Bytes data(noise);
        uint32_t x = 12345;
        for (auto& b : data) b = uint8_t((x = x * 1103515245 + 12345) >> 23);
        EXPECT_TRUE(w.add_file(make_file_entry("noise", 0), data));
    }
    buf.resize(w.size());
    return buf;
}

Bytes to_max(const Bytes& psu)
{
    Bytes build(kWorkBufferSize), out(kWorkBufferSize);
    size_t n = 0;
    EXPECT_EQ(convert_psu_to_max(psu, build, out, &n), MaxError::ok);
    out.resize(n);
    return out;
}

/* Records what the handler reports and when the BAD CRC hook runs. */
struct Recorder : ReportLog {
    int bad_crc_calls = 0;
    std::string bad_crc_path;
    std::string watch; /* a path that must not exist yet when the hook runs */
    bool watched_existed = false;

    VarkonHooks hooks()
    {
        VarkonHooks h;
        h.report = reporter();
        h.on_bad_crc = [](void* c, const char* path) {
            auto* r = static_cast<Recorder*>(c);
            ++r->bad_crc_calls;
            r->bad_crc_path = path;
            if (!r->watch.empty() && fs::exists(r->watch)) r->watched_existed = true;
        };
        h.context = this;
        return h;
    }
};

} // namespace

TEST(VarkonHandler, SamePathReplacesTheDroppedFile)
{
    /* Small files are read, those of a few MiB mapped while their replacement takes their name. */
    for (const size_t noise : {size_t(0), size_t(3) << 20}) {
        TempDir d("varkon");
        const Bytes psu = make_psu("SAVE", 2, noise), max = to_max(psu);
        put(d / "psu-named.max", psu);
        put(d / "max-named.psu", max);
        Recorder rec;
        EXPECT_EQ(convert_save_file((d / "psu-named.max").c_str(), rec.hooks()).outcome, VarkonOutcome::wrote_max);
        EXPECT_EQ(get(d / "psu-named.max"), max);
        EXPECT_EQ(convert_save_file((d / "max-named.psu").c_str(), rec.hooks()).outcome, VarkonOutcome::wrote_psu);
        EXPECT_EQ(get(d / "max-named.psu"), psu);
        EXPECT_EQ(d.names(), (std::vector<std::string>{"max-named.psu", "psu-named.max"})); /* no temporary left */
    }
}

TEST(VarkonHandler, BadCrcWarnsFirstThenConverts)
{
    TempDir d("varkon");
    const Bytes psu = make_psu("SAVE", 2);
    Bytes bad = to_max(psu);
    bad[12] ^= 0xFF;
    put(d / "bad.max", bad);
    Recorder rec;
    rec.watch = d / "bad.psu";
    const VarkonResult r = convert_save_file((d / "bad.max").c_str(), rec.hooks());
    EXPECT_EQ(r.outcome, VarkonOutcome::wrote_psu);
    EXPECT_TRUE(r.bad_crc);
    EXPECT_EQ(rec.bad_crc_calls, 1);
    EXPECT_EQ(rec.bad_crc_path, d / "bad.max");
    EXPECT_FALSE(rec.watched_existed) << "the warning comes before the output is written";
    EXPECT_EQ(get(d / "bad.psu"), psu); /* as for the sound archive */
    ASSERT_EQ(rec.count(Severity::warning), 1u);
    EXPECT_EQ(rec.lines[0].text.rfind("BAD CRC", 0), 0u) << rec.all();
    EXPECT_EQ(rec.count(Severity::error), 0u);
}

TEST(VarkonHandler, BadCrcNeverReplacesTheOnlyCopy)
{
    /* A damaged MAX archive named .psu would be replaced by its own
     * conversion: it is kept, nothing is written, the warning still shows. */
    TempDir d("varkon");
    Bytes bad = to_max(make_psu("SAVE", 1));
    bad[200] ^= 1;
    for (const char* name : {"damaged.psu", "DAMAGED.PSU"}) {
        put(d / name, bad);
        Recorder rec;
        const VarkonResult r = convert_save_file((d / name).c_str(), rec.hooks());
        EXPECT_EQ(r.outcome, VarkonOutcome::refused) << name;
        EXPECT_TRUE(r.bad_crc);
        EXPECT_EQ(rec.bad_crc_calls, 1);
        EXPECT_EQ(rec.count(Severity::warning), 1u);
        EXPECT_EQ(rec.count(Severity::error), 1u) << rec.all();
        EXPECT_EQ(get(d / name), bad);
        fs::remove(d / name);
        EXPECT_TRUE(d.names().empty()) << name;
    }
}

TEST(VarkonHandler, FilesOfNeitherKindAreLeftAlone)
{
    TempDir d("varkon");
    put(d / "notes.max", Bytes{'h', 'e', 'l', 'l', 'o'});
    put(d / "zeros.psu", Bytes(4096, 0));
    put(d / "empty.max", Bytes{});
    for (const char* name : {"notes.max", "zeros.psu", "empty.max"}) {
        Recorder rec;
        EXPECT_EQ(convert_save_file((d / name).c_str(), rec.hooks()).outcome, VarkonOutcome::not_a_save) << name;
        EXPECT_EQ(rec.count(Severity::error), 1u);
        EXPECT_EQ(rec.bad_crc_calls, 0);
    }
    EXPECT_EQ(d.names().size(), 3u);
}

TEST(VarkonHandler, KeptWorkBuffersGiveTheSameOutputs)
{
    /* A large save first, so that the kept buffers hold its bytes when the smaller ones come. */
    TempDir d("varkon");
    fs::create_directory(d / "kept");
    fs::create_directory(d / "fresh");
    const Bytes big = make_psu("BIGSAVE", 9, size_t(2) << 20), small = make_psu("S", 1), empty = make_psu("E", 0);
    const std::pair<const char*, Bytes> inputs[] = {{"a.psu", big},   {"b.max", to_max(big)}, {"c.psu", small},
                                                    {"d.max", to_max(small)}, {"e.psu", empty}, {"f.max", to_max(empty)}};
    VarkonWork work;
    for (const auto& [name, bytes] : inputs) {
        put(d / ("kept/" + std::string(name)), bytes);
        put(d / ("fresh/" + std::string(name)), bytes);
        Recorder rec;
        const VarkonResult kept = convert_save_file((d / ("kept/" + std::string(name))).c_str(), rec.hooks(), &work);
        const VarkonResult fresh = convert_save_file((d / ("fresh/" + std::string(name))).c_str(), rec.hooks());
        ASSERT_EQ(kept.outcome, fresh.outcome) << name;
        EXPECT_EQ(get(kept.output.c_str()), get(fresh.output.c_str())) << name;
        EXPECT_TRUE(check_save_file((d / ("kept/" + std::string(name))).c_str(), rec.hooks().report, &work)) << name;
    }
}

TEST(VarkonHandler, OutputNameRules)
{
    TempDir d("varkon");
    fs::create_directory(d / "saves.old");
    const Bytes psu = make_psu("S", 1), max = to_max(psu);
    struct Case {
        std::string in, out;
        const Bytes* content;
    };
    const Case cases[] = {
        {"mysave", "mysave.max", &psu},              /* no extension: appended */
        {"saves.old/save", "saves.old/save.max", &psu}, /* a dot in a folder name is not an extension */
        {"UPPER.MAX", "UPPER.psu", &max},            /* always lower case */
        {"Card.PSU", "Card.max", &psu},
        {"x.tar.gz", "x.tar.max", &psu},             /* the last dot */
        {"trailing.", "trailing.max", &psu},         /* an empty extension */
    };
    for (const Case& c : cases) {
        put(d / c.in, *c.content);
        Recorder rec;
        const VarkonResult r = convert_save_file((d / c.in).c_str(), rec.hooks());
        EXPECT_EQ(std::string(r.output.c_str()), d / c.out) << c.in;
        EXPECT_TRUE(fs::exists(d / c.out)) << c.in;
    }
    /* Windows rules: a "\" after the last dot means there is no extension. */
    put(d / "a.b\\save", psu);
    VarkonHooks h;
    h.rules = &kWindowsShiftJisRules;
    EXPECT_EQ(std::string(convert_save_file((d / "a.b\\save").c_str(), h).output.c_str()), d / "a.b\\save.max");
    EXPECT_EQ(std::string(convert_save_file((d / "a.b\\save").c_str(), VarkonHooks{}).output.c_str()), d / "a.max");
}

TEST(VarkonHandler, RefusalsWriteNothingAndKeepAnOldOutput)
{
    TempDir d("varkon");
    Bytes bad_psu = make_psu("S", 1);
    store_u32le(&bad_psu[4], 1); /* top length below 2 */
    put(d / "old.psu", bad_psu);
    put(d / "old.max", Bytes{'O', 'L', 'D'});
    Recorder rec;
    EXPECT_EQ(convert_save_file((d / "old.psu").c_str(), rec.hooks()).outcome, VarkonOutcome::refused);
    EXPECT_EQ(get(d / "old.max"), (Bytes{'O', 'L', 'D'}));
    ASSERT_EQ(rec.lines.size(), 1u);
    EXPECT_NE(rec.lines[0].text.find("below 2"), std::string::npos) << rec.all();

    /* Larger than the 8 MiB work buffer, either kind. */
    Bytes big = make_psu("S", 1);
    put(d / "big.psu", big);
    fs::resize_file(d / "big.psu", kWorkBufferSize + 1);
    Bytes max = to_max(make_psu("S", 1));
    put(d / "big.max", max);
    fs::resize_file(d / "big.max", kWorkBufferSize + 1);
    for (const char* name : {"big.psu", "big.max"}) {
        Recorder r2;
        EXPECT_EQ(convert_save_file((d / name).c_str(), r2.hooks()).outcome, VarkonOutcome::refused) << name;
        EXPECT_EQ(r2.bad_crc_calls, 0);
        EXPECT_NE(r2.all().find("8 MiB"), std::string::npos) << r2.all();
    }
    EXPECT_EQ(d.names(), (std::vector<std::string>{"big.max", "big.psu", "old.max", "old.psu"}));
}

TEST(VarkonHandler, FilesThatCannotBeReadOrWritten)
{
    TempDir d("varkon");
    Recorder rec;
    EXPECT_EQ(convert_save_file((d / "missing.psu").c_str(), rec.hooks()).outcome, VarkonOutcome::failed);
    EXPECT_EQ(convert_save_file(d.path().c_str(), rec.hooks()).outcome, VarkonOutcome::failed); /* a folder */
    EXPECT_EQ(rec.count(Severity::error), 2u);
    /* The output's name is taken by a folder: nothing is left behind. */
    put(d / "w.psu", make_psu("S", 1));
    fs::create_directory(d / "w.max");
    Recorder rec2;
    EXPECT_EQ(convert_save_file((d / "w.psu").c_str(), rec2.hooks()).outcome, VarkonOutcome::failed);
    ASSERT_EQ(rec2.count(Severity::error), 1u);
    EXPECT_EQ(rec2.lines[0].subject, d / "w.max");
    EXPECT_EQ(d.names(), (std::vector<std::string>{"w.max", "w.psu"}));
    EXPECT_TRUE(fs::is_directory(d / "w.max"));
}

TEST(VarkonHandler, CheckVerifiesAndWritesNothing)
{
    TempDir d("varkon");
    const Bytes psu = make_psu("SAVE", 3), max = to_max(psu);
    Bytes bad = max;
    bad[12] ^= 1;
    /* A stream cut short while packed_size and the check value agree with it. */
    Bytes cut(max.begin(), max.end() - 300);
    store_u32le(&cut[80], uint32_t(cut.size() - 88));
    store_u32le(&cut[12], compute_max_crc(cut));
    Bytes folder = make_psu("S", 1);
    store_u16le(&folder[1536], kModeNewDirectory);
    struct Case {
        const char* name;
        Bytes content;
        bool sound;
        const char* says;
    };
    const Case cases[] = {
        {"a.max", max, true, "MAX archive of SAVE: 3 files"},
        {"b.psu", psu, true, "PSU archive of SAVE: 3 files"},
        {"bad.max", bad, false, "BAD CRC"},
        {"cut.max", cut, false, "cut"},
        {"folder.psu", folder, false, "folder"},
        {"text.txt", Bytes(3000, 'x'), false, "neither"},
    };
    for (const Case& c : cases) put(d / c.name, c.content);
    const auto before = d.names();
    for (const Case& c : cases) {
        Recorder rec;
        EXPECT_EQ(check_save_file((d / c.name).c_str(), rec.hooks().report), c.sound) << c.name;
        EXPECT_NE(rec.all().find(c.says), std::string::npos) << c.name << ": " << rec.all();
        EXPECT_EQ(rec.count(Severity::error) == 0, c.sound) << rec.all();
    }
    EXPECT_EQ(d.names(), before);
}

TEST(VarkonHandler, SystemFailuresLoseNothing)
{
    namespace faults = plat::faults;
    TempDir d("varkon");
    const Bytes psu = make_psu("SAVE", 2), max = to_max(psu);
    /* Either work buffer not obtained, or the read failing: the file is skipped. */
    put(d / "a.psu", psu);
    for (auto [op, n] : {std::pair{faults::Op::alloc, 1u}, std::pair{faults::Op::alloc, 2u},
                         std::pair{faults::Op::open, 1u}, std::pair{faults::Op::read, 1u}}) {
        faults::reset();
        faults::fail_nth(op, n);
        Recorder rec;
        EXPECT_EQ(convert_save_file((d / "a.psu").c_str(), rec.hooks()).outcome, VarkonOutcome::failed);
        EXPECT_EQ(rec.count(Severity::error), 1u) << rec.all();
        EXPECT_EQ(d.names(), (std::vector<std::string>{"a.psu"}));
    }
    /* A MAX archive named .psu replaces itself; a failure at any step of
     * that write leaves it whole. */
    put(d / "self.psu", max);
    for (auto [op, n] : {std::pair{faults::Op::write, 1u}, std::pair{faults::Op::write, 2u},
                         std::pair{faults::Op::rename, 1u}}) {
        faults::reset();
        faults::fail_nth(op, n);
        Recorder rec;
        EXPECT_EQ(convert_save_file((d / "self.psu").c_str(), rec.hooks()).outcome, VarkonOutcome::failed);
        EXPECT_EQ(get(d / "self.psu"), max);
        EXPECT_EQ(d.names(), (std::vector<std::string>{"a.psu", "self.psu"}));
    }
    faults::reset();
    Recorder rec;
    EXPECT_EQ(convert_save_file((d / "self.psu").c_str(), rec.hooks()).outcome, VarkonOutcome::wrote_psu);
    EXPECT_EQ(get(d / "self.psu"), psu);
}

TEST(VarkonHandler, ForeignSavesBecomePsuArchivesUnderTheOutputRule)
{
    PS2_REQUIRE_REALDATA("rez.cbs", "rez.psu");
    TempDir d("varkon");
    const Bytes cbs = get(std::string(PS2_REALDATA_DIR) + "/rez.cbs");
    const Bytes old{'O', 'L', 'D'};
    put(d / "rez.cbs", cbs);
    put(d / "cut.cbs", Bytes(cbs.begin(), cbs.begin() + 2400));
    put(d / "cut.psu", old);
    put(d / "self.psu", cbs);
    constexpr plat::OutputPolicy keep = plat::OutputPolicy::keep, replace = plat::OutputPolicy::replace;
    struct Case {
        const char* in;
        bool salvage;
        plat::OutputPolicy policy;
        VarkonOutcome outcome;
        size_t files; /* in the PSU archive there afterwards, or 0: cut.psu is still the old file */
    };
    const Case cases[] = {
        {"rez.cbs", false, keep, VarkonOutcome::wrote_foreign_psu, 3},
        {"rez.cbs", false, keep, VarkonOutcome::up_to_date, 3},
        {"cut.cbs", false, replace, VarkonOutcome::refused, 0},
        {"self.psu", true, replace, VarkonOutcome::refused, 0}, /* never replaced by its own conversion */
        {"cut.cbs", true, keep, VarkonOutcome::kept, 0},
        {"cut.cbs", true, replace, VarkonOutcome::wrote_foreign_psu, 1},
    };
    for (const Case& c : cases) {
        Recorder rec;
        VarkonHooks h = rec.hooks();
        h.salvage = c.salvage;
        h.outputs = c.policy;
        const VarkonResult r = convert_save_file((d / c.in).c_str(), h);
        EXPECT_EQ(r.outcome, c.outcome) << c.in << ": " << rec.all();
        EXPECT_EQ(rec.bad_crc_calls, 0);
        if (c.files) {
            EXPECT_EQ(record_length(get(r.output.c_str()).data()), c.files + 2) << c.in;
        } else {
            EXPECT_EQ(get(d / "cut.psu"), old) << c.in;
        }
    }
    EXPECT_EQ(get(d / "self.psu"), cbs);
    EXPECT_EQ(d.names(), (std::vector<std::string>{"cut.cbs", "cut.psu", "rez.cbs", "rez.psu", "self.psu"}));
    Recorder rec;
    EXPECT_TRUE(check_save_file((d / "rez.cbs").c_str(), rec.hooks().report)) << rec.all();
    EXPECT_FALSE(check_save_file((d / "cut.cbs").c_str(), rec.hooks().report));
}
