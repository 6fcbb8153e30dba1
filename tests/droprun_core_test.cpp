/* droprun_core_test.cpp -- DROPRUN's core: list path, caption, preset groups, filter, values, expansion */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/cmdline.h"
#include "droprun/expand.h"
#include "droprun/presets.h"

using namespace ps2;
using namespace ps2::droprun;

namespace {

std::string list_path_of(const char* program, const PathRules& rules = kWindowsShiftJisRules)
{
    PathBuffer out;
    if (!preset_list_path(program, rules, &out)) return "<too long>";
    return out.c_str();
}

PresetList load(const std::string& text)
{
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    PresetList list;
    load_preset_list(memory_source(&bytes), &list);
    return list;
}

PresetFields select(const std::string& text, size_t index)
{
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    PresetFields f;
    read_preset(memory_source(&bytes), index, &f);
    return f;
}

/* Every preset in one pass; checked against the start-up load and the selections. */
std::vector<Preset> all(const std::string& text)
{
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    std::vector<Preset> presets;
    read_all_presets(memory_source(&bytes), &presets);
    return presets;
}

/* Lines "L1".."Ln", each ended by the given terminator. */
std::string numbered_lines(int n, const char* eol = "\r\n")
{
    std::string s;
    for (int i = 1; i <= n; ++i) s += "L" + std::to_string(i) + eol;
    return s;
}

std::vector<std::string> fields_of(const PresetFields& f) { return {f.field.begin(), f.field.end()}; }

std::string expand(const std::string& text, const PlaceholderValues& v)
{
    PathBuffer out;
    if (!expand_template(text, v, &out)) return "<too long>";
    return out.c_str();
}

PlaceholderValues values_for(const char* path)
{
    return work_out_values(path, {"C:\\WINDOWS", "C:\\tools", "C:\\Users\\u\\Desktop"}, kWindowsShiftJisRules);
}

} // namespace

/* ---- names from the program's path ---- */

TEST(DroprunNames, ListPathAndCaption)
{
    EXPECT_EQ(list_path_of("C:\\tools\\runner.exe"), "C:\\tools\\runner.lst");
    EXPECT_EQ(list_path_of("C:\\tools\\viewer.exe"), "C:\\tools\\viewer.lst");
    EXPECT_EQ(list_path_of("C:\\tools\\run.me.exe"), "C:\\tools\\run.me.lst");
    EXPECT_EQ(list_path_of("C:\\tools.d\\runner"), "C:\\tools.d\\runner.lst"); /* no extension: appended */
    EXPECT_EQ(list_path_of("/usr/local/bin/droprun", kPosixRules), "/usr/local/bin/droprun.lst");
    EXPECT_EQ(list_path_of((std::string(1019, 'a') + ".exe").c_str()), std::string(1019, 'a') + ".lst");
    EXPECT_EQ(list_path_of(std::string(1020, 'a').c_str()), "<too long>");

    EXPECT_EQ(caption_of("C:\\tools\\runner.exe", kWindowsShiftJisRules), "runner");
    EXPECT_EQ(caption_of("C:\\tools\\run.me.exe", kWindowsShiftJisRules), "run");
    EXPECT_EQ(caption_of("C:\\t.d\\runner", kWindowsShiftJisRules), "runner");
    EXPECT_EQ(caption_of("C:\\t\\.hidden", kWindowsShiftJisRules), "");
    /* 0x95 0x5C is one Shift_JIS character whose second byte is "\". */
    EXPECT_EQ(caption_of("C:\\t\\\x95\x5C.exe", kWindowsShiftJisRules), "\x95\x5C");
    EXPECT_EQ(caption_of("C:\\t\\\x95\x5C.exe", kWindowsSingleByteRules), "");
}

/* ---- preset groups ---- */

TEST(DroprunPresets, TwentyFiveLinesGiveThreePresets)
{
    const std::string text = numbered_lines(25);
    const PresetList list = load(text);
    EXPECT_EQ(list.names, (std::vector<std::string>{"L2", "L12", "L22"}));
    EXPECT_EQ(fields_of(list.first), (std::vector<std::string>{"L3", "L4", "L5", "L6", "L7", "L8", "L9", "L10"}));
    EXPECT_EQ(fields_of(select(text, 1)), (std::vector<std::string>{"L13", "L14", "L15", "L16", "L17", "L18", "L19", "L20"}));
    EXPECT_EQ(fields_of(select(text, 2)), (std::vector<std::string>{"L23", "L24", "L25", "", "", "", "", ""}));
    EXPECT_EQ(fields_of(select(text, 3)), std::vector<std::string>(8, "")); /* beyond the list */
    EXPECT_EQ(fields_of(select(text, 0)), fields_of(list.first));           /* the first put back */
    const std::vector<Preset> presets = all(text);
    ASSERT_EQ(presets.size(), 3u);
    EXPECT_EQ(presets[2].name, "L22");
    EXPECT_EQ(fields_of(presets[2].fields), fields_of(select(text, 2)));
}

