/* maxconv_lzari_test.cpp -- the LZARI codec against known streams and against a plain, literal encoder and decoder */
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "maxconv/lzari.h"
#include "tests/lzari_reference.h"

using namespace ps2;

namespace {

using Bytes = std::vector<uint8_t>;

namespace ref = ps2::test::lzari_ref;

/* ---- the codec under test, with a canary behind every output buffer ---- */

constexpr uint8_t kCanary = 0xA5;
constexpr size_t kCanarySize = 64;

Bytes encode(const Bytes& in, size_t capacity, LzariError* err = nullptr)
{
    Bytes out(capacity + kCanarySize, kCanary);
    size_t stored = 0;
    const LzariError e = lzari_encode(in, std::span<uint8_t>(out.data(), capacity), &stored);
    if (err) *err = e;
    for (size_t i = capacity; i < out.size(); ++i) EXPECT_EQ(out[i], kCanary) << "write past the capacity";
    EXPECT_LE(stored, capacity);
    out.resize(stored);
    return out;
}
Bytes encode(const Bytes& in) { return encode(in, in.size() * 9 / 8 + 64); }

Bytes decode(const Bytes& stream, size_t count, size_t* wanted = nullptr)
{
    Bytes out(count + kCanarySize, kCanary);
    const size_t w = lzari_decode(stream, std::span<uint8_t>(out.data(), count));
    if (wanted) *wanted = w;
    for (size_t i = count; i < out.size(); ++i) EXPECT_EQ(out[i], kCanary) << "write past the count";
    out.resize(count);
    return out;
}

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes hex(std::initializer_list<int> v) { return Bytes(v.begin(), v.end()); }

/* ---- input families ---- */

Bytes random_bytes(std::mt19937& g, size_t n)
{
    Bytes b(n);
    for (auto& x : b) x = uint8_t(g());
    return b;
}
Bytes text(std::mt19937& g, size_t n)
{
    static const char* const words[] = {"save ", "card ", "memory ", "the ", "of ", "PlayStation ", "icon.sys ",
                                        "data ", "\n", "BESCES-50501 ", "slot ", "1 ", "2004 ", ", "};
    Bytes b;
    while (b.size() < n) {
        const char* w = words[g() % std::size(words)];
        b.insert(b.end(), w, w + std::strlen(w));
    }
    b.resize(n);
    return b;
}
Bytes runs(std::mt19937& g, size_t n)
{
    Bytes b;
    while (b.size() < n) b.insert(b.end(), 1 + g() % 200, uint8_t(g() % 4 == 0 ? g() : g() % 3));
    b.resize(n);
    return b;
}
Bytes periodic(std::mt19937& g, size_t period, size_t n)
{
    const Bytes unit = random_bytes(g, period);
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = unit[i % period];
    return b;
}
/* Runs of value (0 unless given; -1: a random value per run) of random length, each followed by a marker
 * (random and non-zero unless given): the hardest input for chains of equal bytes. */
Bytes zero_runs(std::mt19937& g, size_t n, size_t shortest = 3, size_t longest = 59, int marker = -1, int value = 0)
{
    Bytes b;
    while (b.size() < n) {
        b.insert(b.end(), shortest + g() % (longest - shortest + 1), uint8_t(value < 0 ? g() : uint32_t(value)));
        b.push_back(uint8_t(marker < 0 ? 1 + g() % 255 : marker));
    }
    b.resize(n);
    return b;
}
/* Bytes drawn from a few values. */
Bytes alphabet(std::mt19937& g, size_t n, const char* letters, size_t count)
{
    Bytes b(n);
    for (auto& x : b) x = uint8_t(letters[g() % count]);
    return b;
}
/* Mostly zeros, records, text and random blocks, like a save's payload. */
Bytes save_like(std::mt19937& g, size_t n)
{
    Bytes b;
    while (b.size() < n) {
        const Bytes part = [&] {
            switch (g() % 6) {
            case 0: return random_bytes(g, 100 + g() % 2000);
            case 1: return text(g, 100 + g() % 1500);
            case 2: return periodic(g, 4 + g() % 60, 200 + g() % 3000);
            default: return Bytes(500 + g() % 8000, 0);
            }
        }();
        b.insert(b.end(), part.begin(), part.end());
    }
    b.resize(n);
    return b;
}

void expect_same_as_reference(const Bytes& in, const char* what)
{
    const Bytes want = ref::encode(in, SIZE_MAX);
    const Bytes got = encode(in);
    ASSERT_EQ(got.size(), want.size()) << what;
    EXPECT_TRUE(got == want) << what << ": the stream differs from the reference";
    EXPECT_EQ(decode(got, in.size()), in) << what;
}

} // namespace

/* ---- known streams ---- */

TEST(Lzari, KnownStreams)
{
    EXPECT_EQ(encode({}), hex({0x40}));
    EXPECT_EQ(encode(bytes_of("a")), hex({0xB0, 0x40}));
    EXPECT_EQ(encode(bytes_of("abc")), hex({0xB0, 0xA8, 0xC2, 0x00}));
    EXPECT_EQ(decode(hex({0x40}), 0), Bytes{});
    EXPECT_EQ(decode(hex({0xB0, 0x40}), 1), bytes_of("a"));
    EXPECT_EQ(decode(hex({0xB0, 0xA8, 0xC2, 0x00}), 3), bytes_of("abc"));
}

