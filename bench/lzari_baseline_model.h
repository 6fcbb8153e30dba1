/* lzari_baseline_model.h -- a frozen copy of the LZARI model as it stood before it was reworked: the baseline of
 * maxconv_bench. Kept unchanged on purpose; the codec in maxconv/ is what ships. */
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace ps2::lzari_baseline {

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
    uint32_t l = *low, h = *high - 1; /* 17-bit registers, l <= h */
    Renormalisation r;
    const uint32_t differ = (l ^ h) << 15;
    r.settled = differ ? uint32_t(std::countl_zero(differ)) : 17;
    r.settled_bits = l >> (17 - r.settled);
    if (r.settled) {
        l = (l << r.settled) & (kQ4 - 1);
        h = ((h << r.settled) | ((1u << r.settled) - 1)) & (kQ4 - 1);
    }
    /* Now l < Q2 <= h: count the bits below the top where l has 1 and h has 0. */
    r.straddled = uint32_t(std::countl_one((l & ~h) << 16));
    if (r.straddled) {
        l = (l << r.straddled) & (kQ2 - 1);
        h = ((h << r.straddled) & (kQ2 - 1)) | kQ2 | ((1u << r.straddled) - 1);
    }
    *low = l;
    *high = h + 1;
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
static_assert(kDistances.dcum[0] == 28568);

/* The adaptive model of the 314 codes. Ranks 1..314 are kept in order of
 * non-increasing freq. With cum[k] the sum of freq over ranks k+1..314, a
 * code of rank k owns [cum[k], cum[k-1]) of the total cum[0]. The sums are
 * kept in a Fenwick tree over the ranks, so that counting a use, finding a
 * code's slice and finding the rank that owns a value are all logarithmic. */
struct SymbolModel {
    static constexpr uint32_t kTreeSize = 512; /* a power of two above 314; the rest is padding */

    static constexpr uint32_t kPadding = 1u << 30; /* above any total, and sums never overflow */

    uint32_t freq[kSymbols + 1]; /* by rank; freq[0] is unused */
    uint32_t tree[kTreeSize];    /* Fenwick tree of freq over ranks 1..314, then padding */
    uint32_t total;              /* cum[0] */
    uint16_t code_of[kSymbols + 1];
    uint16_t rank_of[kSymbols];
    /* first_rank[f]: the first rank whose freq is f, for every f some rank
     * has (other entries are stale and never read). */
    uint16_t first_rank[kRescaleLimit + 2];

    void reset()
    {
        code_of[0] = 0;
        freq[0] = 0;
        for (uint32_t k = 1; k <= kSymbols; ++k) {
            code_of[k] = uint16_t(k - 1);
            rank_of[k - 1] = uint16_t(k);
            freq[k] = 1;
        }
        rebuild_tree();
    }

    /* Sum of freq over ranks 1..k. */
    uint32_t prefix(uint32_t k) const
    {
        uint32_t s = 0;
        for (; k; k &= k - 1) s += tree[k];
        return s;
    }

    /* The slice [cum[k], cum[k-1]) of the code at rank k. */
    void slice(uint32_t k, uint32_t* lo, uint32_t* hi) const
    {
        *lo = total - prefix(k);
        *hi = *lo + freq[k];
    }

    /* The smallest rank k with cum[k] <= x, and its slice. */
    uint32_t find(uint32_t x, uint32_t* lo, uint32_t* hi) const
    {
        if (x >= total) {
            slice(1, lo, hi);
            return 1;
        }
        /* The largest pos with prefix(pos) < t; the rank is pos + 1. */
        const uint32_t t = total - x;
        uint32_t pos = 0, below = 0;
        for (uint32_t step = kTreeSize / 2; step; step >>= 1) {
            const uint32_t v = tree[pos + step];
            const bool go = below + v < t;
            pos = go ? pos + step : pos;
            below = go ? below + v : below;
        }
        const uint32_t k = pos + 1;
        *hi = total - below;
        *lo = *hi - freq[k];
        return k;
    }

    /* Counts one more use of the code at rank k. The code moves to the first
     * rank of its run of equal freq, so the order stays non-increasing. */
    void update(uint32_t k)
    {
        if (total >= kRescaleLimit) halve();
        /* The ranks whose freq equals freq[k] are a run (freq never
         * increases with the rank); its first rank i takes the count. */
        const uint32_t f = freq[k];
        const uint32_t i = first_rank[f];
        if (i < k) {
            const uint16_t ci = code_of[i], ck = code_of[k];
            code_of[i] = ck;
            code_of[k] = ci;
            rank_of[ck] = uint16_t(i);
            rank_of[ci] = uint16_t(k);
        }
        /* The run of f now starts one later (or is empty); i ends the run
         * of f + 1, or starts it. */
        first_rank[f] = uint16_t(i + 1);
        if (i == 1 || freq[i - 1] != f + 1) first_rank[f + 1] = uint16_t(i);
        ++freq[i];
        ++total;
        for (uint32_t j = i; j <= kSymbols; j += j & (0u - j)) ++tree[j];
    }

    void halve()
    {
        for (uint32_t k = 1; k <= kSymbols; ++k) freq[k] = (freq[k] + 1) / 2;
        rebuild_tree();
    }

    void rebuild_tree()
    {
        total = 0;
        tree[0] = 0;
        for (uint32_t k = 1; k <= kSymbols; ++k) {
            tree[k] = freq[k];
            total += freq[k];
        }
        for (uint32_t k = kSymbols + 1; k < kTreeSize; ++k) tree[k] = kPadding;
        for (uint32_t k = kSymbols; k >= 1; --k) first_rank[freq[k]] = uint16_t(k);
        for (uint32_t k = 1; k <= kSymbols; ++k) {
            const uint32_t parent = k + (k & (0u - k));
            if (parent <= kSymbols) tree[parent] += tree[k];
        }
    }
};

} // namespace ps2::lzari_baseline
