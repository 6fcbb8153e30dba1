/* psu_walk_fuzz.cpp -- the PSU archive walk never crashes, never reads outside, and its nodes lie inside */
#include <cstdlib>
#include <vector>

#include "common/psu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    std::vector<ps2::PsuNode> nodes;
    size_t end = 0;
    const ps2::PsuError e = ps2::walk_psu_archive(bytes, &nodes, &end);
    if (end > size) std::abort();
    for (const auto& n : nodes) {
        if (n.offset + ps2::kPsuEntrySize > size) std::abort();
        if (n.kind == ps2::PsuNodeKind::file && n.data_offset + uint64_t(n.data_length) > size) std::abort();
    }
    if (e == ps2::PsuError::ok && end != size) std::abort();
    return 0;
}
