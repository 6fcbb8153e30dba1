/* platform_posix.cpp -- the platform layer on POSIX systems (Linux): "/" paths, single-byte stepping */
#include "common/platform.h"
#include "common/platform_faults.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <signal.h>
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

/* ---- the system's reason ---- */

namespace {
thread_local int t_last_error = 0;
/* The reason in our own words where the system's would mislead ("File exists" for a folder that cannot be
 * made because a file has its name); null when strerror says it. */
thread_local const char* t_reason = nullptr;
} // namespace

void keep_system_error(long code)
{
    t_last_error = int(code);
    t_reason = nullptr;
}
const char* last_error_text()
{
    if (t_reason) return t_reason;
    return t_last_error ? std::strerror(t_last_error) : "";
}

/* A failure of this layer: keeps its reason (errno as the failed call left it, unless given). */
static IoError fail(IoError e, int code = errno)
{
    t_last_error = code;
    t_reason = nullptr;
    return e;
}
/* A failure with the reason in our words. */
static IoError fail_because(IoError e, const char* reason)
{
    t_last_error = 0;
    t_reason = reason;
    return e;
}

const PathRules& native_path_rules()
{
    static constexpr PathRules rules = kPosixRules;
    return rules;
}

void make_native_path(char*) {}

IoError full_path(const char* path, PathBuffer* out)
{
    std::string full;
    if (path[0] == '/') {
        full = path;
    } else {
        char cwd[kPathCapacity];
        if (const IoError e = current_folder(cwd, sizeof cwd); e != IoError::ok) return e;
        full = std::string(cwd) + "/" + path;
    }
    /* Drop "./" components that a shell's completion or a relative name adds. */
    for (size_t p; (p = full.find("/./")) != std::string::npos;) full.erase(p, 2);
    if (full.size() >= 2 && full.compare(full.size() - 2, 2, "/.") == 0) full.resize(full.size() - 2);
    return out->assign(full.c_str()) ? IoError::ok : fail(IoError::path_too_long, ENAMETOOLONG);
}

/* ---- whole files ---- */

static bool read_fully(int fd, uint8_t* p, size_t n, size_t* got)
{
    *got = 0;
    if (hit(Op::read)) {
        (void)fail(IoError::read_failed, EIO);
        return false;
    }
    while (*got < n) {
        const ssize_t r = ::read(fd, p + *got, n - *got);
        if (r < 0) {
            if (errno == EINTR) continue;
            (void)fail(IoError::read_failed);
            return false;
        }
        if (r == 0) break;
        *got += size_t(r);
    }
    return true;
}

/* Opens a file that is not a folder; *size is what the one fstat of it reports, *regular (when asked)
 * whether it is a plain file. */
static int open_regular_for_reading(const char* path, uint64_t* size, bool* regular = nullptr)
{
    if (hit(Op::open)) {
        (void)fail(IoError::open_failed, EACCES);
        return -1;
    }
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        (void)fail(IoError::open_failed);
        return -1;
    }
    struct stat st;
    const bool unknown = ::fstat(fd, &st) != 0;
    if (unknown || S_ISDIR(st.st_mode)) {
        if (unknown)
            (void)fail(IoError::open_failed);
        else
            (void)fail_because(IoError::open_failed, "is a folder");
        ::close(fd);
        return -1;
    }
    *size = uint64_t(st.st_size);
    if (regular) *regular = S_ISREG(st.st_mode);
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

/* Files this large are mapped rather than read (below it, a read costs no more). */
static constexpr uint64_t kMapFrom = uint64_t(1) << 20;

/* The mapped file being read, for the line should it be cut short under us; the views alive, and the
 * SIGBUS handling there was before the first of them. */
static char g_viewed_path[1024];
static unsigned g_views;
static struct sigaction g_before_views;

