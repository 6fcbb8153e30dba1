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
    "       sorvik --check IMAGE...\n"
    "Splits PS2 memory card images into PSU archives, one per entry of the card's\n"
    "root directory (saves, and files standing in the root; saves the console\n"
    "marked deleted too, recovered as far as the card still holds them). Cards of\n"
    "8, 16, 32 and 64 MB are read, raw (8 MB: 8,388,608 bytes, .bin) or with spare\n"
    "areas (8 MB: 8,650,752 bytes, .ps2 .vm2), in the layout their superblock\n"
    "describes; the page codes of the spare areas are checked and a flipped bit is\n"
    "mended. The archives go into a folder named after the image without its\n"
    "extension (card.ps2 -> card/), which is made if missing. An archive of the\n"
    "same name there that holds exactly the bytes is left alone (\"up to date\");\n"
    "one with other content is kept and named, and the other entries are written:\n"
    "--force replaces it. On Linux a save's name in Shift_JIS names its archive in\n"
    "the locale's character set (UTF-8), as Windows reads it, and the note says so;\n"
    "the archive keeps the card's bytes.\n"
    "\n"
    "Options:\n"
    "  -t, --temp-names  name the archives temp0002.psu, temp0003.psu, ... by their\n"
    "                    place in the root directory, for saves whose names cannot\n"
    "                    be file names (\"/\", \"\\\", an empty name, \".\", \"..\")\n"
    "  -f, --force       replace archives of other content already in the folder\n"
    "      --list        print each root entry (index, kind, size in bytes or\n"
    "                    entries, name, and the title of a save's icon.sys) and\n"
    "                    write nothing\n"
    "      --check       report the card's health and write nothing: its layout,\n"
    "                    the FAT against its directories (cross-linked, lost,\n"
    "                    loops, chains leaving the area, lengths), the page codes,\n"
    "                    and every save with its size and state\n"
    "  -q, --quiet       print only warnings and errors\n"
    "  -h, --help        show this help and exit\n"
    "      --version     show the version and exit\n"
    "  --                take every further argument as an IMAGE\n"
    "\n"
    "Examples:\n"
    "  sorvik card.ps2                writes card/BESCES-50501REZ.psu, ...\n"
    "  sorvik --temp-names card.vm2   writes card/temp0002.psu, card/temp0003.psu, ...\n"
    "  sorvik --list *.ps2            shows what each card holds\n"
    "  sorvik --check card.ps2        is the card sound, and what is damaged\n"
    "\n"
    "Exit status:\n"
    "  0  every image was split completely (--check: every card is sound)\n"
    "  1  an image or an entry was not written, or not completely (a damaged card;\n"
    "     --check: a card is damaged), or an archive of other content was kept\n"
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
        if (!listing.layout.standard()) std::printf("%s: %s\n", path, ps2::describe_card(listing.layout, false).c_str());
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

/* The health report on stdout; a damaged card fails the run. */
int check_images(ps2::cli::Console& console, const std::vector<const char*>& images, const ps2::cli::TextShower& shower)
{
    bool all_clean = true;
    for (const char* path : images) {
        ps2::CardHealth health;
        if (!ps2::check_card_image_file(path, console.reporter(), &health)) continue;
        for (const std::string& line : health.lines) std::printf("%s: %s\n", path, line.c_str());
        if (!health.saves.empty())
            std::printf("%6s  %-7s  %5s  %13s  %-32s  %s\n", "index", "state", "files", "bytes", "name", "health");
        for (const ps2::SaveHealth& s : health.saves) {
            const std::string name = shower.show(s.name.c_str());
            std::printf("%6u  %-7s  %5u  %13s  %-32s  %s\n", s.index, ps2::mode_exists(s.mode) ? "live" : "deleted",
                        s.built.files, ps2::Grouped(s.bytes).c_str(), name.c_str(), ps2::describe_save_health(s).c_str());
        }
        std::printf("%s: %s\n", path, health.clean ? "sound" : "damaged");
        all_clean = all_clean && health.clean;
    }
    return all_clean ? console.exit_status() : ps2::cli::kExitSomeFailed;
}
} // namespace

int main(int argc, char** argv)
{
    ps2::cli::Console console("sorvik");
    const ps2::cli::TextShower& shower = console.shower();
    bool temp_names = false;
    bool list = false;
    bool check = false;
    ps2::cli::CommandLine args(argc, argv, console, kHelp, ps2::cli::ForceOption::taken);
    while (args.next_option()) {
        if (args.is("-t", "--temp-names"))
            temp_names = true;
        else if (args.is("--list"))
            list = true;
        else if (args.is("--check"))
            check = true;
        else
            args.unknown();
    }
    args.require_files("card image");
    if (!args.stopped() && (list || check) && temp_names)
        args.usage_error(list ? "--list writes nothing, so --temp-names has no use with it"
                              : "--check writes nothing, so --temp-names has no use with it");
    if (!args.stopped() && list && check) args.usage_error("--list and --check exclude each other");
    if (args.stopped()) return args.exit_status();
    const std::vector<const char*>& images = args.files();
    if (list) return list_images(console, images, shower);
    if (check) return check_images(console, images, shower);

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
