/* taviro_handler.cpp -- adding paths by directory search; reading the listed files, building, writing the image */
#include "cardbuild/taviro_handler.h"

#include <cinttypes>
#include <cstring>

#include "card/ecc.h"
#include "common/psu.h"

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

} // namespace

CardBuildResult build_card_file(std::span<const std::string> list, CardForm form, const char* out_path,
                                const Reporter& report)
{
    CardBuildResult result;
    plat::Block card_block(kRawImageSize);
    /* Holds each file as read; receives the coded image at the end. */
    plat::Block work(kCodedImageSize);
    if (!card_block.ok() || !work.ok()) {
        result.no_memory = true;
        report.error(out_path, plat::io_error_text(plat::IoError::no_memory));
        return result;
    }
    CardBuilder builder(RawImage(card_block.data(), kRawImageSize));
    std::vector<PlacedName> placed;

    for (size_t i = 0; i < list.size(); ++i) {
        const char* path = list[i].c_str();
        auto leave_out = [&](const char* reason) {
            result.left_out.push_back({i, list[i], reason});
            report.error(path, reason);
        };

        plat::FileRead read;
        const plat::IoError io = plat::read_file(path, work.span().first(kArchiveReadLimit), &read);
        if (io != plat::IoError::ok) {
            leave_out(plat::io_error_text(io));
            continue;
        }
        if (read.file_size > kArchiveReadLimit) {
            leave_out(build_error_text(BuildError::too_large));
            continue;
        }
        /* Only the bytes just read: whatever an earlier file left behind them is never looked at. */
        const std::span<const uint8_t> archive(work.data(), read.bytes_read);
        ArchivePlan plan;
        if (const BuildError e = plan_archive(archive, &plan); e != BuildError::ok) {
            leave_out(build_error_text(e));
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

        const std::string name(psu_record_name(archive.data()));
        report_placed(report, path, name.c_str(), plan, needed, archive.size());
        for (const PlacedName& p : placed)
            if (p.name == name) {
                report.warningf(path, "a save named \"%s\" is on the card already (from %s)", report.shown(name).c_str(),
                                list[p.index].c_str());
                break;
            }
        placed.push_back({name, i});
    }

    result.clusters_used = builder.used_clusters();
    result.clusters_free = builder.free_clusters();
    std::span<const uint8_t> image;
    if (form == CardForm::raw) {
        image = std::span<const uint8_t>(card_block.data(), kRawImageSize);
    } else {
        build_coded_image(builder.card(), std::span<uint8_t, kCodedImageSize>(work.data(), kCodedImageSize));
        image = std::span<const uint8_t>(work.data(), kCodedImageSize);
    }
    result.write_error = plat::write_file_replace(out_path, image);
    if (result.write_error != plat::IoError::ok) {
        report.error(out_path, plat::io_error_text(result.write_error));
        return result;
    }
    result.written = true;
    report.notef(out_path, "%s image written: %s, %" PRIu32 " of %" PRIu32 " clusters used, %" PRIu32 " free",
                 form == CardForm::raw ? "raw" : "coded", counted(result.saves_placed, "save").c_str(),
                 result.clusters_used, kAllocClusters, result.clusters_free);
    return result;
}

std::string describe_full_card(const CardBuildResult& r)
{
    Message m;
    return m.format("The card is full. This file does not fit:\n\n%s\n\nIt needs %" PRIu32 " clusters; %" PRIu32
                    " of the card's %" PRIu32 " clusters are free after the files listed above it.\n\n"
                    "Nothing was written.",
                    r.full_path.c_str(), r.full_needed, r.full_free, kAllocClusters);
}

std::string describe_left_out(const CardBuildResult& r, size_t max_lines)
{
    std::string text = "The card was written without these files:\n\n";
    for (size_t k = 0; k < r.left_out.size(); ++k) {
        if (k == max_lines) {
            Message m;
            text += m.format("... and %" PRIu64 " more\n", uint64_t(r.left_out.size() - k));
            break;
        }
        text += r.left_out[k].path + ": " + r.left_out[k].reason + "\n";
    }
    return text;
}

} // namespace ps2
