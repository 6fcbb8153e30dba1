/* maleto.cpp -- new names for PSU archives after their save's name and title */
#include "rename/maleto.h"

#include <cstring>

#include "common/psu.h"

namespace ps2 {

const char* maleto_error_text(MaletoError e)
{
    static const char* const texts[] = {MALETO_ERROR_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(e));
}

MaletoError read_save_name(std::span<const uint8_t, kPsuEntrySize> top, std::string_view* name)
{
    *name = {};
    if (top[psu_field::name] == 0 || top[psu_field::name + 1] == 0) return MaletoError::name_too_short;
    *name = psu_record_name(top.data());
    return MaletoError::ok;
}

size_t find_title_block(std::span<const uint8_t> chunk)
{
    for (size_t at = 0; at < chunk.size(); at += kTitleBlockAlign)
        if (has_icon_sys_magic(chunk.subspan(at))) return at;
    return chunk.size();
}

std::string_view read_title(std::span<const uint8_t> block)
{
    /* Never past the 512-byte block: the title may run on to its end. */
    return icon_sys_title(block.first(block.size() < kTitleBlockAlign ? block.size() : kTitleBlockAlign),
                          kTitleBlockAlign);
}

MaletoError format_new_path(const char* path, std::string_view name, std::string_view title, const PathRules& rules,
                            PathBuffer* out, size_t* name_at)
{
    const char* name_part = find_name_part(path, rules);
    *name_at = size_t(name_part - path);
    if (!out->assign(path)) return MaletoError::path_too_long;
    out->cut(*name_at);
    if (!out->append(name.data(), name.size()) || !out->append("-[") || !out->append(title.data(), title.size()) ||
        !out->append("].psu"))
        return MaletoError::path_too_long;
    return MaletoError::ok;
}

/* Full-width digits and Latin letters of Shift_JIS row 0x82 have ASCII forms. */
static char fold_pair(unsigned w, uint8_t trail)
{
    if (w >= 0x824F && w <= 0x8258) return char(trail - 0x1F); /* ０-９ */
    if (w >= 0x8260 && w <= 0x8279) return char(trail - 0x1F); /* Ａ-Ｚ */
    if (w >= 0x8281 && w <= 0x829A) return char(trail - 0x20); /* ａ-ｚ */
    return '_';
}

static char file_name_char(uint8_t c)
{
    if (c >= 0x01 && c <= 0x1F) return '_';
    if (c >= 0x7F) return '_';
    switch (c) {
    case '"':
    case '*':
    case '/':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '|':
        return '_';
    case ':':
        return ';';
    default:
        return char(c);
    }
}

void remove_sjis(char* name)
{
    /* A 16-bit window of the previous and the current byte; the previous
     * byte is 0 at the start and after every converted pair, so a trail byte
     * never starts a new pair. */
    uint8_t prev = 0;
    for (char* p = name; *p != '\0'; ++p) {
        const uint8_t cur = uint8_t(*p);
        const unsigned w = (unsigned(prev) << 8) | cur;
        const bool in_rows = (w >= 0x8140 && w <= 0x9FFC) || (w >= 0xE040 && w <= 0xEFFC);
        const bool trail_ok = (cur >= 0x40 && cur <= 0x7E) || (cur >= 0x80 && cur <= 0xFC);
        if (in_rows && trail_ok) {
            p[-1] = '_';
            *p = fold_pair(w, cur);
            prev = 0;
        } else {
            prev = cur;
        }
    }
    for (char* p = name; *p != '\0'; ++p) *p = file_name_char(uint8_t(*p));
}

size_t name_in_user_charset(std::string_view name, const TextConverter& to_user, std::string* out)
{
    out->clear();
    size_t fell_back = 0;
    std::string converted;
    for (size_t at = 0; at < name.size();) {
        const size_t n = shift_jis_char_size(name.substr(at));
        const std::string_view c = name.substr(at, n);
        at += n;
        if (uint8_t(c[0]) < 0x80) {
            out->append(c);
        } else if (to_user(c, &converted)) {
            out->append(converted);
        } else {
            char folded[3] = {c[0], n > 1 ? c[1] : '\0', '\0'};
            remove_sjis(folded);
            out->append(folded, n);
            ++fell_back;
        }
    }
    return fell_back;
}

bool name_stays_in_folder(const char* name, const PathRules& rules)
{
    if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    for (const char* p = name; *p != '\0'; p = rules.step(p))
        if (*p == '/' || *p == rules.separator) return false;
    return true;
}

} // namespace ps2
