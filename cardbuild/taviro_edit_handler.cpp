/* taviro_edit_handler.cpp -- the card read and checked, edited in memory, written back in its own form */
#include "cardbuild/taviro_edit_handler.h"

#include <cinttypes>
#include <cstring>
#include <optional>
#include <vector>

#include "card/ecc.h"
#include "common/platform.h"
#include "common/psu.h"
#include "common/save_kind.h"

namespace ps2 {

namespace {

constexpr const char* kCheckHint = "run \"sorvik --check\" on it for details; split it with sorvik and build a new "
                                   "card with taviro -o";

/* The card file and its raw image: for a raw card the same bytes, for a coded one a copy without the spare
 * areas (checked against their codes, a single flipped bit mended). */
struct EditableCard {
    CardLayout layout;
    std::optional<plat::Block> file;
    std::optional<plat::Block> raw_copy;
    uint8_t* raw = nullptr;
    size_t file_size = 0;
    uint32_t mended_pages = 0;
};

bool load_card(const char* path, const Reporter& report, EditableCard* c)
{
    uint64_t size = 0;
    plat::IoError io = plat::query_file_size(path, &size);
    if (io != plat::IoError::ok) {
        report.errorf(path, "%s; the card is not changed", plat::describe_io_error(io));
        return false;
    }
    if (size > kMaxCodedImageSize || size < kPageSize) {
        report.errorf(path, "the file is %s bytes, no card image taviro edits (8 to 64 MB, raw or coded); "
                            "the card is not changed",
                      Grouped(size).c_str());
        return false;
    }
    c->file.emplace(size_t(size));
    if (!c->file->ok()) {
        report.error(path, "not enough memory to read the card; the card is not changed");
        return false;
    }
    plat::FileRead read;
    io = plat::read_file(path, c->file->span(), &read);
    if (io == plat::IoError::ok && read.file_size != size) io = plat::IoError::read_failed;
    if (io != plat::IoError::ok) {
        report.errorf(path, "%s; the card is not changed", plat::describe_io_error(io));
        return false;
    }
    c->file_size = read.bytes_read;
    const std::span<const uint8_t> bytes(c->file->data(), c->file_size);
    if (const CardError e = read_card_layout(bytes, read.file_size, &c->layout); e != CardError::ok) {
        report.errorf(path, "%s; the card is not changed", card_error_text(e));
        return false;
    }
    const CardLayout& l = c->layout;
    if (l.problem != LayoutProblem::none) {
        report.errorf(path, "its superblock's layout cannot be used (%s), so where its FAT stands is not known; "
                            "the card is not changed (%s)",
                      layout_problem_text(l.problem), kCheckHint);
        return false;
    }
    if (!l.size_matches()) {
        report.errorf(path, "the image is %s bytes, but its card's image is %s (raw) or %s (coded): it is cut or "
                            "has bytes behind it; the card is not changed (%s)",
                      Grouped(l.file_size).c_str(), Grouped(l.geometry.raw_size()).c_str(),
                      Grouped(l.geometry.coded_size()).c_str(), kCheckHint);
        return false;
    }
    if (l.form == CardForm::raw) {
        c->raw = c->file->data();
        return true;
    }
    c->raw_copy.emplace(l.geometry.raw_size());
    if (!c->raw_copy->ok()) {
        report.error(path, "not enough memory to read the card; the card is not changed");
        return false;
    }
    c->raw = c->raw_copy->data();
    std::vector<uint32_t> damaged;
    for (size_t p = 0; p < l.geometry.card_pages(); ++p) {
        uint8_t* page = c->raw + p * kPageSize;
        const uint8_t* coded = c->file->data() + p * kCodedPageSize;
        std::memcpy(page, coded, kPageSize);
        const EccPageState s = ecc_check_page(page, coded + kPageSize);
        if (s == EccPageState::corrected) ++c->mended_pages;
        if (s == EccPageState::uncorrectable) damaged.push_back(uint32_t(p));
    }
    if (!damaged.empty()) {
        report.errorf(path, "%zu pages have damage their codes cannot mend (the first: page %" PRIu32
                            "); the card is not changed (%s)",
                      damaged.size(), damaged[0], kCheckHint);
        return false;
    }
    return true;
}

/* The scan's verdict in one line; empty when the card adds up. */
std::string scan_problem(const CardScan& s)
{
    static const char* const kinds[] = {"cross-linked chains", "chains in a loop", "chains leaving the allocatable area",
                                        "chains beyond the image's end", "chains ending at a freed cluster",
                                        "chains whose length does not match"};
    std::string out;
    auto add = [&](uint32_t n, const char* what) {
        if (n == 0) return;
        if (!out.empty()) out += ", ";
        out += std::to_string(n);
        out += ' ';
        out += what;
    };
    for (size_t k = 0; k < 6; ++k) add(s.counts.findings[k], kinds[k]);
    add(s.counts.lost, "lost clusters");
    return out;
}

std::string free_words(uint32_t free, const CardGeometry& g)
{
    Message m;
    return m.format("%" PRIu32 " of %" PRIu32 " clusters free (1 KB each)", free, g.alloc_clusters);
}

bool delete_one(CardEditor& ed, uint32_t index, bool wipe, const char* subject, const char* what, bool dry,
                const Reporter& report)
{
    DeletedSave d;
    const EditError e = ed.delete_save(index, wipe, &d);
    if (e != EditError::ok) {
        report.errorf(subject, "%s; the card is not changed (%s)", edit_error_text(e), kCheckHint);
        return false;
    }
    report.notef(subject, "%s%s from root entry %" PRIu32 ": %" PRIu32 " clusters freed%s", what,
                 dry ? "would be deleted" : "deleted", index, d.clusters,
                 wipe ? " and overwritten with 0xFF" : ", their links kept (sorvik still recovers it)");
    return true;
}

} // namespace

CardEditResult edit_card_file(const char* path, const CardEditRequest& rq, const Reporter& report)
{
    CardEditResult result;
    result.refused = true;
    EditableCard card;
    if (!load_card(path, report, &card)) return result;
    const CardGeometry& g = card.layout.geometry;
    CardEditor ed(RawImage(card.raw, g.raw_size()), g);
    {
        CardScan scan;
        scan_card(ed.view(), &scan);
        const std::string problem = scan_problem(scan);
        if (!problem.empty()) {
            report.errorf(path, "the card's FAT and directories do not add up (%s); the card is not changed (%s)",
                          problem.c_str(), kCheckHint);
            return result;
        }
    }
    result.alloc_clusters = g.alloc_clusters;
    result.free_before = ed.free_clusters();
    report.notef(path, "before: %s", free_words(result.free_before, g).c_str());
    if (card.mended_pages)
        report.notef(path, "%" PRIu32 " pages had a flipped bit their codes mend; they are written back mended",
                     card.mended_pages);

    if (rq.kind == CardEditKind::remove) {
        for (const std::string& name : rq.items) {
            uint32_t index = ed.find_live_save(name);
            /* A Shift_JIS name as the messages show it, typed in the locale's character set. */
            for (const CardEditor::LiveSave& s : ed.live_saves())
                if (index == kNoRootEntry && report.shown(s.name) == name) index = s.index;
            if (index == kNoRootEntry) {
                report.errorf(name.c_str(), "no live save of this name is on %s (\"sorvik --list\" shows its saves); "
                                            "the card is not changed",
                              path);
                return result;
            }
            if (!delete_one(ed, index, rq.wipe, name.c_str(), "", rq.dry_run, report)) return result;
            ++result.saves_deleted;
        }
    } else {
        plat::Block work(kArchiveReadLimit);
        if (!work.ok()) {
            report.error(path, "not enough memory to read the archives; the card is not changed");
            return result;
        }
        for (const std::string& item : rq.items) {
            const char* file = item.c_str();
            plat::FileRead read;
            const plat::IoError io = plat::read_file(file, work.span(), &read);
            if (io != plat::IoError::ok || read.file_size > kArchiveReadLimit) {
                report.errorf(file, "%s; the card is not changed (leave the file out of the list)",
                              io != plat::IoError::ok ? plat::describe_io_error(io) : build_error_text(BuildError::too_large));
                return result;
            }
            const std::span<const uint8_t> archive(work.data(), read.bytes_read);
            if (const FileKind kind = recognise_file_kind(archive, read.file_size);
                kind != FileKind::unknown && kind != FileKind::psu) {
                char why[kMessageCapacity];
                report.errorf(file, "%s; the card is not changed (leave the file out of the list)",
                              describe_wrong_kind(kind, kTakesPsu, why));
                return result;
            }
            const std::string name(archive.size() >= kPsuEntrySize ? psu_record_name(archive.data()) : "");
            const std::string shown = report.shown(name);
            AddPlacement place;
            EditError e = ed.plan_add(archive, &place);
            if (e == EditError::not_an_archive) {
                report.errorf(file, "%s; the card is not changed (leave the file out of the list)",
                              build_error_text(place.build));
                return result;
            }
            for (uint32_t live; (live = ed.find_live_save(name)) != kNoRootEntry;) {
                if (!rq.replace) {
                    report.errorf(file, "a save named \"%s\" is on the card already (root entry %" PRIu32
                                        "); the card is not changed (--replace puts this one in its place)",
                                  shown.c_str(), live);
                    return result;
                }
                if (!delete_one(ed, live, rq.wipe, file, "the old save ", rq.dry_run, report)) return result;
                ++result.saves_deleted;
                e = ed.plan_add(archive, &place);
            }
            if (e == EditError::card_full) {
                report.errorf(file, "does not fit: \"%s\" needs %" PRIu32 " clusters and %" PRIu32
                                    " are free; the card is not changed (delete saves with --delete first)",
                              shown.c_str(), place.needed, place.free);
                return result;
            }
            std::vector<uint32_t> taken;
            e = ed.add_save(archive, place, &taken);
            if (e != EditError::ok) {
                report.errorf(file, "%s; the card is not changed (%s)", edit_error_text(e), kCheckHint);
                return result;
            }
            ++result.saves_added;
            report.notef(file, "%s \"%s\" in root entry %" PRIu32 " (%s), %" PRIu32 " clusters: %s",
                         rq.dry_run ? "would place" : "placed", shown.c_str(), place.root_index,
                         place.reuses_slot ? "a deleted entry's slot" : "a new entry", place.needed,
                         format_cluster_ranges(taken).c_str());
            if (place.plan.cut_short)
                report.warningf(file, "the record at offset %" PRIu64
                                      " is neither a file nor a directory: the archive is placed up to it",
                                place.plan.cut_offset);
        }
    }
    result.free_after = ed.free_clusters();
    result.refused = false;
    if (rq.dry_run) {
        report.notef(path, "after: %s; dry run, the card is not changed", free_words(result.free_after, g).c_str());
        return result;
    }
    std::span<const uint8_t> image(card.file->data(), card.file_size);
    if (card.layout.form == CardForm::coded)
        result.pages_recoded = recode_changed_pages(ConstRawImage(card.raw, g.raw_size()), card.file->span(), g);
    const plat::IoError io = plat::write_file_replace(path, image);
    if (io != plat::IoError::ok) {
        result.refused = true;
        report.errorf(path, "%s; the card is left as it was", plat::describe_io_error(io));
        return result;
    }
    result.written = true;
    report.notef(path, "after: %s", free_words(result.free_after, g).c_str());
    return result;
}

} // namespace ps2
