/* guidrive.h -- drives the Windows programs from a test program running beside them under Wine:
 * start a program, find its windows, drop files on it, work its controls and dialogs, take screenshots.
 *
 * A driver is a console program, tests/gui/<name>_gui_test.cpp, made of GUI_TEST blocks; main() is in
 * guidrive.cpp. tests/gui/run_under_wine.sh runs it and sets the folders below. Every wait polls with a
 * timeout and never sleeps a fixed time; a failed wait returns false or nullptr. All texts are ANSI
 * byte strings in the system code page, as the tools see them, unless a name says wide. */
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

namespace guidrive {

/* Default for every wait: generous, since a loaded machine makes Wine slow; a passing test never waits it out. */
inline constexpr unsigned kTimeoutMs = 20000;

/* ---- tests and checks ---- */

using TestFunction = void (*)();
/* Registers a test for the default run (locale empty) or for the run under the given locale. */
int register_test(const char* name, const char* locale, TestFunction function);
void report_failure(const char* file, int line, const std::string& what);
/* The name of the test that is running. */
const std::string& current_test();

std::string describe(const std::string& s);
std::string describe(const std::wstring& s);
inline std::string describe(const char* s) { return describe(std::string(s ? s : "(null)")); }
inline std::string describe(const wchar_t* s) { return describe(std::wstring(s ? s : L"(null)")); }
inline std::string describe(bool b) { return b ? "true" : "false"; }
template <typename T>
std::string describe(const T& v);
template <typename T>
std::string describe(const std::vector<T>& items)
{
    std::string out = "{";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + describe(items[i]);
    return out + "}";
}
template <typename T>
std::string describe(const T& v)
{
    std::ostringstream out;
    if constexpr (std::is_integral_v<T> || std::is_enum_v<T>)
        out << static_cast<long long>(v) << " (0x" << std::hex << static_cast<unsigned long long>(v) << ")";
    else if constexpr (std::is_pointer_v<T>)
        out << static_cast<const void*>(v);
    else
        out << v;
    return out.str();
}

} // namespace guidrive

/* A test of the default run. */
#define GUI_TEST(name) GUI_TEST_LOCALE(name, "")
/* A test that runs only in the run under LC_ALL=locale (e.g. "ja_JP.UTF-8", which gives Wine code page
 * 932). tests/gui_tests.cmake reads these lines from the source and registers one CTest run per locale. */
#define GUI_TEST_LOCALE(name, locale)                                                              \
    static void name();                                                                            \
    [[maybe_unused]] static const int name##_registered = ::guidrive::register_test(#name, locale, name); \
    static void name()

