/* psu.cpp -- PSU entry records and the depth-first archive walk */
#include "common/psu.h"

#include <cstring>

namespace ps2 {

const char* psu_error_text(PsuError e)
{
    static const char* const texts[] = {PSU_ERROR_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(e));
}

PsuEntry decode_psu_entry(const uint8_t* r)
{
    PsuEntry e;
    e.mode = load_u16le(r + 0x000);
    e.reserved_02 = load_u16le(r + 0x002);
    e.length = load_u32le(r + 0x004);
    std::memcpy(e.created.data(), r + 0x008, 8);
    e.cluster = load_u32le(r + 0x010);
    e.dir_entry = load_u32le(r + 0x014);
    std::memcpy(e.modified.data(), r + 0x018, 8);
    e.attr = load_u32le(r + 0x020);
    std::memcpy(e.reserved_24.data(), r + 0x024, e.reserved_24.size());
    std::memcpy(e.name.data(), r + 0x040, e.name.size());
    std::memcpy(e.reserved_60.data(), r + 0x060, e.reserved_60.size());
    return e;
}

void encode_psu_entry(const PsuEntry& e, uint8_t* r)
{
    store_u16le(r + 0x000, e.mode);
    store_u16le(r + 0x002, e.reserved_02);
    store_u32le(r + 0x004, e.length);
    std::memcpy(r + 0x008, e.created.data(), 8);
    store_u32le(r + 0x010, e.cluster);
    store_u32le(r + 0x014, e.dir_entry);
    std::memcpy(r + 0x018, e.modified.data(), 8);
    store_u32le(r + 0x020, e.attr);
    std::memcpy(r + 0x024, e.reserved_24.data(), e.reserved_24.size());
    std::memcpy(r + 0x040, e.name.data(), e.name.size());
    std::memcpy(r + 0x060, e.reserved_60.data(), e.reserved_60.size());
}

std::string_view psu_record_name(const uint8_t* record)
{
    const char* name = reinterpret_cast<const char*>(record + psu_field::name);
    const void* nul = std::memchr(name, 0, kPsuNameSize);
    return std::string_view(name, nul ? size_t(static_cast<const char*>(nul) - name) : kPsuNameSize);
}

std::string_view psu_entry_name(const PsuEntry& entry)
{
    const char* name = reinterpret_cast<const char*>(entry.name.data());
    const void* nul = std::memchr(name, 0, kPsuNameSize);
    return std::string_view(name, nul ? size_t(static_cast<const char*>(nul) - name) : kPsuNameSize);
}

bool set_psu_entry_name(PsuEntry* entry, std::string_view name)
{
    if (name.size() > kPsuNameSize) return false;
    entry->name.fill(0);
    std::memcpy(entry->name.data(), name.data(), name.size());
    return true;
}

PsuEntry make_directory_entry(std::string_view name, uint32_t length)
{
    PsuEntry e;
    e.mode = kModeNewDirectory;
    e.length = length;
    (void)set_psu_entry_name(&e, name.substr(0, kPsuNameSize));
    return e;
}

PsuEntry make_file_entry(std::string_view name, uint32_t length)
{
    PsuEntry e;
    e.mode = kModeNewFile;
    e.length = length;
    (void)set_psu_entry_name(&e, name.substr(0, kPsuNameSize));
    return e;
}

PsuError walk_psu_archive(std::span<const uint8_t> archive, std::vector<PsuNode>* nodes, size_t* end)
{
    *end = 0;
    if (archive.empty()) return PsuError::empty;

    /* Members still to read, per open directory. Every member takes at least
     * 512 bytes, so the counts are checked against the bytes left and the
     * stack can never grow past size / 1536 levels. */
    std::vector<uint32_t> pending;
    ByteCursor cur(archive);
    uint32_t depth = 0;

    for (;;) {
        std::span<const uint8_t> rec;
        if (!cur.take(kPsuEntrySize, &rec)) return PsuError::truncated_entry;
        PsuNode node;
        node.offset = cur.position() - kPsuEntrySize;
        node.depth = depth;
        const uint16_t mode = record_mode(rec.data());
        if (!mode_is_well_formed(mode)) return PsuError::bad_kind;
        const uint32_t length = record_length(rec.data());

        if (mode_is_directory(mode)) {
            if (length < 2) return PsuError::bad_directory_length;
            node.kind = PsuNodeKind::directory;
            nodes->push_back(node);
            for (int i = 0; i < 2; ++i) { /* "." and "..": bare entries */
                std::span<const uint8_t> link;
                if (!cur.take(kPsuEntrySize, &link)) return PsuError::truncated_entry;
                PsuNode l;
                l.offset = cur.position() - kPsuEntrySize;
                l.kind = PsuNodeKind::link;
                l.depth = depth + 1;
                nodes->push_back(l);
            }
            const uint32_t members = length - 2;
            if (uint64_t(members) * kPsuEntrySize > cur.remaining()) return PsuError::truncated_entry;
            pending.push_back(members);
            ++depth;
        } else {
            node.kind = PsuNodeKind::file;
            node.data_offset = cur.position();
            node.data_length = length;
            if (!cur.can_take(length)) return PsuError::truncated_data;
            const uint64_t padded = psu_padded_size(length);
            /* The padding of the last file may be missing in archives cut at their data's end. */
            if (!cur.skip(padded <= cur.remaining() ? padded : cur.remaining())) return PsuError::truncated_data;
            nodes->push_back(node);
        }

        /* Close every directory whose members are all read. */
        while (!pending.empty() && pending.back() == 0) {
            pending.pop_back();
            --depth;
        }
        if (pending.empty()) break;
        --pending.back();
    }
    *end = cur.position();
    return cur.remaining() ? PsuError::trailing_bytes : PsuError::ok;
}

bool PsuWriter::add_entry(const PsuEntry& entry)
{
    if (kPsuEntrySize > out_.size() - pos_) return false;
    encode_psu_entry(entry, out_.data() + pos_);
    pos_ += kPsuEntrySize;
    return true;
}

bool PsuWriter::add_file(PsuEntry entry, std::span<const uint8_t> data)
{
    if (data.size() > UINT32_MAX) return false;
    const uint64_t padded = psu_padded_size(data.size());
    if (kPsuEntrySize + padded > out_.size() - pos_) return false;
    entry.length = uint32_t(data.size());
    encode_psu_entry(entry, out_.data() + pos_);
    pos_ += kPsuEntrySize;
    if (!data.empty()) std::memcpy(out_.data() + pos_, data.data(), data.size());
    std::memset(out_.data() + pos_ + data.size(), 0, size_t(padded - data.size()));
    pos_ += size_t(padded);
    return true;
}

} // namespace ps2
