/* unpack_rebuild_test.cpp -- rebuilding from a manifest: round trips, edited folders, refusals, the size limit */
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/unpack_samples.h"
#include "tools/samplegen.h"
#include "unpack/rebuild.h"
#include "unpack/unpack.h"

using namespace ps2;
using namespace ps2::test;

namespace {

/* An unpack folder in memory: the manifest and the member files. */
struct Folder {
    Bytes manifest;
    std::map<std::string, Bytes> files;
    std::string shrinking; /* a member file that loses its last byte between its size and its read */
};

Folder unpack_in_memory(std::span<const uint8_t> archive, bool temp_names = false)
{
    UnpackOptions o;
    o.temp_names = temp_names;
    UnpackPlan plan;
    plan_unpack(archive, o, &plan);
    Folder f;
    f.manifest.resize(unpack_manifest_capacity(plan));
    ManifestWriter w(f.manifest);
    if (!write_unpack_manifest(archive, plan, &w)) std::abort();
    f.manifest.resize(w.size());
    for (const auto& e : plan.entries)
        if (e.is_file && e.name_fault == MemberNameFault::none)
            f.files[std::string(e.name2.view())] = Bytes(e.data.begin(), e.data.end());
    return f;
}

const char* read_from_map(void* context, std::string_view name2, std::span<uint8_t> room, uint64_t* file_size,
                          size_t* bytes_read)
{
    const auto* folder = static_cast<const Folder*>(context);
    const auto it = folder->files.find(std::string(name2));
    if (it == folder->files.end()) return "cannot open the file";
    *file_size = it->second.size();
    *bytes_read = std::min(room.size(), it->second.size() - (name2 == folder->shrinking ? 1 : 0));
    std::copy_n(it->second.begin(), *bytes_read, room.begin());
    return nullptr;
}

struct Rebuilt {
    RebuildError error = RebuildError::ok;
    RebuildResult result;
    Bytes archive; /* the result's bytes (ok only) */
};

Rebuilt rebuild_in_memory(const Folder& f, size_t capacity = kRebuildCapacity)
{
    Rebuilt r;
    Bytes out(capacity + 64, 0);
    for (size_t i = capacity; i < out.size(); ++i) out[i] = 0xCC; /* canary behind the buffer */
    const MemberSource src{&read_from_map, const_cast<Folder*>(&f)};
    r.error = rebuild_psu(f.manifest, src, kPosixRules, std::span<uint8_t>(out).first(capacity), &r.result);
    for (size_t i = capacity; i < out.size(); ++i)
        if (out[i] != 0xCC) ADD_FAILURE() << "wrote behind the buffer at " << i;
    if (r.error == RebuildError::ok) r.archive.assign(out.begin(), out.begin() + long(r.result.size));
    return r;
}

std::string manifest_text(const Folder& f) { return text_of(f.manifest); }

/* Replaces the value line number `line` (counted from the header as line 1) of the manifest. */
void set_line(Folder* f, size_t line, const std::string& value)
{
    std::string t = manifest_text(*f);
    size_t at = 0;
    for (size_t i = 1; i < line; ++i) at = t.find("\r\n", at) + 2;
    t.replace(at, t.find("\r\n", at) - at, value);
    f->manifest = bytes_of(t);
}

} // namespace

