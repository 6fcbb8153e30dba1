/* varkon_win32.cpp -- VARKON.exe: the drop-tool window around the PSU <-> MAX file handler */
#include <windows.h>

#include "common/tool_window.h"
#include "maxconv/varkon_handler.h"

namespace {

/* The one message of the suite: text and caption "BAD CRC", owned by the
 * tool window, one OK button and no icon. The conversion goes on (or the
 * damaged file is kept) once the user has dismissed it. */
void show_bad_crc(void* context, const char*)
{
    MessageBoxA(static_cast<HWND>(context), "BAD CRC", "BAD CRC", MB_OK);
}

void handle_dropped_file(HWND window, const char* path)
{
    ps2::VarkonHooks hooks; /* silent reporter: the window shows nothing else */
    hooks.on_bad_crc = &show_bad_crc;
    hooks.context = window;
    (void)ps2::convert_save_file(path, hooks);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command)
{
    return ps2::win::run_drop_tool(instance, show_command, &handle_dropped_file);
}
