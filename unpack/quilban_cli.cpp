/* quilban_cli.cpp -- quilban: unpack PSU archives into folders with a manifest, rebuild them from QUILBAN.TXT */
#include <cstring>
#include <string>

#include "common/cli.h"
#include "unpack/quilban_handler.h"

namespace {

constexpr const char* kHelp =
    "Usage: quilban [OPTION]... FILE...\n"
    "Unpack PS2 save archives (.psu) into plain files with an editable manifest,\n"
    "and rebuild archives from such a manifest.\n"
    "\n"
    "A FILE named QUILBAN.TXT (any case of a-z) is a manifest: the archive is\n"
    "rebuilt from it and the member files beside it, and written into the same\n"
    "folder as <name of its first entry>.psu. Any other FILE is unpacked as a\n"
    "PSU archive into the folder of its own path without extension: the manifest\n"
    "QUILBAN.TXT and one member file per file in the save.\n"
    "\n"
    "Options:\n"
    "  -t, --temp-names  unpack: name the member files temp0000.bin, temp0001.bin...\n"
    "                    (one number per entry) instead of the entries' names;\n"
    "                    rebuild: write the archive as temp.psu\n"
    "  -q, --quiet       print nothing but warnings and errors\n"
    "  -h, --help        show this help and exit\n"
    "      --version     show the version and exit\n"
    "\n"
    "Examples:\n"
    "  quilban BISLPS-25105.psu             unpack into BISLPS-25105/\n"
    "  quilban BISLPS-25105/QUILBAN.TXT     rebuild BISLPS-25105/BISLPS-25105-01.psu\n"
    "  quilban --temp-names saves/*.psu     unpack several archives with temporary names\n"
    "\n"
    "Exit status: 0 when everything was written, 1 when some file or member was\n"
    "not, 2 on a bad command line.\n";

} // namespace

int main(int argc, char** argv)
{
    ps2::cli::Console console("quilban");
    bool temp_names = false;
    bool options_done = false;
    int files = 0;
    /* Options first, wherever they stand, so that they hold for every file. */
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options_done || arg[0] != '-' || arg[1] == '\0') {
            ++files;
            continue;
        }
        int status = 0;
        if (ps2::cli::handle_standard_option(arg, "quilban", kHelp, &status)) return status;
        if (std::strcmp(arg, "--") == 0)
            options_done = true;
        else if (std::strcmp(arg, "-t") == 0 || std::strcmp(arg, "--temp-names") == 0)
            temp_names = true;
        else if (std::strcmp(arg, "-q") == 0 || std::strcmp(arg, "--quiet") == 0)
            console.set_quiet(true);
        else {
            console.usage_error((std::string("unknown option ") + arg).c_str());
            return ps2::cli::kExitUsage;
        }
    }
    if (files == 0) {
        console.usage_error("no file given");
        return ps2::cli::kExitUsage;
    }

    const ps2::OptionBox option = ps2::OptionBox::fixed(temp_names);
    const ps2::Reporter report = console.reporter();
    options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!options_done && arg[0] == '-' && arg[1] != '\0') {
            options_done = std::strcmp(arg, "--") == 0;
            continue;
        }
        (void)ps2::handle_quilban_file(arg, option, report);
    }
    return console.exit_status();
}
