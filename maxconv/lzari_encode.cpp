/* lzari_encode.cpp -- the LZARI encoder: hash-chain match finder, adaptive arithmetic coder */
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "common/bytes.h"
#include "maxconv/lzari.h"
#include "maxconv/lzari_model.h"

namespace ps2 {

const char* lzari_error_text(LzariError e)
{
    static const char* const texts[] = {LZARI_ERROR_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(e));
}

namespace {

using namespace lzari;

/* The match decisions are defined on the unwrapped text T: 4,036 fill bytes
 * (positions 0..4035), then the input, then zeros for ever. At position r
 * the candidates are the positions q with max(3976, r - 4036) <= q < r (the
 * last 60 fill positions are candidates from the start, the rest of the fill
 * never is); a candidate's length is the number of bytes in which T[q..]
 * and T[r..] agree, at most 60. The match is the longest candidate of at
 * least 3 bytes, and of equally long ones the nearest.
 *
 * Candidates are found through chains of positions that share a hash of
 * their first bytes, newest first, at three levels: the first 3, 8 and 16
 * bytes. Shorter candidates never matter, so the chain of the first three
 * bytes holds every candidate. Once a match of length L is known, only
 * candidates that agree in L + 1 bytes can replace it; each of those also
 * agrees in the n bytes at any offset o with o + n <= L + 1, so the walk may
 * go on along the chain of those bytes (position q' + o) as soon as every
 * candidate left has q' + o < r (that position is in the chains already),
 * skipping the candidates already looked at. Candidates are still met
 * newest first, so the result is the same as walking every candidate.
 *
 * Which chain: at first the three bytes ending at the byte that must match
 * next (unless those are one value repeated: inside runs such chains are
 * dense). When a walk gets long, the chains a better candidate must be in
 * are weighed by their first few links, which tell how densely they cover
 * the window, and the walk moves to the one that seems to hold the fewest.
 * On input of few distinct bytes (bits, small numbers, short zero runs)
 * every 3-byte chain is dense, while one of 8 or 16 bytes that a better
 * candidate must share is short: this keeps such input from walking
 * thousands of links per position. Input that starts with a run of one byte
 * value is served from the runs themselves (find_in_runs). The levels of 8
 * and 16 bytes are filled only when a walk first needs them. Chains end at
 * the first position that has left the window, so nothing is ever
 * unlinked. */
constexpr uint32_t kFirstCandidate = kFirstWrite - kLongest; /* 3,976 */
constexpr uint32_t kNone = 0; /* below every window start, so it ends a chain */

/* The text is kept in a linear buffer that slides forward in large steps, so
 * that comparisons never wrap. It holds T[base .. base + kTextSize). */
constexpr uint32_t kTextChunk = 1u << 15;
constexpr uint32_t kTextSize = kWindow + kTextChunk + 256;
/* Bytes from r on that must be present: the 60-byte lookahead, and what the
 * searches and insertions read past it (compares of up to 60 bytes from
 * r + 59, hashes of 24 bytes, 8-byte words). */
constexpr uint32_t kAhead = 136;

inline uint32_t load_u32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

/* The levels of chains: the number of first bytes their positions share. */
constexpr uint32_t kLevelLength[] = {3, 8, 16};
constexpr uint32_t kLevels = sizeof kLevelLength / sizeof kLevelLength[0];
static_assert(kLevels == 3);
/* Hash bits per level: level 0 is looked up at every position, so it gets
 * buckets to spare. With 4,096 positions in the window about 6% of 65,536
 * buckets have one there (12% of 32,768): on input without matches each of
 * those costs a search for nothing and a branch the processor does not
 * foresee. */
constexpr uint32_t level_bits(uint32_t level) { return level == 0 ? 16 : 12; }
/* Where each level's heads start in one array. */
constexpr uint32_t head_offset(uint32_t level)
{
    return level == 0 ? 0 : head_offset(level - 1) + (1u << level_bits(level - 1));
}
constexpr uint32_t kHeadsSize = head_offset(kLevels);

/* Hash of the first n (3 to 24) bytes: the three 8-byte words, the bytes
 * past n masked off. */
constexpr uint64_t kHashMul[3] = {0x9E3779B185EBCA87ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull};
constexpr uint64_t word_mask(uint32_t n, uint32_t w)
{
    return n >= 8 * (w + 1) ? ~uint64_t(0) : n <= 8 * w ? 0 : (uint64_t(1) << (8 * (n - 8 * w))) - 1;
}
template <uint32_t kLevel>
inline uint32_t hash_of(const uint8_t* p)
{
    constexpr uint32_t kLength = kLevelLength[kLevel];
    static_assert(kLength >= 3 && kLength <= 24);
    uint64_t h = (load_u64le(p) & word_mask(kLength, 0)) * kHashMul[0];
    if constexpr (kLength > 8) h ^= (load_u64le(p + 8) & word_mask(kLength, 1)) * kHashMul[1];
    if constexpr (kLength > 16) h ^= (load_u64le(p + 16) & word_mask(kLength, 2)) * kHashMul[2];
    return uint32_t(h >> (64 - level_bits(kLevel)));
}
struct LevelMasks {
    uint64_t m[kLevels][3]{};
    constexpr LevelMasks()
    {
        for (uint32_t l = 0; l < kLevels; ++l)
            for (uint32_t w = 0; w < 3; ++w) m[l][w] = word_mask(kLevelLength[l], w);
    }
};
inline constexpr LevelMasks kLevelMasks{};
/* The same for a level chosen at run time. */
inline uint32_t level_hash(uint32_t level, const uint8_t* p)
{
    const uint64_t* m = kLevelMasks.m[level];
    const uint64_t h = (load_u64le(p) & m[0]) * kHashMul[0] ^ (load_u64le(p + 8) & m[1]) * kHashMul[1] ^
                       (load_u64le(p + 16) & m[2]) * kHashMul[2];
    return uint32_t(h >> (64 - level_bits(level)));
}

/* Number of leading bytes in which a and b agree, at most 60. */
inline uint32_t match_length(const uint8_t* a, const uint8_t* b)
{
    for (uint32_t n = 0; n < 56; n += 8) {
        const uint64_t x = load_u64le(a + n) ^ load_u64le(b + n);
        if (x) return n + uint32_t(std::countr_zero(x)) / 8;
    }
    const uint32_t x = load_u32(a + 56) ^ load_u32(b + 56);
    return x ? 56 + uint32_t(std::countr_zero(x)) / 8 : 60;
}

/* The first n (1 to 60) bytes, as whole words and a mask of the bytes of
 * the word after them. A walk asks whether a candidate agrees with r in
 * best + 1 bytes: such candidates are rare, and the words compared change
 * only with best, so that unlike a test byte by byte the branch on the
 * answer is easy to predict, which counts on input of few byte values. */
struct Prefix {
    uint32_t words;
    uint64_t tail;
    explicit Prefix(uint32_t n) : words(n / 8), tail(n % 8 ? (uint64_t(1) << 8 * (n % 8)) - 1 : 0) {}
};
/* Whether a and b agree in the prefix's bytes. Reads up to 64 bytes from each. */
inline bool agrees_in(const uint8_t* a, const uint8_t* b, Prefix n)
{
    uint64_t diff = (load_u64le(a + 8 * n.words) ^ load_u64le(b + 8 * n.words)) & n.tail;
    for (uint32_t i = 0; i < n.words; ++i) diff |= load_u64le(a + 8 * i) ^ load_u64le(b + 8 * i);
    return diff == 0;
}

/* Whether the kBytes (a multiple of 8) bytes from p are one value. */
template <uint32_t kBytes>
inline bool one_value(const uint8_t* p)
{
    static_assert(kBytes % 8 == 0);
    const uint64_t v = uint64_t(p[0]) * 0x0101010101010101ull;
    uint64_t diff = 0;
    for (uint32_t i = 0; i < kBytes; i += 8) diff |= load_u64le(p + i) ^ v;
    return diff == 0;
}

/* Where the stream goes: out[0 .. capacity), pos bytes of it stored. */
struct Sink {
    uint8_t* out = nullptr;
    size_t capacity = 0, pos = 0;
    bool overflow = false;
};

/* Bytes are made in a stage and copied out in blocks, so that a symbol's
 * bits go out with one 8-byte store and no branch, and nothing is ever
 * written to the output but stream bytes. */
constexpr uint32_t kStage = 4096;

/* Copies the stage's used whole bytes out (what does not fit is dropped),
 * moves the byte being filled to the front and returns the bytes now used. */
[[gnu::noinline]] uint32_t drain(Sink* sink, uint8_t* stage, uint32_t used)
{
    const size_t room = sink->capacity - sink->pos;
    const size_t n = used < room ? used : room;
    if (n) std::memcpy(sink->out + sink->pos, stage, n);
    sink->pos += n;
    if (n < used) sink->overflow = true;
    stage[0] = stage[used];
    return 0;
}

/* The arithmetic coder's registers and its bit output, most significant bit
 * first. The encoder's loop keeps one in a local object whose address never
 * leaves its inlined code, so that its fields stay in registers: stored
 * where the stage's bytes are, they would have to be read back after every
 * byte store. */
struct Coder {
    uint32_t low = 0, high = kQ4, pending = 0;
    uint64_t bit_acc = 0;       /* bits not yet in whole stage bytes, the newest lowest */
    uint32_t bit_acc_count = 0; /* how many (below 8 between calls) */
    uint32_t stage_used = 0;    /* whole bytes in the stage */
    uint8_t* stage;             /* kStage + 8 bytes */
    Sink* sink;

