/* unpack.h -- unpacking a PSU archive: the linear walk over its entries, the member files and the manifest it gives */
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "common/paths.h"
#include "common/psu.h"
#include "common/sjis.h"
#include "unpack/manifest.h"
#include "unpack/membername.h"

namespace ps2 {

struct UnpackOptions {
    /* name2 is "temp%04d.bin" with a counter over every entry, instead of the entry's name. */
    bool temp_names = false;
    /* How names are scanned for separators (the system's rules at run time). */
    PathRules rules = kPosixRules;
    /* Member files whose names differ only in the case of a-z are one file
     * (file systems that ignore case); used to tell when one overwrites another. */
    bool names_fold_case = false;
    /* Where file names are in the user's character set (Linux): an entry name that is neither ASCII
     * nor UTF-8 but converts whole from Shift_JIS gives its name2 converted (common/sjis.h); the
     * name line keeps the entry's bytes. None: name2 is the name's bytes. */
    TextConverter to_user;
};

inline constexpr size_t kNoEntry = SIZE_MAX;

/* The name of an entry's member file: the entry's name or a temporary name. */
struct Name2 {
    std::array<char, kManifestName2Max> text{};
    uint8_t size = 0;
    std::string_view view() const { return {text.data(), size}; }
};

/* One entry of the archive in archive order. */
struct UnpackEntry {
    size_t offset = 0; /* of the 512-byte record */
    Name2 name2;
    bool name2_converted = false; /* name2 is the Shift_JIS name in the user's character set */
    bool is_file = false; /* the file bit: a member file is written from data */

    /* Files only. */
    uint32_t length = 0;
    std::span<const uint8_t> data; /* the data there is: shorter than length when data_cut */
    bool data_cut = false;         /* the archive ends inside the data */
    MemberNameFault name_fault = MemberNameFault::none; /* not none: no member file is written */
    size_t replaces = kNoEntry;    /* an earlier entry whose member file this one overwrites */

    /* The entry's name holds CR or LF: its name line cannot be read back as written. */
    bool name_breaks_line = false;
};

struct UnpackPlan {
    std::vector<UnpackEntry> entries;
    /* Bytes at the end too few for a whole entry; they are not unpacked. */
    size_t ignored_tail = 0;
    /* What the depth-first walk says of the archive's shape (ok for a
     * well-formed archive); the linear unpack walk does not depend on it. */
    PsuError shape = PsuError::ok;

    size_t file_count() const;
};

/* What an archive that ends early lacks, told from its directories' counts: a directory entry (the first
 * and every one with the directory bit behind it, followed by its "." and "..") counts its members, and
 * the entries there are are taken in order as those members, depth first. */
struct MissingMembers {
    uint64_t count = 0;          /* members the counts promise that the bytes do not hold */
    size_t directory = kNoEntry; /* the innermost directory still waiting for members (an entry index) */
    size_t directories = 0;      /* directories still waiting for members */
};
MissingMembers count_missing_members(std::span<const uint8_t> archive, const UnpackPlan& plan);

/* The archive's first entry is a directory followed by "." and ".." (as the recogniser of common/save_kind.h
 * sees them): what QUILBAN unpacks. */
bool begins_as_save_directory(std::span<const uint8_t> archive);

/* Walks the archive linearly from offset 0: an entry; if it has the file
 * bit, its length bytes of data and the next entry behind the padding to
 * 1024. The walk stops at the archive's end; a last entry cut short is not
 * taken (ignored_tail), a file whose data runs past the end keeps the data
 * there is (data_cut). Never reads outside the archive, never loops: every
 * step takes at least 512 bytes. */
void plan_unpack(std::span<const uint8_t> archive, const UnpackOptions& options, UnpackPlan* plan);

/* Bytes enough for the plan's manifest. */
size_t unpack_manifest_capacity(const UnpackPlan& plan);

/* The manifest of the plan: the header, then one block per entry.
 * False when out is smaller than unpack_manifest_capacity(plan). */
[[nodiscard]] bool write_unpack_manifest(std::span<const uint8_t> archive, const UnpackPlan& plan,
                                         ManifestWriter* out);

} // namespace ps2
