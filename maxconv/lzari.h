/* lzari.h -- the compressed stream of MAX archives: LZ77 over a 4,096-byte window with an adaptive arithmetic coder */
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/errors.h"

namespace ps2 {

/* The stream has no header, no length and no end marker: the decoder is told
 * how many bytes to produce. A given input always gives the same stream, byte
 * for byte: the match decisions are part of the format (longest match of 3
 * to 60 bytes within distance 1 to 4,036, the nearest of equally long ones). */
inline constexpr size_t kLzariWindow = 4096;
inline constexpr size_t kLzariLongestMatch = 60;

#define LZARI_ERROR_LIST(X)                                                 \
    PS2_SHARED_ERROR_LIST(X)                                                \
    X(output_full, "the compressed stream does not fit its buffer")         \
    X(input_too_large, "the input is larger than 2 GiB")

enum class LzariError : uint8_t { LZARI_ERROR_LIST(PS2_ERROR_ENUM) };
const char* lzari_error_text(LzariError e);

/* Compresses input into output. On ok, *stored is the stream length. On
 * output_full the stream would not fit: *stored is output.size() and output
 * holds the stream's first output.size() bytes (never more; the stream is
 * incomplete). A stream of exactly output.size() bytes is ok. Uses about
 * 430 KiB of working storage taken from the heap for the call (no_memory
 * when that fails); no other allocation. */
[[nodiscard]] LzariError lzari_encode(std::span<const uint8_t> input, std::span<uint8_t> output, size_t* stored);

/* An input the encoder pulls in order, for input that is not one span (a
 * MAX payload made from a PSU archive's members as it is read): each call
 * of read writes the next n bytes of the input to dst, size bytes in all. */
struct LzariSource {
    size_t size = 0;
    void* context = nullptr;
    void (*read)(void* context, uint8_t* dst, size_t n) = nullptr;
};
/* The same stream as lzari_encode of the source's bytes as one span. */
[[nodiscard]] LzariError lzari_encode(const LzariSource& input, std::span<uint8_t> output, size_t* stored);

/* Expands a stream into exactly output.size() bytes. Never fails: a stream
 * that is short is read on with the bits of its last byte, a damaged one
 * gives wrong bytes, and nothing is written outside output. Returns how many
 * stream bytes the decoder asked for; a complete stream asks for at most 2
 * bytes more than it holds, so a larger figure means a cut stream. Uses
 * about 70 KiB of stack and allocates nothing. */
size_t lzari_decode(std::span<const uint8_t> stream, std::span<uint8_t> output);

} // namespace ps2
