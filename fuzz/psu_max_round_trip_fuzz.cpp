/* psu_max_round_trip_fuzz.cpp -- any bytes taken as a PSU archive: refused, or PSU -> MAX -> PSU keeps the
 * save's name and every member's name, size and bytes; converting into the file's own memory, as the
 * handler does, gives the same MAX archive. */
#include <cstring>
#include <vector>

#include "common/psu.h"
#include "fuzz/fuzz_support.h"
#include "maxconv/max_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ps2;
    static std::vector<uint8_t> build(kWorkBufferSize), max(kWorkBufferSize), back(kWorkBufferSize),
        own(kWorkBufferSize);
    if (size > kWorkBufferSize) return 0;
    /* Give inputs the "." and ".." names so they get past recognition. */
    std::vector<uint8_t> psu(data, data + size);
    if (psu.size() >= 0x444) {
        std::memcpy(&psu[0x240], ".\0\0\0", 4);
        std::memcpy(&psu[0x440], "..\0\0", 4);
    }
    size_t max_size = 0, back_size = 0;
    if (convert_psu_to_max(psu, build, max, &max_size) != MaxError::ok) {
        FUZZ_CHECK(max_size == 0);
        return 0;
    }
    FUZZ_CHECK(max_size >= kMaxHeaderSize && max_size <= kWorkBufferSize);
    FUZZ_CHECK(compute_max_crc(std::span(max).first(max_size)) == load_u32le(max.data() + max_field::crc));
    FUZZ_CHECK(convert_max_to_psu(std::span(max).first(max_size), build, back, &back_size) == MaxError::ok);
    /* Same name (cut to 32 bytes), count, and member names, sizes and bytes. */
    FUZZ_CHECK(psu_record_name(psu.data()) == psu_record_name(back.data()));
    const uint32_t count = record_length(psu.data());
    FUZZ_CHECK(record_length(back.data()) == count);
    size_t a = kPsuFirstMember, b = kPsuFirstMember;
    for (uint32_t i = 0; i + 2 < count; ++i) {
        const uint32_t len = record_length(&psu[a]);
        FUZZ_CHECK(record_length(&back[b]) == len);
        FUZZ_CHECK(psu_record_name(&psu[a]) == psu_record_name(&back[b]));
        FUZZ_CHECK(std::memcmp(&psu[a + 512], &back[b + 512], len) == 0);
        a += 512 + size_t(psu_padded_size(len));
        b += 512 + size_t(psu_padded_size(len));
    }
    FUZZ_CHECK(b == back_size);

    /* Into the file's own memory. */
    std::memcpy(own.data(), psu.data(), psu.size());
    size_t own_size = 0;
    FUZZ_CHECK(convert_psu_to_max(std::span(own).first(psu.size()), build, own, &own_size) == MaxError::ok);
    FUZZ_CHECK(own_size == max_size && std::memcmp(own.data(), max.data(), max_size) == 0);
    return 0;
}
