/* bytes.h -- little-endian loads and stores, and a bounds-checked cursor over untrusted bytes */
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace ps2 {

inline uint16_t load_u16le(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t load_u32le(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void store_u16le(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void store_u32le(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

/* Rounds up to the next multiple of 1024 without overflow for any 32-bit length. */
inline uint64_t round_up_1024(uint64_t n) { return (n + 1023) & ~uint64_t(1023); }

/* A read cursor over bytes that came from a file. Every read checks the
 * remaining count first (need > remaining), never pos + need > size. */
class ByteCursor {
public:
    explicit ByteCursor(std::span<const uint8_t> data, size_t pos = 0)
        : data_(data), pos_(pos <= data.size() ? pos : data.size()) {}

    size_t position() const { return pos_; }
    size_t remaining() const { return data_.size() - pos_; }
    bool can_take(uint64_t need) const { return need <= remaining(); }

    /* Returns the next n bytes and advances, or an empty span (cursor unchanged) when fewer remain. */
    [[nodiscard]] bool take(uint64_t n, std::span<const uint8_t>* out)
    {
        if (n > remaining()) return false;
        *out = data_.subspan(pos_, size_t(n));
        pos_ += size_t(n);
        return true;
    }
    [[nodiscard]] bool skip(uint64_t n)
    {
        if (n > remaining()) return false;
        pos_ += size_t(n);
        return true;
    }

private:
    std::span<const uint8_t> data_;
    size_t pos_;
};

} // namespace ps2
