/* lzari_baseline.h -- frozen copies of the LZARI encoder and decoder as they were before the faster match finder
 * and model: maxconv_bench measures the shipped codec against them in the same run. Same streams, same bytes. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "maxconv/lzari.h"

namespace ps2::lzari_baseline {

[[nodiscard]] LzariError encode(std::span<const uint8_t> input, std::span<uint8_t> output, size_t* stored);
size_t decode(std::span<const uint8_t> stream, std::span<uint8_t> output);

} // namespace ps2::lzari_baseline
