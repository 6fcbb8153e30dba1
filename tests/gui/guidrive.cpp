/* guidrive.cpp -- the GUI test harness: test runner, program control, drops, controls, dialogs, screenshots */
#include "guidrive.h"

#include <commdlg.h>
#include <dlgs.h>
#include <psapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace guidrive {

namespace {

/* ---- runner state ---- */

struct TestEntry {
    const char* name;
    const char* locale;
    TestFunction function;
};

std::vector<TestEntry>& registry()
{
    static std::vector<TestEntry> tests;
    return tests;
}

std::string g_current;
std::string g_test_folder;

/* The watchdog: a test that has not ended after this long is reported with the last step it entered,
 * and the run ends, instead of hanging until the test runner's limit. */
constexpr DWORD kTestLimitMs = 120000;
std::atomic<const char*> g_step{"start"};
HANDLE g_test_ended = nullptr;

/* Marks a step for the watchdog's report while it runs. */
struct Step {
    const char* outer;
    explicit Step(const char* what) : outer(g_step.exchange(what)) {}
    ~Step() { g_step = outer; }
};

DWORD WINAPI watchdog(void*)
{
    for (;;) {
        if (WaitForSingleObject(g_test_ended, kTestLimitMs) == WAIT_OBJECT_0) continue;
        std::printf("[ TIMEOUT  ] %s: not ended after %lu s; last step: %s\n", g_current.c_str(),
                    static_cast<unsigned long>(kTestLimitMs / 1000), g_step.load());
        std::fflush(stdout);
        ExitProcess(3);
    }
}
int g_failures = 0;

std::string environment(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

/* Polling step of every wait. */
constexpr DWORD kPollMs = 10;

} // namespace

int register_test(const char* name, const char* locale, TestFunction function)
{
    registry().push_back({name, locale, function});
    return int(registry().size());
}

void report_failure(const char* file, int line, const std::string& what)
{
    ++g_failures;
    const char* base = std::strrchr(file, '/');
    std::printf("%s:%d: failed: %s\n", base ? base + 1 : file, line, what.c_str());
    std::fflush(stdout);
}

const std::string& current_test() { return g_current; }

std::string describe(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += char(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}

std::string describe(const std::wstring& s)
{
    std::string out = "L\"";
    for (wchar_t c : s) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += char(c);
        } else {
            char hex[12];
            std::snprintf(hex, sizeof hex, "\\u%04X", unsigned(c));
            out += hex;
        }
    }
    return out + "\"";
}

/* ---- folders ---- */

const std::string& bin_dir()
{
    static const std::string dir = environment("GUI_BIN");
    return dir;
}

std::string program_path(const char* name) { return join(bin_dir(), name); }

const std::string& shot_dir()
{
    static const std::string dir = environment("GUI_SHOTS");
    return dir;
}

/* True when the last character (stepped in the ANSI code page) is "\": a folder name ending in a
 * Shift_JIS character such as 表 (0x95 0x5C) ends in the byte of "\" without ending in a separator. */
static bool ends_with_separator(const std::string& path)
{
    const char* last = nullptr;
    for (const char* p = path.c_str(); *p; p = CharNextA(p)) last = p;
    return last && last[0] == '\\' && last[1] == '\0';
}

std::string join(const std::string& a, const std::string& b)
{
    if (a.empty()) return b;
    if (ends_with_separator(a)) return a + b;
    return a + "\\" + b;
}

static void remove_tree(const std::string& path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(join(path, "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string full = join(path, name);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(full);
            } else {
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

const std::string& test_folder()
{
    if (g_test_folder.empty()) {
        std::string work = environment("GUI_WORK");
        if (work.empty()) {
            char temp[MAX_PATH];
            GetTempPathA(MAX_PATH, temp);
            work = join(temp, "guidrive");
            CreateDirectoryA(work.c_str(), nullptr);
        }
        g_test_folder = join(work, g_current.empty() ? "test" : g_current);
        remove_tree(g_test_folder);
        CreateDirectoryA(g_test_folder.c_str(), nullptr);
    }
    return g_test_folder;
}

/* ---- files ---- */

bool write_file(const std::string& path, const std::string& bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(h);
    return ok;
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes)
{
    return write_file(path, std::string(bytes.begin(), bytes.end()));
}

bool read_file(const std::string& path, std::string* bytes)
{
    bytes->clear();
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int tries = 0; tries < 100; ++tries) {
        h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) break;
        Sleep(kPollMs);
    }
    if (h == INVALID_HANDLE_VALUE) return false;
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(h, buffer, sizeof buffer, &got, nullptr)) && got > 0) bytes->append(buffer, got);
    CloseHandle(h);
    return ok;
}

