/* echotool.cpp -- a drop tool for testing the tool window: appends each dropped path and the option box to a log.
 *
 * ECHOTOOL.LOG beside the program gets one line per handled file, "<0|1> <path>" with the option box's
 * state read at that moment. The same program built with each tool's resources checks those templates. */
#include <windows.h>

#include <cstring>

#include "common/tool_window.h"

namespace {

void append_to_log(HWND window, const char* path)
{
    char log_path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, log_path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    char* dot = std::strrchr(log_path, '.');
    if (!dot) return;
    std::strcpy(dot, ".log");

    const bool option = ps2::win::option_box_of(window).get();
    HANDLE log = CreateFileA(log_path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(log, option ? "1 " : "0 ", 2, &written, nullptr);
    WriteFile(log, path, DWORD(std::strlen(path)), &written, nullptr);
    WriteFile(log, "\r\n", 2, &written, nullptr);
    CloseHandle(log);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command)
{
    return ps2::win::run_drop_tool(instance, show_command, append_to_log);
}
