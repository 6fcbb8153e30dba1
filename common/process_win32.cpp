/* process_win32.cpp -- starting programs on Windows: CreateProcessA with a show command; waits */
#include "common/platform.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace ps2::plat {

IoError start_process(const char* command_line, bool hide_window, ProcessHandle* out)
{
    out->value = -1;
    /* CreateProcessA may write into the command line: hand it a copy. */
    std::vector<char> line(command_line, command_line + std::strlen(command_line) + 1);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup; /* 68 in a 32-bit program, 104 in a 64-bit one */
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = WORD(hide_window ? SW_HIDE : SW_SHOW);
    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    /* No application name: the program is the line's first word or quoted
     * part, found by the system's usual search. Nothing is inherited, no
     * creation flags, the caller's environment and current folder. */
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        keep_system_error(long(GetLastError()));
        return IoError::start_failed;
    }
    CloseHandle(info.hThread);
    out->value = reinterpret_cast<intptr_t>(info.hProcess);
    return IoError::ok;
}

bool process_has_ended(ProcessHandle h, unsigned timeout_ms)
{
    if (h.value == -1) return true;
    const DWORD timeout = timeout_ms == kWaitForever ? INFINITE : DWORD(timeout_ms);
    return WaitForSingleObject(reinterpret_cast<HANDLE>(h.value), timeout) != WAIT_TIMEOUT;
}

bool wait_for_end_or_message(ProcessHandle h)
{
    if (h.value == -1) return true;
    HANDLE process = reinterpret_cast<HANDLE>(h.value);
    /* MWMO_INPUTAVAILABLE: messages already queued count too, not only ones that arrive during the wait. */
    return MsgWaitForMultipleObjectsEx(1, &process, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) != WAIT_OBJECT_0 + 1;
}

void close_process(ProcessHandle h)
{
    if (h.value != -1) CloseHandle(reinterpret_cast<HANDLE>(h.value));
}

} // namespace ps2::plat
