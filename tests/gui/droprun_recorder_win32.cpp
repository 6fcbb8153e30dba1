/* droprun_recorder_win32.cpp -- a Windows program for DROPRUN's GUI tests: records how it was started.
 *
 * droprun_recorder_win32.exe [--tag=T] [--wait-for=FILE] [--touch=FILE] ARG...
 * Appends to the file named by %DROPRUN_RECORD% one line
 *   "begin T CWD SHOW FLAGS COMMANDLINE"
 * (CWD and COMMANDLINE hex-encoded, SHOW and FLAGS from GetStartupInfoA in decimal), then waits until
 * FILE exists (at most 60 s), creates the --touch file, and appends "end T seen|timeout|done".
 * A GUI-subsystem program, so that starting it opens no console. */
#include <windows.h>

#include <cstring>
#include <string>

namespace {

std::string hex(const std::string& s)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = s.empty() ? "-" : "";
    for (const unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

void append_record(const std::string& line)
{
    char file[1024];
    const DWORD n = GetEnvironmentVariableA("DROPRUN_RECORD", file, sizeof file);
    if (n == 0 || n >= sizeof file) return;
    /* Appends by many programs at once: retry while another one holds the file. */
    for (int tries = 0; tries < 500; ++tries) {
        const HANDLE h = CreateFileA(file, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            Sleep(10);
            continue;
        }
        const std::string text = line + "\r\n";
        DWORD written = 0;
        WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr);
        CloseHandle(h);
        return;
    }
}

/* The next word of the command line (blank-separated, no quotes: the options are plain). */
bool option(const char* word, const char* name, std::string* value)
{
    const size_t n = std::strlen(name);
    if (std::strncmp(word, name, n) != 0) return false;
    *value = word + n;
    return true;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const std::string command_line = GetCommandLineA();
    std::string tag = "-", wait_for, touch;
    /* Options: the words after the program name that start with "--". */
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i < argc; ++i) {
        char word[1024];
        if (!WideCharToMultiByte(CP_ACP, 0, argv[i], -1, word, sizeof word, nullptr, nullptr)) break;
        if (!option(word, "--tag=", &tag) && !option(word, "--wait-for=", &wait_for) &&
            !option(word, "--touch=", &touch))
            break;
    }
    if (argv) LocalFree(argv);

    char cwd[1024] = "";
    GetCurrentDirectoryA(sizeof cwd, cwd);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    append_record("begin " + tag + " " + hex(cwd) + " " + std::to_string(startup.wShowWindow) + " " +
                  std::to_string(startup.dwFlags) + " " + hex(command_line));

    std::string how = "done";
    if (!wait_for.empty()) {
        how = "timeout";
        for (int n = 0; n < 6000; ++n) {
            if (GetFileAttributesA(wait_for.c_str()) != INVALID_FILE_ATTRIBUTES) {
                how = "seen";
                break;
            }
            Sleep(10);
        }
    }
    if (!touch.empty()) {
        const HANDLE h = CreateFileA(touch.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    append_record("end " + tag + " " + how);
    return 0;
}
