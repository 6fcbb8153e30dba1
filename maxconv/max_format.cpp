/* max_format.cpp -- MAX archive headers, member records and the check value */
#include "maxconv/max_format.h"

#include <cstring>

#include "maxconv/crc32.h"

namespace ps2 {

const char* max_error_text(MaxError e)
{
    static const char* const texts[] = {MAX_ERROR_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(e));
}

namespace {

/* Writes a name into a zero-filled field of the given width (name cut to 32 bytes). */
void put_name(uint8_t* field, size_t width, std::string_view name)
{
    const size_t n = name.size() < kMaxNameSize ? name.size() : kMaxNameSize;
    std::memset(field, 0, width);
    std::memcpy(field, name.data(), n);
}

} // namespace

bool is_max_archive(std::span<const uint8_t> file)
{
    return file.size() >= kMaxMagic.size() && std::memcmp(file.data(), kMaxMagic.data(), kMaxMagic.size()) == 0;
}

MaxHeader read_max_header(const uint8_t* header)
{
    MaxHeader h;
    h.crc = load_u32le(header + max_field::crc);
    h.dir_name = text_field(header + max_field::dir_name, kMaxNameSize);
    h.packed_size = load_u32le(header + max_field::packed_size);
    h.file_count = load_u32le(header + max_field::file_count);
    h.unpacked_size = load_u32le(header + max_field::unpacked_size);
    return h;
}

uint32_t compute_max_crc(std::span<const uint8_t> file)
{
    static constexpr uint8_t zero[4] = {0, 0, 0, 0};
    if (file.size() < max_field::crc + 4) return crc32(file);
    uint32_t c = crc32(file.first(max_field::crc));
    c = crc32_update(c, zero);
    return crc32_update(c, file.subspan(max_field::crc + 4));
}

MaxError check_max_header(std::span<const uint8_t> file, MaxHeader* header)
{
    if (!is_max_archive(file)) return MaxError::not_max;
    if (file.size() < kMaxHeaderSize) return MaxError::max_too_short;
    if (file.size() > kMaxArchiveLimit) return MaxError::max_too_large;
    *header = read_max_header(file.data());
    if (header->packed_size < 4 || header->packed_size - 4 > file.size() - kMaxHeaderSize)
        return MaxError::stream_past_end;
    if (header->unpacked_size > kMaxPayloadLimit) return MaxError::payload_too_large;
    return MaxError::ok;
}

std::span<const uint8_t> max_stream(std::span<const uint8_t> file, const MaxHeader& header)
{
    return file.subspan(kMaxHeaderSize, header.packed_size - 4);
}

MaxError read_max_record(std::span<const uint8_t> payload, uint64_t* offset, MaxMember* member)
{
    if (*offset > payload.size()) return MaxError::record_past_end;
    ByteCursor cur(payload, size_t(*offset));
    std::span<const uint8_t> head, data;
    if (!cur.take(kMaxRecordHead, &head)) return MaxError::record_past_end;
    const uint32_t size = load_u32le(head.data());
    if (!cur.take(size, &data)) return MaxError::record_past_end;
    member->name = text_field(head.data() + 4, kMaxNameSize);
    member->data = data;
    *offset = max_next_record_offset(*offset, size);
    return MaxError::ok;
}

void start_max_header(uint8_t* h, std::string_view dir_name)
{
    std::memset(h, 0, kMaxHeaderSize);
    std::memcpy(h + max_field::magic, kMaxMagic.data(), kMaxMagic.size());
    put_name(h + max_field::dir_name, kMaxDirNameField, dir_name);
}

void put_max_record_head(uint8_t* rec, std::string_view name, uint32_t size)
{
    store_u32le(rec, size);
    put_name(rec + 4, kMaxNameSize, name);
}

MaxPayloadWriter::MaxPayloadWriter(std::span<uint8_t> build, std::string_view dir_name)
{
    start_max_header(build.data(), dir_name);
    const size_t room = build.size() - kMaxHeaderSize;
    payload_ = build.subspan(kMaxHeaderSize, room < kMaxPayloadLimit ? room : kMaxPayloadLimit);
}

MaxError MaxPayloadWriter::add_member(std::string_view name, std::span<const uint8_t> data)
{
    const uint64_t end = max_next_record_offset(next_, data.size());
    if (end > payload_.size()) return MaxError::members_too_large;
    uint8_t* rec = payload_.data() + next_;
    put_max_record_head(rec, name, uint32_t(data.size()));
    if (!data.empty()) std::memcpy(rec + kMaxRecordHead, data.data(), data.size());
    const size_t used = kMaxRecordHead + data.size();
    std::memset(rec + used, 0, size_t(end - next_) - used);
    next_ = end;
    ++file_count_;
    return MaxError::ok;
}

size_t seal_max_archive(std::span<uint8_t> archive, size_t stream_size, uint32_t file_count, uint32_t unpacked_size)
{
    uint8_t* h = archive.data();
    store_u32le(h + max_field::packed_size, uint32_t(stream_size + 4));
    store_u32le(h + max_field::file_count, file_count);
    store_u32le(h + max_field::unpacked_size, unpacked_size);
    store_u32le(h + max_field::crc, 0);
    const size_t total = kMaxHeaderSize + stream_size;
    store_u32le(h + max_field::crc, crc32(archive.first(total)));
    return total;
}

} // namespace ps2