/* CHECK notes a failure and goes on; REQUIRE notes it and leaves the test. */
#define CHECK(cond)                                                             \
    do {                                                                        \
        if (!(cond)) ::guidrive::report_failure(__FILE__, __LINE__, #cond);     \
    } while (0)
#define REQUIRE(cond)                                                           \
    do {                                                                        \
        if (!(cond)) {                                                          \
            ::guidrive::report_failure(__FILE__, __LINE__, #cond);              \
            return;                                                             \
        }                                                                       \
    } while (0)
#define GUIDRIVE_COMPARE_(a, b, on_fail)                                                              \
    do {                                                                                              \
        const auto& gd_a_ = (a);                                                                      \
        const auto& gd_b_ = (b);                                                                      \
        if (!(gd_a_ == gd_b_)) {                                                                      \
            ::guidrive::report_failure(__FILE__, __LINE__, std::string(#a " == " #b "\n    left:  ") + \
                                                               ::guidrive::describe(gd_a_) +          \
                                                               "\n    right: " + ::guidrive::describe(gd_b_)); \
            on_fail;                                                                                  \
        }                                                                                             \
    } while (0)
#define CHECK_EQ(a, b) GUIDRIVE_COMPARE_(a, b, (void)0)
#define REQUIRE_EQ(a, b) GUIDRIVE_COMPARE_(a, b, return)

namespace guidrive {

/* ---- the run's folders (Windows paths, set by run_under_wine.sh) ---- */

/* The Windows programs under test (GUI_BIN). */
const std::string& bin_dir();
/* bin_dir() + "\" + name. */
std::string program_path(const char* name);
/* A fresh, empty folder for the running test: <work>\<test name>, made on first use. */
const std::string& test_folder();
/* Where save_screenshot writes (GUI_SHOTS). */
const std::string& shot_dir();
/* a + "\" + b. */
std::string join(const std::string& a, const std::string& b);

/* ---- files ---- */

bool write_file(const std::string& path, const std::string& bytes);
bool write_file(const std::string& path, const std::vector<uint8_t>& bytes);
/* The whole file; false when it cannot be read. A file that a program has just moved into place may
 * still be held for a moment by the move (and so be shared with no one): that is waited out. */
bool read_file(const std::string& path, std::string* bytes);
bool file_exists(const std::string& path);
/* The file's size without opening it (an open could stop a program from replacing it), or -1. */
long long file_size(const std::string& path);
bool folder_exists(const std::string& path);
bool make_folder(const std::string& path);
/* The names in a folder, sorted by byte value, without "." and "..". */
std::vector<std::string> list_folder(const std::string& path);

/* Polls until the condition holds; false when it still does not after the timeout. */
bool wait_until(const std::function<bool()>& condition, unsigned timeout_ms = kTimeoutMs);
/* True once the file exists; it may still be being written (wait for a sign of the end where it matters). */
bool wait_for_file(const std::string& path, unsigned timeout_ms = kTimeoutMs);
bool wait_for_no_file(const std::string& path, unsigned timeout_ms = kTimeoutMs);

/* ---- programs ---- */

/* A started program. Whatever is still running when the Program is destroyed is terminated. */
class Program {
public:
    Program() = default;
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    /* Starts exe with the given command-line arguments (appended to the quoted exe path) in the folder
     * (the test folder when empty), shown normally. */
    bool start(const std::string& exe, const std::string& arguments = "", const std::string& folder = "");
    /* Waits for a visible top-level window of this program with the caption and class (nullptr: any);
     * remembers it as window(). */
    HWND wait_for_window(const char* caption = nullptr, const char* class_name = nullptr,
                         unsigned timeout_ms = kTimeoutMs);
    /* Waits for a visible top-level dialog (class "#32770") of this program with the caption other than
     * window(): message boxes, common file dialogs, modal dialogs. */
    HWND wait_for_dialog(const char* caption, unsigned timeout_ms = kTimeoutMs);

    HWND window() const { return window_; }
    HANDLE process() const { return info_.hProcess; }
    DWORD pid() const { return info_.dwProcessId; }
    bool running() const;
    /* Waits for the end; *exit_code gets the program's exit code. */
    bool wait_for_exit(DWORD* exit_code, unsigned timeout_ms = kTimeoutMs);
    /* Sends WM_CLOSE to window() (posted, as the close box does) and waits for the end. */
    bool close(DWORD* exit_code, unsigned timeout_ms = kTimeoutMs);

private:
    PROCESS_INFORMATION info_{};
    HWND window_ = nullptr;
};

/* A visible top-level window of the process with the caption and class (nullptr: any), or nullptr. */
HWND find_window(DWORD pid, const char* caption, const char* class_name);

/* ---- texts ---- */

std::string window_text(HWND window);
std::wstring window_text_wide(HWND window);
std::string item_text(HWND dialog, int id);
std::wstring item_text_wide(HWND dialog, int id);
std::string class_of(HWND window);
/* The direct children of a window with the control id, in z-order (ids need not be unique). */
std::vector<HWND> children_with_id(HWND parent, int id);
std::wstring utf8_to_wide(const std::string& utf8);
/* In the ANSI code page of this run (Shift_JIS under ja_JP.UTF-8). */
std::string wide_to_ansi(const std::wstring& wide);

/* ---- dropping files ---- */

/* Drops the paths on the window, as the shell does: a DROPFILES block with ANSI names is made in the
 * target process's own memory with GlobalAlloc (so that its DragFinish frees it properly) and handed over
 * as WM_DROPFILES. drop_files returns once the window has handled the whole drop (the message is sent);
 * post_drop_files posts it and returns at once (use it when the drop will open a message box).
 * At least one path: an empty list is refused (the drop format cannot carry one; Wine reads it as one
 * empty name). */
bool drop_files(HWND window, const std::vector<std::string>& paths, unsigned timeout_ms = kTimeoutMs);
bool post_drop_files(HWND window, const std::vector<std::string>& paths);

/* Sends a message to the window from a thread inside its own process and gives back the result, for
 * messages that Wine does not carry between processes (WM_GETICON answers 0 from outside). Only for
 * messages whose parameters are plain values. */
bool send_in_process(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result,
                     unsigned timeout_ms = kTimeoutMs);

/* ---- controls and commands ---- */

/* BM_SETCHECK on the dialog's control id (BST_CHECKED / BST_UNCHECKED), as a program would set it. */
bool set_check(HWND dialog, int id, bool checked);
/* BM_GETCHECK: BST_CHECKED, BST_UNCHECKED, or -1 when there is no such control. */
int check_state(HWND dialog, int id);
/* BM_CLICK, posted, as a mouse click on the button (toggles an automatic check box). */
bool click_button(HWND dialog, int id);
/* WM_COMMAND with the id and notification code. Sent (returns when handled) unless post is true;
 * post it when the command opens a modal dialog. */
bool send_command(HWND window, int id, int notification = 0, HWND control = nullptr, bool post = false);
/* Selects a combo box item as the user would: CB_SETCURSEL, then WM_COMMAND CBN_SELCHANGE to the parent. */
bool select_combo_item(HWND dialog, int combo_id, int index);
std::vector<std::string> combo_items(HWND combo);
/* Every item's text (LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT). */
std::vector<std::string> list_items(HWND list);
/* LB_GETCURSEL (LB_ERR, -1, when none). */
int list_selection(HWND list);
/* LB_SETCURSEL. */
bool select_list_item(HWND list, int index);
/* Presses a key in the window's thread: WM_KEYDOWN and WM_KEYUP posted to the thread's focus window (the
 * window itself when nothing has the focus), through its message loop; returns once they are handled. */
bool press_key(HWND window, UINT virtual_key);
/* Returns once every message posted to the window before the call has been handled. */
bool flush_posted(HWND window, unsigned timeout_ms = kTimeoutMs);

/* ---- dialogs ---- */

/* The text of a message box (its static text control). */
std::string message_box_text(HWND box);
/* Presses a dialog's button by id (IDOK, IDCANCEL, ...) and waits until the dialog is gone. */
bool press_dialog_button(HWND dialog, int id, unsigned timeout_ms = kTimeoutMs);
/* Fills the file name of an open or save dialog and presses its OK/Save button; waits until it is gone. */
bool fill_file_dialog(HWND dialog, const std::string& file_name, unsigned timeout_ms = kTimeoutMs);
/* The same without waiting: for a dialog that asks a question first (a save dialog's "replace it?"). */
bool enter_file_name(HWND dialog, const std::string& file_name, unsigned timeout_ms = kTimeoutMs);
/* Waits for a visible dialog (a message box...) owned by the window, such as a file dialog's question. */
HWND wait_for_owned_dialog(HWND owner, unsigned timeout_ms = kTimeoutMs);

/* ---- window state ---- */

LONG window_style(HWND window);
LONG window_ex_style(HWND window);
bool is_topmost(HWND window);
SIZE window_size(HWND window);
SIZE client_size(HWND window);

/* Writes a 24-bit BMP of the window as it shows on the screen to <shots>\<name>.bmp (the runner turns
 * it into <build>/screenshots/<name>.png). */
bool save_screenshot(HWND window, const std::string& name);

/* ---- resources read from a program file ---- */

struct DialogItem {
    DWORD style = 0;
    DWORD ex_style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::wstring class_name;  /* in upper case, atoms named: "BUTTON", "EDIT", "STATIC", "LISTBOX", "COMBOBOX"... */
    std::wstring text;        /* the title; "#<n>" for an ordinal */
};
struct DialogTemplate {
    bool extended = false; /* DIALOGEX */
    DWORD style = 0;
    DWORD ex_style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu;       /* empty, a name, or "#<n>" */
    std::wstring class_name;
    std::wstring caption;
    WORD point_size = 0;     /* with DS_SETFONT */
    std::wstring font;
    std::vector<DialogItem> items;
};
/* Parses the dialog template resource `name` of the program file. */
bool read_dialog_template(const std::string& exe, const char* name, DialogTemplate* out);

struct IconImage {
    int width = 0;
    int height = 0;
    int bit_count = 0; /* from the image's own bitmap header */
};
/* The images of the icon group resource `name` of the program file. */
bool read_icon_group(const std::string& exe, const char* name, std::vector<IconImage>* out);

} // namespace guidrive