extern "C" void on_view_cut_short(int)
{
    /* Only calls that are safe in a signal handler. */
    static const char kWhy[] = ": the file was cut short by another program while it was read; stopped, "
                               "nothing written for it or any file after it\n";
    const auto put = [](const char* text) {
        size_t n = 0;
        while (text[n]) ++n;
        (void)!::write(2, text, n);
    };
#ifdef __GLIBC__
    put(program_invocation_short_name);
    put(": ");
#endif
    put(g_viewed_path);
    put(kWhy);
    ::_exit(1);
}

IoError view_file(const char* path, std::span<uint8_t> buffer, FileView* out)
{
    out->drop();
    uint64_t size = 0;
    bool regular = false;
    const int fd = open_regular_for_reading(path, &size, &regular);
    if (fd < 0) return IoError::open_failed;
    out->file_size_ = size;
    if (regular && size >= kMapFrom && size <= buffer.size()) {
        if (hit(Op::read)) {
            ::close(fd);
            return fail(IoError::read_failed, EIO);
        }
        void* p = ::mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p != MAP_FAILED) {
            ::close(fd);
            std::snprintf(g_viewed_path, sizeof g_viewed_path, "%s", path);
            if (g_views++ == 0) {
                struct sigaction sa{};
                sa.sa_handler = on_view_cut_short;
                sigemptyset(&sa.sa_mask);
                (void)::sigaction(SIGBUS, &sa, &g_before_views);
            }
            (void)::madvise(p, size_t(size), MADV_SEQUENTIAL); /* a hint, for a file not yet in memory */
            out->mapping_ = p;
            out->data_ = static_cast<const uint8_t*>(p);
            out->size_ = size_t(size);
            return IoError::ok;
        }
    }
    size_t got = 0;
    const bool ok = read_fully(fd, buffer.data(), buffer.size(), &got);
    ::close(fd);
    out->data_ = buffer.data();
    out->size_ = got;
    return ok ? IoError::ok : IoError::read_failed;
}

void FileView::drop()
{
    if (mapping_) {
        ::munmap(mapping_, size_);
        if (--g_views == 0) (void)::sigaction(SIGBUS, &g_before_views, nullptr);
    }
    mapping_ = nullptr;
    data_ = nullptr;
    size_ = 0;
    file_size_ = 0;
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
        (void)fail(IoError::write_failed, ENOSPC);
        return false;
    }
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            (void)fail(IoError::write_failed);
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}

