/* lzari_model.h -- what the LZARI encoder and decoder share: coding constants, the adaptive symbol model, the distance table */
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

/* SSE2 is part of every x86-64 processor: the only vector set the codec takes for granted. */
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define PS2_LZARI_SSE2 1
#else
#define PS2_LZARI_SSE2 0
#endif

namespace ps2::lzari {

inline constexpr uint32_t kWindow = 4096;
inline constexpr uint32_t kLongest = 60;                   /* lookahead and longest match */
inline constexpr uint32_t kThreshold = 2;                  /* matches this short go as literals */
inline constexpr uint32_t kFirstWrite = kWindow - kLongest; /* 4,036: where the first input byte lands */
inline constexpr uint8_t kFillByte = 0x20;
inline constexpr uint32_t kMaxDistance = kFirstWrite;      /* distances the encoder sends: 1 to 4,036 */

inline constexpr uint32_t kSymbols = 256 + kLongest - kThreshold; /* 314: bytes, then lengths 3..60 */
inline constexpr uint32_t kLengthBase = 253;                      /* code of a match = length + 253 */

/* The coding range: 17-bit registers and its quarters. */
inline constexpr uint32_t kQ1 = 0x8000;
inline constexpr uint32_t kQ2 = 0x10000;
inline constexpr uint32_t kQ3 = 0x18000;
inline constexpr uint32_t kQ4 = 0x20000;
inline constexpr uint32_t kRescaleLimit = 32767;

/* Renormalisation after the range [low, high) has been narrowed, done for
 * all steps at once. Step by step it is: while the top bits (Q2) of low and
 * high - 1 agree, that bit is settled (sent, or consumed by the decoder) and
 * both registers are doubled; then, while low >= Q1 and high <= Q3 (the
 * range straddles the middle closely), Q1 is taken off both and they are
 * doubled, one more "pending" bit. The first phase lasts for the leading
 * equal bits of low and high - 1, the second for the following bit pairs
 * where low has 1 and high - 1 has 0. The decoder tests the cases in another
 * order (it takes off Q1 instead of doubling when both lie in [Q1, Q2)),
 * which only moves a subtraction of Q2 one step earlier: it ends in the same
 * registers after the same number of steps. */
struct Renormalisation {
    uint32_t settled;       /* number of settled bits */
    uint32_t settled_bits;  /* their values, first bit highest */
    uint32_t straddled;     /* number of middle steps */
};

inline Renormalisation renormalise(uint32_t* low, uint32_t* high)
{
    const uint64_t l = *low, h = *high - 1; /* 17-bit registers, l <= h */
    Renormalisation r;
    /* The leading bits in which l and h agree; a bit below the 17 stops the count. */
    r.settled = uint32_t(std::countl_zero(((l ^ h) << 47) | (uint64_t(1) << 46)));
    r.settled_bits = uint32_t(l >> (17 - r.settled));
    /* Past them l has 0 and h has 1 (l < Q2 <= h once they are shifted out):
     * count the bits from the next one down where l has 1 and h has 0. */
    r.straddled = uint32_t(std::countl_one(((l & ~h) << 48) << r.settled));
    /* Every step doubles both; low takes in 0s, high 1s; the middle steps
     * take Q1 off, which leaves l below Q2 and h at or above it. */
    const uint32_t n = r.settled + r.straddled; /* at most 17 */
    *low = uint32_t((l << n) & (kQ2 - 1));
    *high = uint32_t((((h << n) | ((uint64_t(1) << n) - 1)) & (kQ2 - 1)) | kQ2) + 1;
    return r;
}

/* dcum[d] = sum over distances d+1..4096 of 10000 / (distance + 200). A
 * distance d owns [dcum[d], dcum[d-1]); the table never changes. */
struct DistanceTable {
    std::array<uint32_t, kWindow + 1> dcum{};
    constexpr DistanceTable()
    {
        dcum[kWindow] = 0;
        for (uint32_t d = kWindow; d >= 1; --d) dcum[d - 1] = dcum[d] + 10000 / (d + 200);
    }
};
inline constexpr DistanceTable kDistances{};
inline constexpr uint32_t kDistanceTotal = 28568;
static_assert(kDistances.dcum[0] == kDistanceTotal);

/* For the decoder: the distance that owns x is the smallest d with dcum[d]
 * <= x. Every distance weighs at least 2, so the values x of one group of 16
 * (x / 16 alike) are owned by at most 9 neighbouring distances: start[g] is
 * the one owning the group's top value, and the distance owning x is start
 * plus the count of the 8 sums from there that are still above x. The sums
 * are kept in 16 bits (the total is below 32,768), padded for that read. */
struct DistanceSearch {
    static constexpr uint32_t kGroupBits = 4;
    static constexpr uint32_t kGroups = (kDistanceTotal >> kGroupBits) + 1;
    alignas(16) uint16_t dcum[kWindow + 1 + 8]{};
    uint16_t start[kGroups]{};
    constexpr DistanceSearch()
    {
        for (uint32_t d = 0; d <= kWindow; ++d) dcum[d] = uint16_t(kDistances.dcum[d]);
        uint32_t d = kWindow;
        for (uint32_t g = 0; g < kGroups; ++g) {
            const uint32_t top = (g << kGroupBits) | ((1u << kGroupBits) - 1);
            while (d > 1 && kDistances.dcum[d - 1] <= top) --d;
            start[g] = uint16_t(d);
        }
    }
};
inline constexpr DistanceSearch kDistanceSearch{};

/* mask[t]: 24 lanes of 16 bits, all ones in the lanes below t. */
struct LanesBelow {
    alignas(16) uint16_t mask[25][24]{};
    constexpr LanesBelow()
    {
        for (uint32_t t = 0; t < 25; ++t)
            for (uint32_t j = 0; j < t && j < 24; ++j) mask[t][j] = 0xFFFF;
    }
};
inline constexpr LanesBelow kLanesBelow{};

/* The adaptive model of the 314 codes. Ranks 1..314 are kept in order of
 * non-increasing freq. With cum[k] the sum of freq over ranks k+1..314, a
 * code of rank k owns [cum[k], cum[k-1]) of the total cum[0].
 *
 * cum is kept in two levels of 16-bit sums (every sum is at most the total,
 * which never passes 32,767): the ranks fall into 20 blocks of 16, outer[b]
 * is the sum of freq over the blocks after block b, and inner[k] the sum over
 * the ranks after k within k's block, so cum[k] = inner[k] + outer[k / 16].
 * Counting a use of rank i adds 1 to the inner sums before i in its block
 * and to the outer sums of the blocks before it: two fixed-size masked adds.
 * Finding the rank that owns a value is two counts over sorted sums: the
 * blocks whose outer sum is above it, then the ranks of the next block whose
 * inner sum is. With SSE2 (every x86-64) both are a few vector operations;
 * elsewhere plain loops do the same. */
struct SymbolModel {
    static constexpr uint32_t kBlock = 16;
    static constexpr uint32_t kBlocks = (kSymbols + kBlock) / kBlock; /* 20: ranks 0..319 */
    static constexpr uint32_t kOuterSize = 24;                       /* three vectors of 8, the tail zero */

