/* paths.cpp -- the frame helpers over NUL-terminated ANSI byte strings */
#include "common/paths.h"

#include <cstring>

namespace ps2 {

const char* step_single_byte(const char* p) { return *p ? p + 1 : p; }

bool is_shift_jis_lead(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

const char* step_shift_jis(const char* p)
{
    if (*p == '\0') return p;
    if (is_shift_jis_lead(uint8_t(*p)) && p[1] != '\0') return p + 2;
    return p + 1;
}

char* copy_string(char* dst, size_t capacity, const char* src)
{
    const size_t n = std::strlen(src);
    if (capacity == 0) return nullptr;
    if (n >= capacity) {
        dst[0] = '\0';
        return nullptr;
    }
    std::memcpy(dst, src, n + 1);
    return dst + n;
}

int compare_exact(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        const int d = int(uint8_t(*a)) - int(uint8_t(*b));
        if (d != 0 || *a == '\0') return d;
    }
}

int compare_folded(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        const int d = int(fold_ascii_upper(uint8_t(*a))) - int(fold_ascii_upper(uint8_t(*b)));
        if (d != 0 || *a == '\0') return d;
    }
}

/* Both scans step "\" and "." as single bytes and every other character with
 * the code page's stepping, so a trail byte is never taken for a separator. */
static const char* step_path_char(const char* p, const PathRules& rules)
{
    if (*p == rules.separator || *p == '.') return p + 1;
    return rules.step(p);
}

const char* find_name_part(const char* path, const PathRules& rules)
{
    const char* name = path;
    for (const char* p = path; *p != '\0'; p = step_path_char(p, rules))
        if (*p == rules.separator) name = p + 1;
    return name;
}

const char* find_extension_point(const char* path, const PathRules& rules)
{
    const char* mark = path;
    const char* p = path;
    for (; *p != '\0'; p = step_path_char(p, rules))
        if (*p == rules.separator || *p == '.') mark = p;
    return *mark == '.' ? mark : p;
}

bool PathBuffer::assign(const char* s)
{
    const size_t n = std::strlen(s);
    if (n >= kPathCapacity) return false;
    std::memcpy(text_, s, n + 1);
    length_ = n;
    return true;
}

bool PathBuffer::append(const char* s) { return append(s, std::strlen(s)); }

bool PathBuffer::append(const char* s, size_t n)
{
    if (n >= kPathCapacity - length_) return false;
    if (n != 0) std::memcpy(text_ + length_, s, n); /* an empty view may have no data at all */
    length_ += n;
    text_[length_] = '\0';
    return true;
}

void PathBuffer::cut(size_t n)
{
    if (n < length_) {
        length_ = n;
        text_[n] = '\0';
    }
}

} // namespace ps2
