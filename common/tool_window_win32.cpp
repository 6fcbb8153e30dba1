/* tool_window_win32.cpp -- the drop-tool window: dialog "MAIN", plain message loop, drop loop, option box */
#include "common/tool_window.h"

#include <shellapi.h>

#include "resources/tool_window_res.h"

namespace ps2::win {

namespace {

constexpr UINT kPathCapacity = 1024;
/* Asks DragQueryFileA for the number of files instead of a name. */
constexpr UINT kDropFileCount = 0xFFFFFFFF;

/* Program-wide state, set once at start-up: the instance for the icon. The
 * file handler is kept on the window itself (DWLP_USER), set right after the
 * dialog is created and before the message loop can deliver any drop. */
HINSTANCE g_instance = nullptr;

FileHandler handler_of(HWND window)
{
    return reinterpret_cast<FileHandler>(GetWindowLongPtrA(window, DWLP_USER));
}

/* Answers FALSE to every message, so that the dialog manager's default
 * handling applies, and FALSE from WM_INITDIALOG leaves the focus unset. */
INT_PTR CALLBACK tool_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM)
{
    if (end_on_close(window, message)) return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        set_up_tool_window(window, g_instance);
        break;
    case WM_DROPFILES:
        for_each_dropped_file(window, reinterpret_cast<HDROP>(wparam), handler_of(window));
        break;
    default:
        break;
    }
    return FALSE;
}

bool read_option_box(void* context)
{
    return IsDlgButtonChecked(static_cast<HWND>(context), IDC_OPTION_BOX) == BST_CHECKED;
}

} // namespace

int run_drop_tool(HINSTANCE instance, int show_command, FileHandler handler)
{
    g_instance = instance;
    const HWND window = CreateDialogParamA(instance, IDD_MAIN, nullptr, tool_dialog_proc, 0);
    /* Without its window the loop below would wait for ever, unseen. */
    if (!window) return 1;
    SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(handler));
    ShowWindow(window, show_command);
    UpdateWindow(window);
    return run_message_loop();
}

void set_up_tool_window(HWND window, HINSTANCE instance)
{
    const HICON icon = LoadIconA(instance, IDI_ICON);
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    DragAcceptFiles(window, TRUE);
}

void for_each_dropped_file(HWND window, HDROP drop, FileHandler fn)
{
    const UINT count = DragQueryFileA(drop, kDropFileCount, nullptr, 0);
    for (UINT i = 0; i < count && IsWindow(window); ++i) {
        char path[kPathCapacity];
        const UINT length = DragQueryFileA(drop, i, nullptr, 0);
        if (length == 0 || length >= kPathCapacity) continue;
        if (DragQueryFileA(drop, i, path, kPathCapacity) != length) continue;
        if (fn) fn(window, path);
    }
    DragFinish(drop);
}

bool end_on_close(HWND window, UINT message)
{
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        return true;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return true;
    }
    return false;
}

int run_message_loop()
{
    MSG message = {};
    for (;;) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) break;
        if (got == -1) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return int(message.wParam);
}

OptionBox option_box_of(HWND window)
{
    OptionBox box;
    box.read = read_option_box;
    box.context = window;
    return box;
}

} // namespace ps2::win
