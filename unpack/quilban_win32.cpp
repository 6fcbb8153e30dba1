/* quilban_win32.cpp -- QUILBAN.exe: the drop-tool window around QUILBAN's file handler */
#include <windows.h>

#include "common/tool_window.h"
#include "unpack/quilban_handler.h"

namespace {

/* Each dropped file: rebuilt when its name part is QUILBAN.TXT (a-z folded,
 * scanned with the system's code page), unpacked otherwise; the option box
 * is read as the handler asks. The window reports nothing. */
void handle_dropped_file(HWND window, const char* path)
{
    (void)ps2::handle_quilban_file(path, ps2::win::option_box_of(window), ps2::Reporter{});
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command)
{
    return ps2::win::run_drop_tool(instance, show_command, &handle_dropped_file);
}
