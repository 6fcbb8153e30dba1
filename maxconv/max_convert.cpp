/* max_convert.cpp -- MAX archive to PSU archive and back, in two work buffers */
#include "maxconv/max_convert.h"

#include <cstring>

#include "common/psu.h"
#include "common/save_kind.h"
#include "maxconv/lzari.h"

namespace ps2 {

namespace {

/* VARKON's reading of a flat save's members: one after the other, each as
 * a file node unless it has the directory bit; a member's data must lie
 * within the file (its padding may be missing). */
constexpr PsuReadPolicy kVarkonReading{false, PsuKindRule::unless_directory, false, false};

} // namespace

SaveKind save_kind_of(FileKind kind)
{
    switch (kind) {
    case FileKind::max: return SaveKind::max_archive;
    case FileKind::psu: return SaveKind::psu_archive;
    default: return SaveKind::neither;
    }
}

SaveKind detect_save_kind(std::span<const uint8_t> file) { return save_kind_of(recognise_file_kind(file, file.size())); }

MaxError convert_max_to_psu(std::span<const uint8_t> file, std::span<uint8_t> build, std::span<uint8_t> out,
                            size_t* out_size, MaxToPsuInfo* info)
{
    *out_size = 0;
    MaxHeader h;
    if (const MaxError e = check_max_header(file, &h); e != MaxError::ok) return e;
    if (build.size() < kMaxHeaderSize || h.unpacked_size > build.size() - kMaxHeaderSize) return MaxError::no_room;

    std::memcpy(build.data(), file.data(), kMaxHeaderSize);
    const std::span<const uint8_t> stream = max_stream(file, h);
    const std::span<uint8_t> payload = build.subspan(kMaxHeaderSize, h.unpacked_size);
    const size_t wanted = lzari_decode(stream, payload);
    if (info) {
        info->file_count = h.file_count;
        info->unpacked_size = h.unpacked_size;
        info->stream_size = stream.size();
        info->trailing_bytes = file.size() - kMaxHeaderSize - stream.size();
        info->stream_bytes_wanted = wanted;
    }
    /* From here on only build is read: out may overwrite the file. */
    h = read_max_header(build.data());

    /* Walk the records once to check them and size the output. */
    const uint64_t limit = out.size() < kWorkBufferSize ? out.size() : kWorkBufferSize;
    uint64_t size = kPsuFirstMember;
    uint64_t offset = 0;
    for (uint32_t i = 0; i < h.file_count; ++i) {
        MaxMember m;
        if (const MaxError e = read_max_record(payload, &offset, &m); e != MaxError::ok) return e;
        size += kPsuEntrySize + psu_padded_size(m.data.size());
        if (size > limit) return size > kWorkBufferSize ? MaxError::psu_too_large : MaxError::no_room;
    }
    if (size > limit) return MaxError::no_room;

    /* Entries made from nothing: every field but mode, length and name zero, and zero padding. */
    PsuWriter w(out.first(size_t(size)));
    bool ok = w.add_entry(make_directory_entry(h.dir_name, h.file_count + 2)) &&
              w.add_entry(make_directory_entry(".", 0)) && w.add_entry(make_directory_entry("..", 0));
    offset = 0;
    for (uint32_t i = 0; ok && i < h.file_count; ++i) {
        MaxMember m;
        (void)read_max_record(payload, &offset, &m); /* checked above */
        ok = w.add_file(make_file_entry(m.name, 0), m.data);
    }
    if (!ok) return MaxError::no_room; /* sized above: cannot happen */
    *out_size = w.size();
    return MaxError::ok;
}

MaxError build_max_payload(std::span<const uint8_t> psu, std::span<uint8_t> build, MaxPayloadInfo* info)
{
    *info = {};
    if (detect_save_kind(psu) != SaveKind::psu_archive) return MaxError::not_psu;
    if (psu.size() > kWorkBufferSize) return MaxError::psu_too_large_input;
    if (psu.size() < kPsuFirstMember) return MaxError::psu_too_short;
    if (build.size() < kMaxHeaderSize) return MaxError::no_room;
    const uint32_t length = record_length(psu.data());
    if (length < 2) return MaxError::bad_entry_count;

    MaxPayloadWriter writer(build, psu_record_name(psu.data()));
    PsuRecordReader members(psu, kVarkonReading, kPsuFirstMember);
    /* Every member takes at least 512 bytes of the file, so the loop ends
     * with the file whatever the top entry claims. */
    for (uint32_t i = 0; i < length - 2; ++i) {
        PsuRecord m;
        if (!members.next(&m)) return MaxError::member_past_end;
        if (m.kind == PsuRecordKind::directory) return MaxError::member_is_folder;
        if (const MaxError e = writer.add_member(psu_record_name(m.entry), m.data); e != MaxError::ok) return e;
    }
    info->file_count = writer.file_count();
    info->unpacked_size = writer.unpacked_size();
    return MaxError::ok;
}

MaxError convert_psu_to_max(std::span<const uint8_t> file, std::span<uint8_t> build, std::span<uint8_t> out,
                            size_t* out_size)
{
    *out_size = 0;
    MaxPayloadInfo p;
    if (const MaxError e = build_max_payload(file, build, &p); e != MaxError::ok) return e;
    if (out.size() < kMaxHeaderSize) return MaxError::no_room;

    /* From here on only build is read: out may overwrite the file. */
    std::memcpy(out.data(), build.data(), kMaxHeaderSize);
    const size_t room = out.size() - kMaxHeaderSize;
    const std::span<uint8_t> stream = out.subspan(kMaxHeaderSize, room < kMaxPayloadLimit ? room : kMaxPayloadLimit);
    size_t stored = 0;
    switch (lzari_encode(build.subspan(kMaxHeaderSize, p.unpacked_size), stream, &stored)) {
    case LzariError::ok:
        break;
    case LzariError::output_full:
        return stream.size() == kMaxPayloadLimit ? MaxError::stream_too_large : MaxError::no_room;
    case LzariError::input_too_large:
        return MaxError::save_too_large_to_pack;
    case LzariError::no_memory:
    case LzariError::open_failed:   /* shared codes the encoder never returns */
    case LzariError::target_exists:
        return MaxError::no_memory;
    }
    *out_size = seal_max_archive(out, stored, p.file_count, p.unpacked_size);
    return MaxError::ok;
}

} // namespace ps2
