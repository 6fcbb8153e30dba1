/* lzari_round_trip_fuzz.cpp -- any input encodes and decodes back to itself; any stream decodes within its count */
#include <cstdlib>
#include <cstring>
#include <vector>

#include "maxconv/lzari.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> in(data, size);
    std::vector<uint8_t> stream(size + size / 8 + 64);
    size_t stored = 0;
    if (ps2::lzari_encode(in, stream, &stored) != ps2::LzariError::ok) std::abort();
    std::vector<uint8_t> back(size + 16, 0xA5);
    (void)ps2::lzari_decode(std::span(stream).first(stored), std::span(back).first(size));
    if (size && std::memcmp(back.data(), data, size) != 0) std::abort();
    for (size_t i = size; i < back.size(); ++i)
        if (back[i] != 0xA5) std::abort();

    /* The same bytes taken as a damaged stream: a count from its first bytes. */
    const size_t count = size >= 2 ? (size_t(data[0]) << 8 | data[1]) * 4 : 0;
    std::vector<uint8_t> out(count + 16, 0xA5);
    (void)ps2::lzari_decode(in, std::span(out).first(count));
    for (size_t i = count; i < out.size(); ++i)
        if (out[i] != 0xA5) std::abort();
    return 0;
}
