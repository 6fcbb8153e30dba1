/* maleto_handler.cpp -- MALETO's file handler over the platform layer */
#include "rename/maleto_handler.h"

#include <cstring>
#include <string>

#include "common/platform.h"
#include "common/psu.h"

namespace ps2 {

namespace {

MaletoError fail(const Reporter& report, const char* path, MaletoError e)
{
    report.error(path, maleto_error_text(e));
    return e;
}

/* A failure the system gave: the words, the system's reason, and a hint where one helps. */
MaletoError fail_with_reason(const Reporter& report, const char* path, MaletoError e)
{
    const char* reason = plat::last_error_text();
    switch (e) {
    case MaletoError::name_refused:
        report.errorf(path, "not renamed: the system refused the new name: %s (try --remove-sjis)", reason);
        break;
    default:
        report.errorf(path, "%s: %s", maleto_error_text(e), reason);
        break;
    }
    return e;
}

/* Finds the title behind the top entry: chunk by chunk, every 512-aligned offset. no_title_block at the
 * end of the file, read_failed when a read fails (a failure is not taken for a file without a title). */
MaletoError search_title(plat::ReadHandle file, std::string* title)
{
    static_assert(kTitleChunkSize % kTitleBlockAlign == 0, "a block never straddles two chunks");
    uint8_t chunk[kTitleChunkSize];
    for (;;) {
        size_t got = 0;
        if (plat::read_some(file, chunk, &got) != plat::IoError::ok) return MaletoError::read_failed;
        if (got == 0) return MaletoError::no_title_block;
        /* Only the bytes read this time count: nothing of an earlier chunk is taken. */
        const std::span<const uint8_t> bytes(chunk, got);
        const size_t at = find_title_block(bytes);
        if (at < bytes.size()) {
            *title = std::string(read_title(bytes.subspan(at)));
            return MaletoError::ok;
        }
    }
}

} // namespace

MaletoError maleto_rename_file(const char* path, const OptionBox& remove_sjis_option, const Reporter& report,
                               const PathRules& rules, const TextConverter& names)
{
    plat::ReadHandle file;
    if (plat::open_for_reading(path, &file) != plat::IoError::ok)
        return fail_with_reason(report, path, MaletoError::open_failed);

    uint8_t top[kPsuEntrySize] = {};
    size_t got = 0;
    std::string name, title;
    MaletoError e = MaletoError::ok;
    if (plat::read_some(file, top, &got) != plat::IoError::ok) {
        e = MaletoError::read_failed;
    } else {
        std::string_view n;
        e = read_save_name(top, &n);
        name = std::string(n);
        if (e == MaletoError::ok) e = search_title(file, &title);
    }
    if (e == MaletoError::read_failed) {
        const MaletoError kept = fail_with_reason(report, path, e); /* before the close, which keeps no reason */
        plat::close_file(file);
        return kept;
    }
    plat::close_file(file);
    if (e != MaletoError::ok) return fail(report, path, e);

    PathBuffer new_path;
    size_t name_at = 0;
    e = format_new_path(path, name, title, rules, &new_path, &name_at);
    if (e != MaletoError::ok) return fail(report, path, e);
    size_t fell_back = 0;
    if (remove_sjis_option.get()) {
        remove_sjis(new_path.data() + name_at);
    } else if (names.convert) {
        std::string in_user;
        fell_back = name_in_user_charset(new_path.c_str() + name_at, names, &in_user);
        new_path.cut(name_at);
        if (!new_path.append(in_user.data(), in_user.size())) return fail(report, path, MaletoError::path_too_long);
    }
    /* The new name always stays in the file's own folder. */
    if (!name_stays_in_folder(new_path.c_str() + name_at, rules)) return fail(report, path, MaletoError::unsafe_name);

    switch (plat::rename_file(path, new_path.c_str())) {
    case plat::IoError::ok:
        break;
    case plat::IoError::target_exists:
        return fail(report, path, MaletoError::target_exists);
    case plat::IoError::name_refused:
        return fail_with_reason(report, path, MaletoError::name_refused);
    default:
        return fail_with_reason(report, path, MaletoError::rename_failed);
    }
    report.notef(nullptr, "%s -> %s", path, new_path.c_str());
    if (fell_back)
        report.warningf(path, "%zu character%s of the name ha%s no form in the locale's character set (%s): "
                              "written as --remove-sjis writes %s; --sjis-bytes keeps the Shift_JIS bytes",
                        fell_back, fell_back == 1 ? "" : "s", fell_back == 1 ? "s" : "ve", names.charset,
                        fell_back == 1 ? "it" : "them");
    return MaletoError::ok;
}

} // namespace ps2
