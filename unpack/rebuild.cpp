/* rebuild.cpp -- a PSU archive from a manifest and its member files */
#include "unpack/rebuild.h"

#include <algorithm>
#include <cstring>

#include "common/psu.h"

namespace ps2 {

const char* rebuild_error_text(RebuildError e)
{
    static const char* const texts[] = {REBUILD_ERROR_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(e));
}

RebuildError rebuild_psu(std::span<const uint8_t> manifest, const MemberSource& source, const PathRules& rules,
                         std::span<uint8_t> out, RebuildResult* result)
{
    *result = RebuildResult();
    if (out.size() > kRebuildCapacity) out = out.first(kRebuildCapacity);

    ManifestReader reader(manifest);
    ManifestBlock block;
    size_t pos = 0;
    /* True once a problem is found: later blocks are still checked, but no
     * longer placed (their place in out is no longer known to be right). */
    bool failed = false;
    while (reader.next(&block)) {
        const size_t index = ++result->entries;
        const auto problem = [&](RebuildError error) -> RebuildProblem& {
            RebuildProblem& p = result->problems.emplace_back();
            p.error = error;
            p.block = index;
            p.line = block.first_line;
            failed = true;
            return p;
        };
        /* Once the lines are out of place, a cut is one more sign of that, not news of its own. */
        const bool shifted = !reader.notes().empty() && reader.notes().back().fault == ManifestLineFault::shifted;
        if (block.name_cut && !shifted) result->cuts.push_back({index, block.first_line, ManifestField::name});
        if (block.created_cut && !shifted) result->cuts.push_back({index, block.first_line, ManifestField::created});
        if (block.modified_cut && !shifted) result->cuts.push_back({index, block.first_line, ManifestField::modified});

        if (kPsuEntrySize > out.size() - pos) {
            problem(RebuildError::too_large).needed = uint64_t(pos) + kPsuEntrySize;
            break;
        }
        uint8_t* record = out.data() + pos;
        if (!failed) std::memcpy(record, block.record.data(), kPsuEntrySize);
        const size_t data_at = pos + kPsuEntrySize;
        if (!mode_is_file(load_u16le(block.record.data() + psu_field::mode))) {
            pos = data_at;
            continue;
        }
        ++result->files;

        const MemberNameFault fault = check_member_name(block.name2, rules);
        if (fault != MemberNameFault::none) {
            RebuildProblem& p = problem(RebuildError::unsafe_member_name);
            p.name2 = std::string(block.name2);
            p.name_fault = fault;
            pos = data_at;
            continue;
        }
        /* The room behind the record: the member is read straight into its place. */
        const std::span<uint8_t> room = out.subspan(data_at);
        uint64_t file_size = 0;
        size_t got = 0;
        const char* why = source.read ? source.read(source.context, block.name2, room, &file_size, &got)
                                      : "no member files";
        if (why) {
            RebuildProblem& p = problem(RebuildError::member_unreadable);
            p.name2 = std::string(block.name2);
            p.detail = why;
            pos = data_at;
            continue;
        }
        const uint64_t padded = psu_padded_size(file_size);
        if (file_size > UINT32_MAX || padded > room.size()) {
            RebuildProblem& p = problem(RebuildError::too_large);
            p.name2 = std::string(block.name2);
            p.needed = uint64_t(data_at) + padded;
            break;
        }
        if (got != file_size) {
            RebuildProblem& p = problem(RebuildError::member_changed);
            p.name2 = std::string(block.name2);
            pos = data_at;
            continue;
        }
        if (!failed) {
            set_record_length(record, uint32_t(file_size));
            /* The padding stays zero: a caller's buffer is zero-filled and nothing else wrote there. */
            std::memset(room.data() + got, 0, size_t(padded - got));
        }
        pos = data_at + size_t(padded);
    }
    result->partial_lines = reader.partial_lines();
    result->line_notes = reader.notes();
    result->size = pos;
    if (!result->problems.empty()) return result->problems.front().error;
    if (result->entries == 0) return RebuildError::no_entries;
    return RebuildError::ok;
}

MemberNameFault rebuild_result_name(std::span<const uint8_t> archive, bool temp_names, const PathRules& rules,
                                    std::string* name, const TextConverter& to_user, bool* converted)
{
    name->clear();
    if (converted) *converted = false;
    if (temp_names) {
        *name = "temp.psu";
        return MemberNameFault::none;
    }
    const std::string_view first = archive.size() >= kPsuEntrySize ? psu_record_name(archive.data())
                                                                      : std::string_view();
    /* A converted name is checked as it will be written (a trail byte 0x5C is no backslash in it). */
    std::string in_user;
    const bool use = save_name_to_user(first, to_user, &in_user) &&
                     check_result_name(in_user, rules) == MemberNameFault::none;
    const MemberNameFault fault = use ? MemberNameFault::none : check_result_name(first, rules);
    if (fault == MemberNameFault::none) {
        *name = use ? in_user : std::string(first);
        *name += ".psu";
        if (converted) *converted = use;
    }
    return fault;
}

} // namespace ps2
