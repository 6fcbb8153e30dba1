/* sorvik_handler.cpp -- SORVIK's file handler: read the image, make the folder, write one archive per root entry */
#include "cardsplit/sorvik_handler.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

namespace ps2 {

namespace {

constexpr size_t kMessageCapacity = kPathCapacity + 512;

struct Message {
    char text[kMessageCapacity];
    template <typename... Args>
    const char* format(const char* fmt, Args... args)
    {
        std::snprintf(text, sizeof text, fmt, args...);
        return text;
    }
};

/* Reads the file into the card buffer and brings it to raw form. */
bool load_card_image(const char* path, plat::Block& card_buffer, const Reporter& report)
{
    Message m;
    if (!card_buffer.ok() || card_buffer.size() < kCodedImageSize) {
        report.error(path, "not enough memory to read the image; nothing written");
        return false;
    }
    plat::FileRead read;
    const plat::IoError io = plat::read_file(path, card_buffer.span().first(kCodedImageSize), &read);
    if (io != plat::IoError::ok) {
        report.error(path, m.format("%s; nothing written", plat::io_error_text(io)));
        return false;
    }
    const CardError e = bring_card_to_raw(card_buffer.span().first(kCodedImageSize), read.file_size);
    if (e != CardError::ok) {
        report.error(path, m.format("%s; nothing written", card_error_text(e)));
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
    Message m;
    report.error(path, m.format("the root directory counts %" PRIu32 " entries, but its cluster chain %s after %" PRIu32
                                "; only those are split",
                                root.stored_count, chain_stop_text(root.stop), root.count));
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
    Message m;
    m.format("entry %" PRIu32 "%s: %s", ctx->index, ctx->deleted ? " (deleted)" : "", line);
    /* A save the card marks deleted has usually lost clusters to later saves: worth a look, not a failure. */
    ctx->report->send(ctx->deleted ? Severity::warning : Severity::error, ctx->path, m.text);
}

} // namespace

SplitFileResult split_card_image_with(const char* path, const OptionBox& option, const Reporter& report,
                                      plat::Block& card_buffer, plat::Block& work_buffer)
{
    SplitFileResult result;
    Message m;
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

    /* The folder: the image's path cut at its extension point. */
    const PathRules& rules = plat::native_path_rules();
    PathBuffer out;
    if (!out.assign(path)) {
        report.error(path, "the path is too long; nothing written");
        result.failed = result.entries;
        return result;
    }
    const char* ext = find_extension_point(out.c_str(), rules);
    if (*ext != '.' || ext == find_name_part(out.c_str(), rules)) {
        report.error(path, "the image's name has no extension before which its folder could be named; nothing written");
        result.failed = result.entries;
        return result;
    }
    out.cut(size_t(ext - out.c_str()));
    const plat::IoError folder_error = plat::create_folder(out.c_str());
    if (folder_error != plat::IoError::ok) {
        report.error(path, m.format("cannot create the folder %s (%s); nothing written", out.c_str(),
                                    plat::io_error_text(folder_error)));
        result.failed = result.entries;
        return result;
    }
    result.folder_made = true;
    report.note(path, m.format("folder %s", out.c_str()));
    const char separator[2] = {rules.separator, '\0'};
    if (!out.append(separator)) {
        report.error(path, "the folder's path is too long; nothing written");
        result.failed = result.entries;
        return result;
    }
    const size_t folder_length = out.length();

    /* The option is read once, after the folder is made and before the first archive. */
    NamingRules naming;
    naming.temp_names = option.get();
    naming.path = rules;
    naming.case_insensitive = rules.separator == '\\';
    plan_archive_names(card, root, naming, work);

    for (uint32_t i = 2; i < root.count; ++i) {
        const uint8_t* entry = card_root_entry(card, *work, root, i);
        const std::string_view name = psu_record_name(entry);
        char shown[kPsuNameSize + 1] = {};
        std::memcpy(shown, name.data(), name.size());
        const ArchiveName& a = work->names[i];
        if (a.status == SplitError::unsafe_name) {
            report.error(path, m.format("entry %" PRIu32 " \"%s\": the name cannot be used as a file name; not written",
                                        i, shown));
            ++result.failed;
            ++result.refused_names;
            continue;
        }
        if (a.status == SplitError::name_taken) {
            report.error(path, m.format("entry %" PRIu32 " \"%s\": entry %" PRIu32 " of the same name is written as %s; "
                                        "not written", i, shown, a.taken_by, a.text));
            ++result.failed;
            ++result.refused_names;
            continue;
        }
        out.cut(folder_length);
        if (!out.append(a.text)) {
            report.error(path, m.format("entry %" PRIu32 " \"%s\": the archive's path is too long; not written", i, shown));
            ++result.failed;
            continue;
        }

        ProblemContext ctx{path, i, (record_mode(entry) & 0x8000) == 0, &report};
        const ProblemSink sink{&send_problem, &ctx};
        BuiltArchive built;
        const SplitError e = build_entry_archive(card, root, i, sink, work, &built);
        if (e != SplitError::ok) {
            report.error(path, m.format("entry %" PRIu32 " \"%s\": %s; not written", i, shown, split_error_text(e)));
            ++result.failed;
            continue;
        }
        const plat::IoError io = plat::write_file_replace(out.c_str(), std::span<const uint8_t>(work->archive, built.size));
        if (io != plat::IoError::ok) {
            report.error(path, m.format("cannot write %s (%s)", out.c_str(), plat::io_error_text(io)));
            ++result.failed;
            continue;
        }
        ++result.written;
        if (built.problems) ++result.damaged;
        report.note(path, m.format("wrote %s", out.c_str()));
    }
    return result;
}

SplitFileResult split_card_image_file(const char* path, const OptionBox& option, const Reporter& report)
{
    /* Both buffers before anything is created, so that a failed allocation writes nothing. */
    plat::Block card_buffer(kCodedImageSize);
    plat::Block work_buffer(sizeof(SplitWork));
    return split_card_image_with(path, option, report, card_buffer, work_buffer);
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