namespace {

/* The folder part of a path, "." when it has none. */
std::string folder_of(const char* path)
{
    const char* name = find_name_part(path, kPosixRules);
    return name == path ? std::string(".") : std::string(path, size_t(name - path));
}

/* Makes a move within the folder lasting: its entry reaches the disk. Some file systems cannot flush a
 * folder (EINVAL); the file itself is on the disk by then, so this is not a failure. */
void flush_folder_of(const char* path)
{
    const int fd = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

/* What is there now under the output's name; unknown when the system cannot tell (errno says why). */
enum class Existing : uint8_t { nothing, file, folder, unknown };
Existing existing_at(const char* path)
{
    struct stat st;
    if (::stat(path, &st) != 0) return errno == ENOENT || errno == ENOTDIR ? Existing::nothing : Existing::unknown;
    return S_ISDIR(st.st_mode) ? Existing::folder : Existing::file;
}

/* Whether the file holds exactly the pieces: its size first, then its bytes chunk by chunk. */
IoError compare_with_file(const char* path, std::span<const std::span<const uint8_t>> pieces, bool* same)
{
    *same = false;
    uint64_t total = 0;
    for (const auto& piece : pieces) total += piece.size();
    uint64_t size = 0;
    const int fd = open_regular_for_reading(path, &size);
    if (fd < 0) return IoError::output_unreadable;
    if (size != total) {
        ::close(fd);
        return IoError::ok;
    }
    static constexpr size_t kChunk = 65536;
    uint8_t chunk[kChunk];
    bool equal = true;
    for (const auto& piece : pieces) {
        for (size_t done = 0; equal && done < piece.size();) {
            const size_t want = piece.size() - done < kChunk ? piece.size() - done : kChunk;
            size_t got = 0;
            if (!read_fully(fd, chunk, want, &got)) {
                ::close(fd);
                return IoError::output_unreadable;
            }
            equal = got == want && std::memcmp(chunk, piece.data() + done, want) == 0;
            done += want;
        }
    }
    ::close(fd);
    *same = equal;
    return IoError::ok;
}

/* The policy's answer for what is there: ok to write (*outcome created or replaced), ok with up_to_date
 * (nothing to write), or the failure that keeps the file. */
IoError decide_output(const char* path, std::span<const std::span<const uint8_t>> pieces, OutputPolicy policy,
                      OutputOutcome* outcome)
{
    *outcome = OutputOutcome::none;
    switch (existing_at(path)) {
    case Existing::nothing:
        *outcome = OutputOutcome::created;
        return IoError::ok;
    case Existing::folder:
        return fail_because(IoError::create_failed, "is a folder");
    case Existing::unknown:
        return fail(IoError::create_failed); /* never written over what cannot be looked at */
    case Existing::file:
        break;
    }
    if (policy == OutputPolicy::keep) {
        bool same = false;
        if (const IoError e = compare_with_file(path, pieces, &same); e != IoError::ok) return e;
        if (!same) return fail(IoError::output_differs, 0);
        *outcome = OutputOutcome::up_to_date;
        return IoError::ok;
    }
    *outcome = OutputOutcome::replaced;
    return IoError::ok;
}

} // namespace

IoError write_output(const char* path, std::span<const std::span<const uint8_t>> pieces, OutputPolicy policy,
                     OutputOutcome* outcome)
{
    OutputOutcome decided = OutputOutcome::none;
    if (outcome) *outcome = OutputOutcome::none;
    if (const IoError e = decide_output(path, pieces, policy, &decided); e != IoError::ok) return e;
    if (decided == OutputOutcome::up_to_date) {
        if (outcome) *outcome = decided;
        return IoError::ok;
    }
    const bool replacing = decided == OutputOutcome::replaced;

    /* The temporary file lies beside the target so that the final rename
     * stays within one file system. */
    PathBuffer temp;
    if (!temp.assign(path) || !temp.append(".XXXXXX")) return fail(IoError::path_too_long, ENAMETOOLONG);
    if (hit(Op::write)) return fail(IoError::create_failed, ENOSPC);
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return fail(IoError::create_failed);
    bool ok = true;
    IoError failure = IoError::write_failed;
    for (const auto& piece : pieces)
        if (ok && !piece.empty()) ok = write_fully(fd, piece.data(), piece.size());
    /* Keep the permissions an ordinary new file would get. */
    const mode_t mask = ::umask(0);
    ::umask(mask);
    (void)::fchmod(fd, 0666 & ~mask);
    /* The new bytes reach the disk before they take the old file's name, so a crash leaves one or the other. */
    if (ok && replacing) {
        const bool injected = hit(Op::flush);
        if (injected || ::fsync(fd) != 0) {
            (void)fail(IoError::flush_failed, injected ? EIO : errno);
            failure = IoError::flush_failed;
            ok = false;
        }
    }
    if (::close(fd) != 0 && ok) {
        (void)fail(IoError::write_failed);
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return failure;
    }
    const bool injected = hit(Op::rename);
    if (injected || ::rename(temp.c_str(), path) != 0) {
        (void)fail(IoError::replace_failed, injected ? EACCES : errno);
        ::unlink(temp.c_str());
        return IoError::replace_failed;
    }
    if (replacing) flush_folder_of(path);
    if (outcome) *outcome = decided;
    return IoError::ok;
}

IoError check_output(const char* path, std::span<const uint8_t> data, OutputPolicy policy, OutputOutcome* outcome)
{
    const std::span<const uint8_t> one[1] = {data};
    return decide_output(path, std::span<const std::span<const uint8_t>>(one), policy, outcome);
}

IoError query_file_id(const char* path, FileId* out)
{
    *out = {};
    struct stat st;
    if (::stat(path, &st) != 0) return fail(IoError::open_failed);
    out->device = uint64_t(st.st_dev);
    out->index = uint64_t(st.st_ino);
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
    return ::lseek(int(h.value), off_t(offset), SEEK_SET) == off_t(offset) ? IoError::ok : fail(IoError::read_failed);
}

void close_file(ReadHandle h)
{
    if (h.value >= 0) ::close(int(h.value));
}

/* ---- folders, names ---- */

IoError create_folder(const char* path)
{
    if (hit(Op::folder)) return fail(IoError::folder_failed, EACCES);
    if (::mkdir(path, 0777) == 0) return IoError::ok;
    const int code = errno;
    if (code == EEXIST) return folder_exists(path) ? IoError::ok : fail_because(IoError::folder_failed, "exists as a file");
    return fail(IoError::folder_failed, code);
}

/* A name the file system does not take, as against a rename it does not allow. */
static IoError rename_failure(int code)
{
    if (code == EEXIST) return fail(IoError::target_exists, code);
    const bool bad_name = code == EINVAL || code == EILSEQ || code == ENAMETOOLONG;
    return fail(bad_name ? IoError::name_refused : IoError::rename_failed, code);
}

IoError rename_file(const char* from, const char* to)
{
    if (hit(Op::rename)) return fail(IoError::rename_failed, EACCES);
    if (std::strcmp(from, to) == 0) return file_exists(from) ? IoError::ok : fail(IoError::rename_failed, ENOENT);
#ifdef SYS_renameat2
    if (::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 1 /* RENAME_NOREPLACE */) == 0) return IoError::ok;
    /* EINVAL here may also mean a file system without RENAME_NOREPLACE: the fallback below tells. */
    if (errno != EINVAL && errno != ENOSYS) return rename_failure(errno);
#endif
    /* File systems without RENAME_NOREPLACE: link then unlink never replaces. */
    if (::link(from, to) != 0) return rename_failure(errno);
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
        if (*name == '\0') return fail(IoError::search_failed, ENOENT);
        if (::stat(pattern, &st) != 0) return fail(IoError::search_failed);
        out->push_back({name, S_ISDIR(st.st_mode)});
        return IoError::ok;
    }
    DIR* dir = ::opendir(folder_arg.c_str());
    if (!dir) return fail(IoError::search_failed);
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
    return out->empty() ? fail(IoError::search_failed, ENOENT) : IoError::ok;
}

