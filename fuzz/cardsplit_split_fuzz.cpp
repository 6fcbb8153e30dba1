/* cardsplit_split_fuzz.cpp -- any card contents split into archives in memory: the root, the names and every
 * entry's archive never read or write outside the card and the work area, never loop, give only names that
 * stay inside the output folder and never two archives one file, and each archive is a whole depth-first tree.
 *
 * The card's live tree is scanned first (the owners of its clusters), and deleted saves are recovered through
 * freed links, stopping at what live entries own.
 *
 * Input: one options byte (bit 0: temporary names; bit 1: Windows rules, Shift_JIS and case folded; bit 2:
 * the image ends inside the allocatable area, after 4 x bits 3-7 clusters), then the FAT entries of clusters
 * 0-63 (256 bytes), then the allocatable area from cluster 0 (at most 64 clusters). Whatever the input leaves
 * out is as a fresh card has it. */
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "card/card.h"
#include "card/cardscan.h"
#include "cardsplit/cardsplit.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace ps2;

constexpr uint32_t kPatchedFatEntries = 64;
constexpr uint32_t kPatchedClusters = 64;

struct State {
    std::vector<uint8_t> fresh = std::vector<uint8_t>(kRawImageSize);
    std::vector<uint8_t> card = std::vector<uint8_t>(kRawImageSize);
    OwnedSplitWork work;
    State()
    {
        layout_fresh_card(RawImage(fresh.data(), kRawImageSize));
        card = fresh;
    }
};

/* Walks an archive as the splitter must have laid it out: a directory entry is followed by as many
 * entries as its length counts ("." and ".." bare, the rest nodes in turn), a file entry by its data in
 * whole clusters, an entry of neither kind stands alone. True when the tree ends exactly at the end. */
