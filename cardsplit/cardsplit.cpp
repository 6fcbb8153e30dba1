/* cardsplit.cpp -- splitting a raw card image into PSU archives: root, names, depth-first archive building */
#include "cardsplit/cardsplit.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace ps2 {

const char* split_error_text(SplitError e)
{
    static const char* const texts[] = {SPLIT_ERROR_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(e));
}

const char* chain_stop_text(ChainStop s)
{
    switch (s) {
    case ChainStop::ended: return "ends";
    case ChainStop::out_of_range: return "leaves the allocatable area";
    case ChainStop::repeated: return "runs into a cluster already written (a loop or a cross-link)";
    }
    return "stops";
}

void format_split_problem(const SplitProblem& p, char* out, size_t capacity)
{
    if (capacity == 0) return;
    switch (p.kind) {
    case SplitProblemKind::directory_cut:
        std::snprintf(out, capacity, "%s: directory of %" PRIu64 " entries: its cluster chain %s after %" PRIu64
                      " entries; only those are written", p.path, p.wanted, chain_stop_text(p.stop), p.found);
        return;
    case SplitProblemKind::file_cut:
        std::snprintf(out, capacity, "%s: file of %" PRIu64 " clusters: its cluster chain %s after %" PRIu64
                      "; the rest is written as zeros", p.path, p.wanted, chain_stop_text(p.stop), p.found);
        return;
    case SplitProblemKind::file_chain_long:
        std::snprintf(out, capacity, "%s: its cluster chain goes on past the %" PRIu64
                      " clusters its length needs; the rest is left out", p.path, p.wanted);
        return;
    case SplitProblemKind::member_cycle:
        std::snprintf(out, capacity, "%s: the directory leads back into a directory already written; left out",
                      p.path);
        return;
    case SplitProblemKind::member_unreadable:
        std::snprintf(out, capacity, "%s: the directory's first cluster lies outside the allocatable area; left out",
                      p.path);
        return;
    case SplitProblemKind::member_too_large:
        std::snprintf(out, capacity, "%s: the file claims %" PRIu64 " bytes, more than the card holds; left out",
                      p.path, p.wanted);
        return;
    }
    std::snprintf(out, capacity, "%s: damaged", p.path);
}

namespace {

/* ---- clusters taken into the archive being built ---- */

bool is_taken(const SplitWork& w, uint32_t c) { return (w.taken[c / 64] >> (c % 64)) & 1u; }
void take(SplitWork* w, uint32_t c) { w->taken[c / 64] |= uint64_t(1) << (c % 64); }

/* Steps along a chain one cluster at a time. The first cluster is used as
 * given; each further one is the link of the FAT entry before it. */
struct ChainCursor {
    uint32_t next;
    bool at_end = false;
};

/* Moves to the next cluster of the chain: false (with the reason) when the
 * chain has ended or the next cluster is out of range or already taken;
 * otherwise the cluster is taken and returned in *c. */
bool step_chain(ConstRawImage card, SplitWork* w, ChainCursor* cur, uint32_t* c, ChainStop* stop)
{
    if (cur->at_end) {
        *stop = ChainStop::ended;
        return false;
    }
    const uint32_t here = cur->next;
    if (here >= kAllocClusters) {
        *stop = ChainStop::out_of_range;
        return false;
    }
    if (is_taken(*w, here)) {
        *stop = ChainStop::repeated;
        return false;
    }
    take(w, here);
    const uint32_t entry = fat_entry(card, here);
    cur->at_end = fat_ends_chain(entry);
    cur->next = entry & kFatLinkMask;
    *c = here;
    return true;
}

uint64_t clusters_for_bytes(uint64_t length) { return (length + kClusterSize - 1) / kClusterSize; }

const uint8_t* frame_entry(ConstRawImage card, const SplitWork& w, const SplitFrame& f, uint32_t j)
{
    return cluster_bytes(card, w.dir_chains[f.chain_first + j / 2]) + kPsuEntrySize * (j % 2);
}

/* "TOP/sub/member" from the open directories and the member's record. */
const char* member_path(SplitWork* w, uint32_t depth, const uint8_t* member)
{
    size_t n = 0;
    bool cut = false;
    auto add = [&](std::string_view s) {
        if (cut) return;
        if (s.size() + 4 > sizeof w->path - n) {
            std::memcpy(w->path + n, "...", 3);
            n += 3;
            cut = true;
            return;
        }
        std::memcpy(w->path + n, s.data(), s.size());
        n += s.size();
    };
    for (uint32_t d = 0; d < depth; ++d) {
        add(psu_record_name(w->archive + w->frames[d].entry_offset));
        add("/");
    }
    if (member) add(psu_record_name(member));
    else if (n > 0 && !cut) --n; /* no trailing "/" */
    w->path[n] = '\0';
    return w->path;
}

/* The archive being built: appends within kSplitArchiveCapacity. */
struct Output {
    SplitWork* w;
    size_t pos = 0;

