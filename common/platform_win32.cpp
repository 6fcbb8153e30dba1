/* platform_win32.cpp -- the platform layer on Windows: the ANSI Win32 calls, "\" paths, CharNextA stepping */
#include "common/platform.h"

#include <windows.h>
#include <shlobj.h>

#include <io.h>

#include <cstring>

namespace ps2::plat {

const char* io_error_text(IoError e)
{
    static const char* const texts[] = {PS2_IO_ERROR_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(e));
}

/* ---- the system's reason ---- */

namespace {
thread_local DWORD t_last_error = 0;
/* The reason in our own words where the system's would mislead; null when FormatMessage says it. */
thread_local const char* t_reason = nullptr;
} // namespace

void keep_system_error(long code)
{
    t_last_error = DWORD(code);
    t_reason = nullptr;
}

const char* last_error_text()
{
    thread_local char text[256];
    if (t_reason) return t_reason;
    if (t_last_error == 0) return "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, t_last_error, 0,
                             text, DWORD(sizeof text), nullptr);
    if (n == 0) {
        std::snprintf(text, sizeof text, "system error %lu", (unsigned long)t_last_error);
        return text;
    }
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.')) --n;
    text[n] = '\0';
    return text;
}

/* A failure of this layer: keeps GetLastError's value as the failed call left it. */
static IoError fail(IoError e)
{
    t_last_error = GetLastError();
    t_reason = nullptr;
    return e;
}
static IoError fail(IoError e, DWORD code)
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

static const char* step_char_next(const char* p) { return *p ? CharNextA(p) : p; }

const PathRules& native_path_rules()
{
    static const PathRules rules{'\\', step_char_next};
    return rules;
}

void make_native_path(char* path)
{
    for (char* p = path; *p != '\0'; p = CharNextA(p))
        if (*p == '/') *p = '\\';
}

IoError full_path(const char* path, PathBuffer* out)
{
    char buffer[kPathCapacity];
    const DWORD n = GetFullPathNameA(path, DWORD(sizeof buffer), buffer, nullptr);
    if (n == 0) return fail(IoError::open_failed);
    if (n >= sizeof buffer) return fail(IoError::path_too_long, ERROR_FILENAME_EXCED_RANGE);
    return out->assign(buffer) ? IoError::ok : fail(IoError::path_too_long, ERROR_FILENAME_EXCED_RANGE);
}

/* ---- whole files ---- */

/* Open for reading: other readers allowed. */
static HANDLE open_read(const char* path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

static bool read_fully(HANDLE h, uint8_t* p, size_t n, size_t* got)
{
    *got = 0;
    while (*got < n) {
        const DWORD want = DWORD(n - *got > 0x40000000 ? 0x40000000 : n - *got);
        DWORD r = 0;
        if (!ReadFile(h, p + *got, want, &r, nullptr)) {
            (void)fail(IoError::read_failed);
            return false;
        }
        if (r == 0) break;
        *got += r;
    }
    return true;
}

/* Why a file cannot be opened for reading: a folder in our words, else the system's. */
static IoError open_failure(const char* path)
{
    const DWORD code = GetLastError();
    const DWORD a = GetFileAttributesA(path);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) return fail_because(IoError::open_failed, "is a folder");
    return fail(IoError::open_failed, code);
}

IoError read_file(const char* path, std::span<uint8_t> buffer, FileRead* out)
{
    *out = {};
    HANDLE h = open_read(path);
    if (h == INVALID_HANDLE_VALUE) return open_failure(path);
    LARGE_INTEGER size;
    if (GetFileSizeEx(h, &size)) out->file_size = uint64_t(size.QuadPart);
    size_t got = 0;
    const bool ok = read_fully(h, buffer.data(), buffer.size(), &got);
    CloseHandle(h);
    out->bytes_read = got;
    return ok ? IoError::ok : IoError::read_failed;
}

/* Read as the window programs always read their inputs: ReadFile into the buffer. */
IoError view_file(const char* path, std::span<uint8_t> buffer, FileView* out)
{
    out->drop();
    FileRead fr;
    const IoError e = read_file(path, buffer, &fr);
    out->data_ = buffer.data();
    out->size_ = fr.bytes_read;
    out->file_size_ = fr.file_size;
    return e;
}