long long file_size(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool file_exists(const std::string& path)
{
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool folder_exists(const std::string& path)
{
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool make_folder(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) || folder_exists(path); }

std::vector<std::string> list_folder(const std::string& path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(join(path, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

bool wait_until(const std::function<bool()>& condition, unsigned timeout_ms)
{
    const ULONGLONG end = GetTickCount64() + timeout_ms;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(kPollMs);
    }
}

bool wait_for_file(const std::string& path, unsigned timeout_ms)
{
    return wait_until([&] { return file_exists(path); }, timeout_ms);
}

bool wait_for_no_file(const std::string& path, unsigned timeout_ms)
{
    return wait_until([&] { return !file_exists(path); }, timeout_ms);
}

/* ---- texts ---- */

static bool send_timeout(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* result,
                         unsigned timeout_ms = kTimeoutMs)
{
    DWORD_PTR r = 0;
    const LRESULT ok = SendMessageTimeoutA(window, message, wparam, lparam, SMTO_NORMAL, timeout_ms, &r);
    if (result) *result = r;
    return ok != 0;
}

std::string window_text(HWND window)
{
    DWORD_PTR length = 0;
    if (!send_timeout(window, WM_GETTEXTLENGTH, 0, 0, &length)) return {};
    std::string text(length + 1, '\0');
    DWORD_PTR got = 0;
    if (!send_timeout(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &got)) return {};
    text.resize(std::min<size_t>(got, length));
    return text;
}

std::wstring window_text_wide(HWND window)
{
    DWORD_PTR length = 0;
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kTimeoutMs, &length)) return {};
    std::wstring text(length + 1, L'\0');
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL,
                             kTimeoutMs, &r))
        return {};
    text.resize(std::min<size_t>(r, length));
    return text;
}

std::string item_text(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? window_text(item) : std::string();
}

std::wstring item_text_wide(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? window_text_wide(item) : std::wstring();
}

std::string class_of(HWND window)
{
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::vector<HWND> children_with_id(HWND parent, int id)
{
    std::vector<HWND> found;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (GetDlgCtrlID(child) == id) found.push_back(child);
    return found;
}

std::wstring utf8_to_wide(const std::string& utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), n);
    return wide;
}

std::string wide_to_ansi(const std::wstring& wide)
{
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string ansi(size_t(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), ansi.data(), n, nullptr, nullptr);
    return ansi;
}

/* ---- programs ---- */

Program::~Program()
{
    Step step("ending a started program");
    if (info_.hProcess) {
        if (running()) {
            TerminateProcess(info_.hProcess, 255);
            WaitForSingleObject(info_.hProcess, 5000);
        }
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
    }
}

bool Program::start(const std::string& exe, const std::string& arguments, const std::string& folder)
{
    Step step("starting a program");
    std::string command = "\"" + exe + "\"";
    if (!arguments.empty()) command += " " + arguments;
    const std::string dir = folder.empty() ? test_folder() : folder;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    if (!CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &startup,
                        &info_)) {
        std::printf("cannot start %s (error %lu)\n", exe.c_str(), GetLastError());
        info_ = {};
        return false;
    }
    return true;
}

