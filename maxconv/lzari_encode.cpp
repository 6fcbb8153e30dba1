/* lzari_encode.cpp -- the LZARI encoder: hash-chain match finder, adaptive arithmetic coder */
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "maxconv/lzari.h"
#include "maxconv/lzari_model.h"

uint64_t g_lzari_steps = 0;
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
 * their first three bytes, newest first. Shorter candidates never matter, so
 * the chain of the first three bytes holds every candidate. Once a match of
 * length L from position q is known, only candidates q' < q that agree in
 * L + 1 bytes can replace it; each of those also agrees in the three bytes
 * at any offset o <= L - 2, so the walk may go on along the chain of the
 * three bytes at offset o (position q' + o) as soon as every candidate left
 * has q' + o < r (so that position is in a chain already). The walk moves to
 * offset L - 2, whose three bytes end at the byte that must match next, and
 * whose chain is usually far shorter. Candidates are still met newest
 * first, so the result is the same as walking every candidate. Chains end at the first position
 * that has left the window, so nothing is ever unlinked. */
constexpr uint32_t kFirstCandidate = kFirstWrite - kLongest; /* 3,976 */
constexpr uint32_t kNone = 0; /* below every window start, so it ends a chain */

/* The text is kept in a linear buffer that slides forward in large steps, so
 * that comparisons never wrap. It holds T[base .. base + kTextSize). */
constexpr uint32_t kTextChunk = 1u << 15;
constexpr uint32_t kTextSize = kWindow + kTextChunk + 256;
/* Bytes from r on that must be present: the 60-byte lookahead, the last
 * 8-byte compare word and the hash of the last position inserted. */
constexpr uint32_t kAhead = 136;

inline uint64_t load_u64le(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}
inline uint32_t load_u32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

#ifndef PS2_PATIENCE
#define PS2_PATIENCE 32
#endif
#ifndef PS2_LEVELS
#define PS2_LEVELS 3, 8, 16
#endif
constexpr uint32_t kLevelLength[] = {PS2_LEVELS};
constexpr uint32_t kLevels = sizeof kLevelLength / sizeof kLevelLength[0];
/* Hash bits per level: level 0 is looked up at every position, so it gets
 * buckets to spare (few false candidates on input without matches). */
constexpr uint32_t level_bits(uint32_t level) { return level == 0 ? 15 : 12; }
constexpr uint32_t kHeadSize = 1u << level_bits(0);

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

struct Encoder {
    /* coder */
    uint32_t low = 0, high = kQ4, pending = 0;
    uint8_t* out = nullptr;
    size_t capacity = 0, pos = 0;
    bool overflow = false;
    SymbolModel model;

    /* text and match finder */
    const uint8_t* input = nullptr;
    size_t input_size = 0;
    uint32_t base = 0;
    uint32_t head[kLevels][kHeadSize];
    uint32_t prev[kLevels][kWindow];
    uint8_t text[kTextSize];

    /* ---- bit output: most significant bit first, whole bytes stored ---- */

    /* Bytes are made in a stage and copied out in blocks, so that a symbol's
     * bits go out with one 8-byte store and no branch, and nothing is ever
     * written to the output but stream bytes. */
    static constexpr uint32_t kStage = 4096;
    uint64_t bit_acc = 0;       /* bits not yet in whole stage bytes, the newest lowest */
    uint32_t bit_acc_count = 0; /* how many (below 8 between calls) */
    uint32_t stage_used = 0;    /* whole bytes in the stage */
    uint8_t stage[kStage + 8];

    /* Copies the stage's whole bytes out; what does not fit is dropped. */
    void drain()
    {
        const size_t room = capacity - pos;
        const size_t n = stage_used < room ? stage_used : room;
        if (n) std::memcpy(out + pos, stage, n);
        pos += n;
        if (n < stage_used) overflow = true;
        /* The byte being filled moves to the front. */
        stage[0] = stage[stage_used];
        stage_used = 0;
    }

    void put_bits(uint64_t bits, uint32_t n) /* n <= 56 */
    {
        bit_acc = (bit_acc << n) | bits;
        bit_acc_count += n;
        const uint64_t top = (bit_acc << 1) << (63 - bit_acc_count); /* the bits held, first highest */
        const uint64_t be = std::endian::native == std::endian::little ? __builtin_bswap64(top) : top;
        std::memcpy(stage + stage_used, &be, 8);
        stage_used += bit_acc_count >> 3;
        bit_acc_count &= 7;
        if (stage_used >= kStage) drain();
    }
    void put_repeated(uint32_t bit, uint32_t n)
    {
        for (; n >= 32; n -= 32) put_bits(bit ? 0xFFFFFFFFu : 0, 32);
        put_bits(bit ? (1u << n) - 1 : 0, n);
    }
    /* A bit, then the pending bits, each the opposite of it. */
    void put_bit_with_pending(uint32_t bit)
    {
        put_bits(bit, 1);
        put_repeated(bit ^ 1, pending);
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
             * the pending bits are 1 0...0 or 0 1...1: 2^pending - 1 + b. */
            const uint32_t rest = s ? s - 1 : 0;
            const uint64_t lead = (uint64_t(1) << (pending & 63)) - 1 + (r.settled_bits >> rest);
            const uint64_t piece = (lead << rest) | (r.settled_bits & ((1u << rest) - 1));
            put_bits(s ? piece : 0, s ? pending + s : 0);
            pending = s ? r.straddled : pending + r.straddled;
            return;
        }
        put_bit_with_pending(r.settled_bits >> (s - 1));
        put_bits(r.settled_bits & ((1u << (s - 1)) - 1), s - 1);
        pending = r.straddled;
    }

    void encode_code(uint32_t code)
    {
        const uint32_t k = model.rank_of[code];
        uint32_t lo, hi;
        model.slice(k, &lo, &hi);
        code_slice(lo, hi, model.total);
        model.update(k);
    }

    void encode_distance(uint32_t d) { code_slice(kDistances.dcum[d], kDistances.dcum[d - 1], kDistanceTotal); }

    void finish()
    {
        ++pending;
        put_bit_with_pending(low < kQ1 ? 0 : 1);
        put_bits(0, 7); /* what is left of the last byte is not stored */
        drain();
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
            const size_t i = u - kFirstWrite;
            const size_t n = std::min<size_t>(to - u, input_size - i);
            std::memcpy(dst, input + i, n);
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

    void insert(uint32_t u)
    {
        const uint32_t h = hash_of<0>(at(u));
        prev[0][u & (kWindow - 1)] = head[0][h];
        head[0][h] = u;
    }

    template <uint32_t kLevel>
    void fill_level(uint32_t from, uint32_t to)
    {
        for (uint32_t u = from; u < to;) {
            /* Inside a run the positions link one to the next (see insert_range). */
            const uint32_t n = u > from ? run_positions(u, to - u, kLevelLength[kLevel]) : 0;
            if (n >= 8) {
                link_run(kLevel, u, n, hash_of<kLevel>(at(u)));
                u += n;
                continue;
            }
            const uint32_t h = hash_of<kLevel>(at(u));
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

    /* How many of the positions u .. u + n - 1 (n <= 60) have the same
     * first k bytes as the position before them: those inside the run of
     * the byte at u - 1. */
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
        const uint32_t m = u > kFirstCandidate ? run_positions(u, n, kLevelLength[0]) : 0;
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

    uint64_t steps = 0;

    /* Longest match for r (0 when none reaches 3 bytes); *distance of the nearest of that length. */
    uint32_t find_match(uint32_t r, uint32_t* distance)
    {
        /* Steps along one chain after which the others are looked at, and
         * the length of what is left of a chain that is short enough. */
        constexpr uint32_t kPatience = PS2_PATIENCE;
        constexpr uint32_t kShort = 16;
        const uint8_t* const pr = at(r);
        const uint32_t first = r - kMaxDistance > kFirstCandidate ? r - kMaxDistance : kFirstCandidate;
        uint32_t best = kThreshold; /* a candidate must beat this */
        uint32_t best_q = 0;
        uint32_t level = 0, offset = 0;        /* the chain walked: level's bytes at q + offset */
        uint32_t bucket = hash_of<0>(pr);
        uint32_t wanted_level = 0, wanted = 0, wanted_bucket = bucket; /* the chain to move to once allowed */
        uint32_t bound = r;                    /* every candidate from bound on has been looked at */
        uint32_t patience = kPatience;
        uint32_t weighed = 0; /* the best for which the chains were last weighed: the same choice again */
        uint32_t c = head[0][bucket];
        while (c >= first + offset) {
            ++steps;
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
                if (pq[best] == pr[best]) {
                    const uint32_t len = match_length(pq, pr);
                    if (len > best) {
                        best = len;
                        best_q = q;
                        if (len == kLongest) break;
                        bound = q;
                        /* Unless a long walk says otherwise (below): level 0's
                         * bytes ending at the one that must match next. */
                        if (level == 0) {
                            wanted_level = 0;
                            wanted = len - 2;
                            wanted_bucket = hash_of<0>(pr + wanted);
                        }
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
                        bring_up(l, first, r);
                        for (const uint32_t o : {0u, best + 1 - kLevelLength[l]}) {
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
        if (best <= kThreshold) return 0;
        *distance = r - best_q;
        return best;
    }

    /* ---- whole run ---- */

    void run()
    {
        model.reset();
        for (uint32_t l = 0; l < kLevels; ++l) std::fill_n(head[l], 1u << level_bits(l), kNone);
        base = 0;
        fill_text(0, kTextSize);
        for (uint32_t u = kFirstCandidate; u < kFirstWrite; ++u) insert(u);

        uint32_t r = kFirstWrite;
        size_t coded = 0;
        while (coded < input_size && !overflow) {
            slide_text_to(r);
            uint32_t distance = 0;
            uint32_t len = find_match(r, &distance);
            if (len > input_size - coded) len = uint32_t(input_size - coded);
            if (len <= kThreshold) {
                encode_code(*at(r));
                len = 1;
            } else {
                encode_code(len + kLengthBase);
                encode_distance(distance);
            }
            coded += len;
            insert_range(r, len);
            r += len;
        }
        g_lzari_steps += steps;
        if (!overflow) finish();
    }
};

} // namespace

LzariError lzari_encode(std::span<const uint8_t> input, std::span<uint8_t> output, size_t* stored)
{
    *stored = 0;
    /* Positions are 32-bit; far beyond anything a MAX archive holds. */
    if (input.size() > (size_t(1) << 31)) return LzariError::input_too_large;
    std::unique_ptr<Encoder> enc(new (std::nothrow) Encoder);
    if (!enc) return LzariError::no_memory;
    enc->input = input.data();
    enc->input_size = input.size();
    enc->out = output.data();
    enc->capacity = output.size();
    enc->run();
    *stored = enc->pos;
    return enc->overflow ? LzariError::output_full : LzariError::ok;
}

} // namespace ps2
