/* cardsplit.h -- splitting a raw card image into PSU archives: the root directory, archive names, one archive per root entry
 *
 * Core code: works on a card image already in raw form (card/card.h) and on
 * one caller-supplied work area; no allocation (but a name converter's), no file access. The handler
 * (sorvik_handler.h) reads the image, makes the folder and writes each
 * archive this module builds.
 *
 * Every walk over card data is bounded by the card's geometry, never by a
 * count taken from the card: a chain stops at a cluster outside the
 * allocatable area or at a cluster already taken into the same archive (which
 * catches loops, cross-linked chains and cycles in the directory tree), a
 * directory gives no more entries than its chain holds, and an archive never
 * grows past the size of the allocatable area. On a well-formed card none of
 * these bounds is reached and each archive is the card's entries byte for
 * byte, depth-first, with every file's data as whole clusters (the padding
 * is whatever the last cluster holds behind the file's end). */
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "card/card.h"
#include "common/errors.h"
#include "common/iconsys.h"
#include "common/paths.h"
#include "common/psu.h"
#include "common/sjis.h"

namespace ps2 {

/* ---- sizes ---- */

/* The largest archive a well-formed card can give: the top entry and every
 * allocatable cluster once (a save's entries take 512 bytes each, two to a
 * directory cluster; its files take their clusters). */
inline constexpr size_t kSplitArchiveCapacity = kPsuEntrySize + size_t(kAllocClusters) * kClusterSize;
/* A directory holds two entries per cluster of its chain. */
inline constexpr uint32_t kMaxDirectoryEntries = 2 * kAllocClusters;
/* "temp%04u.psu" of any 32-bit index, or a 32-byte name and ".psu", with the NUL; a Shift_JIS name in
 * UTF-8 takes at most three bytes for each of its bytes (a half-width katakana). */
inline constexpr size_t kArchiveNameCapacity = 3 * kPsuNameSize + 8;
/* Member paths in reports ("SAVE/sub/file"), cut with "..." when longer. */
inline constexpr size_t kSplitPathCapacity = 256;

/* ---- errors: a root entry that gives no archive ---- */

#define SPLIT_ERROR_LIST(X)                                                                       \
    X(ok, "ok")                                                                                   \
    X(unsafe_name, "its name cannot be used as a file name")                                      \
    X(name_taken, "another entry of the card is written under the same name")                     \
    X(unreadable_directory, "its directory cannot be read: the first cluster lies outside the card") \
    X(too_large, "its entries claim more data than a card holds")                                 \
    X(no_such_entry, "the root directory holds no entry of that index")

enum class SplitError : uint8_t { SPLIT_ERROR_LIST(PS2_ERROR_ENUM) };
const char* split_error_text(SplitError e);

/* ---- damage found inside an archive that is still written ---- */

/* Why a chain gave fewer clusters than its entry needs, as a report says it
 * (the chains of one archive share a seen-set: `repeated` is a cluster
 * already written into it, a loop or a cross-link). */
const char* chain_stop_text(ChainStop s);

/* The line of each kind is format_split_problem's. */
enum class SplitProblemKind : uint8_t {
    directory_cut,     /* the directory's chain holds fewer entries than its count */
    file_cut,          /* the file's chain holds fewer clusters than its length needs; the rest is zeros */
    file_chain_long,   /* the file's chain goes on past the clusters its length needs */
    member_cycle,      /* a member directory leads back into a directory already written; left out */
    member_unreadable, /* a member directory's first cluster lies outside the card; left out */
    member_too_large,  /* a member file claims more data than a card holds; left out */
};

struct SplitProblem {
    SplitProblemKind kind = SplitProblemKind::directory_cut;
    ChainStop stop = ChainStop::ended;
    const char* path = "";  /* "SAVE/member", valid during the call */
    uint64_t wanted = 0;     /* entries (directories), clusters (files), bytes (member_too_large) */
    uint64_t found = 0;      /* entries or clusters the chain gave */
};

/* Writes one line describing the problem ("SAVE/DATA: file of 5,000 bytes ..."). */
void format_split_problem(const SplitProblem& p, char* out, size_t capacity);

struct ProblemSink {
    void (*report)(void* context, const SplitProblem& problem) = nullptr;
    void* context = nullptr;
    void send(const SplitProblem& p) const
    {
        if (report) report(context, p);
    }
};

/* ---- the work area ---- */

struct ArchiveName {
    char text[kArchiveNameCapacity] = {};
    SplitError status = SplitError::ok; /* ok, unsafe_name or name_taken */
    uint32_t taken_by = 0;              /* name_taken: the root index that keeps the name */
    bool converted = false;             /* the text is the entry's Shift_JIS name in the user's character set */
};

/* One directory being written (depth first). */
struct SplitFrame {
    size_t entry_offset;  /* the directory's entry in the archive */
    uint32_t chain_first; /* its clusters: dir_chains[chain_first .. + chain_count) */
    uint32_t chain_count;
    uint32_t stored;      /* its entry count as the card states it */
    uint32_t readable;    /* entries its chain holds, at most `stored` */
    uint32_t next;        /* the next entry to write */
    uint32_t written;     /* nodes written into it, "." and ".." included */
};

/* Everything one split needs besides the card: about 9.5 MB, meant to be one
 * zero-filled block of the caller's (never the C stack). Every table is
 * bounded by the card's geometry: a directory's chain takes clusters no
 * other chain of the same archive takes, so the open directories never hold
 * more than the 8,135 allocatable clusters between them. */
struct SplitWork {
    uint8_t archive[kSplitArchiveCapacity];
    uint32_t root_chain[kAllocClusters];
    uint32_t root_clusters;
    uint32_t dir_chains[kAllocClusters];
    SplitFrame frames[kAllocClusters];
    ClusterSet taken;                           /* clusters already in the archive being built */
    ArchiveName names[kMaxDirectoryEntries];    /* by root index; 0 and 1 unused */
    uint32_t order[kMaxDirectoryEntries];
    char path[kSplitPathCapacity];
};

/* ---- the root directory ---- */

struct CardRoot {
    uint32_t stored_count = 0; /* R: the length of the root's "." entry */
    uint32_t count = 0;        /* entries the root's chain holds, at most R */
    ChainStop stop = ChainStop::ended; /* why, when count < stored_count */
};

/* Follows the root's chain from cluster 0 into work->root_chain, as far as R
 * entries need. */
CardRoot read_card_root(ConstRawImage card, SplitWork* work);

/* The 512-byte record of root entry `index`; nullptr when index >= root.count. */
const uint8_t* card_root_entry(ConstRawImage card, const SplitWork& work, const CardRoot& root, uint32_t index);

/* ---- archive names ---- */

struct NamingRules {
    bool temp_names = false;       /* "USE TEMP NAME": temp%04u.psu by root index */
    PathRules path = kPosixRules;  /* separators and character stepping of the file system */
    bool case_insensitive = false; /* names differing in a-z/A-Z only are the same file (Windows) */
    /* Where file names are in the user's character set (Linux): names that are neither ASCII nor UTF-8
     * but convert whole from Shift_JIS name their archives converted (common/sjis.h). None: bytes. */
    TextConverter to_user;
};

/* True when `name` (the entry's name up to its NUL) can be a file name in
 * the output folder as it stands: not empty, not "." or "..", and no "\" or
 * "/" character (stepped by the code page, so the second byte of a
 * double-byte character is not a separator); with Windows rules also no ":",
 * which would name a stream of another file. */
bool archive_name_is_safe(std::string_view name, const PathRules& rules);

/* Names the archive of every root entry from 2 to root.count - 1 into
 * work->names: "temp%04u.psu" with the option on, otherwise the entry's name
 * and ".psu". An unsafe name is marked unsafe_name. When two entries would
 * write the same file, the first live entry (mode_exists) in root order
 * keeps the name, or the first entry when none is live; the others are
 * marked name_taken. */
void plan_archive_names(ConstRawImage card, const CardRoot& root, const NamingRules& rules, SplitWork* work);

/* ---- building one archive ---- */

struct BuiltArchive {
    size_t size = 0;        /* bytes at work->archive */
    uint32_t problems = 0;  /* reported through the sink */
};

/* Builds the archive of root entry `index` in work->archive: the entry as it
 * stands; for a directory its entries depth-first ("." and ".." as bare
 * entries), for a file with a length its clusters. Damage the bounds catch
 * is repaired so that the archive stays well-formed, and reported:
 * a file short of clusters is filled up with zeros; a directory gives the
 * entries its chain holds; a member directory that cannot be read or leads
 * back into the tree, and a member file longer than a card, is left out;
 * every directory entry's length then counts the nodes actually written.
 * Errors (no archive): no_such_entry, unreadable_directory (the top entry's
 * own directory), too_large. */
[[nodiscard]] SplitError build_entry_archive(ConstRawImage card, const CardRoot& root, uint32_t index,
                                             const ProblemSink& sink, SplitWork* work, BuiltArchive* out);

/* ---- listing ---- */

struct ListedEntry {
    uint32_t index = 0;
    uint16_t mode = 0;
    uint32_t length = 0;        /* file: bytes; directory: entries, "." and ".." included */
    char name[kPsuNameSize + 1] = {};
    char title[kIconSysTitleSize + 1] = {}; /* the title of the save's icon description, NUL-terminated */
    bool has_title = false;
};

/* Describes root entry `index`: its kind, name and size, and for a directory
 * the title of the first member file whose data begins with "PS2D". */
void list_root_entry(ConstRawImage card, const SplitWork& work, const CardRoot& root, uint32_t index, ListedEntry* out);

} // namespace ps2