namespace {

struct WindowSearch {
    DWORD pid;
    const char* caption;
    const char* class_name;
    HWND except;
    HWND found;
    HWND owner = nullptr; /* when set, only windows it owns */
};

BOOL CALLBACK match_window(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid || window == search->except || !IsWindowVisible(window)) return TRUE;
    if (search->class_name && class_of(window) != search->class_name) return TRUE;
    if (search->owner && GetWindow(window, GW_OWNER) != search->owner) return TRUE;
    if (search->caption) {
        char text[512] = "";
        GetWindowTextA(window, text, sizeof text);
        if (std::strcmp(text, search->caption) != 0) return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND find_window_except(DWORD pid, const char* caption, const char* class_name, HWND except)
{
    WindowSearch search{pid, caption, class_name, except, nullptr};
    EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace

HWND find_window(DWORD pid, const char* caption, const char* class_name)
{
    return find_window_except(pid, caption, class_name, nullptr);
}

HWND Program::wait_for_window(const char* caption, const char* class_name, unsigned timeout_ms)
{
    HWND found = nullptr;
    wait_until(
        [&] {
            found = find_window(pid(), caption, class_name);
            return found != nullptr || !running();
        },
        timeout_ms);
    if (found) window_ = found;
    return found;
}

HWND Program::wait_for_dialog(const char* caption, unsigned timeout_ms)
{
    HWND found = nullptr;
    wait_until(
        [&] {
            found = find_window_except(pid(), caption, "#32770", window_);
            return found != nullptr || !running();
        },
        timeout_ms);
    return found;
}

bool Program::running() const
{
    return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool Program::wait_for_exit(DWORD* exit_code, unsigned timeout_ms)
{
    if (!info_.hProcess || WaitForSingleObject(info_.hProcess, timeout_ms) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    if (exit_code) *exit_code = code;
    return true;
}

bool Program::close(DWORD* exit_code, unsigned timeout_ms)
{
    if (!window_ || !PostMessageA(window_, WM_CLOSE, 0, 0)) return false;
    return wait_for_exit(exit_code, timeout_ms);
}

/* ---- dropping files ---- */

namespace {

/* Calls function(a, b, c, d) inside the target process on a thread of its own and gives back its 64-bit
 * result. The stub (x86-64, Microsoft calling convention) takes a pointer to RemoteCall:
 *   push rbx; sub rsp,32; mov rbx,rcx; mov rax,[rbx]; mov rcx,[rbx+8]; mov rdx,[rbx+16];
 *   mov r8,[rbx+24]; mov r9,[rbx+32]; call rax; mov [rbx+40],rax; xor eax,eax; add rsp,32; pop rbx; ret */
const uint8_t kCallStub[] = {0x53, 0x48, 0x83, 0xEC, 0x20, 0x48, 0x89, 0xCB, 0x48, 0x8B, 0x03, 0x48, 0x8B,
                             0x4B, 0x08, 0x48, 0x8B, 0x53, 0x10, 0x4C, 0x8B, 0x43, 0x18, 0x4C, 0x8B, 0x4B,
                             0x20, 0xFF, 0xD0, 0x48, 0x89, 0x43, 0x28, 0x31, 0xC0, 0x48, 0x83, 0xC4, 0x20,
                             0x5B, 0xC3};

struct RemoteCall {
    uint64_t function;
    uint64_t args[4];
    uint64_t result;
};
constexpr size_t kCallBlockOffset = 64;

/* The address of a system function in the target: the same offset in the same module there. */
uint64_t remote_address_of(HANDLE process, const char* module_name, const char* function)
{
    Step step("finding a function in the program (EnumProcessModules, ReadProcessMemory)");
    HMODULE module = GetModuleHandleA(module_name);
    const FARPROC local = module ? GetProcAddress(module, function) : nullptr;
    if (!local) return 0;
    /* The export may live in another module than the one asked (forwarders). */
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(local), &module))
        return 0;
    char path[MAX_PATH];
    if (!GetModuleFileNameA(module, path, MAX_PATH)) return 0;
    const char* slash = std::strrchr(path, '\\');
    const char* name = slash ? slash + 1 : path;
    HMODULE modules[512];
    DWORD needed = 0;
    if (!EnumProcessModulesEx(process, modules, sizeof modules, &needed, LIST_MODULES_ALL)) return 0;
    const DWORD count = std::min<DWORD>(needed / sizeof(HMODULE), DWORD(std::size(modules)));
    for (DWORD i = 0; i < count; ++i) {
        char remote_name[MAX_PATH];
        if (GetModuleBaseNameA(process, modules[i], remote_name, MAX_PATH) && _stricmp(remote_name, name) == 0)
            return uint64_t(reinterpret_cast<uintptr_t>(modules[i])) +
                   (reinterpret_cast<uintptr_t>(local) - reinterpret_cast<uintptr_t>(module));
    }
    return 0;
}

bool call_in_process(HANDLE process, uint64_t function, std::initializer_list<uint64_t> args, uint64_t* result,
                     unsigned timeout_ms = kTimeoutMs)
{
    if (!function) return false;
    Step step("a call inside the program (VirtualAllocEx, WriteProcessMemory, CreateRemoteThread)");
    void* page = VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    if (!page) return false;
    auto* base = static_cast<uint8_t*>(page);
    RemoteCall call{function, {}, 0};
    std::copy(args.begin(), args.end(), call.args);
    bool ok = WriteProcessMemory(process, base, kCallStub, sizeof kCallStub, nullptr) &&
              WriteProcessMemory(process, base + kCallBlockOffset, &call, sizeof call, nullptr) &&
              FlushInstructionCache(process, base, sizeof kCallStub);
    bool ended = false;
    if (ok) {
        HANDLE thread = CreateRemoteThread(process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(base),
                                           base + kCallBlockOffset, 0, nullptr);
        ended = thread && WaitForSingleObject(thread, timeout_ms) == WAIT_OBJECT_0;
        if (thread) CloseHandle(thread);
        ok = ended && ReadProcessMemory(process, base + kCallBlockOffset, &call, sizeof call, nullptr);
    }
    /* A thread that has not ended still runs the stub: its page stays then. */
    if (ended || !ok) VirtualFreeEx(process, page, 0, MEM_RELEASE);
    if (result) *result = call.result;
    return ok;
}

/* Hands a drop of the paths to the window from inside its own process, as the shell's drop arrives:
 * the DROPFILES block (ANSI names) is made there with GlobalAlloc, so that the window's DragFinish frees
 * it as its own, and WM_DROPFILES is sent (sync) or posted there by a thread of that process. (Wine
 * copies a WM_DROPFILES block across processes from the sender's memory; from inside, nothing is copied.) */
bool deliver_drop(HWND window, const std::vector<std::string>& paths, bool sync, unsigned timeout_ms)
{
    std::string block(sizeof(DROPFILES), '\0');
    DROPFILES header{};
    header.pFiles = sizeof(DROPFILES);
    header.pt = {10, 10};
    header.fNC = FALSE;
    header.fWide = FALSE;
    std::memcpy(block.data(), &header, sizeof header);
    for (const std::string& p : paths) {
        block += p;
        block += '\0';
    }
    block += '\0';

    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                                     PROCESS_VM_READ | PROCESS_VM_WRITE,
                                 FALSE, pid);
    if (!process) return false;
    uint64_t drop = 0;
    bool ok = call_in_process(process, remote_address_of(process, "kernel32.dll", "GlobalAlloc"),
                              {GPTR, block.size()}, &drop) &&
              drop != 0;
    ok = ok && WriteProcessMemory(process, reinterpret_cast<void*>(uintptr_t(drop)), block.data(), block.size(),
                                  nullptr);
    if (ok) {
        const uint64_t deliver = remote_address_of(process, "user32.dll", sync ? "SendMessageA" : "PostMessageA");
        uint64_t delivered = 0;
        ok = call_in_process(process, deliver, {uint64_t(uintptr_t(window)), WM_DROPFILES, drop, 0}, &delivered,
                             timeout_ms) &&
             (sync || delivered != 0);
    } else if (drop) {
        uint64_t ignored = 0;
        call_in_process(process, remote_address_of(process, "kernel32.dll", "GlobalFree"), {drop}, &ignored);
    }
    CloseHandle(process);
    return ok;
}

} // namespace

bool send_in_process(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result, unsigned timeout_ms)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                                     PROCESS_VM_READ | PROCESS_VM_WRITE,
                                 FALSE, pid);
    if (!process) return false;
    uint64_t r = 0;
    const bool ok = call_in_process(process, remote_address_of(process, "user32.dll", "SendMessageW"),
                                    {uint64_t(uintptr_t(window)), message, wparam, uint64_t(lparam)}, &r, timeout_ms);
    CloseHandle(process);
    if (result) *result = LRESULT(r);
    return ok;
}