    Coder(uint8_t* stage_, Sink* sink_) : stage(stage_), sink(sink_) {}

    [[gnu::always_inline]] void put_bits(uint64_t bits, uint32_t n) /* n <= 56 */
    {
        bit_acc = (bit_acc << n) | bits;
        bit_acc_count += n;
        const uint64_t top = (bit_acc << 1) << (63 - bit_acc_count); /* the bits held, first highest */
        const uint64_t be = std::endian::native == std::endian::little ? __builtin_bswap64(top) : top;
        std::memcpy(stage + stage_used, &be, 8);
        stage_used += bit_acc_count >> 3;
        bit_acc_count &= 7;
        if (stage_used >= kStage) [[unlikely]] stage_used = drain(sink, stage, stage_used);
    }
    /* A bit, then the pending bits, each the opposite of it. */
    [[gnu::always_inline]] void put_bit_with_pending(uint32_t bit)
    {
        put_bits(bit, 1);
        for (; pending >= 32; pending -= 32) put_bits(bit ? 0 : 0xFFFFFFFFu, 32);
        put_bits(bit ? 0 : (1u << pending) - 1, pending);
        pending = 0;
    }

    /* Narrows [low, high) to the slice [lo, hi) of total and sends the settled bits. */
    [[gnu::always_inline]] void code_slice(uint32_t lo, uint32_t hi, uint32_t total)
    {
        const uint32_t range = high - low;
        high = low + range * hi / total;
        low = low + range * lo / total;
        const Renormalisation r = renormalise(&low, &high);
        const uint32_t s = r.settled;
        if (pending + s <= 56 || s == 0) [[likely]] {
            /* The first settled bit b, the pending bits (each 1 - b), the
             * other settled bits: one piece, made without branches. b then
             * the pending bits are 1 0...0 or 0 1...1, 2^pending - 1 + b, so
             * the piece is the settled bits plus 2^pending - 1 above the
             * first. When nothing is settled, nothing goes out (all masked
             * off) and the straddled steps add to the pending bits. */
            const uint64_t some = s ? ~uint64_t(0) : 0;
            const uint64_t piece = ((((uint64_t(1) << (pending & 63)) - 1) << s >> 1) + r.settled_bits) & some;
            put_bits(piece, uint32_t((pending + s) & some));
            pending = r.straddled + uint32_t(pending & ~some);
            return;
        }
        put_bit_with_pending(r.settled_bits >> (s - 1));
        put_bits(r.settled_bits & ((1u << (s - 1)) - 1), s - 1);
        pending = r.straddled;
    }

