/* fuzz_support.h -- what the fuzz targets share: a check that names its condition, input slicing, and an
 * independent judgement of whether a file name stays inside the folder it is joined to */
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "common/paths.h"

/* Aborts with the failed condition, so that a finding says which property broke. */
#define FUZZ_CHECK(cond)                                                                       \
    do {                                                                                       \
        if (!(cond)) {                                                                         \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace ps2::fuzz {

/* Takes the input piece by piece; a piece asked for past the end is what is left (maybe nothing). */
class InputCursor {
public:
    InputCursor(const uint8_t* data, size_t size) : bytes_(size ? data : nullptr, size) {}

    uint8_t byte() { return pos_ < bytes_.size() ? bytes_[pos_++] : 0; }
    uint32_t u16() { return uint32_t(byte()) | uint32_t(byte()) << 8; }
    std::span<const uint8_t> take(size_t n)
    {
        const size_t k = n < bytes_.size() - pos_ ? n : bytes_.size() - pos_;
        const std::span<const uint8_t> s = bytes_.subspan(pos_, k);
        pos_ += k;
        return s;
    }
    std::span<const uint8_t> rest() { return take(bytes_.size() - pos_); }
    bool empty() const { return pos_ == bytes_.size(); }

private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

/* Whether "<folder><separator><name>" names an entry directly inside the folder, judged without the
 * code under test: POSIX: not empty, "." or "..", and no "/"; Windows (with the rules' character
 * stepping): no "\" or "/" at a character start, and something left once the trailing dots and spaces
 * that Windows drops are gone (which rules out "", "." and ".."). */
inline bool stays_in_folder(std::string_view name, const PathRules& rules)
{
    if (name.find('\0') != std::string_view::npos) return false;
    if (rules.separator == '/') return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
    char text[kPathCapacity];
    if (name.size() >= sizeof text) return false;
    for (size_t i = 0; i < name.size(); ++i) text[i] = name[i];
    text[name.size()] = '\0';
    for (const char* p = text; *p;) {
        const char* next = rules.step(p);
        if (next == p + 1 && (*p == '\\' || *p == '/')) return false;
        p = next;
    }
    size_t kept = name.size();
    while (kept > 0 && (name[kept - 1] == '.' || name[kept - 1] == ' ')) --kept;
    return kept > 0;
}

} // namespace ps2::fuzz