bool drop_files(HWND window, const std::vector<std::string>& paths, unsigned timeout_ms)
{
    if (paths.empty()) return false;
    return deliver_drop(window, paths, true, timeout_ms);
}

bool post_drop_files(HWND window, const std::vector<std::string>& paths)
{
    if (paths.empty()) return false;
    return deliver_drop(window, paths, false, kTimeoutMs);
}

/* ---- controls and commands ---- */

bool set_check(HWND dialog, int id, bool checked)
{
    HWND item = GetDlgItem(dialog, id);
    return item && send_timeout(item, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0, nullptr);
}

int check_state(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    DWORD_PTR state = 0;
    if (!item || !send_timeout(item, BM_GETCHECK, 0, 0, &state)) return -1;
    return int(state);
}

bool click_button(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item && PostMessageA(item, BM_CLICK, 0, 0) && flush_posted(item);
}

bool send_command(HWND window, int id, int notification, HWND control, bool post)
{
    const WPARAM w = MAKEWPARAM(id, notification);
    const LPARAM l = reinterpret_cast<LPARAM>(control);
    if (post) return PostMessageA(window, WM_COMMAND, w, l);
    return send_timeout(window, WM_COMMAND, w, l, nullptr);
}

bool select_combo_item(HWND dialog, int combo_id, int index)
{
    HWND combo = GetDlgItem(dialog, combo_id);
    DWORD_PTR r = 0;
    if (!combo || !send_timeout(combo, CB_SETCURSEL, WPARAM(index), 0, &r) || LRESULT(r) != index) return false;
    return send_command(dialog, combo_id, CBN_SELCHANGE, combo);
}