TEST(DroprunPresets, WhereTheListEnds)
{
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"empty list: one empty preset", "", {""}},
        {"one line only", "x", {""}},
        {"exactly one group", numbered_lines(10), {"L2"}},
        {"one byte into the second group", numbered_lines(10) + "-", {"L2", ""}},
        {"blank line opens a group", numbered_lines(10) + "\n", {"L2", ""}},
        {"empty name line counts", "-\n\n" + numbered_lines(8) + "-\nsecond\n", {"", "second"}},
        {"NUL at a group's start ends", numbered_lines(10) + std::string("\0L11\nL12\n", 9), {"L2"}},
        {"NUL inside a group's first line", numbered_lines(10) + std::string("L\0", 2) + "L12\n", {"L2", ""}},
        {"LF, lone CR and CR LF mixed", "a\rname\n1\r\n2\r3\n4\n5\n6\n7\n8\rb\r\nnext\n", {"name", "next"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(load(c.text).names, c.names) << c.what;
        const std::vector<Preset> presets = all(c.text);
        ASSERT_EQ(presets.size(), c.names.size()) << c.what;
        for (size_t i = 0; i < presets.size(); ++i) {
            EXPECT_EQ(presets[i].name, c.names[i]) << c.what;
            EXPECT_EQ(fields_of(presets[i].fields), fields_of(select(c.text, i))) << c.what;
        }
    }
}

TEST(DroprunPresets, NulCutsTheRestOfTheList)
{
    /* The text of the line with the NUL is kept; every line after reads empty. */
    const std::string text = std::string("-\nname\ncmd\0junk\nfolder\n", 23);
    const PresetList list = load(text);
    EXPECT_EQ(list.names, std::vector<std::string>{"name"});
    EXPECT_EQ(fields_of(list.first), (std::vector<std::string>{"cmd", "", "", "", "", "", "", ""}));
}

TEST(DroprunPresets, LongLinesAreCutAtTheWindow)
{
    /* A 1030-byte line is read as 1023 bytes and a second line of 7. */
    const std::string text = "-\nname\n" + std::string(1030, 'c') + "\n2\n3\n4\n5\n6\n7\n8\n";
    const PresetList list = load(text);
    EXPECT_EQ(list.first.field[0], std::string(1023, 'c'));
    EXPECT_EQ(list.first.field[1], std::string(7, 'c'));
    EXPECT_EQ(list.first.field[7], "7");
    EXPECT_EQ(list.names.size(), 2u); /* "8" opens a second group */
}

TEST(DroprunPresets, LargeListsReadAcrossBufferChunks)
{
    std::string text;
    for (int g = 0; g < 3000; ++g) {
        text += "----\r\npreset " + std::to_string(g) + "\r\n";
        for (int f = 0; f < 8; ++f) text += std::string(size_t(10 + (g * 7 + f) % 40), char('a' + f)) + "\r\n";
    }
    const PresetList list = load(text);
    ASSERT_EQ(list.names.size(), 3000u);
    EXPECT_EQ(list.names[2999], "preset 2999");
    const PresetFields f = select(text, 2345);
    EXPECT_EQ(f.field[7], std::string(size_t(10 + (2345 * 7 + 7) % 40), 'h'));
}

TEST(DroprunPresets, NamesStopAtTheLimit)
{
    std::string text;
    for (size_t g = 0; g < kMaxPresets + 5; ++g) text += "-\nn\n\n\n\n\n\n\n\n\n";
    EXPECT_EQ(load(text).names.size(), kMaxPresets);
    EXPECT_EQ(all(text).size(), kMaxPresets);
}

/* ---- command-line path ---- */

TEST(DroprunCommandLine, OnePathFromTheArguments)
{
    const CharStep sjis = step_shift_jis;
    EXPECT_EQ(command_line_path("\"C:\\my files\\a.psu\"", sjis), "C:\\my files\\a.psu");
    EXPECT_EQ(command_line_path("C:\\my files\\a.psu", sjis), "C:\\my files\\a.psu");      /* space kept */
    EXPECT_EQ(command_line_path("\"C:\\a.psu\" \"C:\\b.psu\"", sjis), "C:\\a.psu");       /* rest ignored */
    EXPECT_EQ(command_line_path("\"C:\\unclosed path", sjis), "C:\\unclosed path");
    EXPECT_EQ(command_line_path("\"\"", sjis), "");
    EXPECT_EQ(command_line_path("C:\\a \"b\"", sjis), "C:\\a \"b\""); /* unquoted: whole text */
    /* A lead byte followed by a quote byte is no double-byte pair in
     * Shift_JIS (trail bytes are 0x40 and up), so the quote still ends it. */
    EXPECT_EQ(command_line_path("\"C:\\\x83\x5C\\x\" y", sjis), "C:\\\x83\x5C\\x");
    EXPECT_EQ(command_line_path("\"C:\\\x83\"x", sjis), "C:\\\x83\"x"); /* 0x83 0x22: one character */
    EXPECT_EQ(command_line_path("\"C:\\\x83\"x", step_single_byte), "C:\\\x83");
}

