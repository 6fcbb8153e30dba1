/* sjis.h -- the Shift_JIS text of saves (names, titles) in the user's character set: the rules, over a
 * converter that the platform layer gives */
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ps2 {

/* Converts a whole Shift_JIS text (code page 932) into the user's character set: true with *out the
 * converted text, false with *out unchanged when some byte does not convert. The platform layer gives
 * one (plat::ShiftJisToLocale::converter); an empty converter converts nothing. */
struct TextConverter {
    bool (*convert)(const void* context, std::string_view text, std::string* out) = nullptr;
    const void* context = nullptr;
    const char* charset = ""; /* the set it converts into ("UTF-8"), for messages */

    [[nodiscard]] bool operator()(std::string_view text, std::string* out) const
    {
        return convert != nullptr && convert(context, text, out);
    }
};

/* Bytes of the Shift_JIS character that begins text: 2 for a lead byte (0x81-0x9F, 0xE0-0xFC) followed by
 * a trail byte (0x40-0x7E, 0x80-0xFC), else 1; 0 for an empty text. */
size_t shift_jis_char_size(std::string_view text);

bool is_plain_ascii(std::string_view text);
/* Well-formed UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF. */
bool is_valid_utf8(std::string_view text);

/* A save's or a member's name as a file name in the user's character set. Names in ASCII or in valid
 * UTF-8 stay as they are (false); any other name is taken for Shift_JIS and, when it converts whole,
 * *out is the converted name (true). A name that does not convert stays as it is (false). */
[[nodiscard]] bool save_name_to_user(std::string_view name, const TextConverter& to_user, std::string* out);

} // namespace ps2