TEST(Lzari, ReferenceGivesTheKnownStreams)
{
    /* The oracle itself must agree with the published vectors. */
    EXPECT_EQ(ref::encode({}, SIZE_MAX), hex({0x40}));
    EXPECT_EQ(ref::encode(bytes_of("a"), SIZE_MAX), hex({0xB0, 0x40}));
    EXPECT_EQ(ref::encode(bytes_of("abc"), SIZE_MAX), hex({0xB0, 0xA8, 0xC2, 0x00}));
    EXPECT_EQ(ref::decode(hex({0xB0, 0xA8, 0xC2, 0x00}), 3), bytes_of("abc"));
}

/* ---- the fast encoder makes the reference's decisions ---- */

TEST(Lzari, SameStreamAsReferenceOnInputFamilies)
{
    std::mt19937 g(20240520);
    struct Case {
        const char* what;
        Bytes in;
    };
    Bytes letters_then_spaces(4000);
    for (auto& c : letters_then_spaces) c = uint8_t('a' + g() % 26);
    letters_then_spaces.insert(letters_then_spaces.end(), 3000, ' ');
    Bytes records(30000), tagged, random_then_runs = random_bytes(g, 40000);
    for (size_t i = 0; i < records.size(); ++i) records[i] = i % 16 < 4 ? uint8_t(g() % 16) : 0;
    for (uint32_t i = 0; tagged.size() < 30000; ++i) tagged.insert(tagged.end(), {'x', 'y', 'z', uint8_t(i), uint8_t(i >> 8)});
    Bytes counter; /* hardly a match: codes nearly all literals, the model halved twice */
    for (uint32_t i = 0; counter.size() < 70000; ++i) counter.insert(counter.end(), {uint8_t(i), uint8_t(i >> 8)});
    const Bytes runs_after = zero_runs(g, 20000, 8, 59);
    random_then_runs.insert(random_then_runs.end(), runs_after.begin(), runs_after.end());
    const Case cases[] = {
        {"text", text(g, 30000)},
        {"zeros", Bytes(20000, 0)},
        {"spaces", Bytes(9000, ' ')},
        {"random", random_bytes(g, 20000)},
        {"runs", runs(g, 30000)},
        {"period 4035", periodic(g, 4035, 14000)},
        {"period 4036", periodic(g, 4036, 14000)},
        {"period 4037", periodic(g, 4037, 14000)},
        {"period 60", periodic(g, 60, 9000)},
        {"period 61", periodic(g, 61, 9000)},
        {"4000 letters then spaces", letters_then_spaces},
        {"zero runs 3-59", zero_runs(g, 30000)},
        {"zero runs 1-200", zero_runs(g, 30000, 1, 200)},
        {"save-like", save_like(g, 60000)},
        /* Shapes of few distinct bytes, where every chain of equal 3-byte contexts is dense. */
        {"zero runs 2-8, 0x01", zero_runs(g, 30000, 2, 8, 1)},
        {"zero runs 1-3, 0x01", zero_runs(g, 20000, 1, 3, 1)},
        {"zero runs 55-65, 0x01", zero_runs(g, 30000, 55, 65, 1)},
        {"runs of any byte 8-70", zero_runs(g, 40000, 8, 70, -1, -1)},
        {"bits", alphabet(g, 20000, "\0\1", 2)},
        {"a and b", alphabet(g, 20000, "ab", 2)},
        {"a, b, space", alphabet(g, 20000, "ab ", 3)},
        {"a one in eight", alphabet(g, 20000, "\1\0\0\0\0\0\0\0", 8)},
        {"16-byte records", records},
        {"tag and counter", tagged},
        {"16-bit counter", counter},
        /* Runs after 40,000 bytes without one (the encoder's text buffer has slid on meanwhile). */
        {"random, then zero runs", random_then_runs},
    };
    for (const Case& c : cases) expect_same_as_reference(c.in, c.what);
}

TEST(Lzari, SameStreamAsReferenceOnManySmallInputs)
{
    std::mt19937 g(7);
    for (int i = 0; i < 300; ++i) {
        const size_t n = g() % (i < 100 ? 80 : 3000);
        Bytes in;
        switch (g() % 7) {
        case 0: in = random_bytes(g, n); break;
        case 1: in = text(g, n); break;
        case 2: in = runs(g, n); break;
        case 3: in = zero_runs(g, n, 1 + g() % 5, 6 + g() % 70, g() % 2 ? -1 : 1, g() % 4 ? 0 : -1); break;
        case 4: in = periodic(g, 1 + g() % 70, n); break;
        case 5: in = Bytes(n, uint8_t(g() % 2 ? ' ' : g())); break;
        default: { /* a small alphabet: many equal candidates */
            in.resize(n);
            for (auto& b : in) b = uint8_t("ab "[g() % 3]);
        }
        }
        const std::string what = "small input " + std::to_string(i);
        expect_same_as_reference(in, what.c_str());
        if (HasFailure()) return;
    }
}

