/* lzari_decode_fuzz.cpp -- any stream decoded to any count up to 64 KiB: never a write past the count (a
 * canary behind the output, and an output of its own size for the address sanitizer), never a read past
 * the stream, and the same bytes as the literal reference decoder for counts up to 8 KiB.
 *
 * Input: a count in two bytes (little-endian), a third byte whose low four bits shift it right (so that small
 * counts are common), then the stream. Nothing happens at larger counts that does not happen past the
 * first 4,096 bytes; the codec's tests decode streams of megabytes. */
#include <cstring>
#include <memory>
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
    ps2::fuzz::InputCursor in(data, size);
    size_t count = in.u16();
    count >>= in.byte() & 0x0F;
    const std::span<const uint8_t> rest = in.rest();
    /* A copy of exactly the stream, so that a read past it is caught. */
    const std::vector<uint8_t> stream(rest.begin(), rest.end());

    std::vector<uint8_t> out(count + kCanarySize, kCanary);
    const size_t wanted = ps2::lzari_decode(stream, std::span(out).first(count));
    (void)wanted;
    for (size_t i = count; i < out.size(); ++i) FUZZ_CHECK(out[i] == kCanary);

    /* An output of exactly count bytes: the sanitizer sees any write behind it. */
    std::unique_ptr<uint8_t[]> exact(new uint8_t[count ? count : 1]);
    (void)ps2::lzari_decode(stream, std::span(exact.get(), count));
    FUZZ_CHECK(count == 0 || std::memcmp(exact.get(), out.data(), count) == 0);

    if (count <= kReferenceLimit) {
        const std::vector<uint8_t> want = ps2::fuzz::oracle_lzari_decode(stream, count);
        FUZZ_CHECK(want.size() == count);
        FUZZ_CHECK(count == 0 || std::memcmp(want.data(), out.data(), count) == 0);
    }
    return 0;
}
