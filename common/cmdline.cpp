/* cmdline.cpp -- a command line read as the Windows C runtime reads it */
#include "common/cmdline.h"

namespace ps2 {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

/* Length of the character at p (1 or 2), never past the end of the text.
 * The stepping functions want a NUL-terminated text; a view is not, so a
 * lead byte is looked at with its follower copied into a small buffer. */
size_t char_length(std::string_view text, size_t i, CharStep step)
{
    const char pair[3] = {text[i], i + 1 < text.size() ? text[i + 1] : '\0', '\0'};
    return size_t(step(pair) - pair);
}

} // namespace

std::vector<std::string> split_command_line(std::string_view line, CharStep step)
{
    std::vector<std::string> args;
    /* A NUL ends the text, as it would in the system's buffer. */
    if (const size_t nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);

    size_t i = 0;
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i == line.size()) return args;

    /* The program name: quotes toggle and are dropped, no escapes. */
    std::string name;
    bool quoted = false;
    while (i < line.size() && (quoted || !is_blank(line[i]))) {
        if (line[i] == '"') {
            quoted = !quoted;
            ++i;
            continue;
        }
        const size_t n = char_length(line, i, step);
        name.append(line.substr(i, n));
        i += n;
    }
    args.push_back(std::move(name));

    for (;;) {
        while (i < line.size() && is_blank(line[i])) ++i;
        if (i == line.size()) break;
        std::string arg;
        quoted = false;
        while (i < line.size()) {
            size_t slashes = 0;
            while (i < line.size() && line[i] == '\\') {
                ++slashes;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                arg.append(slashes / 2, '\\');
                if (slashes % 2 == 1) {
                    arg.push_back('"'); /* escaped quote */
                    ++i;
                } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    arg.push_back('"'); /* "" inside quotes */
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
                continue;
            }
            arg.append(slashes, '\\');
            if (i == line.size() || (!quoted && is_blank(line[i]))) break;
            const size_t n = char_length(line, i, step);
            arg.append(line.substr(i, n));
            i += n;
        }
        args.push_back(std::move(arg));
    }
    return args;
}

std::string_view command_line_arguments(std::string_view line, CharStep step)
{
    size_t i = 0;
    if (!line.empty() && line[0] == '"') {
        i = 1;
        while (i < line.size() && line[i] != '"') i += char_length(line, i, step);
        if (i < line.size()) ++i; /* the closing quote */
    } else {
        while (i < line.size() && !is_blank(line[i])) i += char_length(line, i, step);
    }
    while (i < line.size() && is_blank(line[i])) ++i;
    return line.substr(i);
}

} // namespace ps2