void FileView::drop()
{
    data_ = nullptr;
    size_ = 0;
    file_size_ = 0;
}

IoError query_file_size(const char* path, uint64_t* size)
{
    *size = 0;
    HANDLE h = open_read(path);
    if (h == INVALID_HANDLE_VALUE) return open_failure(path);
    LARGE_INTEGER s;
    const bool ok = GetFileSizeEx(h, &s) != 0;
    if (!ok) (void)fail(IoError::read_failed);
    CloseHandle(h);
    if (!ok) return IoError::read_failed;
    *size = uint64_t(s.QuadPart);
    return IoError::ok;
}

namespace {

/* Whether the file holds exactly the pieces: its size first, then its bytes chunk by chunk. */
IoError compare_with_file(const char* path, std::span<const std::span<const uint8_t>> pieces, bool* same)
{
    *same = false;
    uint64_t total = 0;
    for (const auto& piece : pieces) total += piece.size();
    HANDLE h = open_read(path);
    if (h == INVALID_HANDLE_VALUE) {
        (void)open_failure(path);
        return IoError::output_unreadable;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h, &size) || uint64_t(size.QuadPart) != total) {
        CloseHandle(h);
        return IoError::ok;
    }
    static constexpr size_t kChunk = 65536;
    static thread_local uint8_t chunk[kChunk];
    bool equal = true;
    for (const auto& piece : pieces) {
        for (size_t done = 0; equal && done < piece.size();) {
            const size_t want = piece.size() - done < kChunk ? piece.size() - done : kChunk;
            size_t got = 0;
            if (!read_fully(h, chunk, want, &got)) {
                CloseHandle(h);
                return IoError::output_unreadable;
            }
            equal = got == want && std::memcmp(chunk, piece.data() + done, want) == 0;
            done += want;
        }
    }
    CloseHandle(h);
    *same = equal;
    return IoError::ok;
}

/* The policy's answer for what is there: ok to write (*outcome created or replaced), ok with up_to_date
 * (nothing to write), or the failure that keeps the file. */
IoError decide_output(const char* path, std::span<const std::span<const uint8_t>> pieces, OutputPolicy policy,
                      OutputOutcome* outcome)
{
    *outcome = OutputOutcome::none;
    const DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) {
        /* Never written over what cannot be looked at. */
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) return fail(IoError::create_failed, code);
        *outcome = OutputOutcome::created;
        return IoError::ok;
    }
    if (a & FILE_ATTRIBUTE_DIRECTORY) return fail_because(IoError::create_failed, "is a folder");
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

    /* Written beside the target, then moved over it: a failed write never
     * leaves a partial output and never destroys an existing file. */
    PathBuffer temp;
    if (!temp.assign(path) || !temp.append(".tmp~")) return fail(IoError::path_too_long, ERROR_FILENAME_EXCED_RANGE);
    HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail(IoError::create_failed);
    bool ok = true;
    IoError failure = IoError::write_failed;
    for (const auto& piece : pieces) {
        size_t done = 0;
        while (ok && done < piece.size()) {
            const DWORD want = DWORD(piece.size() - done > 0x40000000 ? 0x40000000 : piece.size() - done);
            DWORD w = 0;
            ok = WriteFile(h, piece.data() + done, want, &w, nullptr) && w == want;
            if (!ok) (void)fail(IoError::write_failed);
            done += w;
        }
    }
    /* The new bytes reach the disk before they take the old file's name, so a crash leaves one or the other. */
    if (ok && replacing && !FlushFileBuffers(h)) {
        (void)fail(IoError::flush_failed);
        failure = IoError::flush_failed;
        ok = false;
    }
    if (!CloseHandle(h) && ok) {
        (void)fail(IoError::write_failed);
        ok = false;
    }
    if (!ok) {
        DeleteFileA(temp.c_str());
        return failure;
    }
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | (replacing ? MOVEFILE_WRITE_THROUGH : 0);
    if (!MoveFileExA(temp.c_str(), path, flags)) {
        (void)fail(IoError::replace_failed);
        DeleteFileA(temp.c_str());
        return IoError::replace_failed;
    }
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
    /* No access asked: a file open elsewhere, or a folder, still tells who it is. */
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail(IoError::open_failed);
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    if (!ok) (void)fail(IoError::open_failed);
    CloseHandle(h);
    if (!ok) return IoError::open_failed;
    out->device = info.dwVolumeSerialNumber;
    out->index = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return IoError::ok;
}

