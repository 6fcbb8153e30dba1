/* sorvik_cli.cpp -- the sorvik command: split PS2 memory card images into PSU archives, or list what they hold */
#include <cstdio>
#include <string>
#include <vector>

#include "cardsplit/sorvik_handler.h"
#include "common/cli.h"
#include "common/platform.h"

namespace {

const char kHelp[] =
    "Usage: sorvik [--temp-names] [-f] [-q] IMAGE...\n"
    "       sorvik --list IMAGE...\n"
    "Splits PS2 memory card images into PSU archives, one per entry of the card's\n"
    "root directory (saves, and files standing in the root; entries the console\n"
    "marked deleted too). Raw images (8,388,608 bytes, .bin) and images with spare\n"
    "areas (8,650,752 bytes, .ps2 .vm2) are both read. The archives go into a folder\n"
    "named after the image without its extension (card.ps2 -> card/), which is made\n"
    "if missing. An archive of the same name there that holds exactly the bytes\n"
    "is left alone (\"up to date\"); one with other content is kept and named, and\n"
    "the other entries are written: --force replaces it. On Linux a save's name in\n"
    "Shift_JIS names its archive in the locale's character set (UTF-8), as Windows\n"
    "reads it, and the note says so; the archive keeps the card's bytes.\n"
    "\n"
    "Options:\n"
    "  -t, --temp-names  name the archives temp0002.psu, temp0003.psu, ... by their\n"
    "                    place in the root directory, for saves whose names cannot\n"
    "                    be file names (\"/\", \"\\\", an empty name, \".\", \"..\")\n"
    "  -f, --force       replace archives of other content already in the folder\n"
    "      --list        print each root entry (index, kind, size in bytes or\n"
    "                    entries, name, and the title of a save's icon file) and\n"
    "                    write nothing\n"
    "  -q, --quiet       print only warnings and errors\n"
    "  -h, --help        show this help and exit\n"
    "      --version     show the version and exit\n"
    "  --                take every further argument as an IMAGE\n"
    "\n"
    "Examples:\n"
    "  sorvik card.ps2                writes card/BESCES-50501REZ.psu, ...\n"
    "  sorvik --temp-names card.vm2   writes card/temp0002.psu, card/temp0003.psu, ...\n"
    "  sorvik --list *.ps2            shows what each card holds\n"
    "\n"
    "Exit status:\n"
    "  0  every image was split completely\n"
    "  1  an image or an entry was not written, or not completely (a damaged card),\n"
    "     or an archive of other content was kept\n"
    "  2  bad usage: an unknown option, no IMAGE\n"
    "\n"
    "Each problem is one line on stderr, \"sorvik: IMAGE: message\". On a terminal,\n"
    "a run over several images shows \"[2/5] IMAGE\" on stderr while it works.\n"
    "More in the manual page sorvik(1) and the guide SORVIK.md.\n";

int list_images(ps2::cli::Console& console, const std::vector<const char*>& images, const ps2::cli::TextShower& shower)
{
    for (const char* path : images) {
        ps2::CardListing listing;
        if (!ps2::list_card_image_file(path, console.reporter(), &listing)) continue;
        std::printf("%s: %zu root entr%s\n", path, listing.entries.size(), listing.entries.size() == 1 ? "y" : "ies");
        if (listing.entries.empty()) continue;
        std::printf("%6s  %-4s  %-7s  %13s  %-32s  %s\n", "index", "kind", "state", "size", "name", "title");
        for (const ps2::ListedEntry& e : listing.entries) {
            const char* kind = ps2::mode_is_directory(e.mode) ? "dir" : ps2::mode_is_file(e.mode) ? "file" : "?";
            const char* state = ps2::mode_exists(e.mode) ? "live" : "deleted";
            char size[32];
            if (ps2::mode_is_directory(e.mode))
                std::snprintf(size, sizeof size, "%u entr%s", e.length, e.length == 1 ? "y" : "ies");
            else
                std::snprintf(size, sizeof size, "%u bytes", e.length);
            const std::string name = shower.show(e.name);
            const std::string title = e.has_title ? shower.show(e.title) : std::string();
            std::printf("%6u  %-4s  %-7s  %13s  %-32s  %s\n", e.index, kind, state, size, name.c_str(), title.c_str());
        }
    }
    return console.exit_status();
}

} // namespace

int main(int argc, char** argv)
{
    ps2::cli::Console console("sorvik");
    const ps2::cli::TextShower& shower = console.shower();
    bool temp_names = false;
    bool list = false;
    ps2::cli::CommandLine args(argc, argv, console, kHelp, ps2::cli::ForceOption::taken);
    while (args.next_option()) {
        if (args.is("-t", "--temp-names"))
            temp_names = true;
        else if (args.is("--list"))
            list = true;
        else
            args.unknown();
    }
    args.require_files("card image");
    if (!args.stopped() && list && temp_names)
        args.usage_error("--list writes nothing, so --temp-names has no use with it");
    if (args.stopped()) return args.exit_status();
    const std::vector<const char*>& images = args.files();
    if (list) return list_images(console, images, shower);

    uint32_t refused = 0;
    const ps2::OptionBox option = ps2::OptionBox::fixed(temp_names);
    ps2::cli::run_batch(console, images, [&](const char* image) {
        refused += ps2::split_card_image_file(image, option, console.reporter(), args.output_policy(),
                                              shower.file_names())
                       .refused_names;
    });
    if (refused > 0)
        std::fprintf(stderr, "sorvik: %u entr%s not written for %s name; --temp-names writes every entry as "
                     "tempNNNN.psu by its place in the root directory\n",
                     refused, refused == 1 ? "y was" : "ies were", refused == 1 ? "its" : "their");
    return console.exit_status();
}
