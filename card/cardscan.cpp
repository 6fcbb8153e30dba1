/* cardscan.cpp -- the live tree walked depth first over one seen-set, owners recorded, the FAT counted */
#include "card/cardscan.h"

#include "common/psu.h"

namespace ps2 {

bool ScanCounts::clean() const
{
    for (uint32_t n : findings)
        if (n) return false;
    return lost == 0;
}

std::string CardScan::path_of(uint32_t node) const
{
    if (node == 0 || node >= nodes.size()) return "the root directory";
    std::vector<uint32_t> up;
    /* Each parent was added before its members, so the walk up ends at the root. */
    for (uint32_t n = node; n != 0; n = nodes[n].parent) up.push_back(n);
    std::string path;
    for (size_t k = up.size(); k-- > 0;) {
        if (!path.empty()) path += '/';
        path += psu_record_name(nodes[up[k]].record);
    }
    return path;
}

namespace {

class Scanner {
public:
    Scanner(const CardView& card, CardScan* out) : card_(card), s_(out) {}

    void run()
    {
        const uint32_t alloc = card_.alloc_clusters();
        s_->owner.assign(alloc, 0);
        s_->owned_words.assign(ClusterSet::words_for(alloc), 0);
        s_->owned = ClusterSet(s_->owned_words.data(), alloc);
        const uint32_t root = card_.geometry->root_cluster;
        s_->nodes.push_back({0, card_.cluster(root)});
        ++s_->counts.directories;
        std::vector<uint32_t> pending{0}; /* directories whose entries are to be read, in the order met */
        std::vector<uint32_t> chain;
        for (size_t next = 0; next < pending.size(); ++next) {
            const uint32_t dir = pending[next];
            const uint8_t* rec = s_->nodes[dir].record;
            const uint32_t count = record_length(rec);
            walk(dir, dir == 0 ? root : record_cluster(rec), (uint64_t(count) + 1) / 2, &chain);
            const uint64_t readable = uint64_t(chain.size()) * 2 < count ? uint64_t(chain.size()) * 2 : count;
            for (uint32_t j = 2; j < readable; ++j) {
                const uint8_t* m = card_.cluster(chain[j / 2]) + kPsuEntrySize * (j % 2);
                const uint16_t mode = record_mode(m);
                if (!mode_exists(mode)) {
                    if (dir != 0) ++s_->counts.deleted_members;
                    continue;
                }
                const bool is_dir = mode_is_directory(mode);
                if (!is_dir && !mode_is_file(mode)) continue;
                const uint32_t node = uint32_t(s_->nodes.size());
                s_->nodes.push_back({dir, m});
                if (is_dir) {
                    ++s_->counts.directories;
                    if (record_length(m) != 0) pending.push_back(node);
                } else {
                    ++s_->counts.files;
                    if (record_length(m) != 0)
                        walk(node, record_cluster(m), round_up_1024(record_length(m)) / kClusterSize, &file_chain_);
                }
            }
        }
        count_fat();
    }

private:
    void find(ScanFindingKind kind, uint32_t node, uint32_t cluster, uint32_t other = 0, uint64_t wanted = 0,
              uint64_t found = 0)
    {
        s_->findings.push_back({kind, node, other, cluster, wanted, found});
        ++s_->counts.findings[size_t(kind)];
    }

    /* Walks a chain to its end, recording node as the owner of each cluster. */
    void walk(uint32_t node, uint32_t first, uint64_t wanted, std::vector<uint32_t>* chain)
    {
        chain->clear();
        ChainCursor cursor(card_, first, &s_->owned);
        for (uint32_t c = 0; cursor.next(&c);) {
            s_->owner[c] = node + 1;
            chain->push_back(c);
        }
        const uint32_t at = cursor.pending();
        switch (cursor.stop()) {
        case ChainStop::ended: {
            const uint32_t last = chain->back();
            if (card_.fat_entry(last) != kFatEnd) find(ScanFindingKind::marked_free, node, last);
            if (chain->size() != wanted) find(ScanFindingKind::length_mismatch, node, last, 0, wanted, chain->size());
            break;
        }
        case ChainStop::repeated:
            if (s_->owner[at] == node + 1)
                find(ScanFindingKind::loop, node, at);
            else
                find(ScanFindingKind::cross_link, node, at, s_->owner[at] - 1);
            break;
        case ChainStop::out_of_range: find(ScanFindingKind::leaves_area, node, at); break;
        case ChainStop::beyond_end: find(ScanFindingKind::beyond_end, node, at); break;
        case ChainStop::reused: break; /* not asked for */
        }
    }

    void count_fat()
    {
        ScanCounts& n = s_->counts;
        for (uint32_t c = 0; c < card_.alloc_clusters(); ++c) {
            const bool in_use = (card_.fat_entry(c) & kFatInUse) != 0;
            const bool owned = s_->owner[c] != 0;
            n.in_use += in_use;
            n.free += !in_use;
            n.owned += owned;
            if (in_use && !owned) {
                if (n.lost == 0) s_->first_lost = c;
                ++n.lost;
            }
        }
    }

    const CardView& card_;
    CardScan* s_;
    std::vector<uint32_t> file_chain_;
};

} // namespace

void scan_card(const CardView& card, CardScan* out)
{
    *out = CardScan{};
    Scanner(card, out).run();
}

} // namespace ps2