/* ---- system folders ---- */

static IoError copy_out(const char* text, char* buffer, size_t capacity)
{
    return copy_string(buffer, capacity, text) ? IoError::ok : fail(IoError::path_too_long, ENAMETOOLONG);
}

IoError get_module_path(char* buffer, size_t capacity)
{
    if (capacity == 0) return fail(IoError::path_too_long, ENAMETOOLONG);
    const ssize_t n = ::readlink("/proc/self/exe", buffer, capacity - 1);
    if (n < 0) return fail(IoError::unsupported);
    if (size_t(n) >= capacity - 1) return fail(IoError::path_too_long, ENAMETOOLONG);
    buffer[n] = '\0';
    return IoError::ok;
}

IoError get_windows_folder(char* buffer, size_t capacity)
{
    const char* w = std::getenv("WINDIR");
    return copy_out(w ? w : "", buffer, capacity);
}

IoError get_config_folder(char* buffer, size_t capacity)
{
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && x[0] == '/') return copy_out(x, buffer, capacity);
    const char* home = std::getenv("HOME");
    if (!home || !*home) return fail(IoError::unsupported, ENOENT);
    PathBuffer p;
    if (!p.assign(home) || !p.append("/.config")) return fail(IoError::path_too_long, ENAMETOOLONG);
    return copy_out(p.c_str(), buffer, capacity);
}