TEST(Rebuild, RoundTripsGiveBackTheCarriedBytes)
{
    Node sjis = file("\x83\x51\x81\x5B\x83\x80.dat", pattern(77)); /* ゲーム.dat: no 0x5C trail byte */
    sjis.attr = 0x80000001u;
    Node wide = file(std::string(32, 'W'), pattern(1024, 3)); /* a name that fills the field */
    wide.cluster = 0x80000000u;                                /* reads back as 0 */
    wide.dir_entry = 0xFFFFFFFFu;
    wide.stamp = 0xF0;
    Node odd = file("odd", pattern(1025, 4));
    odd.mode = 0x8417;
    odd.cluster = 2147483647u;
    Node top = dir("BISLPS-25105-01", {file("icon.sys", pattern(964)), sjis, wide, odd, file("empty", {}),
                                       dir("SUB", {file("inner", pattern(1, 8)), dir("DEEP", {})})});
    top.cluster = 7;
    top.stamp = 0x11;
    Node big_dir = dir(std::string(32, 'D'), {file("x", pattern(5))});

    struct Case {
        const char* what;
        Node top;
        bool temp_names;
    };
    const Case cases[] = {{"nested, named", top, false}, {"nested, temp names", top, true},
                          {"name of 32 bytes", big_dir, false}, {"empty save", dir("EMPTY", {}), false},
                          {"single file", file("lonely", pattern(2000)), false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes archive = make_archive(c.top);
        /* Bytes no manifest carries: reserved fields, the name's tail, padding. */
        archive[2] = 0x77;
        archive[0x30] = 0x66;
        archive[0x1FF] = 0x55;
        if (archive.size() > 1536 + 512 + 900) archive[1536 + 512 + 1000] = 0x44;
        const Folder f = unpack_in_memory(archive, c.temp_names);
        const Rebuilt r = rebuild_in_memory(f);
        ASSERT_EQ(r.error, RebuildError::ok) << rebuild_error_text(r.error);
        EXPECT_EQ(r.archive.size(), archive.size());
        EXPECT_TRUE(r.archive == carried_only(archive));
        EXPECT_TRUE(r.result.cuts.empty());
        EXPECT_EQ(r.result.partial_lines, 0u);
    }

    /* A directory length of 2^31 or more reads back as 0. */
    Bytes archive = make_archive(dir("S", {file("f", pattern(3))}));
    set_record_length(archive.data(), 0x80000003u);
    const Rebuilt r = rebuild_in_memory(unpack_in_memory(archive));
    ASSERT_EQ(r.error, RebuildError::ok);
    EXPECT_EQ(record_length(r.archive.data()), 0u);
    EXPECT_TRUE(r.archive == carried_only(archive));
}

TEST(Rebuild, GeneratedSavesRoundTrip)
{
    /* Varied saves: sizes around the 1024 boundaries, empty files, nested
     * directories, names of up to 32 bytes, card-exported fields. */
    int compared = 0;
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        const Bytes archive = samples::build_save(samples::random_save(seed, true, 20000));
        for (const bool temp : {false, true}) {
            const Folder f = unpack_in_memory(archive, temp);
            const Rebuilt r = rebuild_in_memory(f);
            if (!temp && r.error == RebuildError::unsafe_member_name) continue; /* a generated name may be unusable */
            ASSERT_EQ(r.error, RebuildError::ok) << rebuild_error_text(r.error);
            /* Shared member files (same name in two directories) give the later data twice. */
            UnpackOptions o;
            o.temp_names = temp;
            UnpackPlan plan;
            plan_unpack(archive, o, &plan);
            bool shared = false;
            for (const auto& e : plan.entries) shared = shared || e.replaces != kNoEntry;
            if (!shared) {
                EXPECT_TRUE(r.archive == carried_only(archive));
                ++compared;
            }
        }
    }
    EXPECT_GE(compared, 60);
    for (const auto& save : samples::demo_saves()) {
        const Bytes archive = samples::build_save(save);
        const Rebuilt r = rebuild_in_memory(unpack_in_memory(archive));
        ASSERT_EQ(r.error, RebuildError::ok) << save.name;
        EXPECT_TRUE(r.archive == carried_only(archive)) << save.name;
    }
}

