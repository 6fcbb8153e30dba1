/* rebuild.h -- rebuilding a PSU archive from a manifest and the member files it names */
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/errors.h"
#include "common/paths.h"
#include "common/sjis.h"
#include "unpack/manifest.h"
#include "unpack/membername.h"

namespace ps2 {

/* The largest archive a rebuild produces: the size of its buffer. */
inline constexpr size_t kRebuildCapacity = 8192000;

/* Where member files come from (the unpack folder, or memory in tests). */
struct MemberSource {
    /* Reads the member file name2 into room, at most room.size() bytes, and
     * gives the file's size (which may exceed room) and the bytes placed.
     * Returns nullptr on success, or a fixed text saying why the file could
     * not be read. */
    const char* (*read)(void* context, std::string_view name2, std::span<uint8_t> room, uint64_t* file_size,
                        size_t* bytes_read) = nullptr;
    void* context = nullptr;
};

#define REBUILD_ERROR_LIST(X)                                                                 \
    X(ok, "ok")                                                                               \
    X(no_entries, "the manifest holds no complete entry block")                              \
    X(unsafe_member_name, "the member file name cannot be used")                              \
    X(member_unreadable, "the member file cannot be read")                                    \
    X(member_changed, "the member file changed while it was read")                           \
    X(too_large, "the archive would be larger than 8,192,000 bytes")

enum class RebuildError : uint8_t { REBUILD_ERROR_LIST(PS2_ERROR_ENUM) };
const char* rebuild_error_text(RebuildError e);

/* A block that keeps the archive from being built. */
struct RebuildProblem {
    RebuildError error = RebuildError::ok;
    size_t block = 0;      /* from 1, in manifest order */
    size_t line = 0;       /* the block's first line in the manifest */
    std::string name2;     /* the member file (files only) */
    MemberNameFault name_fault = MemberNameFault::none; /* unsafe_member_name */
    std::string detail;                                  /* member_unreadable: the system's reason */
    uint64_t needed = 0;   /* too_large: the bytes the archive would need up to this block */
};

/* A block whose value did not fit its field and was cut (a warning). */
struct RebuildCut {
    size_t block = 0;
    size_t line = 0;
    ManifestField field = ManifestField::name;
};

struct RebuildResult {
    size_t size = 0;           /* bytes of the archive at the start of out */
    size_t entries = 0;        /* complete blocks */
    size_t files = 0;          /* of them, file entries */
    size_t partial_lines = 0;  /* lines of an incomplete last block (ignored) */
    std::vector<RebuildCut> cuts;
    std::vector<ManifestLineNote> line_notes; /* lines that do not read as their place holds (warnings) */
    std::vector<RebuildProblem> problems; /* every block that stops the rebuild */
};

/* Builds the archive into out (zero-filled by the caller, at most
 * kRebuildCapacity bytes used): one entry per complete block in manifest
 * order, the record holding exactly the fields the block gives (every other
 * byte zero); a file entry (file bit of mode) is followed by its member
 * file, whose size replaces the length line, padded with zeros to 1024.
 * Directories keep their length line and read nothing.
 * ok: the archive is out[0, result->size).
 * Otherwise no archive is to be written: no_entries, or the first problem's
 * error; result->problems lists every block at fault (reading goes on past
 * an unsafe or unreadable member to list them all, and stops at too_large). */
[[nodiscard]] RebuildError rebuild_psu(std::span<const uint8_t> manifest, const MemberSource& source,
                                       const PathRules& rules, std::span<uint8_t> out, RebuildResult* result);

/* The name the rebuilt archive is written under: "temp.psu" with temp names,
 * else the name field of its first entry followed by ".psu" (a Shift_JIS
 * name in the user's character set where `to_user` converts it, as the
 * unpack's member files: *converted is then true). A first name that cannot
 * be a file name gives its fault (and *name is empty). */
[[nodiscard]] MemberNameFault rebuild_result_name(std::span<const uint8_t> archive, bool temp_names,
                                                  const PathRules& rules, std::string* name,
                                                  const TextConverter& to_user = {}, bool* converted = nullptr);

} // namespace ps2
