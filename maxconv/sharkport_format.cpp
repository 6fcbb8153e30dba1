/* sharkport_format.cpp -- the SharkPort / X-Port save: counted header strings, descriptors and data, checksum */
#include <cstring>

#include "maxconv/foreign_save.h"

namespace ps2 {

namespace {

constexpr size_t kStringsAt = 0x15; /* behind the magic and a u32 that is 0 */

/* A descriptor, from its first byte. */
namespace sps_desc {
constexpr size_t size = 0;      /* u16: the descriptor's own size (250 from every writer seen) */
constexpr size_t name = 2;      /* 64 bytes */
constexpr size_t length = 66;   /* u32: directory: entries with "." and ".."; file: bytes */
constexpr size_t mode = 78;     /* u16 big-endian */
constexpr size_t created = 82;
constexpr size_t modified = 90;
constexpr size_t least = 98;    /* what is read of it */
constexpr size_t name_field = 64;
} // namespace sps_desc

uint16_t load_u16be(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

/* The checksum: h = h + (c << (h mod 24)) over the payload, modulo 2^32. */
uint32_t sharkport_checksum(std::span<const uint8_t> payload)
{
    uint32_t h = 0;
    for (const uint8_t c : payload) h += uint32_t(c) << (h % 24);
    return h;
}

/* Takes one descriptor: its stated size (at least 98), all of it there. */
ForeignError take_descriptor(ByteCursor* cur, std::span<const uint8_t>* desc)
{
    std::span<const uint8_t> size;
    if (!cur->take(2, &size)) return ForeignError::sps_descriptor_cut;
    const uint16_t n = load_u16le(size.data());
    if (n < sps_desc::least) return ForeignError::sps_bad_descriptor_size;
    if (!cur->can_take(n - 2)) return ForeignError::sps_descriptor_cut;
    (void)cur->take(n - 2, desc);
    *desc = std::span<const uint8_t>(size.data(), n); /* the bytes follow one another */
    return ForeignError::ok;
}

/* Where the payload lies: behind the two strings, a third field that is a u32 (0) or a counted string
 * (the file's length decides), and payload_size; the checksum last. */
ForeignError find_payload(std::span<const uint8_t> file, std::span<const uint8_t>* payload, bool* cut)
{
    ByteCursor cur(file, kStringsAt);
    for (int s = 0; s < 2; ++s) { /* the title, the comment */
        std::span<const uint8_t> len;
        if (!cur.take(4, &len) || !cur.skip(load_u32le(len.data()))) return ForeignError::sps_header_cut;
    }
    const size_t pos = cur.position();
    if (!cur.can_take(8)) return ForeignError::sps_header_cut;
    const uint64_t size = file.size();
    const uint64_t third = load_u32le(file.data() + pos);
    const uint64_t plain = load_u32le(file.data() + pos + 4); /* payload_size, the third field a u32 */
    *cut = false;
    if (pos + 8 + plain + 4 == size) {
        *payload = file.subspan(pos + 8, size_t(plain));
        return ForeignError::ok;
    }
    if (third > 0 && pos + 4 + third + 8 <= size) {
        const uint64_t at = pos + 4 + third; /* payload_size behind a string of that many bytes */
        const uint64_t counted = load_u32le(file.data() + at);
        if (at + 4 + counted + 4 == size) {
            *payload = file.subspan(size_t(at + 4), size_t(counted));
            return ForeignError::ok;
        }
    }
    if (third == 0 && pos + 8 + plain + 4 > size) { /* a cut download: the payload there is, no checksum */
        *payload = file.subspan(pos + 8);
        *cut = true;
        return ForeignError::ok;
    }
    return ForeignError::sps_size_mismatch;
}

ForeignFile read_descriptor(std::span<const uint8_t> d)
{
    ForeignFile f;
    f.name = text_field(d.data() + sps_desc::name, sps_desc::name_field);
    f.size = load_u32le(d.data() + sps_desc::length);
    f.mode = load_u16be(d.data() + sps_desc::mode);
    f.created = load_time(d.data() + sps_desc::created);
    f.modified = load_time(d.data() + sps_desc::modified);
    return f;
}

} // namespace

ForeignError read_sharkport_save(std::span<const uint8_t> file, std::span<ForeignFile> files, ForeignSave* save)
{
    begin_foreign_save(save, ForeignFormat::sharkport, files);
    std::span<const uint8_t> payload;
    bool cut = false;
    if (const ForeignError e = find_payload(file, &payload, &cut); e != ForeignError::ok) return e;
    if (cut) {
        save->damage = ForeignError::sps_cut;
    } else {
        save->has_checksum = true;
        save->checksum_stored = load_u32le(file.data() + file.size() - 4);
        save->checksum_computed = sharkport_checksum(payload);
        if (save->checksum_stored != save->checksum_computed) save->damage = ForeignError::sps_bad_checksum;
    }

    ByteCursor cur(payload);
    std::span<const uint8_t> d;
    if (const ForeignError e = take_descriptor(&cur, &d); e != ForeignError::ok) return e;
    const ForeignFile dir = read_descriptor(d);
    save->dir_mode = dir.mode;
    save->created = dir.created;
    save->modified = dir.modified;
    if (const ForeignError e = take_dir_name(save, dir.name); e != ForeignError::ok) return e;
    if (dir.size < 2) return ForeignError::sps_bad_entry_count;
    save->files_stated = dir.size - 2;

    /* Each file takes at least a descriptor's 98 bytes: the payload bounds the loop, not the count. */
    const auto damaged = [save](ForeignError e) {
        if (save->damage == ForeignError::ok) save->damage = e;
    };
    while (save->file_count < save->files_stated) {
        if (cur.remaining() == 0) {
            damaged(ForeignError::sps_files_missing);
            break;
        }
        if (const ForeignError e = take_descriptor(&cur, &d); e != ForeignError::ok) {
            damaged(e);
            break;
        }
        ForeignFile f = read_descriptor(d);
        f.fault = check_file_mode(f.mode);
        if (f.fault == ForeignError::ok) f.fault = check_save_name(f.name);
        const bool whole = cur.take(f.size, &f.data);
        if (!whole) {
            (void)cur.take(cur.remaining(), &f.data);
            f.fault = ForeignError::data_cut;
            damaged(ForeignError::sps_files_missing);
        }
        if (const ForeignError e = add_foreign_file(save, files, f); e != ForeignError::ok) return e;
        if (!whole) break;
    }
    if (save->file_count == save->files_stated && cur.remaining() > 0) damaged(ForeignError::sps_extra_payload);
    return ForeignError::ok;
}

} // namespace ps2
