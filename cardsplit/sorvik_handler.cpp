/* sorvik_handler.cpp -- SORVIK's file handler: read the image, make the folder, write one archive per root entry */
#include "cardsplit/sorvik_handler.h"

#include <cinttypes>
#include <cstring>
#include <new>

namespace ps2 {

namespace {

/* Reads the file into the card buffer and brings it to raw form. */
bool load_card_image(const char* path, plat::Block& card_buffer, const Reporter& report)
{
    if (!card_buffer.ok() || card_buffer.size() < kCodedImageSize) {
        report.error(path, "not enough memory to read the image; nothing written");
        return false;
    }
    plat::FileRead read;
    const plat::IoError io = plat::read_file(path, card_buffer.span().first(kCodedImageSize), &read);
    if (io != plat::IoError::ok) {
        report.errorf(path, "%s; nothing written", plat::describe_io_error(io));
        return false;
    }
    const CardError e = bring_card_to_raw(card_buffer.span().first(kCodedImageSize), read.file_size);
    if (e != CardError::ok) {
        report.errorf(path, "%s; nothing written", card_error_text(e));
        return false;
    }
    return true;
}

SplitWork* work_in(plat::Block& work_buffer)
{
    if (!work_buffer.ok() || work_buffer.size() < sizeof(SplitWork)) return nullptr;
    /* Starts the object's life in the block; the tables without initialisers keep the block's zeros. */
    return new (work_buffer.data()) SplitWork;
}

void report_root_cut(const char* path, const CardRoot& root, const Reporter& report)
{
    if (root.count >= root.stored_count) return;
    report.errorf(path, "the root directory counts %" PRIu32 " entries, but its cluster chain %s after %" PRIu32
                        "; only those are split",
                  root.stored_count, chain_stop_text(root.stop), root.count);
}

/* Problems inside one archive go to the reporter with the image and entry. */
struct ProblemContext {
    const char* path;
    uint32_t index;
    bool deleted;
    const Reporter* report;
};

void send_problem(void* context, const SplitProblem& p)
{
    const auto* ctx = static_cast<const ProblemContext*>(context);
    char line[kSplitPathCapacity + 256];
    format_split_problem(p, line, sizeof line);
    /* A save the card marks deleted has usually lost clusters to later saves: worth a look, not a failure. */
    ctx->report->sendf(ctx->deleted ? Severity::warning : Severity::error, ctx->path, "entry %" PRIu32 "%s: %s",
                       ctx->index, ctx->deleted ? " (deleted)" : "", line);
}

/* Makes the folder of the image's archives (its path cut at the extension
 * point) and leaves its path, separator included, in *folder. False
 * (reported) when there is none to write into: then nothing is written. */
bool make_split_folder(const char* path, const PathRules& rules, const Reporter& report, PathBuffer* folder,
                       SplitFileResult* result)
{
    auto refuse = [&](const char* why) {
        report.errorf(path, "%s; nothing written", why);
        return false;
    };
    if (!folder->assign(path)) return refuse("the path is too long");
    const char* ext = find_extension_point(folder->c_str(), rules);
    if (*ext != '.' || ext == find_name_part(folder->c_str(), rules))
        return refuse("the image's name has no extension before which its folder could be named");
    folder->cut(size_t(ext - folder->c_str()));
    const plat::IoError folder_error = plat::create_folder(folder->c_str());
    if (folder_error != plat::IoError::ok) {
        report.errorf(path, "cannot create the folder %s: %s; nothing written", folder->c_str(),
                      plat::last_error_text());
        return false;
    }
    result->folder_made = true;
    report.notef(path, "folder %s", folder->c_str());
    const char separator[2] = {rules.separator, '\0'};
    return folder->append(separator) || refuse("the folder's path is too long");
}

} // namespace

SplitFileResult split_card_image_with(const char* path, const OptionBox& option, const Reporter& report,
                                      plat::Block& card_buffer, plat::Block& work_buffer, plat::OutputPolicy outputs,
                                      const TextConverter& names)
{
    SplitFileResult result;
    if (!load_card_image(path, card_buffer, report)) return result;
    result.is_card = true;
    const ConstRawImage card(card_buffer.data(), kRawImageSize);

    SplitWork* work = work_in(work_buffer);
    if (!work) {
        report.error(path, "not enough memory to split the image; nothing written");
        return result;
    }
    const CardRoot root = read_card_root(card, work);
    report_root_cut(path, root, report);
    result.entries = root.count > 2 ? root.count - 2 : 0;

    const PathRules& rules = plat::native_path_rules();
    PathBuffer out;
    if (!make_split_folder(path, rules, report, &out, &result)) {
        result.failed = result.entries;
        return result;
    }
    const size_t folder_length = out.length();

    /* The option is read once, after the folder is made and before the first archive. */
    NamingRules naming;
    naming.temp_names = option.get();
    naming.path = rules;
    naming.case_insensitive = rules.separator == '\\';
    naming.to_user = names;
    plan_archive_names(card, root, naming, work);

    for (uint32_t i = 2; i < root.count; ++i) {
        const uint8_t* entry = card_root_entry(card, *work, root, i);
        const std::string shown = report.shown(psu_record_name(entry));
        auto refuse = [&](const char* why) {
            report.errorf(path, "entry %" PRIu32 " \"%s\": %s; not written", i, shown.c_str(), why);
            ++result.failed;
        };
        const ArchiveName& a = work->names[i];
        if (a.status != SplitError::ok) { /* unsafe_name or name_taken */
            Message m;
            refuse(a.status == SplitError::unsafe_name
                       ? "the name cannot be used as a file name"
                       : m.format("entry %" PRIu32 " of the same name is written as %s", a.taken_by, a.text));
            ++result.refused_names;
            continue;
        }
        out.cut(folder_length);
        if (!out.append(a.text)) {
            refuse("the archive's path is too long");
            continue;
        }

        ProblemContext ctx{path, i, !mode_exists(record_mode(entry)), &report};
        const ProblemSink sink{&send_problem, &ctx};
        BuiltArchive built;
        if (const SplitError e = build_entry_archive(card, root, i, sink, work, &built); e != SplitError::ok) {
            refuse(split_error_text(e));
            continue;
        }
        plat::OutputOutcome outcome = plat::OutputOutcome::none;
        const plat::IoError io =
            plat::write_output(out.c_str(), std::span<const uint8_t>(work->archive, built.size), outputs, &outcome);
        if (io != plat::IoError::ok) {
            report.errorf(path, "%s: %s", out.c_str(), plat::describe_io_error(io));
            ++result.failed;
            if (io == plat::IoError::output_differs) ++result.kept;
            continue;
        }
        if (built.problems) ++result.damaged;
        if (outcome == plat::OutputOutcome::up_to_date) {
            ++result.up_to_date;
            report.notef(path, "%s: up to date", out.c_str());
            continue;
        }
        ++result.written;
        if (a.converted)
            report.notef(path, "wrote %s (the save's Shift_JIS name in %s)", out.c_str(), names.charset);
        else
            report.notef(path, "wrote %s", out.c_str());
    }
    return result;
}

SplitFileResult split_card_image_file(const char* path, const OptionBox& option, const Reporter& report,
                                      plat::OutputPolicy outputs, const TextConverter& names)
{
    /* Both buffers before anything is created, so that a failed allocation writes nothing. */
    plat::Block card_buffer(kCodedImageSize);
    plat::Block work_buffer(sizeof(SplitWork));
    return split_card_image_with(path, option, report, card_buffer, work_buffer, outputs, names);
}

bool list_card_image_file(const char* path, const Reporter& report, CardListing* out)
{
    *out = CardListing{};
    plat::Block card_buffer(kCodedImageSize);
    if (!load_card_image(path, card_buffer, report)) return false;
    plat::Block work_buffer(sizeof(SplitWork));
    SplitWork* work = work_in(work_buffer);
    if (!work) {
        report.error(path, "not enough memory to read the image");
        return false;
    }
    const ConstRawImage card(card_buffer.data(), kRawImageSize);
    out->root = read_card_root(card, work);
    report_root_cut(path, out->root, report);
    for (uint32_t i = 2; i < out->root.count; ++i) {
        ListedEntry e;
        list_root_entry(card, *work, out->root, i, &e);
        out->entries.push_back(e);
    }
    return true;
}

} // namespace ps2
