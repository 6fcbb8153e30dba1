/* cmdline.h -- a command line read as the Windows C runtime reads it: program name, then arguments */
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/paths.h"

namespace ps2 {

/* Splits a command line into arguments by the rules of the Windows C
 * runtime (the argv that a program started with this line would see):
 * - the program name (argument 0) ends at the first blank or tab outside
 *   double quotes; its quotes are dropped and backslashes are plain;
 * - the other arguments are separated by blanks and tabs outside quotes;
 *   2n backslashes before a double quote give n backslashes and the quote
 *   opens or closes a quoted part, 2n+1 give n backslashes and a literal
 *   quote; two quotes inside a quoted part give one literal quote; other
 *   backslashes are plain;
 * - step tells the code page's characters, so that a trail byte with the
 *   value of a backslash is copied with its lead byte and escapes nothing.
 * A line of only blanks gives no argument at all. */
std::vector<std::string> split_command_line(std::string_view line, CharStep step);

/* The text behind the program name and the blanks and tabs after it: what
 * a program receives as its arguments. A quoted name ends at its closing
 * quote; an unquoted one at the first blank or tab. */
std::string_view command_line_arguments(std::string_view line, CharStep step);

} // namespace ps2