    alignas(16) uint16_t inner[kBlocks * kBlock];
    alignas(16) uint16_t outer[kOuterSize];
    uint16_t freq[kBlocks * kBlock]; /* by rank; rank 0 and ranks past 314 are 0 */
    uint32_t total;                  /* cum[0] */
    uint16_t code_of[kSymbols + 1];
    uint16_t rank_of[kSymbols];
    /* first_rank[f]: the first rank whose freq is f, for every f some rank
     * has (other entries are stale and never read). */
    uint16_t first_rank[kRescaleLimit + 2];

    void reset()
    {
        for (uint32_t k = 0; k < kBlocks * kBlock; ++k) freq[k] = k >= 1 && k <= kSymbols ? 1 : 0;
        code_of[0] = 0;
        for (uint32_t k = 1; k <= kSymbols; ++k) {
            code_of[k] = uint16_t(k - 1);
            rank_of[k - 1] = uint16_t(k);
        }
        rebuild_sums();
    }

    uint32_t cum(uint32_t k) const { return uint32_t(inner[k]) + outer[k / kBlock]; }

    /* The slice [cum[k], cum[k-1]) of the code at rank k. */
    void slice(uint32_t k, uint32_t* lo, uint32_t* hi) const
    {
        *lo = cum(k);
        *hi = *lo + freq[k];
    }

    /* The smallest rank k with cum[k] <= x, and its slice. A value at or
     * above the total (only a damaged stream gives one) finds rank 1. */
    uint32_t find(uint32_t x, uint32_t* lo, uint32_t* hi) const
    {
        if (x >= total) x = total - 1;
        /* The most used code first: on input that one code rules (runs of a byte, long matches) the
         * branch is foreseen, and the processor goes on without waiting for the search. */
        if (const uint32_t top = cum(1); x >= top) {
            *lo = top;
            *hi = total;
            return 1;
        }
        /* cum[k] > x holds for the ranks 0..k-1 exactly: count them. */
        const uint32_t b = count_above(outer, kOuterSize, x);
        const uint32_t base = outer[b];
        const uint32_t k = b * kBlock + count_above(inner + b * kBlock, kBlock, x - base);
        *lo = inner[k] + base;
        *hi = *lo + freq[k];
        return k;
    }

