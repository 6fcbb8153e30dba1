/* cardsplit.cpp -- splitting a raw card image into PSU archives: root, names, depth-first archive building */
#include "cardsplit/cardsplit.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

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
    case ChainStop::reused: return "runs into a cluster a live save now uses";
    case ChainStop::beyond_end: return "reaches beyond the end of the image";
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
    case SplitProblemKind::member_deleted:
        std::snprintf(out, capacity, "%s: marked deleted; left out", p.path);
        return;
    case SplitProblemKind::damaged_cluster:
        if (p.pages > 1)
            std::snprintf(out, capacity, "%s: pages %" PRIu32 " and %" PRIu32 " (cluster %" PRIu32
                          ") hold damage their page codes cannot mend; copied as they are", p.path, p.page, p.page + 1,
                          p.cluster);
        else
            std::snprintf(out, capacity, "%s: page %" PRIu32 " (cluster %" PRIu32
                          ") holds damage its page code cannot mend; copied as it is", p.path, p.page, p.cluster);
        return;
    }
    std::snprintf(out, capacity, "%s: damaged", p.path);
}

namespace {

uint64_t clusters_for_bytes(uint64_t length) { return (length + kClusterSize - 1) / kClusterSize; }

const uint8_t* frame_entry(const CardView& card, const SplitWork& w, const SplitFrame& f, uint32_t j)
{
    return card.cluster(w.dir_chains[f.chain_first + j / 2]) + kPsuEntrySize * (j % 2);
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

/* One archive being built in the work area, depth first: its bytes, the
 * open directories (frames) with their clusters (dir_chains), and the
 * problems reported. All chains of the archive share the work area's
 * seen-set, so no cluster is written twice. */
class ArchiveBuild {
public:
    ArchiveBuild(const CardView& card, const ProblemSink& sink, SplitWork* work)
        : card_(card), sink_(sink), w_(work), out_(std::span<uint8_t>(work->archive, work->archive_capacity))
    {
    }

    SplitError build(const uint8_t* top, BuiltArchive* result);

private:
    /* Reports a problem of `record`, a member of the open directories. */
    void emit(SplitProblemKind kind, const uint8_t* record, uint64_t wanted, uint64_t found = 0,
              ChainStop stop = ChainStop::ended, uint32_t cluster = 0, uint32_t page = 0, uint32_t pages = 0);
    /* A cluster is about to be copied: report it when its page code found damage. */
    void check_cluster(const uint8_t* record, uint32_t cluster);
    /* Gathers as many clusters of the directory's chain as its length needs
     * and opens it for writing its entries (those its chain holds). False,
     * with the reason, when its chain gives no cluster at all. */
    bool open_directory(const uint8_t* record, size_t entry_offset, ChainStop* stop);
    /* Appends a file's data: ceil(length / 1024) whole clusters of its
     * chain, zeros for clusters the chain lacks. False (nothing written)
     * when they would not fit the archive. */
    bool put_file_data(const uint8_t* record);
    /* Writes the next entry of the innermost open directory, or closes it. */
    SplitError put_next_entry();

    CardView card_;
    const ProblemSink& sink_;
    SplitWork* w_;
    ByteWriter out_;
    ChainRules rules_;        /* live chains, or through freed links for a deleted top entry */
    uint32_t depth_ = 0;      /* open directories: frames[0 .. depth_) */
    uint32_t chain_top_ = 0;  /* their clusters: dir_chains[0 .. chain_top_) */
    BuiltArchive result_;
};

void ArchiveBuild::emit(SplitProblemKind kind, const uint8_t* record, uint64_t wanted, uint64_t found, ChainStop stop,
                        uint32_t cluster, uint32_t page, uint32_t pages)
{
    SplitProblem p;
    p.kind = kind;
    p.stop = stop;
    p.path = member_path(w_, depth_, record);
    p.wanted = wanted;
    p.found = found;
    p.cluster = cluster;
    p.page = page;
    p.pages = pages;
    sink_.send(p);
    ++result_.problems;
    if (kind != SplitProblemKind::member_deleted) ++result_.damage;
}

void ArchiveBuild::check_cluster(const uint8_t* record, uint32_t cluster)
{
    if (!w_->any_damaged) return;
    const uint32_t first = (card_.geometry->alloc_offset + cluster) * 2;
    const bool a = w_->damaged.contains(first), b = w_->damaged.contains(first + 1);
    if (!a && !b) return;
    ++result_.damaged_clusters;
    emit(SplitProblemKind::damaged_cluster, record, 0, 0, ChainStop::ended, cluster, a ? first : first + 1, a && b ? 2 : 1);
}

bool ArchiveBuild::open_directory(const uint8_t* record, size_t entry_offset, ChainStop* stop)
{
    const uint32_t stored = record_length(record);
    const uint64_t need = (uint64_t(stored) + 1) / 2;
    ChainCursor chain(card_, record_cluster(record), &w_->taken, rules_);
    uint32_t got = 0;
    /* Each step takes a cluster no other step can take again, so at most alloc_clusters steps. */
    for (uint32_t c = 0; got < need && chain.next(&c);) w_->dir_chains[chain_top_ + got++] = c;
    *stop = got < need ? chain.stop() : ChainStop::ended;
    if (got == 0) return false;
    const uint32_t readable = uint64_t(got) * 2 < stored ? got * 2 : stored;
    if (readable < stored) {
        result_.entries_lost += stored - readable;
        emit(SplitProblemKind::directory_cut, record, stored, readable, *stop);
    }
    for (uint32_t k = 0; k < got; ++k) check_cluster(record, w_->dir_chains[chain_top_ + k]);
    w_->frames[depth_] = SplitFrame{uint32_t(entry_offset), chain_top_, got, stored, readable, 0, 0};
    chain_top_ += got;
    ++depth_;
    return true;
}

bool ArchiveBuild::put_file_data(const uint8_t* record)
{
    const uint64_t need = clusters_for_bytes(record_length(record));
    if (!out_.can_put(need * kClusterSize)) return false;
    ChainCursor chain(card_, record_cluster(record), &w_->taken, rules_);
    uint64_t got = 0;
    /* The room for every cluster is checked above. */
    for (uint32_t c = 0; got < need && chain.next(&c); ++got) {
        check_cluster(record, c);
        (void)out_.put(card_.cluster(c), kClusterSize);
    }
    if (got < need) {
        (void)out_.put_zeros((need - got) * kClusterSize);
        ++result_.files_cut;
        emit(SplitProblemKind::file_cut, record, need, got, chain.stop());
    } else if (!chain.ended()) {
        emit(SplitProblemKind::file_chain_long, record, need, got);
    }
    return true;
}

SplitError ArchiveBuild::put_next_entry()
{
    SplitFrame& f = w_->frames[depth_ - 1];
    if (f.next >= f.readable) {
        /* The directory is done: its length counts the nodes written. */
        if (f.written != f.stored) set_record_length(out_.at(f.entry_offset), f.written);
        chain_top_ = f.chain_first;
        --depth_;
        return SplitError::ok;
    }
    const uint32_t j = f.next++;
    const uint8_t* e = frame_entry(card_, *w_, f, j);
    const size_t entry_offset = out_.size();
    if (!out_.put(e, kPsuEntrySize)) return SplitError::too_large;
    ++f.written;
    /* "." and "..": bare entries; they lead back up the tree, never down. */
    if (j < 2) return SplitError::ok;

    const uint16_t mode = record_mode(e);
    const uint32_t length = record_length(e);
    auto leave_out = [&](SplitProblemKind kind) {
        if (kind != SplitProblemKind::member_deleted) ++result_.entries_lost;
        emit(kind, e, length);
        out_.rewind(entry_offset);
        --f.written;
    };
    /* In a live directory a deleted member is what the console left behind; a deleted save is taken whole. */
    if (!result_.recovered && !mode_exists(mode)) {
        leave_out(SplitProblemKind::member_deleted);
        return SplitError::ok;
    }
    ChainStop stop;
    if (mode_is_directory(mode)) {
        if (length != 0 && !open_directory(e, entry_offset, &stop))
            leave_out(stop == ChainStop::repeated ? SplitProblemKind::member_cycle : SplitProblemKind::member_unreadable);
    } else if (mode_is_file(mode)) {
        ++result_.files;
        if (length != 0 && !put_file_data(e)) {
            --result_.files;
            leave_out(SplitProblemKind::member_too_large);
        }
    }
    return SplitError::ok;
}

SplitError ArchiveBuild::build(const uint8_t* top, BuiltArchive* result)
{
    (void)out_.put(top, kPsuEntrySize); /* the archive's capacity holds far more */
    const uint16_t mode = record_mode(top);
    const uint32_t length = record_length(top);
    result_.recovered = !mode_exists(mode);
    if (result_.recovered) {
        rules_.through_freed = true;
        rules_.live = w_->live_known ? &w_->live : nullptr;
    }
    ChainStop stop;
    if (mode_is_directory(mode)) {
        if (length != 0 && !open_directory(top, 0, &stop)) {
            if (stop == ChainStop::beyond_end) return SplitError::directory_beyond_end;
            if (stop == ChainStop::reused) return SplitError::directory_reused;
            return SplitError::unreadable_directory;
        }
    } else if (mode_is_file(mode)) {
        ++result_.files;
        if (length != 0 && !put_file_data(top)) return SplitError::too_large;
    }
    while (depth_ > 0)
        if (const SplitError e = put_next_entry(); e != SplitError::ok) return e;
    result_.size = out_.size();
    *result = result_;
    return SplitError::ok;
}

} // namespace

/* ---- the work area ---- */

namespace {

/* The work area's tables, in the order they follow the header, each aligned for its type. */
struct WorkLayout {
    size_t archive, root_chain, dir_chains, frames, taken, live, damaged, names, order, end;

