/* taviro_win32.cpp -- TAVIRO's window: the list of archives, drops, the File / Edit / Help menu, the save commands */
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "cardbuild/filelist.h"
#include "cardbuild/taviro_handler.h"
#include "common/paths.h"
#include "common/platform.h"
#include "common/tool_window.h"
#include "resources/taviro_res.h"

using namespace ps2;

namespace {

HINSTANCE g_instance;

/* The list box as a list for the Edit commands of filelist.h. A list box
 * moves its selection on deletes and inserts as FileList does. */
struct ListBoxList {
    HWND box;

    size_t count() const
    {
        const LRESULT n = SendMessageA(box, LB_GETCOUNT, 0, 0);
        return n == LB_ERR ? 0 : size_t(n);
    }
    std::string text(size_t i) const
    {
        const LRESULT n = SendMessageA(box, LB_GETTEXTLEN, WPARAM(i), 0);
        if (n == LB_ERR) return {};
        std::string s(size_t(n) + 1, '\0');
        const LRESULT got = SendMessageA(box, LB_GETTEXT, WPARAM(i), LPARAM(s.data()));
        s.resize(got == LB_ERR ? 0 : size_t(got));
        return s;
    }
    void remove(size_t i) { SendMessageA(box, LB_DELETESTRING, WPARAM(i), 0); }
    void insert(size_t i, const std::string& t) { SendMessageA(box, LB_INSERTSTRING, WPARAM(i), LPARAM(t.c_str())); }
    int selected() const
    {
        const LRESULT s = SendMessageA(box, LB_GETCURSEL, 0, 0);
        return s == LB_ERR ? -1 : int(s);
    }
    void select(int i) { SendMessageA(box, LB_SETCURSEL, WPARAM(i), 0); }

    std::vector<std::string> texts() const
    {
        std::vector<std::string> all;
        const size_t n = count();
        all.reserve(n);
        for (size_t i = 0; i < n; ++i) all.push_back(text(i));
        return all;
    }
};

ListBoxList list_of(HWND window) { return {GetDlgItem(window, IDC_LIST)}; }

/* Adds a dropped or chosen path: its files, and those of its folders, at the end of the list. */
void add_to_list(HWND window, const char* path)
{
    std::vector<std::string> found;
    (void)add_path(path, plat::native_path_rules(), &found);
    ListBoxList list = list_of(window);
    for (const std::string& f : found) SendMessageA(list.box, LB_ADDSTRING, 0, LPARAM(f.c_str()));
}

/* The list box is hidden while it is sorted. The selected item stays selected. */
void sort_list(HWND window, SortOrder order)
{
    ListBoxList list = list_of(window);
    const std::vector<std::string> texts = list.texts();
    if (texts.size() < 2) return;
    const int selected = list.selected();
    const std::vector<size_t> perm = sorted_order(texts, order);
    ShowWindow(list.box, SW_HIDE);
    SendMessageA(list.box, LB_RESETCONTENT, 0, 0);
    int new_selection = -1;
    for (size_t k = 0; k < perm.size(); ++k) {
        SendMessageA(list.box, LB_ADDSTRING, 0, LPARAM(texts[perm[k]].c_str()));
        if (int(perm[k]) == selected) new_selection = int(k);
    }
    list.select(new_selection);
    ShowWindow(list.box, SW_SHOW);
}

void choose_and_add_file(HWND window)
{
    char path[kPathCapacity] = "";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window;
    ofn.lpstrFilter = "(*.psu)\0*.psu\0";
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (GetOpenFileNameA(&ofn)) add_to_list(window, path);
}

/* "…" in the system's code page (one byte in 1252, two in 932), or "..." where the code page has none. */
std::string ellipsis_in_code_page()
{
    char text[8] = {};
    BOOL defaulted = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, 0, L"\u2026", 1, text, sizeof text - 1, nullptr, &defaulted);
    return n > 0 && !defaulted ? std::string(text, size_t(n)) : std::string("...");
}