    /* Counts one more use of the code at rank k. The code moves to the first
     * rank of its run of equal freq, so the order stays non-increasing. */
    [[gnu::always_inline]] void update(uint32_t k)
    {
        if (total >= kRescaleLimit) [[unlikely]] halve();
        /* The ranks whose freq equals freq[k] are a run (freq never
         * increases with the rank); its first rank i takes the count. */
        const uint32_t f = freq[k];
        const uint32_t i = first_rank[f];
        /* Exchange the codes of ranks i and k (nothing changes when i == k;
         * done without a branch, which would often go wrong). */
        const uint16_t ci = code_of[i], ck = code_of[k];
        code_of[k] = ci;
        code_of[i] = ck;
        rank_of[ci] = uint16_t(k);
        rank_of[ck] = uint16_t(i);
        /* The run of f now starts one later (or is empty); i ends the run
         * of f + 1, or starts it. freq[0] is 0, below every f + 1. */
        const uint16_t starts = freq[i - 1] != f + 1 ? uint16_t(i) : first_rank[f + 1];
        first_rank[f] = uint16_t(i + 1);
        first_rank[f + 1] = starts;
        ++freq[i];
        ++total;
        add_one_before(i);
    }

    void halve()
    {
        for (uint32_t k = 1; k <= kSymbols; ++k) freq[k] = uint16_t((freq[k] + 1) / 2);
        rebuild_sums();
    }

    void rebuild_sums()
    {
        uint32_t after = 0; /* sum over the blocks after b */
        for (uint32_t b = kBlocks; b-- > 0;) {
            outer[b] = uint16_t(after);
            uint32_t s = 0;
            for (uint32_t k = b * kBlock + kBlock; k-- > b * kBlock;) {
                inner[k] = uint16_t(s);
                s += freq[k];
            }
            after += s;
        }
        for (uint32_t b = kBlocks; b < kOuterSize; ++b) outer[b] = 0;
        total = after;
        for (uint32_t k = kSymbols; k >= 1; --k) first_rank[freq[k]] = uint16_t(k);
    }

private:
    /* How many of the n (a multiple of 8) non-increasing sums from s are above x (x < 32,768). */
    static uint32_t count_above(const uint16_t* s, uint32_t n, uint32_t x)
    {
#if PS2_LZARI_SSE2
        const __m128i v = _mm_set1_epi16(int16_t(x));
        uint32_t mask = 0;
        for (uint32_t j = 0; j < n; j += 16) {
            const __m128i a = _mm_cmpgt_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(s + j)), v);
            const __m128i b = j + 8 < n ? _mm_cmpgt_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(s + j + 8)), v)
                                        : _mm_setzero_si128();
            mask |= uint32_t(_mm_movemask_epi8(_mm_packs_epi16(a, b))) << j;
        }
        /* The sums are sorted, so the lanes above x are the first ones. */
        return uint32_t(std::countr_one(mask));
#else
        uint32_t c = 0;
        while (c < n && s[c] > x) ++c;
        return c;
#endif
    }

    /* inner[j] + 1 for the ranks j before i in i's block, outer[b] + 1 for the blocks b before it. */
    void add_one_before(uint32_t i)
    {
        const uint32_t b = i / kBlock;
#if PS2_LZARI_SSE2
        /* A lane below the bound is all ones in the mask, -1: subtracting it adds 1. */
        const __m128i* mi = reinterpret_cast<const __m128i*>(kLanesBelow.mask[i % kBlock]);
        const __m128i* mb = reinterpret_cast<const __m128i*>(kLanesBelow.mask[b]);
        __m128i* in = reinterpret_cast<__m128i*>(inner + b * kBlock);
        _mm_store_si128(in, _mm_sub_epi16(_mm_load_si128(in), _mm_load_si128(mi)));
        _mm_store_si128(in + 1, _mm_sub_epi16(_mm_load_si128(in + 1), _mm_load_si128(mi + 1)));
        __m128i* out = reinterpret_cast<__m128i*>(outer);
        _mm_store_si128(out, _mm_sub_epi16(_mm_load_si128(out), _mm_load_si128(mb)));
        _mm_store_si128(out + 1, _mm_sub_epi16(_mm_load_si128(out + 1), _mm_load_si128(mb + 1)));
        _mm_store_si128(out + 2, _mm_sub_epi16(_mm_load_si128(out + 2), _mm_load_si128(mb + 2)));
#else
        for (uint32_t j = b * kBlock; j < i; ++j) ++inner[j];
        for (uint32_t c = 0; c < b; ++c) ++outer[c];
#endif
    }
};

} // namespace ps2::lzari
