/* platform.h -- the small OS layer every tool uses: whole files, folders, search, paths, processes, blocks,
 * terminals. Two implementations: platform_win32.cpp (the Win32 calls) and platform_posix.cpp.
 * Nothing here throws; every fallible call returns an IoError the caller must look at. */
#pragma once

#ifdef PS2_CORE
#error "core code includes no platform or front-end header: it works on bytes and returns codes (docs/ARCHITECTURE.md)"
#endif

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/errors.h"
#include "common/paths.h"
#include "common/sjis.h"

namespace ps2::plat {

/* The words of an output kept under OutputPolicy::keep end with the way to replace it. */
#define PS2_TEXT_KEPT_OUTPUT "kept (--force or -f replaces it)"

#define PS2_IO_ERROR_LIST(X)                                    \
    PS2_SHARED_ERROR_LIST(X)                                    \
    X(read_failed, "cannot read the file")                      \
    X(create_failed, "cannot create the file")                  \
    X(write_failed, "cannot write the file")                    \
    X(replace_failed, "cannot replace the existing file")       \
    X(folder_failed, "cannot create the folder")                \
    X(rename_failed, "cannot rename the file")                  \
    X(search_failed, "nothing matches")                         \
    X(path_too_long, "the path is too long")                    \
    X(start_failed, "cannot start the program")                 \
    X(unsupported, "not available on this system")              \
    X(flush_failed, "cannot flush the file to the disk")        \
    X(output_differs, "exists already with other content; " PS2_TEXT_KEPT_OUTPUT) \
    X(output_unreadable, "exists already and cannot be read to compare") \
    X(name_refused, "the system refused the name")

enum class IoError : uint8_t { PS2_IO_ERROR_LIST(PS2_ERROR_ENUM) };
const char* io_error_text(IoError e);

/* The system's own reason for the last call of this layer that failed on this thread (POSIX: strerror of
 * errno, "No such file or directory"; Windows: FormatMessageA of GetLastError's value, without the final
 * full stop and line break), kept where the call failed, so that the cleanup after it and later calls
 * that succeed do not change it. "" before any failure. Valid until the next failure on this thread. */
const char* last_error_text();
/* For the platform's own files: keeps a failed call's errno (Windows: GetLastError's value) for last_error_text. */
void keep_system_error(long code);
/* A failure's words with the system's reason behind them, "cannot create the file: Permission denied", or the
 * words alone when the failure has no reason of the system's (not enough memory, an output kept). Points to
 * storage of this thread, valid until the next call. */
inline const char* describe_io_error(IoError e)
{
    thread_local char text[512];
    const char* reason = last_error_text();
    if (e == IoError::output_unreadable)
        std::snprintf(text, sizeof text, "%s (%s); " PS2_TEXT_KEPT_OUTPUT, io_error_text(e), reason);
    else if (e != IoError::ok && e != IoError::no_memory && e != IoError::output_differs && *reason)
        std::snprintf(text, sizeof text, "%s: %s", io_error_text(e), reason);
    else
        std::snprintf(text, sizeof text, "%s", io_error_text(e));
    return text;
}

/* ---- paths ---- */

/* The separator and code-page character stepping of this system
 * (Windows: "\" and CharNextA; POSIX: "/" and single bytes). */
const PathRules& native_path_rules();

/* A path typed on a command line in the form the system's own dialogs and drops give it, in place:
 * Windows turns each "/" into "\" (stepped by the code page), POSIX leaves the path as it is. */
void make_native_path(char* path);

/* The full path of a file named relative to the current folder (absolute ones as they are): POSIX
 * joins it to the current folder and drops its "./" parts; Windows asks GetFullPathNameA.
 * path_too_long when it would not fit 1024 bytes. */
[[nodiscard]] IoError full_path(const char* path, PathBuffer* out);

/* ---- whole files ---- */

struct FileRead {
    size_t bytes_read = 0;   /* bytes placed at the start of the buffer */
    uint64_t file_size = 0;  /* the size the file system reports (may exceed bytes_read) */
};

/* Opens for reading (other readers allowed), reads at most buffer.size()
 * bytes with as few reads as the system allows, closes. A folder or a
 * missing file gives open_failed. */
[[nodiscard]] IoError read_file(const char* path, std::span<uint8_t> buffer, FileRead* out);

/* A whole file's bytes for reading. POSIX maps a regular file of 1 MiB up to the buffer's size read-only
 * instead of reading it: no fresh pages to clear and fill, which on an 8 MB save costs a tenth of its
 * conversion. Smaller files, larger ones (of which bytes holds the buffer's size and file_size tells the
 * rest) and every file on Windows are read into the buffer as read_file does. bytes stays valid while the
 * view lives; a second view_file into it drops what it held. A mapped file that another program cuts
 * short while it is read would make the system stop the process at the bytes that are gone (SIGBUS):
 * the process then ends at once with exit status 1 and a line naming the file, before any output of it
 * is written (outputs are written after their input has been read). */
class FileView {
public:
    FileView() = default;
    ~FileView() { drop(); }
    FileView(const FileView&) = delete;
    FileView& operator=(const FileView&) = delete;

