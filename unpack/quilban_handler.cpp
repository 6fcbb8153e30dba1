/* quilban_handler.cpp -- QUILBAN's file handler over the platform layer: unpack an archive, rebuild from a manifest */
#include "unpack/quilban_handler.h"

#include <cstring>
#include <string>
#include <string_view>

#include "common/paths.h"
#include "common/platform.h"
#include "unpack/manifest.h"
#include "unpack/membername.h"
#include "unpack/rebuild.h"
#include "unpack/unpack.h"

namespace ps2 {

namespace {

/* A file name in a message line, quoted byte for byte as it stands. */
std::string quoted(std::string_view s)
{
    std::string q = "\"";
    q.append(s);
    q += '"';
    return q;
}

/* An entry's name (the save's own text), quoted as the reporter shows it. */
std::string quoted(const Reporter& report, std::string_view s) { return quoted(report.shown(s)); }

constexpr const char* kTempNameHint = "use temporary names (--temp-names, or USE TEMP NAME in the window)";

/* The size of a file to read whole, at most kQuilbanInputLimit bytes. */
bool query_input_size(const char* path, const char* what, const Reporter& report, size_t* size)
{
    *size = 0;
    uint64_t file_size = 0;
    const plat::IoError err = plat::query_file_size(path, &file_size);
    if (err != plat::IoError::ok) {
        report.errorf(path, "cannot open the %s: %s", what, plat::io_error_text(err));
        return false;
    }
    if (file_size > kQuilbanInputLimit) {
        report.errorf(path, "the %s is too large (%llu bytes, at most %llu are taken)", what,
                      (unsigned long long)file_size, (unsigned long long)kQuilbanInputLimit);
        return false;
    }
    *size = size_t(file_size);
    return true;
}

/* Reads the whole file into block, which holds one byte more than the file
 * should, so that a file that grew since its size was taken is noticed. */
bool read_input(const char* path, const char* what, const Reporter& report, plat::Block* block, size_t size)
{
    if (!block->ok()) {
        report.error(path, plat::io_error_text(plat::IoError::no_memory));
        return false;
    }
    plat::FileRead got;
    plat::IoError err = plat::read_file(path, block->span(), &got);
    if (err == plat::IoError::ok && got.bytes_read != size) err = plat::IoError::read_failed;
    if (err != plat::IoError::ok) {
        report.errorf(path, "cannot read the %s: %s", what, plat::io_error_text(err));
        return false;
    }
    return true;
}

/* Names on file systems that ignore case are one file when they differ in a-z only. */
bool native_names_fold_case() { return plat::native_path_rules().separator == '\\'; }

} // namespace

/* ---- unpack ---- */

namespace {

enum class MemberOutcome : uint8_t { written, none, failed };

/* Writes the member file of an entry (number n in the lines) into the
 * folder, with the warnings its entry calls for; none for a directory entry. */
MemberOutcome write_member_file(const char* path, std::span<const uint8_t> archive, const UnpackEntry& e, size_t n,
                                const PathBuffer& folder, const char* separator, const Reporter& report,
                                const char* charset)
{
    const std::string name = quoted(report, psu_record_name(archive.data() + e.offset));
    if (e.name_breaks_line)
        report.warningf(path, "entry %zu %s: the name holds a line break, which its name line in "
                              "the manifest cannot carry; mend that line before rebuilding",
                        n, name.c_str());
    if (!e.is_file) return MemberOutcome::none;
    if (e.name_fault != MemberNameFault::none) {
        report.errorf(path, "entry %zu %s: member file not written: %s; %s", n, name.c_str(),
                      member_name_fault_text(e.name_fault), kTempNameHint);
        return MemberOutcome::failed;
    }
    PathBuffer member = folder;
    if (!member.append(separator) || !member.append(e.name2.view().data(), e.name2.size)) {
        report.errorf(path, "entry %zu %s: member file not written: its path would be longer than %zu bytes", n,
                      name.c_str(), kPathCapacity - 1);
        return MemberOutcome::failed;
    }
    if (e.name2_converted)
        report.notef(path, "entry %zu %s: member file %s (the Shift_JIS name in %s)", n, name.c_str(), member.c_str(),
                     charset);
    if (e.data_cut)
        report.warningf(path, "entry %zu %s: the archive ends inside its data: %s holds %zu of its %lu bytes", n,
                        name.c_str(), member.c_str(), e.data.size(), (unsigned long)e.length);
    if (e.replaces != kNoEntry)
        report.warningf(path, "entry %zu %s overwrites the member file %s of entry %zu", n, name.c_str(),
                        member.c_str(), e.replaces + 1);
    if (const plat::IoError err = plat::write_file_replace(member.c_str(), e.data); err != plat::IoError::ok) {
        report.error(member.c_str(), plat::io_error_text(err));
        return MemberOutcome::failed;
    }
    return MemberOutcome::written;
}

/* The warning on an archive cut short or not well-formed (once, not again
 * when an entry's warning told of the cut already). */
void report_cut_archive(const char* path, std::span<const uint8_t> archive, const UnpackPlan& plan,
                        const Reporter& report)
{
    bool cut_reported = plan.ignored_tail != 0;
    for (const auto& e : plan.entries) cut_reported = cut_reported || e.data_cut;
    if (plan.ignored_tail)
        report.warningf(path, "the archive ends inside an entry: its last %zu bytes were not unpacked",
                        plan.ignored_tail);
    else if (plan.shape != PsuError::ok && plan.shape != PsuError::empty && !cut_reported)
        report.warningf(path, "not a well-formed PSU archive (%s); unpacked entry by entry",
                        psu_error_text(plan.shape));
    if (archive.empty()) report.warning(path, "the file is empty: the manifest lists no entries");
}

} // namespace

bool unpack_psu_file(const char* path, bool temp_names, const Reporter& report, const TextConverter& names)
{
    const PathRules& rules = plat::native_path_rules();
    const char separator[2] = {rules.separator, '\0'};

    /* The folder is the path cut at its extension point. */
    PathBuffer folder;
    if (!folder.assign(path)) {
        report.error(path, plat::io_error_text(plat::IoError::path_too_long));
        return false;
    }
    folder.cut(size_t(find_extension_point(folder.c_str(), rules) - folder.c_str()));
    PathBuffer manifest_path = folder;
    if (!manifest_path.append(separator) || !manifest_path.append(kManifestName)) {
        report.errorf(path, "the unpack folder's path is too long for its manifest (%zu bytes, at most "
                            "%zu): nothing written",
                      folder.length(), kPathCapacity - 2 - std::strlen(kManifestName));
        return false;
    }

    size_t archive_size = 0;
    if (!query_input_size(path, "archive", report, &archive_size)) return false;
    plat::Block archive_block(archive_size + 1);
    if (!read_input(path, "archive", report, &archive_block, archive_size)) return false;
    const std::span<const uint8_t> archive(archive_block.data(), archive_size);

    UnpackOptions options;
    options.temp_names = temp_names;
    options.rules = rules;
    options.names_fold_case = native_names_fold_case();
    options.to_user = names;
    UnpackPlan plan;
    plan_unpack(archive, options, &plan);

    plat::IoError err = plat::create_folder(folder.c_str());
    if (err != plat::IoError::ok) {
        const bool own_name = folder.length() == std::strlen(path);
        report.errorf(path, "cannot create the folder %s%s: nothing written", folder.c_str(),
                      own_name ? " (the file has no extension, so the folder would take its own name)" : "");
        return false;
    }

    bool all_written = true;
    /* The manifest records every entry, also those whose member file is not written. */
    plat::Block text(unpack_manifest_capacity(plan));
    ManifestWriter writer(text.span());
    if (!text.ok() || !write_unpack_manifest(archive, plan, &writer)) {
        report.error(manifest_path.c_str(), plat::io_error_text(plat::IoError::no_memory));
        all_written = false;
    } else if ((err = plat::write_file_replace(manifest_path.c_str(), writer.bytes())) != plat::IoError::ok) {
        report.error(manifest_path.c_str(), plat::io_error_text(err));
        all_written = false;
    }

    size_t members_written = 0;
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const MemberOutcome m =
            write_member_file(path, archive, plan.entries[i], i + 1, folder, separator, report, names.charset);
        members_written += m == MemberOutcome::written;
        all_written = all_written && m != MemberOutcome::failed;
    }
    report_cut_archive(path, archive, plan, report);

