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

size_t coded_end_offset(ConstRawImage card, const CardGeometry& g)
{
    return g.cluster_offset(find_first_free_cluster(card, g));
}

void build_coded_image(ConstRawImage card, std::span<uint8_t> out, const CardGeometry& g)
{
    const size_t end = coded_end_offset(card, g);
    const size_t first_coded = size_t(g.ifat[0]) * kClusterSize;
    const size_t pages = g.card_pages();
    for (size_t p = 0; p < pages; ++p) {
        const size_t r = p * kPageSize;
        uint8_t* dst = out.data() + p * kCodedPageSize;
        std::memcpy(dst, card.data() + r, kPageSize);
        if (r == 0 || (r >= first_coded && r < end))
            ecc_page_spare(card.data() + r, dst + kPageSize);
        else
            std::memset(dst + kPageSize, 0xFF, kSpareSize);
    }
}

uint32_t recode_changed_pages(ConstRawImage card, std::span<uint8_t> coded, const CardGeometry& g)
{
    uint32_t written = 0;
    const size_t pages = g.card_pages();
    const size_t alloc_start = g.cluster_offset(0);
    const size_t alloc_end = g.cluster_offset(g.alloc_clusters);
    for (size_t p = 0; p < pages; ++p) {
        const uint8_t* src = card.data() + p * kPageSize;
        uint8_t* dst = coded.data() + p * kCodedPageSize;
        if (std::memcmp(src, dst, kPageSize) == 0) continue;
        std::memcpy(dst, src, kPageSize);
        const size_t r = p * kPageSize;
        bool erased = r >= alloc_start && r < alloc_end &&
                      (fat_entry(card, uint32_t((r - alloc_start) / kClusterSize), g) & kFatInUse) == 0;
        for (size_t k = 0; erased && k < kPageSize; ++k) erased = src[k] == 0xFF;
        if (erased)
            std::memset(dst + kPageSize, 0xFF, kSpareSize);
        else
            ecc_page_spare(src, dst + kPageSize);
        ++written;
    }
    return written;
}

/* ---- checking ---- */

EccChunkState ecc_check_chunk(uint8_t* chunk, const uint8_t* code)
{
    const auto have = ecc_chunk_code(chunk);
    const unsigned column = (have[0] ^ code[0]) & 0x77u;
    const unsigned line_b = (have[1] ^ code[1]) & 0x7Fu; /* from the complemented indexes */
    const unsigned line_a = (have[2] ^ code[2]) & 0x7Fu; /* from the plain indexes */
    if ((column | line_b | line_a) == 0) return EccChunkState::clean;
    /* One data bit: every parity pair turned by one bit; line A names the byte, the column's top three bits the bit. */
    if (((column >> 4) ^ (column & 7u)) == 7u && (line_a ^ line_b) == 0x7Fu) {
        chunk[line_a] = uint8_t(chunk[line_a] ^ (1u << (column >> 4)));
        return EccChunkState::data_bit_corrected;
    }
    if (std::popcount(column) + std::popcount(line_b) + std::popcount(line_a) == 1) return EccChunkState::code_bit_flipped;
    return EccChunkState::uncorrectable;
}

EccPageState ecc_check_page(uint8_t* page, const uint8_t* spare)
{
    const uint64_t head = load_u64le(spare);
    const uint64_t tail = load_u64le(spare + 8);
    if ((head & tail) == ~uint64_t(0) || (head | tail) == 0) return EccPageState::no_code; /* all 0xFF, all 0x00 */
    for (size_t k = kEccChunksPerPage * kEccCodeSize; k < kSpareSize; ++k)
        if (spare[k] != 0x00 && spare[k] != 0xFF) return EccPageState::no_code; /* another writer's data */
    EccPageState state = EccPageState::clean;
    for (size_t c = 0; c < kEccChunksPerPage; ++c) {
        switch (ecc_check_chunk(page + c * kEccChunkSize, spare + c * kEccCodeSize)) {
        case EccChunkState::clean: break;
        case EccChunkState::data_bit_corrected:
        case EccChunkState::code_bit_flipped:
            if (state == EccPageState::clean) state = EccPageState::corrected;
            break;
        case EccChunkState::uncorrectable: state = EccPageState::uncorrectable; break;
        }
    }
    return state;
}

} // namespace ps2
