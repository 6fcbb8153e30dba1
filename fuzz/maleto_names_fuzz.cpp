/* maleto_names_fuzz.cpp -- MALETO's title search and name building never read outside and never
 * give a name with a separator once the REMOVE SJIS fold has run. Input: top entry, then the chunk. */
#include <cstdlib>
#include <cstring>

#include "rename/maleto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t top[512] = {};
    if (size) std::memcpy(top, data, size < 512 ? size : 512);
    const std::span<const uint8_t> chunk(size > 512 ? data + 512 : data, size > 512 ? size - 512 : 0);
    std::string_view name;
    if (ps2::read_save_name(top, &name) != ps2::MaletoError::ok) return 0;
    if (name.size() > 32) std::abort();
    const size_t at = ps2::find_title_block(chunk);
    if (at > chunk.size()) std::abort();
    const std::string_view title = at < chunk.size() ? ps2::read_title(chunk.subspan(at)) : std::string_view();
    if (title.size() > 512) std::abort();
    for (const ps2::PathRules* rules : {&ps2::kWindowsShiftJisRules, &ps2::kPosixRules}) {
        ps2::PathBuffer out;
        size_t name_at = 0;
        if (ps2::format_new_path("C:\\saves\\x.psu", name, title, *rules, &out, &name_at) != ps2::MaletoError::ok)
            continue;
        const size_t len = out.length();
        ps2::remove_sjis(out.data() + name_at);
        if (out.length() != len || std::strlen(out.c_str()) > len) std::abort();
        for (const char* p = out.c_str() + name_at; *p; ++p)
            if (*p == '/' || *p == '\\' || uint8_t(*p) >= 0x80 || uint8_t(*p) < 0x20) std::abort();
    }
    return 0;
}