bool is_whole_tree(std::span<const uint8_t> a)
{
    struct Open {
        uint32_t left, index;
    };
    std::vector<Open> open;
    size_t pos = 0;
    auto take_node = [&](bool bare) {
        if (a.size() - pos < kPsuEntrySize) return false;
        const uint8_t* r = a.data() + pos;
        pos += kPsuEntrySize;
        if (bare) return true;
        const uint16_t mode = record_mode(r);
        if (mode_is_directory(mode)) {
            if (record_length(r) != 0) open.push_back({record_length(r), 0});
        } else if (mode_is_file(mode)) {
            const uint64_t data = round_up_1024(record_length(r));
            if (data > a.size() - pos) return false;
            pos += size_t(data);
        }
        return true;
    };
    if (!take_node(false)) return false;
    while (!open.empty()) {
        Open& o = open.back();
        if (o.left == 0) {
            open.pop_back();
            continue;
        }
        --o.left;
        const bool bare = o.index++ < 2;
        if (!take_node(bare)) return false;
    }
    return pos == a.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static State s;
    fuzz::InputCursor in(data, size);
    const uint8_t options = in.byte();

    /* The card: fresh, then the patched FAT entries and clusters. */
    std::memcpy(s.card.data() + kFatOffset, s.fresh.data() + kFatOffset, 4 * kPatchedFatEntries);
    std::memcpy(s.card.data() + kAllocOffset, s.fresh.data() + kAllocOffset, kPatchedClusters * kClusterSize);
    const auto fat = in.take(4 * kPatchedFatEntries);
    if (!fat.empty()) std::memcpy(s.card.data() + kFatOffset, fat.data(), fat.size());
    const auto clusters = in.take(kPatchedClusters * kClusterSize);
    if (!clusters.empty()) std::memcpy(s.card.data() + kAllocOffset, clusters.data(), clusters.size());

    const size_t present = (options & 4) ? kAllocOffset + 4 * size_t(options >> 3) * kClusterSize : SIZE_MAX;
    const CardView card(ConstRawImage(s.card.data(), kRawImageSize), kStandardGeometry, present);
    FUZZ_CHECK(has_card_signature(card.raw));
    SplitWork* w = s.work.get();

    /* The scan: every allocatable cluster counted once, an owner only where a live chain went. */
    CardScan scan;
    scan_card(card, &scan);
    FUZZ_CHECK(scan.counts.in_use + scan.counts.free == kAllocClusters);
    FUZZ_CHECK(scan.counts.owned <= kAllocClusters && scan.counts.lost <= scan.counts.in_use);
    w->live.clear();
    for (uint32_t c = 0; c < kAllocClusters; ++c) {
        FUZZ_CHECK((scan.owner[c] != 0) == scan.owned.contains(c) && scan.owner[c] <= scan.nodes.size());
        if (scan.owned.contains(c)) w->live.insert(c);
    }
    w->live_known = true;

    const CardRoot root = read_card_root(card, w);
    FUZZ_CHECK(root.count <= root.stored_count);
    FUZZ_CHECK(w->root_clusters <= kAllocClusters);
    FUZZ_CHECK(uint64_t(root.count) <= 2 * uint64_t(w->root_clusters));

    NamingRules naming;
    naming.temp_names = (options & 1) != 0;
    naming.path = (options & 2) ? kWindowsShiftJisRules : kPosixRules;
    naming.case_insensitive = (options & 2) != 0;
    plan_archive_names(card, root, naming, w);

    /* Names: each one written stays in the folder, and no two written ones are the same file. */
    std::vector<const char*> written;
    for (uint32_t i = 2; i < root.count; ++i) {
        const ArchiveName& a = w->names[i];
        FUZZ_CHECK(std::memchr(a.text, '\0', sizeof a.text) != nullptr);
        if (a.status != SplitError::ok) {
            FUZZ_CHECK(!naming.temp_names);
            FUZZ_CHECK(a.status == SplitError::unsafe_name || a.status == SplitError::name_taken);
            continue;
        }
        FUZZ_CHECK(fuzz::stays_in_folder(a.text, naming.path));
        written.push_back(a.text);
    }
    std::sort(written.begin(), written.end(), [&](const char* x, const char* y) {
        return (naming.case_insensitive ? compare_folded(x, y) : compare_exact(x, y)) < 0;
    });
    for (size_t k = 1; k < written.size(); ++k)
        FUZZ_CHECK((naming.case_insensitive ? compare_folded(written[k - 1], written[k])
                                            : compare_exact(written[k - 1], written[k])) != 0);

    /* Archives: within the work area, whole trees; listing stays within its fields. */
    for (uint32_t i = 2; i < root.count; ++i) {
        BuiltArchive built;
        const SplitError e = build_entry_archive(card, root, i, ProblemSink{}, w, &built);
        if (e == SplitError::ok) {
            FUZZ_CHECK(built.size >= kPsuEntrySize && built.size <= kSplitArchiveCapacity);
            /* The root entry as it stands; a directory's length counts what was written. */
            const uint8_t* top = card_root_entry(card, *w, root, i);
            FUZZ_CHECK(std::memcmp(w->archive, top, psu_field::length) == 0);
            FUZZ_CHECK(std::memcmp(w->archive + 8, top + 8, kPsuEntrySize - 8) == 0);
            FUZZ_CHECK(mode_is_directory(record_mode(top)) || record_length(w->archive) == record_length(top));
            FUZZ_CHECK(is_whole_tree(std::span<const uint8_t>(w->archive, built.size)));
        } else {
            FUZZ_CHECK(e == SplitError::unreadable_directory || e == SplitError::too_large ||
                       e == SplitError::directory_beyond_end || e == SplitError::directory_reused);
        }
        ListedEntry listed;
        list_root_entry(card, *w, root, i, &listed);
        FUZZ_CHECK(listed.index == i);
        FUZZ_CHECK(std::memchr(listed.name, '\0', sizeof listed.name) != nullptr);
        FUZZ_CHECK(std::memchr(listed.title, '\0', sizeof listed.title) != nullptr);
    }
    BuiltArchive none;
    FUZZ_CHECK(build_entry_archive(card, root, root.count, ProblemSink{}, w, &none) == SplitError::no_such_entry);
    return 0;
}