TEST(Rebuild, MemberFilesDecideTheLength)
{
    const Bytes archive = make_archive(dir("SAVE", {file("a", pattern(1500)), file("b", pattern(10))}));
    struct Case {
        size_t a_size;
        size_t total;
    };
    const Case cases[] = {{1500, 512 * 5 + 2048 + 1024}, {3000, 512 * 5 + 3072 + 1024}, {1024, 512 * 5 + 1024 + 1024},
                          {1025, 512 * 5 + 2048 + 1024}, {1, 512 * 5 + 1024 + 1024}, {0, 512 * 5 + 1024}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a_size);
        Folder f = unpack_in_memory(archive);
        f.files["a"] = pattern(c.a_size, 42);
        const Rebuilt r = rebuild_in_memory(f);
        ASSERT_EQ(r.error, RebuildError::ok);
        ASSERT_EQ(r.archive.size(), c.total);
        EXPECT_EQ(record_length(r.archive.data() + 1536), c.a_size);
        EXPECT_TRUE(std::equal(f.files["a"].begin(), f.files["a"].end(), r.archive.begin() + 2048));
        const size_t b_at = 2048 + size_t(psu_padded_size(c.a_size));
        for (size_t i = 2048 + c.a_size; i < b_at; ++i) ASSERT_EQ(r.archive[i], 0) << "padding at " << i;
        EXPECT_EQ(psu_record_name(r.archive.data() + b_at), "b");
        EXPECT_EQ(record_length(r.archive.data() + b_at), 10u);
    }
    /* The length line need not be edited, and an edited one is overridden. */
    Folder f = unpack_in_memory(archive);
    set_line(&f, 2 + 19 * 3 + 4, "12345");
    EXPECT_EQ(record_length(rebuild_in_memory(f).archive.data() + 1536), 1500u);
}

TEST(Rebuild, EditedManifests)
{
    const Bytes archive = make_archive(dir("SAVE", {file("a", pattern(100))}));
    /* An added block for a new member; the directory's length line is not recounted. */
    Folder f = unpack_in_memory(archive);
    std::string t = manifest_text(f);
    const std::string last_block = t.substr(t.rfind(std::string(kManifestRuleLine)));
    std::string added = last_block;
    added.replace(added.rfind("a\r\n"), 1, "n");             /* name2 */
    added.replace(added.rfind("\r\na\r\n") + 2, 1, "new");  /* name */
    f.manifest = bytes_of(t + added);
    f.files["n"] = pattern(2000, 9);
    Rebuilt r = rebuild_in_memory(f);
    ASSERT_EQ(r.error, RebuildError::ok);
    EXPECT_EQ(r.result.entries, 5u);
    EXPECT_EQ(record_length(r.archive.data()), 3u);
    EXPECT_EQ(psu_record_name(r.archive.data() + 1536 + 512 + 1024), "new");
    EXPECT_EQ(record_length(r.archive.data() + 1536 + 512 + 1024), 2000u);

    /* A partial block at the end is not part of the result. */
    f = unpack_in_memory(archive);
    f.manifest = bytes_of(manifest_text(f) + "------\r\n/* mode */\r\n8417\r\n");
    r = rebuild_in_memory(f);
    ASSERT_EQ(r.error, RebuildError::ok);
    EXPECT_EQ(r.result.partial_lines, 3u);
    EXPECT_EQ(r.archive.size(), archive.size());

    /* A mode edited to a directory reads no member; one edited to a file needs one. */
    f = unpack_in_memory(archive);
    set_line(&f, 2 + 19 * 3 + 2, "8427");
    r = rebuild_in_memory(f);
    ASSERT_EQ(r.error, RebuildError::ok);
    EXPECT_EQ(r.archive.size(), 512u * 4);
    EXPECT_EQ(record_length(r.archive.data() + 1536), 100u);
    f = unpack_in_memory(archive);
    set_line(&f, 2 + 2, "8437"); /* the top entry now has the file bit: name2 "SAVE" is no file */
    r = rebuild_in_memory(f);
    EXPECT_EQ(r.error, RebuildError::member_unreadable);

    /* Over-long values are cut and reported. */
    f = unpack_in_memory(archive);
    set_line(&f, 2 + 19 * 3 + 16, std::string(40, 'x'));
    set_line(&f, 2 + 19 * 3 + 12, "01 02 03 04 05 06 07 08 09");
    r = rebuild_in_memory(f);
    ASSERT_EQ(r.error, RebuildError::ok);
    ASSERT_EQ(r.result.cuts.size(), 2u);
    EXPECT_EQ(r.result.cuts[0].block, 4u);
    EXPECT_EQ(r.result.cuts[0].field, ManifestField::name);
    EXPECT_EQ(r.result.cuts[1].field, ManifestField::modified);
    EXPECT_EQ(psu_record_name(r.archive.data() + 1536), std::string(32, 'x'));
    EXPECT_EQ(r.archive[1536 + 0x60], 0);
}

