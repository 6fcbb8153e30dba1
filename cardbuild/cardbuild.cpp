/* cardbuild.cpp -- placing PSU archives on a fresh card: the archive walk, file data, directory entries */
#include "cardbuild/cardbuild.h"

#include <cassert>
#include <cstring>
#include <vector>

#include "common/psu.h"

namespace ps2 {

const char* build_error_text(BuildError e)
{
    static const char* const texts[] = {CARDBUILD_ERROR_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(e));
}

namespace {

/* TAVIRO's reading: node by node, nested directories included; the
 * directory bit is tested first; a member of neither kind ends the reading
 * and what came before it stays; a directory length below 2 has no members. */
constexpr PsuReadPolicy kTaviroReading{true, PsuKindRule::directory_first, false, false};

/* The one walk over an archive that both planning and placing use, so the
 * two can never disagree. The visitor is told of each directory and file
 * record with the token of the directory that receives it and returns a
 * token for a new directory. */
template <class Visitor>
BuildError walk_archive_records(std::span<const uint8_t> archive, Visitor& visitor, ArchivePlan* plan, uint32_t root)
{
    if (archive.empty()) return BuildError::empty_file;
    /* A save's directory entry is followed by its "." and ".."; text or any
     * other file whose first bytes happen to hold the directory bit is not. */
    if (archive.size() >= 3 * kPsuEntrySize && mode_is_directory(record_mode(archive.data())) &&
        (psu_record_name(archive.data() + kPsuEntrySize) != "." ||
         psu_record_name(archive.data() + 2 * kPsuEntrySize) != ".."))
        return BuildError::no_links;

    PsuRecordReader reader(archive, kTaviroReading);
    std::vector<uint32_t> open; /* the token of each open directory, by depth */
    PsuRecord r;
    bool any = false;
    while (reader.next(&r)) {
        const uint32_t parent = r.depth == 0 ? root : open[r.depth - 1];
        if (!any) plan->top = r.kind == PsuRecordKind::directory ? ArchiveTop::directory : ArchiveTop::file;
        any = true;
        if (r.kind == PsuRecordKind::directory) {
            open.resize(r.depth);
            open.push_back(visitor.directory(r.offset, parent));
        } else {
            visitor.file(r.offset, parent);
        }
    }
    switch (reader.stop()) {
    case PsuReadStop::neither_kind:
        if (!any) return BuildError::not_an_archive;
        /* Every later member of this and the enclosing directories would
         * meet the same record again: reading ends in front of it. */
        plan->cut_short = true;
        plan->cut_offset = reader.position();
        break;
    case PsuReadStop::end: break;
    case PsuReadStop::cut_links: return BuildError::truncated_links;
    case PsuReadStop::cut_data: return BuildError::truncated_data;
    default: return BuildError::truncated_entry;
    }
    plan->end = reader.position();
    return BuildError::ok;
}

/* Counts what an archive will take: per directory its entries (two per
 * cluster), per file its clusters. Token 0 stands for the root (the walk's
 * token for it), whose
 * clusters are not the archive's own. */
struct PlanVisitor {
    std::span<const uint8_t> archive;
    ArchivePlan* plan;
    std::vector<uint32_t> entry_counts{0};
    uint64_t file_clusters = 0;

    uint32_t directory(size_t, uint32_t parent)
    {
        ++entry_counts[parent];
        ++plan->directories;
        entry_counts.push_back(2);
        return uint32_t(entry_counts.size() - 1);
    }
    void file(size_t pos, uint32_t parent)
    {
        ++entry_counts[parent];
        ++plan->files;
        file_clusters += round_up_1024(record_length(archive.data() + pos)) / kClusterSize;
    }
    uint64_t clusters() const
    {
        uint64_t n = file_clusters;
        for (size_t d = 1; d < entry_counts.size(); ++d) n += (uint64_t(entry_counts[d]) + 1) / 2;
        return n;
    }
};

/* Puts each record on the card as it is met. */
struct PlaceVisitor {
    std::span<const uint8_t> archive;
    CardBuilder* builder;
    bool failed = false;

