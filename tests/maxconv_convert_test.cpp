/* maxconv_convert_test.cpp -- PSU -> MAX -> PSU over memory buffers: round trips, fixed fields, malformed archives, real saves */
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/psu.h"
#include "maxconv/crc32.h"
#include "maxconv/lzari.h"
#include "maxconv/max_convert.h"
#include "tests/test_support.h"
#include "tools/samplegen.h"

using namespace ps2;

namespace {

using Bytes = std::vector<uint8_t>;

struct Member {
    std::string name;
    Bytes data;
};

constexpr uint8_t kCanary = 0xA5;
constexpr size_t kCanarySize = 64;

/* A flat save as a PSU archive. With `worn`, every field VARKON does not
 * carry holds something (as in archives exported from a card), padding too. */
Bytes make_psu(const std::string& dir, const std::vector<Member>& members, bool worn = false)
{
    size_t size = kPsuFirstMember;
    for (const Member& m : members) size += kPsuEntrySize + size_t(psu_padded_size(m.data.size()));
    Bytes buf(size);
    PsuWriter w(buf);
    auto wear = [&](PsuEntry e, uint16_t mode) {
        if (!worn) return e;
        e.mode = mode;
        e.created = {1, 2, 3, 4, 5, 6, 7, 8};
        e.modified = {9, 9, 9, 9, 9, 9, 9, 9};
        e.cluster = 0x1234;
        e.dir_entry = 7;
        e.attr = 0xCAFE;
        e.reserved_60[5] = 0x77;
        return e;
    };
    EXPECT_TRUE(w.add_entry(wear(make_directory_entry(dir, uint32_t(members.size() + 2)), 0x8427)));
    EXPECT_TRUE(w.add_entry(wear(make_directory_entry(".", 0), 0x8427)));
    EXPECT_TRUE(w.add_entry(wear(make_directory_entry("..", 0), 0x8427)));
    for (const Member& m : members) {
        const size_t at = w.size();
        EXPECT_TRUE(w.add_file(wear(make_file_entry(m.name, 0), 0x8497), m.data));
        if (worn && m.data.size() % 1024) buf[at + 512 + m.data.size()] = 0xEE; /* junk in the padding */
    }
    buf.resize(w.size());
    return buf;
}

/* Runs a conversion in two 8 MiB work buffers (kept from call to call, as
 * the conversions must not rely on their contents), with a canary behind each. */
template <typename Convert>
MaxError run(Convert convert, const Bytes& in, Bytes* out)
{
    static Bytes build(kWorkBufferSize + kCanarySize, kCanary);
    static Bytes room(kWorkBufferSize + kCanarySize, kCanary);
    size_t n = 0;
    const MaxError e = convert(in, std::span(build).first(kWorkBufferSize), std::span(room).first(kWorkBufferSize), &n);
    for (size_t i = kWorkBufferSize; i < room.size(); ++i) EXPECT_EQ(room[i], kCanary);
    for (size_t i = kWorkBufferSize; i < build.size(); ++i) EXPECT_EQ(build[i], kCanary);
    *out = Bytes(room.begin(), room.begin() + n);
    return e;
}
MaxError to_max(const Bytes& psu, Bytes* max)
{
    return run([](auto f, auto b, auto o, size_t* n) { return convert_psu_to_max(f, b, o, n); }, psu, max);
}
MaxError to_psu(const Bytes& max, Bytes* psu)
{
    return run([](auto f, auto b, auto o, size_t* n) { return convert_max_to_psu(f, b, o, n); }, max, psu);
}

Bytes random_bytes(std::mt19937& g, size_t n)
{
    Bytes b(n);
    for (auto& x : b) x = uint8_t(g());
    return b;
}

/* The members of a flat PSU archive as VARKON reads them. */
std::vector<Member> members_of(const Bytes& psu)
{
    std::vector<Member> out;
    const uint32_t n = record_length(psu.data()) - 2;
    size_t at = kPsuFirstMember;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t len = record_length(&psu[at]);
        out.push_back({std::string(psu_record_name(&psu[at])), Bytes(psu.begin() + at + 512, psu.begin() + at + 512 + len)});
        at += 512 + size_t(psu_padded_size(len));
    }
    return out;
}

