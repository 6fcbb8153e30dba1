/* quilban_handler.cpp -- QUILBAN's file handler over the platform layer: unpack an archive, rebuild from a manifest */
#include "unpack/quilban_handler.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/paths.h"
#include "common/platform.h"
#include "common/save_kind.h"
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
        report.errorf(path, "cannot open the %s: %s", what, plat::describe_io_error(err));
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
        report.errorf(path, "cannot read the %s: %s", what, plat::describe_io_error(err));
        return false;
    }
    return true;
}

/* Names on file systems that ignore case are one file when they differ in a-z only. */
bool native_names_fold_case() { return plat::native_path_rules().separator == '\\'; }

/* Writes one output under the policy: counts it, reports a failure on its path. False when not written. */
bool write_one(const char* path, std::span<const uint8_t> bytes, plat::OutputPolicy outputs, const Reporter& report,
               size_t* up_to_date)
{
    plat::OutputOutcome outcome = plat::OutputOutcome::none;
    if (const plat::IoError err = plat::write_output(path, bytes, outputs, &outcome); err != plat::IoError::ok) {
        report.error(path, plat::describe_io_error(err));
        return false;
    }
    if (outcome == plat::OutputOutcome::up_to_date) ++*up_to_date;
    return true;
}

} // namespace

/* ---- unpack ---- */

namespace {

enum class MemberOutcome : uint8_t { written, none, failed };

/* Writes the member file of an entry (number n in the lines) into the
 * folder, with the warnings its entry calls for; none for a directory entry. */
MemberOutcome write_member_file(const char* path, std::span<const uint8_t> archive, const UnpackEntry& e, size_t n,
                                const PathBuffer& folder, const char* separator, const Reporter& report,
                                plat::OutputPolicy outputs, bool superseded, size_t* up_to_date, const char* charset)
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
    /* A member that a later one of the same name writes over: the window writes it all the same, as it
     * always has; under the command line's policy only the last one is compared with what is there. */
    if (superseded && outputs == plat::OutputPolicy::keep) return MemberOutcome::none;
    return write_one(member.c_str(), e.data, outputs, report, up_to_date) ? MemberOutcome::written
                                                                          : MemberOutcome::failed;
}

/* The warning on an archive cut short or not well-formed (once, not again when an entry's warning told
 * of the cut already). True when the archive ends early: a member cut, missing, or a last entry cut. */
bool report_cut_archive(const char* path, std::span<const uint8_t> archive, const UnpackPlan& plan,
                        const Reporter& report)
{
    bool cut_reported = plan.ignored_tail != 0;
    for (const auto& e : plan.entries) cut_reported = cut_reported || e.data_cut;
    const bool ends_early = cut_reported;
    if (plan.ignored_tail)
        report.warningf(path, "the archive ends inside an entry: its last %zu bytes were not unpacked",
                        plan.ignored_tail);
    const MissingMembers missing = count_missing_members(archive, plan);
    if (missing.count != 0 && (ends_early || plan.shape == PsuError::truncated_entry)) {
        const std::string dir = quoted(psu_record_name(archive.data() + plan.entries[missing.directory].offset));
        if (missing.directories == 1)
            report.warningf(path, "the archive ends early: %llu member%s of %s (entry %zu) %s missing",
                            (unsigned long long)missing.count, missing.count == 1 ? "" : "s", dir.c_str(),
                            missing.directory + 1, missing.count == 1 ? "is" : "are");
        else
            report.warningf(path, "the archive ends early: %llu members are missing, of %s (entry %zu) and the "
                                  "directories around it",
                            (unsigned long long)missing.count, dir.c_str(), missing.directory + 1);
        return true;
    }
    if (!ends_early && plan.shape != PsuError::ok && plan.shape != PsuError::empty)
        report.warningf(path, "not a well-formed PSU archive (%s); unpacked entry by entry",
                        psu_error_text(plan.shape));
    if (archive.empty()) report.warning(path, "the file is empty: the manifest lists no entries");
    return ends_early;
}

/* A file QUILBAN does not unpack: what it is, else why it is no PSU archive. */
void report_not_an_archive(const char* path, std::span<const uint8_t> archive, uint64_t file_size,
                           const Reporter& report)
{
    const FileKind kind = recognise_file_kind(archive, file_size);
    if (kind == FileKind::quilban_manifest) {
        report.error(path, "a QUILBAN manifest, not a PSU archive: name it QUILBAN.TXT to rebuild from it; "
                           "nothing written");
    } else if (kind != FileKind::unknown && kind != FileKind::psu) {
        Message m;
        report.errorf(path, "%s; nothing written", describe_wrong_kind(kind, kTakesPsu, m.text));
    } else {
        report.error(path, "not a PSU archive: its first entry is not a directory followed by \".\" and \"..\"; "
                           "nothing written");
    }
}

} // namespace

