/* unpack_rebuild_fuzz.cpp -- any manifest text rebuilds within its buffer, never past it, into a linear walk
 * of whole entries; the rebuild only ever asks for member files whose names stay inside the folder (and are
 * not the manifest), and the result is only ever named so that it stays there too. Both systems' rules. */
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/psu.h"
#include "fuzz/fuzz_support.h"
#include "unpack/rebuild.h"

namespace {

/* Every member file exists (but those named "!..."); its size comes from its name, up to 5000 bytes. The
 * context holds the rules the rebuild runs with: each name asked for must stay inside the folder. */
const char* read_any(void* context, std::string_view name2, std::span<uint8_t> room, uint64_t* file_size,
                     size_t* bytes_read)
{
    const ps2::PathRules& rules = *static_cast<const ps2::PathRules*>(context);
    FUZZ_CHECK(ps2::fuzz::stays_in_folder(name2, rules));
    FUZZ_CHECK(ps2::check_member_name(name2, rules) == ps2::MemberNameFault::none);
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
    for (const ps2::PathRules* rules : {&ps2::kPosixRules, &ps2::kWindowsShiftJisRules})
        for (const size_t capacity : {size_t(1) << 16, size_t(6000)}) {
            std::vector<uint8_t> out(capacity + 16, 0);
            std::fill(out.begin() + long(capacity), out.end(), 0xCC);
            ps2::RebuildResult result;
            const ps2::MemberSource source{&read_any, const_cast<ps2::PathRules*>(rules)};
            const ps2::RebuildError e =
                ps2::rebuild_psu({size ? data : nullptr, size}, source, *rules, std::span<uint8_t>(out).first(capacity), &result);
            for (size_t i = capacity; i < out.size(); ++i) FUZZ_CHECK(out[i] == 0xCC);
            if (e != ps2::RebuildError::ok) {
                FUZZ_CHECK(e == ps2::RebuildError::no_entries || !result.problems.empty());
                continue;
            }
            FUZZ_CHECK(result.size <= capacity && result.entries != 0);
            /* The result walks linearly into exactly result.entries whole entries. */
            size_t pos = 0, entries = 0;
            while (pos < result.size) {
                FUZZ_CHECK(result.size - pos >= ps2::kPsuEntrySize);
                const uint8_t* r = out.data() + pos;
                pos += ps2::kPsuEntrySize;
                if (ps2::mode_is_file(ps2::record_mode(r))) pos += size_t(ps2::psu_padded_size(ps2::record_length(r)));
                ++entries;
            }
            FUZZ_CHECK(pos == result.size && entries == result.entries);
            /* The name it would be written under. */
            for (const bool temp_names : {false, true}) {
                std::string name;
                if (ps2::rebuild_result_name(std::span(out).first(result.size), temp_names, *rules, &name) !=
                    ps2::MemberNameFault::none) {
                    FUZZ_CHECK(!temp_names && name.empty());
                    continue;
                }
                FUZZ_CHECK(name.size() > 4 && name.compare(name.size() - 4, 4, ".psu") == 0);
                FUZZ_CHECK(ps2::fuzz::stays_in_folder(name, *rules));
            }
        }
    return 0;
}
