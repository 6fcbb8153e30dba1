/* psu.h -- the PSU archive: its 512-byte entry record and the depth-first node layout */
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "common/errors.h"

namespace ps2 {

/* ---- the entry record (also the memory card's directory entry) ---- */

inline constexpr size_t kPsuEntrySize = 512;
inline constexpr size_t kPsuNameSize = 32;
inline constexpr size_t kPsuDataAlign = 1024; /* file data is padded to this */

inline constexpr uint16_t kModeFileBit = 0x0010;
inline constexpr uint16_t kModeDirBit = 0x0020;
/* Set in every live entry; clear in the entry of a save deleted from a card. */
inline constexpr uint16_t kModeExistsBit = 0x8000;
/* Modes of entries made from nothing. */
inline constexpr uint16_t kModeNewDirectory = 0x8427;
inline constexpr uint16_t kModeNewFile = 0x8417;

/* Byte offsets of the fields inside the 512-byte record. */
namespace psu_field {
inline constexpr size_t mode = 0x000;        /* u16 */
inline constexpr size_t reserved_02 = 0x002; /* u16 */
inline constexpr size_t length = 0x004;      /* u32: file size, or entry count of a directory */
inline constexpr size_t created = 0x008;     /* 8 bytes */
inline constexpr size_t cluster = 0x010;     /* u32 */
inline constexpr size_t dir_entry = 0x014;   /* u32 */
inline constexpr size_t modified = 0x018;    /* 8 bytes */
inline constexpr size_t attr = 0x020;        /* u32 */
inline constexpr size_t reserved_24 = 0x024; /* 28 bytes */
inline constexpr size_t name = 0x040;        /* 32 bytes */
inline constexpr size_t reserved_60 = 0x060; /* 416 bytes, to the end of the record */
} // namespace psu_field

/* The record decoded; decode then encode gives back the same 512 bytes. */
struct PsuEntry {
    uint16_t mode = 0;
    uint16_t reserved_02 = 0;
    uint32_t length = 0;
    std::array<uint8_t, 8> created{};
    uint32_t cluster = 0;
    uint32_t dir_entry = 0;
    std::array<uint8_t, 8> modified{};
    uint32_t attr = 0;
    std::array<uint8_t, 28> reserved_24{};
    std::array<uint8_t, kPsuNameSize> name{};
    std::array<uint8_t, 416> reserved_60{};
};

PsuEntry decode_psu_entry(const uint8_t* record);
void encode_psu_entry(const PsuEntry& entry, uint8_t* record);

/* The name up to its first NUL, never more than the 32 bytes of the field. */
std::string_view psu_entry_name(const PsuEntry& entry);
std::string_view psu_record_name(const uint8_t* record);
/* Sets the name field (zero-filled behind the name); false when longer than 32 bytes. */
[[nodiscard]] bool set_psu_entry_name(PsuEntry* entry, std::string_view name);

inline bool mode_is_file(uint16_t mode) { return (mode & kModeFileBit) != 0; }
inline bool mode_is_directory(uint16_t mode) { return (mode & kModeDirBit) != 0; }
/* Exactly one of the two kind bits: what a well-formed archive holds. */
inline bool mode_is_well_formed(uint16_t mode) { return mode_is_file(mode) != mode_is_directory(mode); }
/* Live on its card: the exists bit is set. */
inline bool mode_exists(uint16_t mode) { return (mode & kModeExistsBit) != 0; }

/* In-place access to a record inside a buffer (card images, archives). */
inline uint16_t record_mode(const uint8_t* r) { return load_u16le(r + psu_field::mode); }
inline uint32_t record_length(const uint8_t* r) { return load_u32le(r + psu_field::length); }
inline uint32_t record_cluster(const uint8_t* r) { return load_u32le(r + psu_field::cluster); }
inline uint32_t record_dir_entry(const uint8_t* r) { return load_u32le(r + psu_field::dir_entry); }
inline void set_record_length(uint8_t* r, uint32_t v) { store_u32le(r + psu_field::length, v); }
inline void set_record_cluster(uint8_t* r, uint32_t v) { store_u32le(r + psu_field::cluster, v); }
inline void set_record_dir_entry(uint8_t* r, uint32_t v) { store_u32le(r + psu_field::dir_entry, v); }

/* Bytes a file of the given length takes behind its entry (padded to 1024). */
inline uint64_t psu_padded_size(uint64_t length) { return round_up_1024(length); }

/* ---- reading an archive record by record ---- */

/* How a reading takes a record's kind from its mode. */
enum class PsuKindRule : uint8_t {
    exact,            /* one kind bit exactly; neither or both is bad_kind */
    directory_first,  /* the directory bit, else the file bit; neither ends the reading in front of it */
    file_bit,         /* the file bit makes a file; anything else is a bare entry */
    unless_directory, /* the directory bit makes a directory (bare); anything else is a file */
};

/* What a tool takes for an archive. The tools differ on purpose: each
 * states its reading as one of these. */
struct PsuReadPolicy {
    /* Nested: the first record is the archive's node; a directory is
     * followed by its "." and ".." and length - 2 members, depth-first, and
     * reading ends when that node is read. Linear: one record after the
     * other, every directory a bare entry, until the bytes end. */
    bool nested = true;
    PsuKindRule kinds = PsuKindRule::exact;
    /* Nested: a directory length below 2 is bad_directory_length, and
     * members that cannot fit the bytes left are cut_entry at once. Otherwise
     * such a directory has no members, and members are read until one runs
     * past the end. */
    bool strict_counts = true;
    /* A file whose data runs past the end keeps the data there is
     * (data_cut); otherwise that is cut_data. */
    bool keep_cut_data = false;
};

enum class PsuRecordKind : uint8_t { directory, file, bare };

struct PsuRecord {
    size_t offset = 0;              /* of the 512-byte entry */
    const uint8_t* entry = nullptr; /* the entry itself */
    PsuRecordKind kind = PsuRecordKind::bare;
    uint16_t mode = 0;
    uint32_t length = 0;
    uint32_t depth = 0;             /* nested: 0 for the first record, 1 for its members, ... */
    std::span<const uint8_t> data;  /* files: the data there is (length bytes unless data_cut) */
    bool data_cut = false;
};

/* Why reading stopped. */
enum class PsuReadStop : uint8_t {
    reading,              /* not stopped */
    end,                  /* the archive is read as the policy reads it */
    cut_entry,            /* fewer bytes than an entry (remaining() of them) where one should stand */
    cut_links,            /* a nested directory's "." and ".." run past the end */
    cut_data,             /* a file's data runs past the end */
    bad_kind,             /* exact: a record of neither or both kinds */
    bad_directory_length, /* strict: a directory length below 2 */
    neither_kind,         /* directory_first: a record of neither kind stands at position() */
};

/* Reads an archive's records in order over a ByteCursor, never outside the
 * bytes and never looping: every record takes at least 512 bytes, and every
 * directory opened took 1536, so the open directories are bounded by the
 * bytes given, never by counts from the file. A file's padding to 1024
 * is skipped; the last file's may be missing. */
class PsuRecordReader {
public:
    PsuRecordReader(std::span<const uint8_t> archive, const PsuReadPolicy& policy, size_t start = 0)
        : cur_(archive, start), policy_(policy) {}