    explicit WorkLayout(const CardGeometry& g)
    {
        const size_t alloc = g.alloc_clusters;
        const size_t words = ClusterSet::words_for(g.alloc_clusters) * sizeof(uint64_t);
        const size_t page_words = ClusterSet::words_for(g.card_pages()) * sizeof(uint64_t);
        size_t at = sizeof(SplitWork);
        auto take = [&at](size_t bytes, size_t align) {
            at = (at + align - 1) / align * align;
            const size_t here = at;
            at += bytes;
            return here;
        };
        archive = take(split_archive_capacity(g), 8);
        root_chain = take(alloc * sizeof(uint32_t), alignof(uint32_t));
        dir_chains = take(alloc * sizeof(uint32_t), alignof(uint32_t));
        frames = take(alloc * sizeof(SplitFrame), alignof(SplitFrame));
        taken = take(words, alignof(uint64_t));
        live = take(words, alignof(uint64_t));
        damaged = take(page_words, alignof(uint64_t));
        names = take(2 * alloc * sizeof(ArchiveName), alignof(ArchiveName));
        order = take(2 * alloc * sizeof(uint32_t), alignof(uint32_t));
        end = at;
    }
};

} // namespace

size_t split_work_size(const CardGeometry& g) { return WorkLayout(g).end; }

void mark_damaged_pages(SplitWork* work, std::span<const uint32_t> pages)
{
    for (uint32_t p : pages) work->damaged.insert(p);
    work->any_damaged = work->any_damaged || !pages.empty();
}

SplitWork* place_split_work(std::span<uint8_t> block, const CardGeometry& g)
{
    const WorkLayout l(g);
    if (block.size() < l.end || reinterpret_cast<uintptr_t>(block.data()) % alignof(SplitWork) != 0) return nullptr;
    uint8_t* base = block.data();
    /* Starts the objects' lives in the block; the tables keep the block's zeros. */
    SplitWork* w = new (base) SplitWork;
    w->archive = base + l.archive;
    w->archive_capacity = split_archive_capacity(g);
    w->root_chain = reinterpret_cast<uint32_t*>(base + l.root_chain);
    w->root_clusters = 0;
    w->dir_chains = reinterpret_cast<uint32_t*>(base + l.dir_chains);
    w->frames = new (base + l.frames) SplitFrame[g.alloc_clusters];
    w->taken = ClusterSet(reinterpret_cast<uint64_t*>(base + l.taken), g.alloc_clusters);
    w->live = ClusterSet(reinterpret_cast<uint64_t*>(base + l.live), g.alloc_clusters);
    w->live_known = false;
    w->damaged = ClusterSet(reinterpret_cast<uint64_t*>(base + l.damaged), g.card_pages());
    w->any_damaged = false;
    w->names = new (base + l.names) ArchiveName[2 * size_t(g.alloc_clusters)];
    w->order = reinterpret_cast<uint32_t*>(base + l.order);
    w->path[0] = '\0';
    return w;
}

/* ---- root ---- */

CardRoot read_card_root(const CardView& card, SplitWork* work)
{
    CardRoot root;
    const uint32_t first = card.geometry->root_cluster;
    root.beyond_end = !card.cluster_present(first);
    root.stored_count = root.beyond_end ? 0 : record_length(card.cluster(first));
    work->taken.clear();
    const uint64_t need = (uint64_t(root.stored_count) + 1) / 2;
    ChainCursor chain(card, first, &work->taken);
    uint32_t got = 0;
    for (uint32_t c = 0; got < need && chain.next(&c);) work->root_chain[got++] = c;
    work->root_clusters = got;
    work->taken.clear();
    const uint64_t room = uint64_t(got) * 2;
    root.count = root.stored_count <= room ? root.stored_count : uint32_t(room);
    root.stop = got < need ? chain.stop() : ChainStop::ended;
    return root;
}

const uint8_t* card_root_entry(const CardView& card, const SplitWork& work, const CardRoot& root, uint32_t index)
{
    if (index >= root.count) return nullptr;
    return card.cluster(work.root_chain[index / 2]) + kPsuEntrySize * (index % 2);
}

/* ---- names ---- */

bool archive_name_is_safe(std::string_view name, const PathRules& rules)
{
    if (name.empty() || name == "." || name == "..") return false;
    const bool windows = rules.separator == '\\';
    /* Step character by character within the name: the field's 32 bytes, or the same converted. */
    char text[kArchiveNameCapacity] = {};
    std::memcpy(text, name.data(), std::min(name.size(), sizeof text - 1));
    for (const char* p = text; *p;) {
        const char* next = rules.step(p);
        if (next == p + 1 && (*p == '\\' || *p == '/' || (windows && *p == ':'))) return false;
        p = next;
    }
    return true;
}

void plan_archive_names(const CardView& card, const CardRoot& root, const NamingRules& rules, SplitWork* work)
{
    uint32_t n = 0;
    for (uint32_t i = 2; i < root.count; ++i) {
        ArchiveName& a = work->names[i];
        a = ArchiveName{};
        if (rules.temp_names) {
            std::snprintf(a.text, sizeof a.text, "temp%04" PRIu32 ".psu", i);
            continue;
        }
        const std::string_view stored = psu_record_name(card_root_entry(card, *work, root, i));
        /* A Shift_JIS name converted for the file system is checked as it will be written: in it a trail
         * byte 0x5C (as in "\x83\x5C") is no longer taken for a backslash. */
        std::string converted;
        a.converted = save_name_to_user(stored, rules.to_user, &converted) && converted.size() + 5 <= sizeof a.text &&
                      archive_name_is_safe(converted, rules.path);
        const std::string_view name = a.converted ? std::string_view(converted) : stored;
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
                if (mode_exists(record_mode(card_root_entry(card, *work, root, i)))) {
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

SplitError build_entry_archive(const CardView& card, const CardRoot& root, uint32_t index, const ProblemSink& sink,
                               SplitWork* work, BuiltArchive* result)
{
    *result = BuiltArchive{};
    const uint8_t* top = card_root_entry(card, *work, root, index);
    if (!top) return SplitError::no_such_entry;
    work->taken.clear();
    ArchiveBuild build(card, sink, work);
    return build.build(top, result);
}

/* ---- listing ---- */

void list_root_entry(const CardView& card, const SplitWork& work, const CardRoot& root, uint32_t index, ListedEntry* out)
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

    const bool deleted = !mode_exists(out->mode);
    ChainRules rules;
    rules.through_freed = deleted;
    rules.live = deleted && work.live_known ? &work.live : nullptr;
    CardDirectory dir;
    (void)read_card_directory(card, record_cluster(r), out->length, &dir, rules); /* cut to what the chain holds */
    std::span<const uint8_t> chosen;
    for (uint32_t j = 2; j < dir.entry_count; ++j) {
        const uint8_t* m = directory_entry(card, dir.chain, j);
        const uint16_t mode = record_mode(m);
        const uint32_t length = record_length(m);
        const uint32_t c = record_cluster(m);
        if (!mode_is_file(mode) || (!deleted && !mode_exists(mode)) || c >= card.alloc_clusters() ||
            !card.cluster_present(c) || (rules.live && rules.live->contains(c)))
            continue;
        /* The icon description's first bytes, within the file and its first cluster. */
        const std::span<const uint8_t> head(card.cluster(c), std::min<size_t>(length, kClusterSize));
        if (!has_icon_sys_magic(head)) continue;
        const bool named = psu_record_name(m) == "icon.sys";
        if (named || chosen.empty()) chosen = head;
        if (named) break;
    }
    if (chosen.empty()) return;
    icon_sys_joined_title(chosen, out->title, sizeof out->title);
    out->has_title = true;
}

} // namespace ps2
