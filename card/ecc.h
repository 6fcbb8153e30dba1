/* ecc.h -- the page code of coded card images: 3 bytes per 128-byte chunk, 16 spare bytes per 512-byte page;
 * writing it, and checking and mending a page with it */
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

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
 * the offset of relative cluster (first free cluster); the reserved blocks'
 * offset on a full card. */
size_t coded_end_offset(ConstRawImage card, const CardGeometry& geometry = kStandardGeometry);

/* The coded image of a raw image, into a separate buffer of
 * geometry.coded_size() bytes: page p's bytes at 528 * p, then its spare
 * area: with a code for raw offset 0 and for every page from the first
 * indirect FAT cluster up to E, sixteen 0xFF bytes for every other page. */
void build_coded_image(ConstRawImage card, std::span<uint8_t> out, const CardGeometry& geometry = kStandardGeometry);

/* Brings a coded image (geometry.coded_size() bytes) in line with the raw
 * image it was made from after an edit: every page whose 512 bytes differ
 * gets the raw image's bytes and a new spare area, the page's code, or
 * sixteen 0xFF bytes (an erased page) when the page is all 0xFF and lies in
 * a free cluster of the allocatable area. Pages that are the same keep
 * their spare areas. Returns the number of pages written. */
uint32_t recode_changed_pages(ConstRawImage card, std::span<uint8_t> coded, const CardGeometry& geometry);

/* ---- checking ---- */

/* What checking a chunk against its code found. The code is a Hamming code
 * over the chunk's bits: the column byte holds three parities of the bit
 * positions in a byte and their complements, the line bytes the byte
 * indexes and their complements. So one flipped data bit turns every pair
 * (a parity and its complement) by exactly one of its two bits, and names
 * the byte (line A's difference) and the bit (the column's upper three
 * bits); one flipped bit of the code itself differs in that bit alone. The
 * bits the code never uses (bits 3 and 7 of the column byte, bit 7 of the
 * line bytes) are not compared. */
enum class EccChunkState : uint8_t {
    clean,
    data_bit_corrected, /* the flipped bit is set right in the chunk */
    code_bit_flipped,   /* the data is as coded; the code itself has one flipped bit */
    uncorrectable,      /* more than one bit differs: the data is left as it is */
};
EccChunkState ecc_check_chunk(uint8_t* chunk, const uint8_t* code);

enum class EccPageState : uint8_t {
    no_code,       /* the spare area holds no code: all 0xFF (never written), all 0x00, or other data */
    clean,
    corrected,     /* one chunk or more had a single flipped bit, mended */
    uncorrectable, /* a chunk had more damage; its data is used as it is */
};
/* Checks the four chunks of a page against the codes in its spare area and
 * mends a single flipped data bit in place. A spare area holds a code only
 * when its four unused bytes are each 0x00 or 0xFF and it is neither all
 * 0xFF nor all 0x00. */
EccPageState ecc_check_page(uint8_t* page, const uint8_t* spare);

/* What checking a coded image found, by page number. */
struct EccReport {
    uint32_t pages_checked = 0;        /* pages whose spare area holds a code */
    std::vector<uint32_t> corrected;     /* pages with a flipped bit mended */
    std::vector<uint32_t> uncorrectable; /* pages with damage the code cannot mend */
};

} // namespace ps2
