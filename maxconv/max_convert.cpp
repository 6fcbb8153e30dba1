/* max_convert.cpp -- MAX archive to PSU archive and back, in two work buffers */
#include "maxconv/max_convert.h"

#include <cstdint>
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

/* Whether two spans share a byte. */
bool overlaps(std::span<const uint8_t> a, std::span<const uint8_t> b)
{
    const uintptr_t x = reinterpret_cast<uintptr_t>(a.data()), y = reinterpret_cast<uintptr_t>(b.data());
    return x < y + b.size() && y < x + a.size();
}

/* The refusals of a PSU archive before its members: not a PSU archive, larger than 8 MiB, shorter than
 * its three entries, no room for a header (room_for_header false), a top length below 2. */
MaxError check_psu_top(std::span<const uint8_t> psu, bool room_for_header)
{
    if (detect_save_kind(psu) != SaveKind::psu_archive) return MaxError::not_psu;
    if (psu.size() > kWorkBufferSize) return MaxError::psu_too_large_input;
    if (psu.size() < kPsuFirstMember) return MaxError::psu_too_short;
    if (!room_for_header) return MaxError::no_room;
    if (record_length(psu.data()) < 2) return MaxError::bad_entry_count;
    return MaxError::ok;
}

/* The members of a PSU archive that check_psu_top passed, in order, as a MAX payload takes them:
 * take(name, data) for each, stopping at the first refusal it returns. */
template <class Take>
MaxError walk_psu_members(std::span<const uint8_t> psu, Take&& take)
{
    const uint32_t length = record_length(psu.data());
    PsuRecordReader members(psu, kVarkonReading, kPsuFirstMember);
    /* Every member takes at least 512 bytes of the file, so the loop ends
     * with the file whatever the top entry claims. */
    for (uint32_t i = 0; i < length - 2; ++i) {
        PsuRecord m;
        if (!members.next(&m)) return MaxError::member_past_end;
        if (m.kind == PsuRecordKind::directory) return MaxError::member_is_folder;
        if (const MaxError e = take(psu_record_name(m.entry), m.data); e != MaxError::ok) return e;
    }
    return MaxError::ok;
}

/* The MAX payload of a PSU archive whose members walk_psu_members has taken, made as the encoder reads
 * it: per member the record head, the member's bytes from the archive, the zeros up to the next record.
 * No copy of the payload is made. */
class PayloadSource {
public:
    explicit PayloadSource(std::span<const uint8_t> psu) : members_(psu, kVarkonReading, kPsuFirstMember) {}

    static void read(void* context, uint8_t* dst, size_t n) { static_cast<PayloadSource*>(context)->take(dst, n); }

private:
    static constexpr uint8_t kZeros[16] = {};

    void take(uint8_t* dst, size_t n)
    {
        while (n > 0) {
            if (piece_ == 3 && !next_member()) {
                std::memset(dst, 0, n); /* past the members: not asked for, the size being theirs */
                return;
            }
            std::span<const uint8_t>& p = pieces_[piece_];
            const size_t k = n < p.size() ? n : p.size();
            if (k) std::memcpy(dst, p.data(), k);
            dst += k;
            n -= k;
            p = p.subspan(k);
            if (p.empty()) ++piece_;
        }
    }

    bool next_member()
    {
        PsuRecord m;
        if (!members_.next(&m)) return false;
        put_max_record_head(head_, psu_record_name(m.entry), uint32_t(m.data.size()));
        const uint64_t end = max_next_record_offset(offset_, m.data.size());
        pieces_[0] = std::span<const uint8_t>(head_);
        pieces_[1] = m.data;
        pieces_[2] = std::span<const uint8_t>(kZeros, size_t(end - offset_ - kMaxRecordHead - m.data.size()));
        offset_ = end;
        piece_ = 0;
        return true;
    }

    PsuRecordReader members_;
    uint8_t head_[kMaxRecordHead] = {};
    std::span<const uint8_t> pieces_[3];
    uint32_t piece_ = 3; /* the piece being read; 3: the next member's turn */
    uint64_t offset_ = 0; /* in the payload, of the next record */
};

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
    if (const MaxError e = check_psu_top(psu, build.size() >= kMaxHeaderSize); e != MaxError::ok) return e;
    MaxPayloadWriter writer(build, psu_record_name(psu.data()));
    const MaxError e = walk_psu_members(psu, [&](std::string_view name, std::span<const uint8_t> data) {
        return writer.add_member(name, data);
    });
    if (e != MaxError::ok) return e;
    info->file_count = writer.file_count();
    info->unpacked_size = writer.unpacked_size();
    return MaxError::ok;
}

MaxError convert_psu_to_max(std::span<const uint8_t> file, std::span<uint8_t> build, std::span<uint8_t> out,
                            size_t* out_size)
{
    *out_size = 0;
    /* Over the file itself the payload is built in build first: the stream written could overtake the
     * members still to be read. Elsewhere the encoder takes the payload straight from the members, and
     * build is not written. */
    const bool in_place = overlaps(file, out);
    MaxPayloadInfo p;
    if (in_place) {
        if (const MaxError e = build_max_payload(file, build, &p); e != MaxError::ok) return e;
    } else {
        const size_t build_room = build.size() < kMaxHeaderSize ? 0 : build.size() - kMaxHeaderSize;
        const uint64_t limit = build_room < kMaxPayloadLimit ? build_room : kMaxPayloadLimit;
        if (const MaxError e = check_psu_top(file, build.size() >= kMaxHeaderSize); e != MaxError::ok) return e;
        uint64_t next = 0;
        const MaxError e = walk_psu_members(file, [&](std::string_view, std::span<const uint8_t> data) {
            const uint64_t end = max_next_record_offset(next, data.size());
            if (end > limit) return MaxError::members_too_large;
            next = end;
            ++p.file_count;
            return MaxError::ok;
        });
        if (e != MaxError::ok) return e;
        p.unpacked_size = uint32_t(next);
    }
    if (out.size() < kMaxHeaderSize) return MaxError::no_room;

    const size_t room = out.size() - kMaxHeaderSize;
    const std::span<uint8_t> stream = out.subspan(kMaxHeaderSize, room < kMaxPayloadLimit ? room : kMaxPayloadLimit);
    size_t stored = 0;
    LzariError coded;
    if (in_place) {
        /* From here on only build is read: out may overwrite the file. */
        std::memcpy(out.data(), build.data(), kMaxHeaderSize);
        coded = lzari_encode(build.subspan(kMaxHeaderSize, p.unpacked_size), stream, &stored);
    } else {
        start_max_header(out.data(), psu_record_name(file.data()));
        PayloadSource source(file);
        coded = lzari_encode(LzariSource{p.unpacked_size, &source, &PayloadSource::read}, stream, &stored);
    }
    switch (coded) {
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