/* ---- tail filter ---- */

TEST(DroprunFilter, Endings)
{
    struct Case {
        const char* filter;
        const char* path;
        bool taken;
    };
    const Case cases[] = {
        {"", "C:\\a\\b.bin", true},
        {".psu|.max", "C:\\a\\b.PSU", true},
        {".psu|.max", "C:\\a\\b.max", true},
        {".psu|.max", "C:\\a\\b.bin", false},
        {".PSU", "c:\\a\\b.psu", true},
        {"C:\\a\\b.psu", "C:\\a\\b.psu", false},  /* as long as the path: never */
        {"|C:\\a\\b.psu", "C:\\a\\b.psu", false},
        {":\\a\\b.psu", "C:\\a\\b.psu", true},   /* one byte shorter */
        {"|", "C:\\a\\b.psu", false},
        {"||", "C:\\a\\b.psu", false},
        {".bin|.max|", "C:\\a\\b.psu", false},
        {"|.psu", "C:\\a\\b.psu", true},
        {".psu| .max", "C:\\a\\b.max", false},   /* spaces count */
        {".psu| .max", "C:\\a\\b .max", true},
        {"\xE9", "C:\\a\\b\xE9", true},          /* only a-z are folded */
        {"\xC9", "C:\\a\\b\xE9", false},
        {"[", "C:\\a\\{", false},
        {".psu", "", false},
        {"", "", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tail_filter_takes(c.filter, c.path, step_shift_jis), c.taken) << c.filter << " / " << c.path;
}

TEST(DroprunFilter, BarScanStepsDoubleByteCharacters)
{
    /* 0x83 0x7C is one Shift_JIS character whose second byte is "|". */
    const std::string ending = "\x83\x7C";
    EXPECT_TRUE(tail_filter_takes(ending, "C:\\a\\b" + ending, step_shift_jis));
    EXPECT_FALSE(tail_filter_takes(ending, "C:\\a\\b\x83", step_shift_jis));
    /* Read byte by byte, the same filter is the ending 0x83 then an empty one. */
    EXPECT_TRUE(tail_filter_takes(ending, "C:\\a\\b\x83", step_single_byte));
}

/* ---- the seven values ---- */

TEST(DroprunValues, PathParts)
{
    struct Case {
        const char* path;
        const char* dir;
        const char* name;
        const char* body;
    };
    const Case cases[] = {
        {"C:\\x\\a.tar.gz", "C:\\x", "a.tar.gz", "a.tar"},
        {"C:\\a.txt", "C:", "a.txt", "a"},
        {"C:\\x.d\\noext", "C:\\x.d", "noext", "noext"},
        {"C:\\x\\.profile", "C:\\x", ".profile", ""},
        {"C:\\x\\..x", "C:\\x", "..x", "."},
        {"C:\\x\\a.", "C:\\x", "a.", "a"},
        {"name.psu", "", "name.psu", "name"},
        {"C:\\x\\", "C:\\x", "", ""},
        {"C:\\\x95\x5C.psu", "C:", "\x95\x5C.psu", "\x95\x5C"}, /* trail byte "\" is no separator */
        {"C:\\x\\\x81\x2E", "C:\\x", "\x81\x2E", "\x81\x2E"},   /* 0x81 0x2E: "." is no trail byte */
    };
    for (const Case& c : cases) {
        const PlaceholderValues v = values_for(c.path);
        EXPECT_EQ(v[Placeholder::path], c.path);
        EXPECT_EQ(v[Placeholder::dir], c.dir) << c.path;
        EXPECT_EQ(v[Placeholder::name], c.name) << c.path;
        EXPECT_EQ(v[Placeholder::body], c.body) << c.path;
    }
    const PlaceholderValues v = values_for("C:\\a.txt");
    EXPECT_EQ(v[Placeholder::windows], "C:\\WINDOWS");
    EXPECT_EQ(v[Placeholder::process], "C:\\tools");
    EXPECT_EQ(v[Placeholder::desktop], "C:\\Users\\u\\Desktop");

    const PlaceholderValues p = work_out_values("/home/u/saves/a.b.psu", {}, kPosixRules);
    EXPECT_EQ(p[Placeholder::dir], "/home/u/saves");
    EXPECT_EQ(p[Placeholder::body], "a.b");
    EXPECT_EQ(folder_part("C:\\tools\\DROPRUN.exe", kWindowsShiftJisRules), "C:\\tools");
    EXPECT_EQ(folder_part("DROPRUN.exe", kWindowsShiftJisRules), "");
}

/* ---- expansion ---- */

TEST(DroprunExpand, Passes)
{
    const PlaceholderValues v = values_for("C:\\my files\\a.tar.gz");
    struct Case {
        const char* text;
        const char* expanded;
    };
    const Case cases[] = {
        {"prog \"%path%\"", "prog \"C:\\my files\\a.tar.gz\""},
        {"%windows%;%windows%", "C:\\WINDOWS;C:\\WINDOWS"},
        {"%Windows% %WINDOWS%", "%Windows% %WINDOWS%"},
        {"%dir%\\%body%.zip %name%", "C:\\my files\\a.tar.zip a.tar.gz"},
        {"%process%\\x.exe %desktop%", "C:\\tools\\x.exe C:\\Users\\u\\Desktop"},
        {"100% %% %", "100% %% %"},
        {"%%path%%", "%C:\\my files\\a.tar.gz%"},
        {"%path", "%path"},
        {"%bodies%", "%bodies%"},
        {"", ""},
        {"no placeholders", "no placeholders"},
    };
    for (const Case& c : cases) EXPECT_EQ(expand(c.text, v), c.expanded) << c.text;
}

TEST(DroprunExpand, LaterPassesSeeEarlierValues)
{
    /* A file whose name holds %body%: the inserted path is scanned by the seventh pass. */
    const PlaceholderValues v = values_for("C:\\x\\%body%-copy.psu");
    EXPECT_EQ(expand("\"%path%\"", v), "\"C:\\x\\%body%-copy-copy.psu\"");
    /* dir (pass 5) then name (pass 6) inside the inserted path. */
    const PlaceholderValues w = values_for("C:\\x\\%name%-%dir%.psu");
    EXPECT_EQ(expand("%path%", w), "C:\\x\\%name%-%dir%.psu-C:\\x.psu");
    /* An earlier placeholder in a value is not seen again: %windows% ran first. */
    PlaceholderValues u = values_for("C:\\x\\%windows%.psu");
    EXPECT_EQ(expand("%path%", u), "C:\\x\\%windows%.psu");
    /* A folder value holding a later placeholder is replaced in turn. */
    u[Placeholder::windows] = "W[%name%]";
    EXPECT_EQ(expand("%windows%", u), "W[%windows%.psu]");
}

TEST(DroprunExpand, NeverPastTheBuffer)
{
    PlaceholderValues v = values_for("C:\\x\\a.psu");
    v[Placeholder::path] = std::string(1000, 'p');
    EXPECT_EQ(expand(std::string(23, 't') + "%path%", v), std::string(23, 't') + std::string(1000, 'p')); /* 1023 */
    EXPECT_EQ(expand(std::string(24, 't') + "%path%", v), "<too long>");                                /* 1024 */
    EXPECT_EQ(expand("%path% %path%", v), "<too long>");
    /* Too long in a middle pass, even if later passes would shrink it again. */
    v[Placeholder::windows] = std::string(600, 'w') + "%name%";
    v[Placeholder::name] = "";
    EXPECT_EQ(expand("%windows%%windows%", v), "<too long>");
    PathBuffer out;
    EXPECT_FALSE(expand_template(std::string(1024, 't'), v, &out));
    EXPECT_EQ(out.length(), 0u);
    EXPECT_TRUE(expand_template(std::string(1023, 't'), v, &out));
}

TEST(DroprunExpand, EscapedValuesSurviveTheSplit)
{
    const char* const values[] = {"plain", "a \"quoted\" name", "\"", "\"\"", "back\\\"slash", "two\\\\\"x",
                                  "trail\\ing", "sp ace;$(x)`y`|z", "\"lead", "in\\\\side"};
    for (const char* v : values) {
        const std::string e = escape_double_quotes(v);
        EXPECT_EQ(split_command_line("prog \"" + e + "\" next", step_single_byte),
                  (std::vector<std::string>{"prog", v, "next"}))
            << v;
        if (std::string(v).find(' ') == std::string::npos) {
            EXPECT_EQ(split_command_line("prog " + e, step_single_byte), (std::vector<std::string>{"prog", v})) << v;
        }
    }
    EXPECT_EQ(escape_double_quotes("C:\\x\\a.psu"), "C:\\x\\a.psu"); /* nothing to do without quotes */
    EXPECT_EQ(escape_double_quotes("a\\\"b"), "a\\\\\\\"b");
}
