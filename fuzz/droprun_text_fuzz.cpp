/* droprun_text_fuzz.cpp -- DROPRUN's text pieces on any text: the command-line path and arguments stay inside
 * the command line, the split never grows an argument, the tail filter and the expansion give what plain
 * reference versions give (the expansion never more than 1023 bytes), the seven values are parts of the path,
 * a quoted value reaches the started program whole, and the list's path and caption fit their buffers.
 *
 * Input: NUL-separated pieces: a command line, a tail filter, a path, a template, then the seven values
 * (%windows% to %body%). Missing pieces are empty. */
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/cmdline.h"
#include "droprun/expand.h"
#include "droprun/presets.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace ps2;
using namespace ps2::droprun;

bool inside(std::string_view part, std::string_view whole)
{
    return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

/* The tail filter read plainly: endings between the "|" found by stepping, folded suffix compare. */
bool reference_filter(const std::string& filter, const std::string& path, CharStep step)
{
    if (filter.empty()) return true;
    auto fold = [](std::string s) {
        for (char& c : s) c = char(fold_ascii_upper(uint8_t(c)));
        return s;
    };
    std::vector<std::string> endings(1);
    for (const char* p = filter.c_str(); *p;) {
        const char* next = step(p);
        if (next == p + 1 && *p == '|')
            endings.emplace_back();
        else
            endings.back().append(p, size_t(next - p));
        p = next;
    }
    for (const std::string& e : endings)
        if (!e.empty() && e.size() < path.size() && fold(path.substr(path.size() - e.size())) == fold(e)) return true;
    return false;
}

/* The expansion read plainly: seven passes of replace-all, too long once any pass gives more than 1023 bytes. */
bool reference_expand(const std::string& text, const PlaceholderValues& values, std::string* out)
{
    *out = text;
    if (out->size() > 1023) return false;
    for (size_t p = 0; p < kPlaceholderCount; ++p) {
        const std::string key(kPlaceholderTexts[p]);
        std::string next;
        size_t i = 0;
        for (size_t hit; (hit = out->find(key, i)) != std::string::npos; i = hit + key.size())
            next += out->substr(i, hit - i) + values.value[p];
        next += out->substr(i);
        *out = next;
        if (out->size() > 1023) return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> piece(11);
    {
        size_t k = 0;
        for (size_t i = 0; i < size && k < piece.size(); ++i) {
            if (data[i] == 0)
                ++k;
            else
                piece[k] += char(data[i]);
        }
    }
    const std::string& line = piece[0];
    const std::string& filter = piece[1];
    const std::string& path = piece[2];
    const std::string& templ = piece[3];

    for (const CharStep step : {step_single_byte, step_shift_jis}) {
        /* The command line: what the program receives, the path taken from it, its arguments. */
        const std::string_view args = command_line_arguments(line, step);
        FUZZ_CHECK(inside(args, line));
        const std::string_view taken = command_line_path(args, step);
        FUZZ_CHECK(inside(taken, args));
        const std::vector<std::string> argv = split_command_line(line, step);
        FUZZ_CHECK(argv.size() <= line.size());
        for (const std::string& a : argv) FUZZ_CHECK(a.size() <= line.size());

        FUZZ_CHECK(tail_filter_takes(filter, path, step) == reference_filter(filter, path, step));
    }

    for (const PathRules* rules : {&kWindowsShiftJisRules, &kPosixRules}) {
        const SystemFolders folders{piece[4], piece[5], piece[6]};
        const PlaceholderValues v = work_out_values(path, folders, *rules);
        const std::string& dir = v[Placeholder::dir];
        const std::string& name = v[Placeholder::name];
        const std::string& body = v[Placeholder::body];
        FUZZ_CHECK(v[Placeholder::path] == path);
        FUZZ_CHECK(dir.empty() ? name.size() <= path.size() : dir + rules->separator + name == path);
        FUZZ_CHECK(path.compare(path.size() - name.size(), name.size(), name) == 0);
        FUZZ_CHECK(name.compare(0, body.size(), body) == 0);
        FUZZ_CHECK(folder_part(path, *rules) == std::string_view(dir));

        PathBuffer list;
        if (preset_list_path(path.c_str(), *rules, &list)) {
            FUZZ_CHECK(list.length() < kPathCapacity && list.length() >= 4);
            FUZZ_CHECK(std::strcmp(list.c_str() + list.length() - 4, ".lst") == 0);
        }
        FUZZ_CHECK(inside(caption_of(path.c_str(), *rules), path));
    }

    /* The expansion, with values from the input. */
    PlaceholderValues values;
    for (size_t p = 0; p < kPlaceholderCount; ++p) values.value[p] = piece[4 + p];
    PathBuffer out;
    std::string want;
    const bool ok = expand_template(templ, values, &out);
    FUZZ_CHECK(ok == reference_expand(templ, values, &want));
    FUZZ_CHECK(ok ? std::string(out.c_str(), out.length()) == want : out.length() == 0);
    FUZZ_CHECK(out.length() <= 1023 && std::strlen(out.c_str()) <= out.length());

    /* A value put between quotes reaches the program as one argument, as it is (a value that ends in a
     * backslash escapes the closing quote: a known limit of the Windows command-line rules; one that holds
     * a placeholder is expanded again by the later passes, as they are meant to). */
    if (!path.empty() && path.back() != '\\' && path.size() < 900 && path.find('%') == std::string::npos) {
        PlaceholderValues quoted;
        quoted[Placeholder::path] = escape_double_quotes(path);
        if (expand_template("prog \"%path%\" end", quoted, &out)) {
            const std::vector<std::string> argv = split_command_line(out.c_str(), step_single_byte);
            FUZZ_CHECK(argv.size() == 3 && argv[0] == "prog" && argv[1] == path && argv[2] == "end");
        }
    }
    return 0;
}