namespace {

/* The items of a list box or a combo box's list. The wide messages are used: Wine maps the ANSI ones
 * wrongly when they cross processes. The texts come back in the ANSI code page. */
std::vector<std::string> read_items(HWND control, UINT count_message, UINT length_message, UINT text_message)
{
    std::vector<std::string> items;
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(control, count_message, 0, 0, SMTO_NORMAL, kTimeoutMs, &count) || LRESULT(count) < 0)
        return items;
    for (DWORD_PTR i = 0; i < count; ++i) {
        DWORD_PTR length = 0;
        SendMessageTimeoutW(control, length_message, i, 0, SMTO_NORMAL, kTimeoutMs, &length);
        if (LRESULT(length) < 0) length = 0;
        std::wstring text(length + 1, L'\0');
        DWORD_PTR got = 0;
        SendMessageTimeoutW(control, text_message, i, reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, kTimeoutMs,
                            &got);
        text.resize(LRESULT(got) < 0 ? 0 : std::min<size_t>(got, length));
        items.push_back(wide_to_ansi(text));
    }
    return items;
}

} // namespace

std::vector<std::string> combo_items(HWND combo)
{
    return read_items(combo, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT);
}

std::vector<std::string> list_items(HWND list)
{
    return read_items(list, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT);
}

int list_selection(HWND list)
{
    DWORD_PTR r = 0;
    return send_timeout(list, LB_GETCURSEL, 0, 0, &r) ? int(LRESULT(r)) : LB_ERR;
}

bool select_list_item(HWND list, int index)
{
    DWORD_PTR r = 0;
    return send_timeout(list, LB_SETCURSEL, WPARAM(index), 0, &r) && (index < 0 || LRESULT(r) == index);
}

bool press_key(HWND window, UINT virtual_key)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    HWND target = (GetGUIThreadInfo(thread, &info) && info.hwndFocus) ? info.hwndFocus : window;
    const UINT scan = MapVirtualKeyA(virtual_key, MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | (LPARAM(scan) << 16);
    const LPARAM up = down | (LPARAM(1) << 30) | (LPARAM(1) << 31);
    return PostMessageA(target, WM_KEYDOWN, virtual_key, down) && PostMessageA(target, WM_KEYUP, virtual_key, up) &&
           flush_posted(window);
}

bool flush_posted(HWND window, unsigned timeout_ms)
{
    /* Posted messages of one thread are handled in order, so a posted message whose effect can be seen
     * marks the end of everything posted before it. In a dialog that is DM_SETDEFID, read back with
     * DM_GETDEFID (the tools have no default push button, so the id has no effect). Elsewhere two sent
     * messages, each handled only when the thread next asks for messages, stand in for it. */
    HWND dialog = window;
    while (dialog && class_of(dialog) != "#32770") dialog = GetParent(dialog);
    if (dialog) {
        static WORD token = 0x7F00;
        token = WORD(token == 0x7F00 ? 0x7F01 : 0x7F00);
        if (!PostMessageA(dialog, DM_SETDEFID, token, 0)) return false;
        return wait_until(
            [&] {
                DWORD_PTR r = 0;
                return send_timeout(dialog, DM_GETDEFID, 0, 0, &r, timeout_ms) && LOWORD(r) == token;
            },
            timeout_ms);
    }
    return send_timeout(window, WM_NULL, 0, 0, nullptr, timeout_ms) &&
           send_timeout(window, WM_NULL, 0, 0, nullptr, timeout_ms);
}

