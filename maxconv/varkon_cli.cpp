/* varkon_cli.cpp -- the varkon command: PSU <-> MAX conversion of the files named, or --check */
#include <cstring>

#include "common/cli.h"
#include "maxconv/varkon_handler.h"

namespace {

constexpr const char* kTool = "varkon";

constexpr const char* kHelp =
    "Usage: varkon [-q] FILE...\n"
    "       varkon --check FILE...\n"
    "Converts PS2 saves between PSU archives and MAX archives, each file by its\n"
    "content: a MAX archive (\"Ps2PowerSave\") becomes a PSU archive and a PSU\n"
    "archive becomes a MAX archive. The result is written beside the input, with\n"
    "the extension replaced by .psu or .max (appended when there is none); an\n"
    "existing file of that name is replaced once the new one is complete.\n"
    "\n"
    "A MAX archive whose check value does not match gives a \"BAD CRC\" warning and\n"
    "is converted all the same, unless the result would replace the damaged file\n"
    "itself (a MAX archive named .psu): that file is kept and nothing is written.\n"
    "\n"
    "Options:\n"
    "  --check     verify the files and write nothing: a MAX archive's check value,\n"
    "              structure and full decode, a PSU archive's structure\n"
    "  -q, --quiet print nothing but warnings and errors\n"
    "  -h, --help  show this help\n"
    "  --version   show the version\n"
    "  --          take every further argument as a file\n"
    "\n"
    "Examples:\n"
    "  varkon BESCES-50501REZ.psu      writes BESCES-50501REZ.max\n"
    "  varkon saves/*.max              writes a .psu beside each\n"
    "  varkon --check saves/*          verifies every save, writes nothing\n"
    "\n"
    "Exit status: 0 when every file was converted (or sound, with --check),\n"
    "1 when some file was not, 2 on a bad command line.\n";

} // namespace

int main(int argc, char** argv)
{
    ps2::cli::Console console(kTool);
    bool check = false;
    bool options_done = false;
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (options_done || a[0] != '-' || a[1] == '\0') {
            ++files;
            continue;
        }
        int status = 0;
        if (ps2::cli::handle_standard_option(a, kTool, kHelp, &status)) return status;
        if (std::strcmp(a, "--") == 0) {
            options_done = true;
        } else if (std::strcmp(a, "--check") == 0) {
            check = true;
        } else if (std::strcmp(a, "-q") == 0 || std::strcmp(a, "--quiet") == 0) {
            console.set_quiet(true);
        } else {
            char text[256];
            std::snprintf(text, sizeof text, "unknown option '%s'", a);
            console.usage_error(text);
            return ps2::cli::kExitUsage;
        }
    }
    if (files == 0) {
        console.usage_error("no files named");
        return ps2::cli::kExitUsage;
    }

    ps2::VarkonHooks hooks;
    hooks.report = console.reporter();
    options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!options_done && a[0] == '-' && a[1] != '\0') {
            if (std::strcmp(a, "--") == 0) options_done = true;
            continue;
        }
        if (check)
            (void)ps2::check_save_file(a, hooks.report);
        else
            (void)ps2::convert_save_file(a, hooks);
    }
    return console.exit_status();
}
