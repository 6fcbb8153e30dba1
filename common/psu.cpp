/* psu.cpp -- PSU entry records, the record reader and the depth-first archive walk, the writer */
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
    namespace f = psu_field;
    PsuEntry e;
    e.mode = load_u16le(r + f::mode);
    e.reserved_02 = load_u16le(r + f::reserved_02);
    e.length = load_u32le(r + f::length);
    std::memcpy(e.created.data(), r + f::created, e.created.size());
    e.cluster = load_u32le(r + f::cluster);
    e.dir_entry = load_u32le(r + f::dir_entry);
    std::memcpy(e.modified.data(), r + f::modified, e.modified.size());
    e.attr = load_u32le(r + f::attr);
    std::memcpy(e.reserved_24.data(), r + f::reserved_24, e.reserved_24.size());
    std::memcpy(e.name.data(), r + f::name, e.name.size());
    std::memcpy(e.reserved_60.data(), r + f::reserved_60, e.reserved_60.size());
    return e;
}

void encode_psu_entry(const PsuEntry& e, uint8_t* r)
{
    namespace f = psu_field;
    store_u16le(r + f::mode, e.mode);
    store_u16le(r + f::reserved_02, e.reserved_02);
    store_u32le(r + f::length, e.length);
    std::memcpy(r + f::created, e.created.data(), e.created.size());
    store_u32le(r + f::cluster, e.cluster);
    store_u32le(r + f::dir_entry, e.dir_entry);
    std::memcpy(r + f::modified, e.modified.data(), e.modified.size());
    store_u32le(r + f::attr, e.attr);
    std::memcpy(r + f::reserved_24, e.reserved_24.data(), e.reserved_24.size());
    std::memcpy(r + f::name, e.name.data(), e.name.size());
    std::memcpy(r + f::reserved_60, e.reserved_60.data(), e.reserved_60.size());
}

std::string_view psu_record_name(const uint8_t* record) { return text_field(record + psu_field::name, kPsuNameSize); }

std::string_view psu_entry_name(const PsuEntry& entry) { return text_field(entry.name.data(), kPsuNameSize); }

bool set_psu_entry_name(PsuEntry* entry, std::string_view name)
{
    if (name.size() > kPsuNameSize) return false;
    entry->name.fill(0);
    std::memcpy(entry->name.data(), name.data(), name.size());
    return true;
}

static PsuEntry make_new_entry(uint16_t mode, std::string_view name, uint32_t length)
{
    PsuEntry e;
    e.mode = mode;
    e.length = length;
    (void)set_psu_entry_name(&e, name.substr(0, kPsuNameSize));
    return e;
}

PsuEntry make_directory_entry(std::string_view name, uint32_t length)
{
    return make_new_entry(kModeNewDirectory, name, length);
}

PsuEntry make_file_entry(std::string_view name, uint32_t length) { return make_new_entry(kModeNewFile, name, length); }

/* ---- the record reader ---- */

bool PsuRecordReader::take_kind(uint16_t mode, PsuRecordKind* kind)
{
    const bool file = mode_is_file(mode), directory = mode_is_directory(mode);
    switch (policy_.kinds) {
    case PsuKindRule::exact:
        if (file == directory) return halt(PsuReadStop::bad_kind);
        *kind = directory ? PsuRecordKind::directory : PsuRecordKind::file;
        return true;
    case PsuKindRule::directory_first:
        if (!file && !directory) return halt(PsuReadStop::neither_kind);
        *kind = directory ? PsuRecordKind::directory : PsuRecordKind::file;
        return true;
    case PsuKindRule::file_bit:
        *kind = file ? PsuRecordKind::file : PsuRecordKind::bare;
        return true;
    case PsuKindRule::unless_directory:
        *kind = directory ? PsuRecordKind::directory : PsuRecordKind::file;
        return true;
    }
    return halt(PsuReadStop::bad_kind);
}