bool unpack_psu_file(const char* path, bool temp_names, const Reporter& report, plat::OutputPolicy outputs,
                     const TextConverter& names)
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
    if (!begins_as_save_directory(archive)) {
        report_not_an_archive(path, archive, archive_size, report);
        return false;
    }

    UnpackOptions options;
    options.temp_names = temp_names;
    options.rules = rules;
    options.names_fold_case = native_names_fold_case();
    options.to_user = names;
    UnpackPlan plan;
    plan_unpack(archive, options, &plan);

    if (plat::create_folder(folder.c_str()) != plat::IoError::ok) {
        const bool own_name = folder.length() == std::strlen(path);
        report.errorf(path, "cannot create the folder %s: %s%s; nothing written", folder.c_str(),
                      plat::last_error_text(),
                      own_name ? " (the file has no extension, so the folder would take its own name)" : "");
        return false;
    }

    bool all_written = true;
    size_t up_to_date = 0;
    /* The manifest records every entry, also those whose member file is not written. */
    plat::Block text(unpack_manifest_capacity(plan));
    ManifestWriter writer(text.span());
    if (!text.ok() || !write_unpack_manifest(archive, plan, &writer)) {
        report.error(manifest_path.c_str(), plat::io_error_text(plat::IoError::no_memory));
        all_written = false;
    } else if (!write_one(manifest_path.c_str(), writer.bytes(), outputs, report, &up_to_date)) {
        all_written = false;
    }

    size_t members_written = 0;
    std::vector<bool> superseded(plan.entries.size(), false);
    for (const UnpackEntry& e : plan.entries)
        if (e.replaces != kNoEntry) superseded[e.replaces] = true;
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const MemberOutcome m = write_member_file(path, archive, plan.entries[i], i + 1, folder, separator, report,
                                                  outputs, superseded[i], &up_to_date, names.charset);
        members_written += m == MemberOutcome::written;
        all_written = all_written && m != MemberOutcome::failed;
    }
    const bool ends_early = report_cut_archive(path, archive, plan, report);

    Message same;
    report.notef(path, "unpacked %zu entries into %s: %s and %zu member file%s%s", plan.entries.size(),
                 folder.c_str(), kManifestName, members_written, members_written == 1 ? "" : "s",
                 up_to_date == 0 ? "" : same.format(", %zu of them up to date", up_to_date));
    return all_written && !ends_early;
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
    if (err != plat::IoError::ok) return plat::describe_io_error(err);
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

/* A line as a message shows it: at most 40 bytes of it, control bytes as "?". */
std::string shown_line(std::string_view line)
{
    std::string s(line.substr(0, 40));
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return line.size() > 40 ? "\"" + s + "...\"" : "\"" + s + "\"";
}

/* What a line of that kind is, in a message. */
std::string line_kind_text(ManifestLineKind kind, ManifestField field)
{
    const std::string name(manifest_field_name(field));
    switch (kind) {
    case ManifestLineKind::rule: return "a rule line";
    case ManifestLineKind::comment: return "the comment line of " + name;
    case ManifestLineKind::value: break;
    }
    return "a " + name + " line";
}

/* The value the reader takes from a line that is not of its field's form. */
std::string value_taken(const ManifestLineNote& n)
{
    Message m;
    switch (n.field) {
    case ManifestField::mode: return m.format("%04X", unsigned(uint16_t(parse_manifest_hex(n.text))));
    case ManifestField::attr: return m.format("%08X", unsigned(parse_manifest_hex(n.text)));
    case ManifestField::created:
    case ManifestField::modified: {
        uint8_t row[8] = {};
        (void)parse_manifest_byte_row(n.text, row);
        return m.format("%02X %02X %02X %02X %02X %02X %02X %02X", row[0], row[1], row[2], row[3], row[4], row[5],
                        row[6], row[7]);
    }
    default: return m.format("%u", unsigned(parse_manifest_decimal(n.text)));
    }
}

const char* field_form(ManifestField f)
{
    switch (f) {
    case ManifestField::mode: return "up to 4 hexadecimal digits";
    case ManifestField::attr: return "up to 8 hexadecimal digits";
    case ManifestField::created:
    case ManifestField::modified: return "8 bytes as hexadecimal pairs";
    default: return "a decimal number below 4294967296";
    }
}

void report_line_note(const char* path, const ManifestLineNote& n, const Reporter& report)
{
    if (n.fault == ManifestLineFault::shifted) {
        const std::string expected = n.expected == ManifestLineKind::rule
                                         ? std::string("the rule line of block ") + std::to_string(n.block)
                                         : line_kind_text(n.expected, n.field);
        const std::string found =
            n.found == ManifestLineKind::value ? shown_line(n.text) : line_kind_text(n.found, n.found_field);
        report.warningf(path, "line %zu: expected %s, found %s: a line is missing or one too many above it, so "
                              "every later line is read out of place; mend the manifest before rebuilding",
                        n.line, expected.c_str(), found.c_str());
        return;
    }
    report.warningf(path, "line %zu: the %s %s is not %s; it is read as %s", n.line,
                    std::string(manifest_field_name(n.field)).c_str(), shown_line(n.text).c_str(), field_form(n.field),
                    value_taken(n).c_str());
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
                      p.detail.empty() ? rebuild_error_text(p.error) : p.detail.c_str());
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

bool rebuild_psu_file(const char* manifest_path, bool temp_names, const Reporter& report, plat::OutputPolicy outputs,
                      const TextConverter& names)
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

    for (const auto& note : result.line_notes) report_line_note(manifest_path, note, report);
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
    size_t up_to_date = 0;
    if (!write_one(result_path.c_str(), archive, outputs, report, &up_to_date)) return false;
    report.notef(manifest_path, "%s %s: %zu entries, %zu member file%s, %zu bytes%s%s%s",
                 up_to_date ? "up to date:" : "rebuilt", result_path.c_str(), result.entries, result.files,
                 result.files == 1 ? "" : "s", result.size, converted ? " (the save's Shift_JIS name in " : "",
                 converted ? names.charset : "", converted ? ")" : "");
    return true;
}

/* ---- the dropped file ---- */

bool handle_quilban_file(const char* path, const OptionBox& option, const Reporter& report, plat::OutputPolicy outputs,
                         const TextConverter& names)
{
    const bool temp_names = option.get(); /* read once, before choosing */
    if (is_manifest_path(path, plat::native_path_rules()))
        return rebuild_psu_file(path, temp_names, report, outputs, names);
    return unpack_psu_file(path, temp_names, report, outputs, names);
}

} // namespace ps2