/* ---- dialogs ---- */

namespace {

struct TextSearch {
    std::string text;
};

BOOL CALLBACK collect_static_text(HWND child, LPARAM param)
{
    auto* search = reinterpret_cast<TextSearch*>(param);
    if (class_of(child) == "Static" && !(GetWindowLongA(child, GWL_STYLE) & (SS_ICON | SS_BITMAP))) {
        const std::string text = window_text(child);
        if (!text.empty() && search->text.empty()) search->text = text;
    }
    return TRUE;
}

struct ChildSearch {
    const char* class_name;
    int id;
    HWND found;
};

BOOL CALLBACK match_child(HWND child, LPARAM param)
{
    auto* search = reinterpret_cast<ChildSearch*>(param);
    if (class_of(child) != search->class_name || (search->id >= 0 && GetDlgCtrlID(child) != search->id)) return TRUE;
    search->found = child;
    return FALSE;
}

/* The first descendant of the class with the id (any id when id is negative). */
HWND find_child(HWND parent, const char* class_name, int id)
{
    ChildSearch search{class_name, id, nullptr};
    EnumChildWindows(parent, match_child, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace

std::string message_box_text(HWND box)
{
    /* Message boxes keep their text in the static control 0xFFFF. */
    if (HWND text = GetDlgItem(box, 0xFFFF)) return window_text(text);
    TextSearch search;
    EnumChildWindows(box, collect_static_text, reinterpret_cast<LPARAM>(&search));
    return search.text;
}

/* A dialog is found as soon as it is created, but it is set up (its fields filled in from the program's
 * defaults) before it is shown: text typed or a button pressed earlier would be undone or seen as done. */
static bool wait_until_shown(HWND dialog, unsigned timeout_ms)
{
    return wait_until([&] { return IsWindowVisible(dialog) || !IsWindow(dialog); }, timeout_ms) && IsWindow(dialog);
}

bool press_dialog_button(HWND dialog, int id, unsigned timeout_ms)
{
    if (!wait_until_shown(dialog, timeout_ms)) return false;
    /* By class too: other controls may share the id (a file dialog's list view has id 1). */
    HWND button = find_child(dialog, "Button", id);
    if (!button) button = GetDlgItem(dialog, id);
    if (!PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button)))
        return false;
    return wait_until([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, timeout_ms);
}

bool enter_file_name(HWND dialog, const std::string& file_name, unsigned timeout_ms)
{
    if (!wait_until_shown(dialog, timeout_ms)) return false;
    /* The name field: the edit inside combo box cmb13 (Explorer style), else edit edt1. */
    HWND field = nullptr;
    if (HWND combo = GetDlgItem(dialog, cmb13)) field = find_child(combo, "Edit", -1);
    if (!field) field = GetDlgItem(dialog, edt1);
    if (!field) return false;
    if (!send_timeout(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file_name.c_str()), nullptr)) return false;
    if (window_text(field) != file_name) return false;
    return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(find_child(dialog, "Button", IDOK)));
}

bool fill_file_dialog(HWND dialog, const std::string& file_name, unsigned timeout_ms)
{
    return enter_file_name(dialog, file_name, timeout_ms) &&
           wait_until([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, timeout_ms);
}

HWND wait_for_owned_dialog(HWND owner, unsigned timeout_ms)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(owner, &pid);
    WindowSearch search{pid, nullptr, "#32770", nullptr, nullptr, owner};
    wait_until(
        [&] {
            EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr || !IsWindow(owner);
        },
        timeout_ms);
    return search.found;
}

/* ---- window state ---- */

LONG window_style(HWND window) { return GetWindowLongA(window, GWL_STYLE); }
LONG window_ex_style(HWND window) { return GetWindowLongA(window, GWL_EXSTYLE); }
bool is_topmost(HWND window) { return (window_ex_style(window) & WS_EX_TOPMOST) != 0; }

SIZE window_size(HWND window)
{
    RECT r{};
    GetWindowRect(window, &r);
    return {r.right - r.left, r.bottom - r.top};
}

