/* maleto_names_fuzz.cpp -- MALETO's title search and name building never read outside the bytes read, keep
 * the file in its folder, and accept a new name only when it stays there: with REMOVE SJIS always (the fold
 * leaves no separator, no control and no byte of 0x80 or more), without it only when the check says so and
 * an independent judgement agrees; in the user's character set, a character without a form there folds as
 * REMOVE SJIS folds it: plain ASCII of the same length, no separator added. Input: the top entry (512 bytes), then the chunk read behind it. */
#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "rename/maleto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ps2;
    uint8_t top[512] = {};
    if (size) std::memcpy(top, data, size < 512 ? size : 512);
    const std::span<const uint8_t> chunk(size > 512 ? data + 512 : nullptr, size > 512 ? size - 512 : 0);
    std::string_view name;
    if (read_save_name(top, &name) != MaletoError::ok) return 0;
    FUZZ_CHECK(name.size() >= 2 && name.size() <= 32);
    const size_t at = find_title_block(chunk);
    FUZZ_CHECK(at <= chunk.size());
    FUZZ_CHECK(at == chunk.size() || (at % kTitleBlockAlign == 0 && std::memcmp(chunk.data() + at, "PS2D", 4) == 0));
    const std::string_view title = at < chunk.size() ? read_title(chunk.subspan(at)) : std::string_view();
    FUZZ_CHECK(title.size() <= kTitleBlockAlign - kIconSysTitleOffset);

    for (const PathRules* rules : {&kWindowsShiftJisRules, &kPosixRules}) {
        const char* path = rules->separator == '\\' ? "C:\\saves\\x.psu" : "/saves/x.psu";
        const size_t folder = rules->separator == '\\' ? 9 : 7;
        PathBuffer out;
        size_t name_at = 0;
        if (format_new_path(path, name, title, *rules, &out, &name_at) != MaletoError::ok) continue;
        FUZZ_CHECK(name_at == folder && std::memcmp(out.c_str(), path, folder) == 0);
        const size_t len = out.length();
        FUZZ_CHECK(std::strlen(out.c_str()) == len);
        /* In a character set that has none of its characters: ASCII kept, the rest folded, the length kept. */
        std::string in_user;
        const size_t fell_back = name_in_user_charset(out.c_str() + name_at, TextConverter{}, &in_user);
        FUZZ_CHECK(in_user.size() == len - name_at && fell_back <= in_user.size());
        const std::string_view formed(out.c_str() + name_at);
        for (const char c : in_user) FUZZ_CHECK(uint8_t(c) < 0x80);
        for (const char sep : {'/', '\\'}) /* the fold adds no separator */
            FUZZ_CHECK(std::count(in_user.begin(), in_user.end(), sep) <= std::count(formed.begin(), formed.end(), sep));
        /* Without the option: accepted only when it stays in the folder. */
        if (name_stays_in_folder(out.c_str() + name_at, *rules))
            FUZZ_CHECK(fuzz::stays_in_folder(out.c_str() + name_at, *rules));
        /* With it: always a plain name of the same length. */
        remove_sjis(out.data() + name_at);
        FUZZ_CHECK(std::strlen(out.c_str()) == len);
        for (const char* p = out.c_str() + name_at; *p; ++p)
            FUZZ_CHECK(*p != '/' && *p != '\\' && uint8_t(*p) < 0x80 && uint8_t(*p) >= 0x20);
    }
    return 0;
}