    size_t room() const { return kSplitArchiveCapacity - pos; }
    void put(const uint8_t* p, size_t n)
    {
        std::memcpy(w->archive + pos, p, n);
        pos += n;
    }
    void put_zeros(size_t n)
    {
        std::memset(w->archive + pos, 0, n);
        pos += n;
    }
};

/* Gathers as many clusters of a directory's chain as `entries` need onto
 * the chain stack; returns how many it took. */
uint32_t gather_directory(ConstRawImage card, SplitWork* w, uint32_t first, uint32_t entries, uint32_t chain_first,
                          ChainStop* stop)
{
    const uint64_t need = (uint64_t(entries) + 1) / 2;
    ChainCursor cur{first};
    uint32_t got = 0;
    uint32_t c = 0;
    *stop = ChainStop::ended;
    /* Each step takes a cluster no other step can take again, so at most 8,135 steps. */
    while (got < need && step_chain(card, w, &cur, &c, stop)) w->dir_chains[chain_first + got++] = c;
    return got;
}

enum class FileResult : uint8_t { written, too_large, no_room };

/* Appends a file's data: ceil(length / 1024) whole clusters of its chain,
 * zeros for clusters the chain lacks. */
FileResult put_file_data(ConstRawImage card, Output* out, const uint8_t* record, uint32_t depth,
                         const ProblemSink& sink, uint32_t* problems)
{
    SplitWork* w = out->w;
    const uint32_t length = record_length(record);
    const uint64_t need = clusters_for_bytes(length);
    if (need * kClusterSize > out->room()) return FileResult::too_large;

    ChainCursor cur{record_cluster(record)};
    uint64_t got = 0;
    uint32_t c = 0;
    ChainStop stop = ChainStop::ended;
    while (got < need && step_chain(card, w, &cur, &c, &stop)) {
        out->put(cluster_bytes(card, c), kClusterSize);
        ++got;
    }
    if (got < need) {
        out->put_zeros(size_t(need - got) * kClusterSize);
        SplitProblem p;
        p.kind = SplitProblemKind::file_cut;
        p.stop = stop;
        p.path = member_path(w, depth, record);
        p.wanted = need;
        p.found = got;
        sink.send(p);
        ++*problems;
    } else if (!cur.at_end) {
        SplitProblem p;
        p.kind = SplitProblemKind::file_chain_long;
        p.path = member_path(w, depth, record);
        p.wanted = need;
        p.found = got;
        sink.send(p);
        ++*problems;
    }
    return FileResult::written;
}

} // namespace

/* ---- root ---- */

CardRoot read_card_root(ConstRawImage card, SplitWork* work)
{
    CardRoot root;
    root.stored_count = record_length(cluster_bytes(card, kRootCluster));
    std::memset(work->taken, 0, sizeof work->taken);
    const uint64_t need = (uint64_t(root.stored_count) + 1) / 2;
    ChainCursor cur{kRootCluster};
    uint32_t got = 0;
    uint32_t c = 0;
    ChainStop stop = ChainStop::ended;
    while (got < need && step_chain(card, work, &cur, &c, &stop)) work->root_chain[got++] = c;
    work->root_clusters = got;
    std::memset(work->taken, 0, sizeof work->taken);
    const uint64_t room = uint64_t(got) * 2;
    root.count = root.stored_count <= room ? root.stored_count : uint32_t(room);
    root.stop = stop;
    return root;
}

const uint8_t* card_root_entry(ConstRawImage card, const SplitWork& work, const CardRoot& root, uint32_t index)
{
    if (index >= root.count) return nullptr;
    return cluster_bytes(card, work.root_chain[index / 2]) + kPsuEntrySize * (index % 2);
}

/* ---- names ---- */