bool operator==(const Member& a, const Member& b) { return a.name == b.name && a.data == b.data; }

} // namespace

/* ---- round trips ---- */

TEST(MaxConvert, RoundTripsKeepNamesOrderSizesAndBytes)
{
    std::mt19937 g(42);
    struct Case {
        const char* what;
        std::string dir;
        std::vector<Member> members;
    };
    std::vector<Case> cases = {
        {"empty save", "SAVE", {}},
        {"one empty member", "S", {{"EMPTY", {}}}},
        {"empty members first, between, last", "S", {{"A", {}}, {"B", Bytes(3, 1)}, {"C", {}}, {"D", Bytes(1, 2)}, {"E", {}}}},
        {"32-byte names", std::string(32, 'D'), {{std::string(32, 'N'), Bytes(100, 5)}, {std::string(31, 'M'), {}}}},
        {"edge sizes", "BESLES-50539", {}},
        {"large members", "BIG", {{"a", random_bytes(g, 1 << 20)}, {"b", Bytes(3 << 20, 0)}, {"c", random_bytes(g, 700001)}}},
        {"many members", "MANY", {}},
    };
    for (size_t s : {1, 15, 16, 17, 1023, 1024, 1025, 2047, 4096, 4097}) cases[4].members.push_back({"F" + std::to_string(s), random_bytes(g, s)});
    for (int i = 0; i < 300; ++i) cases[6].members.push_back({"m" + std::to_string(i), Bytes(g() % 300, uint8_t(i))});

    for (const Case& c : cases) {
        for (bool worn : {false, true}) {
            const Bytes psu = make_psu(c.dir, c.members, worn);
            Bytes max, back;
            ASSERT_EQ(to_max(psu, &max), MaxError::ok) << c.what;
            const MaxHeader h = read_max_header(max.data());
            EXPECT_EQ(h.packed_size + 88, max.size()) << c.what;
            EXPECT_EQ(h.crc, compute_max_crc(max)) << c.what;
            EXPECT_EQ(h.file_count, c.members.size()) << c.what;
            EXPECT_EQ(h.dir_name, std::string_view(c.dir).substr(0, 32));
            /* Over the file (payload built first) and into build (payload taken from the members): the same bytes. */
            for (const bool over_file : {true, false}) {
                Bytes file(psu), build(kWorkBufferSize);
                file.resize(kWorkBufferSize);
                const std::span<uint8_t> out(over_file ? file : build);
                size_t n = 0;
                ASSERT_EQ(convert_psu_to_max(std::span(file).first(psu.size()), build, out, &n), MaxError::ok);
                EXPECT_TRUE(Bytes(out.begin(), out.begin() + n) == max) << c.what << over_file;
            }
            ASSERT_EQ(to_psu(max, &back), MaxError::ok) << c.what;
            /* Back comes exactly the archive made from nothing: modes 0x8427 and
             * 0x8417, every other field zero, zero padding. */
            EXPECT_TRUE(back == make_psu(c.dir, c.members)) << c.what << (worn ? " (worn)" : "");
        }
    }
}

TEST(MaxConvert, RoundTripsGeneratedSaves)
{
    /* Saves as exported from cards (card fields, mode 0x8497), flat or with
     * a nested folder, which a MAX archive cannot hold. */
    int flat = 0, nested = 0;
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        const samples::Save save = samples::random_save(seed, seed % 3 == 0, 60000);
        const Bytes psu = samples::build_save(save);
        const bool has_folder = std::any_of(save.members.begin(), save.members.end(),
                                            [](const samples::Member& m) { return m.is_directory; });
        Bytes max, back;
        const MaxError e = to_max(psu, &max);
        if (has_folder) {
            EXPECT_EQ(e, MaxError::member_is_folder) << seed;
            ++nested;
            continue;
        }
        ++flat;
        ASSERT_EQ(e, MaxError::ok) << seed;
        ASSERT_EQ(to_psu(max, &back), MaxError::ok) << seed;
        const std::vector<Member> members = members_of(psu);
        EXPECT_EQ(members.size(), save.members.size());
        EXPECT_TRUE(back == make_psu(save.name, members)) << seed;
    }
    EXPECT_GT(flat, 30);
    EXPECT_GT(nested, 0);
}

