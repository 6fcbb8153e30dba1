/* taviro_handler.cpp -- adding paths by directory search; reading the listed files, building, writing the image */
#include "cardbuild/taviro_handler.h"

#include <cinttypes>
#include <cstring>

#include "card/ecc.h"
#include "common/psu.h"
#include "common/save_kind.h"

namespace ps2 {

/* ---- adding a path ---- */

AddPathResult add_path(const char* path, const PathRules& rules, std::vector<std::string>* list)
{
    AddPathResult result;
    /* One open search per folder level, so the walk is depth-first in the
     * order the system returns names, without recursion. The depth is bound
     * by the path capacity: every level adds at least two bytes. */
    struct Search {
        std::string folder_part;
        std::vector<plat::FoundEntry> matches;
        size_t next = 0;
    };
    std::vector<Search> stack;
    auto start_search = [&](const std::string& pattern) {
        Search s;
        if (plat::find_entries(pattern.c_str(), &s.matches) != plat::IoError::ok) return false;
        const char* name = find_name_part(pattern.c_str(), rules);
        s.folder_part.assign(pattern.c_str(), size_t(name - pattern.c_str()));
        stack.push_back(std::move(s));
        return true;
    };

    if (!start_search(path)) return result;
    result.matched = true;
    const char wildcard[] = {rules.separator, '*', '.', '*', '\0'};
    while (!stack.empty()) {
        Search& s = stack.back();
        if (s.next == s.matches.size()) {
            stack.pop_back();
            continue;
        }
        const plat::FoundEntry& e = s.matches[s.next++];
        if (e.is_folder) {
            if (e.name.empty() || e.name[0] == '.') continue; /* ".", ".." and hidden folders */
            std::string pattern = s.folder_part + e.name + wildcard;
            if (pattern.size() >= kPathCapacity) {
                ++result.too_long;
                continue;
            }
            start_search(pattern); /* an empty folder matches nothing: fine */
        } else {
            std::string file = s.folder_part + e.name;
            if (file.size() >= kPathCapacity) {
                ++result.too_long;
                continue;
            }
            list->push_back(std::move(file));
            ++result.added;
        }
    }
    return result;
}

/* ---- building ---- */

CardForm card_form_for_path(const char* path, const PathRules& rules)
{
    return compare_folded(find_extension_point(path, rules), ".bin") == 0 ? CardForm::raw : CardForm::coded;
}

namespace {

/* "1 file", "3 files". */
std::string counted(uint64_t n, const char* one, const char* many = nullptr)
{
    return std::to_string(n) + " " + (n == 1 ? std::string(one) : many ? std::string(many) : std::string(one) + "s");
}

struct PlacedName {
    std::string name;
    size_t index;
};

/* The note on a save placed, and a warning when not all of the file was read. */
void report_placed(const Reporter& report, const char* path, const char* save_name, const ArchivePlan& plan,
                   uint32_t needed, size_t size)
{
    const std::string shown = report.shown(save_name);
    const char* name = shown.c_str();
    const std::string clusters = counted(needed, "cluster");
    if (plan.top == ArchiveTop::file)
        report.notef(path, "placed \"%s\" as a file in the root (%s)", name, clusters.c_str());
    else if (plan.directories > 1)
        report.notef(path, "placed \"%s\" (%s in %s, %s)", name, counted(plan.files, "file").c_str(),
                     counted(plan.directories, "directory", "directories").c_str(), clusters.c_str());
    else
        report.notef(path, "placed \"%s\" (%s, %s)", name, counted(plan.files, "file").c_str(), clusters.c_str());
    if (plan.cut_short)
        report.warningf(path, "the record at offset %" PRIu64
                              " is neither a file nor a directory: the archive is placed up to it",
                        plan.cut_offset);
    else if (plan.end < size)
        report.warningf(path, "%" PRIu64 " bytes behind the end of the archive are not read", uint64_t(size - plan.end));
}

/* Why a listed file cannot go onto the card before it is planned, or nullptr: what it is when the
 * recogniser knows it as another kind (into m, and in the window's words into w), and a file too large
 * to be an archive. */
const char* refuse_before_planning(FileKind kind, uint64_t file_size, Message* m, Message* w)
{
    if (kind != FileKind::unknown && kind != FileKind::psu) {
        describe_wrong_kind_in_window(kind, kTakesPsu, w->text);
        return describe_wrong_kind(kind, kTakesPsu, m->text);
    }
    if (file_size > kArchiveReadLimit) return build_error_text(BuildError::too_large);
    return nullptr;
}

/* A file the recogniser does not know, which does not even begin as an archive, is to the window's user
 * simply not a save archive; the command line gives the detail. */
bool begins_as_no_archive(FileKind kind, BuildError e)
{
    return kind == FileKind::unknown &&
           (e == BuildError::not_an_archive || e == BuildError::no_links || e == BuildError::truncated_entry);
}

/* The image written, compared (a dry run) or kept, as the options say. */
void write_image(std::span<const uint8_t> image, const char* out_path, CardForm form, const CardBuildOptions& options,
                 const Reporter& report, CardBuildResult* result)
{
    const std::string saves = counted(result->saves_placed, "save");
    const uint32_t megabytes = options.geometry.card_megabytes();
    const std::string size = megabytes == 8 ? "" : std::to_string(megabytes) + " MB ";
    const char* form_word = form == CardForm::raw ? "raw" : "coded";
    const uint32_t all = options.geometry.alloc_clusters;
    if (out_path == nullptr) { /* a dry run without an output */
        report.notef(nullptr, "the %scard would hold %s: %" PRIu32 " of %" PRIu32 " clusters used, %" PRIu32 " free",
                     size.c_str(), saves.c_str(), result->clusters_used, all, result->clusters_free);
        return;
    }
    plat::OutputOutcome outcome = plat::OutputOutcome::none;
    const plat::IoError e = options.dry_run ? plat::check_output(out_path, image, options.outputs, &outcome)
                                            : plat::write_output(out_path, image, options.outputs, &outcome);
    result->write_error = e;
    result->kept = e == plat::IoError::output_differs;
    if (e != plat::IoError::ok) {
        report.error(out_path, plat::describe_io_error(e));
        return;
    }
    result->up_to_date = outcome == plat::OutputOutcome::up_to_date;
    const char* what = nullptr;
    if (options.dry_run)
        what = result->up_to_date ? "up to date, would be left alone"
               : outcome == plat::OutputOutcome::replaced ? "would be replaced"
                                                           : "would be written";
    else
        what = result->up_to_date ? "up to date" : "written";
    result->written = !options.dry_run;
    report.notef(out_path, "%s %simage %s: %s, %" PRIu32 " of %" PRIu32 " clusters used, %" PRIu32 " free", form_word,
                 size.c_str(), what, saves.c_str(), result->clusters_used, all, result->clusters_free);
}

} // namespace

size_t find_output_in_list(std::span<const std::string> list, const char* out_path)
{
    plat::FileId out;
    if (plat::query_file_id(out_path, &out) != plat::IoError::ok) return list.size();
    for (size_t i = 0; i < list.size(); ++i) {
        plat::FileId id;
        if (plat::query_file_id(list[i].c_str(), &id) == plat::IoError::ok && id == out) return i;
    }
    return list.size();
}

CardBuildResult build_card_file(std::span<const std::string> list, CardForm form, const char* out_path,
                                const Reporter& report, const CardBuildOptions& options)
{
    const CardGeometry& geometry = options.geometry;
    CardBuildResult result;
    result.alloc_clusters = geometry.alloc_clusters;
    plat::Block card_block(geometry.raw_size());
    /* Holds each file as read (at most 8,192,000 bytes); receives the coded image at the end. */
    plat::Block work(geometry.coded_size());
    if (!card_block.ok() || !work.ok()) {
        result.no_memory = true;
        report.error(out_path ? out_path : "the card", plat::io_error_text(plat::IoError::no_memory));
        return result;
    }
    CardBuilder builder(RawImage(card_block.data(), geometry.raw_size()), geometry);
    std::vector<PlacedName> placed;

    for (size_t i = 0; i < list.size(); ++i) {
        const char* path = list[i].c_str();
        auto leave_out = [&](const char* reason, const char* window_reason = nullptr) {
            result.left_out.push_back({i, list[i], reason, window_reason ? window_reason : reason});
            report.error(path, reason);
        };

        plat::FileRead read;
        const plat::IoError io = plat::read_file(path, work.span().first(kArchiveReadLimit), &read);
        if (io != plat::IoError::ok) {
            leave_out(plat::describe_io_error(io));
            continue;
        }
        /* Only the bytes just read: whatever an earlier file left behind them is never looked at. */
        const std::span<const uint8_t> archive(work.data(), read.bytes_read);
        const FileKind kind = recognise_file_kind(archive, read.file_size);
        Message why, window_why;
        if (const char* reason = refuse_before_planning(kind, read.file_size, &why, &window_why)) {
            leave_out(reason, window_why.text[0] ? window_why.text : nullptr);
            continue;
        }
        ArchivePlan plan;
        if (const BuildError e = plan_archive(archive, &plan); e != BuildError::ok) {
            leave_out(build_error_text(e), begins_as_no_archive(kind, e) ? file_kind_phrase(kind) : nullptr);
            continue;
        }
        /* Two root entries of one name make a broken card: other readers see one of them, and deleting
         * it there can free the other's clusters. */
        const std::string name(psu_record_name(archive.data()));
        const PlacedName* same = nullptr;
        for (const PlacedName& p : placed)
            if (compare_folded(p.name.c_str(), name.c_str()) == 0) same = &p;
        if (same) {
            leave_out(why.format("a save of this name is already on the card (\"%s\", from %s)",
                                 report.shown(same->name).c_str(), list[same->index].c_str()));
            continue;
        }
        const uint32_t needed = builder.clusters_needed(plan);
        if (needed > builder.free_clusters()) {
            result.card_full = true;
            result.full_index = i;
            result.full_path = list[i];
            result.full_needed = needed;
            result.full_free = builder.free_clusters();
            report.errorf(path, "does not fit: it needs %" PRIu32 " clusters and %" PRIu32
                                " are free. The card is full; nothing was written",
                          needed, builder.free_clusters());
            return result;
        }
        if (const BuildError e = builder.place_archive(archive, plan); e != BuildError::ok) {
            /* Not reached for a planned archive on the builder's own card. */
            leave_out(build_error_text(e));
            continue;
        }
        ++result.saves_placed;
        report_placed(report, path, name.c_str(), plan, needed, archive.size());
        placed.push_back({name, i});
    }

    result.fits = true;
    result.clusters_used = builder.used_clusters();
    result.clusters_free = builder.free_clusters();
    if (options.needs_a_save && result.saves_placed == 0) {
        result.nothing_placed = true;
        report.error(out_path ? out_path : "the card", "not written: the named paths gave no save to place");
        return result;
    }
    std::span<const uint8_t> image;
    if (form == CardForm::raw || out_path == nullptr) {
        image = std::span<const uint8_t>(card_block.data(), geometry.raw_size());
    } else {
        build_coded_image(builder.card(), work.span(), geometry);
        image = std::span<const uint8_t>(work.data(), geometry.coded_size());
    }
    write_image(image, out_path, form, options, report, &result);
    return result;
}

std::string describe_full_card(const CardBuildResult& r)
{
    Message m;
    return m.format("The card is full. This file does not fit:\n\n%s\n\nIt needs %" PRIu32 " clusters; %" PRIu32
                    " of the card's %" PRIu32 " clusters are free after the files listed above it.\n\n"
                    "Nothing was written.",
                    r.full_path.c_str(), r.full_needed, r.full_free, r.alloc_clusters);
}

std::string describe_left_out(const CardBuildResult& r, size_t max_lines, const char* ellipsis)
{
    std::string text = "The card was written without these files:\n\n";
    for (size_t k = 0; k < r.left_out.size(); ++k) {
        if (k == max_lines) {
            Message m;
            text += m.format("%s and %" PRIu64 " more (run the taviro command for the whole list)\n", ellipsis,
                             uint64_t(r.left_out.size() - k));
            break;
        }
        text += r.left_out[k].path + ": " + r.left_out[k].window_reason + "\n";
    }
    return text;
}

} // namespace ps2
