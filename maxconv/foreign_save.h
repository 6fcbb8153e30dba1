/* foreign_save.h -- saves in the formats of other writers (CodeBreaker, SharkPort/X-Port, PSV) as one
 * directory of files, and that directory written as a PSU archive */
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/errors.h"
#include "common/psu.h"
#include "common/save_kind.h"

namespace ps2 {

/* ---- the formats ---- */

enum class ForeignFormat : uint8_t {
    none,
    codebreaker, /* "CFU\0": RC4-scrambled zlib body of file records */
    sharkport,   /* 0D 00 00 00 "SharkPortSave": descriptors and data, additive checksum (.sps, .xps) */
    psv,         /* 00 "VSP": a PS3 export, a table of files at stated offsets */
};

/* The format of a kind the shared recogniser (common/save_kind.h) tells; none for every other kind. */
ForeignFormat foreign_format_of(FileKind kind);
/* Decides by content alone, through the shared recogniser, so that a file it takes for a MAX or PSU
 * archive is none here; the file's name plays no part. */
ForeignFormat detect_foreign_format(std::span<const uint8_t> file);
/* "CodeBreaker save", "SharkPort/X-Port save", "PSV save". */
const char* foreign_format_name(ForeignFormat format);
/* The extensions its files go by: ".cbs", ".sps or .xps", ".psv". */
const char* foreign_format_extension(ForeignFormat format);

/* ---- limits ---- */

/* The largest PSU archive VARKON writes, and so the most files a save may have: each takes an entry. */
inline constexpr size_t kForeignPsuLimit = 8388608;
inline constexpr size_t kForeignFileLimit = (kForeignPsuLimit - 3 * kPsuEntrySize) / kPsuEntrySize; /* 16,381 */
/* The most a CodeBreaker body may inflate to, whatever its header states. */
inline constexpr size_t kInflateLimit = size_t(64) << 20;
/* A card's names hold at most 31 bytes and a NUL. */
inline constexpr size_t kCardNameMax = 31;

/* ---- errors: what refuses a save, or marks a file of it as not whole ---- */

#define FOREIGN_ERROR_LIST(X)                                                                                      \
    PS2_SHARED_ERROR_LIST(X)                                                                                       \
    X(not_foreign, "not a CodeBreaker, SharkPort/X-Port or PSV save")                                            \
    X(cbs_header_cut, "the file ends inside its CodeBreaker header")                                             \
    X(cbs_bad_data_offset, "the header's data_offset lies before the end of the directory fields or past the end of the file") \
    X(cbs_zip_bomb, "unpacked_size states more than 64 MiB; refused as a zip bomb")                              \
    X(cbs_body_too_large, "unpacked_size states more than a PSU archive of 8 MiB can hold")                      \
    X(cbs_not_zlib, "the body does not decrypt to a zlib stream (not a CodeBreaker body, or damaged at its start)") \
    X(cbs_stream_cut, "the compressed body is cut short: the zlib stream stops before its end")                  \
    X(cbs_stream_damaged, "the compressed body is damaged: zlib finds bad deflate data or a wrong Adler-32 check") \
    X(cbs_stream_short, "the body inflates to fewer bytes than unpacked_size states")                            \
    X(cbs_stream_long, "the body inflates to more bytes than unpacked_size states")                              \
    X(cbs_record_cut, "the last file record is cut short: the records do not fill the body exactly")            \
    X(sps_header_cut, "the file ends inside its SharkPort header")                                               \
    X(sps_size_mismatch, "payload_size fits neither header layout: the file's length is not what it states")    \
    X(sps_cut, "the file is cut short: it holds less than payload_size and the checksum")                        \
    X(sps_bad_checksum, "the checksum does not match the payload")                                               \
    X(sps_descriptor_cut, "a descriptor runs past the end of the payload")                                      \
    X(sps_bad_descriptor_size, "a descriptor states a size below 98 bytes")                                     \
    X(sps_bad_entry_count, "the directory descriptor counts fewer than 2 entries (its \".\" and \"..\")")      \
    X(sps_files_missing, "the payload ends before the last of the files its directory counts")                 \
    X(sps_extra_payload, "bytes follow the last file of the payload")                                           \
    X(psv_header_cut, "the file ends inside its PSV header")                                                     \
    X(psv_ps1, "a PlayStation save, not a PlayStation 2 save")                                                   \
    X(psv_unknown_type, "the PSV save type is neither 2 (PlayStation 2) nor 1 (PlayStation)")                    \
    X(psv_table_cut, "the file table runs past the end of the file")                                             \
    X(psv_unreferenced_tail, "its size is 0 while bytes at the end of the file belong to no entry: its size was lost") \
    X(too_many_files, "the save holds more files than a PSU archive of 8 MiB can")                              \
    X(name_empty, "the name is empty")                                                                           \
    X(name_dots, "the name is \".\", \"..\" or only dots and spaces")                                           \
    X(name_separator, "the name holds a path separator (\"/\" or \"\\\")")                                     \
    X(name_too_long, "the name is longer than the 31 bytes of a card name")                                     \
    X(not_a_file, "its mode is not that of a file")                                                             \
    X(mode_too_large, "its mode is above 0xFFFF, more than a card entry holds")                                \
    X(data_cut, "its data is cut short")                                                                        \
    X(data_past_end, "its data runs past the end of the file")                                                  \
    X(data_in_header, "its data offset lies inside the header or the file table")                              \
    X(psu_too_large, "the PSU archive would be larger than 8 MiB (8,388,608 bytes)")                          \
    X(no_room, "the result does not fit its buffer")

enum class ForeignError : uint8_t { FOREIGN_ERROR_LIST(PS2_ERROR_ENUM) };
const char* foreign_error_text(ForeignError e);

/* ---- what a reader yields ---- */

/* A time stamp of 8 bytes as the card keeps it: reserved, second, minute, hour, day, month, year (u16). */
using TimeOfDay = std::array<uint8_t, 8>;
/* Set and in range: day, month and year not 0, every field within its range. */
bool time_is_set(const TimeOfDay& t);
/* Stands in for a directory date nothing gives: 2000-01-01 00:00:00. */
inline constexpr TimeOfDay kFallbackTime{0, 0, 0, 0, 1, 1, 0xD0, 0x07};

/* Why a name cannot stand in a card entry or name a file: ok, or one of the name_ codes. Judged byte by
 * byte, the same on every system: a save read here may be unpacked on either. */
ForeignError check_save_name(std::string_view name);

struct ForeignFile {
    std::string_view name;          /* up to its NUL; points into the file or the body */
    uint32_t mode = 0;              /* as stored */
    TimeOfDay created{};
    TimeOfDay modified{};
    uint32_t size = 0;              /* as stated */
    std::span<const uint8_t> data;  /* what there is: size bytes when whole */
    ForeignError fault = ForeignError::ok; /* why the file cannot be written as it stands; ok when whole */
};

struct ForeignSave {
    ForeignFormat format = ForeignFormat::none;
    std::array<char, kPsuNameSize> dir_name_field{}; /* a copy: the name outlives the buffer it came from */
    uint8_t dir_name_size = 0;
    uint32_t dir_mode = 0; /* as stored */
    TimeOfDay created{};
    TimeOfDay modified{};
    ForeignFile* files = nullptr; /* the caller's list */
    uint32_t file_count = 0;      /* files found, whole or not */
    uint32_t files_stated = 0;    /* SharkPort and PSV: how many the save counts; CodeBreaker: file_count */
    /* The first fault of the save as a whole (a cut, a checksum, bytes left over); ok when none. */
    ForeignError damage = ForeignError::ok;
    /* For telling what was read. */
    bool has_checksum = false;      /* SharkPort: stored and computed below */
    uint32_t checksum_stored = 0;
    uint32_t checksum_computed = 0;
    size_t trailing_bytes = 0;      /* PSV: bytes behind the last file's data; CodeBreaker: behind the stream */
    uint32_t unpacked_size = 0;     /* CodeBreaker: as stated */
    size_t inflated_size = 0;       /* CodeBreaker: what the stream gave, at most unpacked_size */

