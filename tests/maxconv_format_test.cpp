/* maxconv_format_test.cpp -- CRC-32 and the MAX archive layout: known archives, the record rule, header checks */
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "maxconv/crc32.h"
#include "maxconv/lzari.h"
#include "maxconv/max_format.h"

using namespace ps2;

namespace {

using Bytes = std::vector<uint8_t>;

std::span<const uint8_t> span_of(const char* s) { return {reinterpret_cast<const uint8_t*>(s), std::strlen(s)}; }

uint32_t crc_bytewise(std::span<const uint8_t> b)
{
    uint32_t c = 0xFFFFFFFF;
    for (uint8_t x : b) {
        c ^= x;
        for (int i = 0; i < 8; ++i) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

/* A whole MAX archive of named members, made with the format's own writer and the codec. */
Bytes make_max(const char* dir, const std::vector<std::pair<std::string, Bytes>>& members)
{
    Bytes build(kMaxHeaderSize + (1 << 20), 0xEE);
    MaxPayloadWriter w(build, dir);
    for (const auto& [name, data] : members) EXPECT_EQ(w.add_member(name, data), MaxError::ok);
    Bytes out(kMaxHeaderSize + (1 << 20));
    std::memcpy(out.data(), build.data(), kMaxHeaderSize);
    size_t stored = 0;
    EXPECT_EQ(lzari_encode(std::span(build).subspan(kMaxHeaderSize, w.unpacked_size()),
                           std::span(out).subspan(kMaxHeaderSize), &stored),
              LzariError::ok);
    out.resize(seal_max_archive(out, stored, w.file_count(), w.unpacked_size()));
    return out;
}

} // namespace

/* ---- CRC-32 ---- */

TEST(Crc32, CheckValue)
{
    EXPECT_EQ(crc32(span_of("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32({}), 0u);
    EXPECT_EQ(crc32(span_of("a")), 0xE8B7BE43u);
}

TEST(Crc32, SlicedEqualsBytewiseAtEveryLengthAndAlignment)
{
    std::mt19937 g(1);
    Bytes data(600);
    for (auto& b : data) b = uint8_t(g());
    for (size_t start = 0; start < 16; ++start)
        for (size_t n = 0; n + start <= 300; n += (n < 40 ? 1 : 7)) {
            const std::span<const uint8_t> s(data.data() + start, n);
            ASSERT_EQ(crc32(s), crc_bytewise(s)) << start << "+" << n;
        }
    /* Continuing over a split gives the whole. */
    for (size_t cut = 0; cut <= data.size(); cut += 37)
        EXPECT_EQ(crc32_update(crc32(std::span(data).first(cut)), std::span(data).subspan(cut)), crc32(data));
}

/* ---- the record rule ---- */

TEST(MaxFormat, RecordRule)
{
    struct Case {
        uint64_t offset, member_size, next;
    };
    const Case cases[] = {
        {0, 100, 136}, /* 136 + 8 = 144, no padding */
        {0, 101, 152}, /* 15 bytes of padding */
        {0, 0, 40},    /* a first record of 0 bytes takes 40 */
        {40, 0, 88},   /* a later one takes 48 */
        {136, 0, 184},
        {152, 3, 200},
        {0, 4, 40},
        {0, 5, 56},
        {0, 0xFFFFFFFFu, 0xFFFFFFFFull + 36 + 5}, /* no overflow for any 32-bit size */
    };
    for (const Case& c : cases) EXPECT_EQ(max_next_record_offset(c.offset, c.member_size), c.next) << c.offset;
    /* Every record after the first starts at 8 modulo 16. */
    for (uint64_t size = 0; size < 64; ++size) EXPECT_EQ(max_next_record_offset(0, size) % 16, 8u);
}

/* ---- known archives ---- */

TEST(MaxFormat, EmptySave)
{
    const Bytes a = make_max("SAVE", {});
    ASSERT_EQ(a.size(), 93u);
    EXPECT_EQ(0, std::memcmp(a.data(), "Ps2PowerSave", 12));
    EXPECT_EQ(load_u32le(&a[12]), 0xC336D454u);
    EXPECT_EQ(Bytes(a.begin() + 12, a.begin() + 16), (Bytes{0x54, 0xD4, 0x36, 0xC3}));
    EXPECT_EQ(0, std::memcmp(&a[16], "SAVE\0\0\0", 7));
    EXPECT_EQ(load_u32le(&a[80]), 5u);
    EXPECT_EQ(load_u32le(&a[84]), 0u);
    EXPECT_EQ(load_u32le(&a[88]), 0u);
    EXPECT_EQ(a[92], 0x40);
    EXPECT_EQ(compute_max_crc(a), 0xC336D454u);
}

TEST(MaxFormat, SaveWithOneFile)
{
    Bytes build(kMaxHeaderSize + 64, 0xEE);
    MaxPayloadWriter w(build, "SAVE");
    ASSERT_EQ(w.add_member("DATA", Bytes{0x61, 0x62, 0x63}), MaxError::ok);
    ASSERT_EQ(w.unpacked_size(), 40u);
    Bytes payload(40, 0);
    payload[0] = 3;
    std::memcpy(&payload[4], "DATA", 4);
    payload[36] = 0x61, payload[37] = 0x62, payload[38] = 0x63;
    EXPECT_EQ(Bytes(build.begin() + 92, build.begin() + 132), payload);

    const Bytes a = make_max("SAVE", {{"DATA", {0x61, 0x62, 0x63}}});
    ASSERT_EQ(a.size(), 109u);
    const Bytes stream = {0xFD, 0x8A, 0xD8, 0xEB, 0xE8, 0x49, 0x05, 0xE5, 0x8B,
                          0xF2, 0xD2, 0x2C, 0xE9, 0xF8, 0x16, 0x33, 0xE0};
    EXPECT_EQ(Bytes(a.begin() + 92, a.end()), stream);
    const MaxHeader h = read_max_header(a.data());
    EXPECT_EQ(h.crc, 0x68121DDEu);
    EXPECT_EQ(h.packed_size, 21u);
    EXPECT_EQ(h.file_count, 1u);
    EXPECT_EQ(h.unpacked_size, 40u);
    EXPECT_EQ(h.dir_name, "SAVE");
}

TEST(MaxFormat, WriterFillsNamesAndPaddingAndStopsAtItsRoom)
{
    Bytes build(kMaxHeaderSize + 200, 0xEE);
    MaxPayloadWriter w(build, std::string(40, 'D')); /* cut to 32 */
    EXPECT_EQ(read_max_header(build.data()).dir_name, std::string(32, 'D'));
    EXPECT_TRUE(std::all_of(build.begin() + 48, build.begin() + 92, [](uint8_t b) { return b == 0; }));
    ASSERT_EQ(w.add_member(std::string(32, 'N'), Bytes(5, 1)), MaxError::ok); /* 32-byte name: no NUL */
    ASSERT_EQ(w.add_member("", Bytes{}), MaxError::ok);
    EXPECT_EQ(w.unpacked_size(), 56u + 48u);
    EXPECT_EQ(0, std::memcmp(&build[92 + 4], std::string(32, 'N').data(), 32));
    for (size_t i = 92 + 36 + 5; i < 92 + 56; ++i) EXPECT_EQ(build[i], 0) << "padding at " << i;
    /* 96 bytes are left: a member of 61 bytes would need 104. */
    EXPECT_EQ(w.add_member("X", Bytes(61, 2)), MaxError::members_too_large);
    EXPECT_EQ(w.unpacked_size(), 104u);
    EXPECT_EQ(w.file_count(), 2u);
    EXPECT_EQ(build[92 + 104], 0xEE) << "a refused member writes nothing";
    EXPECT_EQ(w.add_member("X", Bytes(60, 2)), MaxError::ok);
    EXPECT_EQ(w.unpacked_size(), 200u);
}

/* ---- reading ---- */

TEST(MaxFormat, ReadsRecordsWithinThePayload)
{
    Bytes build(kMaxHeaderSize + 256, 0);
    MaxPayloadWriter w(build, "S");
    ASSERT_EQ(w.add_member(std::string(32, 'N'), Bytes(7, 9)), MaxError::ok);
    ASSERT_EQ(w.add_member("B", Bytes(3, 8)), MaxError::ok);
    const std::span<const uint8_t> payload = std::span(build).subspan(92, w.unpacked_size());
    uint64_t at = 0;
    MaxMember m;
    ASSERT_EQ(read_max_record(payload, &at, &m), MaxError::ok);
    EXPECT_EQ(m.name, std::string(32, 'N'));
    EXPECT_EQ(m.data.size(), 7u);
    ASSERT_EQ(read_max_record(payload, &at, &m), MaxError::ok);
    EXPECT_EQ(m.name, "B");
    EXPECT_EQ(at, w.unpacked_size());
    EXPECT_EQ(read_max_record(payload, &at, &m), MaxError::record_past_end);

    /* The last record's padding may be missing; its data may not. */
    const uint64_t last = 56;
    uint64_t o = last;
    EXPECT_EQ(read_max_record(payload.first(56 + 36 + 3), &o, &m), MaxError::ok);
    o = last;
    EXPECT_EQ(read_max_record(payload.first(56 + 36 + 2), &o, &m), MaxError::record_past_end);
    o = last;
    EXPECT_EQ(read_max_record(payload.first(56 + 20), &o, &m), MaxError::record_past_end);
    /* A lying size. */
    Bytes lie(payload.begin(), payload.end());
    store_u32le(lie.data(), 0xFFFFFFF0u);
    o = 0;
    EXPECT_EQ(read_max_record(lie, &o, &m), MaxError::record_past_end);
    o = uint64_t(1) << 40; /* an offset far past the end */
    EXPECT_EQ(read_max_record(lie, &o, &m), MaxError::record_past_end);
}

TEST(MaxFormat, DirectoryNameStopsAt32Bytes)
{
    Bytes a = make_max("BESCES-50501REZ", {});
    std::memcpy(&a[48], "Rez ", 4); /* writers in the wild put a title line here */
    EXPECT_EQ(read_max_header(a.data()).dir_name, "BESCES-50501REZ");
    std::memset(&a[16], 'X', 64);
    EXPECT_EQ(read_max_header(a.data()).dir_name, std::string(32, 'X'));
}

TEST(MaxFormat, HeaderChecks)
{
    const Bytes good = make_max("SAVE", {{"DATA", {0x61, 0x62, 0x63}}});
    struct Case {
        const char* what;
        Bytes file;
        MaxError want;
    };
    auto with = [&](size_t field, uint32_t v) {
        Bytes b = good;
        store_u32le(&b[field], v);
        return b;
    };
    Bytes trailing = good;
    trailing.insert(trailing.end(), 100, 0x55);
    const Case cases[] = {
        {"sound", good, MaxError::ok},
        {"bytes after the stream", trailing, MaxError::ok},
        {"no magic", Bytes(200, 0), MaxError::not_max},
        {"magic only", Bytes(good.begin(), good.begin() + 12), MaxError::max_too_short},
        {"cut in the header", Bytes(good.begin(), good.begin() + 91), MaxError::max_too_short},
        {"header only", Bytes(good.begin(), good.begin() + 92), MaxError::stream_past_end},
        {"stream cut", Bytes(good.begin(), good.end() - 1), MaxError::stream_past_end},
        {"packed_size 0", with(max_field::packed_size, 0), MaxError::stream_past_end},
        {"packed_size 3", with(max_field::packed_size, 3), MaxError::stream_past_end},
        {"packed_size 4", with(max_field::packed_size, 4), MaxError::ok},
        {"packed_size huge", with(max_field::packed_size, 0xFFFFFFFF), MaxError::stream_past_end},
        {"unpacked_size at the limit", with(max_field::unpacked_size, 8388516), MaxError::ok},
        {"unpacked_size over the limit", with(max_field::unpacked_size, 8388517), MaxError::payload_too_large},
        {"unpacked_size huge", with(max_field::unpacked_size, 0xFFFFFFFF), MaxError::payload_too_large},
        {"over 8 MiB", [&] { Bytes b = good; b.resize(8388609); return b; }(), MaxError::max_too_large},
    };
    for (const Case& c : cases) {
        MaxHeader h;
        EXPECT_EQ(check_max_header(c.file, &h), c.want) << c.what;
    }
    MaxHeader h;
    ASSERT_EQ(check_max_header(trailing, &h), MaxError::ok);
    EXPECT_EQ(max_stream(trailing, h).size(), 17u);
}

TEST(MaxFormat, CheckValueCoversTheWholeFileWithTheFieldZero)
{
    Bytes a = make_max("SAVE", {{"DATA", Bytes(1000, 7)}});
    Bytes zeroed = a;
    store_u32le(&zeroed[12], 0);
    EXPECT_EQ(compute_max_crc(a), crc32(zeroed));
    EXPECT_EQ(compute_max_crc(a), load_u32le(&a[12]));
    a.push_back(0); /* appended bytes change it */
    EXPECT_NE(compute_max_crc(a), load_u32le(&a[12]));
    /* The field's own value plays no part. */
    Bytes b = a;
    store_u32le(&b[12], 0x12345678);
    EXPECT_EQ(compute_max_crc(a), compute_max_crc(b));
}
