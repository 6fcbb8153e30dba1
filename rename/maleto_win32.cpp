/* maleto_win32.cpp -- MALETO.exe: the drop-tool window around MALETO's file handler */
#include <windows.h>

#include "common/platform.h"
#include "common/tool_window.h"
#include "rename/maleto_handler.h"

namespace {

/* Each dropped file is renamed after its save's name and title; the option box
 * (REMOVE SJIS) is read once the new name is formed. The window reports nothing. */
void handle_dropped_file(HWND window, const char* path)
{
    (void)ps2::maleto_rename_file(path, ps2::win::option_box_of(window), ps2::Reporter{},
                                  ps2::plat::native_path_rules());
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command)
{
    return ps2::win::run_drop_tool(instance, show_command, &handle_dropped_file);
}
