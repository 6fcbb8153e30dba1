/* ecc.h -- the page code of coded card images: 3 bytes per 128-byte chunk, 16 spare bytes per 512-byte page */
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "card/card.h"

namespace ps2 {

inline constexpr size_t kEccChunkSize = 128;
inline constexpr size_t kEccChunksPerPage = kPageSize / kEccChunkSize; /* 4 */
inline constexpr size_t kEccCodeSize = 3;

/* The byte parity table: bit 0 parity of b & 0x55, bit 1 of b & 0x33,
 * bit 2 of b & 0x0F, bit 3 zero, bit 4 of b & 0xAA, bit 5 of b & 0xCC,
 * bit 6 of b & 0xF0, bit 7 parity of all of b. Each bit is a parity, so
 * table[x ^ y] == table[x] ^ table[y]. */
inline constexpr std::array<uint8_t, 256> kEccParityTable = [] {
    std::array<uint8_t, 256> t{};
    auto parity = [](unsigned v) {
        v ^= v >> 4;
        v ^= v >> 2;
        v ^= v >> 1;
        return uint8_t(v & 1);
    };
    for (unsigned b = 0; b < 256; ++b)
        t[b] = uint8_t(parity(b & 0x55) | parity(b & 0x33) << 1 | parity(b & 0x0F) << 2 | parity(b & 0xAA) << 4 |
                       parity(b & 0xCC) << 5 | parity(b & 0xF0) << 6 | parity(b) << 7);
    return t;
}();

/* The code of one 128-byte chunk: the column byte, then the line byte made
 * from the complemented indexes (127 - i), then the one from the plain
 * indexes i of the bytes with odd parity. */
std::array<uint8_t, kEccCodeSize> ecc_chunk_code(const uint8_t* chunk);

/* The 16-byte spare area of a page that carries a code: the codes of its
 * four chunks, then four zero bytes. */
void ecc_page_spare(const uint8_t* page, uint8_t* spare);

/* The raw offset E just behind the used part of the allocatable area:
 * 0xA400 + 1024 * (first free cluster); 0x7FC000 on a full card. */
size_t coded_end_offset(ConstRawImage card);

/* The coded image of a raw image, into a separate buffer of 8,650,752 bytes:
 * page p's bytes at 528 * p, then its spare area: with a code for raw
 * offset 0 and for every page from 0x2000 up to E, sixteen 0xFF bytes for
 * every other page. */
void build_coded_image(ConstRawImage card, std::span<uint8_t, kCodedImageSize> out);

} // namespace ps2