    std::span<const uint8_t> bytes() const { return {data_, size_}; }
    uint64_t file_size() const { return file_size_; }
    bool mapped() const { return mapping_ != nullptr; }

private:
    friend IoError view_file(const char* path, std::span<uint8_t> buffer, FileView* out);
    void drop();
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    uint64_t file_size_ = 0;
    void* mapping_ = nullptr;
};
[[nodiscard]] IoError view_file(const char* path, std::span<uint8_t> buffer, FileView* out);

/* Only the reported size (open_failed when the file cannot be opened for reading). */
[[nodiscard]] IoError query_file_size(const char* path, uint64_t* size);

/* ---- outputs ---- */

/* What writing an output does to an existing file of its name. */
enum class OutputPolicy : uint8_t {
    replace, /* replaced: the windows, and the command lines with --force */
    keep,    /* kept: a file holding exactly the new bytes is up to date and not written again; a file with
                other content is output_differs (one that cannot be read to compare, output_unreadable) */
};

enum class OutputOutcome : uint8_t {
    none,       /* nothing written: the call failed */
    created,    /* no file of the name was there */
    replaced,   /* an existing file was replaced, the new bytes flushed to the disk before the move */
    up_to_date, /* the existing file holds exactly these bytes: left alone */
};

/* Writes an output so that a failure never leaves a partial file: the bytes go to a temporary file in the
 * target's folder, which then takes the target's name. When a file of that name is there, the policy says
 * whether it is replaced; a replaced file survives a crash: the temporary file is flushed to the disk
 * before the move (POSIX: fsync, then an fsync of the folder; Windows: FlushFileBuffers and a move written
 * through), a new file needs no flush. On any failure the temporary file is removed and an existing
 * target is left untouched. A folder of the target's name is create_failed ("is a folder"). The pieces
 * are written one after another as one file. *outcome (may be null) tells what became of the target. */
[[nodiscard]] IoError write_output(const char* path, std::span<const std::span<const uint8_t>> pieces,
                                   OutputPolicy policy, OutputOutcome* outcome = nullptr);
[[nodiscard]] inline IoError write_output(const char* path, std::span<const uint8_t> data, OutputPolicy policy,
                                          OutputOutcome* outcome = nullptr)
{
    const std::span<const uint8_t> one[1] = {data};
    return write_output(path, std::span<const std::span<const uint8_t>>(one), policy, outcome);
}
/* What write_output would do, writing nothing: created, replaced or up_to_date in *outcome; under keep,
 * output_differs or output_unreadable for a file it would keep. */
[[nodiscard]] IoError check_output(const char* path, std::span<const uint8_t> data, OutputPolicy policy,
                                   OutputOutcome* outcome);

/* write_output replacing whatever is there (tools and tests that write files of their own). */
[[nodiscard]] inline IoError write_file_replace(const char* path, std::span<const std::span<const uint8_t>> pieces)
{
    return write_output(path, pieces, OutputPolicy::replace);
}
[[nodiscard]] inline IoError write_file_replace(const char* path, std::span<const uint8_t> data)
{
    return write_output(path, data, OutputPolicy::replace);
}

/* Which file a path names, whatever its spelling: device and inode on POSIX, volume serial number and file
 * index on Windows. open_failed when there is nothing of that name. */
struct FileId {
    uint64_t device = 0;
    uint64_t index = 0;
    bool operator==(const FileId&) const = default;
};
[[nodiscard]] IoError query_file_id(const char* path, FileId* out);

/* ---- streaming reads (chunked searches, line readers) ---- */

struct ReadHandle {
    intptr_t value = -1;
};
[[nodiscard]] IoError open_for_reading(const char* path, ReadHandle* out);
/* Reads up to buffer.size() bytes at the current position; *got is 0 at the end. */
[[nodiscard]] IoError read_some(ReadHandle h, std::span<uint8_t> buffer, size_t* got);
[[nodiscard]] IoError seek_to(ReadHandle h, uint64_t offset);
void close_file(ReadHandle h);

/* ---- folders, names ---- */

/* Creates a folder; an existing folder of that name is fine (ok). A file of
 * that name is folder_failed with the reason "exists as a file". */
[[nodiscard]] IoError create_folder(const char* path);
/* Renames a file in place; never replaces an existing file (target_exists).
 * Renaming a file to its own name succeeds and changes nothing. name_refused
 * when the file system takes no such name (POSIX: EINVAL, EILSEQ,
 * ENAMETOOLONG; Windows: an invalid name), rename_failed for other reasons. */
[[nodiscard]] IoError rename_file(const char* from, const char* to);
bool file_exists(const char* path);
bool folder_exists(const char* path);

struct FoundEntry {
    std::string name; /* the name alone, without folder */
    bool is_folder = false;
};
/* Directory search for a path or pattern ("*" and "?" in the last
 * component): every match in the order the system returns them ("." and
 * ".." included where the system lists them). search_failed when nothing matches. */
[[nodiscard]] IoError find_entries(const char* pattern, std::vector<FoundEntry>* out);

/* ---- system folders ---- */

/* The program's own full path. */
[[nodiscard]] IoError get_module_path(char* buffer, size_t capacity);
/* The Windows folder (POSIX: $WINDIR, else empty). */
[[nodiscard]] IoError get_windows_folder(char* buffer, size_t capacity);
/* The user's folder of settings files (POSIX: $XDG_CONFIG_HOME when it is an absolute path, else
 * ~/.config; Windows: unsupported, its programs keep what they read beside themselves). */
[[nodiscard]] IoError get_config_folder(char* buffer, size_t capacity);
/* The folder holding the desktop's files (POSIX: $XDG_DESKTOP_DIR, else ~/Desktop). */
[[nodiscard]] IoError get_desktop_folder(char* buffer, size_t capacity);
[[nodiscard]] IoError set_current_folder(const char* path);
/* The current folder's full path (path_too_long when it does not fit the buffer). */
[[nodiscard]] IoError current_folder(char* buffer, size_t capacity);

/* ---- processes ---- */

struct ProcessHandle {
    intptr_t value = -1;
};
/* Starts a command line without a shell, in the current folder, with the
 * caller's environment and no handles of its own passed on (Windows:
 * CreateProcessA with the show command SW_HIDE or SW_SHOW, the value is the
 * process handle; POSIX: the line split by the Windows command-line rules
 * (common/cmdline.h), the program found like execvp, hide_window ignored,
 * the value is the process id). start_failed when the program cannot be
 * started (POSIX: also when it cannot be executed). */
[[nodiscard]] IoError start_process(const char* command_line, bool hide_window, ProcessHandle* out);
/* A timeout that never ends. */
inline constexpr unsigned kWaitForever = 0xFFFFFFFFu;
/* True when the process has ended (waits at most timeout_ms; 0 only asks;
 * kWaitForever waits for the end). Once true, it stays true. */
bool process_has_ended(ProcessHandle h, unsigned timeout_ms);
/* Lets go of the handle; a running process goes on running. */
void close_process(ProcessHandle h);
#ifdef _WIN32
/* Windows: waits until the process has ended (true; also for a handle that cannot be waited for) or
 * a message has come for this thread's windows (false: the caller dispatches it, then waits again). */
bool wait_for_end_or_message(ProcessHandle h);
#endif

/* ---- terminals ---- */

/* True when the stream is a terminal (Windows: a console, as GetConsoleMode tells; the NUL device, a
 * file or a pipe is none). */
bool is_terminal(std::FILE* stream);
/* The terminal's width in columns, or 80 when it cannot be told. */
unsigned terminal_width(std::FILE* stream);

/* Shift_JIS text (code page 932: names and titles of saves) in the character set of the user's
 * locale (POSIX: nl_langinfo(CODESET), so set the locale first, as cli::Console does; Windows: the
 * console's code page, or the ANSI code page without a console). glibc's "CP932" reads as Windows does (0x8160 is U+FF5E, 0x815F U+FF3C, 0x5C
 * a backslash), where its "SHIFT_JIS" would give U+301C, U+005C and a yen sign. */
class ShiftJisToLocale {
public:
    ShiftJisToLocale();
    ~ShiftJisToLocale();
    ShiftJisToLocale(const ShiftJisToLocale&) = delete;
    ShiftJisToLocale& operator=(const ShiftJisToLocale&) = delete;