    void finish()
    {
        ++pending;
        put_bit_with_pending(low < kQ1 ? 0 : 1);
        put_bits(0, 7); /* what is left of the last byte is not stored */
        stage_used = drain(sink, stage, stage_used);
    }
};

/* A match: its length (0 for none) and distance. */
struct Match {
    uint32_t length = 0, distance = 0;
};

struct Encoder {
    Sink sink;
    uint8_t stage[kStage + 8];
    SymbolModel model;

    /* text and match finder */
    LzariSource input;
    size_t input_size = 0; /* taken from input in order: the text is filled front to back */
    uint32_t base = 0;
    uint32_t heads[kHeadsSize];
    uint32_t* const head[kLevels] = {heads + head_offset(0), heads + head_offset(1), heads + head_offset(2)};
    uint32_t prev[kLevels][kWindow];
    uint8_t text[kTextSize];

    [[gnu::always_inline]] void encode_code(Coder& coder, uint32_t code)
    {
        const uint32_t k = model.rank_of[code];
        uint32_t lo, hi;
        model.slice(k, &lo, &hi);
        coder.code_slice(lo, hi, model.total);
        model.update(k);
    }

    static void encode_distance(Coder& coder, uint32_t d)
    {
        coder.code_slice(kDistances.dcum[d], kDistances.dcum[d - 1], kDistanceTotal);
    }

