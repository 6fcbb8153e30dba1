/* lzari_baseline_decode.cpp -- a frozen copy of the LZARI decoder as it stood before its model was reworked: the
 * baseline of maxconv_bench. Kept unchanged on purpose; maxconv/lzari_decode.cpp is what ships. */
#include <algorithm>
#include <cstring>

#include "bench/lzari_baseline.h"
#include "bench/lzari_baseline_model.h"

namespace ps2::lzari_baseline {

namespace {

struct Decoder {
    /* Stream bits, read ahead into a reservoir. Past the end of the stream
     * the last byte is read over again (zeros when there is none). */
    const uint8_t* stream = nullptr;
    size_t stream_size = 0;
    size_t pos = 0;
    uint8_t last = 0;
    uint64_t reservoir = 0;
    uint32_t reservoir_bits = 0;
    uint64_t consumed = 0; /* bits taken */

    /* The coding range, and value - low rather than the value under the
     * window: every step takes the same amount off both, so only their
     * difference matters, and it follows d = 2d + bit at each doubling (all
     * in wrapping 32-bit arithmetic, as a damaged stream needs). */
    uint32_t low = 0, high = kQ4, offset = 0;
    SymbolModel model;

    uint32_t get_bits(uint32_t n) /* n <= 32 */
    {
        if (reservoir_bits < n) {
            while (reservoir_bits <= 56) {
                if (pos < stream_size) last = stream[pos++];
                reservoir = (reservoir << 8) | last;
                reservoir_bits += 8;
            }
        }
        reservoir_bits -= n;
        consumed += n;
        return n ? uint32_t(reservoir >> reservoir_bits) & (0xFFFFFFFFu >> (32 - n)) : 0;
    }

    /* Stream bytes the decoder has asked for: one per 8 bits begun. */
    size_t bytes_requested() const { return size_t((consumed + 7) / 8); }

    void start() { offset = get_bits(17); }

    /* Narrows [low, high) to the slice [lo, hi) of total and takes in the next bits. */
    void take_slice(uint32_t lo, uint32_t hi, uint32_t total, uint32_t range)
    {
        const uint32_t new_low = range * lo / total;
        high = low + range * hi / total;
        low = low + new_low;
        offset -= new_low;
        const Renormalisation r = renormalise(&low, &high);
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
        const uint32_t* dcum = kDistances.dcum.data();
        const uint32_t range = high - low;
        const uint32_t x = target(dcum[0], range);
        /* The smallest d with dcum[d] <= x (dcum decreases strictly). */
        uint32_t i = 1;
        for (uint32_t step = kWindow / 2; step; step >>= 1) {
            const uint32_t m = i + step - 1;
            i = dcum[m] > x ? m + 1 : i;
        }
        take_slice(dcum[i], dcum[i - 1], dcum[0], range);
        return i;
    }
};

/* Copies n bytes from distance d behind out + p (p bytes already produced).
 * Bytes before the output's start are the window's fill. Copying forward
 * lets a match overlap the bytes it produces. */
void copy_match(uint8_t* out, size_t p, uint32_t d, size_t n)
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
    if (d >= n) {
        std::memcpy(dst, src, n);
    } else if (d == 1) {
        std::memset(dst, *src, n);
    } else {
        for (size_t i = 0; i < n; ++i) dst[i] = src[i];
    }
}

} // namespace

size_t decode(std::span<const uint8_t> stream, std::span<uint8_t> output)
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
            copy_match(out, produced, d, n);
            produced += n;
        }
    }
    return dec.bytes_requested();
}

} // namespace ps2::lzari_baseline