/* ---- streaming reads ---- */

IoError open_for_reading(const char* path, ReadHandle* out)
{
    HANDLE h = open_read(path);
    if (h == INVALID_HANDLE_VALUE) return open_failure(path);
    out->value = reinterpret_cast<intptr_t>(h);
    return IoError::ok;
}

IoError read_some(ReadHandle h, std::span<uint8_t> buffer, size_t* got)
{
    return read_fully(reinterpret_cast<HANDLE>(h.value), buffer.data(), buffer.size(), got) ? IoError::ok
                                                                                            : IoError::read_failed;
}

IoError seek_to(ReadHandle h, uint64_t offset)
{
    LARGE_INTEGER pos;
    pos.QuadPart = LONGLONG(offset);
    return SetFilePointerEx(reinterpret_cast<HANDLE>(h.value), pos, nullptr, FILE_BEGIN) ? IoError::ok
                                                                                          : fail(IoError::read_failed);
}

void close_file(ReadHandle h)
{
    if (h.value != -1) CloseHandle(reinterpret_cast<HANDLE>(h.value));
}

/* ---- folders, names ---- */

IoError create_folder(const char* path)
{
    if (CreateDirectoryA(path, nullptr)) return IoError::ok;
    const DWORD code = GetLastError();
    if (folder_exists(path)) return IoError::ok;
    if (file_exists(path)) return fail_because(IoError::folder_failed, "exists as a file");
    return fail(IoError::folder_failed, code);
}

IoError rename_file(const char* from, const char* to)
{
    /* MoveFileA never replaces an existing file. */
    if (MoveFileA(from, to)) return IoError::ok;
    const DWORD e = GetLastError();
    if (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS) return fail(IoError::target_exists, e);
    const bool bad_name = e == ERROR_INVALID_NAME || e == ERROR_BAD_PATHNAME || e == ERROR_DIRECTORY ||
                          e == ERROR_FILENAME_EXCED_RANGE;
    return fail(bad_name ? IoError::name_refused : IoError::rename_failed, e);
}

