/* cardsplit.h -- splitting a raw card image into PSU archives: the root directory, archive names, one archive per root entry
 *
 * Core code: works on a card image already in raw form with its geometry
 * (card/card.h) and on one caller-supplied work area sized from that
 * geometry; no allocation (but a name converter's), no file access. The
 * handler (sorvik_handler.h) reads the image, makes the folder and writes
 * each archive this module builds.
 *
 * Every walk over card data is bounded by the card's geometry, never by a
 * count taken from the card: a chain stops at a cluster outside the
 * allocatable area or at a cluster already taken into the same archive (which
 * catches loops, cross-linked chains and cycles in the directory tree), a
 * directory gives no more entries than its chain holds, and an archive never
 * grows past the size of the allocatable area. On a well-formed card none of
 * these bounds is reached and each archive is the card's entries byte for
 * byte, depth-first, with every file's data as whole clusters (the padding
 * is whatever the last cluster holds behind the file's end).
 *
 * Entries the console marked deleted (mode bit 0x8000 clear): a member of a
 * live directory is left out of its archive; a deleted root entry is
 * recovered with everything in it, its chains followed through the links
 * the console keeps in freed FAT entries, as far as they stay in the
 * allocatable area, repeat no cluster and meet no cluster a live entry owns. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "card/card.h"
#include "common/errors.h"
#include "common/iconsys.h"
#include "common/paths.h"
#include "common/psu.h"
#include "common/sjis.h"

namespace ps2 {

/* ---- sizes ---- */

/* The largest archive a well-formed card of the geometry can give: the top
 * entry and every allocatable cluster once (a save's entries take 512 bytes
 * each, two to a directory cluster; its files take their clusters). */
inline size_t split_archive_capacity(const CardGeometry& g) { return kPsuEntrySize + size_t(g.alloc_clusters) * kClusterSize; }
inline constexpr size_t kSplitArchiveCapacity = kPsuEntrySize + size_t(kAllocClusters) * kClusterSize; /* 8 MB */
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
    X(directory_beyond_end, "its directory lies beyond the end of the image")                   \
    X(directory_reused, "its directory's cluster now belongs to a live save")                   \
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
    member_deleted,    /* a member a live directory holds, marked deleted; left out (a note, not damage) */
    damaged_cluster,   /* a cluster with a page whose code reports damage it cannot mend; copied as it is */
};

struct SplitProblem {
    SplitProblemKind kind = SplitProblemKind::directory_cut;
    ChainStop stop = ChainStop::ended;
    const char* path = "";  /* "SAVE/member", valid during the call */
    uint64_t wanted = 0;     /* entries (directories), clusters (files), bytes (member_too_large) */
    uint64_t found = 0;      /* entries or clusters the chain gave */
    uint32_t cluster = 0;    /* damaged_cluster: the relative cluster, */
    uint32_t page = 0;       /* its first damaged page (counted from the card's start), */
    uint32_t pages = 0;      /* and how many of its two are */
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
    uint32_t entry_offset; /* the directory's entry in the archive */
    uint32_t chain_first;  /* its clusters: dir_chains[chain_first .. + chain_count) */
    uint32_t chain_count;
    uint32_t stored;       /* its entry count as the card states it */
    uint32_t readable;     /* entries its chain holds, at most `stored` */
    uint32_t next;         /* the next entry to write */
    uint32_t written;      /* nodes written into it, "." and ".." included */
};

/* Everything one split needs besides the card, carved out of one
 * zero-filled block of the caller's (never the C stack) of
 * split_work_size() bytes: about 9.5 MB for an 8 MB card, in proportion for
 * larger ones. Every table is bounded by the card's geometry: a directory's
 * chain takes clusters no other chain of the same archive takes, so the
 * open directories never hold more than the allocatable clusters between
 * them, and a directory holds at most two entries per cluster. */
struct SplitWork {
    uint8_t* archive;          /* split_archive_capacity() bytes */
    size_t archive_capacity;
    uint32_t* root_chain;      /* alloc_clusters */
    uint32_t root_clusters;
    uint32_t* dir_chains;      /* alloc_clusters */
    SplitFrame* frames;        /* alloc_clusters */
    ClusterSet taken;          /* clusters already in the archive being built */
    ClusterSet live;           /* clusters live entries own, when live_known (for recovering deleted entries) */
    bool live_known;
    ClusterSet damaged;        /* pages (from the card's start) the code cannot mend, when any_damaged */
    bool any_damaged;
    ArchiveName* names;        /* by root index, 2 * alloc_clusters; 0 and 1 unused */
    uint32_t* order;           /* 2 * alloc_clusters */
    char path[kSplitPathCapacity];

private:
    SplitWork() = default; /* only place_split_work makes one, over its block */
    friend SplitWork* place_split_work(std::span<uint8_t> block, const CardGeometry& g);
};