bool archive_name_is_safe(std::string_view name, const PathRules& rules)
{
    if (name.empty() || name == "." || name == "..") return false;
    const bool windows = rules.separator == '\\';
    /* Step character by character within the name; the field is at most 32 bytes. */
    char text[kPsuNameSize + 1] = {};
    std::memcpy(text, name.data(), std::min(name.size(), kPsuNameSize));
    for (const char* p = text; *p;) {
        const char* next = rules.step(p);
        if (next == p + 1 && (*p == '\\' || *p == '/' || (windows && *p == ':'))) return false;
        p = next;
    }
    return true;
}

void plan_archive_names(ConstRawImage card, const CardRoot& root, const NamingRules& rules, SplitWork* work)
{
    uint32_t n = 0;
    for (uint32_t i = 2; i < root.count; ++i) {
        ArchiveName& a = work->names[i];
        a = ArchiveName{};
        if (rules.temp_names) {
            std::snprintf(a.text, sizeof a.text, "temp%04" PRIu32 ".psu", i);
            continue;
        }
        const std::string_view name = psu_record_name(card_root_entry(card, *work, root, i));
        std::memcpy(a.text, name.data(), name.size());
        std::memcpy(a.text + name.size(), ".psu", 5);
        if (!archive_name_is_safe(name, rules.path)) {
            a.status = SplitError::unsafe_name;
            continue;
        }
        work->order[n++] = i;
    }
    if (rules.temp_names || n < 2) return;

    /* Entries that would write the same file: sort by name (folded where the
     * file system folds), then let the preferred one of each run keep it. */
    const bool fold = rules.case_insensitive;
    auto compare = [&](uint32_t a, uint32_t b) {
        const char* x = work->names[a].text;
        const char* y = work->names[b].text;
        const int d = fold ? compare_folded(x, y) : compare_exact(x, y);
        return d != 0 ? d < 0 : a < b;
    };
    auto same = [&](uint32_t a, uint32_t b) {
        const char* x = work->names[a].text;
        const char* y = work->names[b].text;
        return (fold ? compare_folded(x, y) : compare_exact(x, y)) == 0;
    };
    std::sort(work->order, work->order + n, compare);
    for (uint32_t s = 0; s < n;) {
        uint32_t e = s + 1;
        while (e < n && same(work->order[s], work->order[e])) ++e;
        if (e - s > 1) {
            /* Within the run the indices ascend: the first live one wins, else the first. */
            uint32_t keep = work->order[s];
            for (uint32_t k = s; k < e; ++k) {
                const uint32_t i = work->order[k];
                if (record_mode(card_root_entry(card, *work, root, i)) & 0x8000) {
                    keep = i;
                    break;
                }
            }
            for (uint32_t k = s; k < e; ++k) {
                const uint32_t i = work->order[k];
                if (i == keep) continue;
                work->names[i].status = SplitError::name_taken;
                work->names[i].taken_by = keep;
            }
        }
        s = e;
    }
}

/* ---- one archive ---- */

