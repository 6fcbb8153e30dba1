/* unpack.cpp -- the linear unpack walk and the manifest it gives */
#include "unpack/unpack.h"

#include <cstdio>
#include <string>
#include <unordered_map>

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
