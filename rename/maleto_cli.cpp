/* maleto_cli.cpp -- `maleto`: rename PSU archives after their save's name and title */
#include <vector>

#include "common/cli.h"
#include "common/platform.h"
#include "rename/maleto_handler.h"

using namespace ps2;

static const char kHelp[] =
    "Usage: maleto [--remove-sjis | --sjis-bytes] [-q] FILE...\n"
    "Renames each PSU archive, in its own folder, to \"NAME-[TITLE].psu\": NAME is\n"
    "the save directory's name from the archive's first entry, TITLE the save's\n"
    "title from its icon description (the first 512-aligned block that begins with\n"
    "\"PS2D\"). An existing file is never replaced.\n"
    "\n"
    "On Linux the name is written in the locale's character set (UTF-8), so that a\n"
    "Japanese title reads as Windows shows it; a character the set lacks, or a\n"
    "broken byte, is written as --remove-sjis writes it, with a warning. Windows\n"
    "takes the title's Shift_JIS bytes as they stand, as the window does.\n"
    "\n"
    "Options:\n"
    "      --remove-sjis  make the new name plain ASCII: double-byte Shift_JIS\n"
    "                     characters become \"_\" plus the letter or digit of\n"
    "                     full-width ones (else \"__\"), \":\" becomes \";\", other\n"
    "                     characters file names forbid become \"_\"\n"
    "      --sjis-bytes   keep the title's Shift_JIS bytes in the new name, as the\n"
    "                     Windows program writes them (Linux: no conversion)\n"
    "  -q, --quiet        print only warnings and errors\n"
    "  -h, --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "  --                 take every further argument as a FILE\n"
    "\n"
    "Examples:\n"
    "  maleto saves/*.psu\n"
    "  maleto --remove-sjis BISLPS-25105-01.psu\n"
    "  maleto --sjis-bytes BISLPS-25105-01.psu\n"
    "\n"
    "Exit status:\n"
    "  0  every file was renamed\n"
    "  1  some file was not renamed\n"
    "  2  bad usage: an unknown option, both --remove-sjis and --sjis-bytes, no FILE\n"
    "\n"
    "Each file that is not renamed is one line on stderr, \"maleto: FILE: why\".\n"
    "On a terminal, a run over several files shows \"[2/5] FILE\" on stderr while\n"
    "it works. More in the manual page maleto(1) and the guide MALETO.md.\n";

int main(int argc, char** argv)
{
    cli::Console con("maleto");
    bool remove = false;
    bool sjis_bytes = false;
    cli::CommandLine args(argc, argv, con, kHelp);
    while (args.next_option()) {
        if (args.is("--remove-sjis"))
            remove = true;
        else if (args.is("--sjis-bytes"))
            sjis_bytes = true;
        else
            args.unknown();
    }
    if (!args.stopped() && remove && sjis_bytes)
        args.usage_error("--remove-sjis and --sjis-bytes exclude each other: plain ASCII, or the Shift_JIS bytes");
    args.require_files();
    if (args.stopped()) return args.exit_status();
    const TextConverter names = sjis_bytes ? TextConverter{} : con.shower().file_names();
    const std::vector<const char*>& files = args.files();
    cli::run_batch(con, files, [&](const char* file) {
        (void)maleto_rename_file(file, OptionBox::fixed(remove), con.reporter(), plat::native_path_rules(), names);
    });
    return con.exit_status();
}
