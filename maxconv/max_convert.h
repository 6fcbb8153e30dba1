/* max_convert.h -- VARKON's two conversions over memory buffers: MAX archive to PSU archive and back */
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/save_kind.h"
#include "maxconv/max_format.h"

namespace ps2 {

/* Each conversion works in two buffers of this size, as the handler obtains them. */
inline constexpr size_t kWorkBufferSize = kMaxArchiveLimit;
/* Offset of the first member's entry in a PSU archive (after the top, "." and ".." entries). */
inline constexpr size_t kPsuFirstMember = 1536;

enum class SaveKind : uint8_t {
    max_archive, /* begins with "Ps2PowerSave" */
    psu_archive, /* the name fields of the 2nd and 3rd entries are exactly "." and ".." */
    neither,
};

/* The shared recogniser's kind (common/save_kind.h) as the conversions name it; every other kind it knows
 * is neither here. */
SaveKind save_kind_of(FileKind kind);
/* Decides by content alone, through the shared recogniser; the file's name plays no part. */
SaveKind detect_save_kind(std::span<const uint8_t> file);

struct MaxToPsuInfo {
    uint32_t file_count = 0;
    uint32_t unpacked_size = 0;
    size_t stream_size = 0;         /* packed_size - 4 */
    size_t trailing_bytes = 0;      /* file bytes after the stream (other writers leave some) */
    size_t stream_bytes_wanted = 0; /* what the decoder asked for; more than stream_size + 2 means a cut stream */
};

/* Expands a MAX archive and builds its PSU archive: top, "." and ".." entries
 * with mode 0x8427, one file entry with mode 0x8417 per member, every other
 * field and all padding zero. The check value is not looked at here.
 * build: room for the 92-byte header and the payload (a work buffer).
 * out: where the PSU archive goes; it may be the file's own memory, since the
 * file is read completely before out is written.
 * Refused (nothing usable in out): a header that does not fit the file or
 * the limits (check_max_header), a record past unpacked_size, a PSU archive
 * larger than 8 MiB or than out. */
[[nodiscard]] MaxError convert_max_to_psu(std::span<const uint8_t> file, std::span<uint8_t> build,
                                          std::span<uint8_t> out, size_t* out_size, MaxToPsuInfo* info = nullptr);

struct MaxPayloadInfo {
    uint32_t file_count = 0;
    uint32_t unpacked_size = 0;
};

/* Reads a PSU archive (a flat save) into a MAX header and payload in build.
 * Reads the top entry's name and length, then length - 2 members from offset
 * 1536, each an entry and its data; other fields are not looked at.
 * Refused: a file that is not a PSU archive, shorter than its three entries
 * or larger than 8 MiB, a top length below 2, a member past the end of the
 * file, a member with the directory bit, a payload over 8,388,516 bytes. */
[[nodiscard]] MaxError build_max_payload(std::span<const uint8_t> psu, std::span<uint8_t> build, MaxPayloadInfo* info);

/* Builds the MAX archive of a PSU archive in out: header, stream, sealed
 * with its check value; *out_size is 92 + the stream length. out may be the
 * file's own memory (the payload is then built in build first) or build
 * itself (beside the file, the encoder takes the payload from the members
 * and build is not written). Refused as build_max_payload, and when the
 * stream would not fit out or 8,388,516 bytes (never a cut stream). */
[[nodiscard]] MaxError convert_psu_to_max(std::span<const uint8_t> file, std::span<uint8_t> build,
                                          std::span<uint8_t> out, size_t* out_size);

} // namespace ps2