SIZE client_size(HWND window)
{
    RECT r{};
    GetClientRect(window, &r);
    return {r.right - r.left, r.bottom - r.top};
}

bool save_screenshot(HWND window, const std::string& name)
{
    Step step("taking a screenshot");
    RECT r{};
    if (!GetWindowRect(window, &r) || shot_dir().empty()) return false;
    /* Bring it to the front and let it paint before reading the screen. */
    SetForegroundWindow(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    flush_posted(window);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; /* bottom-up, as BMP files store it */
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
    }
    if (ok) {
        const DWORD row = DWORD((width * 3 + 3) & ~3);
        const DWORD image = row * DWORD(height);
        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        file.bfSize = file.bfOffBits + image;
        info.bmiHeader.biSizeImage = image;
        std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
        bytes.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(BITMAPINFOHEADER));
        bytes.append(static_cast<const char*>(bits), image);
        ok = write_file(join(shot_dir(), name + ".bmp"), bytes);
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

/* ---- resources read from a program file ---- */

namespace {

class TemplateReader {
public:
    TemplateReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool ok() const { return ok_; }
    WORD word()
    {
        WORD v = 0;
        take(&v, 2);
        return v;
    }
    DWORD dword()
    {
        DWORD v = 0;
        take(&v, 4);
        return v;
    }
    short coordinate() { return short(word()); }
    /* A name or ordinal field: 0 (none), 0xFFFF + ordinal, or a NUL-terminated wide string. */
    std::wstring name_or_ordinal(bool* is_ordinal = nullptr, WORD* ordinal = nullptr)
    {
        const WORD first = word();
        if (is_ordinal) *is_ordinal = false;
        if (first == 0) return {};
        if (first == 0xFFFF) {
            const WORD value = word();
            if (is_ordinal) *is_ordinal = true;
            if (ordinal) *ordinal = value;
            return L"#" + std::to_wstring(value);
        }
        std::wstring s(1, wchar_t(first));
        for (WORD c; ok_ && (c = word()) != 0;) s += wchar_t(c);
        return s;
    }
    std::wstring string()
    {
        std::wstring s;
        for (WORD c; ok_ && (c = word()) != 0;) s += wchar_t(c);
        return s;
    }
    void align4() { pos_ = std::min(size_, (pos_ + 3) & ~size_t(3)); }
    void skip(size_t n)
    {
        if (n > size_ - pos_) ok_ = false;
        else pos_ += n;
    }

private:
    void take(void* out, size_t n)
    {
        if (n > size_ - pos_) {
            ok_ = false;
            return;
        }
        std::memcpy(out, data_ + pos_, n);
        pos_ += n;
    }
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

std::wstring class_from_atom(WORD atom)
{
    switch (atom) {
    case 0x80: return L"BUTTON";
    case 0x81: return L"EDIT";
    case 0x82: return L"STATIC";
    case 0x83: return L"LISTBOX";
    case 0x84: return L"SCROLLBAR";
    case 0x85: return L"COMBOBOX";
    default: return L"#" + std::to_wstring(atom);
    }
}

bool load_resource(HMODULE module, const char* name, LPCSTR type, const uint8_t** data, size_t* size)
{
    HRSRC found = FindResourceA(module, name, type);
    if (!found) return false;
    HGLOBAL loaded = LoadResource(module, found);
    if (!loaded) return false;
    *data = static_cast<const uint8_t*>(LockResource(loaded));
    *size = SizeofResource(module, found);
    return *data != nullptr;
}

} // namespace

bool read_dialog_template(const std::string& exe, const char* name, DialogTemplate* out)
{
    *out = {};
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return false;
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool ok = load_resource(module, name, MAKEINTRESOURCEA(5) /* RT_DIALOG */, &data, &size);
    if (ok) {
        TemplateReader in(data, size);
        const WORD version = in.word();
        const WORD signature = in.word();
        out->extended = version == 1 && signature == 0xFFFF;
        if (out->extended) {
            in.dword(); /* help id */
            out->ex_style = in.dword();
            out->style = in.dword();
        } else {
            out->style = DWORD(version) | (DWORD(signature) << 16);
            out->ex_style = in.dword();
        }
        const WORD count = in.word();
        out->x = in.coordinate();
        out->y = in.coordinate();
        out->cx = in.coordinate();
        out->cy = in.coordinate();
        out->menu = in.name_or_ordinal();
        out->class_name = in.name_or_ordinal();
        out->caption = in.string();
        if (out->style & (DS_SETFONT | DS_SHELLFONT)) {
            out->point_size = in.word();
            if (out->extended) {
                in.word(); /* weight */
                in.skip(2); /* italic, charset */
            }
            out->font = in.string();
        }
        for (WORD i = 0; i < count && in.ok(); ++i) {
            in.align4();
            DialogItem item;
            if (out->extended) {
                in.dword(); /* help id */
                item.ex_style = in.dword();
                item.style = in.dword();
            } else {
                item.style = in.dword();
                item.ex_style = in.dword();
            }
            item.x = in.coordinate();
            item.y = in.coordinate();
            item.cx = in.coordinate();
            item.cy = in.coordinate();
            item.id = out->extended ? in.dword() : in.word();
            bool atom = false;
            WORD atom_value = 0;
            item.class_name = in.name_or_ordinal(&atom, &atom_value);
            if (atom) item.class_name = class_from_atom(atom_value);
            else CharUpperBuffW(item.class_name.data(), DWORD(item.class_name.size()));
            item.text = in.name_or_ordinal();
            in.skip(in.word()); /* creation data */
            out->items.push_back(item);
        }
        ok = in.ok();
    }
    FreeLibrary(module);
    return ok;
}

bool read_icon_group(const std::string& exe, const char* name, std::vector<IconImage>* out)
{
    out->clear();
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return false;
    const uint8_t* group = nullptr;
    size_t size = 0;
    bool ok = load_resource(module, name, MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, &group, &size) && size >= 6;
    if (ok) {
        /* GRPICONDIR: reserved, type, count; then 14-byte entries ending in the image's resource id. */
        const WORD count = WORD(group[4] | (group[5] << 8));
        ok = size >= 6 + size_t(count) * 14;
        for (WORD i = 0; ok && i < count; ++i) {
            const uint8_t* entry = group + 6 + size_t(i) * 14;
            const WORD id = WORD(entry[12] | (entry[13] << 8));
            const uint8_t* image = nullptr;
            size_t image_size = 0;
            ok = load_resource(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3) /* RT_ICON */, &image,
                               &image_size) &&
                 image_size >= sizeof(BITMAPINFOHEADER);
            if (!ok) break;
            BITMAPINFOHEADER header;
            std::memcpy(&header, image, sizeof header);
            IconImage info;
            info.width = header.biWidth;
            info.height = header.biHeight / 2; /* colour image and mask */
            info.bit_count = header.biBitCount;
            out->push_back(info);
        }
    }
    FreeLibrary(module);
    return ok;
}

} // namespace guidrive

