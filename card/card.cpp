/* card.cpp -- the memory card image: geometries, recognition and the layout from the superblock, the fresh
 * layout, FAT chains and directories */
#include "card/card.h"

#include <cstring>

#include "card/ecc.h"
#include "common/psu.h"

namespace ps2 {

const char kCardSignature[kCardSignatureSize] = "Sony PS2 Memory Card Format 1.2.0.0";

const char* card_error_text(CardError e)
{
    static const char* const texts[] = {CARD_ERROR_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(e));
}

const char* layout_problem_text(LayoutProblem p)
{
    static const char* const texts[] = {LAYOUT_PROBLEM_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(p));
}

bool has_card_signature(std::span<const uint8_t> bytes)
{
    return bytes.size() >= kCardSignatureSize && std::memcmp(bytes.data(), kCardSignature, kCardSignatureSize) == 0;
}

/* ---- geometries ---- */

bool geometry_for_size(uint32_t megabytes, CardGeometry* out)
{
    if (megabytes != 8 && megabytes != 16 && megabytes != 32 && megabytes != 64) return false;
    CardGeometry g;
    g.clusters_per_card = megabytes * 1024;
    g.link_mask = g.clusters_per_card - 1;
    g.fat_count = g.clusters_per_card / kFatEntriesPerCluster; /* an entry for every cluster of the card */
    g.ifat_count = (g.fat_count + kFatEntriesPerCluster - 1) / kFatEntriesPerCluster;
    for (uint32_t k = 0; k < g.ifat_count; ++k) g.ifat[k] = 8 + k;
    for (uint32_t k = 0; k < g.fat_count; ++k) g.fat[k] = 8 + g.ifat_count + k;
    g.alloc_offset = 8 + g.ifat_count + g.fat_count;
    g.alloc_clusters = g.clusters_per_card - 2 * g.clusters_per_block() - g.alloc_offset;
    *out = g;
    return true;
}

namespace {

/* Where raw offset r of the card stands in the file of the given form. */
uint64_t file_offset_of(uint64_t raw, CardForm form)
{
    return form == CardForm::raw ? raw : raw / kPageSize * kCodedPageSize + raw % kPageSize;
}

/* The raw bytes of a card that `available` bytes of its file hold. */
size_t present_bytes(uint64_t available, CardForm form, size_t raw_size)
{
    uint64_t raw = available;
    if (form == CardForm::coded) {
        const uint64_t rest = available % kCodedPageSize;
        raw = available / kCodedPageSize * kPageSize + (rest < kPageSize ? rest : kPageSize);
    }
    return raw < raw_size ? size_t(raw) : raw_size;
}

/* The form of a file: one of a whole coded image or longer is coded, one of the raw image's size raw; a
 * file of neither size (a cut image) is coded when the spare area behind its first page carries that
 * page's code. */
CardForm form_of_file(std::span<const uint8_t> bytes, uint64_t available, uint64_t file_size, const CardGeometry& g)
{
    if (file_size >= g.coded_size()) return CardForm::coded;
    if (file_size == g.raw_size() || available < kCodedPageSize || bytes.size() < kCodedPageSize) return CardForm::raw;
    uint8_t page[kPageSize];
    std::memcpy(page, bytes.data(), kPageSize);
    const EccPageState state = ecc_check_page(page, bytes.data() + kPageSize);
    return state == EccPageState::clean || state == EccPageState::corrected ? CardForm::coded : CardForm::raw;
}

/* The superblock's layout, checked against itself and the bytes read. */
LayoutProblem read_superblock_geometry(std::span<const uint8_t> bytes, uint64_t available, uint64_t file_size,
                                       CardGeometry* out, CardForm* form)
{
    const uint8_t* s = bytes.data();
    if (bytes.size() < 0x50 + 4 * kSuperblockIfatSlots) return LayoutProblem::cut;
    if (load_u16le(s + 0x28) != kPageSize) return LayoutProblem::page_size;
    if (load_u16le(s + 0x2A) != 2) return LayoutProblem::cluster_size;
    CardGeometry g;
    g.pages_per_block = load_u16le(s + 0x2C);
    g.clusters_per_card = load_u32le(s + 0x30);
    g.alloc_offset = load_u32le(s + 0x34);
    g.alloc_clusters = load_u32le(s + 0x38);
    g.root_cluster = load_u32le(s + 0x3C);
    const uint32_t n = g.clusters_per_card;
    if (n < kSmallestCardClusters || n > kLargestCardClusters || (n & (n - 1)) != 0) return LayoutProblem::card_size;
    if (g.pages_per_block < 2 || g.pages_per_block > 256 || g.pages_per_block % 2 != 0 ||
        g.card_pages() % g.pages_per_block != 0)
        return LayoutProblem::block_size;
    if (g.alloc_offset == 0 || g.alloc_clusters == 0 || uint64_t(g.alloc_offset) + g.alloc_clusters > n)
        return LayoutProblem::alloc_area;
    if (g.root_cluster >= g.alloc_clusters) return LayoutProblem::root;
    g.link_mask = n - 1;
    *form = form_of_file(bytes, available, file_size, g);

    /* Clusters before the allocatable area (never the superblock's) may hold the FAT. */
    auto holds_cluster = [&](uint32_t c) {
        return file_offset_of(uint64_t(c) * kClusterSize + kClusterSize - 1, *form) < available;
    };
    std::memset(g.ifat, 0, sizeof g.ifat);
    std::memset(g.fat, 0, sizeof g.fat);
    const uint32_t needed = (g.alloc_clusters + kFatEntriesPerCluster - 1) / kFatEntriesPerCluster;
    const uint32_t listable = n / kFatEntriesPerCluster;
    OwnedClusterSet listed(g.alloc_offset);
    g.fat_count = 0;
    for (uint32_t k = 0; k < listable; ++k) {
        const uint32_t slot = k / kFatEntriesPerCluster;
        if (k % kFatEntriesPerCluster == 0) {
            const uint32_t ifat = load_u32le(s + 0x50 + 4 * slot);
            const bool usable = slot < kSuperblockIfatSlots && ifat >= 1 && ifat < g.alloc_offset && !listed.set.contains(ifat);
            if (!usable) {
                if (k < needed) return LayoutProblem::indirect_fat;
                break;
            }
            if (!holds_cluster(ifat)) return LayoutProblem::cut;
            listed.set.insert(ifat);
            g.ifat[slot] = ifat;
            g.ifat_count = slot + 1;
        }
        const uint64_t at = file_offset_of(uint64_t(g.ifat[slot]) * kClusterSize + 4 * (k % kFatEntriesPerCluster), *form);
        const uint32_t fat = load_u32le(bytes.data() + at);
        if (fat < 1 || fat >= g.alloc_offset || listed.set.contains(fat)) {
            if (k < needed) return LayoutProblem::fat;
            break;
        }
        if (!holds_cluster(fat)) return LayoutProblem::cut;
        listed.set.insert(fat);
        g.fat[k] = fat;
        g.fat_count = k + 1;
    }
    *out = g;
    return LayoutProblem::none;
}

} // namespace

CardError read_card_layout(std::span<const uint8_t> file_bytes, uint64_t file_size, CardLayout* out)
{
    *out = CardLayout{};
    out->file_size = file_size;
    if (!has_card_signature(file_bytes)) return CardError::not_a_card;
    const uint64_t available = file_bytes.size() < file_size ? file_bytes.size() : file_size;
    CardGeometry g;
    CardForm form = CardForm::raw;
    out->problem = read_superblock_geometry(file_bytes, available, file_size, &g, &form);
    if (out->problem == LayoutProblem::none) {
        out->geometry = g;
        out->form = form;
    } else {
        out->geometry = kStandardGeometry;
        out->form = form_of_file(file_bytes, available, file_size, kStandardGeometry);
    }
    out->present = present_bytes(available, out->form, out->geometry.raw_size());
    return CardError::ok;
}

CardError bring_card_to_raw(std::span<uint8_t> buffer, const CardLayout& layout, EccReport* ecc)
{
    if (buffer.size() < layout.buffer_size()) return CardError::buffer_too_small;
    if (!has_card_signature(buffer)) return CardError::not_a_card;
    if (layout.form != CardForm::coded) return CardError::ok;
    const size_t pages = layout.geometry.card_pages();
    /* Pages the file holds whole, spare area included. */
    const uint64_t whole = layout.file_size / kCodedPageSize;
    for (size_t k = 0; k < pages; ++k) {
        uint8_t* page = buffer.data() + k * kCodedPageSize;
        if (ecc && k < whole) {
            switch (ecc_check_page(page, page + kPageSize)) {
            case EccPageState::no_code: break;
            case EccPageState::clean: ++ecc->pages_checked; break;
            case EccPageState::corrected:
                ++ecc->pages_checked;
                ecc->corrected.push_back(uint32_t(k));
                break;
            case EccPageState::uncorrectable:
                ++ecc->pages_checked;
                ecc->uncorrectable.push_back(uint32_t(k));
                break;
            }
        }
        /* In place, ascending: page k moves down from 528 k to 512 k, never over a page not yet moved. */
        if (k > 0) std::memmove(buffer.data() + k * kPageSize, page, kPageSize);
    }
    return CardError::ok;
}

CardError bring_card_to_raw(std::span<uint8_t> buffer, uint64_t file_size)
{
    if (buffer.size() < kCodedImageSize) return CardError::buffer_too_small;
    if (!has_card_signature(buffer)) return CardError::not_a_card;
    CardLayout fixed;
    fixed.file_size = file_size;
    fixed.form = file_size >= kCodedImageSize ? CardForm::coded : CardForm::raw;
    return bring_card_to_raw(buffer, fixed);
}

/* ---- fresh card ---- */

static void put_u32(RawImage card, size_t offset, uint32_t v) { store_u32le(card.data() + offset, v); }

static void write_superblock(RawImage card, const CardGeometry& g)
{
    uint8_t* s = card.data();
    std::memset(s, 0, 0x174);
    std::memcpy(s, kCardSignature, kCardSignatureSize); /* 35 characters, NUL, then zeros to 0x28 */
    store_u16le(s + 0x28, uint16_t(kPageSize));       /* page_size */
    store_u16le(s + 0x2A, 2);                          /* pages_per_cluster */
    store_u16le(s + 0x2C, uint16_t(g.pages_per_block));
    store_u16le(s + 0x2E, 0xFF00);
    put_u32(card, 0x30, g.clusters_per_card);
    put_u32(card, 0x34, g.alloc_offset);   /* first_alloc_cluster */
    put_u32(card, 0x38, g.alloc_clusters); /* alloc_cluster_count */
    put_u32(card, 0x3C, g.root_cluster);
    const uint32_t blocks = g.clusters_per_card / g.clusters_per_block();
    put_u32(card, 0x40, blocks - 1); /* reserved_block_a */
    put_u32(card, 0x44, blocks - 2); /* reserved_block_b */
    for (uint32_t k = 0; k < g.ifat_count; ++k) put_u32(card, 0x50 + 4 * k, g.ifat[k]); /* the rest 0 */
    std::memset(s + 0xD0, 0xFF, 32 * 4);                                               /* bad_blocks: none */
    s[0x150] = 2;    /* card_type */
    s[0x151] = 0x2B; /* card_flags */
    s[0x152] = 0xFF;
    s[0x153] = 0xFF;
    put_u32(card, 0x154, uint32_t(kClusterSize));
    put_u32(card, 0x158, kFatEntriesPerCluster);
    put_u32(card, 0x15C, g.clusters_per_block());
    put_u32(card, 0x160, 0xFFFFFFFF);
    put_u32(card, 0x170, 8001);
}

void layout_fresh_card(RawImage card, const CardGeometry& g)
{
    std::memset(card.data(), 0xFF, g.raw_size());
    write_superblock(card, g);

    /* Indirect FAT: the absolute numbers of the FAT clusters; the rest of its entries stay 0xFFFFFFFF. */
    for (uint32_t k = 0; k < g.fat_count; ++k)
        put_u32(card, size_t(g.ifat[k / kFatEntriesPerCluster]) * kClusterSize + 4 * (k % kFatEntriesPerCluster), g.fat[k]);

    set_fat_entry(card, g.root_cluster, kFatEnd, g); /* the root's single cluster */
    for (uint32_t c = 0; c < g.alloc_clusters; ++c)
        if (c != g.root_cluster) set_fat_entry(card, c, kFatFree, g);
    /* Entries behind the allocatable area keep the 0xFFFFFFFF of the fill. */

    uint8_t* root = cluster_bytes(card, g.root_cluster, g);
    std::memset(root, 0, kClusterSize);
    store_u16le(root + psu_field::mode, kModeRootDot);
    set_record_length(root, 2);
    root[psu_field::name] = '.';
    uint8_t* dotdot = root + kPsuEntrySize;
    store_u16le(dotdot + psu_field::mode, kModeRootDotDot);
    dotdot[psu_field::name] = '.';
    dotdot[psu_field::name + 1] = '.';
}

/* ---- FAT ---- */

uint32_t find_first_free_cluster(ConstRawImage card, const CardGeometry& g)
{
    for (uint32_t c = 0; c < g.alloc_clusters; ++c)
        if ((load_u32le(card.data() + g.fat_entry_offset(c)) & kFatInUse) == 0) return c;
    return g.alloc_clusters;
}

ChainCursor::ChainCursor(const CardView& card, uint32_t first, ClusterSet* seen, ChainRules rules)
    : card_(card), seen_(seen), rules_(rules), bound_(card.alloc_clusters()), next_(first)
{
    if (seen_ && seen_->capacity() < bound_) bound_ = seen_->capacity();
}

bool ChainCursor::next(uint32_t* cluster)
{
    if (at_end_) {
        stop_ = end_stop_;
        return false;
    }
    const uint32_t here = next_;
    ChainStop stop = ChainStop::ended;
    if (here >= bound_)
        stop = ChainStop::out_of_range;
    else if (seen_ ? seen_->contains(here) : steps_ >= bound_)
        stop = ChainStop::repeated;
    else if (rules_.live && rules_.live->contains(here))
        stop = ChainStop::reused;
    else if (!card_.cluster_present(here))
        stop = ChainStop::beyond_end;
    if (stop != ChainStop::ended) {
        stop_ = stop;
        return false;
    }
    if (seen_)
        seen_->insert(here);
    else
        ++steps_;
    const size_t at = card_.geometry->fat_entry_offset(here);
    if (at + 4 > card_.present) {
        /* Its link is not in the image: nothing follows that can be trusted. */
        at_end_ = true;
        end_stop_ = ChainStop::beyond_end;
    } else {
        const uint32_t entry = load_u32le(card_.raw.data() + at);
        at_end_ = rules_.through_freed ? (entry == kFatEnd || entry == kFatFree) : fat_ends_chain(entry);
        next_ = entry & card_.geometry->link_mask;
    }
    *cluster = here;
    return true;
}

CardError follow_chain(const CardView& card, uint32_t first, std::vector<uint32_t>* out, ChainRules rules)
{
    OwnedClusterSet seen(card.alloc_clusters());
    ChainCursor chain(card, first, &seen.set, rules);
    for (uint32_t c = 0; chain.next(&c);) out->push_back(c);
    switch (chain.stop()) {
    case ChainStop::ended: return CardError::ok;
    case ChainStop::out_of_range: return CardError::cluster_out_of_range;
    case ChainStop::repeated: return CardError::chain_loops;
    case ChainStop::reused: return CardError::chain_reused;
    case ChainStop::beyond_end: return CardError::beyond_end;
    }
    return CardError::chain_loops;
}

/* ---- directories ---- */

const uint8_t* directory_entry(const CardView& card, std::span<const uint32_t> chain, uint32_t index)
{
    const uint32_t slot = index / 2;
    if (slot >= chain.size() || chain[slot] >= card.alloc_clusters()) return nullptr;
    return card.cluster(chain[slot]) + kPsuEntrySize * (index % 2);
}

uint32_t root_entry_count(const CardView& card) { return record_length(card.cluster(card.geometry->root_cluster)); }

CardError read_card_directory(const CardView& card, uint32_t first, uint32_t entry_count, CardDirectory* out,
                              ChainRules rules)
{
    out->chain.clear();
    out->entry_count = 0;
    CardError e = follow_chain(card, first, &out->chain, rules);
    const uint64_t room = uint64_t(out->chain.size()) * 2;
    out->entry_count = entry_count <= room ? entry_count : uint32_t(room);
    if (e == CardError::ok && entry_count > room) e = CardError::directory_too_short;
    return e;
}

} // namespace ps2