/* ---- edge cases of the match decisions ---- */

TEST(Lzari, RunOfOneByte)
{
    /* One literal, then matches of 60 at distance 1, then the rest as one
     * match when 3 or more remain, else as literals. */
    for (size_t n : {1u, 2u, 3u, 4u, 5u, 60u, 61u, 62u, 63u, 64u, 121u, 122u, 123u, 1000u}) {
        const Bytes in(n, 0x41);
        const Bytes s = encode(in);
        EXPECT_EQ(s, ref::encode(in, SIZE_MAX)) << n;
        EXPECT_EQ(decode(s, n), in) << n;
    }
    /* A long run costs about ten bits per 60 bytes: a length code and distance 1. */
    EXPECT_LT(encode(Bytes(600000, 0x41)).size(), 600000u / 60 * 2);
}

TEST(Lzari, LeadingSpacesMatchTheFill)
{
    for (const char* s : {" x", "  x", "   x", "    xyz", "                                                  end"}) {
        const Bytes in = bytes_of(s);
        EXPECT_EQ(encode(in), ref::encode(in, SIZE_MAX)) << '"' << s << '"';
        EXPECT_EQ(decode(encode(in), in.size()), in);
    }
    /* Three spaces are one match into the fill, shorter than three literals. */
    EXPECT_LT(encode(bytes_of("   ")).size(), encode(bytes_of("xyz")).size());
}

TEST(Lzari, MatchCutAtTheEnd)
{
    /* The lookahead past the end holds zeros, so a match may reach past the
     * input before it is cut; a cut to 2 or fewer bytes goes as a literal. */
    for (const char* tail : {"", "a", "ab", "abc", "abcd"}) {
        Bytes in = bytes_of("abcdefgh");
        in.push_back(0);
        in.push_back(0);
        const Bytes t = bytes_of(tail);
        in.insert(in.end(), in.begin(), in.begin() + 8);
        in.insert(in.end(), t.begin(), t.end());
        EXPECT_EQ(encode(in), ref::encode(in, SIZE_MAX)) << tail;
        EXPECT_EQ(decode(encode(in), in.size()), in) << tail;
    }
}

TEST(Lzari, OutputCapacity)
{
    std::mt19937 g(3);
    const Bytes in = random_bytes(g, 5000);
    const Bytes full = ref::encode(in, SIZE_MAX);
    LzariError e;
    /* Exactly the stream's length fits. */
    EXPECT_EQ(encode(in, full.size(), &e), full);
    EXPECT_EQ(e, LzariError::ok);
    /* Shorter: the first capacity bytes, never more, and reported. */
    for (size_t cap : {size_t(0), size_t(1), size_t(100), full.size() - 1}) {
        const Bytes got = encode(in, cap, &e);
        EXPECT_EQ(e, LzariError::output_full) << cap;
        EXPECT_EQ(got, Bytes(full.begin(), full.begin() + cap)) << cap;
        EXPECT_EQ(got, ref::encode(in, cap)) << cap;
    }
    EXPECT_EQ(encode({}, 0, &e), Bytes{});
    EXPECT_EQ(e, LzariError::output_full);
}

/* ---- the decoder ---- */

TEST(Lzari, RoundTripsLargeInputs)
{
    std::mt19937 g(11);
    for (const Bytes& in : {save_like(g, 3 << 20), random_bytes(g, 1 << 20), zero_runs(g, 1 << 20)}) {
        size_t wanted = 0;
        const Bytes s = encode(in);
        EXPECT_EQ(decode(s, in.size(), &wanted), in);
        EXPECT_LE(wanted, s.size() + 2);
    }
}

TEST(Lzari, DamagedStreamsDecodeAsTheReferenceDoes)
{
    /* Garbage, cut and flipped streams: never an error, never a write past
     * the count, and the same bytes as the literal decoder. */
    std::mt19937 g(5);
    const Bytes in = save_like(g, 20000);
    const Bytes good = encode(in);
    std::vector<Bytes> streams = {{}, hex({0xFF}), hex({0x00, 0x00}), Bytes(good.begin(), good.begin() + good.size() / 2)};
    for (int i = 0; i < 20; ++i) streams.push_back(random_bytes(g, g() % 400));
    for (int i = 0; i < 10; ++i) {
        Bytes s = good;
        s[g() % s.size()] ^= uint8_t(1 << (g() % 8));
        streams.push_back(s);
    }
    for (const Bytes& s : streams) {
        const size_t count = g() % 2 ? in.size() : g() % 5000;
        ASSERT_EQ(decode(s, count), ref::decode(s, count)) << "stream of " << s.size();
    }
}

TEST(Lzari, CutStreamAsksForMoreThanItHolds)
{
    std::mt19937 g(9);
    const Bytes in = text(g, 50000);
    const Bytes s = encode(in);
    size_t wanted = 0;
    (void)decode(Bytes(s.begin(), s.begin() + s.size() - 40), in.size(), &wanted);
    EXPECT_GT(wanted, s.size() - 40 + 2);
}
