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
