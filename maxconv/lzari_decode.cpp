/* lzari_decode.cpp -- the LZARI decoder: arithmetic decoding of codes and distances, copies from the history */
#include <algorithm>
#include <bit>
#include <cstring>

#include "maxconv/lzari.h"
#include "maxconv/lzari_model.h"

namespace ps2 {

namespace {

using namespace lzari;

inline uint64_t load_u64be(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}

struct Decoder {
    /* Stream bits, taken by their position: the bits from any position are
     * one 8-byte read away. Past the end of the stream the last byte is read
     * over again (zeros when there is none). */
    const uint8_t* stream = nullptr;
    size_t stream_size = 0;
    uint64_t consumed = 0; /* bits taken */

    /* The coding range, and value - low rather than the value under the
     * window: every step takes the same amount off both, so only their
     * difference matters, and it follows d = 2d + bit at each doubling (all
     * in wrapping 32-bit arithmetic, as a damaged stream needs). */
    uint32_t low = 0, high = kQ4, offset = 0;
    SymbolModel model;

    /* The 8 stream bytes from byte index i, first byte highest. */
    uint64_t bytes_at(uint64_t i) const
    {
        if (i + 8 <= stream_size) return load_u64be(stream + i);
        const uint8_t last = stream_size ? stream[stream_size - 1] : 0;
        uint64_t v = 0;
        for (uint64_t j = i; j < i + 8; ++j) v = (v << 8) | (j < stream_size ? stream[j] : last);
        return v;
    }

    uint32_t get_bits(uint32_t n) /* n <= 32 */
    {
        const uint64_t v = bytes_at(consumed >> 3) << (consumed & 7);
        consumed += n;
        return uint32_t((v >> 32) >> (32 - n));
    }

    /* Stream bytes the decoder has asked for: one per 8 bits begun. */
    size_t bytes_requested() const { return size_t((consumed + 7) / 8); }

    void start() { offset = get_bits(17); }

    /* Narrows [low, high) to the slice [lo, hi) of total and takes in the next bits. */
    [[gnu::always_inline]] void take_slice(uint32_t lo, uint32_t hi, uint32_t total, uint32_t range)
    {
        const uint32_t new_low = range * lo / total;
        high = low + range * hi / total;
        low = low + new_low;
        offset -= new_low;
        const Renormalisation r = renormalise(&low, &high);
        /* At most 17 bits: the straddled steps use bits of low that the settled ones did not. */
        const uint32_t shift = r.settled + r.straddled;
        offset = (offset << shift) + get_bits(shift);
    }

    uint32_t target(uint32_t total, uint32_t range) const { return ((offset + 1) * total - 1) / range; }

    uint32_t decode_code()
    {
        const uint32_t range = high - low;
        const uint32_t total = model.total;
        uint32_t lo, hi;
        const uint32_t k = model.find(target(total, range), &lo, &hi);
        take_slice(lo, hi, total, range);
        const uint32_t code = model.code_of[k];
        model.update(k);
        return code;
    }

    uint32_t decode_distance()
    {
        const DistanceSearch& ds = kDistanceSearch;
        const uint32_t range = high - low;
        /* A value at or above the total (a damaged stream) is owned by distance 1, as is the total - 1. */
        const uint32_t x = std::min(target(kDistanceTotal, range), kDistanceTotal - 1);
        /* Distance 1 (runs of one byte) first, for the same reason as the model's first code. */
        if (x >= ds.dcum[1]) {
            take_slice(ds.dcum[1], ds.dcum[0], kDistanceTotal, range);
            return 1;
        }
        const uint32_t d0 = ds.start[x >> DistanceSearch::kGroupBits];
#if PS2_LZARI_SSE2
        const __m128i sums = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ds.dcum + d0));
        const uint32_t above = uint32_t(_mm_movemask_epi8(_mm_cmpgt_epi16(sums, _mm_set1_epi16(int16_t(x)))));
        const uint32_t d = d0 + uint32_t(std::countr_one(above)) / 2;
#else
        uint32_t d = d0;
        while (ds.dcum[d] > x) ++d;
#endif
        take_slice(ds.dcum[d], ds.dcum[d - 1], kDistanceTotal, range);
        return d;
    }
};

/* Copies n bytes from distance d behind out + p (p bytes already produced).
 * Bytes before the output's start are the window's fill. Copying forward
 * lets a match overlap the bytes it produces. */
void copy_match_slowly(uint8_t* out, size_t p, uint32_t d, size_t n)
{
    uint8_t* dst = out + p;
    if (d > p) {
        const size_t fill = std::min<size_t>(d - p, n);
        std::memset(dst, kFillByte, fill);
        dst += fill;
        n -= fill;
        if (n == 0) return;
    }
    const uint8_t* src = dst - d;
    for (size_t i = 0; i < n; ++i) dst[i] = src[i];
}

/* As above for the common case, when the match lies within the output and
 * 80 bytes are free from out + p: in 16-byte pieces, which may write past
 * the match (the next bytes overwrite that). A piece never reads bytes it
 * writes itself: below 16, the distance is first made a multiple of d of at
 * least 16 by copying that many bytes one by one. */
inline void copy_match(uint8_t* out, size_t p, uint32_t d, size_t n, size_t count)
{
    if (d > p || count - p < 80) return copy_match_slowly(out, p, d, n);
    uint8_t* dst = out + p;
    if (d == 1) { /* a run of one byte, the commonest match: stores of it, no byte read back */
#if PS2_LZARI_SSE2
        const __m128i v = _mm_set1_epi8(char(dst[-1]));
        for (size_t i = 0; i < n; i += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
#else
        std::memset(dst, dst[-1], n);
#endif
        return;
    }
    size_t i = 0;
    uint32_t step = d;
    if (d < 16) {
        step = d * ((16 + d - 1) / d); /* 16 to 30 */
        const uint8_t* const src = dst - d;
        for (; i < step && i < n; ++i) dst[i] = src[i];
    }
    for (; i < n; i += 16) std::memcpy(dst + i, dst + i - step, 16);
}

} // namespace

size_t lzari_decode(std::span<const uint8_t> stream, std::span<uint8_t> output)
{
    Decoder dec;
    dec.stream = stream.data();
    dec.stream_size = stream.size();
    dec.model.reset();
    dec.start();

    uint8_t* const out = output.data();
    const size_t count = output.size();
    size_t produced = 0;
    while (produced < count) {
        const uint32_t c = dec.decode_code();
        if (c < 256) {
            out[produced++] = uint8_t(c);
        } else {
            const uint32_t length = c - kLengthBase;
            const uint32_t d = dec.decode_distance();
            const size_t n = std::min<size_t>(length, count - produced); /* a damaged stream may overrun */
            copy_match(out, produced, d, n, count);
            produced += n;
        }
    }
    return dec.bytes_requested();
}

} // namespace ps2