bool file_exists(const char* path)
{
    const DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool folder_exists(const char* path)
{
    const DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

IoError find_entries(const char* pattern, std::vector<FoundEntry>* out)
{
    out->clear();
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE) return fail(IoError::search_failed);
    do {
        out->push_back({fd.cFileName, (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return IoError::ok;
}

/* ---- system folders ---- */

IoError get_module_path(char* buffer, size_t capacity)
{
    const DWORD n = GetModuleFileNameA(nullptr, buffer, DWORD(capacity));
    if (n == 0) return fail(IoError::unsupported);
    if (n >= capacity) return fail(IoError::path_too_long, ERROR_INSUFFICIENT_BUFFER);
    return IoError::ok;
}

IoError get_windows_folder(char* buffer, size_t capacity)
{
    const UINT n = GetWindowsDirectoryA(buffer, UINT(capacity));
    if (n == 0) return fail(IoError::unsupported);
    if (n >= capacity) return fail(IoError::path_too_long, ERROR_INSUFFICIENT_BUFFER);
    return IoError::ok;
}

IoError get_config_folder(char* buffer, size_t capacity)
{
    if (capacity > 0) buffer[0] = '\0';
    return fail(IoError::unsupported, ERROR_NOT_SUPPORTED);
}

IoError get_desktop_folder(char* buffer, size_t capacity)
{
    if (capacity < MAX_PATH) return fail(IoError::path_too_long, ERROR_INSUFFICIENT_BUFFER);
    buffer[0] = '\0';
    LPITEMIDLIST items = nullptr;
    if (const HRESULT r = SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOPDIRECTORY, &items); r != S_OK)
        return fail(IoError::unsupported, DWORD(r));
    const BOOL ok = SHGetPathFromIDListA(items, buffer);
    CoTaskMemFree(items);
    return ok ? IoError::ok : fail(IoError::unsupported, ERROR_PATH_NOT_FOUND);
}

IoError set_current_folder(const char* path)
{
    return SetCurrentDirectoryA(path) ? IoError::ok : fail(IoError::open_failed);
}

IoError current_folder(char* buffer, size_t capacity)
{
    const DWORD n = GetCurrentDirectoryA(DWORD(capacity), buffer);
    if (n == 0) return fail(IoError::unsupported);
    if (n >= capacity) return fail(IoError::path_too_long, ERROR_INSUFFICIENT_BUFFER);
    return IoError::ok;
}

/* ---- terminals ---- */

bool is_terminal(std::FILE* stream)
{
    /* _isatty alone also says yes for the NUL device; a console answers GetConsoleMode. */
    if (_isatty(_fileno(stream)) == 0) return false;
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}

unsigned terminal_width(std::FILE* stream)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (GetConsoleScreenBufferInfo(h, &info) && info.srWindow.Right >= info.srWindow.Left)
        return unsigned(info.srWindow.Right - info.srWindow.Left + 1);
    return 80;
}

/* The handle is the console's code page, or the ANSI code page without a console (output into a
 * file or a pipe reads as the windows' texts do). */
ShiftJisToLocale::ShiftJisToLocale()
{
    const UINT console = GetConsoleOutputCP();
    handle_ = intptr_t(console != 0 ? console : GetACP());
    std::snprintf(charset_, sizeof charset_, "CP%u", unsigned(handle_));
}
ShiftJisToLocale::~ShiftJisToLocale() = default;

bool ShiftJisToLocale::convert(const char* text, std::string* out) const
{
    return convert(std::string_view(text), out);
}

bool ShiftJisToLocale::convert(std::string_view text, std::string* out) const
{
    const UINT page = UINT(handle_);
    if (page == 0 || page == 20127) return false; /* no console, or US-ASCII */
    const int n = int(text.size());
    if (n == 0) {
        out->clear();
        return true;
    }
    std::wstring wide(size_t(n), L'\0');
    const int w = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text.data(), n, wide.data(), n);
    if (w <= 0) return false;
    /* UTF-8 loses nothing and takes neither the flag nor the question. */
    BOOL lost = FALSE;
    const bool utf8 = page == CP_UTF8;
    std::string converted(size_t(w) * 4, '\0');
    const int m = WideCharToMultiByte(page, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), w, converted.data(),
                                      int(converted.size()), nullptr, utf8 ? nullptr : &lost);
    if (m <= 0 || lost) return false;
    converted.resize(size_t(m));
    *out = std::move(converted);
    return true;
}

static bool convert_with(const void* context, std::string_view text, std::string* out)
{
    return static_cast<const ShiftJisToLocale*>(context)->convert(text, out);
}

TextConverter ShiftJisToLocale::converter() const { return TextConverter{&convert_with, this, charset_}; }

/* ---- large blocks ---- */

/* Large blocks given back are kept (two at most) and handed out again for the same size, zeroed: one
 * memset costs less than faulting in 8 MiB of fresh pages one by one, file after file. */
namespace {
struct KeptBlock {
    void* block = nullptr;
    size_t size = 0;
};
KeptBlock g_kept[2];
constexpr size_t kKeepFrom = size_t(1) << 20;
} // namespace

void* alloc_block(size_t size)
{
    for (KeptBlock& k : g_kept)
        if (k.block && k.size == size) {
            void* block = k.block;
            k = KeptBlock{};
            std::memset(block, 0, size);
            return block;
        }
    void* block = VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    if (!block) (void)fail(IoError::no_memory);
    return block;
}

void free_block(void* block, size_t size)
{
    if (!block) return;
    if (size >= kKeepFrom)
        for (KeptBlock& k : g_kept)
            if (!k.block) {
                k = KeptBlock{block, size};
                return;
            }
    VirtualFree(block, 0, MEM_RELEASE);
}

} // namespace ps2::plat