    /* False, with *out unchanged, when the locale's set is plain ASCII or a byte of text does not
     * convert; true with the whole text converted. */
    [[nodiscard]] bool convert(const char* text, std::string* out) const;
    [[nodiscard]] bool convert(std::string_view text, std::string* out) const;
    /* The same for the core's rules (common/sjis.h); valid while this object lives. */
    TextConverter converter() const;
    /* The name of the locale's character set ("UTF-8"; Windows: "CP850"), for messages. */
    const char* charset() const { return charset_; }

private:
    intptr_t handle_ = -1;
    char charset_[40] = {};
};

/* Where file names are text in the user's locale (POSIX), the CLIs write the Shift_JIS names of saves
 * as file names in the locale's character set (common/sjis.h). Windows takes a name's bytes in its
 * ANSI code page, as the windows do, and converts nothing. */
/* And where a shell expands "*" and "?" in the arguments of a command (POSIX), the CLIs take them as
 * they come; on Windows they match the files themselves (cli::CommandLine). */
#ifdef _WIN32
inline constexpr bool kSaveNamesConvertedForFiles = false;
inline constexpr bool kShellExpandsPatterns = false;
#else
inline constexpr bool kSaveNamesConvertedForFiles = true;
inline constexpr bool kShellExpandsPatterns = true;
#endif

/* ---- large blocks ---- */

/* A zero-filled block from the system's page allocator; nullptr on failure. */
void* alloc_block(size_t size);
void free_block(void* block, size_t size);

/* Owns one block for the length of one file's work. */
class Block {
public:
    explicit Block(size_t size) : data_(static_cast<uint8_t*>(alloc_block(size))), size_(data_ ? size : 0) {}
    ~Block() { if (data_) free_block(data_, size_); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

    bool ok() const { return data_ != nullptr; }
    uint8_t* data() { return data_; }
    size_t size() const { return size_; }
    std::span<uint8_t> span() { return {data_, size_}; }

private:
    uint8_t* data_;
    size_t size_;
};

} // namespace ps2::plat
