/* quilban_cli.cpp -- quilban: unpack PSU archives into folders with a manifest, rebuild them from QUILBAN.TXT */
#include <vector>

#include "common/cli.h"
#include "unpack/quilban_handler.h"

namespace {

constexpr const char* kHelp =
    "Usage: quilban [--temp-names] [-f] [-q] FILE...\n"
    "Unpacks PS2 save archives (.psu) into plain files with an editable manifest,\n"
    "and rebuilds archives from such a manifest.\n"
    "\n"
    "A FILE named QUILBAN.TXT (any case of a-z) is a manifest: the archive is\n"
    "rebuilt from it and the member files beside it, and written into the same\n"
    "folder as <name of its first entry>.psu. Any other FILE is unpacked as a\n"
    "PSU archive into the folder of its own path without extension: the manifest\n"
    "QUILBAN.TXT and one member file per file in the save. A FILE whose first\n"
    "entry is not a directory followed by \".\" and \"..\" is not unpacked; one of\n"
    "another kind is named for what it is (\"a card image, not a PSU archive\").\n"
    "An archive that ends early is unpacked as far as it goes, with a warning\n"
    "naming what is cut or missing.\n"
    "\n"
    "A file to be written that exists already with exactly its bytes is left alone\n"
    "(\"up to date\"); one with other content (an edited member file, say) is kept\n"
    "and named, and the others are written: --force replaces it.\n"
    "\n"
    "The manifest's comment lines are Japanese in Shift_JIS (code page 932), as\n"
    "the format has them; to read them on Linux: iconv -f CP932 QUILBAN.TXT | less\n"
    "(or an editor set to Shift_JIS). On Linux a member named in Shift_JIS gets a\n"
    "file name in the locale's character set (its name2 line); its name line keeps\n"
    "the archive's bytes.\n"
    "\n"
    "Options:\n"
    "  -t, --temp-names  unpack: name the member files temp0000.bin, temp0001.bin...\n"
    "                    (one number per entry) instead of the entries' names;\n"
    "                    rebuild: write the archive as temp.psu\n"
    "  -f, --force       replace existing files of other content\n"
    "  -q, --quiet       print only warnings and errors\n"
    "  -h, --help        show this help and exit\n"
    "      --version     show the version and exit\n"
    "  --                take every further argument as a FILE\n"
    "\n"
    "Examples:\n"
    "  quilban BISLPS-25105.psu             unpack into BISLPS-25105/\n"
    "  quilban BISLPS-25105/QUILBAN.TXT     rebuild BISLPS-25105/BISLPS-25105-01.psu\n"
    "  quilban --temp-names saves/*.psu     unpack several archives with temporary names\n"
    "\n"
    "Exit status:\n"
    "  0  everything was written or up to date (warnings allowed)\n"
    "  1  some file or member was not, a file of other content was kept, or an\n"
    "     archive ended early\n"
    "  2  bad usage: an unknown option, no FILE\n"
    "\n"
    "Each problem is one line on stderr, \"quilban: FILE: message\". On a terminal,\n"
    "a run over several files shows \"[2/5] FILE\" on stderr while it works.\n"
    "More in the manual page quilban(1) and the guide QUILBAN.md.\n";

} // namespace

int main(int argc, char** argv)
{
    ps2::cli::Console console("quilban");
    bool temp_names = false;
    ps2::cli::CommandLine args(argc, argv, console, kHelp, ps2::cli::ForceOption::taken);
    while (args.next_option()) {
        if (args.is("-t", "--temp-names"))
            temp_names = true;
        else
            args.unknown();
    }
    args.require_files();
    if (args.stopped()) return args.exit_status();
    const std::vector<const char*>& files = args.files();

    const ps2::OptionBox option = ps2::OptionBox::fixed(temp_names);
    const ps2::Reporter report = console.reporter();
    bool all_whole = true;
    ps2::cli::run_batch(console, files, [&](const char* file) {
        /* An archive that ends early is told by a warning, and fails the run all the same. */
        all_whole =
            ps2::handle_quilban_file(file, option, report, args.output_policy(), console.shower().file_names()) &&
            all_whole;
    });
    return all_whole ? console.exit_status() : ps2::cli::kExitSomeFailed;
}