TEST(MaxConvert, OutputMayBeTheInputsOwnMemory)
{
    /* The handler converts inside its file buffer. */
    std::mt19937 g(1);
    const Bytes psu = make_psu("SAVE", {{"a", random_bytes(g, 5000)}, {"b", Bytes(9000, 0)}});
    Bytes expect_max;
    ASSERT_EQ(to_max(psu, &expect_max), MaxError::ok);

    Bytes file(kWorkBufferSize), build(kWorkBufferSize);
    std::copy(psu.begin(), psu.end(), file.begin());
    size_t n = 0;
    ASSERT_EQ(convert_psu_to_max(std::span(file).first(psu.size()), build, file, &n), MaxError::ok);
    EXPECT_TRUE(Bytes(file.begin(), file.begin() + n) == expect_max);
    ASSERT_EQ(convert_max_to_psu(std::span(file).first(n), build, file, &n), MaxError::ok);
    EXPECT_TRUE(Bytes(file.begin(), file.begin() + n) == psu);
}

TEST(MaxConvert, DetectsKindByContent)
{
    Bytes psu = make_psu("S", {});
    EXPECT_EQ(detect_save_kind(psu), SaveKind::psu_archive);
    Bytes max;
    ASSERT_EQ(to_max(psu, &max), MaxError::ok);
    EXPECT_EQ(detect_save_kind(max), SaveKind::max_archive);
    EXPECT_EQ(detect_save_kind(Bytes(2000, 0)), SaveKind::neither);
    EXPECT_EQ(detect_save_kind(Bytes(psu.begin(), psu.begin() + 0x443)), SaveKind::neither);
    psu[0x242] = 'x'; /* "." must be followed by zeros */
    EXPECT_EQ(detect_save_kind(psu), SaveKind::neither);
    EXPECT_EQ(detect_save_kind(Bytes{'P', 's', '2'}), SaveKind::neither);
}

/* ---- malformed MAX archives ---- */

TEST(MaxConvert, MalformedMaxArchives)
{
    std::mt19937 g(7);
    Bytes good;
    ASSERT_EQ(to_max(make_psu("SAVE", {{"A", random_bytes(g, 3000)}, {"B", Bytes(2000, 1)}}), &good), MaxError::ok);
    const MaxHeader h = read_max_header(good.data());
    auto with = [&](size_t field, uint32_t v) {
        Bytes b = good;
        store_u32le(&b[field], v);
        return b;
    };
    Bytes trailing = good;
    trailing.insert(trailing.end(), 64, 0x99);
    struct Case {
        const char* what;
        Bytes file;
        MaxError want;
    };
    const Case cases[] = {
        {"bytes after the stream are ignored", trailing, MaxError::ok},
        {"a bad crc is not looked at here", with(max_field::crc, 0), MaxError::ok},
        {"cut in the header", Bytes(good.begin(), good.begin() + 50), MaxError::max_too_short},
        {"stream cut", Bytes(good.begin(), good.end() - 3), MaxError::stream_past_end},
        {"packed_size below 4", with(max_field::packed_size, 2), MaxError::stream_past_end},
        {"unpacked_size over 8,388,516", with(max_field::unpacked_size, 8388517), MaxError::payload_too_large},
        {"one record more than the payload holds", with(max_field::file_count, h.file_count + 1), MaxError::record_past_end},
        {"file_count huge", with(max_field::file_count, 0xFFFFFFFF), MaxError::record_past_end},
        {"payload cut before the last data", with(max_field::unpacked_size, h.unpacked_size - 20), MaxError::record_past_end},
        {"fewer records than the payload holds", with(max_field::file_count, 1), MaxError::ok},
    };
    for (const Case& c : cases) {
        Bytes out;
        EXPECT_EQ(to_psu(c.file, &out), c.want) << c.what;
    }
    Bytes a, b;
    ASSERT_EQ(to_psu(trailing, &a), MaxError::ok);
    ASSERT_EQ(to_psu(good, &b), MaxError::ok);
    EXPECT_TRUE(a == b);
}

