/* psu_max_round_trip_fuzz.cpp -- any bytes taken as a PSU archive: refused, or PSU -> MAX -> PSU keeps every member */
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/psu.h"
#include "maxconv/max_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::vector<uint8_t> build(ps2::kWorkBufferSize), max(ps2::kWorkBufferSize), back(ps2::kWorkBufferSize);
    /* Give inputs the "." and ".." names so they get past recognition. */
    std::vector<uint8_t> psu(data, data + size);
    if (psu.size() >= 0x444) {
        std::memcpy(&psu[0x240], ".\0\0\0", 4);
        std::memcpy(&psu[0x440], "..\0\0", 4);
    }
    size_t max_size = 0, back_size = 0;
    if (ps2::convert_psu_to_max(psu, build, max, &max_size) != ps2::MaxError::ok) return 0;
    if (ps2::convert_max_to_psu(std::span(max).first(max_size), build, back, &back_size) != ps2::MaxError::ok)
        std::abort();
    /* Same name, count, and member names, sizes and bytes. */
    if (ps2::psu_record_name(psu.data()) != ps2::psu_record_name(back.data())) std::abort();
    const uint32_t count = ps2::record_length(psu.data());
    if (ps2::record_length(back.data()) != count) std::abort();
    size_t a = ps2::kPsuFirstMember, b = ps2::kPsuFirstMember;
    for (uint32_t i = 0; i + 2 < count; ++i) {
        const uint32_t len = ps2::record_length(&psu[a]);
        if (ps2::record_length(&back[b]) != len || ps2::psu_record_name(&psu[a]) != ps2::psu_record_name(&back[b]) ||
            std::memcmp(&psu[a + 512], &back[b + 512], len) != 0)
            std::abort();
        a += 512 + size_t(ps2::psu_padded_size(len));
        b += 512 + size_t(ps2::psu_padded_size(len));
    }
    if (b != back_size) std::abort();
    return 0;
}
