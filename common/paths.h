/* paths.h -- the frame helpers over NUL-terminated ANSI byte strings: copy, compare, name part, extension point */
#pragma once

#include <cstddef>
#include <cstdint>

namespace ps2 {

/* Capacity of every path and line buffer of the tools, terminating NUL included. */
inline constexpr size_t kPathCapacity = 1024;

/* Character stepping: returns the start of the character after the one at p.
 * Never steps over a NUL (a lead byte followed by NUL is one character). */
using CharStep = const char* (*)(const char* p);

/* How paths of one platform are scanned: the folder separator and the
 * character stepping of its code page. */
struct PathRules {
    char separator;
    CharStep step;
};

const char* step_single_byte(const char* p);
/* Shift_JIS (code page 932): lead bytes 0x81-0x9F and 0xE0-0xFC start a
 * two-byte character whose second byte may have the value of "\". */
const char* step_shift_jis(const char* p);
bool is_shift_jis_lead(uint8_t byte);

/* Windows with code page 932, and POSIX ("/" and single bytes). The running
 * program's own rules come from the platform layer (plat::native_path_rules). */
inline constexpr PathRules kWindowsShiftJisRules{'\\', step_shift_jis};
inline constexpr PathRules kWindowsSingleByteRules{'\\', step_single_byte};
inline constexpr PathRules kPosixRules{'/', step_single_byte};

/* Copies src with its NUL into dst of the given capacity and returns the
 * position of the copied NUL, so that a suffix can be appended there.
 * Returns nullptr (and leaves dst an empty string) when src does not fit. */
char* copy_string(char* dst, size_t capacity, const char* src);

/* Byte-by-byte compare up to and including the first NUL: 0 when equal,
 * otherwise the difference of the first differing bytes (as unsigned). */
int compare_exact(const char* a, const char* b);
/* As compare_exact, with a-z folded to A-Z on both sides (no other byte). */
int compare_folded(const char* a, const char* b);
inline uint8_t fold_ascii_upper(uint8_t c) { return (c >= 'a' && c <= 'z') ? uint8_t(c - 0x20) : c; }

/* The position just after the last separator; the start when there is none. */
const char* find_name_part(const char* path, const PathRules& rules);
inline char* find_name_part(char* path, const PathRules& rules)
{
    return const_cast<char*>(find_name_part(static_cast<const char*>(path), rules));
}

/* The last "." behind which no separator follows, or the end of the path. */
const char* find_extension_point(const char* path, const PathRules& rules);
inline char* find_extension_point(char* path, const PathRules& rules)
{
    return const_cast<char*>(find_extension_point(static_cast<const char*>(path), rules));
}

/* A fixed 1024-byte path buffer with checked appends: nothing is ever cut
 * silently; an append that does not fit leaves the text unchanged and
 * returns false. */
class PathBuffer {
public:
    PathBuffer() { text_[0] = '\0'; }
    [[nodiscard]] bool assign(const char* s);
    [[nodiscard]] bool append(const char* s);
    [[nodiscard]] bool append(const char* s, size_t n);
    /* Cuts the text at offset n (n <= length). */
    void cut(size_t n);
    const char* c_str() const { return text_; }
    char* data() { return text_; }
    size_t length() const { return length_; }
    static constexpr size_t capacity() { return kPathCapacity; }

private:
    char text_[kPathCapacity];
    size_t length_ = 0;
};

} // namespace ps2
