/* cardsplit.cpp -- splitting a raw card image into PSU archives: root, names, depth-first archive building */
#include "cardsplit/cardsplit.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
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

/* One archive being built in the work area, depth first: its bytes, the
 * open directories (frames) with their clusters (dir_chains), and the
 * problems reported. All chains of the archive share the work area's
 * seen-set, so no cluster is written twice. */
class ArchiveBuild {
public:
    ArchiveBuild(ConstRawImage card, const ProblemSink& sink, SplitWork* work)
        : card_(card), sink_(sink), w_(work), out_(std::span<uint8_t>(work->archive, kSplitArchiveCapacity))
    {
    }

    SplitError build(const uint8_t* top, BuiltArchive* result);

private:
    /* Reports a problem of `record`, a member of the open directories. */
    void emit(SplitProblemKind kind, const uint8_t* record, uint64_t wanted, uint64_t found = 0,
              ChainStop stop = ChainStop::ended);
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

    ConstRawImage card_;
    const ProblemSink& sink_;
    SplitWork* w_;
    ByteWriter out_;
    uint32_t depth_ = 0;     /* open directories: frames[0 .. depth_) */
    uint32_t chain_top_ = 0; /* their clusters: dir_chains[0 .. chain_top_) */
    uint32_t problems_ = 0;
};

void ArchiveBuild::emit(SplitProblemKind kind, const uint8_t* record, uint64_t wanted, uint64_t found, ChainStop stop)
{
    SplitProblem p;
    p.kind = kind;
    p.stop = stop;
    p.path = member_path(w_, depth_, record);
    p.wanted = wanted;
    p.found = found;
    sink_.send(p);
    ++problems_;
}

bool ArchiveBuild::open_directory(const uint8_t* record, size_t entry_offset, ChainStop* stop)
{
    const uint32_t stored = record_length(record);
    const uint64_t need = (uint64_t(stored) + 1) / 2;
    ChainCursor chain(card_, record_cluster(record), &w_->taken);
    uint32_t got = 0;
    /* Each step takes a cluster no other step can take again, so at most 8,135 steps. */
    for (uint32_t c = 0; got < need && chain.next(&c);) w_->dir_chains[chain_top_ + got++] = c;
    *stop = got < need ? chain.stop() : ChainStop::ended;
    if (got == 0) return false;
    const uint32_t readable = uint64_t(got) * 2 < stored ? got * 2 : stored;
    if (readable < stored) emit(SplitProblemKind::directory_cut, record, stored, readable, *stop);
    w_->frames[depth_] = SplitFrame{entry_offset, chain_top_, got, stored, readable, 0, 0};
    chain_top_ += got;
    ++depth_;
    return true;
}

bool ArchiveBuild::put_file_data(const uint8_t* record)
{
    const uint64_t need = clusters_for_bytes(record_length(record));
    if (!out_.can_put(need * kClusterSize)) return false;
    ChainCursor chain(card_, record_cluster(record), &w_->taken);
    uint64_t got = 0;
    /* The room for every cluster is checked above. */
    for (uint32_t c = 0; got < need && chain.next(&c); ++got) (void)out_.put(cluster_bytes(card_, c), kClusterSize);
    if (got < need) {
        (void)out_.put_zeros((need - got) * kClusterSize);
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
        emit(kind, e, length);
        out_.rewind(entry_offset);
        --f.written;
    };
    ChainStop stop;
    if (mode_is_directory(mode)) {
        if (length != 0 && !open_directory(e, entry_offset, &stop))
            leave_out(stop == ChainStop::repeated ? SplitProblemKind::member_cycle : SplitProblemKind::member_unreadable);
    } else if (mode_is_file(mode) && length != 0) {
        if (!put_file_data(e)) leave_out(SplitProblemKind::member_too_large);
    }
    return SplitError::ok;
}

SplitError ArchiveBuild::build(const uint8_t* top, BuiltArchive* result)
{
    (void)out_.put(top, kPsuEntrySize); /* the archive's capacity holds far more */
    const uint16_t mode = record_mode(top);
    const uint32_t length = record_length(top);
    ChainStop stop;
    if (mode_is_directory(mode)) {
        if (length != 0 && !open_directory(top, 0, &stop)) return SplitError::unreadable_directory;
    } else if (mode_is_file(mode) && length != 0) {
        if (!put_file_data(top)) return SplitError::too_large;
    }
    while (depth_ > 0)
        if (const SplitError e = put_next_entry(); e != SplitError::ok) return e;
    result->size = out_.size();
    result->problems = problems_;
    return SplitError::ok;
}

} // namespace

/* ---- root ---- */

CardRoot read_card_root(ConstRawImage card, SplitWork* work)
{
    CardRoot root;
    root.stored_count = record_length(cluster_bytes(card, kRootCluster));
    work->taken.clear();
    const uint64_t need = (uint64_t(root.stored_count) + 1) / 2;
    ChainCursor chain(card, kRootCluster, &work->taken);
    uint32_t got = 0;
    for (uint32_t c = 0; got < need && chain.next(&c);) work->root_chain[got++] = c;
    work->root_clusters = got;
    work->taken.clear();
    const uint64_t room = uint64_t(got) * 2;
    root.count = root.stored_count <= room ? root.stored_count : uint32_t(room);
    root.stop = got < need ? chain.stop() : ChainStop::ended;
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

SplitError build_entry_archive(ConstRawImage card, const CardRoot& root, uint32_t index, const ProblemSink& sink,
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
        if (!mode_is_file(record_mode(m)) || c >= kAllocClusters) continue;
        /* The icon description's first bytes, within the file and its first cluster. */
        const std::span<const uint8_t> head(cluster_bytes(card, c), std::min<size_t>(length, kClusterSize));
        if (!has_icon_sys_magic(head)) continue;
        const std::string_view title = icon_sys_title(head, kIconSysTitleSize);
        std::memcpy(out->title, title.data(), title.size());
        out->has_title = true;
        return;
    }
}

} // namespace ps2
