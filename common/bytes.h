/* bytes.h -- little-endian loads and stores, text fields, and bounds-checked cursors over bytes */
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace ps2 {

/* ---- little-endian loads and stores ---- */

inline uint16_t load_u16le(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t load_u32le(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
/* One unaligned 8-byte load: the word-at-a-time loops (page code, match search) rely on it being one. */
inline uint64_t load_u64le(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
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

/* ---- text fields ---- */

/* A fixed-width text field read up to its first NUL, never past its width
 * (a field filled to the last byte has no NUL). */
inline std::string_view text_field(const uint8_t* field, size_t width)
{
    const char* text = reinterpret_cast<const char*>(field);
    const void* nul = std::memchr(text, 0, width);
    return std::string_view(text, nul ? size_t(static_cast<const char*>(nul) - text) : width);
}

/* ---- cursors ---- */

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
    /* Skips n bytes, or to the end when fewer remain (padding a cut file may lack). */
    void skip_at_most(uint64_t n) { pos_ += size_t(n < remaining() ? n : remaining()); }

private:
    std::span<const uint8_t> data_;
    size_t pos_;
};

/* A write cursor into a caller's buffer, with the same checks: a put that
 * does not fit writes nothing and returns false. */
class ByteWriter {
public:
    explicit ByteWriter(std::span<uint8_t> out) : out_(out) {}

    size_t size() const { return pos_; }
    size_t room() const { return out_.size() - pos_; }
    bool can_put(uint64_t n) const { return n <= room(); }
    uint8_t* at(size_t offset) { return out_.data() + offset; }

    [[nodiscard]] bool put(const uint8_t* p, size_t n)
    {
        if (n > room()) return false;
        if (n) std::memcpy(out_.data() + pos_, p, n);
        pos_ += n;
        return true;
    }
    [[nodiscard]] bool put_zeros(uint64_t n)
    {
        if (n > room()) return false;
        std::memset(out_.data() + pos_, 0, size_t(n));
        pos_ += size_t(n);
        return true;
    }
    /* Goes back to an earlier size: what was written behind it no longer counts. */
    void rewind(size_t size) { pos_ = size < pos_ ? size : pos_; }

private:
    std::span<uint8_t> out_;
    size_t pos_ = 0;
};

} // namespace ps2
