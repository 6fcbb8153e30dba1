/* max_format.h -- the MAX archive: 92-byte header, CRC-32 over the whole file, the payload of member records */
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/bytes.h"
#include "common/errors.h"

namespace ps2 {

/* ---- layout ---- */

inline constexpr size_t kMaxHeaderSize = 92;
inline constexpr std::string_view kMaxMagic = "Ps2PowerSave"; /* 12 bytes, no NUL */
/* The largest MAX archive, the size of each work buffer of a conversion. */
inline constexpr size_t kMaxArchiveLimit = 8388608;
/* The largest payload and the largest stream: what follows a header in a work buffer. */
inline constexpr size_t kMaxPayloadLimit = kMaxArchiveLimit - kMaxHeaderSize; /* 8,388,516 */

/* Byte offsets of the header fields; all integers are u32 little-endian. */
namespace max_field {
inline constexpr size_t magic = 0x00;         /* 12 bytes */
inline constexpr size_t crc = 0x0C;           /* CRC-32 of the file with these 4 bytes zero */
inline constexpr size_t dir_name = 0x10;      /* 64 bytes: the name, NUL, zeros */
inline constexpr size_t packed_size = 0x50;   /* stream length + 4 */
inline constexpr size_t file_count = 0x54;
inline constexpr size_t unpacked_size = 0x58; /* payload length */
} // namespace max_field
inline constexpr size_t kMaxDirNameField = 64;
inline constexpr size_t kMaxNameSize = 32; /* longest directory or member name */

/* A member record: u32 member_size, 32-byte member_name, the data, zero padding. */
inline constexpr size_t kMaxRecordHead = 36;

/* Where the record after one at payload offset o with member_size n starts:
 * the smallest offset not below the data's end whose value plus 8 is a
 * multiple of 16. */
inline uint64_t max_next_record_offset(uint64_t o, uint64_t member_size)
{
    return ((o + kMaxRecordHead + member_size + 8 + 15) & ~uint64_t(15)) - 8;
}

/* ---- errors of the MAX side of the converter ---- */

#define MAX_ERROR_LIST(X)                                                                              \
    PS2_SHARED_ERROR_LIST(X)                                                                           \
    X(not_max, "the file is not a MAX archive (it does not begin with \"Ps2PowerSave\")")              \
    X(max_too_short, "the MAX archive is shorter than its 92-byte header")                             \
    X(max_too_large, "the MAX archive is larger than 8 MiB (8,388,608 bytes)")                         \
    X(stream_past_end, "packed_size runs past the end of the file")                                    \
    X(payload_too_large, "unpacked_size is larger than 8,388,516 bytes")                               \
    X(record_past_end, "a member record runs past unpacked_size")                                      \
    X(psu_too_large, "the PSU archive would be larger than 8 MiB (8,388,608 bytes)")                   \
    X(not_psu, "the file is not a PSU archive (no \".\" and \"..\" entries)")                          \
    X(psu_too_short, "the PSU archive ends inside its first three entries")                            \
    X(psu_too_large_input, "the PSU archive is larger than 8 MiB (8,388,608 bytes)")                   \
    X(bad_entry_count, "the top entry's length is below 2")                                            \
    X(member_past_end, "a member runs past the end of the file")                                       \
    X(member_is_folder, "the save holds a folder; MAX archives hold flat saves only")                  \
    X(members_too_large, "the files add up to more than 8,388,516 bytes of payload")                   \
    X(stream_too_large, "the compressed stream would be larger than 8,388,516 bytes")                  \
    X(no_room, "the result does not fit its buffer")                                                   \
    X(save_too_large_to_pack, "the save is larger than the compressor takes (2 GiB)")

enum class MaxError : uint8_t { MAX_ERROR_LIST(PS2_ERROR_ENUM) };
const char* max_error_text(MaxError e);

/* ---- reading ---- */

/* True when the first 12 bytes are "Ps2PowerSave". */
bool is_max_archive(std::span<const uint8_t> file);

struct MaxHeader {
    uint32_t crc = 0;
    std::string_view dir_name; /* up to its NUL, at most 32 bytes; points into the header */
    uint32_t packed_size = 0;
    uint32_t file_count = 0;
    uint32_t unpacked_size = 0;
};

/* Decodes the fields of a 92-byte header (no checks). */
MaxHeader read_max_header(const uint8_t* header);

/* The CRC-32 of the file with its crc field taken as zero. */
uint32_t compute_max_crc(std::span<const uint8_t> file);

/* Checks what the header promises against the file, so that expanding it
 * stays inside the buffers: a whole header and at most 8,388,608 bytes,
 * packed_size - 4 stream bytes present after the header (more bytes may
 * follow; writers in the wild leave some), unpacked_size at most 8,388,516. */
[[nodiscard]] MaxError check_max_header(std::span<const uint8_t> file, MaxHeader* header);

/* The compressed stream: packed_size - 4 bytes from offset 92 (header checked). */
std::span<const uint8_t> max_stream(std::span<const uint8_t> file, const MaxHeader& header);

struct MaxMember {
    std::string_view name; /* up to its NUL, at most 32 bytes */
    std::span<const uint8_t> data;
};

/* Reads the record at payload offset *offset and moves *offset to the next
 * record by the record rule. record_past_end when its head or data runs past
 * the payload (its padding may be missing). */
[[nodiscard]] MaxError read_max_record(std::span<const uint8_t> payload, uint64_t* offset, MaxMember* member);

/* ---- writing ---- */

/* Writes a header's fixed part at header[0..92): the magic and the directory
 * name (cut to 32 bytes), every other byte zero. */
void start_max_header(uint8_t* header, std::string_view dir_name);

/* Writes a member record's first 36 bytes at rec: the member's size and its
 * name (cut to 32 bytes, the rest of the field zeros). */
void put_max_record_head(uint8_t* rec, std::string_view name, uint32_t size);

/* Lays out a header and a payload in a build buffer: the header at 0, the
 * payload from 92. Writes every byte it covers (padding zeros included), so
 * the buffer need not be zero-filled. */
class MaxPayloadWriter {
public:
    /* The directory name is cut to 32 bytes. The payload may take what follows
     * the header in build, at most 8,388,516 bytes. */
    MaxPayloadWriter(std::span<uint8_t> build, std::string_view dir_name);

    /* Appends a member record (the name cut to 32 bytes): members_too_large
     * when it would not fit, and nothing is written then. */
    [[nodiscard]] MaxError add_member(std::string_view name, std::span<const uint8_t> data);

    uint32_t file_count() const { return file_count_; }
    /* Where a further record would start: the payload's length. */
    uint32_t unpacked_size() const { return uint32_t(next_); }

private:
    std::span<uint8_t> payload_;
    uint64_t next_ = 0; /* payload offset of the next record */
    uint32_t file_count_ = 0;
};

/* Finishes an archive whose header lies at archive[0..92) and whose stream
 * of stream_size bytes follows it: sets packed_size, file_count,
 * unpacked_size and crc. Returns the archive's length, 92 + stream_size. */
size_t seal_max_archive(std::span<uint8_t> archive, size_t stream_size, uint32_t file_count, uint32_t unpacked_size);

} // namespace ps2
