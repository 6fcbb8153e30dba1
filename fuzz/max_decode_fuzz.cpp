/* max_decode_fuzz.cpp -- any bytes taken as a MAX archive: refused or converted, never a read or write outside the buffers */
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/psu.h"
#include "maxconv/max_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::vector<uint8_t> build(ps2::kWorkBufferSize), out(ps2::kWorkBufferSize);
    /* Give most inputs the magic so they get past recognition. */
    std::vector<uint8_t> file(data, data + size);
    if (file.size() >= 12 && file[0] != 'P') std::memcpy(file.data(), "Ps2PowerSave", 12);
    size_t n = 0;
    const ps2::MaxError e = ps2::convert_max_to_psu(file, build, out, &n);
    if (e != ps2::MaxError::ok) return n == 0 ? 0 : (std::abort(), 0);
    /* What is written is a well-formed flat archive. */
    std::vector<ps2::PsuNode> nodes;
    size_t end = 0;
    if (n > out.size() || ps2::walk_psu_archive(std::span(out).first(n), &nodes, &end) != ps2::PsuError::ok) std::abort();
    return 0;
}
