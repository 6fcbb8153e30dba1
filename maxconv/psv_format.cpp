/* psv_format.cpp -- the PSV save a PS3 exports: header, directory record, a table of files at stated offsets */
#include "maxconv/foreign_save.h"

namespace ps2 {

namespace {

namespace psv_field {
constexpr size_t save_type = 0x3C; /* u32: 2 PlayStation 2, 1 PlayStation */
constexpr size_t file_count = 0x64;
constexpr size_t created = 0x68;
constexpr size_t modified = 0x70;
constexpr size_t dir_mode = 0x7C;  /* u32 */
constexpr size_t dir_name = 0x80;  /* 32 bytes */
constexpr size_t table = 0xA0;
} // namespace psv_field

constexpr size_t kTypeFieldEnd = psv_field::save_type + 4;
constexpr uint32_t kTypePs2 = 2;
constexpr uint32_t kTypePs1 = 1;

/* A file table entry. */
namespace psv_entry {
constexpr size_t created = 0;
constexpr size_t modified = 8;
constexpr size_t size = 16;
constexpr size_t mode = 20;   /* u32 */
constexpr size_t name = 24;   /* 32 bytes; PS3 exports leave junk behind the NUL */
constexpr size_t offset = 56; /* u32, from the start of the file */
constexpr size_t bytes = 60;
} // namespace psv_entry

/* Bytes behind the last file that pass without a word: PS3 exports pad the file to a multiple of 4. */
constexpr size_t kPadding = 3;

} // namespace

ForeignError read_psv_save(std::span<const uint8_t> file, std::span<ForeignFile> files, ForeignSave* save)
{
    begin_foreign_save(save, ForeignFormat::psv, files);
    if (file.size() < kTypeFieldEnd) return ForeignError::psv_header_cut;
    const uint8_t* h = file.data();
    const uint32_t type = load_u32le(h + psv_field::save_type);
    if (type == kTypePs1) return ForeignError::psv_ps1;
    if (type != kTypePs2) return ForeignError::psv_unknown_type;
    if (file.size() < psv_field::table) return ForeignError::psv_header_cut;

    const uint32_t n = load_u32le(h + psv_field::file_count);
    save->files_stated = n;
    save->created = load_time(h + psv_field::created);
    save->modified = load_time(h + psv_field::modified);
    save->dir_mode = load_u32le(h + psv_field::dir_mode);
    if (const ForeignError e = take_dir_name(save, text_field(h + psv_field::dir_name, kPsuNameSize)); e != ForeignError::ok)
        return e;
    ByteCursor cur(file, psv_field::table);
    if (!cur.can_take(uint64_t(n) * psv_entry::bytes)) return ForeignError::psv_table_cut;
    if (n > files.size()) return ForeignError::too_many_files;
    const uint64_t table_end = psv_field::table + uint64_t(n) * psv_entry::bytes;

    /* Each entry stands alone: its data lies at its own offset, wherever the others' lies. */
    uint64_t data_end = table_end;
    for (uint32_t i = 0; i < n; ++i) {
        std::span<const uint8_t> e;
        (void)cur.take(psv_entry::bytes, &e); /* the table fits: checked above */
        ForeignFile f;
        f.created = load_time(e.data() + psv_entry::created);
        f.modified = load_time(e.data() + psv_entry::modified);
        f.size = load_u32le(e.data() + psv_entry::size);
        f.mode = load_u32le(e.data() + psv_entry::mode);
        f.name = text_field(e.data() + psv_entry::name, kPsuNameSize);
        const uint64_t offset = load_u32le(e.data() + psv_entry::offset);
        f.fault = check_file_mode(f.mode);
        if (f.fault == ForeignError::ok) f.fault = check_save_name(f.name);
        if (f.fault == ForeignError::ok && offset < table_end && f.size > 0) f.fault = ForeignError::data_in_header;
        if (offset <= file.size()) {
            const uint64_t there = file.size() - offset;
            f.data = file.subspan(size_t(offset), size_t(f.size < there ? f.size : there));
            if (f.size > there && f.fault == ForeignError::ok) f.fault = ForeignError::data_past_end;
        } else if (f.fault == ForeignError::ok) {
            f.fault = ForeignError::data_past_end;
        }
        if (f.fault == ForeignError::ok && offset + f.size > data_end) data_end = offset + f.size;
        if (const ForeignError err = add_foreign_file(save, files, f); err != ForeignError::ok) return err;
    }

    /* Bytes that belong to no entry: with a file of size 0 they are its lost data. */
    save->trailing_bytes = size_t(file.size() - data_end);
    if (save->trailing_bytes > kPadding) {
        for (ForeignFile& f : std::span<ForeignFile>(files.data(), save->file_count)) {
            if (f.fault != ForeignError::ok || f.size != 0) continue;
            f.fault = ForeignError::psv_unreferenced_tail;
        }
    }
    return ForeignError::ok;
}

} // namespace ps2
