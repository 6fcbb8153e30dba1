/* platform_posix.cpp -- the platform layer on POSIX systems (Linux): "/" paths, single-byte stepping */
#include "common/platform.h"
#include "common/platform_faults.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ps2::plat {

/* ---- fault injection (tests only arm it) ---- */

namespace faults {

namespace {
struct State {
    unsigned seen[size_t(Op::count_)] = {};
    unsigned fail_at[size_t(Op::count_)] = {}; /* 0: never */
};
State g_state;
} // namespace

void fail_nth(Op op, unsigned n)
{
    g_state.fail_at[size_t(op)] = n ? g_state.seen[size_t(op)] + n : 0;
}
void reset() { g_state = State{}; }
unsigned calls(Op op) { return g_state.seen[size_t(op)]; }
bool hit(Op op)
{
    const unsigned n = ++g_state.seen[size_t(op)];
    return g_state.fail_at[size_t(op)] == n;
}

} // namespace faults

using faults::hit;
using faults::Op;

const char* io_error_text(IoError e)
{
    static const char* const texts[] = {PS2_IO_ERROR_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(e));
}

const PathRules& native_path_rules()
{
    static constexpr PathRules rules = kPosixRules;
    return rules;
}

/* ---- whole files ---- */

static bool read_fully(int fd, uint8_t* p, size_t n, size_t* got)
{
    *got = 0;
    if (hit(Op::read)) {
        errno = EIO;
        return false;
    }
    while (*got < n) {
        const ssize_t r = ::read(fd, p + *got, n - *got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) break;
        *got += size_t(r);
    }
    return true;
}

/* Opens a file that is not a folder; *size is what the one fstat of it reports. */
static int open_regular_for_reading(const char* path, uint64_t* size)
{
    if (hit(Op::open)) return -1;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    *size = uint64_t(st.st_size);
    return fd;
}

IoError read_file(const char* path, std::span<uint8_t> buffer, FileRead* out)
{
    *out = {};
    const int fd = open_regular_for_reading(path, &out->file_size);
    if (fd < 0) return IoError::open_failed;
    size_t got = 0;
    const bool ok = read_fully(fd, buffer.data(), buffer.size(), &got);
    ::close(fd);
    out->bytes_read = got;
    return ok ? IoError::ok : IoError::read_failed;
}

IoError query_file_size(const char* path, uint64_t* size)
{
    *size = 0;
    const int fd = open_regular_for_reading(path, size);
    if (fd < 0) return IoError::open_failed;
    ::close(fd);
    return IoError::ok;
}

static bool write_fully(int fd, const uint8_t* p, size_t n)
{
    if (hit(Op::write)) {
        /* As a full disk does: part of the bytes, then an error. */
        (void)!::write(fd, p, n / 2);
        errno = ENOSPC;
        return false;
    }
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}

IoError write_file_replace(const char* path, std::span<const std::span<const uint8_t>> pieces)
{
    /* The temporary file lies beside the target so that the final rename
     * stays within one file system. */
    PathBuffer temp;
    if (!temp.assign(path) || !temp.append(".XXXXXX")) return IoError::path_too_long;
    if (hit(Op::write)) return IoError::create_failed;
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return IoError::create_failed;
    bool ok = true;
    for (const auto& piece : pieces)
        if (ok && !piece.empty()) ok = write_fully(fd, piece.data(), piece.size());
    /* Keep the permissions an ordinary new file would get. */
    const mode_t mask = ::umask(0);
    ::umask(mask);
    (void)::fchmod(fd, 0666 & ~mask);
    if (::close(fd) != 0) ok = false;
    if (!ok) {
        ::unlink(temp.c_str());
        return IoError::write_failed;
    }
    if (hit(Op::rename) || ::rename(temp.c_str(), path) != 0) {
        ::unlink(temp.c_str());
        return IoError::replace_failed;
    }
    return IoError::ok;
}

/* ---- streaming reads ---- */

IoError open_for_reading(const char* path, ReadHandle* out)
{
    uint64_t size = 0;
    const int fd = open_regular_for_reading(path, &size);
    if (fd < 0) return IoError::open_failed;
    out->value = fd;
    return IoError::ok;
}

IoError read_some(ReadHandle h, std::span<uint8_t> buffer, size_t* got)
{
    return read_fully(int(h.value), buffer.data(), buffer.size(), got) ? IoError::ok : IoError::read_failed;
}

IoError seek_to(ReadHandle h, uint64_t offset)
{
    return ::lseek(int(h.value), off_t(offset), SEEK_SET) == off_t(offset) ? IoError::ok : IoError::read_failed;
}

void close_file(ReadHandle h)
{
    if (h.value >= 0) ::close(int(h.value));
}

/* ---- folders, names ---- */

IoError create_folder(const char* path)
{
    if (hit(Op::folder)) return IoError::folder_failed;
    if (::mkdir(path, 0777) == 0) return IoError::ok;
    return (errno == EEXIST && folder_exists(path)) ? IoError::ok : IoError::folder_failed;
}

IoError rename_file(const char* from, const char* to)
{
    if (hit(Op::rename)) return IoError::rename_failed;
    if (std::strcmp(from, to) == 0) return file_exists(from) ? IoError::ok : IoError::rename_failed;
#ifdef SYS_renameat2
    if (::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 1 /* RENAME_NOREPLACE */) == 0) return IoError::ok;
    if (errno == EEXIST) return IoError::target_exists;
    if (errno != EINVAL && errno != ENOSYS) return IoError::rename_failed;