    /* ---- text ---- */

    /* Writes T[from .. to) into the buffer (from >= base). */
    void fill_text(uint32_t from, uint32_t to)
    {
        uint8_t* dst = text + (from - base);
        uint32_t u = from;
        if (u < kFirstWrite) {
            const uint32_t end = std::min(to, kFirstWrite);
            std::memset(dst, kFillByte, end - u);
            dst += end - u;
            u = end;
        }
        if (u < to && u - kFirstWrite < input_size) {
            const size_t i = u - kFirstWrite; /* the input's first i bytes are taken */
            const size_t n = std::min<size_t>(to - u, input_size - i);
            input.read(input.context, dst, n);
            dst += n;
            u += uint32_t(n);
        }
        if (u < to) std::memset(dst, 0, to - u);
    }

    /* Makes T[r - 4096 .. r + kAhead) present. */
    void slide_text_to(uint32_t r)
    {
        if (r + kAhead <= base + kTextSize) return;
        const uint32_t new_base = r - kWindow;
        const uint32_t kept = base + kTextSize - new_base;
        std::memmove(text, text + (new_base - base), kept);
        base = new_base;
        fill_text(base + kept, base + kTextSize);
    }

    const uint8_t* at(uint32_t u) const { return text + (u - base); }

    /* ---- match finder ---- */

    /* Level 0 takes every position as it passes; the longer levels are
     * brought up to date only when a search needs them (filled[l]: the
     * first position not yet in level l), which costs nothing on input that
     * never needs them and at most one insertion per position otherwise:
     * positions that have left the window are never inserted. */
    uint32_t filled[kLevels] = {};
    uint32_t needed[kLevels] = {}; /* the last position whose walk weighed level l's chains */

    void insert(uint32_t u) { insert(u, hash_of<0>(at(u))); }
    void insert(uint32_t u, uint32_t h)
    {
        static_assert(head_offset(0) == 0);
        prev[0][u & (kWindow - 1)] = heads[h]; /* head[0][h], without reading the pointer back */
        heads[h] = u;
    }

    template <uint32_t kLevel>
    void fill_level(uint32_t from, uint32_t to)
    {
        for (uint32_t u = from; u < to;) {
            /* Inside a run the positions link one to the next (see insert_range). */
            constexpr uint32_t k = kLevelLength[kLevel];
            const uint8_t* p = at(u);
            /* A run that gives 8 such positions starts with k + 8 equal
             * bytes at u - 1; testing (the whole words of) those first keeps
             * the branch predictable on input of few byte values. */
            const uint32_t n = u > from && one_value<(k + 8) / 8 * 8>(p - 1) ? run_positions(u, to - u, k) : 0;
            if (n >= 8) {
                link_run(kLevel, u, n, hash_of<kLevel>(p));
                u += n;
                continue;
            }
            const uint32_t h = hash_of<kLevel>(p);
            prev[kLevel][u & (kWindow - 1)] = head[kLevel][h];
            head[kLevel][h] = u;
            ++u;
        }
    }
    template <uint32_t... I>
    void fill_level_at(uint32_t level, uint32_t from, uint32_t to, std::integer_sequence<uint32_t, I...>)
    {
        ((level == I ? fill_level<I>(from, to) : void()), ...);
    }
    /* Makes level hold every position from first to r - 1. */
    void bring_up(uint32_t level, uint32_t first, uint32_t r)
    {
        if (level == 0 || filled[level] >= r) return; /* level 0 is always full */
        fill_level_at(level, std::max(filled[level], first), r, std::make_integer_sequence<uint32_t, kLevels>{});
        filled[level] = r;
    }

    /* How many of the positions u .. u + n - 1 have the same first k bytes
     * as the position before them: those inside the run of the byte at u - 1
     * (T[u + n + k] must be present). */
    uint32_t run_positions(uint32_t u, uint32_t n, uint32_t k) const
    {
        const uint8_t* p = at(u - 1);
        const uint64_t v = uint64_t(*p) * 0x0101010101010101ull;
        const uint32_t limit = n + k; /* bytes from u - 1 that matter */
        uint32_t run = 0;
        while (run < limit) {
            const uint64_t x = load_u64le(p + run) ^ v;
            if (x) {
                run += uint32_t(std::countr_zero(x)) / 8;
                break;
            }
            run += 8;
        }
        run = std::min(run, limit);
        return run > k ? std::min(n, run - k) : 0;
    }