IoError get_desktop_folder(char* buffer, size_t capacity)
{
    if (const char* x = std::getenv("XDG_DESKTOP_DIR"); x && *x) return copy_out(x, buffer, capacity);
    const char* home = std::getenv("HOME");
    PathBuffer p;
    if (!p.assign(home ? home : "") || !p.append("/Desktop")) return fail(IoError::path_too_long, ENAMETOOLONG);
    return copy_out(p.c_str(), buffer, capacity);
}

IoError set_current_folder(const char* path) { return ::chdir(path) == 0 ? IoError::ok : fail(IoError::open_failed); }

IoError current_folder(char* buffer, size_t capacity)
{
    if (capacity > 0 && ::getcwd(buffer, capacity)) return IoError::ok;
    if (capacity > 0) buffer[0] = '\0';
    return errno == ERANGE || capacity == 0 ? fail(IoError::path_too_long, ERANGE) : fail(IoError::unsupported);
}

/* ---- terminals ---- */

bool is_terminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

unsigned terminal_width(std::FILE* stream)
{
    winsize ws{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

ShiftJisToLocale::ShiftJisToLocale()
{
    const char* codeset = ::nl_langinfo(CODESET);
    (void)copy_string(charset_, sizeof charset_, codeset ? codeset : "");
    if (codeset && std::strcmp(codeset, "ANSI_X3.4-1968") != 0) {
        const iconv_t cd = ::iconv_open(codeset, "CP932");
        if (cd != iconv_t(-1)) handle_ = reinterpret_cast<intptr_t>(cd);
    }
}

ShiftJisToLocale::~ShiftJisToLocale()
{
    if (handle_ != -1) ::iconv_close(reinterpret_cast<iconv_t>(handle_));
}

bool ShiftJisToLocale::convert(const char* text, std::string* out) const
{
    return convert(std::string_view(text), out);
}

bool ShiftJisToLocale::convert(std::string_view text, std::string* out) const
{
    if (handle_ == -1) return false;
    const iconv_t cd = reinterpret_cast<iconv_t>(handle_);
    std::string converted(text.size() * 4 + 4, '\0'); /* room for any character set's longest form */
    char* in = const_cast<char*>(text.data());
    size_t in_left = text.size();
    char* o = converted.data();
    size_t out_left = converted.size();
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (::iconv(cd, &in, &in_left, &o, &out_left) == size_t(-1) || in_left != 0) return false;
    /* A stateful target set (ISO-2022-JP) ends in its initial state. */
    if (::iconv(cd, nullptr, nullptr, &o, &out_left) == size_t(-1)) return false;
    converted.resize(converted.size() - out_left);
    *out = std::move(converted);
    return true;
}

static bool convert_with(const void* context, std::string_view text, std::string* out)
{
    return static_cast<const ShiftJisToLocale*>(context)->convert(text, out);
}

TextConverter ShiftJisToLocale::converter() const { return TextConverter{&convert_with, this, charset_}; }

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

static void* no_block(int code)
{
    t_last_error = code;
    return nullptr;
}

/* A block of 2 MiB or more is placed on a 2 MiB boundary and asked for in huge pages (where the system
 * offers them), so that its first touch costs a few faults instead of one per 4 KiB page. */
static constexpr size_t kHugePage = size_t(2) << 20;

void* alloc_block(size_t size)
{
    if (size == 0) return no_block(EINVAL);
    if (hit(Op::alloc)) return no_block(ENOMEM);
#ifdef PS2_BLOCKS_FROM_HEAP
    void* p = std::calloc(1, size);
    return p ? p : no_block(ENOMEM);
#else
    if (size < kHugePage) {
        void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return p != MAP_FAILED ? p : no_block(errno);
    }
    /* Room to slide to the boundary, then the slack on both sides given back. */
    const size_t mapped = size + kHugePage;
    void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return no_block(errno);
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
