/* varkon_win32.cpp -- VARKON.exe: the drop-tool window around the PSU <-> MAX file handler */
#include <windows.h>

#include <string>

#include "common/tool_window.h"
#include "maxconv/varkon_handler.h"

namespace {

/* The one message of the suite: text and caption "BAD CRC", owned by the
 * tool window, one OK button and no icon. The conversion goes on (or the
 * damaged file is kept) once the user has dismissed it. */
void show_bad_crc(void* context, const char*)
{
    MessageBoxA(static_cast<HWND>(context), "BAD CRC", "BAD CRC", MB_OK);
}

/* The last refusal the handler words, as the command line prints it behind "varkon: ": the window shows
 * nothing else, but after a "BAD CRC" box a user who is then given no PSU archive must learn why. */
struct LastRefusal {
    std::string subject, text;

    static void keep(void* context, ps2::Severity severity, const char* subject, const char* text)
    {
        if (severity != ps2::Severity::error) return;
        LastRefusal* kept = static_cast<LastRefusal*>(context);
        kept->subject = subject ? subject : "";
        kept->text = text;
    }
    /* The words, behind the file they name when that is not the dropped one (the output that could not
     * be written). */
    std::string for_file(const char* path) const
    {
        return subject.empty() || subject == path ? text : subject + ": " + text;
    }
};

void handle_dropped_file(HWND window, const char* path)
{
    LastRefusal refusal;
    ps2::VarkonHooks hooks;
    hooks.report.emit = &LastRefusal::keep;
    hooks.report.context = &refusal;
    hooks.on_bad_crc = &show_bad_crc;
    hooks.context = window;
    const ps2::VarkonResult result = ps2::convert_save_file(path, hooks);
    const bool converted =
        result.outcome == ps2::VarkonOutcome::wrote_psu || result.outcome == ps2::VarkonOutcome::up_to_date;
    if (!result.bad_crc || converted) return;
    /* A second box, owned by the window as the first: the file, and why nothing was written. */
    const std::string text = std::string("No PSU archive was written for this MAX archive:\n\n") + path + "\n\n" +
                             refusal.for_file(path);
    MessageBoxA(window, text.c_str(), "VARKON", MB_OK | MB_ICONEXCLAMATION);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command)
{
    return ps2::win::run_drop_tool(instance, show_command, &handle_dropped_file);
}
