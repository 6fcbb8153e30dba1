/* sjis.cpp -- the Shift_JIS text of saves in the user's character set */
#include "common/sjis.h"

#include <cstdint>

namespace ps2 {

size_t shift_jis_char_size(std::string_view text)
{
    if (text.empty()) return 0;
    const uint8_t lead = uint8_t(text[0]);
    if (text.size() < 2 || !((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC))) return 1;
    const uint8_t trail = uint8_t(text[1]);
    return (trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC) ? 2 : 1;
}

bool is_plain_ascii(std::string_view text)
{
    for (const char c : text)
        if (uint8_t(c) >= 0x80) return false;
    return true;
}

bool is_valid_utf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        const uint8_t c = uint8_t(text[i]);
        size_t more = 0;
        uint32_t cp = 0, least = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1, cp = c & 0x1Fu, least = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2, cp = c & 0x0Fu, least = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3, cp = c & 0x07u, least = 0x10000;
        } else {
            return false; /* a continuation byte, C0/C1 or F5-FF at a character's start */
        }
        if (more > text.size() - i - 1) return false;
        for (size_t k = 1; k <= more; ++k) {
            const uint8_t t = uint8_t(text[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3Fu);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += more + 1;
    }
    return true;
}

bool save_name_to_user(std::string_view name, const TextConverter& to_user, std::string* out)
{
    if (is_plain_ascii(name) || is_valid_utf8(name)) return false;
    return to_user(name, out);
}

} // namespace ps2
