/* lzari_baseline_encode.cpp -- a frozen copy of the LZARI encoder as it was before the match finder was
 * reworked: the baseline of maxconv_bench. Kept unchanged on purpose; maxconv/lzari_encode.cpp is what ships. */
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "bench/lzari_baseline.h"
#include "bench/lzari_baseline_model.h"

namespace ps2::lzari_baseline {

namespace {

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
constexpr uint32_t kHashBits = 15;
constexpr uint32_t kNone = 0; /* below every window start, so it ends a chain */

/* The text is kept in a linear buffer that slides forward in large steps, so
 * that comparisons never wrap. It holds T[base .. base + kTextSize). */
constexpr uint32_t kTextChunk = 1u << 15;
constexpr uint32_t kTextSize = kWindow + kTextChunk + 128;
/* Bytes from r on that must be present: the 60-byte lookahead, the last
 * 8-byte compare word and the hash of the last position inserted. */
constexpr uint32_t kAhead = 72;

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

inline uint32_t hash3(const uint8_t* p) { return ((load_u32(p) & 0xFFFFFF) * 2654435761u) >> (32 - kHashBits); }
inline bool same3(const uint8_t* a, const uint8_t* b) { return ((load_u32(a) ^ load_u32(b)) & 0xFFFFFF) == 0; }

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
    uint32_t head[1u << kHashBits];
    uint32_t prev[kWindow];
    uint8_t text[kTextSize];

    /* ---- bit output: most significant bit first, whole bytes stored ---- */

    uint64_t bit_acc = 0;      /* bits not yet stored, the newest lowest */
    uint32_t bit_acc_count = 0; /* how many (below 8 between calls) */

    void put_bits(uint32_t bits, uint32_t n) /* n <= 32 */
    {
        bit_acc = (bit_acc << n) | bits;
        bit_acc_count += n;
        while (bit_acc_count >= 8) {
            bit_acc_count -= 8;
            if (pos < capacity)
                out[pos++] = uint8_t(bit_acc >> bit_acc_count);
            else
                overflow = true;
        }
    }
    void put_repeated(uint32_t bit, uint32_t n)
    {
        for (; n >= 32; n -= 32) put_bits(bit ? 0xFFFFFFFFu : 0, 32);
        if (n) put_bits(bit ? (1u << n) - 1 : 0, n);
    }
    /* A bit, then the pending bits, each the opposite of it. */
    void put_bit_with_pending(uint32_t bit)
    {
        put_bits(bit, 1);
        put_repeated(bit ^ 1, pending);
        pending = 0;
    }

    /* Narrows [low, high) to the slice [lo, hi) of total and sends the settled bits. */
    void code_slice(uint32_t lo, uint32_t hi, uint32_t total)
    {
        const uint32_t range = high - low;
        high = low + range * hi / total;
        low = low + range * lo / total;
        const Renormalisation r = renormalise(&low, &high);
        if (r.settled) {
            put_bit_with_pending(r.settled_bits >> (r.settled - 1));
            put_bits(r.settled_bits & ((1u << (r.settled - 1)) - 1), r.settled - 1);
        }
        pending += r.straddled;
    }

    void encode_code(uint32_t code)
    {
        const uint32_t k = model.rank_of[code];
        uint32_t lo, hi;
        model.slice(k, &lo, &hi);
        code_slice(lo, hi, model.total);
        model.update(k);
    }

    void encode_distance(uint32_t d) { code_slice(kDistances.dcum[d], kDistances.dcum[d - 1], kDistances.dcum[0]); }

    void finish()
    {
        ++pending;
        put_bit_with_pending(low < kQ1 ? 0 : 1);
        put_bits(0, 7); /* what is left of the last byte is not stored */
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

    void insert(uint32_t u)
    {
        const uint32_t h = hash3(at(u));
        prev[u & (kWindow - 1)] = head[h];
        head[h] = u;
    }

    /* Longest match for r (0 when none reaches 3 bytes); *distance of the nearest of that length. */
    uint32_t find_match(uint32_t r, uint32_t* distance) const
    {
        const uint8_t* const pr = at(r);
        const uint32_t first = r - kMaxDistance > kFirstCandidate ? r - kMaxDistance : kFirstCandidate;
        uint32_t best = kThreshold; /* a candidate must beat this */
        uint32_t best_q = 0;
        uint32_t offset = 0; /* the chain walked is that of the three bytes at q + offset */
        uint32_t wanted = 0; /* the offset to move to once the candidates left allow it */
        uint32_t bound = r;  /* every candidate from bound on has been looked at */
        uint32_t c = head[hash3(pr)];
        while (c >= first + offset) {
            const uint32_t q = c - offset;
            if (q < bound) {
                /* Candidates q' <= q are left; their q' + wanted lie in chains already. */
                if (wanted != offset && r - 1 - q >= wanted) {
                    offset = wanted;
                    bound = q + 1;
                    c = head[hash3(pr + offset)];
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
                        /* The three bytes ending at the one that must match next. */
                        wanted = same3(pr + len - 2, pr + offset) ? offset : len - 2;
                    }
                }
            }
            c = prev[c & (kWindow - 1)];
        }
        if (best <= kThreshold) return 0;
        *distance = r - best_q;
        return best;
    }

    /* ---- whole run ---- */

    void run()
    {
        model.reset();
        std::fill(std::begin(head), std::end(head), kNone);
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
            for (uint32_t i = 0; i < len; ++i) insert(r + i);
            r += len;
        }
        if (!overflow) finish();
    }
};

} // namespace

LzariError encode(std::span<const uint8_t> input, std::span<uint8_t> output, size_t* stored)
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

} // namespace ps2::lzari_baseline