    /* link[i] = first + i for i < n. */
    static void link_one_to_next(uint32_t* link, uint32_t first, uint32_t n)
    {
        uint32_t i = 0;
#if PS2_LZARI_SSE2
        __m128i v = _mm_add_epi32(_mm_set1_epi32(int32_t(first)), _mm_setr_epi32(0, 1, 2, 3));
        for (; i + 4 <= n; i += 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(link + i), v);
            v = _mm_add_epi32(v, _mm_set1_epi32(4));
        }
#endif
        for (; i < n; ++i) link[i] = first + i;
    }

    /* Positions u .. u + n - 1, each with the first bytes of the one before
     * it (bucket h), into level: each links to the one before. */
    void link_run(uint32_t level, uint32_t u, uint32_t n, uint32_t h)
    {
        /* The slots of u .. u + n - 1, in at most two stretches (the ring wraps). */
        const uint32_t s = u & (kWindow - 1);
        const uint32_t n1 = std::min(n, kWindow - s);
        link_one_to_next(prev[level] + s, u - 1, n1);
        link_one_to_next(prev[level], u - 1 + n1, n - n1);
        head[level][h] = u + n - 1;
    }

    /* Inserts positions u .. u + n - 1 (n <= 60) into level 0. Inside a run
     * of one byte value a position's first bytes are those of the one before
     * it, so there the chain links the positions one to the next. */
    void insert_range(uint32_t u, uint32_t n)
    {
        const uint32_t m = n >= 8 && u > kFirstCandidate ? run_positions(u, n, kLevelLength[0]) : 0;
        uint32_t i = 0;
        if (m >= 8) {
            link_run(0, u, m, hash_of<0>(at(u)));
            i = m;
        }
        for (; i < n; ++i) insert(u + i);
    }

    /* About how many positions of the window the chain from c holds: its
     * first few links tell how densely it covers the distance to first. */
    uint32_t chain_estimate(uint32_t level, uint32_t c, uint32_t first) const
    {
        constexpr uint32_t kProbe = 4;
        const uint32_t c0 = c;
        for (uint32_t i = 0; i < kProbe; ++i) {
            if (c < first) return i;
            c = prev[level][c & (kWindow - 1)];
        }
        if (c < first) return kProbe;
        return kProbe * (c0 - first) / (c0 - c);
    }

    /* ---- runs of one byte value ----
     *
     * Where r starts with k bytes of one value v followed by another byte x
     * (k from kMinRun to 59), every candidate of k or more bytes starts k
     * bytes before the end e of a run of v at least k long (or lies in r's
     * own run, where r - 1 is nearest and agrees in exactly k bytes), and it
     * agrees in k bytes plus those in which T[e..] and T[r + k..] agree.
     * So the match is found among r - 1, the newest run at least k long, and
     * the runs whose next byte is x, without walking the dense chains of the
     * run's bytes. Runs of kMinRun bytes or more are noted as they end. */
    static constexpr uint32_t kMinRun = 8;
    static constexpr uint32_t kMarkerBits = 12;
    struct RunEnd {
        uint32_t start;      /* the run is T[start .. end) */
        uint32_t older;      /* the run before it with the same value and next byte */
    };
    RunEnd run_ends[kWindow];                       /* by end modulo 4,096 */
    uint32_t by_marker[1u << kMarkerBits];          /* newest run end per hash of value and next byte */
    /* Where too many runs ended with the same value and next byte lately
     * (sparse bytes in zeros), the chains serve such positions for a while
     * without a look at the runs first. */
    static constexpr uint32_t kCrowdedFor = 512;
    uint32_t crowded_until[1u << kMarkerBits];
    uint32_t newest_run[256][kLongest + 1];         /* newest end of a run of v at least n long */
    uint32_t scanned = 1;                           /* runs ending below this are noted */

    static uint32_t marker_hash(uint32_t v, uint32_t x) { return ((v << 8 | x) * 2654435761u) >> (32 - kMarkerBits); }