bool PsuRecordReader::next(PsuRecord* r)
{
    if (stop_ != PsuReadStop::reading) return false;
    const bool nested = policy_.nested;
    if (nested ? started_ && members_left_.empty() : cur_.remaining() == 0) return halt(PsuReadStop::end);
    if (!cur_.can_take(kPsuEntrySize)) return halt(PsuReadStop::cut_entry);

    *r = PsuRecord{};
    r->offset = cur_.position();
    std::span<const uint8_t> entry;
    ByteCursor probe = cur_; /* a record of neither kind is not taken */
    (void)probe.take(kPsuEntrySize, &entry);
    r->entry = entry.data();
    r->mode = record_mode(r->entry);
    r->length = record_length(r->entry);
    r->depth = uint32_t(members_left_.size());
    if (!take_kind(r->mode, &r->kind)) return false;
    cur_ = probe;

    uint32_t members = 0;
    if (r->kind == PsuRecordKind::directory && nested) {
        if (policy_.strict_counts && r->length < 2) return halt(PsuReadStop::bad_directory_length);
        if (!cur_.skip(2 * kPsuEntrySize)) return halt(PsuReadStop::cut_links); /* "." and ".." */
        members = r->length > 2 ? r->length - 2 : 0;
        if (policy_.strict_counts && !cur_.can_take(uint64_t(members) * kPsuEntrySize))
            return halt(PsuReadStop::cut_entry);
    } else if (r->kind == PsuRecordKind::file) {
        r->data_cut = !cur_.can_take(r->length);
        if (r->data_cut && !policy_.keep_cut_data) return halt(PsuReadStop::cut_data);
        (void)cur_.take(r->data_cut ? cur_.remaining() : r->length, &r->data);
        cur_.skip_at_most(psu_padded_size(r->length) - r->length);
    }

    if (nested) {
        if (started_) --members_left_.back(); /* the record is a member of the innermost open directory */
        started_ = true;
        if (r->kind == PsuRecordKind::directory) members_left_.push_back(members);
        while (!members_left_.empty() && members_left_.back() == 0) members_left_.pop_back();
    }
    return true;
}

/* ---- the depth-first shape ---- */

/* The strict reading: exactly what a well-formed archive holds. */
constexpr PsuReadPolicy kStrictReading{true, PsuKindRule::exact, true, false};

PsuError walk_psu_archive(std::span<const uint8_t> archive, std::vector<PsuNode>* nodes, size_t* end)
{
    *end = 0;
    if (archive.empty()) return PsuError::empty;

    PsuRecordReader reader(archive, kStrictReading);
    PsuRecord r;
    while (reader.next(&r)) {
        PsuNode node;
        node.offset = r.offset;
        node.depth = r.depth;
        if (r.kind == PsuRecordKind::directory) {
            node.kind = PsuNodeKind::directory;
            nodes->push_back(node);
            for (size_t i = 1; i <= 2; ++i) { /* "." and "..": bare entries */
                PsuNode link;
                link.offset = r.offset + i * kPsuEntrySize;
                link.kind = PsuNodeKind::link;
                link.depth = r.depth + 1;
                nodes->push_back(link);
            }
        } else {
            node.kind = PsuNodeKind::file;
            node.data_offset = r.offset + kPsuEntrySize;
            node.data_length = r.length;
            nodes->push_back(node);
        }
    }
    switch (reader.stop()) {
    case PsuReadStop::end:
        *end = reader.position();
        return reader.remaining() ? PsuError::trailing_bytes : PsuError::ok;
    case PsuReadStop::cut_data: return PsuError::truncated_data;
    case PsuReadStop::bad_directory_length: return PsuError::bad_directory_length;
    case PsuReadStop::bad_kind:
    case PsuReadStop::neither_kind: return PsuError::bad_kind;
    case PsuReadStop::reading:
    case PsuReadStop::cut_entry:
    case PsuReadStop::cut_links: break;
    }
    return PsuError::truncated_entry;
}

/* ---- writing ---- */

bool PsuWriter::add_entry(const PsuEntry& entry)
{
    if (!out_.can_put(kPsuEntrySize)) return false;
    uint8_t record[kPsuEntrySize];
    encode_psu_entry(entry, record);
    return out_.put(record, kPsuEntrySize);
}

bool PsuWriter::add_file(PsuEntry entry, std::span<const uint8_t> data)
{
    if (data.size() > UINT32_MAX) return false;
    const uint64_t padded = psu_padded_size(data.size());
    if (!out_.can_put(kPsuEntrySize + padded)) return false;
    entry.length = uint32_t(data.size());
    uint8_t record[kPsuEntrySize];
    encode_psu_entry(entry, record);
    return out_.put(record, kPsuEntrySize) && out_.put(data.data(), data.size()) &&
           out_.put_zeros(padded - data.size());
}

} // namespace ps2