#endif
    /* File systems without RENAME_NOREPLACE: link then unlink never replaces. */
    if (::link(from, to) != 0) return errno == EEXIST ? IoError::target_exists : IoError::rename_failed;
    ::unlink(from);
    return IoError::ok;
}

bool file_exists(const char* path)
{
    struct stat st;
    return ::stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

bool folder_exists(const char* path)
{
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

IoError find_entries(const char* pattern, std::vector<FoundEntry>* out)
{
    out->clear();
    const char* name = find_name_part(pattern, kPosixRules);
    std::string folder(pattern, size_t(name - pattern));
    const std::string folder_arg = folder.empty() ? std::string(".") : folder;
    /* Only "*" and "?" are wildcards, as on Windows: "[" and "]" are plain
     * characters of names (MALETO's "NAME-[TITLE].psu"). */
    const bool wild = std::strpbrk(name, "*?") != nullptr;
    if (!wild) {
        struct stat st;
        if (*name == '\0' || ::stat(pattern, &st) != 0) return IoError::search_failed;
        out->push_back({name, S_ISDIR(st.st_mode)});
        return IoError::ok;
    }
    DIR* dir = ::opendir(folder_arg.c_str());
    if (!dir) return IoError::search_failed;
    /* "*.*" matches every name, as it does on Windows. */
    const bool match_all = std::strcmp(name, "*.*") == 0 || std::strcmp(name, "*") == 0;
    std::string glob;
    for (const char* p = name; *p; ++p) {
        if (*p == '[' || *p == ']' || *p == '\\') glob += '\\';
        glob += *p;
    }
    while (const dirent* d = ::readdir(dir)) {
        if (!match_all && ::fnmatch(glob.c_str(), d->d_name, 0) != 0) continue;
        const std::string full = folder + d->d_name;
        struct stat st;
        const bool is_dir = ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        out->push_back({d->d_name, is_dir});
    }
    ::closedir(dir);
    return out->empty() ? IoError::search_failed : IoError::ok;
}

/* ---- system folders ---- */

static IoError copy_out(const char* text, char* buffer, size_t capacity)
{
    return copy_string(buffer, capacity, text) ? IoError::ok : IoError::path_too_long;
}

IoError get_module_path(char* buffer, size_t capacity)
{
    if (capacity == 0) return IoError::path_too_long;
    const ssize_t n = ::readlink("/proc/self/exe", buffer, capacity - 1);
    if (n < 0) return IoError::unsupported;
    if (size_t(n) >= capacity - 1) return IoError::path_too_long;
    buffer[n] = '\0';
    return IoError::ok;
}

IoError get_windows_folder(char* buffer, size_t capacity)
{
    const char* w = std::getenv("WINDIR");
    return copy_out(w ? w : "", buffer, capacity);
}

IoError get_desktop_folder(char* buffer, size_t capacity)
{
    if (const char* x = std::getenv("XDG_DESKTOP_DIR"); x && *x) return copy_out(x, buffer, capacity);
    const char* home = std::getenv("HOME");
    PathBuffer p;
    if (!p.assign(home ? home : "") || !p.append("/Desktop")) return IoError::path_too_long;
    return copy_out(p.c_str(), buffer, capacity);
}

IoError set_current_folder(const char* path) { return ::chdir(path) == 0 ? IoError::ok : IoError::open_failed; }

/* ---- large blocks ---- */

/* Under the address sanitizer blocks come from its heap, so that a read or write past a block's end is
 * caught there as it is for any other buffer (it does not watch mapped pages). */
#if defined(__SANITIZE_ADDRESS__)
#define PS2_BLOCKS_FROM_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PS2_BLOCKS_FROM_HEAP 1
#endif
#endif

/* A block of 2 MiB or more is placed on a 2 MiB boundary and asked for in huge pages (where the system
 * offers them), so that its first touch costs a few faults instead of one per 4 KiB page. */
static constexpr size_t kHugePage = size_t(2) << 20;

void* alloc_block(size_t size)
{
    if (size == 0 || hit(Op::alloc)) return nullptr;
#ifdef PS2_BLOCKS_FROM_HEAP
    return std::calloc(1, size);
#else
    if (size < kHugePage) {
        void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return p == MAP_FAILED ? nullptr : p;
    }
    /* Room to slide to the boundary, then the slack on both sides given back. */
    const size_t mapped = size + kHugePage;
    void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    const uintptr_t start = uintptr_t(p);
    const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
    if (aligned > start) ::munmap(p, aligned - start);
    const uintptr_t end = start + mapped, block_end = aligned + size;
    if (end > block_end) ::munmap(reinterpret_cast<void*>(block_end), end - block_end);
#ifdef MADV_HUGEPAGE
    (void)::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE); /* a hint: without it, 4 KiB pages */
#endif
    return reinterpret_cast<void*>(aligned);
#endif
}

void free_block(void* block, size_t size)
{
#ifdef PS2_BLOCKS_FROM_HEAP
    (void)size;
    std::free(block);
#else
    if (block) ::munmap(block, size);
#endif
}

} // namespace ps2::plat
