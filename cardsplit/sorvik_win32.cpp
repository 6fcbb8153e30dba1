/* sorvik_win32.cpp -- SORVIK.exe: the drop-tool window, each dropped card image split into a folder of PSU archives */
#include <windows.h>

#include "cardsplit/sorvik_handler.h"
#include "common/tool_window.h"

namespace {

/* The window reports nothing: a silent reporter, the option box read when the handler asks. */
void split_dropped_file(HWND window, const char* path)
{
    (void)ps2::split_card_image_file(path, ps2::win::option_box_of(window), ps2::Reporter{});
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command)
{
    return ps2::win::run_drop_tool(instance, show_command, &split_dropped_file);
}
