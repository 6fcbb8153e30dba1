/* card_edit.cpp -- saves added into a card's free clusters and deleted from it, the rest of the card kept */
#include "cardbuild/card_edit.h"

#include <cstring>

#include "common/paths.h"
#include "common/psu.h"

namespace ps2 {

const char* edit_error_text(EditError e)
{
    static const char* const texts[] = {CARD_EDIT_ERROR_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(e));
}

std::string format_cluster_ranges(std::span<const uint32_t> clusters)
{
    std::string out;
    for (size_t k = 0; k < clusters.size();) {
        size_t end = k;
        while (end + 1 < clusters.size() && clusters[end + 1] == clusters[end] + 1) ++end;
        if (!out.empty()) out += ", ";
        out += std::to_string(clusters[k]);
        if (end > k) {
            out += '-';
            out += std::to_string(clusters[end]);
        }
        k = end + 1;
    }
    return out;
}

uint32_t CardEditor::free_clusters() const
{
    uint32_t n = 0;
    for (uint32_t c = 0; c < g_.alloc_clusters; ++c)
        if ((fat_entry(card_, c, g_) & kFatInUse) == 0) ++n;
    return n;
}

namespace {

/* The root's chain and entry count; false when the chain holds fewer entries than the count. */
bool read_root(const CardView& card, CardDirectory* root)
{
    return read_card_directory(card, card.geometry->root_cluster, root_entry_count(card), root) == CardError::ok;
}

} // namespace

std::vector<CardEditor::LiveSave> CardEditor::live_saves() const
{
    std::vector<LiveSave> out;
    CardDirectory root;
    if (!read_root(view(), &root)) return out;
    for (uint32_t i = 2; i < root.entry_count; ++i) {
        const uint8_t* e = directory_entry(view(), root.chain, i);
        if (mode_exists(record_mode(e))) out.push_back({i, std::string(psu_record_name(e))});
    }
    return out;
}

uint32_t CardEditor::find_live_save(std::string_view name) const
{
    const std::string wanted(name);
    for (const LiveSave& s : live_saves())
        if (compare_folded(s.name.c_str(), wanted.c_str()) == 0) return s.index;
    return kNoRootEntry;
}

uint32_t CardEditor::first_deleted_root_slot() const
{
    CardDirectory root;
    if (!read_root(view(), &root)) return kNoRootEntry;
    for (uint32_t i = 2; i < root.entry_count; ++i)
        if (!mode_exists(record_mode(directory_entry(view(), root.chain, i)))) return i;
    return kNoRootEntry;
}

EditError CardEditor::delete_save(uint32_t index, bool wipe, DeletedSave* out)
{
    *out = DeletedSave{index, 0};
    CardDirectory root;
    if (!read_root(view(), &root) || index < 2 || index >= root.entry_count) return EditError::no_such_save;
    uint8_t* entry = directory_entry(card_, root.chain, index, g_);
    if (!mode_exists(record_mode(entry))) return EditError::no_such_save;

    /* Every cluster the entry's tree owns: the scan's owner walked up to the root's members. */
    CardScan scan;
    scan_card(view(), &scan);
    uint32_t top = 0;
    for (uint32_t n = 1; n < scan.nodes.size(); ++n)
        if (scan.nodes[n].record == entry) top = n;
    if (top == 0) return EditError::damaged_card;
    for (uint32_t c = 0; c < g_.alloc_clusters; ++c) {
        uint32_t n = scan.owner[c];
        if (n == 0) continue;
        for (--n; n != 0 && scan.nodes[n].parent != 0;) n = scan.nodes[n].parent;
        if (n != top) continue;
        ++out->clusters;
        if (wipe) {
            set_fat_entry(card_, c, kFatFree, g_);
            std::memset(cluster_bytes(card_, c, g_), 0xFF, kClusterSize);
        } else {
            set_fat_entry(card_, c, fat_entry(card_, c, g_) & ~kFatInUse, g_);
        }
    }
    store_u16le(entry + psu_field::mode, uint16_t(record_mode(entry) & ~kModeExistsBit));
    if (wipe) {
        set_record_length(entry, 0);
        set_record_cluster(entry, kFatEnd);
    }
    return EditError::ok;
}

EditError CardEditor::plan_add(std::span<const uint8_t> archive, AddPlacement* p) const
{
    *p = AddPlacement{};
    p->build = plan_archive(archive, &p->plan);
    if (p->build != BuildError::ok) return EditError::not_an_archive;
    CardBuilder builder(card_, g_, CardBuilder::AsItStands{});
    const uint32_t slot = first_deleted_root_slot();
    p->reuses_slot = slot != kNoRootEntry;
    p->root_index = p->reuses_slot ? slot : builder.root_entries();
    if (p->reuses_slot) builder.reuse_root_slot(slot);
    p->needed = builder.clusters_needed(p->plan);
    p->free = builder.free_clusters();
    return p->needed > p->free ? EditError::card_full : EditError::ok;
}

EditError CardEditor::add_save(std::span<const uint8_t> archive, const AddPlacement& p, std::vector<uint32_t>* taken)
{
    std::vector<uint8_t> was_free(g_.alloc_clusters);
    for (uint32_t c = 0; c < g_.alloc_clusters; ++c) was_free[c] = (fat_entry(card_, c, g_) & kFatInUse) == 0;
    CardBuilder builder(card_, g_, CardBuilder::AsItStands{});
    if (p.reuses_slot) builder.reuse_root_slot(p.root_index);
    if (builder.clusters_needed(p.plan) > builder.free_clusters()) return EditError::card_full;
    const BuildError e = builder.place_archive(archive, p.plan);
    if (e == BuildError::card_full) return EditError::card_full;
    if (e != BuildError::ok) return EditError::damaged_card;
    taken->clear();
    for (uint32_t c = 0; c < g_.alloc_clusters; ++c)
        if (was_free[c] && (fat_entry(card_, c, g_) & kFatInUse) != 0) taken->push_back(c);
    return EditError::ok;
}

} // namespace ps2