    report.notef(path, "unpacked %zu entries into %s: %s and %zu member file%s", plan.entries.size(),
                 folder.c_str(), kManifestName, members_written, members_written == 1 ? "" : "s");
    return all_written;
}

/* ---- rebuild ---- */

namespace {

struct FolderSource {
    PathBuffer folder; /* the manifest's folder part, separator included (or empty) */
};

const char* read_member(void* context, std::string_view name2, std::span<uint8_t> room, uint64_t* file_size,
                        size_t* bytes_read)
{
    const auto* src = static_cast<const FolderSource*>(context);
    PathBuffer path = src->folder;
    if (!path.append(name2.data(), name2.size())) return "its path would be longer than 1023 bytes";
    plat::FileRead got;
    const plat::IoError err = plat::read_file(path.c_str(), room, &got);
    if (err != plat::IoError::ok) return plat::io_error_text(err);
    *file_size = got.file_size;
    *bytes_read = got.bytes_read;
    return nullptr;
}

/* The block whose member file has the given name (compared as the file system would), or 0. */
size_t find_member_named(std::span<const uint8_t> manifest, std::string_view file_name, bool fold)
{
    ManifestReader reader(manifest);
    ManifestBlock block;
    for (size_t index = 1; reader.next(&block); ++index) {
        if (!mode_is_file(load_u16le(block.record.data() + psu_field::mode))) continue;
        if (block.name2.size() != file_name.size()) continue;
        bool same = true;
        for (size_t i = 0; i < file_name.size() && same; ++i)
            same = fold ? fold_ascii_upper(uint8_t(block.name2[i])) == fold_ascii_upper(uint8_t(file_name[i]))
                        : block.name2[i] == file_name[i];
        if (same) return index;
    }
    return 0;
}

const char* field_label(ManifestField f)
{
    switch (f) {
    case ManifestField::created: return "created row holds more than 8 bytes; the first 8 were kept";
    case ManifestField::modified: return "modified row holds more than 8 bytes; the first 8 were kept";
    default: return "name line is longer than 32 bytes; its first 32 bytes were kept";
    }
}

void report_problem(const char* path, const RebuildProblem& p, const Reporter& report)
{
    Message block;
    const char* where = block.format("block %zu (line %zu)", p.block, p.line);
    const std::string member = quoted(p.name2);
    switch (p.error) {
    case RebuildError::unsafe_member_name:
        report.errorf(path, "%s: member file %s cannot be used: %s; unpack the archive again and %s",
                      where, member.c_str(), member_name_fault_text(p.name_fault),
                      kTempNameHint);
        break;
    case RebuildError::member_unreadable:
        report.errorf(path, "%s: member file %s: %s", where, member.c_str(),
                      p.detail ? p.detail : rebuild_error_text(p.error));
        break;
    case RebuildError::too_large:
        report.errorf(path, "%s%s%s: the archive would take at least %llu bytes, more than the "
                            "8,192,000 a PSU archive can hold",
                      where, p.name2.empty() ? "" : ", member file ",
                      p.name2.empty() ? "" : member.c_str(), (unsigned long long)p.needed);
        break;
    default:
        report.errorf(path, "%s%s%s: %s", where, p.name2.empty() ? "" : ", member file ",
                      p.name2.empty() ? "" : member.c_str(), rebuild_error_text(p.error));
        break;
    }
}

} // namespace

