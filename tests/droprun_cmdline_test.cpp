/* droprun_cmdline_test.cpp -- command lines read by the Windows C runtime rules (common/cmdline) */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/cmdline.h"

using namespace ps2;
using V = std::vector<std::string>;

TEST(CommandLineSplit, RuntimeRules)
{
    struct Case {
        const char* line;
        V args;
    };
    const Case cases[] = {
        {"prog \"abc\" d e", {"prog", "abc", "d", "e"}},
        {"prog a\\\\\\b d\"e f\"g h", {"prog", "a\\\\\\b", "de fg", "h"}},
        {"prog a\\\\\\\"b c d", {"prog", "a\\\"b", "c", "d"}},
        {"prog a\\\\\\\\\"b c\" d e", {"prog", "a\\\\b c", "d", "e"}},
        {"prog a\"b\"\" c d", {"prog", "ab\" c d"}}, /* "" inside quotes: a quote, still quoted */
        {"prog \"\"", {"prog", ""}},
        {"prog \"\" \"\"", {"prog", "", ""}},
        {"prog \"\"\"", {"prog", "\""}},
        {"prog \\\"x\\\"", {"prog", "\"x\""}},
        {"prog C:\\dir\\ \"C:\\my dir\\\\\"", {"prog", "C:\\dir\\", "C:\\my dir\\"}},
        {"prog \"C:\\my dir\\\"", {"prog", "C:\\my dir\""}}, /* a path ending in \ escapes the quote */
        {"prog \"unclosed arg", {"prog", "unclosed arg"}},
        {"  \tprog\t a  b\t ", {"prog", "a", "b"}},
        {"prog a;b|c$(d)`e` 'f g' &h>i", {"prog", "a;b|c$(d)`e`", "'f", "g'", "&h>i"}},
        {"\"C:\\Program Files\\x.exe\" a", {"C:\\Program Files\\x.exe", "a"}},
        {"C:\\dir\\x.exe\\ a", {"C:\\dir\\x.exe\\", "a"}},  /* no escapes in the name */
        {"\"C:\\a b\"c.exe d", {"C:\\a bc.exe", "d"}},
        {"prog\\\" x", {"prog\\ x"}},                     /* the name's quote opens, never escaped */
        {"", {}},
        {" \t ", {}},
        {"\"\"", {""}},
    };
    for (const Case& c : cases) EXPECT_EQ(split_command_line(c.line, step_single_byte), c.args) << c.line;
}

TEST(CommandLineSplit, DoubleByteTrailIsNoBackslash)
{
    /* 0x95 0x5C is one Shift_JIS character whose second byte is "\". */
    const std::string line = "prog \"\x95\x5C\" x";
    EXPECT_EQ(split_command_line(line, step_shift_jis), (V{"prog", "\x95\x5C", "x"}));
    EXPECT_EQ(split_command_line(line, step_single_byte), (V{"prog", "\x95\" x"}));
    EXPECT_EQ(split_command_line("\"C:\\\x95\x5C\" y", step_shift_jis), (V{"C:\\\x95\x5C", "y"}));
    EXPECT_EQ(split_command_line(std::string("prog a\0b", 8), step_single_byte), (V{"prog", "a"}));
}

TEST(CommandLineSplit, ArgumentsBehindTheProgramName)
{
    struct Case {
        const char* line;
        const char* args;
    };
    const Case cases[] = {
        {"\"C:\\a b\\DROPRUN.exe\"  C:\\my files\\x.psu", "C:\\my files\\x.psu"},
        {"DROPRUN.exe \"C:\\x.psu\"", "\"C:\\x.psu\""},
        {"DROPRUN.exe\t \ta", "a"},
        {"DROPRUN.exe", ""},
        {"DROPRUN.exe   ", ""},
        {"\"unclosed name", ""},
        {"\"C:\\x\\D.exe\"rest", "rest"},
    };
    for (const Case& c : cases) EXPECT_EQ(command_line_arguments(c.line, step_shift_jis), c.args) << c.line;
}
