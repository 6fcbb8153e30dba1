/* membername.cpp -- safe member file names, the manifest's name */
#include "unpack/membername.h"

#include <cstring>

#include "common/errors.h"
#include "unpack/manifest.h"

namespace ps2 {

const char* member_name_fault_text(MemberNameFault f)
{
    static const char* const texts[] = {MEMBER_NAME_FAULT_LIST(PS2_ERROR_TEXT)};
    return error_text_at(texts, size_t(f));
}

MemberNameFault check_result_name(std::string_view name, const PathRules& rules)
{
    if (name.empty()) return MemberNameFault::empty;
    if (name == ".") return MemberNameFault::dot;
    if (name == "..") return MemberNameFault::dot_dot;
    if (name.find_first_not_of(". ") == std::string_view::npos) return MemberNameFault::dots_and_spaces;
    /* The stepping wants a NUL-terminated text; names are shorter than a path. */
    char text[kPathCapacity];
    if (name.size() >= sizeof text) return MemberNameFault::too_long;
    std::memcpy(text, name.data(), name.size());
    text[name.size()] = '\0';
    /* Names come up to a NUL (entries) or a line end (manifests), so none holds a NUL. */
    for (const char* p = text; *p != '\0';) {
        if (*p == '\\' || *p == '/') return MemberNameFault::separator;
        if (*p == '\r' || *p == '\n') return MemberNameFault::line_break;
        p = rules.step(p);
    }
    return MemberNameFault::none;
}

MemberNameFault check_member_name(std::string_view name, const PathRules& rules)
{
    const MemberNameFault f = check_result_name(name, rules);
    if (f != MemberNameFault::none) return f;
    const std::string_view manifest(kManifestName);
    if (name.size() == manifest.size()) {
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i)
            same = fold_ascii_upper(uint8_t(name[i])) == uint8_t(manifest[i]);
        if (same) return MemberNameFault::manifest_name;
    }
    return MemberNameFault::none;
}

bool is_manifest_path(const char* path, const PathRules& rules)
{
    return compare_folded(find_name_part(path, rules), kManifestName) == 0;
}

} // namespace ps2