TEST(MaxConvert, EveryPrefixOfAMaxArchiveIsHandled)
{
    std::mt19937 g(8);
    Bytes good;
    ASSERT_EQ(to_max(make_psu("SAVE", {{"A", random_bytes(g, 500)}, {"B", Bytes(700, 3)}, {"C", {}}}), &good), MaxError::ok);
    for (size_t n = 0; n < good.size(); n += 3) {
        Bytes cut(good.begin(), good.begin() + n), out;
        const MaxError e = to_psu(cut, &out);
        EXPECT_NE(e, MaxError::ok) << n;
        EXPECT_TRUE(out.empty());
    }
    /* A stream cut while packed_size is made to agree still decodes into
     * unpacked_size bytes, whatever they are. */
    for (size_t n = 93; n < good.size(); n += 11) {
        Bytes cut(good.begin(), good.begin() + n), out;
        store_u32le(&cut[max_field::packed_size], uint32_t(n - 88));
        const MaxError e = to_psu(cut, &out);
        EXPECT_TRUE(e == MaxError::ok || e == MaxError::record_past_end || e == MaxError::psu_too_large) << n;
    }
}

TEST(MaxConvert, RefusesAPsuArchiveOver8MiB)
{
    /* Many empty members take 48 payload bytes each but 512 bytes of PSU archive. */
    Bytes build(kWorkBufferSize);
    MaxPayloadWriter w(build, "MANY");
    for (int i = 0; i < 16382; ++i) ASSERT_EQ(w.add_member("e", {}), MaxError::ok);
    Bytes max(kWorkBufferSize);
    std::memcpy(max.data(), build.data(), 92);
    size_t stored = 0;
    ASSERT_EQ(lzari_encode(std::span(build).subspan(92, w.unpacked_size()), std::span(max).subspan(92), &stored), LzariError::ok);
    max.resize(seal_max_archive(max, stored, w.file_count(), w.unpacked_size()));
    Bytes out;
    EXPECT_EQ(to_psu(max, &out), MaxError::psu_too_large);
    /* 16381 members make exactly 8 MiB. */
    store_u32le(&max[max_field::file_count], 16381);
    ASSERT_EQ(to_psu(max, &out), MaxError::ok);
    EXPECT_EQ(out.size(), kWorkBufferSize);
}

/* ---- malformed PSU archives ---- */

TEST(MaxConvert, MalformedPsuArchives)
{
    const Bytes good = make_psu("SAVE", {{"A", Bytes(1500, 1)}, {"B", Bytes(10, 2)}});
    auto with_length = [&](size_t entry, uint32_t v) {
        Bytes b = good;
        store_u32le(&b[entry + 4], v);
        return b;
    };
    Bytes nested = make_psu("SAVE", {{"A", Bytes(10, 1)}, {"SUB", {}}});
    store_u16le(&nested[1536 + 512 + 1024], kModeNewDirectory); /* the second member becomes a folder */
    Bytes no_last_padding(good.begin(), good.end() - (1024 - 10));
    struct Case {
        const char* what;
        Bytes file;
        MaxError want;
    };
    const Case cases[] = {
        {"sound", good, MaxError::ok},
        {"last member's padding missing", no_last_padding, MaxError::ok},
        {"not a PSU archive", Bytes(4096, 0), MaxError::not_psu},
        {"cut inside the .. entry", Bytes(good.begin(), good.begin() + 1200), MaxError::psu_too_short},
        {"top length 0", with_length(0, 0), MaxError::bad_entry_count},
        {"top length 1", with_length(0, 1), MaxError::bad_entry_count},
        {"top length 2 reads no members", with_length(0, 2), MaxError::ok},
        {"more members than present", with_length(0, 5), MaxError::member_past_end},
        {"top length huge", with_length(0, 0xFFFFFFFF), MaxError::member_past_end},
        {"a member's length past the end", with_length(1536, 100000), MaxError::member_past_end},
        {"a member's length huge", with_length(1536, 0xFFFFFFFF), MaxError::member_past_end},
        {"cut inside a member's data", Bytes(good.begin(), good.begin() + 1536 + 512 + 1000), MaxError::member_past_end},
        {"a nested folder", nested, MaxError::member_is_folder},
        {"over 8 MiB", [&] { Bytes b = good; b.resize(kWorkBufferSize + 1); return b; }(), MaxError::psu_too_large_input},
    };
    for (const Case& c : cases) {
        Bytes out;
        EXPECT_EQ(to_max(c.file, &out), c.want) << c.what;
    }
    /* Every prefix: refused or converted, never a read outside. */
    for (size_t n = 0; n <= good.size(); n += 97) {
        Bytes out;
        (void)to_max(Bytes(good.begin(), good.begin() + n), &out);
    }
}

