/* varkon_cli.cpp -- the varkon command: PSU <-> MAX conversion of the files named, other writers' saves to PSU, or --check */
#include <vector>

#include "common/cli.h"
#include "maxconv/varkon_handler.h"

namespace {

constexpr const char* kTool = "varkon";

constexpr const char* kHelp =
    "Usage: varkon [-f] [-q] [--salvage] FILE...\n"
    "       varkon --check FILE...\n"
    "Converts PS2 saves between PSU archives and MAX archives, each file by its\n"
    "content: a MAX archive (\"Ps2PowerSave\") becomes a PSU archive and a PSU\n"
    "archive becomes a MAX archive. The result is written beside the input, with\n"
    "the extension replaced by .psu or .max (appended when there is none).\n"
    "An existing file of that name that holds exactly the result is left alone\n"
    "(\"up to date\"); one with other content is kept and named, and the next FILE\n"
    "is taken: --force replaces it once the new one is complete.\n"
    "A file of another kind is named for what it is (\"a card image, not a PSU or\n"
    "MAX archive\").\n"
    "\n"
    "Saves of other writers become PSU archives the same way: CodeBreaker (.cbs),\n"
    "SharkPort/X-Port (.sps, .xps) and PS3 exports of PS2 saves (.psv), known by\n"
    "their content. A damaged one (cut short, a wrong checksum, a broken file\n"
    "table) is refused with every fault named; --salvage writes its whole files.\n"
    "An existing PSU archive beside it is dealt with as above. Such a save named\n"
    ".psu is never replaced by its own PSU archive, even with --force: rename it\n"
    "to its format's extension. VARKON does not write these formats.\n"
    "\n"
    "A MAX archive whose check value does not match gives a \"BAD CRC\" warning and\n"
    "is converted all the same, unless the result would replace the damaged file\n"
    "itself (a MAX archive named .psu): that file is kept and nothing is written.\n"
    "\n"
    "Options:\n"
    "      --check       verify the files and write nothing: a MAX archive's check\n"
    "                    value, structure and full decode, a PSU archive's structure,\n"
    "                    the files and faults of the other writers' saves\n"
    "  -f, --force       replace an existing output of other content\n"
    "      --salvage     write the whole files of a damaged CodeBreaker, SharkPort or\n"
    "                    PSV save, naming those left out\n"
    "  -q, --quiet       print only warnings and errors\n"
    "  -h, --help        show this help and exit\n"
    "      --version     show the version and exit\n"
    "  --                take every further argument as a FILE\n"
    "\n"
    "Examples:\n"
    "  varkon BESCES-50501REZ.psu      writes BESCES-50501REZ.max\n"
    "  varkon saves/*.max              writes a .psu beside each\n"
    "  varkon rez.cbs                  writes rez.psu\n"
    "  varkon --check saves/*          verifies every save, writes nothing\n"
    "\n"
    "Exit status:\n"
    "  0  every file was converted or up to date (or found sound, with --check);\n"
    "     a BAD CRC warning alone does not change it\n"
    "  1  some file was not, or an existing output was kept\n"
    "  2  bad usage: an unknown option, no FILE\n"
    "\n"
    "Each problem is one line on stderr, \"varkon: FILE: message\". On a terminal,\n"
    "a run over several files shows \"[2/5] FILE\" on stderr while it works.\n"
    "More in the manual page varkon(1) and the guide VARKON.md.\n";

} // namespace

int main(int argc, char** argv)
{
    ps2::cli::Console console(kTool);
    bool check = false, salvage = false;
    ps2::cli::CommandLine args(argc, argv, console, kHelp, ps2::cli::ForceOption::taken);
    while (args.next_option()) {
        if (args.is("--check"))
            check = true;
        else if (args.is("--salvage"))
            salvage = true;
        else
            args.unknown();
    }
    args.require_files();
    if (args.stopped()) return args.exit_status();
    const std::vector<const char*>& files = args.files();

    ps2::VarkonHooks hooks;
    hooks.report = console.reporter();
    hooks.outputs = args.output_policy();
    hooks.salvage = salvage;
    ps2::VarkonWork work; /* one pair of work buffers for all the files */
    ps2::cli::run_batch(console, files, [&](const char* file) {
        if (check)
            (void)ps2::check_save_file(file, hooks.report, &work);
        else
            (void)ps2::convert_save_file(file, hooks, &work);
    });
    return console.exit_status();
}