    /* The next record in *record; false when reading has stopped (stop() says why). */
    [[nodiscard]] bool next(PsuRecord* record);
    PsuReadStop stop() const { return stop_; }
    /* Behind the last record taken (at a neither_kind record: where it stands). */
    size_t position() const { return cur_.position(); }
    size_t remaining() const { return cur_.remaining(); }

private:
    bool halt(PsuReadStop why)
    {
        stop_ = why;
        return false;
    }
    bool take_kind(uint16_t mode, PsuRecordKind* kind);

    ByteCursor cur_;
    PsuReadPolicy policy_;
    PsuReadStop stop_ = PsuReadStop::reading;
    bool started_ = false;
    std::vector<uint32_t> members_left_; /* nested: per open directory, outermost first */
};

/* ---- the depth-first shape ---- */

#define PSU_ERROR_LIST(X)                                                          \
    X(ok, "ok")                                                                    \
    X(empty, "the file is empty")                                                  \
    X(truncated_entry, "the archive ends inside an entry")                         \
    X(truncated_data, "a file's data runs past the end of the archive")            \
    X(bad_kind, "an entry is neither a file nor a directory, or both")              \
    X(bad_directory_length, "a directory's entry count is below 2")                 \
    X(trailing_bytes, "bytes follow the last entry of the archive")                 \
    X(no_room, "the archive does not fit its buffer")

enum class PsuError : uint8_t { PSU_ERROR_LIST(PS2_ERROR_ENUM) };
const char* psu_error_text(PsuError e);

enum class PsuNodeKind : uint8_t {
    directory, /* a directory entry: the top entry or a nested directory */
    link,      /* the "." or ".." entry that follows a directory entry */
    file,      /* a file entry, followed by its data */
};

struct PsuNode {
    size_t offset = 0;      /* of the entry record */
    PsuNodeKind kind = PsuNodeKind::file;
    uint32_t depth = 0;     /* 0 for the top node; members of the top are 1 */
    size_t data_offset = 0; /* files: where the data starts (offset + 512) */
    uint32_t data_length = 0; /* files: the entry's length */
};

/* Walks the node at offset 0 depth-first, nested directories included, and
 * appends one PsuNode per entry in archive order: the strict reading, which
 * takes only what a well-formed archive holds. Malformed archives are
 * rejected: an entry with neither or both kind bits, a directory length
 * below 2, an entry or data running past the end. *end receives the offset
 * behind the last node; trailing bytes there give trailing_bytes (the
 * nodes are complete in that case). */
[[nodiscard]] PsuError walk_psu_archive(std::span<const uint8_t> archive, std::vector<PsuNode>* nodes, size_t* end);

/* ---- writing an archive ---- */

/* Appends entries and file data into a caller's buffer, zero padding. */
class PsuWriter {
public:
    explicit PsuWriter(std::span<uint8_t> out) : out_(out) {}

    /* A bare entry (a directory, ".", ".."). */
    [[nodiscard]] bool add_entry(const PsuEntry& entry);
    /* A file entry followed by its data padded with zeros to 1024. The
     * entry's length is written as data.size(). */
    [[nodiscard]] bool add_file(PsuEntry entry, std::span<const uint8_t> data);

    size_t size() const { return out_.size(); }

private:
    ByteWriter out_;
};

/* A directory entry, or a file entry, as made from nothing. */
PsuEntry make_directory_entry(std::string_view name, uint32_t length);
PsuEntry make_file_entry(std::string_view name, uint32_t length);

} // namespace ps2