    uint32_t directory(size_t pos, uint32_t parent)
    {
        uint8_t rec[kPsuEntrySize];
        std::memcpy(rec, archive.data() + pos, kPsuEntrySize);
        set_record_length(rec, 2); /* raised by one for every member placed */
        uint32_t d = 0;
        /* Its first cluster holds the archive's "." and "..". */
        if (!builder->store_file_data(archive.subspan(pos + kPsuEntrySize, 2 * kPsuEntrySize), &d) ||
            !builder->insert_entry(parent, rec, d))
            failed = true;
        return d;
    }
    void file(size_t pos, uint32_t parent)
    {
        const uint8_t* rec = archive.data() + pos;
        uint32_t first = kFatEnd;
        if (!builder->store_file_data(archive.subspan(pos + kPsuEntrySize, record_length(rec)), &first) ||
            !builder->insert_entry(parent, rec, first))
            failed = true;
    }
};

} // namespace

BuildError plan_archive(std::span<const uint8_t> archive, ArchivePlan* plan)
{
    *plan = ArchivePlan{};
    PlanVisitor v{archive, plan};
    const BuildError e = walk_archive_records(archive, v, plan, 0);
    if (e != BuildError::ok) {
        const ArchivePlan cleared{};
        *plan = cleared;
        return e;
    }
    /* At most one cluster per 512 bytes read, so this fits easily. */
    plan->clusters = uint32_t(v.clusters());
    return BuildError::ok;
}

/* ---- CardBuilder ---- */

CardBuilder::CardBuilder(RawImage card, const CardGeometry& geometry) : card_(card), g_(geometry)
{
    layout_fresh_card(card_, g_);
    next_free_ = find_first_free_cluster(card_, g_);
    free_ = g_.alloc_clusters - next_free_;
}

CardBuilder::CardBuilder(RawImage card, const CardGeometry& geometry, AsItStands) : card_(card), g_(geometry)
{
    next_free_ = find_first_free_cluster(card_, g_);
    for (uint32_t c = next_free_; c < g_.alloc_clusters; ++c)
        if ((fat_entry(ConstRawImage(card_), c, g_) & kFatInUse) == 0) ++free_;
}

uint32_t CardBuilder::root_entries() const { return record_length(cluster_bytes(card(), g_.root_cluster, g_)); }

uint32_t CardBuilder::clusters_needed(const ArchivePlan& plan) const
{
    if (reuse_slot_ != UINT32_MAX) return plan.clusters;
    /* A new entry at an even index starts a new cluster, unless the root's chain already holds it. */
    const uint32_t old = root_entries();
    uint32_t held = 0;
    return plan.clusters + (old % 2 == 0 && !walk_steps(g_.root_cluster, old / 2, &held) ? 1 : 0);
}

bool CardBuilder::take_free_cluster(uint32_t* cluster)
{
    if (next_free_ >= g_.alloc_clusters) return false;
    *cluster = next_free_;
    set_fat_entry(card_, next_free_, kFatEnd, g_);
    --free_;
    /* Clusters are never given back, so the next free one lies above. */
    do {
        ++next_free_;
    } while (next_free_ < g_.alloc_clusters && (fat_entry(card(), next_free_, g_) & kFatInUse) != 0);
    return true;
}

/* Follows `steps` links from `first`. Every walk is bounded by the size of
 * the allocatable area, whatever the FAT holds (the builder's own chains
 * have no loops, so the cursor needs no seen-set). */
bool CardBuilder::walk_steps(uint32_t first, uint32_t steps, uint32_t* reached) const
{
    ChainCursor chain(CardView(card(), g_), first, nullptr);
    uint32_t c = 0;
    for (uint64_t i = 0; i <= steps; ++i)
        if (!chain.next(&c)) return false;
    *reached = c;
    return true;
}

bool CardBuilder::find_chain_end(uint32_t first, uint32_t* last) const
{
    ChainCursor chain(CardView(card(), g_), first, nullptr);
    for (uint32_t c = 0; chain.next(&c);) *last = c;
    return chain.stop() == ChainStop::ended;
}

bool CardBuilder::store_file_data(std::span<const uint8_t> data, uint32_t* first)
{
    *first = kFatEnd; /* an empty file owns no cluster */
    if (data.empty()) return true;
    const uint64_t clusters = round_up_1024(data.size()) / kClusterSize;
    if (clusters > free_clusters()) return false;
    uint32_t c = 0;
    if (!take_free_cluster(&c)) return false;
    *first = c;
    size_t done = 0;
    for (;;) {
        const size_t piece = data.size() - done < kClusterSize ? data.size() - done : kClusterSize;
        uint8_t* dst = cluster_bytes(card_, c, g_);
        if (piece < kClusterSize) std::memset(dst, 0, kClusterSize);
        std::memcpy(dst, data.data() + done, piece);
        done += piece;
        if (done == data.size()) return true;
        uint32_t next = 0;
        if (!take_free_cluster(&next)) return false; /* not reached: room was checked above */
        set_fat_entry(card_, c, kFatInUse + next, g_);
        c = next;
    }
}

bool CardBuilder::insert_entry(uint32_t directory, const uint8_t* record, uint32_t cluster)
{
    if (directory >= g_.alloc_clusters) return false;
    const bool root = directory == g_.root_cluster;
    /* The entry that holds the directory's count. */
    uint8_t* count_entry = nullptr;
    if (root) {
        count_entry = cluster_bytes(card_, g_.root_cluster, g_);
    } else {
        const uint8_t* dot = cluster_bytes(card_, directory, g_);
        const uint32_t parent = record_cluster(dot);
        const uint32_t index = record_dir_entry(dot);
        uint32_t holder = 0;
        if (!walk_steps(parent, index / 2, &holder)) return false;
        count_entry = cluster_bytes(card_, holder, g_) + kPsuEntrySize * (index % 2);
    }
    const uint32_t old = record_length(count_entry);
    uint8_t* slot = nullptr;
    uint32_t index = old;
    uint32_t holder = 0;
    if (root && reuse_slot_ < old) {
        /* A slot a deleted entry left: the count stays. */
        index = reuse_slot_;
        if (!walk_steps(directory, index / 2, &holder)) return false;
        slot = cluster_bytes(card_, holder, g_) + kPsuEntrySize * (index % 2);
        reuse_slot_ = UINT32_MAX;
    } else if (walk_steps(directory, old / 2, &holder)) {
        /* The second half of the last cluster, or a cluster the chain already holds. */
        slot = cluster_bytes(card_, holder, g_) + kPsuEntrySize * (old % 2);
    } else if (old % 2 == 1) {
        return false; /* the chain holds fewer entries than its count */
    } else {
        uint32_t last = 0;
        if (!find_chain_end(directory, &last)) return false;
        uint32_t grown = 0;
        if (!take_free_cluster(&grown)) return false;
        set_fat_entry(card_, last, kFatInUse + grown, g_);
        /* Not cleared: its second half stays 0xFF until the next entry fills it. */
        slot = cluster_bytes(card_, grown, g_);
    }
    if (index == old) set_record_length(count_entry, old + 1);
    std::memcpy(slot, record, kPsuEntrySize);
    set_record_cluster(slot, cluster);
    if (mode_is_directory(record_mode(slot)) && cluster < g_.alloc_clusters) {
        uint8_t* dot = cluster_bytes(card_, cluster, g_);
        set_record_cluster(dot, directory);
        set_record_dir_entry(dot, index);
    }
    return true;
}

BuildError CardBuilder::place_archive(std::span<const uint8_t> archive, const ArchivePlan& plan)
{
    const uint32_t needed = clusters_needed(plan);
    if (needed > free_clusters()) return BuildError::card_full;
    [[maybe_unused]] const uint32_t used_before = used_clusters();
    PlaceVisitor v{archive, this};
    ArchivePlan walked;
    const BuildError e = walk_archive_records(archive, v, &walked, g_.root_cluster);
    if (e != BuildError::ok) return e;
    if (v.failed) return BuildError::damaged_card;
    assert(used_clusters() - used_before == needed);
    return BuildError::ok;
}

BuildError CardBuilder::add_archive(std::span<const uint8_t> archive, ArchivePlan* plan)
{
    const BuildError e = plan_archive(archive, plan);
    if (e != BuildError::ok) return e;
    return place_archive(archive, *plan);
}

} // namespace ps2