TEST(Rebuild, RefusalsListEveryBlockAtFault)
{
    const Bytes archive = make_archive(
        dir("SAVE", {file("a", pattern(10)), file("b", pattern(10)), file("c", pattern(10)), file("d", pattern(10))}));
    Folder f = unpack_in_memory(archive);
    f.files.erase("a");
    f.files.erase("c");
    const std::string t = manifest_text(f);
    /* name2 of d: "../d" would read outside the folder. */
    f.manifest = bytes_of(t.substr(0, t.rfind("d\r\n")) + "../d\r\n");
    const Rebuilt r = rebuild_in_memory(f);
    EXPECT_EQ(r.error, RebuildError::member_unreadable);
    ASSERT_EQ(r.result.problems.size(), 3u);
    EXPECT_EQ(r.result.problems[0].block, 4u);
    EXPECT_EQ(r.result.problems[0].name2, "a");
    EXPECT_EQ(r.result.problems[0].detail, "cannot open the file");
    EXPECT_EQ(r.result.problems[0].line, 2u + 19 * 3);
    EXPECT_EQ(r.result.problems[1].name2, "c");
    EXPECT_EQ(r.result.problems[2].error, RebuildError::unsafe_member_name);
    EXPECT_EQ(r.result.problems[2].name_fault, MemberNameFault::separator);
    EXPECT_EQ(r.result.problems[2].name2, "../d");

    struct Case {
        std::string name2;
        MemberNameFault fault;
    };
    const Case cases[] = {{"", MemberNameFault::empty}, {".", MemberNameFault::dot}, {"..", MemberNameFault::dot_dot},
                          {"x\\y", MemberNameFault::separator}, {"/etc/passwd", MemberNameFault::separator},
                          {"Quilban.TXT", MemberNameFault::manifest_name}};
    for (const Case& c : cases) {
        Folder g = unpack_in_memory(archive);
        const std::string u = manifest_text(g);
        g.manifest = bytes_of(u.substr(0, u.rfind("d\r\n")) + c.name2 + "\r\n");
        g.files[c.name2] = pattern(3);
        const Rebuilt s = rebuild_in_memory(g);
        EXPECT_EQ(s.error, RebuildError::unsafe_member_name) << c.name2;
        ASSERT_EQ(s.result.problems.size(), 1u);
        EXPECT_EQ(s.result.problems[0].name_fault, c.fault) << c.name2;
    }

    /* One line per refusal of a single member file. */
    struct Refusal {
        const char* what;
        void (*damage)(Folder*);
        RebuildError error;
    };
    const Refusal refusals[] = {
        {"member file missing", [](Folder* g) { g->files.erase("b"); }, RebuildError::member_unreadable},
        {"member file shrinks while it is read", [](Folder* g) { g->shrinking = "b"; }, RebuildError::member_changed},
    };
    for (const Refusal& c : refusals) {
        Folder g = unpack_in_memory(archive);
        c.damage(&g);
        const Rebuilt s = rebuild_in_memory(g);
        EXPECT_EQ(s.error, c.error) << c.what;
        ASSERT_EQ(s.result.problems.size(), 1u) << c.what;
        EXPECT_EQ(s.result.problems[0].name2, "b") << c.what;
    }

    /* Directory entries' name2 is never used: "." and ".." are fine there. */
    EXPECT_EQ(rebuild_in_memory(unpack_in_memory(archive)).error, RebuildError::ok);
    /* A manifest without a complete block gives nothing to write. */
    Folder empty;
    empty.manifest = bytes_of("QUILBAN\r\n");
    EXPECT_EQ(rebuild_in_memory(empty).error, RebuildError::no_entries);
}

