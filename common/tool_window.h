/* tool_window.h -- the Win32 drop-tool window shared by VARKON, QUILBAN, SORVIK and MALETO,
 * and the pieces TAVIRO's and DROPRUN's own windows share with it */
#pragma once

#ifdef PS2_CORE
#error "core code includes no platform or front-end header: it works on bytes and returns codes (docs/ARCHITECTURE.md)"
#endif

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

/* ---- shared by every tool's window ---- */

/* Big icon "ICON" from the module, out of the topmost band that the
 * system-modal template gave the window (above the ordinary windows,
 * neither moved nor sized), and registered as a drop target. */
void set_up_tool_window(HWND window, HINSTANCE instance);

/* The drop loop: asks the drop for its count, fetches each path in the
 * shell's order into a 1024-byte buffer and calls fn with it, then
 * releases the drop (DragFinish), also when the count is 0. A name that
 * does not fit the buffer is skipped rather than handed over cut (a cut
 * path names another file). Stops early if fn closed the window. */
void for_each_dropped_file(HWND window, HDROP drop, FileHandler fn);

/* The plain message loop, without IsDialogMessage (Tab, Escape and Enter do
 * nothing): ends only on the quit message, whose code it returns; an error
 * result (-1) does not end it. */
int run_message_loop();

/* The end of every window: WM_CLOSE destroys it, WM_DESTROY posts the quit
 * message with code 0, so the close box ends the program. True when the
 * message was one of the two (the dialog procedure then returns FALSE). */
bool end_on_close(HWND window, UINT message);

} // namespace ps2::win
