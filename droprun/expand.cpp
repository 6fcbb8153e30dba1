/* expand.cpp -- the tail filter, the seven placeholder values, template expansion */
#include "droprun/expand.h"

#include <algorithm>

namespace ps2::droprun {

namespace {

/* Steps one character of a view (which need not end in a NUL). */
size_t char_length(std::string_view text, size_t i, CharStep step)
{
    const char pair[3] = {text[i], i + 1 < text.size() ? text[i + 1] : '\0', '\0'};
    const size_t n = size_t(step(pair) - pair);
    return n == 0 ? 1 : n; /* a NUL inside the view is one byte */
}

bool ending_matches(std::string_view ending, std::string_view path)
{
    const std::string_view tail = path.substr(path.size() - ending.size());
    for (size_t i = 0; i < ending.size(); ++i)
        if (fold_ascii_upper(uint8_t(ending[i])) != fold_ascii_upper(uint8_t(tail[i]))) return false;
    return true;
}

/* Positions of the last separator and of the last "." behind it, scanning
 * with the code page's stepping ("\" and "." themselves are single bytes). */
size_t last_separator(std::string_view path, const PathRules& rules)
{
    size_t last = std::string_view::npos;
    for (size_t i = 0; i < path.size();) {
        if (path[i] == rules.separator) {
            last = i;
            ++i;
        } else if (path[i] == '.') {
            ++i;
        } else {
            i += char_length(path, i, rules.step);
        }
    }
    return last;
}

/* An expansion that does not fit leaves no text behind. */
bool fail(PathBuffer* out)
{
    out->cut(0);
    return false;
}

} // namespace

std::string_view command_line_path(std::string_view arguments, CharStep step)
{
    if (arguments.empty() || arguments[0] != '"') return arguments;
    size_t i = 1;
    while (i < arguments.size() && arguments[i] != '"') i += char_length(arguments, i, step);
    return arguments.substr(1, std::min(i, arguments.size()) - 1);
}

bool tail_filter_takes(std::string_view filter, std::string_view path, CharStep step)
{
    if (filter.empty()) return true;
    size_t begin = 0;
    for (size_t i = 0;; ) {
        if (i >= filter.size() || filter[i] == '|') {
            const size_t end = std::min(i, filter.size());
            const std::string_view ending = filter.substr(begin, end - begin);
            if (!ending.empty() && ending.size() < path.size() && ending_matches(ending, path)) return true;
            if (i >= filter.size()) return false;
            begin = ++i;
            continue;
        }
        i += char_length(filter, i, step);
    }
}

std::string_view folder_part(std::string_view path, const PathRules& rules)
{
    const size_t sep = last_separator(path, rules);
    return sep == std::string_view::npos ? std::string_view() : path.substr(0, sep);
}

PlaceholderValues work_out_values(std::string_view path, const SystemFolders& folders, const PathRules& rules)
{
    PlaceholderValues v;
    v[Placeholder::windows] = folders.windows;
    v[Placeholder::process] = folders.process;
    v[Placeholder::desktop] = folders.desktop;
    v[Placeholder::path] = path;
    const size_t sep = last_separator(path, rules);
    const std::string_view name = sep == std::string_view::npos ? path : path.substr(sep + 1);
    v[Placeholder::dir] = sep == std::string_view::npos ? std::string_view() : path.substr(0, sep);
    v[Placeholder::name] = name;
    /* The name holds no separator, so its last "." is found the same way. */
    size_t dot = std::string_view::npos;
    for (size_t i = 0; i < name.size();) {
        if (name[i] == '.') {
            dot = i;
            ++i;
        } else {
            i += char_length(name, i, rules.step);
        }
    }
    v[Placeholder::body] = dot == std::string_view::npos ? name : name.substr(0, dot);
    return v;
}

std::string escape_double_quotes(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    size_t slashes = 0;
    for (const char c : value) {
        if (c == '"') {
            out.append(slashes, '\\'); /* n backslashes before a quote: 2n, then \" */
            out += "\\\"";
            slashes = 0;
            continue;
        }
        slashes = c == '\\' ? slashes + 1 : 0;
        out += c;
    }
    return out;
}

bool expand_template(std::string_view text, const PlaceholderValues& values, PathBuffer* out)
{
    out->cut(0);
    if (!out->append(text.data(), text.size())) return false;
    PathBuffer copy;
    for (size_t p = 0; p < kPlaceholderCount; ++p) {
        const std::string_view key = kPlaceholderTexts[p];
        const std::string_view value = values.value[p];
        const std::string_view from(out->c_str(), out->length());
        if (from.find(key) == std::string_view::npos) continue; /* nothing to do for this pass */
        copy.cut(0);
        if (!copy.append(out->c_str(), out->length())) return fail(out);
        const std::string_view src(copy.c_str(), copy.length());
        out->cut(0);
        size_t i = 0;
        while (i < src.size()) {
            const size_t hit = src.find(key, i);
            const size_t plain_end = hit == std::string_view::npos ? src.size() : hit;
            if (!out->append(src.data() + i, plain_end - i)) return fail(out);
            if (hit == std::string_view::npos) break;
            if (!out->append(value.data(), value.size())) return fail(out);
            i = hit + key.size();
        }
    }
    return true;
}

} // namespace ps2::droprun
