/* unpack.cpp -- the linear unpack walk and the manifest it gives */
#include "unpack/unpack.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>

#include "common/save_kind.h"

namespace ps2 {

size_t UnpackPlan::file_count() const
{
    size_t n = 0;
    for (const auto& e : entries) n += e.is_file ? 1 : 0;
    return n;
}

static Name2 make_name2(std::string_view name)
{
    Name2 n;
    n.size = uint8_t(name.size() < n.text.size() ? name.size() : n.text.size());
    for (size_t i = 0; i < n.size; ++i) n.text[i] = name[i];
    return n;
}

static Name2 make_temp_name2(uint32_t counter)
{
    char text[32];
    const int n = std::snprintf(text, sizeof text, "temp%04u.bin", unsigned(counter));
    return make_name2(std::string_view(text, n > 0 ? size_t(n) : 0));
}

static bool has_line_break(std::string_view s)
{
    return s.find('\r') != std::string_view::npos || s.find('\n') != std::string_view::npos;
}

/* QUILBAN's reading: linearly from offset 0 to the end of the file; an
 * entry with the file bit is followed by its data, every other entry is
 * bare; a file cut short keeps the data there is. */
constexpr PsuReadPolicy kQuilbanReading{false, PsuKindRule::file_bit, false, true};

void plan_unpack(std::span<const uint8_t> archive, const UnpackOptions& options, UnpackPlan* plan)
{
    *plan = UnpackPlan();
    std::vector<PsuNode> nodes;
    size_t end = 0;
    plan->shape = walk_psu_archive(archive, &nodes, &end);

    /* Member file names already written, to tell when a later member overwrites one. */
    std::unordered_map<std::string, size_t> written;
    PsuRecordReader reader(archive, kQuilbanReading);
    PsuRecord r;
    uint32_t counter = 0;
    while (reader.next(&r)) {
        UnpackEntry e;
        e.offset = r.offset;
        const std::string_view name = psu_record_name(r.entry);
        std::string converted;
        if (options.temp_names) {
            e.name2 = make_temp_name2(counter++);
        } else if (save_name_to_user(name, options.to_user, &converted) && converted.size() <= kManifestName2Max &&
                   check_member_name(converted, options.rules) == MemberNameFault::none) {
            /* Checked as written: a trail byte 0x5C of the Shift_JIS name is no backslash any more. */
            e.name2 = make_name2(converted);
            e.name2_converted = true;
        } else {
            e.name2 = make_name2(name);
        }
        e.name_breaks_line = has_line_break(name);
        e.is_file = r.kind == PsuRecordKind::file;
        if (e.is_file) {
            e.length = r.length;
            e.data = r.data;
            e.data_cut = r.data_cut;
            e.name_fault = check_member_name(e.name2.view(), options.rules);
            if (e.name_fault == MemberNameFault::none) {
                std::string key(e.name2.view());
                if (options.names_fold_case)
                    for (char& c : key) c = char(fold_ascii_upper(uint8_t(c)));
                const auto [it, fresh] = written.try_emplace(std::move(key), plan->entries.size());
                if (!fresh) {
                    e.replaces = it->second;
                    it->second = plan->entries.size();
                }
            }
        }
        plan->entries.push_back(e);
    }
    if (reader.stop() == PsuReadStop::cut_entry) plan->ignored_tail = reader.remaining();
}

MissingMembers count_missing_members(std::span<const uint8_t> archive, const UnpackPlan& plan)
{
    MissingMembers missing;
    /* Per open directory: its entry index and the members it still waits for. Every directory opened
     * takes three entries, so the stack is bounded by the entries there are. */
    struct Open {
        size_t entry;
        uint64_t left;
    };
    std::vector<Open> open;
    const auto is_link = [&](size_t i) {
        const std::string_view n = psu_record_name(archive.data() + plan.entries[i].offset);
        return n == "." || n == "..";
    };
    for (size_t i = 0; i < plan.entries.size();) {
        if (!open.empty()) --open.back().left;
        const uint16_t mode = record_mode(archive.data() + plan.entries[i].offset);
        if (mode_is_directory(mode) && !mode_is_file(mode)) {
            const uint32_t length = record_length(archive.data() + plan.entries[i].offset);
            size_t links = 0;
            while (links < 2 && i + 1 + links < plan.entries.size() && is_link(i + 1 + links)) ++links;
            open.push_back({i, length > 2 ? uint64_t(length - 2) : 0});
            i += 1 + links;
        } else {
            ++i;
        }
        if (open.empty()) break; /* the first entry is not a directory: nothing is promised */
        while (!open.empty() && open.back().left == 0) open.pop_back();
        if (open.empty()) break;
    }
    for (const Open& o : open) missing.count += o.left;
    missing.directories = open.size();
    if (!open.empty()) missing.directory = open.back().entry;
    return missing;
}

bool begins_as_save_directory(std::span<const uint8_t> archive)
{
    return recognise_file_kind(archive, archive.size()) == FileKind::psu && mode_is_directory(record_mode(archive.data()));
}

size_t unpack_manifest_capacity(const UnpackPlan& plan)
{
    return kManifestHeaderSize + plan.entries.size() * kManifestBlockMax;
}

bool write_unpack_manifest(std::span<const uint8_t> archive, const UnpackPlan& plan, ManifestWriter* out)
{
    if (!out->add_header()) return false;
    for (const auto& e : plan.entries) {
        if (kPsuEntrySize > archive.size() || e.offset > archive.size() - kPsuEntrySize) return false;
        if (!out->add_block(archive.data() + e.offset, e.name2.view())) return false;
    }
    return true;
}

} // namespace ps2
