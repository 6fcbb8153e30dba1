/* tool_window_win32.cpp -- the drop-tool window: dialog "MAIN", plain message loop, drop loop, option box */
#include "common/tool_window.h"

#include <shellapi.h>

namespace ps2::win {

namespace {

/* Resource names and control ids shared by the four tools' templates. */
constexpr const char* kDialogName = "MAIN";
constexpr const char* kIconName = "ICON";
constexpr int kOptionBoxId = 129;
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

/* Hands every dropped file to the handler, in drop order, then releases the
 * drop. A name that does not fit the 1024-byte buffer is skipped rather than
 * handed over cut: a cut path names another file. */
void handle_drop(HWND window, HDROP drop)
{
    const FileHandler handler = handler_of(window);
    const UINT count = DragQueryFileA(drop, kDropFileCount, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        char path[kPathCapacity];
        const UINT length = DragQueryFileA(drop, i, nullptr, 0);
        if (length == 0 || length >= kPathCapacity) continue;
        if (DragQueryFileA(drop, i, path, kPathCapacity) != length) continue;
        if (handler) handler(window, path);
    }
    DragFinish(drop);
}

void set_up_window(HWND window)
{
    const HICON icon = LoadIconA(g_instance, kIconName);
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    /* The template's system-modal style makes the window topmost; take that
     * away again while keeping it above the ordinary windows. */
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    DragAcceptFiles(window, TRUE);
}

/* Answers FALSE to every message, so that the dialog manager's default
 * handling applies, and FALSE from WM_INITDIALOG leaves the focus unset. */
INT_PTR CALLBACK tool_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        set_up_window(window);
        break;
    case WM_DROPFILES:
        handle_drop(window, reinterpret_cast<HDROP>(wparam));
        break;
    case WM_CLOSE:
        DestroyWindow(window);
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        break;
    default:
        break;
    }
    return FALSE;
}

bool read_option_box(void* context)
{
    return IsDlgButtonChecked(static_cast<HWND>(context), kOptionBoxId) == BST_CHECKED;
}

} // namespace

int run_drop_tool(HINSTANCE instance, int show_command, FileHandler handler)
{
    g_instance = instance;
    const HWND window = CreateDialogParamA(instance, kDialogName, nullptr, tool_dialog_proc, 0);
    /* Without its window the loop below would wait for ever, unseen. */
    if (!window) return 1;
    SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(handler));
    ShowWindow(window, show_command);
    UpdateWindow(window);

    /* No IsDialogMessage: Tab, Escape and Enter do nothing. Only the quit
     * message (0) ends the loop; an error result (-1) does not. */
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) != 0) {
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
