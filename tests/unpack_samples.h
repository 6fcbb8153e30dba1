/* unpack_samples.h -- saves made for QUILBAN's tests: archives from a tree of members, and the bytes a rebuild keeps */
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/psu.h"
#include "tests/test_support.h"

namespace ps2::test {

/* Data whose bytes tell their position, so that shifted data shows. */
inline Bytes pattern(size_t n, uint8_t seed = 1)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 7 + (i >> 8));
    return b;
}

/* One node of a save: a file with data, or a directory with members. */
struct Node {
    std::string name;
    Bytes data;
    std::vector<Node> members;
    bool directory = false;
    /* Fields the manifest carries, as they stand in the archive. */
    uint16_t mode = 0; /* 0: the default of its kind (0x8497 files, 0x8427 directories) */
    uint32_t cluster = 0;
    uint32_t dir_entry = 0;
    uint32_t attr = 0;
    uint8_t stamp = 0; /* created and modified bytes derive from it */
};

inline Node file(std::string name, Bytes data) { return Node{std::move(name), std::move(data), {}, false}; }
inline Node dir(std::string name, std::vector<Node> members)
{
    Node n;
    n.name = std::move(name);
    n.members = std::move(members);
    n.directory = true;
    return n;
}

inline PsuEntry entry_of(const Node& n, uint32_t length)
{
    PsuEntry e = n.directory ? make_directory_entry(n.name, length) : make_file_entry(n.name, length);
    if (n.mode) e.mode = n.mode;
    else if (!n.directory) e.mode = 0x8497;
    e.cluster = n.cluster;
    e.dir_entry = n.dir_entry;
    e.attr = n.attr;
    for (int i = 0; i < 8; ++i) {
        e.created[size_t(i)] = uint8_t(n.stamp + i);
        e.modified[size_t(i)] = uint8_t(n.stamp * 3 + i);
    }
    return e;
}

inline void add_node(PsuWriter* w, const Node& n)
{
    if (!n.directory) {
        if (!w->add_file(entry_of(n, uint32_t(n.data.size())), n.data)) std::abort();
        return;
    }
    if (!w->add_entry(entry_of(n, uint32_t(n.members.size() + 2)))) std::abort();
    Node dot = dir(".", {}), dotdot = dir("..", {});
    if (!w->add_entry(entry_of(dot, 0)) || !w->add_entry(entry_of(dotdot, 0))) std::abort();
    for (const Node& m : n.members) add_node(w, m);
}

inline Bytes make_archive(const Node& top)
{
    Bytes out(16u << 20);
    PsuWriter w(out);
    add_node(&w, top);
    out.resize(w.size());
    return out;
}

/* The archive as a rebuild from its untouched manifest gives it back: every
 * byte the manifest does not carry zero, and length (of directories),
 * cluster and dir_entry of 2^31 or more read back as 0. */
inline Bytes carried_only(std::span<const uint8_t> archive)
{
    Bytes out(archive.size(), 0);
    size_t pos = 0;
    while (archive.size() - pos >= kPsuEntrySize) {
        const uint8_t* r = archive.data() + pos;
        uint8_t* o = out.data() + pos;
        std::memcpy(o, r, 2);
        const uint32_t length = record_length(r);
        const bool is_file = mode_is_file(record_mode(r));
        store_u32le(o + 4, (!is_file && length >= 0x80000000u) ? 0 : length);
        std::memcpy(o + 8, r + 8, 8);
        const uint32_t cluster = record_cluster(r), dir_entry = record_dir_entry(r);
        store_u32le(o + 0x10, cluster >= 0x80000000u ? 0 : cluster);
        store_u32le(o + 0x14, dir_entry >= 0x80000000u ? 0 : dir_entry);
        std::memcpy(o + 0x18, r + 0x18, 12);
        const std::string_view name = psu_record_name(r);
        std::memcpy(o + 0x40, name.data(), name.size());
        pos += kPsuEntrySize;
        if (is_file) {
            const size_t n = length <= archive.size() - pos ? length : archive.size() - pos;
            std::memcpy(o + kPsuEntrySize, r + kPsuEntrySize, n);
            const uint64_t padded = psu_padded_size(length);
            pos += padded <= archive.size() - pos ? size_t(padded) : archive.size() - pos;
        }
    }
    return out;
}

} // namespace ps2::test
