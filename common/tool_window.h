/* tool_window.h -- the Win32 drop-tool window shared by VARKON, QUILBAN, SORVIK and MALETO */
#pragma once

#include <windows.h>

#include "common/report.h"

namespace ps2::win {

/* Called once per dropped file, in drop order, with the tool window and the
 * full path (at most 1023 characters). */
using FileHandler = void (*)(HWND window, const char* path);

/* The program: creates the dialog "MAIN" modeless, shows it with the show
 * command, runs the message loop until the window is closed, and returns
 * the quit message's code (0). The command line is not used. */
int run_drop_tool(HINSTANCE instance, int show_command, FileHandler handler);

/* The option box (check box 129), read at the moment the handler asks. */
OptionBox option_box_of(HWND window);

} // namespace ps2::win
