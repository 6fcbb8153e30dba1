/* replay_main.cpp -- runs a fuzz target over files and folders of inputs (its corpus), without libFuzzer.
 * Fails (status 1, the cause on stderr) when it is given nothing, when a path does not exist or cannot
 * be read, and when a folder holds no input: a replay of nothing proves nothing. */
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

bool refuse(const fs::path& p, const char* why)
{
    std::fprintf(stderr, "replay: %s: %s\n", p.string().c_str(), why);
    return false;
}

bool replay(const fs::path& p, size_t* count)
{
    std::ifstream f(p, std::ios::binary);
    if (!f) return refuse(p, "cannot be opened");
    const std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (f.bad()) return refuse(p, "cannot be read");
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++*count;
    return true;
}

/* Every regular file below the folder, in name order. */
bool replay_folder(const fs::path& folder, size_t* count)
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec)) files.push_back(it->path());
    if (ec) return refuse(folder, "cannot be listed");
    if (files.empty()) return refuse(folder, "holds no inputs (seeds: build/bin/ps2-fuzz-seeds fuzz/corpus)");
    std::sort(files.begin(), files.end());
    for (const auto& f : files)
        if (!replay(f, count)) return false;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS-FOLDER-OR-FILE...\n", argv[0]);
        return 1;
    }
    size_t count = 0;
    LLVMFuzzerTestOneInput(nullptr, 0);
    for (int i = 1; i < argc; ++i) {
        const fs::path p = argv[i];
        std::error_code ec;
        const fs::file_status st = fs::status(p, ec);
        bool ok = false;
        if (fs::is_directory(st))
            ok = replay_folder(p, &count);
        else if (fs::is_regular_file(st))
            ok = replay(p, &count);
        else
            ok = refuse(p, fs::exists(st) ? "is neither a file nor a folder" : "does not exist");
        if (!ok) return 1;
    }
    std::printf("replayed %zu inputs\n", count);
    return 0;
}
