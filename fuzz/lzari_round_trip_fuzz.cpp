/* lzari_round_trip_fuzz.cpp -- any input encodes and decodes back to itself; the stream is the one the
 * literal reference encoder makes (inputs up to 8 KiB), byte for byte; an output too small for it gets
 * exactly its first bytes and output_full; a complete stream asks the decoder for at most 2 bytes more. */
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/lzari_oracle.h"
#include "maxconv/lzari.h"

namespace {

constexpr uint8_t kCanary = 0xA5;
constexpr size_t kCanarySize = 64;
constexpr size_t kReferenceLimit = size_t(1) << 13;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> in(size ? data : nullptr, size);
    const size_t capacity = size + size / 8 + 64;
    std::vector<uint8_t> stream(capacity + kCanarySize, kCanary);
    size_t stored = 0;
    FUZZ_CHECK(ps2::lzari_encode(in, std::span(stream).first(capacity), &stored) == ps2::LzariError::ok);
    FUZZ_CHECK(stored <= capacity);
    for (size_t i = capacity; i < stream.size(); ++i) FUZZ_CHECK(stream[i] == kCanary);

    std::vector<uint8_t> back(size + kCanarySize, kCanary);
    const size_t wanted = ps2::lzari_decode(std::span(stream).first(stored), std::span(back).first(size));
    FUZZ_CHECK(size == 0 || std::memcmp(back.data(), data, size) == 0);
    for (size_t i = size; i < back.size(); ++i) FUZZ_CHECK(back[i] == kCanary);
    FUZZ_CHECK(wanted <= stored + 2);

    /* The fast match finder decides as the reference does. */
    if (size <= kReferenceLimit) {
        const std::vector<uint8_t> want = ps2::fuzz::oracle_lzari_encode(in);
        FUZZ_CHECK(want.size() == stored);
        FUZZ_CHECK(std::memcmp(want.data(), stream.data(), stored) == 0);
    }

    /* Too small an output: its first bytes exactly, nothing behind, and reported. */
    const size_t cut = size ? data[0] % (stored + 1) : 0;
    if (cut < stored) {
        std::vector<uint8_t> part(cut + kCanarySize, kCanary);
        size_t got = 0;
        FUZZ_CHECK(ps2::lzari_encode(in, std::span(part).first(cut), &got) == ps2::LzariError::output_full);
        FUZZ_CHECK(got == cut);
        FUZZ_CHECK(cut == 0 || std::memcmp(part.data(), stream.data(), cut) == 0);
        for (size_t i = cut; i < part.size(); ++i) FUZZ_CHECK(part[i] == kCanary);
    }
    return 0;
}