    std::string_view dir_name() const { return {dir_name_field.data(), dir_name_size}; }
    std::span<const ForeignFile> file_list() const { return {files, file_count}; }
    /* Nothing damaged: every file there and whole. */
    bool is_whole() const;
};

/* ---- reading ---- */

/* Reads a save of any of the three formats, by its magic. body: room for a CodeBreaker save's inflated
 * body (unused by the others); files: the list the save's files go into. The file's bytes (and the body)
 * must outlive the result, which points into them; only the directory name is copied.
 * Returns ok when the save's directory could be read: its files, whole or not, are then listed, and
 * save->damage and each file's fault say what is wrong. Otherwise (not such a save, a header that does not
 * fit, a PlayStation save, a directory name that cannot be used, more files than the list holds) the
 * save is refused whole. */
[[nodiscard]] ForeignError read_foreign_save(std::span<const uint8_t> file, std::span<uint8_t> body,
                                             std::span<ForeignFile> files, ForeignSave* save);

/* Each format's reader, as read_foreign_save calls it (the magic already matched). */
[[nodiscard]] ForeignError read_cbs_save(std::span<const uint8_t> file, std::span<uint8_t> body,
                                         std::span<ForeignFile> files, ForeignSave* save);
[[nodiscard]] ForeignError read_sharkport_save(std::span<const uint8_t> file, std::span<ForeignFile> files,
                                               ForeignSave* save);
[[nodiscard]] ForeignError read_psv_save(std::span<const uint8_t> file, std::span<ForeignFile> files, ForeignSave* save);

/* What the readers share: the save begun over the caller's list, the directory name taken (refused
 * when it cannot be used), a file's mode judged, a file appended (too_many_files when the list is full). */
void begin_foreign_save(ForeignSave* save, ForeignFormat format, std::span<ForeignFile> files);
[[nodiscard]] ForeignError take_dir_name(ForeignSave* save, std::string_view name);
ForeignError check_file_mode(uint32_t mode);
[[nodiscard]] ForeignError add_foreign_file(ForeignSave* save, std::span<ForeignFile> files, const ForeignFile& file);
TimeOfDay load_time(const uint8_t* p);

/* ---- writing ---- */

struct ForeignPsuInfo {
    uint32_t files_written = 0;
    uint16_t dir_mode = 0;
    TimeOfDay created{};  /* the directory's, after defaults */
    TimeOfDay modified{};
};

/* Writes the save's whole files (fault ok) as a PSU archive in out: the directory entry (its mode when
 * valid, else 0x8427; length = files written + 2), "." and ".." (0x8427, the directory's created time
 * for both stamps), then each file with its mode, stamps and data, padded with zeros to 1024. Stamps
 * that are not set are filled in: the directory's created from the earliest file created, its modified,
 * or 2000-01-01; its modified from the latest file modified, or its created; a file's created from the
 * directory's created, its modified from its created, or the directory's modified. The same save gives
 * the same bytes every time. out must not overlap the file's bytes or the body.
 * psu_too_large when the archive would exceed 8 MiB; no_room when out is smaller. */
[[nodiscard]] ForeignError write_foreign_psu(const ForeignSave& save, std::span<uint8_t> out, size_t* out_size,
                                             ForeignPsuInfo* info = nullptr);

} // namespace ps2