    /* Notes the run of v that ends at end (T[end] != v), kMinRun or more
     * bytes long. Its start is looked for at most 64 bytes back: a run's
     * length counts only up to 60, and the buffer begins at base, which is
     * more than 60 bytes before any run end that a later position's window
     * still holds. */
    void note_run(uint32_t end)
    {
        const uint8_t* const t = at(end);
        const uint8_t v = t[-1];
        const uint32_t lowest = std::max(base, end - 64);
        const uint64_t all_v = uint64_t(v) * 0x0101010101010101ull;
        uint32_t start = end - kMinRun;
        while (start >= lowest + 8 && load_u64le(at(start - 8)) == all_v) start -= 8;
        while (start > lowest && *at(start - 1) == v) --start;
        const uint32_t n = std::min(end - start, kLongest);
        for (uint32_t l = kMinRun; l <= n; ++l) newest_run[v][l] = end;
        RunEnd& re = run_ends[end & (kWindow - 1)];
        uint32_t& head_of_marker = by_marker[marker_hash(v, t[0])];
        re.start = start;
        re.older = head_of_marker;
        head_of_marker = end;
    }

    /* Whether a run of kMinRun or more ends at u: T[u - 8 .. u) of one value, T[u] another. */
    bool run_ends_at(uint32_t u) const
    {
        const uint8_t* t = at(u);
        return u >= base + kMinRun && t[0] != t[-1] && one_value<8>(t - 8);
    }

    /* Notes the runs that end below to. Positions before base + 9 are
     * passed over: no run that ends there is ever a candidate. */
    void scan_runs_to(uint32_t to)
    {
        static_assert(kMinRun == 8);
        uint32_t u = std::max(scanned, base + kMinRun + 1);
#if PS2_LZARI_SSE2
        /* 16 positions at a time. Bit i of same: T[u - 8 + i] equals the
         * byte before it. A run of 8 or more ends at u - 8 + i where bits
         * i - 7 .. i - 1 are set and bit i is clear. Runs that long are
         * rare on most input, so most blocks are passed at once. */
        for (; u + 16 <= to; u += 16) {
            const uint8_t* t = at(u);
            const auto eq = [](const uint8_t* p) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1));
                return uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
            };
            const uint32_t same = eq(t - 8) | eq(t + 8) << 16;
            uint32_t ones = same & same << 1; /* bits i - 1 .. i */
            ones &= ones << 2;                /* i - 3 .. i */
            ones &= ones << 3;                /* i - 6 .. i */
            for (uint32_t ends = (ones << 1) & ~same & 0xFFFF00u; ends; ends &= ends - 1)
                note_run(u - 8 + uint32_t(std::countr_zero(ends)));
        }