TEST(MaxConvert, PayloadAndStreamMustFitTheirBuffers)
{
    std::mt19937 g(2);
    const Bytes psu = make_psu("S", {{"A", random_bytes(g, 3000)}});
    /* A build buffer too small for the payload. */
    Bytes build(92 + 2000 + kCanarySize, kCanary), out(kWorkBufferSize);
    size_t n = 0;
    EXPECT_EQ(convert_psu_to_max(psu, std::span(build).first(92 + 2000), out, &n), MaxError::members_too_large);
    for (size_t i = 92 + 2000; i < build.size(); ++i) ASSERT_EQ(build[i], kCanary);
    /* An output too small for the stream: refused, never a cut stream. */
    Bytes big(kWorkBufferSize), small(92 + 1000 + kCanarySize, kCanary);
    EXPECT_EQ(convert_psu_to_max(psu, big, std::span(small).first(92 + 1000), &n), MaxError::no_room);
    EXPECT_EQ(n, 0u);
    for (size_t i = 92 + 1000; i < small.size(); ++i) ASSERT_EQ(small[i], kCanary);
}

TEST(MaxConvert, RefusesAStreamOverTheCapacity)
{
    /* Eight million random bytes fit a PSU archive but not, compressed, the
     * 8,388,516 bytes after a MAX header. */
    std::mt19937 g(3);
    const Bytes psu = make_psu("S", {{"A", random_bytes(g, 8385000)}});
    ASSERT_LE(psu.size(), kWorkBufferSize);
    Bytes out;
    EXPECT_EQ(to_max(psu, &out), MaxError::stream_too_large);
    EXPECT_TRUE(out.empty());
}

/* ---- real saves ---- */

TEST(MaxConvert, RealSaves)
{
    PS2_REQUIRE_REALDATA("rez.max", "rez.psu", "max-payne.max");
    const std::string dir = PS2_REALDATA_DIR;

    /* rez.max and rez.psu hold the same save. */
    const Bytes rez_max = test::get(dir + "/rez.max"), rez_psu = test::get(dir + "/rez.psu");
    EXPECT_EQ(compute_max_crc(rez_max), load_u32le(&rez_max[12]));
    Bytes psu;
    ASSERT_EQ(to_psu(rez_max, &psu), MaxError::ok);
    EXPECT_EQ(psu_record_name(psu.data()), psu_record_name(rez_psu.data()));
    EXPECT_TRUE(members_of(psu) == members_of(rez_psu));
    EXPECT_EQ(members_of(psu).size(), 3u);

    const Bytes payne = test::get(dir + "/max-payne.max");
    EXPECT_EQ(compute_max_crc(payne), load_u32le(&payne[12]));
    ASSERT_EQ(to_psu(payne, &psu), MaxError::ok);
    EXPECT_EQ(psu_record_name(psu.data()), "BASLUS-20230");
    EXPECT_EQ(members_of(psu).size(), 4u);

    /* Every real PSU archive: PSU -> MAX -> PSU keeps its members. */
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".psu") continue;
        const Bytes in = test::get(entry.path().string());
        Bytes max, back;
        ASSERT_EQ(to_max(in, &max), MaxError::ok) << entry.path();
        ASSERT_EQ(to_psu(max, &back), MaxError::ok) << entry.path();
        EXPECT_EQ(psu_record_name(back.data()), psu_record_name(in.data())) << entry.path();
        EXPECT_TRUE(members_of(back) == members_of(in)) << entry.path();
    }
}
