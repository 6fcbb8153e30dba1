/* droprun_win32.cpp -- DROPRUN.exe: the preset form, drops, command-line mode, programs started and waited for */
#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "common/cmdline.h"
#include "common/platform.h"
#include "common/tool_window.h"
#include "droprun/presetfile.h"
#include "droprun/run.h"
#include "resources/droprun_res.h"

using namespace ps2;
using namespace ps2::droprun;

namespace {

HINSTANCE g_instance = nullptr;

/* A quit request taken from the queue inside a wait. It is posted again
 * once the wait is over, so that closing the window while a program runs
 * still ends DROPRUN. */
struct PendingQuit {
    bool seen = false;
    WPARAM code = 0;
};

/* ---- the preset form ---- */

void set_fields(HWND window, const PresetFields& fields)
{
    for (size_t i = 0; i < kFormFieldCount; ++i)
        SetDlgItemTextA(window, int(kFirstFormField + i), fields.field[i].c_str());
}

bool list_path_of_program(PathBuffer* path) { return default_preset_list_path(path) == plat::IoError::ok; }

void set_caption(HWND window)
{
    char program[kPathCapacity];
    if (plat::get_module_path(program, sizeof program) != plat::IoError::ok) return;
    PathBuffer caption;
    const std::string_view text = caption_of(program, plat::native_path_rules());
    if (caption.append(text.data(), text.size())) SetWindowTextA(window, caption.c_str());
}

/* Start-up: every name into the combo box's list, the first name into its
 * edit field (no entry selected), the first preset into the fields. */
void load_presets(HWND window)
{
    PresetList list;
    PathBuffer path;
    if (list_path_of_program(&path)) (void)load_preset_file(path.c_str(), &list);
    else load_preset_list(ByteSource{}, &list); /* no list: one empty preset */
    for (const std::string& name : list.names)
        SendDlgItemMessageA(window, IDC_PRESET, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    SetDlgItemTextA(window, IDC_PRESET, list.names.front().c_str());
    set_fields(window, list.first);
}

/* A selection reads the list anew, so the fields show it as it is on disk. */
void select_preset(HWND window)
{
    const LRESULT index = SendDlgItemMessageA(window, IDC_PRESET, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return;
    PresetFields fields;
    PathBuffer path;
    if (list_path_of_program(&path)) (void)read_preset_file(path.c_str(), size_t(index), &fields);
    set_fields(window, fields);
}

/* ---- starting programs ---- */

/* Waits for the process to end while the thread's messages keep flowing:
 * the form can be edited, a preset chosen, files dropped (their run nests
 * here). Blocks until the process ends or a message arrives. */
void wait_dispatching(plat::ProcessHandle process)
{
    PendingQuit quit;
    while (!plat::wait_for_end_or_message(process)) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit.seen = true;
                quit.code = msg.wParam;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (quit.seen) PostQuitMessage(int(quit.code));
}

/* The window's side of a run: fields read from the controls at the moment
 * the run asks, SetCurrentDirectoryA, CreateProcessA, the dispatching wait.
 * Nothing is reported. */
class WindowHost final : public RunHost {
public:
    explicit WindowHost(HWND window) : window_(window) {}

    void read_field(FormField field, PathBuffer* text) override
    {
        char buffer[kPathCapacity] = {};
        GetDlgItemTextA(window_, int(field), buffer, int(sizeof buffer)); /* a closed window reads empty */
        buffer[sizeof buffer - 1] = '\0';
        (void)text->assign(buffer);
    }

    void enter_folder(const char* folder) override { (void)plat::set_current_folder(folder); }

    void start_command(FormField, const char* command_line, bool hide_window, bool wait) override
    {
        plat::ProcessHandle process;
        if (plat::start_process(command_line, hide_window, &process) != plat::IoError::ok) return;
        if (wait) wait_dispatching(process);
        plat::close_process(process);
    }

    void expansion_too_long(FormField) override {}

private:
    HWND window_;
};

void run_path(HWND window, const char* path)
{
    WindowHost host(window);
    (void)run_file(path, query_system_folders(), plat::native_path_rules(), host);
}

INT_PTR CALLBACK form_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (ps2::win::end_on_close(window, message)) return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        ps2::win::set_up_tool_window(window, g_instance);
        set_caption(window);
        load_presets(window);
        break;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDC_PRESET && HIWORD(wparam) == CBN_SELCHANGE) select_preset(window);
        break;
    case WM_DROPFILES:
        /* Every file in the shell's order, each run to its end. */
        ps2::win::for_each_dropped_file(window, reinterpret_cast<HDROP>(wparam), run_path);
        break;
    default:
        break;
    }
    (void)lparam;
    return FALSE;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command)
{
    g_instance = instance;
    const HWND window = CreateDialogParamA(instance, IDD_MAIN, nullptr, form_procedure, 0);
    if (!window) return 1; /* no window, nothing that could ever end the program */
    ShowWindow(window, show_command);
    UpdateWindow(window);

    /* Command-line mode: one path, run with the form as loaded, then close. */
    const CharStep step = plat::native_path_rules().step;
    const std::string_view arguments = command_line_arguments(GetCommandLineA(), step);
    if (!arguments.empty()) {
        const std::string_view path = command_line_path(arguments, step);
        PathBuffer p; /* a path that is empty or longer than 1023 bytes is not run */
        if (!path.empty() && p.append(path.data(), path.size())) run_path(window, p.c_str());
        if (IsWindow(window)) SendMessageA(window, WM_CLOSE, 0, 0);
    }

    return ps2::win::run_message_loop();
}
