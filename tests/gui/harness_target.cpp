/* harness_target.cpp -- a small window for testing the GUI harness itself: a list box, a combo box,
 * a message box and a save dialog, reached through commands. It records what happened in
 * TARGET.LOG in its current folder, one line per event. */
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kList = 128;
constexpr int kCombo = 129;
constexpr int kCommandMessage = 200;  /* shows a message box "NOTICE" */
constexpr int kCommandSave = 201;     /* asks for a file name and writes "saved" to it */
constexpr int kCommandLongItem = 202; /* adds an item of 1000 characters */

void log_line(const std::string& line)
{
    HANDLE log = CreateFileA("TARGET.LOG", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(log, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(log);
}

void add_item(HWND window, const std::string& text)
{
    SendDlgItemMessageA(window, kList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void save_file(HWND window)
{
    char name[1024] = "";
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window;
    ofn.lpstrFilter = "(*.bin)\0*.bin\0";
    ofn.lpstrFile = name;
    ofn.nMaxFile = sizeof name;
    ofn.lpstrDefExt = "bin";
    if (!GetSaveFileNameA(&ofn)) {
        log_line("save cancelled");
        return;
    }
    HANDLE out = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(out, "saved", 5, &written, nullptr);
        CloseHandle(out);
    }
    log_line(std::string("saved ") + name);
}

INT_PTR CALLBACK target_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        DragAcceptFiles(window, TRUE);
        for (const char* name : {"first", "second", "third"})
            SendDlgItemMessageA(window, kCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == kCommandMessage) {
            const int answer = MessageBoxA(window, "HELLO THERE", "NOTICE", MB_OKCANCEL);
            log_line("message " + std::to_string(answer));
        } else if (LOWORD(wparam) == kCommandSave) {
            save_file(window);
        } else if (LOWORD(wparam) == kCommandLongItem) {
            add_item(window, std::string(1000, 'x'));
        } else if (LOWORD(wparam) == kCombo && HIWORD(wparam) == CBN_SELCHANGE) {
            const LRESULT index = SendDlgItemMessageA(window, kCombo, CB_GETCURSEL, 0, 0);
            log_line("select " + std::to_string(index));
        }
        return TRUE;
    case WM_DROPFILES: {
        HDROP drop = reinterpret_cast<HDROP>(wparam);
        const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            char path[1024];
            DragQueryFileA(drop, i, path, sizeof path);
            add_item(window, path);
        }
        DragFinish(drop);
        log_line("drop " + std::to_string(count));
        return TRUE;
    }
    case WM_CLOSE:
        DestroyWindow(window);
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(7);
        return TRUE;
    }
    (void)lparam;
    return FALSE;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command)
{
    HWND window = CreateDialogParamA(instance, "MAIN", nullptr, target_proc, 0);
    if (!window) return 1;
    ShowWindow(window, show_command);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return int(message.wParam);
}
