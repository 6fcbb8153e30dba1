/* ecc.cpp -- the page code, computed a 64-bit word at a time
 *
 * The code of a chunk is linear over GF(2), so it is found from a few XOR
 * folds of the chunk's sixteen 64-bit words instead of a table step per byte:
 *  - every bit of the parity table is a parity of the byte, so the column
 *    accumulator (XOR of table[b] over all bytes) is table[XOR of all bytes];
 *  - line A is the XOR of the indexes i of the odd-parity bytes, so its bit k
 *    is the parity of all bits of the bytes whose index has bit k set. With
 *    i = 8 j + q (word j, byte q of the word), bits 0-2 select bytes within
 *    the word (masks on the XOR of all words) and bits 3-6 select words
 *    (parities of the XOR of the words whose j has that bit);
 *  - 127 - i == 127 ^ i for i below 128, so line B is line A, complemented in
 *    its seven bits when the chunk holds an odd number of odd-parity bytes,
 *    that is when bit 7 of the column accumulator is set. */
#include "card/ecc.h"

#include <bit>
#include <cstring>

namespace ps2 {

namespace {

/* XOR of the eight bytes of x: parity-preserving per bit position. */
inline uint8_t fold_to_byte(uint64_t x)
{
    x ^= x >> 32;
    x ^= x >> 16;
    x ^= x >> 8;
    return uint8_t(x);
}

inline unsigned parity64(uint64_t x) { return unsigned(kEccParityTable[fold_to_byte(x)] >> 7); }

} // namespace

std::array<uint8_t, kEccCodeSize> ecc_chunk_code(const uint8_t* chunk)
{
    /* A tree of XORs over the sixteen words: pairs, quads, halves. The words
     * with index bit 0 set (w1), bit 1 (w2), bit 2 (w4) and bit 3 (w8) fall
     * out of it on the way. */
    uint64_t w[16];
    for (unsigned j = 0; j < 16; ++j) w[j] = load_u64le(chunk + 8 * j);
    uint64_t pair[8];
    uint64_t w1 = 0;
    for (unsigned k = 0; k < 8; ++k) {
        pair[k] = w[2 * k] ^ w[2 * k + 1];
        w1 ^= w[2 * k + 1];
    }
    const uint64_t quad[4] = {pair[0] ^ pair[1], pair[2] ^ pair[3], pair[4] ^ pair[5], pair[6] ^ pair[7]};
    const uint64_t w2 = pair[1] ^ pair[3] ^ pair[5] ^ pair[7];
    const uint64_t half[2] = {quad[0] ^ quad[1], quad[2] ^ quad[3]};
    const uint64_t w4 = quad[1] ^ quad[3];
    const uint64_t w8 = half[1];
    const uint64_t all = half[0] ^ half[1];
    const uint8_t column = kEccParityTable[fold_to_byte(all)];
    const unsigned line_a = parity64(all & 0xFF00FF00FF00FF00ull) | parity64(all & 0xFFFF0000FFFF0000ull) << 1 |
                            parity64(all & 0xFFFFFFFF00000000ull) << 2 | parity64(w1) << 3 | parity64(w2) << 4 |
                            parity64(w4) << 5 | parity64(w8) << 6;
    const unsigned line_b = line_a ^ ((column & 0x80) ? 0x7Fu : 0u);
    return {uint8_t(~column & 0x77), uint8_t(~line_b & 0x7F), uint8_t(~line_a & 0x7F)};
}

void ecc_page_spare(const uint8_t* page, uint8_t* spare)
{
    for (size_t c = 0; c < kEccChunksPerPage; ++c) {
        const auto code = ecc_chunk_code(page + c * kEccChunkSize);
        std::memcpy(spare + c * kEccCodeSize, code.data(), kEccCodeSize);
    }
    std::memset(spare + kEccChunksPerPage * kEccCodeSize, 0, kSpareSize - kEccChunksPerPage * kEccCodeSize);
}

size_t coded_end_offset(ConstRawImage card) { return kAllocOffset + kClusterSize * size_t(find_first_free_cluster(card)); }

void build_coded_image(ConstRawImage card, std::span<uint8_t, kCodedImageSize> out)
{
    const size_t end = coded_end_offset(card);
    for (size_t p = 0; p < kCardPages; ++p) {
        const size_t r = p * kPageSize;
        uint8_t* dst = out.data() + p * kCodedPageSize;
        std::memcpy(dst, card.data() + r, kPageSize);
        if (r == 0 || (r >= kIndirectFatOffset && r < end))
            ecc_page_spare(card.data() + r, dst + kPageSize);
        else
            std::memset(dst + kPageSize, 0xFF, kSpareSize);
    }
}

} // namespace ps2
