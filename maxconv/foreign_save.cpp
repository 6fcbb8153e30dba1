/* foreign_save.cpp -- what the three readers share (recognition, names, modes, time stamps) and the PSU
 * archive written from a save they read */
#include "maxconv/foreign_save.h"

#include "common/sjis.h"

#include <cstring>

namespace ps2 {

namespace {

/* A card mode of the kind asked for: the exists bit and exactly that kind bit. */
constexpr uint32_t kKindMask = 0x8030;
constexpr uint32_t kFileKind = 0x8010;
constexpr uint32_t kDirectoryKind = 0x8020;

/* Orders two stamps that are set: year, month, day, hour, minute, second. */
uint64_t time_key(const TimeOfDay& t)
{
    return uint64_t(load_u16le(&t[6])) << 40 | uint64_t(t[5]) << 32 | uint64_t(t[4]) << 24 | uint64_t(t[3]) << 16 |
           uint64_t(t[2]) << 8 | t[1];
}

} // namespace

const char* foreign_error_text(ForeignError e)
{
    static const char* const texts[] = {FOREIGN_ERROR_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(e));
}

ForeignFormat foreign_format_of(FileKind kind)
{
    switch (kind) {
    case FileKind::codebreaker: return ForeignFormat::codebreaker;
    case FileKind::sharkport: return ForeignFormat::sharkport;
    case FileKind::psv: return ForeignFormat::psv;
    default: return ForeignFormat::none;
    }
}

ForeignFormat detect_foreign_format(std::span<const uint8_t> file)
{
    return foreign_format_of(recognise_file_kind(file, file.size()));
}

const char* foreign_format_name(ForeignFormat format)
{
    switch (format) {
    case ForeignFormat::codebreaker: return "CodeBreaker save";
    case ForeignFormat::sharkport: return "SharkPort/X-Port save";
    case ForeignFormat::psv: return "PSV save";
    case ForeignFormat::none: break;
    }
    return "save";
}

const char* foreign_format_extension(ForeignFormat format)
{
    switch (format) {
    case ForeignFormat::codebreaker: return ".cbs";
    case ForeignFormat::sharkport: return ".sps or .xps";
    case ForeignFormat::psv: return ".psv";
    case ForeignFormat::none: break;
    }
    return "its own extension";
}

bool time_is_set(const TimeOfDay& t)
{
    return t[1] <= 59 && t[2] <= 59 && t[3] <= 23 && t[4] >= 1 && t[4] <= 31 && t[5] >= 1 && t[5] <= 12 &&
           load_u16le(&t[6]) != 0;
}

TimeOfDay load_time(const uint8_t* p)
{
    TimeOfDay t;
    std::memcpy(t.data(), p, t.size());
    return t;
}

ForeignError check_save_name(std::string_view name)
{
    if (name.empty()) return ForeignError::name_empty;
    if (name.find_first_not_of(". ") == std::string_view::npos) return ForeignError::name_dots;
    /* Stepped by Shift_JIS characters: the trail byte of ソ or 表 (0x5C) is no backslash. */
    for (std::string_view rest = name; !rest.empty();) {
        const size_t n = shift_jis_char_size(rest);
        if (n == 1 && (rest[0] == '/' || rest[0] == '\\')) return ForeignError::name_separator;
        rest.remove_prefix(n);
    }
    if (name.size() > kCardNameMax) return ForeignError::name_too_long;
    return ForeignError::ok;
}

ForeignError check_file_mode(uint32_t mode)
{
    if (mode > 0xFFFF) return ForeignError::mode_too_large;
    return (mode & kKindMask) == kFileKind ? ForeignError::ok : ForeignError::not_a_file;
}

bool ForeignSave::is_whole() const
{
    if (damage != ForeignError::ok) return false;
    for (const ForeignFile& f : file_list())
        if (f.fault != ForeignError::ok) return false;
    return true;
}

void begin_foreign_save(ForeignSave* save, ForeignFormat format, std::span<ForeignFile> files)
{
    *save = ForeignSave{};
    save->format = format;
    save->files = files.data();
}

ForeignError take_dir_name(ForeignSave* save, std::string_view name)
{
    /* Kept even when refused, so that the refusal can show it. */
    const size_t n = name.size() < kPsuNameSize ? name.size() : kPsuNameSize;
    std::memcpy(save->dir_name_field.data(), name.data(), n);
    save->dir_name_size = uint8_t(n);
    return check_save_name(name);
}

ForeignError add_foreign_file(ForeignSave* save, std::span<ForeignFile> files, const ForeignFile& file)
{
    if (save->file_count >= files.size()) return ForeignError::too_many_files;
    files[save->file_count++] = file;
    return ForeignError::ok;
}

ForeignError read_foreign_save(std::span<const uint8_t> file, std::span<uint8_t> body, std::span<ForeignFile> files,
                               ForeignSave* save)
{
    switch (detect_foreign_format(file)) {
    case ForeignFormat::codebreaker: return read_cbs_save(file, body, files, save);
    case ForeignFormat::sharkport: return read_sharkport_save(file, files, save);
    case ForeignFormat::psv: return read_psv_save(file, files, save);
    case ForeignFormat::none: break;
    }
    begin_foreign_save(save, ForeignFormat::none, files);
    return ForeignError::not_foreign;
}

/* ---- the PSU archive ---- */

ForeignError write_foreign_psu(const ForeignSave& save, std::span<uint8_t> out, size_t* out_size, ForeignPsuInfo* info)
{
    *out_size = 0;
    const std::span<const ForeignFile> files = save.file_list();

    /* Size first: nothing is written for a save that does not fit. */
    uint64_t size = 3 * kPsuEntrySize;
    uint32_t written = 0;
    const TimeOfDay* earliest = nullptr;
    const TimeOfDay* latest = nullptr;
    for (const ForeignFile& f : files) {
        if (f.fault != ForeignError::ok) continue;
        size += kPsuEntrySize + psu_padded_size(f.data.size());
        ++written;
        if (time_is_set(f.created) && (!earliest || time_key(f.created) < time_key(*earliest))) earliest = &f.created;
        if (time_is_set(f.modified) && (!latest || time_key(f.modified) > time_key(*latest))) latest = &f.modified;
    }
    if (size > kForeignPsuLimit) return ForeignError::psu_too_large;
    if (size > out.size()) return ForeignError::no_room;

    TimeOfDay created = save.created, modified = save.modified;
    if (!time_is_set(created)) created = earliest ? *earliest : time_is_set(modified) ? modified : kFallbackTime;
    if (!time_is_set(modified)) modified = latest ? *latest : created;
    const uint16_t dir_mode =
        (save.dir_mode & kKindMask) == kDirectoryKind && save.dir_mode <= 0xFFFF ? uint16_t(save.dir_mode) : kModeNewDirectory;

    PsuWriter w(out);
    PsuEntry top = make_directory_entry(save.dir_name(), written + 2);
    top.mode = dir_mode;
    top.created = created;
    top.modified = modified;
    PsuEntry link = make_directory_entry(".", 0);
    link.created = link.modified = created;
    bool ok = w.add_entry(top) && w.add_entry(link);
    (void)set_psu_entry_name(&link, "..");
    ok = ok && w.add_entry(link);
    for (const ForeignFile& f : files) {
        if (f.fault != ForeignError::ok) continue;
        PsuEntry e = make_file_entry(f.name, 0);
        e.mode = uint16_t(f.mode); /* a file's mode: checked by its reader */
        e.created = time_is_set(f.created) ? f.created : created;
        e.modified = time_is_set(f.modified) ? f.modified : time_is_set(f.created) ? f.created : modified;
        ok = ok && w.add_file(e, f.data);
    }
    if (!ok) return ForeignError::no_room; /* sized above: cannot happen */
    *out_size = w.size();
    if (info) *info = ForeignPsuInfo{written, dir_mode, created, modified};
    return ForeignError::ok;
}

} // namespace ps2