SplitError build_entry_archive(ConstRawImage card, const CardRoot& root, uint32_t index, const ProblemSink& sink,
                               SplitWork* work, BuiltArchive* result)
{
    *result = BuiltArchive{};
    const uint8_t* top = card_root_entry(card, *work, root, index);
    if (!top) return SplitError::no_such_entry;
    std::memset(work->taken, 0, sizeof work->taken);

    Output out{work};
    uint32_t problems = 0;
    out.put(top, kPsuEntrySize);

    const uint16_t top_mode = record_mode(top);
    uint32_t depth = 0;     /* open directories: frames[0 .. depth) */
    uint32_t chain_top = 0; /* clusters of the open directories: dir_chains[0 .. chain_top) */

    if (mode_is_directory(top_mode)) {
        const uint32_t stored = record_length(top);
        if (stored == 0) {
            result->size = out.pos;
            return SplitError::ok;
        }
        ChainStop stop;
        const uint32_t got = gather_directory(card, work, record_cluster(top), stored, 0, &stop);
        if (got == 0) return SplitError::unreadable_directory;
        const uint32_t readable = uint64_t(got) * 2 < stored ? got * 2 : stored;
        work->frames[0] = SplitFrame{0, 0, got, stored, readable, 0, 0};
        depth = 1;
        chain_top = got;
        if (readable < stored) {
            SplitProblem p;
            p.kind = SplitProblemKind::directory_cut;
            p.stop = stop;
            p.path = member_path(work, 0, top);
            p.wanted = stored;
            p.found = readable;
            sink.send(p);
            ++problems;
        }
    } else if (mode_is_file(top_mode) && record_length(top) != 0) {
        if (put_file_data(card, &out, top, 0, sink, &problems) != FileResult::written) return SplitError::too_large;
    }

    while (depth > 0) {
        SplitFrame& f = work->frames[depth - 1];
        if (f.next >= f.readable) {
            /* The directory is done: its length counts the nodes written. */
            if (f.written != f.stored) set_record_length(work->archive + f.entry_offset, f.written);
            chain_top = f.chain_first;
            --depth;
            continue;
        }
        const uint32_t j = f.next++;
        const uint8_t* e = frame_entry(card, *work, f, j);
        if (out.room() < kPsuEntrySize) return SplitError::too_large;
        const size_t entry_offset = out.pos;
        out.put(e, kPsuEntrySize);
        ++f.written;
        /* "." and "..": bare entries; they lead back up the tree, never down. */
        if (j < 2) continue;

        const uint16_t mode = record_mode(e);
        const uint32_t length = record_length(e);
        auto leave_out = [&](SplitProblemKind kind, uint64_t wanted) {
            SplitProblem p;
            p.kind = kind;
            p.path = member_path(work, depth, e);
            p.wanted = wanted;
            sink.send(p);
            ++problems;
            out.pos = entry_offset;
            --f.written;
        };
        if (mode_is_directory(mode)) {
            if (length == 0) continue; /* nothing in it */
            ChainStop stop;
            const uint32_t got = gather_directory(card, work, record_cluster(e), length, chain_top, &stop);
            if (got == 0) {
                leave_out(stop == ChainStop::repeated ? SplitProblemKind::member_cycle
                                                      : SplitProblemKind::member_unreadable,
                          length);
                continue;
            }
            const uint32_t readable = uint64_t(got) * 2 < length ? got * 2 : length;
            if (readable < length) {
                SplitProblem p;
                p.kind = SplitProblemKind::directory_cut;
                p.stop = stop;
                p.path = member_path(work, depth, e);
                p.wanted = length;
                p.found = readable;
                sink.send(p);
                ++problems;
            }
            work->frames[depth] = SplitFrame{entry_offset, chain_top, got, length, readable, 0, 0};
            chain_top += got;
            ++depth;
        } else if (mode_is_file(mode) && length != 0) {
            if (put_file_data(card, &out, e, depth, sink, &problems) == FileResult::too_large)
                leave_out(SplitProblemKind::member_too_large, length);
        }
    }

    result->size = out.pos;
    result->problems = problems;
    return SplitError::ok;
}

/* ---- listing ---- */

void list_root_entry(ConstRawImage card, const SplitWork& work, const CardRoot& root, uint32_t index, ListedEntry* out)
{
    *out = ListedEntry{};
    out->index = index;
    const uint8_t* r = card_root_entry(card, work, root, index);
    if (!r) return;
    out->mode = record_mode(r);
    out->length = record_length(r);
    const std::string_view name = psu_record_name(r);
    std::memcpy(out->name, name.data(), name.size());
    if (!mode_is_directory(out->mode)) return;

    CardDirectory dir;
    (void)read_card_directory(card, record_cluster(r), out->length, &dir); /* cut to what the chain holds */
    for (uint32_t j = 2; j < dir.entry_count; ++j) {
        const uint8_t* m = directory_entry(card, dir.chain, j);
        const uint32_t length = record_length(m);
        const uint32_t c = record_cluster(m);
        if (!mode_is_file(record_mode(m)) || length < 4 || c >= kAllocClusters) continue;
        const uint8_t* data = cluster_bytes(card, c);
        if (std::memcmp(data, "PS2D", 4) != 0) continue;
        /* The title field: 68 bytes at 0xC0, within the file and its first cluster. */
        constexpr size_t kTitleOffset = 0xC0;
        constexpr size_t kTitleSize = sizeof out->title - 1;
        const size_t end = std::min<size_t>(length, kClusterSize);
        if (end > kTitleOffset) {
            const size_t n = std::min(end - kTitleOffset, kTitleSize);
            const void* nul = std::memchr(data + kTitleOffset, 0, n);
            const size_t len = nul ? size_t(static_cast<const uint8_t*>(nul) - (data + kTitleOffset)) : n;
            std::memcpy(out->title, data + kTitleOffset, len);
        }
        out->has_title = true;
        return;
    }
}

} // namespace ps2
