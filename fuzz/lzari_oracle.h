/* lzari_oracle.h -- the literal reference codec (tests/lzari_reference.h) as the fuzz targets' oracle */
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ps2::fuzz {

/* The whole stream the reference encoder makes of input. */
std::vector<uint8_t> oracle_lzari_encode(std::span<const uint8_t> input);
/* What the reference decoder makes of a stream, count bytes. */
std::vector<uint8_t> oracle_lzari_decode(std::span<const uint8_t> stream, size_t count);

} // namespace ps2::fuzz