/* The save commands: the save dialog gives the path, and asks before an
 * existing file is replaced (No goes back to the dialog, whose Cancel ends
 * the command with nothing written); then the card is built and written.
 * The window tells when the card is full (nothing written; the first file
 * that does not fit is selected in the list), when the file cannot be
 * written, and which listed files were left out. */
void save_card(HWND window, CardForm form)
{
    char path[kPathCapacity] = "";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window;
    ofn.lpstrFilter = form == CardForm::coded ? "(*.vm2)\0*.vm2\0(*.ps2)\0*.ps2\0" : "(*.bin)\0*.bin\0";
    ofn.lpstrDefExt = form == CardForm::coded ? "vm2" : "bin";
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.Flags = OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameA(&ofn)) return;

    const std::vector<std::string> texts = list_of(window).texts();
    const HCURSOR old_cursor = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    const CardBuildResult result = build_card_file(texts, form, path, Reporter{});
    SetCursor(old_cursor);

    if (result.card_full) {
        list_of(window).select(int(result.full_index));
        MessageBoxA(window, describe_full_card(result).c_str(), "TAVIRO", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (!result.written) {
        const std::string text = std::string("The card image could not be written:\n\n") + path + "\n\n" +
                                 (result.no_memory ? plat::io_error_text(plat::IoError::no_memory)
                                                   : plat::describe_io_error(result.write_error));
        MessageBoxA(window, text.c_str(), "TAVIRO", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (!result.left_out.empty())
        MessageBoxA(window, describe_left_out(result, kLeftOutLines, ellipsis_in_code_page().c_str()).c_str(),
                    "TAVIRO", MB_OK | MB_ICONEXCLAMATION);
}

/* Help and About: closed by OK or the close box, with result 1. */
INT_PTR CALLBACK info_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    if ((message == WM_COMMAND && LOWORD(wparam) == IDC_OK) || message == WM_CLOSE) EndDialog(dialog, 1);
    return FALSE;
}

void on_command(HWND window, UINT id)
{
    ListBoxList list = list_of(window);
    switch (id) {
    case IDM_ADD_FILE: choose_and_add_file(window); break;
    case IDM_SAVE_CODED: save_card(window, CardForm::coded); break;
    case IDM_SAVE_RAW: save_card(window, CardForm::raw); break;
    case IDM_EXIT: DestroyWindow(window); break;
    case IDM_CLEAR: clear_list(list); break;
    case IDM_DELETE: delete_selected(list); break;
    case IDM_MOVE_UP: move_selected_up(list); break;
    case IDM_MOVE_DOWN: move_selected_down(list); break;
    case IDM_SORT_ASCENDING: sort_list(window, SortOrder::ascending); break;
    case IDM_SORT_DESCENDING: sort_list(window, SortOrder::descending); break;
    case IDM_HELP: DialogBoxParamA(g_instance, IDD_HELP, window, info_dialog_proc, 0); break;
    case IDM_ABOUT: DialogBoxParamA(g_instance, IDD_ABOUT, window, info_dialog_proc, 0); break;
    default: break;
    }
}

/* Every message answers 0; the dialog manager does the rest. */
INT_PTR CALLBACK main_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (ps2::win::end_on_close(window, message)) return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        SendMessageA(window, WM_SETICON, ICON_BIG, LPARAM(LoadIconA(g_instance, IDI_ICON)));
        /* 512 x 384 pixels where it was placed, and out of the topmost band. */
        SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 512, 384, SWP_NOMOVE);
        DragAcceptFiles(window, TRUE);
        break;
    case WM_SIZE:
        MoveWindow(GetDlgItem(window, IDC_LIST), 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
        break;
    case WM_DROPFILES:
        ps2::win::for_each_dropped_file(window, reinterpret_cast<HDROP>(wparam), add_to_list);
        break;
    case WM_COMMAND:
        on_command(window, LOWORD(wparam));
        break;
    default:
        break;
    }
    return FALSE;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command)
{
    g_instance = instance;
    const HWND window = CreateDialogParamA(instance, IDD_MAIN, nullptr, main_dialog_proc, 0);
    ShowWindow(window, show_command);
    UpdateWindow(window);
    return ps2::win::run_message_loop();
}
