/* psu_walk_fuzz.cpp -- the PSU archive walk never crashes, never reads outside, and its nodes lie inside */
#include <vector>

#include "common/psu.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    std::vector<ps2::PsuNode> nodes;
    size_t end = 0;
    const ps2::PsuError e = ps2::walk_psu_archive(bytes, &nodes, &end);
    FUZZ_CHECK(end <= size);
    for (const auto& n : nodes) {
        FUZZ_CHECK(n.offset + ps2::kPsuEntrySize <= size);
        FUZZ_CHECK(n.kind != ps2::PsuNodeKind::file || n.data_offset + uint64_t(n.data_length) <= size);
    }
    FUZZ_CHECK(e != ps2::PsuError::ok || end == size);
    return 0;
}
