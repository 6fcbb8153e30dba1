/* cardbuild_gui_fixture.h -- the archives the TAVIRO window test drops, and the fingerprints of the card
 * images built from them. Shared by the window test under Wine (tests/gui/taviro_gui_test.cpp) and a
 * native test that builds the same list through the code the command line uses: both must meet the
 * same fingerprints, so the window's image equals the command line's byte for byte.
 * Header only, no other includes of the project, so the Wine driver needs nothing linked. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace ps2::gui_fixture {

/* 64-bit FNV-1a. */
inline uint64_t fingerprint(const uint8_t* p, size_t n)
{
    uint64_t h = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
    return h;
}
inline uint64_t fingerprint(const std::string& bytes)
{
    return fingerprint(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

namespace detail {

inline void put_record(std::string& out, uint16_t mode, uint32_t length, const char* name, uint32_t stamp)
{
    std::string r(512, '\0');
    r[0] = char(mode & 0xFF);
    r[1] = char(mode >> 8);
    for (int k = 0; k < 4; ++k) r[4 + k] = char(length >> (8 * k));
    for (int k = 0; k < 4; ++k) r[8 + k] = r[0x18 + k] = char(stamp >> (8 * k)); /* time stamps */
    for (int k = 0; k < 4; ++k) r[0x10 + k] = char(0x77 >> (8 * k));              /* a foreign card's cluster */
    std::memcpy(&r[0x40], name, std::strlen(name) < 32 ? std::strlen(name) : 32);
    out += r;
}

inline void put_file(std::string& out, const char* name, uint32_t size, uint32_t seed)
{
    put_record(out, 0x8417, size, name, seed);
    uint32_t x = seed * 2654435761u + 1;
    for (uint32_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        out += char(x >> 24);
    }
    out.append((1024 - size % 1024) % 1024, '\0');
}

inline void put_directory_head(std::string& out, const char* name, uint32_t members, uint32_t stamp)
{
    put_record(out, 0x8427, members + 2, name, stamp);
    put_record(out, 0x8427, 0, ".", stamp);
    put_record(out, 0x8427, 0, "..", stamp);
}

} // namespace detail

/* File name and bytes of each archive. */
using Archive = std::pair<std::string, std::string>;

/* Four saves: sizes at the cluster edges, an empty file, a nested directory. */
inline std::vector<Archive> archives()
{
    using namespace detail;
    std::vector<Archive> v;
    std::string a;
    put_directory_head(a, "BASLUS-11111ALPHA", 3, 1);
    put_file(a, "icon.sys", 964, 1);
    put_file(a, "DATA", 1024, 2);
    put_file(a, "MORE", 1025, 3);
    v.push_back({"alpha.psu", a});

    std::string b;
    put_directory_head(b, "BESLES-22222BRAVO", 2, 2);
    put_file(b, "EMPTY", 0, 4);
    put_file(b, "BIG", 70000, 5);
    v.push_back({"Bravo.psu", b});

    std::string c;
    put_directory_head(c, "BISLPS-33333CHARLIE", 2, 3);
    put_file(c, "TOP", 1023, 6);
    put_directory_head(c, "SUB", 2, 3);
    put_file(c, "IN", 3000, 7);
    put_file(c, "NIL", 0, 8);
    v.push_back({"charlie.psu", c});

    std::string d;
    put_directory_head(d, "BASLUS-44444DELTA", 1, 4);
    put_file(d, "ONLY", 1, 9);
    v.push_back({"delta.psu", d});
    return v;
}

/* A save too large for what is left of a card: one file of `clusters` clusters of zeros. */
inline std::string big_archive(const char* name, uint32_t clusters)
{
    using namespace detail;
    std::string s;
    put_directory_head(s, name, 1, 5);
    put_record(s, 0x8417, clusters * 1024, "D", 5);
    s.append(size_t(clusters) * 1024, '\0');
    return s;
}

/* The order the window test leaves its list in before saving, by file name. */
inline const std::vector<std::string>& saved_order()
{
    static const std::vector<std::string> order = {"delta.psu", "alpha.psu", "charlie.psu", "Bravo.psu"};
    return order;
}

/* Fingerprints of the card images built from saved_order() (empty files with the first cluster 0xFFFFFFFF). */
inline constexpr uint64_t kRawFingerprint = 0xCA88F01B83D2989Aull;
inline constexpr uint64_t kCodedFingerprint = 0x093AB618FD16E25Bull;

} // namespace ps2::gui_fixture
