/* iconsys.h -- the facts of the PS2 icon description (icon.sys) that the tools read: its magic and its title */
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "common/bytes.h"

namespace ps2 {

/* An icon description is recognised by its first four bytes alone. */
inline constexpr char kIconSysMagic[4] = {'P', 'S', '2', 'D'};
inline constexpr size_t kIconSysMagicSize = sizeof kIconSysMagic;
/* u16: the byte of the title at which its second display line begins. */
inline constexpr size_t kIconSysLineBreakOffset = 0x06;
/* The display title: Shift_JIS text, NUL-terminated when shorter than the field. */
inline constexpr size_t kIconSysTitleOffset = 0xC0;
inline constexpr size_t kIconSysTitleSize = 68;

/* True when the bytes begin with "PS2D". */
inline bool has_icon_sys_magic(std::span<const uint8_t> bytes)
{
    return bytes.size() >= kIconSysMagicSize && std::memcmp(bytes.data(), kIconSysMagic, kIconSysMagicSize) == 0;
}

/* The title of an icon description up to its first NUL, read at most `room`
 * bytes from the title's offset (never past the bytes given; empty when
 * they end before the title). */
inline std::string_view icon_sys_title(std::span<const uint8_t> bytes, size_t room)
{
    if (bytes.size() <= kIconSysTitleOffset) return {};
    const size_t left = bytes.size() - kIconSysTitleOffset;
    return text_field(bytes.data() + kIconSysTitleOffset, room < left ? room : left);
}

/* The title as one line, NUL-terminated into out (at most capacity - 1
 * bytes): its two display lines, which meet at the line-break offset,
 * joined by one space when neither the end of the first nor the start of
 * the second is a space (" " or the full-width 0x81 0x40). The offset is
 * taken only where it falls between two Shift_JIS characters inside the
 * title. Returns the length written. */
inline size_t icon_sys_joined_title(std::span<const uint8_t> bytes, char* out, size_t capacity)
{
    if (capacity == 0) return 0;
    const std::string_view title = icon_sys_title(bytes, kIconSysTitleSize);
    const size_t brk = bytes.size() >= kIconSysLineBreakOffset + 2 ? load_u16le(bytes.data() + kIconSysLineBreakOffset) : 0;
    auto lead = [](unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); };
    auto space_at = [&](size_t k) {
        return title[k] == ' ' || (k + 1 < title.size() && uint8_t(title[k]) == 0x81 && uint8_t(title[k + 1]) == 0x40);
    };
    bool join = false;
    if (brk > 0 && brk < title.size()) {
        size_t at = 0, before = 0;
        while (at < brk) {
            before = at;
            at += lead(uint8_t(title[at])) && at + 1 < title.size() ? 2 : 1;
        }
        join = at == brk && !space_at(before) && !space_at(brk);
    }
    size_t n = 0;
    for (size_t k = 0; k < title.size() && n + 1 < capacity; ++k) {
        if (join && k == brk && n + 2 < capacity) out[n++] = ' ';
        out[n++] = title[k];
    }
    out[n] = '\0';
    return n;
}

} // namespace ps2