#endif
        for (; u < to; ++u)
            if (run_ends_at(u)) note_run(u);
        scanned = std::max(u, scanned);
    }

    /* The match for r from the runs (see above), or false when r does not
     * start with such a run, no candidate of k bytes is left in the window,
     * or too many runs end in the same byte (the chains then serve). */
    bool find_in_runs(uint32_t r, uint32_t first, uint32_t* length, uint32_t* distance)
    {
        const uint8_t* pr = at(r);
        const uint8_t v = pr[0];
        const uint64_t all_v = uint64_t(v) * 0x0101010101010101ull;
        static_assert(kMinRun == 8);
        if (load_u64le(pr) != all_v) return false; /* fewer than kMinRun */
        uint32_t k = 0;
        while (k < kLongest) {
            const uint64_t x = load_u64le(pr + k) ^ all_v;
            if (x) {
                k += uint32_t(std::countr_zero(x)) / 8;
                break;
            }
            k += 8;
        }
        if (k < kMinRun || k >= kLongest) return false;
        scan_runs_to(r);
        uint32_t best = 0, best_q = 0;
        auto consider = [&](uint32_t e) {
            const uint32_t len = std::min(k + match_length(at(e), pr + k), kLongest);
            const uint32_t q = e - k;
            if (len > best || (len == best && q > best_q)) {
                best = len;
                best_q = q;
            }
        };
        if (pr[-1] == v) {
            best = k;
            best_q = r - 1;
        }
        const uint32_t newest = newest_run[v][k];
        if (newest >= first + k && newest <= r) consider(newest);
        const uint32_t marker = marker_hash(v, pr[k]);
        if (crowded_until[marker] > r) return false;
        uint32_t walked = 0;
        for (uint32_t e = by_marker[marker]; e >= first + k && e <= r;) {
            if (++walked > 8) {
                crowded_until[marker] = r + kCrowdedFor;
                return false;
            }
            const RunEnd& re = run_ends[e & (kWindow - 1)];
            if (e - re.start >= k && at(e)[-1] == v && at(e)[0] == pr[k]) consider(e);
            e = re.older;
        }
        if (best == 0) return false;
        *length = best;
        *distance = r - best_q;
        return true;
    }

    /* The oldest candidate for r. */
    static uint32_t window_start(uint32_t r) { return r - kMaxDistance > kFirstCandidate ? r - kMaxDistance : kFirstCandidate; }

    /* Longest match for r (length 0 when none reaches 3 bytes), the nearest
     * of that length. bucket: level 0's hash of r's first bytes, whose chain
     * (the caller has seen) has a position in the window. */
    [[gnu::noinline]] Match find_match(uint32_t r, uint32_t bucket)
    {
        /* Steps along one chain after which the others are looked at, and
         * the length of what is left of a chain that is short enough. */
        constexpr uint32_t kPatience = 16;
        constexpr uint32_t kShort = 64;
        const uint8_t* const pr = at(r);
        const uint32_t first = window_start(r);
        uint32_t c = head[0][bucket];
        if (Match m; find_in_runs(r, first, &m.length, &m.distance)) return m;
        uint32_t best = kThreshold; /* a candidate must beat this */
        Prefix need(best + 1);      /* the bytes in which it must agree */
        uint32_t best_q = 0;
        uint32_t level = 0, offset = 0;        /* the chain walked: level's bytes at q + offset */
        uint32_t wanted_level = 0, wanted = 0, wanted_bucket = bucket; /* the chain to move to once allowed */
        uint32_t bound = r;                    /* every candidate from bound on has been looked at */
        uint32_t patience = kPatience;
        uint32_t weighed = 0; /* the best for which the chains were last weighed: the same choice again */
        /* Where the chain of the first 3 bytes is dense and the walks have
         * needed the longer levels lately, start from the newest candidate
         * that agrees in 16 (else 8) bytes, found in the chain of those
         * bytes: every newer one agrees in fewer, so it cannot be the match,
         * and the walk goes on from there to older ones. */
        static_assert(kLevels == 3);
        if ((needed[1] + kWindow >= r || needed[2] + kWindow >= r) && chain_estimate(0, c, first) > kShort)
            for (uint32_t l = kLevels - 1; l > 0; --l) {
                if (needed[l] + kWindow < r) continue; /* a level the walks have not needed lately */
                bring_up(l, first, r);
                const uint32_t b = level_hash(l, pr);
                uint32_t q = head[l][b];
                for (uint32_t looked = 0; q >= first && looked < 4; ++looked, q = prev[l][q & (kWindow - 1)])
                    if (const uint32_t len = match_length(at(q), pr); len >= kLevelLength[l]) {
                        if (len == kLongest) {
                            return {len, r - q};
                        }
                        best = len;
                        need = Prefix(best + 1);
                        best_q = bound = q;
                        level = wanted_level = l;
                        bucket = wanted_bucket = b;
                        patience = 1; /* weigh the chains at the next candidate */
                        c = q;
                        goto walk;
                    }
            }
    walk:
        while (c >= first + offset) {
            const uint32_t q = c - offset;
            if (q < bound) {
                /* Candidates q' <= q are left; their q' + wanted lie in chains already. */
                if ((wanted_bucket != bucket || wanted_level != level) && r - 1 - q >= wanted) {
                    offset = wanted;
                    level = wanted_level;
                    bucket = wanted_bucket;
                    bound = q + 1;
                    patience = kPatience;
                    c = head[level][bucket];
                    continue;
                }
                const uint8_t* pq = at(q);
                if (agrees_in(pq, pr, need)) [[unlikely]] {
                    const uint32_t len = match_length(pq, pr);
                    best = len;
                    need = Prefix(best + 1);
                    best_q = q;
                    if (len == kLongest) break;
                    bound = q;
                    /* Deep into a long walk, weigh the chains again at once. */
                    if (r - q > kPatience * 8) patience = 1;
                    /* Unless a long walk says otherwise (below): level 0's
                     * bytes ending at the one that must match next, except
                     * when those are one value repeated and these are not
                     * (inside runs, such chains are dense). */
                    const uint8_t* w = pr + len - 2;
                    const uint8_t* o = pr + offset;
                    if (level == 0 && (w[0] != w[1] || w[1] != w[2] || (o[0] == o[1] && o[1] == o[2]))) {
                        wanted_level = 0;
                        wanted = len - 2;
                        wanted_bucket = hash_of<0>(w);
                    }
                }
                if (--patience == 0) patience = kPatience;
                if (patience == kPatience && best > kThreshold && best != weighed) {
                    /* A long chain. Of those a better candidate must be in
                     * (per level that fits in the best + 1 bytes it shares,
                     * the bytes at its start or those ending at the byte to
                     * match next), take the one that seems to hold the fewest
                     * positions from its head to the window's start, unless
                     * this one seems to hold fewer from here on. */
                    weighed = best;
                    uint32_t fewest = chain_estimate(level, prev[level][c & (kWindow - 1)], first + offset);
                    wanted_level = level;
                    wanted = offset;
                    wanted_bucket = bucket;
                    for (uint32_t l = 0; l < kLevels && kLevelLength[l] <= best + 1 && fewest > kShort; ++l) {
                        for (const uint32_t o : {0u, best + 1 - kLevelLength[l]}) {
                            /* Bytes of one value: as dense as the run they lie in at every level. */
                            if (l > 0 && run_positions(r + o + 1, 1, kLevelLength[l] - 1) == 1) continue;
                            bring_up(l, first, r);
                            needed[l] = r;
                            const uint32_t b = level_hash(l, pr + o);
                            if (l == level && b == bucket) continue; /* this very chain */
                            const uint32_t n = chain_estimate(l, head[l][b], first + o);
                            if (n < fewest) {
                                fewest = n;
                                wanted_level = l;
                                wanted = o;
                                wanted_bucket = b;
                            }
                        }
                    }
                }
            }
            c = prev[level][c & (kWindow - 1)];
        }
        if (best <= kThreshold) return {};
        return {best, r - best_q};
    }

    /* ---- whole run ---- */

    void run()
    {
        model.reset();
        std::fill(std::begin(heads), std::end(heads), kNone);
        std::fill(std::begin(by_marker), std::end(by_marker), kNone);
        std::fill(std::begin(crowded_until), std::end(crowded_until), 0);
        for (auto& n : newest_run) std::fill(std::begin(n), std::end(n), kNone);
        base = 0;
        fill_text(0, kTextSize);
        for (uint32_t u = kFirstCandidate; u < kFirstWrite; ++u) insert(u);

        Coder coder(stage, &sink);
        const uint32_t end = kFirstWrite + uint32_t(input_size); /* the position after the input */
        uint32_t r = kFirstWrite;
        while (r < end && !sink.overflow) {
            slide_text_to(r);
            /* Up to here the text holds what a step reads. */
            const uint32_t stop = std::min(end, base + kTextSize - kAhead + 1);
            while (r < stop) {
                const uint32_t bucket = hash_of<0>(at(r));
                /* Every candidate of 3 bytes or more is in r's chain of 3
                 * bytes, newest first: on input with few matches the window
                 * mostly has none, and the search is not called. */
                Match m{};
                if (heads[bucket] >= window_start(r)) m = find_match(r, bucket);
                const uint32_t len = std::min(m.length, end - r);
                if (len <= kThreshold) {
                    encode_code(coder, *at(r));
                    insert(r, bucket);
                    ++r;
                } else {
                    encode_code(coder, len + kLengthBase);
                    encode_distance(coder, m.distance);
                    insert_range(r, len);
                    r += len;
                }
            }
        }
        if (!sink.overflow) coder.finish();
    }
};

} // namespace

LzariError lzari_encode(const LzariSource& input, std::span<uint8_t> output, size_t* stored)
{
    *stored = 0;
    /* Positions are 32-bit; far beyond anything a MAX archive holds. */
    if (input.size > (size_t(1) << 31)) return LzariError::input_too_large;
    std::unique_ptr<Encoder> enc(new (std::nothrow) Encoder);
    if (!enc) return LzariError::no_memory;
    enc->input = input;
    enc->input_size = input.size;
    enc->sink.out = output.data();
    enc->sink.capacity = output.size();
    enc->run();
    *stored = enc->sink.pos;
    return enc->sink.overflow ? LzariError::output_full : LzariError::ok;
}

LzariError lzari_encode(std::span<const uint8_t> input, std::span<uint8_t> output, size_t* stored)
{
    const uint8_t* next = input.data();
    const LzariSource source{input.size(), &next, [](void* context, uint8_t* dst, size_t n) {
                                 const uint8_t*& p = *static_cast<const uint8_t**>(context);
                                 std::memcpy(dst, p, n);
                                 p += n;
                             }};
    return lzari_encode(source, output, stored);
}

} // namespace ps2
