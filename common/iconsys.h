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

} // namespace ps2