/* Marks the pages whose code reports damage it cannot mend (EccReport::uncorrectable). */
void mark_damaged_pages(SplitWork* work, std::span<const uint32_t> pages);

/* Bytes of the block a work area for the geometry takes. */
size_t split_work_size(const CardGeometry& g);
/* Lays the work area out in a zero-filled block; nullptr when the block is
 * smaller than split_work_size(). */
SplitWork* place_split_work(std::span<uint8_t> block, const CardGeometry& g);

/* A work area with a block of its own (tests, fuzzing, benchmarks). */
class OwnedSplitWork {
public:
    explicit OwnedSplitWork(const CardGeometry& g = kStandardGeometry)
        : block_(split_work_size(g)), work_(place_split_work(block_, g))
    {
    }
    SplitWork* get() { return work_; }
    SplitWork* operator->() { return work_; }

private:
    std::vector<uint8_t> block_;
    SplitWork* work_;
};

/* ---- the root directory ---- */

struct CardRoot {
    uint32_t stored_count = 0; /* R: the length of the root's "." entry */
    uint32_t count = 0;        /* entries the root's chain holds, at most R */
    ChainStop stop = ChainStop::ended; /* why, when count < stored_count */
    bool beyond_end = false;   /* the root's first cluster lies beyond the end of the image: nothing to read */
};

/* Follows the root's chain from its first cluster into work->root_chain, as
 * far as R entries need. */
CardRoot read_card_root(const CardView& card, SplitWork* work);

/* The 512-byte record of root entry `index`; nullptr when index >= root.count. */
const uint8_t* card_root_entry(const CardView& card, const SplitWork& work, const CardRoot& root, uint32_t index);

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
void plan_archive_names(const CardView& card, const CardRoot& root, const NamingRules& rules, SplitWork* work);

/* ---- building one archive ---- */

struct BuiltArchive {
    size_t size = 0;         /* bytes at work->archive */
    uint32_t problems = 0;   /* reported through the sink */
    uint32_t damage = 0;     /* of those, all but member_deleted */
    bool recovered = false;  /* the top entry is marked deleted: recovered through freed links */
    uint32_t files = 0;      /* file entries written, the top one included */
    uint32_t files_cut = 0;  /* of those, written short of clusters (zeros for the rest) */
    uint32_t entries_lost = 0; /* entries of cut directories, and members left out (deleted ones not counted) */
    uint32_t damaged_clusters = 0;
};

/* Builds the archive of root entry `index` in work->archive: the entry as it
 * stands; for a directory its entries depth-first ("." and ".." as bare
 * entries), for a file with a length its clusters. Damage the bounds catch
 * is repaired so that the archive stays well-formed, and reported:
 * a file short of clusters is filled up with zeros; a directory gives the
 * entries its chain holds; a member directory that cannot be read or leads
 * back into the tree, and a member file longer than a card, is left out;
 * every directory entry's length then counts the nodes actually written.
 * A member marked deleted in a live directory is left out (member_deleted).
 * A top entry marked deleted is recovered (chains through freed links,
 * stopping at clusters work->live holds when live_known). A cluster in
 * work->damaged is copied as it is and reported.
 * Errors (no archive): no_such_entry, unreadable_directory, directory_beyond_end
 * and directory_reused (the top entry's own directory), too_large. */
[[nodiscard]] SplitError build_entry_archive(const CardView& card, const CardRoot& root, uint32_t index,
                                             const ProblemSink& sink, SplitWork* work, BuiltArchive* out);

/* ---- listing ---- */

struct ListedEntry {
    uint32_t index = 0;
    uint16_t mode = 0;
    uint32_t length = 0;        /* file: bytes; directory: entries, "." and ".." included */
    char name[kPsuNameSize + 1] = {};
    char title[kIconSysTitleSize + 2] = {}; /* the title of the save's icon description, its lines joined */
    bool has_title = false;
};

/* Describes root entry `index`: its kind, name and size, and for a directory
 * the title of its icon description: the member file named "icon.sys", or
 * when there is none the first member file whose data begins with "PS2D"
 * (members marked deleted in a live save do not count; a deleted save's
 * directory is read through freed links). */
void list_root_entry(const CardView& card, const SplitWork& work, const CardRoot& root, uint32_t index, ListedEntry* out);

} // namespace ps2