/* ---- the driver's main: runs the tests of this run ---- */

int main(int argc, char** argv)
{
    using namespace guidrive;
    /* The run's locale (empty for the default run) picks the tests; arguments pick tests by name. */
    const std::string locale = environment("GUI_RUN_LOCALE");
    int run = 0;
    int failed_tests = 0;
    std::printf("code page %u, run \"%s\"\n", GetACP(), locale.c_str());
    g_test_ended = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (HANDLE t = CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr)) CloseHandle(t);
    for (const TestEntry& test : registry()) {
        if (locale != test.locale) continue;
        bool chosen = argc < 2;
        for (int i = 1; i < argc; ++i) chosen = chosen || std::strstr(test.name, argv[i]) != nullptr;
        if (!chosen) continue;
        g_current = test.name;
        g_test_folder.clear();
        const int before = g_failures;
        const ULONGLONG start = GetTickCount64();
        std::printf("[ RUN      ] %s\n", test.name);
        std::fflush(stdout);
        g_step = "the test's own code";
        SetEvent(g_test_ended); /* a new period for the watchdog */
        test.function();
        const bool passed = g_failures == before;
        std::printf("[ %s ] %s (%llu ms)\n", passed ? "      OK" : "  FAILED", test.name, GetTickCount64() - start);
        std::fflush(stdout);
        ++run;
        if (!passed) ++failed_tests;
    }
    std::printf("%d test(s) run, %d failed\n", run, failed_tests);
    if (run == 0) {
        std::printf("no test was chosen\n");
        return 1;
    }
    return failed_tests ? 1 : 0;
}
