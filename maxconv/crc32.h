/* crc32.h -- the CRC-32 check value of MAX archives (ISO-HDLC: zlib's and PKZIP's) */
#pragma once

#include <cstdint>
#include <span>

namespace ps2 {

/* CRC-32 with the reflected polynomial 0xEDB88320, initial register
 * 0xFFFFFFFF and the final register inverted: "123456789" gives 0xCBF43926.
 * The tables are built on first use and kept for the life of the process. */
uint32_t crc32(std::span<const uint8_t> bytes);

/* Continues a check value over more bytes: crc32_update(crc32(a), b) equals
 * crc32(a followed by b); crc32_update(0, a) equals crc32(a). */
uint32_t crc32_update(uint32_t crc, std::span<const uint8_t> bytes);

} // namespace ps2
