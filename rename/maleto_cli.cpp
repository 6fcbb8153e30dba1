/* maleto_cli.cpp -- `maleto`: rename PSU archives after their save's name and title */
#include <cstring>
#include <string>

#include "common/cli.h"
#include "common/platform.h"
#include "rename/maleto_handler.h"

using namespace ps2;

static const char kHelp[] =
    "Usage: maleto [--remove-sjis] [-q] FILE...\n"
    "Renames each PSU archive, in its own folder, to \"NAME-[TITLE].psu\": NAME is the\n"
    "save directory's name from the archive's first entry, TITLE the save's title from\n"
    "its icon description (the first 512-aligned block that begins with \"PS2D\").\n"
    "\n"
    "  --remove-sjis  make the new name plain ASCII: double-byte Shift_JIS characters\n"
    "                 become \"_\" plus the letter or digit of full-width ones (else \"__\"),\n"
    "                 \":\" becomes \";\", other characters file names forbid become \"_\"\n"
    "  -q, --quiet    print nothing but errors\n"
    "  -h, --help     show this help;  --version  show the version\n"
    "\n"
    "An existing file is never replaced. Each file that is not renamed gets one line\n"
    "on stderr saying why.\n"
    "Exit status: 0 all renamed, 1 some file not renamed, 2 bad usage.\n"
    "\n"
    "Examples:\n"
    "  maleto saves/*.psu\n"
    "  maleto --remove-sjis BISLPS-25105-01.psu\n";

int main(int argc, char** argv)
{
    cli::Console con("maleto");
    bool remove = false, options_done = false;
    int files = 0, status = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!options_done && a[0] == '-' && a[1] != '\0') {
            if (cli::handle_standard_option(a, "maleto", kHelp, &status)) return status;
            if (std::strcmp(a, "--") == 0) options_done = true;
            else if (std::strcmp(a, "--remove-sjis") == 0) remove = true;
            else if (std::strcmp(a, "-q") == 0 || std::strcmp(a, "--quiet") == 0) con.set_quiet(true);
            else {
                con.usage_error((std::string("unknown option ") + a).c_str());
                return cli::kExitUsage;
            }
            continue;
        }
        ++files;
    }
    if (files == 0) {
        con.usage_error("no files given");
        return cli::kExitUsage;
    }
    options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!options_done && a[0] == '-' && a[1] != '\0') {
            options_done = std::strcmp(a, "--") == 0;
            continue;
        }
        (void)maleto_rename_file(a, OptionBox::fixed(remove), con.reporter(), plat::native_path_rules());
    }
    return con.exit_status();
}
