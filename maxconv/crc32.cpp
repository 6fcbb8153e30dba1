/* crc32.cpp -- CRC-32, slicing by 16: sixteen 256-entry tables consume 16 bytes per step */
#include "maxconv/crc32.h"

#include <cstddef>

#include "common/bytes.h"

namespace ps2 {

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;
constexpr int kSlices = 16;

struct CrcTables {
    /* t[0] is the classic byte table; t[k][b] is the register after b is
     * followed by k zero bytes, which lets 16 bytes be folded at once. */
    uint32_t t[kSlices][256];

    CrcTables()
    {
        for (uint32_t k = 0; k < 256; ++k) {
            uint32_t c = k;
            for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
            t[0][k] = c;
        }
        for (int s = 1; s < kSlices; ++s)
            for (int k = 0; k < 256; ++k) t[s][k] = (t[s - 1][k] >> 8) ^ t[0][t[s - 1][k] & 0xFF];
    }
};

const CrcTables& crc_tables()
{
    static const CrcTables tables; /* built once, on first use */
    return tables;
}

} // namespace

uint32_t crc32_update(uint32_t crc, std::span<const uint8_t> bytes)
{
    const auto& t = crc_tables().t;
    const uint8_t* p = bytes.data();
    size_t n = bytes.size();
    uint32_t c = ~crc;
    while (n >= 16) {
        const uint32_t a = load_u32le(p) ^ c;
        const uint32_t b = load_u32le(p + 4);
        const uint32_t d = load_u32le(p + 8);
        const uint32_t e = load_u32le(p + 12);
        c = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
            t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
            t[7][d & 0xFF] ^ t[6][(d >> 8) & 0xFF] ^ t[5][(d >> 16) & 0xFF] ^ t[4][d >> 24] ^
            t[3][e & 0xFF] ^ t[2][(e >> 8) & 0xFF] ^ t[1][(e >> 16) & 0xFF] ^ t[0][e >> 24];
        p += 16;
        n -= 16;
    }
    while (n--) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
    return ~c;
}

uint32_t crc32(std::span<const uint8_t> bytes) { return crc32_update(0, bytes); }

} // namespace ps2
