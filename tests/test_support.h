/* test_support.h -- what the tests share: a scratch folder, whole files in and out, a log of what a handler
 * reports. Plain C++ (no test framework), so benchmarks and fuzz drivers may use it too. */
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/report.h"

namespace ps2::test {

using Bytes = std::vector<uint8_t>;

inline Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }
inline std::string text_of(std::span<const uint8_t> b) { return std::string(b.begin(), b.end()); }
inline std::span<const uint8_t> span_of(std::string_view s)
{
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

/* ---- files ---- */

/* Writes the whole file (replacing it). */
inline void put(const std::string& path, std::span<const uint8_t> bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
inline void put(const std::string& path, std::string_view text) { put(path, span_of(text)); }

/* The whole file; empty when it cannot be read. One read of the whole size (byte-wise stream
 * iterators are slow in unoptimised sanitizer builds, and cards are 8 MB). */
template <class Out>
inline Out read_whole_file(const std::string& path)
{
    Out out;
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    if (!f) return out;
    const std::streamoff size = f.tellg();
    if (size <= 0) return out;
    out.resize(size_t(size));
    f.seekg(0);
    f.read(reinterpret_cast<char*>(out.data()), std::streamsize(size));
    out.resize(size_t(f.gcount()));
    return out;
}
inline Bytes get(const std::string& path) { return read_whole_file<Bytes>(path); }
inline std::string get_text(const std::string& path) { return read_whole_file<std::string>(path); }

/* The names in a folder (raw bytes, "." and ".." left out), sorted; empty for a missing folder. */
inline std::vector<std::string> names_in(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

/* A fresh folder "<prefix>.XXXXXX" under the system's temporary folder, removed with everything in it. */
class TempDir {
public:
    explicit TempDir(const char* prefix = "ps2test")
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / (std::string(prefix) + ".XXXXXX")).string();
        if (!mkdtemp(tmpl.data())) std::abort();
        path_ = tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    /* "<folder>/<name>"; the name may hold further "/". */
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }
    /* The names in the folder, sorted. */
    std::vector<std::string> names() const { return names_in(path_); }

private:
    std::string path_;
};

/* ---- digests ---- */

/* SHA-256 of the bytes as 64 lower-case hex digits (FIPS 180-4), to compare with listings of real data. */
inline std::string sha256_hex(std::span<const uint8_t> data)
{
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5, 0xd807aa98,
        0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786,
        0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8,
        0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13,
        0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819,
        0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a,
        0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::vector<uint8_t> m(data.begin(), data.end());
    m.push_back(0x80);
    while (m.size() % 64 != 56) m.push_back(0);
    for (int i = 7; i >= 0; --i) m.push_back(uint8_t(uint64_t(data.size()) * 8 >> (8 * i)));
    auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
    for (size_t block = 0; block < m.size(); block += 64) {
        uint32_t w[64], v[8];
        for (int t = 0; t < 16; ++t)
            w[t] = uint32_t(m[block + 4 * t]) << 24 | uint32_t(m[block + 4 * t + 1]) << 16 |
                   uint32_t(m[block + 4 * t + 2]) << 8 | m[block + 4 * t + 3];
        for (int t = 16; t < 64; ++t)
            w[t] = w[t - 16] + (rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3)) + w[t - 7] +
                   (rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10));
        std::copy(h, h + 8, v);
        for (int t = 0; t < 64; ++t) {
            const uint32_t t1 = v[7] + (rotr(v[4], 6) ^ rotr(v[4], 11) ^ rotr(v[4], 25)) + ((v[4] & v[5]) ^ (~v[4] & v[6])) + k[t] + w[t];
            const uint32_t t2 = (rotr(v[0], 2) ^ rotr(v[0], 13) ^ rotr(v[0], 22)) + ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
            std::copy_backward(v, v + 7, v + 8);
            v[4] += t1;
            v[0] = t1 + t2;
        }
        for (int i = 0; i < 8; ++i) h[i] += v[i];
    }
    std::string hex;
    for (uint32_t x : h)
        for (int i = 28; i >= 0; i -= 4) hex += "0123456789abcdef"[(x >> i) & 15];
    return hex;
}

/* ---- real saves ---- */

/* Opens a GoogleTest body over the real saves in ../shared/realdata (PS2_REALDATA_DIR): skips, saying
 * so, when this checkout has no such folder; once the folder is there, every file named must be in it
 * (CI always has it, so a missing file fails rather than skips). */
#define PS2_REQUIRE_REALDATA(...)                                                              \
    do {                                                                                       \
        const std::filesystem::path realdata_ = PS2_REALDATA_DIR;                              \
        if (!std::filesystem::is_directory(realdata_))                                         \
            GTEST_SKIP() << "no real saves here: " << realdata_.string() << " is absent";      \
        for (const char* file_ : std::initializer_list<const char*>{__VA_ARGS__})             \
            ASSERT_TRUE(std::filesystem::is_regular_file(realdata_ / file_))                   \
                << file_ << " is missing from " << realdata_.string();                         \
    } while (0)

/* ---- reports ---- */

/* Keeps every line a handler reports, in order. */
class ReportLog {
public:
    struct Line {
        Severity severity;
        std::string subject, text;
        /* "subject: text", or the text alone when there is no subject. */
        std::string joined() const { return subject.empty() ? text : subject + ": " + text; }
    };
    std::vector<Line> lines;

    Reporter reporter()
    {
        Reporter r;
        r.emit = [](void* c, Severity s, const char* subject, const char* text) {
            static_cast<ReportLog*>(c)->lines.push_back({s, subject ? subject : "", text ? text : ""});
        };
        r.context = this;
        return r;
    }

    /* The joined lines of one severity. */
    std::vector<std::string> of(Severity s) const
    {
        std::vector<std::string> out;
        for (const Line& l : lines)
            if (l.severity == s) out.push_back(l.joined());
        return out;
    }
    std::vector<std::string> notes() const { return of(Severity::note); }
    std::vector<std::string> warnings() const { return of(Severity::warning); }
    std::vector<std::string> errors() const { return of(Severity::error); }

    size_t count(Severity s) const
    {
        return size_t(std::count_if(lines.begin(), lines.end(), [s](const Line& l) { return l.severity == s; }));
    }
    /* Some line of that severity holds `part` (in its subject or its text). */
    bool has(Severity s, std::string_view part) const
    {
        return std::any_of(lines.begin(), lines.end(), [&](const Line& l) {
            return l.severity == s && l.joined().find(part) != std::string::npos;
        });
    }
    /* Every line, one per row, for failure messages. */
    std::string all() const
    {
        std::string t;
        for (const Line& l : lines) t += l.subject + ": " + l.text + "\n";
        return t;
    }
    void clear() { lines.clear(); }
};

} // namespace ps2::test
