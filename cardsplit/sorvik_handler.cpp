/* sorvik_handler.cpp -- SORVIK's file handler: read the image, make the folder, write one archive per root entry;
 * list it; check its health */
#include "cardsplit/sorvik_handler.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <optional>

namespace ps2 {

namespace {

/* ---- reading the image ---- */

/* A card image read and brought to raw form in one of two blocks. */
struct LoadedCard {
    CardLayout layout;
    EccReport ecc;
    std::optional<plat::Block> larger; /* for a card larger than the first block holds */
    uint8_t* raw = nullptr;

    CardView view() const { return CardView(ConstRawImage(raw, layout.geometry.raw_size()), layout.geometry, layout.present); }
};

/* Reads the file into the card buffer (or, for a larger card, into a block
 * of its size), takes its layout and brings it to raw form, checking the
 * page codes. */
bool load_card_image(const char* path, plat::Block& card_buffer, const Reporter& report, LoadedCard* out)
{
    if (!card_buffer.ok() || card_buffer.size() < kCodedImageSize) {
        report.error(path, "not enough memory to read the image; nothing written");
        return false;
    }
    plat::Block* block = &card_buffer;
    plat::FileRead read;
    for (int pass = 0;; ++pass) {
        const plat::IoError io = plat::read_file(path, block->span(), &read);
        if (io != plat::IoError::ok) {
            report.errorf(path, "%s; nothing written", plat::describe_io_error(io));
            return false;
        }
        const CardError e = read_card_layout(std::span<const uint8_t>(block->data(), read.bytes_read), read.file_size,
                                             &out->layout);
        if (e != CardError::ok) {
            report.errorf(path, "%s; nothing written", card_error_text(e));
            return false;
        }
        if (out->layout.buffer_size() <= block->size()) break;
        if (pass > 0) {
            report.error(path, "the image changed while it was read; nothing written");
            return false;
        }
        out->larger.emplace(out->layout.buffer_size());
        if (!out->larger->ok()) {
            report.error(path, "not enough memory to read the image; nothing written");
            return false;
        }
        block = &*out->larger;
    }
    const CardError e = bring_card_to_raw(block->span(), out->layout, &out->ecc);
    if (e != CardError::ok) {
        report.errorf(path, "%s; nothing written", card_error_text(e));
        return false;
    }
    out->raw = block->data();
    return true;
}

SplitWork* work_in(plat::Block& work_buffer, const CardGeometry& g)
{
    if (!work_buffer.ok()) return nullptr;
    return place_split_work(work_buffer.span(), g);
}

const char* form_words(CardForm form) { return form == CardForm::raw ? "raw" : "with spare areas"; }

/* The warning for an image that is neither the raw nor the coded size of its card. */
void report_image_size(const char* path, const CardLayout& l, const Reporter& report)
{
    if (l.size_matches()) return;
    const CardGeometry& g = l.geometry;
    const Grouped size(l.file_size), raw(g.raw_size()), coded(g.coded_size());
    const size_t used = l.form == CardForm::raw ? g.raw_size() : g.coded_size();
    Message how;
    const char* as = l.form == CardForm::raw ? "raw pages" : "pages with spare areas";
    const char* article = g.card_megabytes() == 8 ? "an" : "a";
    if (l.file_size < used)
        how.format("it is read as the %s of %s %u MB card as far as it goes, the rest as zeros", as, article,
                   g.card_megabytes());
    else
        how.format("it is read as the %s of %s %u MB card; the %s bytes behind them are not read", as, article,
                   g.card_megabytes(), Grouped(l.file_size - used).c_str());
    if (g.clusters_per_card == kCardClusters)
        report.warningf(path, "the image is %s bytes; a card image is %s or %s (16, 32 and 64 MB cards: 16,777,216 or "
                              "17,301,504, 33,554,432 or 34,603,008, 67,108,864 or 69,206,016); %s",
                        size.c_str(), raw.c_str(), coded.c_str(), how.text);
    else
        report.warningf(path, "the image is %s bytes; its superblock describes a %u MB card, whose image is %s or %s; %s",
                        size.c_str(), g.card_megabytes(), raw.c_str(), coded.c_str(), how.text);
}

/* What a page of the card holds, for reports. */
const char* page_place(const CardGeometry& g, uint32_t page, Message* m)
{
    const uint32_t a = page / 2;
    if (page == 0) return "the superblock";
    for (uint32_t k = 0; k < g.ifat_count; ++k)
        if (g.ifat[k] == a) return "the indirect FAT";
    for (uint32_t k = 0; k < g.fat_count; ++k)
        if (g.fat[k] == a) return "the FAT";
    if (a >= g.alloc_offset && a - g.alloc_offset < g.alloc_clusters)
        return m->format("cluster %" PRIu32, a - g.alloc_offset);
    return "space the card does not use";
}

/* Whether a page holds something the card's file system or its saves use. */
bool page_in_use(const CardView& card, uint32_t page)
{
    const CardGeometry& g = *card.geometry;
    const uint32_t a = page / 2;
    if (page == 0) return true;
    for (uint32_t k = 0; k < g.ifat_count; ++k)
        if (g.ifat[k] == a) return true;
    for (uint32_t k = 0; k < g.fat_count; ++k)
        if (g.fat[k] == a) return true;
    return a >= g.alloc_offset && a - g.alloc_offset < g.alloc_clusters &&
           (card.fat_entry(a - g.alloc_offset) & kFatInUse) != 0;
}

/* Notes for mended pages the card uses; errors for damage the code cannot
 * mend in the superblock and the FAT (inside the allocatable area, the
 * archives that hold the cluster say so). Pages nothing reads go unmentioned. */
void report_page_codes(const char* path, const CardView& card, const EccReport& ecc, SplitWork* work,
                       const Reporter& report)
{
    const CardGeometry& g = *card.geometry;
    for (uint32_t page : ecc.corrected) {
        if (!page_in_use(card, page)) continue; /* nothing reads it */
        Message m;
        report.notef(path, "page %" PRIu32 " (%s): a flipped bit mended by its page code", page, page_place(g, page, &m));
    }
    mark_damaged_pages(work, ecc.uncorrectable);
    for (uint32_t page : ecc.uncorrectable) {
        const uint32_t a = page / 2;
        if (a >= g.alloc_offset && a - g.alloc_offset < g.alloc_clusters) continue; /* told with its archive */
        if (page_in_use(card, page)) {
            Message m;
            report.errorf(path, "page %" PRIu32 " (%s): damage its page code cannot mend; read as it is", page,
                          page_place(g, page, &m));
        }
    }
}

void report_root(const char* path, const CardView& card, const CardRoot& root, const SplitWork& work,
                 const Reporter& report)
{
    if (root.beyond_end)
        report.errorf(path, "the root directory (cluster %" PRIu32 ") lies beyond the end of the image; no entry "
                            "can be read",
                      card.geometry->root_cluster);
    if (root.count < root.stored_count)
        report.errorf(path, "the root directory counts %" PRIu32 " entries, but its cluster chain %s after %" PRIu32
                            "; only those are split",
                      root.stored_count, chain_stop_text(root.stop), root.count);
    if (!work.any_damaged) return;
    for (uint32_t k = 0; k < work.root_clusters; ++k) {
        const uint32_t first = (card.geometry->alloc_offset + work.root_chain[k]) * 2;
        for (uint32_t page = first; page < first + 2; ++page)
            if (work.damaged.contains(page))
                report.errorf(path, "page %" PRIu32 " (cluster %" PRIu32 ", the root directory): damage its page code "
                                    "cannot mend; read as it is",
                              page, work.root_chain[k]);
    }
}

/* Clusters live entries own, for recovering the deleted entries of the root. */
void find_live_clusters(const CardView& card, const CardRoot& root, SplitWork* work)
{
    bool any_deleted = false;
    for (uint32_t i = 2; i < root.count && !any_deleted; ++i)
        any_deleted = !mode_exists(record_mode(card_root_entry(card, *work, root, i)));
    if (!any_deleted) return;
    CardScan scan;
    scan_card(card, &scan);
    for (uint32_t c = 0; c < card.alloc_clusters(); ++c)
        if (scan.owned.contains(c)) work->live.insert(c);
    work->live_known = true;
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
    /* Inside a deleted save, and a deleted member left out: what the console left behind, not damage. */
    const bool note = ctx->deleted || p.kind == SplitProblemKind::member_deleted;
    ctx->report->sendf(note ? Severity::note : Severity::error, ctx->path, "entry %" PRIu32 "%s: %s", ctx->index,
                       ctx->deleted ? " (deleted)" : "", line);
}

/* "3 files" / "1 file". */
const char* counted(Message* m, uint64_t n, const char* one, const char* many)
{
    return m->format("%" PRIu64 " %s", n, n == 1 ? one : many);
}

/* How complete a recovered archive is: "whole: 5 files", "in part: 3 of 5 files whole, 2 cut". */
const char* recovery_words(const BuiltArchive& b, Message* m)
{
    Message files;
    counted(&files, b.files, "file", "files");
    if (b.files_cut == 0 && b.entries_lost == 0 && b.damaged_clusters == 0) return m->format("whole: %s", files.text);
    Message lost, damaged;
    if (b.entries_lost) {
        Message n;
        lost.format("; %s lost", counted(&n, b.entries_lost, "entry", "entries"));
    }
    if (b.damaged_clusters) {
        Message n;
        damaged.format("; %s with damage the page code cannot mend", counted(&n, b.damaged_clusters, "cluster", "clusters"));
    }
    return m->format("in part: %" PRIu32 " of %s whole, %" PRIu32 " cut%s%s",
                     b.files - b.files_cut, files.text, b.files_cut, lost.text, damaged.text);
}

/* What a damaged archive of a live entry lacks. */
const char* damage_words(const BuiltArchive& b, Message* m)
{
    std::string parts;
    Message n;
    if (b.files_cut) parts += std::string(counted(&n, b.files_cut, "file", "files")) + " cut (zeros stand for the missing data)";
    if (b.entries_lost) {
        if (!parts.empty()) parts += ", ";
        parts += std::string(counted(&n, b.entries_lost, "entry", "entries")) + " left out";
    }
    if (b.damaged_clusters) {
        if (!parts.empty()) parts += ", ";
        parts += std::string(counted(&n, b.damaged_clusters, "cluster", "clusters")) +
                 " copied with damage the page code cannot mend";
    }
    if (parts.empty()) parts = "its chains were repaired to keep it well-formed";
    return m->format("%s", parts.c_str());
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

/* ---- splitting ---- */

SplitFileResult split_loaded_card(const char* path, const OptionBox& option, const Reporter& report,
                                  const LoadedCard& loaded, plat::Block& work_buffer, plat::OutputPolicy outputs,
                                  const TextConverter& names)
{
    SplitFileResult result;
    result.is_card = true;
    const CardView card = loaded.view();
    SplitWork* work = work_in(work_buffer, loaded.layout.geometry);
    if (!work) {
        report.error(path, "not enough memory to split the image; nothing written");
        return result;
    }
    report_image_size(path, loaded.layout, report);
    result.corrected_pages = uint32_t(loaded.ecc.corrected.size());
    result.uncorrectable_pages = uint32_t(loaded.ecc.uncorrectable.size());
    report_page_codes(path, card, loaded.ecc, work, report);
    const CardRoot root = read_card_root(card, work);
    report_root(path, card, root, *work, report);
    result.entries = root.count > 2 ? root.count - 2 : 0;
    find_live_clusters(card, root, work);

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
        const bool deleted = !mode_exists(record_mode(entry));
        const std::string shown = report.shown(psu_record_name(entry));
        /* A live entry not written is an error; a deleted one a note, with the way to write it where there is one. */
        auto refuse = [&](const char* why, bool for_its_name) {
            if (deleted) {
                report.notef(path, "entry %" PRIu32 " \"%s\" (deleted): %s; not written%s", i, shown.c_str(), why,
                             for_its_name ? " (temporary names write it: --temp-names, or USE TEMP NAME in the window)"
                                          : "");
                ++result.deleted_not_written;
                return;
            }
            report.errorf(path, "entry %" PRIu32 " \"%s\": %s; not written", i, shown.c_str(), why);
            ++result.failed;
            if (for_its_name) ++result.refused_names;
        };
        const ArchiveName& a = work->names[i];
        if (a.status != SplitError::ok) { /* unsafe_name or name_taken */
            Message m;
            refuse(a.status == SplitError::unsafe_name
                       ? "the name cannot be used as a file name"
                       : m.format("entry %" PRIu32 " of the same name is written as %s", a.taken_by, a.text),
                   true);
            continue;
        }
        out.cut(folder_length);
        if (!out.append(a.text)) {
            refuse("the archive's path is too long", false);
            continue;
        }

        ProblemContext ctx{path, i, deleted, &report};
        const ProblemSink sink{&send_problem, &ctx};
        BuiltArchive built;
        if (const SplitError e = build_entry_archive(card, root, i, sink, work, &built); e != SplitError::ok) {
            refuse(split_error_text(e), false);
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
        /* An archive already there with these bytes is left alone, but what it holds is told all the same. */
        const bool up_to_date = outcome == plat::OutputOutcome::up_to_date;
        if (up_to_date)
            ++result.up_to_date;
        else
            ++result.written;
        Message m, converted;
        const char* in_charset = a.converted ? converted.format(" (the save's Shift_JIS name in %s)", names.charset) : "";
        if (built.recovered) {
            ++result.recovered;
            report.notef(path, up_to_date ? "%s: up to date (a deleted save, recovered %s)%s"
                                          : "wrote %s (a deleted save, recovered %s)%s",
                         out.c_str(), recovery_words(built, &m), in_charset);
            continue;
        }
        report.notef(path, up_to_date ? "%s: up to date%s" : "wrote %s%s", out.c_str(), in_charset);
        if (built.damage) {
            ++result.damaged;
            report.errorf(path, "%s holds what could be read of a damaged save: %s", out.c_str(), damage_words(built, &m));
        }
    }
    return result;
}

} // namespace

SplitFileResult split_card_image_with(const char* path, const OptionBox& option, const Reporter& report,
                                      plat::Block& card_buffer, plat::Block& work_buffer, plat::OutputPolicy outputs,
                                      const TextConverter& names)
{
    LoadedCard loaded;
    if (!load_card_image(path, card_buffer, report, &loaded)) return SplitFileResult{};
    return split_loaded_card(path, option, report, loaded, work_buffer, outputs, names);
}

SplitFileResult split_card_image_file(const char* path, const OptionBox& option, const Reporter& report,
                                      plat::OutputPolicy outputs, const TextConverter& names)
{
    /* Both buffers before anything is created, so that a failed allocation writes nothing. */
    plat::Block card_buffer(kCodedImageSize);
    LoadedCard loaded;
    if (!load_card_image(path, card_buffer, report, &loaded)) return SplitFileResult{};
    plat::Block work_buffer(split_work_size(loaded.layout.geometry));
    return split_loaded_card(path, option, report, loaded, work_buffer, outputs, names);
}

/* ---- listing ---- */

std::string describe_card(const CardLayout& l, bool always_layout)
{
    const CardGeometry& g = l.geometry;
    Message m;
    std::string text = m.format("%u MB card %s (%s bytes)", g.card_megabytes(), form_words(l.form),
                                Grouped(l.file_size).c_str());
    if (l.standard() && !always_layout) return text;
    bool contiguous = true;
    for (uint32_t k = 1; k < g.fat_count; ++k) contiguous = contiguous && g.fat[k] == g.fat[k - 1] + 1;
    Message fat;
    if (contiguous)
        fat.format("FAT at clusters %" PRIu32 "-%" PRIu32, g.fat[0], g.fat[g.fat_count - 1]);
    else
        fat.format("FAT in %" PRIu32 " clusters from %" PRIu32, g.fat_count, g.fat[0]);
    text += m.format(", %s layout: indirect FAT at cluster %" PRIu32 ", %s, allocatable area at clusters %" PRIu32
                     "-%" PRIu32 " (%s clusters), root directory at cluster %" PRIu32,
                     l.standard() ? "standard" : "its superblock's", g.ifat[0], fat.text, g.alloc_offset,
                     g.alloc_offset + g.alloc_clusters - 1, Grouped(g.alloc_clusters).c_str(), g.root_cluster);
    return text;
}

namespace {

/* A card image loaded, with work space for its geometry: what listing and checking start from. */
struct ReadCard {
    plat::Block card_buffer{kCodedImageSize};
    LoadedCard loaded;
    std::optional<plat::Block> work_buffer;
    SplitWork* work = nullptr;
};

/* Loads the image and places its work space; false (reported) when either fails. what: "read", "check". */
bool read_card_image(const char* path, const Reporter& report, const char* what, ReadCard* out)
{
    if (!load_card_image(path, out->card_buffer, report, &out->loaded)) return false;
    out->work_buffer.emplace(split_work_size(out->loaded.layout.geometry));
    out->work = work_in(*out->work_buffer, out->loaded.layout.geometry);
    if (!out->work) {
        report.errorf(path, "not enough memory to %s the image", what);
        return false;
    }
    return true;
}

} // namespace

bool list_card_image_file(const char* path, const Reporter& report, CardListing* out)
{
    *out = CardListing{};
    ReadCard read;
    if (!read_card_image(path, report, "read", &read)) return false;
    const LoadedCard& loaded = read.loaded;
    SplitWork* work = read.work;
    const CardView card = loaded.view();
    out->layout = loaded.layout;
    report_image_size(path, loaded.layout, report);
    out->root = read_card_root(card, work);
    report_root(path, card, out->root, *work, report);
    find_live_clusters(card, out->root, work);
    for (uint32_t i = 2; i < out->root.count; ++i) {
        ListedEntry e;
        list_root_entry(card, *work, out->root, i, &e);
        out->entries.push_back(e);
    }
    return true;
}

/* ---- the health check ---- */

namespace {

void count_problem(void* context, const SplitProblem&) { ++*static_cast<uint32_t*>(context); }

std::string finding_line(const CardScan& s, const ScanFinding& f)
{
    Message m;
    const std::string who = s.path_of(f.node);
    switch (f.kind) {
    case ScanFindingKind::cross_link:
        return m.format("cross-linked: the chain of %s runs into cluster %" PRIu32 " of %s", who.c_str(), f.cluster,
                        s.path_of(f.other).c_str());
    case ScanFindingKind::loop:
        return m.format("loop: the chain of %s runs back into its cluster %" PRIu32, who.c_str(), f.cluster);
    case ScanFindingKind::leaves_area:
        return m.format("leaves the area: the chain of %s goes to cluster %" PRIu32 ", outside the allocatable area",
                        who.c_str(), f.cluster);
    case ScanFindingKind::beyond_end:
        return m.format("cut: the chain of %s reaches beyond the end of the image at cluster %" PRIu32, who.c_str(),
                        f.cluster);
    case ScanFindingKind::marked_free:
        return m.format("marked free: cluster %" PRIu32 ", the last of %s, has a free FAT entry, not an end mark",
                        f.cluster, who.c_str());
    case ScanFindingKind::length_mismatch: {
        const bool directory = f.node == 0 || mode_is_directory(record_mode(s.nodes[f.node].record));
        return m.format("length: %s needs %" PRIu64 " clusters for its %s, its chain has %" PRIu64, who.c_str(),
                        f.wanted, directory ? "entries" : "length", f.found);
    }
    }
    return who;
}

} // namespace

std::string describe_save_health(const SaveHealth& s)
{
    Message m;
    const BuiltArchive& b = s.built;
    if (!mode_exists(s.mode)) {
        if (s.error != SplitError::ok) return m.format("not recoverable: %s", split_error_text(s.error));
        return std::string("recoverable ") + recovery_words(b, &m);
    }
    if (s.error != SplitError::ok) return m.format("not readable: %s", split_error_text(s.error));
    if (b.damage) return std::string("damaged: ") + damage_words(b, &m);
    const uint32_t deleted_members = b.problems - b.damage;
    Message n;
    if (deleted_members) return m.format("sound (%s marked deleted, left out)", counted(&n, deleted_members, "member", "members"));
    return "sound";
}

bool check_card_image_file(const char* path, const Reporter& report, CardHealth* out)
{
    *out = CardHealth{};
    ReadCard read;
    if (!read_card_image(path, report, "check", &read)) return false;
    const LoadedCard& loaded = read.loaded;
    SplitWork* work = read.work;
    const CardView card = loaded.view();
    CardHealth& h = *out;
    h.layout = loaded.layout;
    h.ecc = loaded.ecc;
    uint32_t problems = 0;
    auto line = [&](const std::string& text) { h.lines.push_back(text); };
    auto problem = [&](const std::string& text) {
        ++problems;
        line(text);
    };

    /* The layout and the image's size. */
    line(describe_card(h.layout, true));
    if (h.layout.problem != LayoutProblem::none)
        problem(std::string("superblock: its layout is not used (") + layout_problem_text(h.layout.problem) +
                "); read at the fixed layout of an 8 MB card");
    if (!h.layout.size_matches()) {
        Message m;
        const CardGeometry& g = h.layout.geometry;
        problem(m.format("size: the image is %s bytes; %s %u MB card image is %s or %s", Grouped(h.layout.file_size).c_str(),
                         g.card_megabytes() == 8 ? "an" : "a", g.card_megabytes(), Grouped(g.raw_size()).c_str(),
                         Grouped(g.coded_size()).c_str()));
    }

    /* The FAT against the live tree. */
    scan_card(card, &h.scan);
    const ScanCounts& n = h.scan.counts;
    {
        Message m;
        line(m.format("FAT: %s clusters in use, %s free; %" PRIu32 " cross-linked, %" PRIu32 " lost, %" PRIu32
                      " leaving the area, %" PRIu32 " loops, %" PRIu32 " marked free, %" PRIu32 " beyond the end, %" PRIu32
                      " lengths that do not match their chains",
                      Grouped(n.in_use).c_str(), Grouped(n.free).c_str(), n.count(ScanFindingKind::cross_link), n.lost,
                      n.count(ScanFindingKind::leaves_area), n.count(ScanFindingKind::loop),
                      n.count(ScanFindingKind::marked_free), n.count(ScanFindingKind::beyond_end),
                      n.count(ScanFindingKind::length_mismatch)));
    }
    for (const ScanFinding& f : h.scan.findings) problem(finding_line(h.scan, f));
    if (n.lost) {
        Message m;
        problem(m.format("lost: %s clusters in use that no live entry owns, the first cluster %" PRIu32,
                         Grouped(n.lost).c_str(), h.scan.first_lost));
    }

    /* The page codes. */
    if (h.layout.form == CardForm::coded) {
        Message m;
        line(m.format("page codes: %s pages checked, %zu corrected, %zu uncorrectable", Grouped(h.ecc.pages_checked).c_str(),
                      h.ecc.corrected.size(), h.ecc.uncorrectable.size()));
        /* Damage counts where the card's file system or a live cluster lies; elsewhere it is only shown. */
        auto page_line = [&](uint32_t page, const char* what, bool uncorrectable) {
            Message p, where;
            const bool used = page_in_use(card, page);
            const CardGeometry& g = h.layout.geometry;
            const uint32_t c = page / 2 - g.alloc_offset; /* wraps for pages before the area: never owned */
            const uint32_t owner = page / 2 >= g.alloc_offset && c < g.alloc_clusters ? h.scan.owner[c] : 0;
            const std::string of = owner ? " of " + h.scan.path_of(owner - 1) : "";
            const std::string text = p.format("page %" PRIu32 " (%s%s): %s%s", page, page_place(g, page, &where),
                                              of.c_str(), what, used ? "" : "; nothing the card uses lies there");
            if (!used) return line(text);
            if (uncorrectable) ++h.ecc_damage;
            problem(text);
        };
        for (uint32_t page : h.ecc.corrected) page_line(page, "a flipped bit, mended when read", false);
        for (uint32_t page : h.ecc.uncorrectable) page_line(page, "damage its page code cannot mend", true);
    } else {
        line("page codes: none (a raw image)");
    }

    /* Every save. */
    h.root = read_card_root(card, work);
    for (uint32_t c = 0; c < card.alloc_clusters(); ++c)
        if (h.scan.owned.contains(c)) work->live.insert(c);
    work->live_known = true;
    mark_damaged_pages(work, h.ecc.uncorrectable);
    uint32_t live = 0, deleted = 0;
    for (uint32_t i = 2; i < h.root.count; ++i) {
        SaveHealth s;
        const uint8_t* e = card_root_entry(card, *work, h.root, i);
        s.index = i;
        s.mode = record_mode(e);
        s.name = std::string(psu_record_name(e));
        uint32_t ignored = 0;
        s.error = build_entry_archive(card, h.root, i, ProblemSink{&count_problem, &ignored}, work, &s.built);
        s.bytes = s.built.size;
        (mode_exists(s.mode) ? live : deleted) += 1;
        h.saves.push_back(s);
    }
    {
        Message m;
        line(m.format("saves: %" PRIu32 " (%" PRIu32 " live, %" PRIu32 " deleted)", live + deleted, live, deleted));
    }
    h.clean = problems == 0;
    return true;
}

} // namespace ps2
