/* lzari_oracle.cpp -- the reference codec behind plain functions. Built without the fuzzer's coverage
 * (fuzz/CMakeLists.txt): it is the oracle, not the code under test, and its compares would only slow the
 * search down. */
#include "fuzz/lzari_oracle.h"

#include "tests/lzari_reference.h"

namespace ps2::fuzz {

std::vector<uint8_t> oracle_lzari_encode(std::span<const uint8_t> input)
{
    return test::lzari_ref::encode(std::vector<uint8_t>(input.begin(), input.end()), SIZE_MAX);
}

std::vector<uint8_t> oracle_lzari_decode(std::span<const uint8_t> stream, size_t count)
{
    return test::lzari_ref::decode(std::vector<uint8_t>(stream.begin(), stream.end()), count);
}

} // namespace ps2::fuzz