TEST(Rebuild, TheSizeLimitIsExact)
{
    /* top, ".", "..", one file: 2048 bytes of entries, the rest data. */
    const size_t fits = kRebuildCapacity - 2048;
    struct Case {
        size_t member;
        RebuildError error;
    };
    const Case cases[] = {{fits, RebuildError::ok}, {fits - 1023, RebuildError::ok}, {fits + 1, RebuildError::too_large},
                          {size_t(20) << 20, RebuildError::too_large}};
    const Bytes archive = make_archive(dir("BIG", {file("m", pattern(1))}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.member);
        Folder f = unpack_in_memory(archive);
        f.files["m"] = Bytes(c.member, 0xAB);
        const Rebuilt r = rebuild_in_memory(f);
        EXPECT_EQ(r.error, c.error);
        if (c.error == RebuildError::ok) {
            EXPECT_EQ(r.archive.size(), kRebuildCapacity);
        } else {
            ASSERT_EQ(r.result.problems.size(), 1u);
            EXPECT_EQ(r.result.problems[0].name2, "m");
            EXPECT_EQ(r.result.problems[0].needed, 2048 + psu_padded_size(c.member));
        }
    }
    /* Entries alone: 16000 blocks fill the buffer, one more does not fit. */
    Bytes many = make_archive(dir("MANY", {}));
    Folder f = unpack_in_memory(many);
    const std::string t = manifest_text(f);
    const std::string one_block = t.substr(t.rfind(std::string(kManifestRuleLine)));
    std::string text = t;
    for (int i = 0; i < 15997; ++i) text += one_block;
    f.manifest = bytes_of(text);
    Rebuilt r = rebuild_in_memory(f);
    ASSERT_EQ(r.error, RebuildError::ok);
    EXPECT_EQ(r.archive.size(), kRebuildCapacity);
    f.manifest = bytes_of(text + one_block);
    r = rebuild_in_memory(f);
    EXPECT_EQ(r.error, RebuildError::too_large);
    ASSERT_EQ(r.result.problems.size(), 1u);
    EXPECT_EQ(r.result.problems[0].block, 16001u);
    /* A smaller buffer is a smaller limit. */
    EXPECT_EQ(rebuild_in_memory(unpack_in_memory(archive), 2047).error, RebuildError::too_large);
}

TEST(Rebuild, ResultName)
{
    struct Case {
        std::string first_name;
        bool temp;
        std::string name;
        MemberNameFault fault;
    };
    const Case cases[] = {
        {"BISLPS-25105-01", false, "BISLPS-25105-01.psu", MemberNameFault::none},
        {"BISLPS-25105-01", true, "temp.psu", MemberNameFault::none},
        {std::string(32, 'Z'), false, std::string(32, 'Z') + ".psu", MemberNameFault::none},
        {"QUILBAN.TXT", false, "QUILBAN.TXT.psu", MemberNameFault::none},
        {"", false, "", MemberNameFault::empty},
        {"", true, "temp.psu", MemberNameFault::none},
        {"..", false, "", MemberNameFault::dot_dot},
        {"a/b", false, "", MemberNameFault::separator},
        {"..\\up", false, "", MemberNameFault::separator},
    };
    for (const Case& c : cases) {
        uint8_t rec[kPsuEntrySize] = {};
        std::memcpy(rec + psu_field::name, c.first_name.data(), c.first_name.size());
        std::string name = "junk";
        EXPECT_EQ(rebuild_result_name(rec, c.temp, kPosixRules, &name), c.fault) << c.first_name;
        EXPECT_EQ(name, c.name);
    }
}
