/* unpack_rebuild_fuzz.cpp -- any manifest text rebuilds within the buffer, never past it, into a linear walk of whole entries */
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "common/psu.h"
#include "unpack/rebuild.h"

namespace {

/* Every member file exists; its size comes from its name, up to 5000 bytes. */
const char* read_any(void*, std::string_view name2, std::span<uint8_t> room, uint64_t* file_size, size_t* bytes_read)
{
    if (!name2.empty() && name2[0] == '!') return "missing";
    uint32_t h = 2166136261u;
    for (const char c : name2) h = (h ^ uint8_t(c)) * 16777619u;
    *file_size = h % 5001;
    *bytes_read = size_t(std::min<uint64_t>(*file_size, room.size()));
    std::fill_n(room.begin(), *bytes_read, uint8_t(h));
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    /* A small buffer as well, so that the size limit is met often. */
    for (const size_t capacity : {size_t(1) << 16, size_t(6000)}) {
        std::vector<uint8_t> out(capacity + 16, 0);
        std::fill(out.begin() + long(capacity), out.end(), 0xCC);
        ps2::RebuildResult result;
        const ps2::MemberSource source{&read_any, nullptr};
        const ps2::RebuildError e = ps2::rebuild_psu({data, size}, source, ps2::kPosixRules,
                                                     std::span<uint8_t>(out).first(capacity), &result);
        for (size_t i = capacity; i < out.size(); ++i)
            if (out[i] != 0xCC) std::abort();
        if (e != ps2::RebuildError::ok) {
            if (e != ps2::RebuildError::no_entries && result.problems.empty()) std::abort();
            continue;
        }
        if (result.size > capacity || result.entries == 0) std::abort();
        /* The result walks linearly into exactly result.entries whole entries. */
        size_t pos = 0, entries = 0;
        while (pos < result.size) {
            if (result.size - pos < ps2::kPsuEntrySize) std::abort();
            const uint8_t* r = out.data() + pos;
            pos += ps2::kPsuEntrySize;
            if (ps2::mode_is_file(ps2::record_mode(r))) pos += size_t(ps2::psu_padded_size(ps2::record_length(r)));
            ++entries;
        }
        if (pos != result.size || entries != result.entries) std::abort();
    }
    return 0;
}
