/* platform_win32.cpp -- the platform layer on Windows: the ANSI Win32 calls, "\" paths, CharNextA stepping */
#include "common/platform.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>

namespace ps2::plat {

const char* io_error_text(IoError e)
{
    static const char* const texts[] = {PS2_IO_ERROR_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(e));
}

static const char* step_char_next(const char* p) { return *p ? CharNextA(p) : p; }

const PathRules& native_path_rules()
{
    static const PathRules rules{'\\', step_char_next};
    return rules;
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
        if (!ReadFile(h, p + *got, want, &r, nullptr)) return false;
        if (r == 0) break;
        *got += r;
    }
    return true;
}

IoError read_file(const char* path, std::span<uint8_t> buffer, FileRead* out)
{
    *out = {};
    HANDLE h = open_read(path);
    if (h == INVALID_HANDLE_VALUE) return IoError::open_failed;
    LARGE_INTEGER size;
    if (GetFileSizeEx(h, &size)) out->file_size = uint64_t(size.QuadPart);
    size_t got = 0;
    const bool ok = read_fully(h, buffer.data(), buffer.size(), &got);
    CloseHandle(h);
    out->bytes_read = got;
    return ok ? IoError::ok : IoError::read_failed;
}

IoError query_file_size(const char* path, uint64_t* size)
{
    *size = 0;
    HANDLE h = open_read(path);
    if (h == INVALID_HANDLE_VALUE) return IoError::open_failed;
    LARGE_INTEGER s;
    const bool ok = GetFileSizeEx(h, &s) != 0;
    CloseHandle(h);
    if (!ok) return IoError::read_failed;
    *size = uint64_t(s.QuadPart);
    return IoError::ok;
}

IoError write_file_replace(const char* path, std::span<const std::span<const uint8_t>> pieces)
{
    /* Written beside the target, then moved over it: a failed write never
     * leaves a partial output and never destroys an existing file. */
    PathBuffer temp;
    if (!temp.assign(path) || !temp.append(".tmp~")) return IoError::path_too_long;
    HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return IoError::create_failed;
    bool ok = true;
    for (const auto& piece : pieces) {
        size_t done = 0;
        while (ok && done < piece.size()) {
            const DWORD want = DWORD(piece.size() - done > 0x40000000 ? 0x40000000 : piece.size() - done);
            DWORD w = 0;
            ok = WriteFile(h, piece.data() + done, want, &w, nullptr) && w == want;
            done += w;
        }
    }
    if (!CloseHandle(h)) ok = false;
    if (!ok) {
        DeleteFileA(temp.c_str());
        return IoError::write_failed;
    }
    if (!MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(temp.c_str());
        return IoError::replace_failed;
    }
    return IoError::ok;
}

/* ---- streaming reads ---- */

IoError open_for_reading(const char* path, ReadHandle* out)
{
    HANDLE h = open_read(path);
    if (h == INVALID_HANDLE_VALUE) return IoError::open_failed;
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
                                                                                          : IoError::read_failed;
}

void close_file(ReadHandle h)
{
    if (h.value != -1) CloseHandle(reinterpret_cast<HANDLE>(h.value));
}

/* ---- folders, names ---- */

IoError create_folder(const char* path)
{
    if (CreateDirectoryA(path, nullptr)) return IoError::ok;
    return folder_exists(path) ? IoError::ok : IoError::folder_failed;
}

IoError rename_file(const char* from, const char* to)
{
    /* MoveFileA never replaces an existing file. */
    if (MoveFileA(from, to)) return IoError::ok;
    const DWORD e = GetLastError();
    return (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS) ? IoError::target_exists : IoError::rename_failed;
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
    if (h == INVALID_HANDLE_VALUE) return IoError::search_failed;
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
    if (n == 0) return IoError::unsupported;
    if (n >= capacity) return IoError::path_too_long;
    return IoError::ok;
}

IoError get_windows_folder(char* buffer, size_t capacity)
{
    const UINT n = GetWindowsDirectoryA(buffer, UINT(capacity));
    if (n == 0) return IoError::unsupported;
    if (n >= capacity) return IoError::path_too_long;
    return IoError::ok;
}

IoError get_desktop_folder(char* buffer, size_t capacity)
{
    if (capacity < MAX_PATH) return IoError::path_too_long;
    buffer[0] = '\0';
    LPITEMIDLIST items = nullptr;
    if (SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOPDIRECTORY, &items) != S_OK) return IoError::unsupported;
    const BOOL ok = SHGetPathFromIDListA(items, buffer);
    CoTaskMemFree(items);
    return ok ? IoError::ok : IoError::unsupported;
}

IoError set_current_folder(const char* path) { return SetCurrentDirectoryA(path) ? IoError::ok : IoError::open_failed; }

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
    return VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_EXECUTE_READWRITE);
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