bool rebuild_psu_file(const char* manifest_path, bool temp_names, const Reporter& report, const TextConverter& names)
{
    const PathRules& rules = plat::native_path_rules();
    FolderSource source;
    if (!source.folder.assign(manifest_path)) {
        report.error(manifest_path, plat::io_error_text(plat::IoError::path_too_long));
        return false;
    }
    source.folder.cut(size_t(find_name_part(manifest_path, rules) - manifest_path));

    size_t text_size = 0;
    if (!query_input_size(manifest_path, "manifest", report, &text_size)) return false;
    plat::Block text_block(text_size + 1);
    if (!read_input(manifest_path, "manifest", report, &text_block, text_size)) return false;
    const std::span<const uint8_t> text(text_block.data(), text_size);

    plat::Block out(kRebuildCapacity);
    if (!out.ok()) {
        report.error(manifest_path, plat::io_error_text(plat::IoError::no_memory));
        return false;
    }
    const MemberSource members{&read_member, &source};
    RebuildResult result;
    const RebuildError err = rebuild_psu(text, members, rules, out.span(), &result);

    for (const auto& cut : result.cuts)
        report.warningf(manifest_path, "block %zu (line %zu): its %s", cut.block, cut.line, field_label(cut.field));
    if (result.partial_lines)
        report.warningf(manifest_path, "the manifest ends inside a block (%zu of its 19 lines); that "
                                       "block was ignored",
                        result.partial_lines);
    if (err == RebuildError::no_entries) {
        report.errorf(manifest_path, "%s: nothing written", rebuild_error_text(err));
        return false;
    }
    if (err != RebuildError::ok) {
        for (const auto& p : result.problems) report_problem(manifest_path, p, report);
        report.error(manifest_path, "no archive written");
        return false;
    }
    const std::span<const uint8_t> archive(out.data(), result.size);

    std::string name;
    bool converted = false;
    const MemberNameFault fault = rebuild_result_name(archive, temp_names, rules, &name, names, &converted);
    if (fault != MemberNameFault::none) {
        report.errorf(manifest_path, "the first entry's name %s cannot name the archive: %s; rebuild with temporary "
                                     "names (--temp-names, or USE TEMP NAME in the window) to write temp.psu",
                      quoted(report, psu_record_name(archive.data())).c_str(), member_name_fault_text(fault));
        return false;
    }
    if (const size_t clash = find_member_named(text, name, native_names_fold_case())) {
        report.errorf(manifest_path, "the archive's name %s is that of the member file of block %zu, "
                                     "which it would replace: no archive written",
                      quoted(name).c_str(), clash);
        return false;
    }
    PathBuffer result_path = source.folder;
    if (!result_path.append(name.c_str())) {
        report.errorf(manifest_path, "the archive's path would be longer than %zu bytes: nothing written",
                      kPathCapacity - 1);
        return false;
    }
    const plat::IoError werr = plat::write_file_replace(result_path.c_str(), archive);
    if (werr != plat::IoError::ok) {
        report.error(result_path.c_str(), plat::io_error_text(werr));
        return false;
    }
    report.notef(manifest_path, "rebuilt %s: %zu entries, %zu member file%s, %zu bytes%s%s%s",
                 result_path.c_str(), result.entries, result.files,
                 result.files == 1 ? "" : "s", result.size, converted ? " (the save's Shift_JIS name in " : "",
                 converted ? names.charset : "", converted ? ")" : "");
    return true;
}

/* ---- the dropped file ---- */

bool handle_quilban_file(const char* path, const OptionBox& option, const Reporter& report, const TextConverter& names)
{
    const bool temp_names = option.get(); /* read once, before choosing */
    if (is_manifest_path(path, plat::native_path_rules())) return rebuild_psu_file(path, temp_names, report, names);
    return unpack_psu_file(path, temp_names, report, names);
}

} // namespace ps2
