/* taviro_cli.cpp -- TAVIRO on the command line: build a PS2 memory card image from PSU archives */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cardbuild/filelist.h"
#include "cardbuild/taviro_edit_handler.h"
#include "cardbuild/taviro_handler.h"
#include "common/cli.h"
#include "common/paths.h"
#include "common/platform.h"

using namespace ps2;

static const char kHelp[] =
    "Usage: taviro -o OUT [--raw | --coded] [--size MB] [--sort asc|desc] [-f] [-q]\n"
    "              [PATH...]\n"
    "       taviro --list-only [-o OUT] [--size MB] [--sort asc|desc] PATH...\n"
    "       taviro --add CARD [--replace] [--dry-run] [-q] PATH...\n"
    "       taviro --delete CARD [--wipe] [--dry-run] [-q] NAME...\n"
    "Builds one PS2 memory card image (8 MB unless --size says otherwise) holding\n"
    "the saves of the PSU archives given, in the order given: each archive becomes\n"
    "one save in the card's root. Without a PATH, OUT becomes a fresh empty card.\n"
    "\n"
    "Each PATH is added to the list as a file dropped on TAVIRO's window: a file\n"
    "is added whatever its extension, a folder adds every file in it and in its\n"
    "subfolders (folders whose names begin with \".\" are skipped), and a pattern\n"
    "such as 'saves/*.psu' adds what it matches.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT  the card image to write. An existing file that holds\n"
    "                    exactly the new image is left alone (\"up to date\"); one\n"
    "                    with other content is kept, unless --force is given\n"
    "      --raw         write the raw image (8,388,608 bytes)\n"
    "      --coded       write the image with the page error code (8,650,752 bytes);\n"
    "                    without either, OUT's extension decides: \".bin\" raw,\n"
    "                    \".vm2\", \".ps2\" and anything else coded\n"
    "      --size MB     the card's size: 8 (the default), 16, 32 or 64; the FAT,\n"
    "                    the allocatable area and the two reserved erase blocks at\n"
    "                    the end follow it (16 MB: 16,777,216 bytes raw, 17,301,504\n"
    "                    coded; twice that per step)\n"
    "      --sort asc|desc\n"
    "                    sort the list by path first, ascending or descending\n"
    "                    (the letters a-z count as A-Z)\n"
    "      --list-only   a dry run: tell for each file whether it would be placed\n"
    "                    (its save, files and clusters) or left out and why, then\n"
    "                    whether the list fits the card, its clusters used and\n"
    "                    free, and with -o what writing OUT would do; write nothing\n"
    "  -f, --force       replace an existing OUT of other content\n"
    "      --add CARD    edit the card image CARD in place (raw or coded, 8 to 64 MB,\n"
    "                    its own layout kept): put the saves of the PATHs (as for a\n"
    "                    build) into its free clusters, lowest first; every other\n"
    "                    cluster keeps its bytes\n"
    "      --replace     with --add: a live save of the same name is deleted first\n"
    "      --delete CARD delete the saves NAME... from CARD as the console does: the\n"
    "                    entry marked deleted, its clusters freed with their links\n"
    "                    kept, so sorvik still recovers it until they are reused\n"
    "      --wipe        with --delete or --replace: overwrite the freed clusters\n"
    "                    with 0xFF, so nothing of the save can be recovered\n"
    "      --dry-run     with --add or --delete: say what would be placed or deleted\n"
    "                    and where; write nothing. Otherwise CARD is replaced the\n"
    "                    safe way (a new image beside it, renamed over); a refusal\n"
    "                    or a failure leaves it as it was\n"
    "  -q, --quiet       print only warnings and errors\n"
    "  -h, --help        show this help and exit\n"
    "      --version     show the version and exit\n"
    "  --                take every further argument as a PATH\n"
    "\n"
    "A file that cannot be read, is larger than 8,192,000 bytes or is not a whole\n"
    "PSU archive is left out (one line each, a file of another kind named for what\n"
    "it is); so is a second save of a name already on the card (a-z counted as\n"
    "A-Z). The card is built from the others. Nothing is written when the saves\n"
    "need more than the card's clusters (8,135 on 8 MB), when the PATHs gave no\n"
    "save to place, or when OUT is itself one of the files listed (even with\n"
    "--force). --add and --delete change the card only when every PATH or NAME\n"
    "can be added or deleted: a save whose name is live on the card (without\n"
    "--replace), a save that does not fit, a file that is no archive or a NAME not\n"
    "on the card leaves it as it was.\n"
    "\n"
    "Examples:\n"
    "  taviro -o card.vm2 saves/          every file under saves/, coded image\n"
    "  taviro -o card.bin a.psu b.psu     two saves, raw image\n"
    "  taviro --sort asc -o card.ps2 'saves/*.psu'\n"
    "  taviro --list-only saves/          what a card of saves/ would hold\n"
    "  taviro -o blank.ps2                a fresh empty card\n"
    "  taviro --add card.ps2 new.psu      one more save on an existing card\n"
    "  taviro --delete card.ps2 BASLUS-20194G05\n"
    "\n"
    "Exit status:\n"
    "  0  every listed file went onto the card and the image was written or up to\n"
    "     date (--list-only: would be); --add, --delete: the card was edited\n"
    "     (--dry-run: could be)\n"
    "  1  a file was left out, a PATH matched nothing, no save was placed, the card\n"
    "     was full, OUT was listed or kept, or the image could not be written;\n"
    "     --add, --delete: the card was not changed\n"
    "  2  bad usage: an unknown option, a missing value, no -o OUT, an option of a\n"
    "     build with --add or --delete\n"
    "\n"
    "Each problem is one line on stderr, \"taviro: FILE: message\".\n"
    "More in the manual page taviro(1) and the guide TAVIRO.md.\n";

/* A PATH as the search takes it: a trailing separator names the folder
 * itself ("saves/" as "saves"), and "." or ".." (which a search would skip
 * as dot-folders) name their contents. */
static std::string search_path_for(const char* arg, const PathRules& rules)
{
    std::string p = arg;
    while (p.size() > 1 && p.back() == rules.separator) p.pop_back();
    const std::string name = find_name_part(p.c_str(), rules);
    if (name == "." || name == "..") p += std::string(1, rules.separator) + "*.*";
    return p;
}

int main(int argc, char** argv)
{
    cli::Console con("taviro");
    const char* out = nullptr;
    int form = -1; /* -1 by extension, else CardForm */
    bool sort = false;
    SortOrder order = SortOrder::ascending;
    bool list_only = false;
    const char* sort_value = nullptr;
    const char* size_value = nullptr;
    CardGeometry geometry = kStandardGeometry;
    int edit = -1; /* -1 none, else CardEditKind */
    CardEditRequest request;
    cli::CommandLine args(argc, argv, con, kHelp, cli::ForceOption::taken);
    args.keep_patterns(); /* matched by the list's own search, as a dropped folder's files are */
    while (const char* a = args.next_option()) {
        if (args.takes_path("-o", &out, "the card image to write") || args.takes_path("--output", &out)) {
        } else if (args.is("--raw", "--coded")) {
            const int f = int(a[2] == 'r' ? CardForm::raw : CardForm::coded);
            if (form != -1 && form != f) args.usage_error("--raw and --coded exclude each other");
            form = f;
        } else if (args.takes("--sort", &sort_value, "asc or desc")) {
            if (std::strcmp(sort_value, "asc") == 0)
                order = SortOrder::ascending;
            else if (std::strcmp(sort_value, "desc") == 0)
                order = SortOrder::descending;
            else
                args.usage_error("--sort takes asc or desc");
            sort = true;
        } else if (args.takes("--size", &size_value, "8, 16, 32 or 64")) {
            const uint32_t mb = uint32_t(std::strtoul(size_value, nullptr, 10));
            if (std::strspn(size_value, "0123456789") != std::strlen(size_value) || !geometry_for_size(mb, &geometry))
                args.usage_error("--size takes 8, 16, 32 or 64 (the card's size in MB)");
        } else if (args.is("--list-only")) {
            list_only = true;
        } else if (args.is("--add", "--delete")) {
            const int k = int(a[2] == 'a' ? CardEditKind::add : CardEditKind::remove);
            if (edit != -1 && edit != k) args.usage_error("--add and --delete exclude each other");
            edit = k;
        } else if (args.is("--replace")) {
            request.replace = true;
        } else if (args.is("--wipe")) {
            request.wipe = true;
        } else if (args.is("--dry-run")) {
            request.dry_run = true;
        } else {
            args.unknown();
        }
    }
    if (!args.stopped() && edit != -1) {
        if (out || list_only || form != -1 || size_value || sort || args.output_policy() == plat::OutputPolicy::replace)
            args.usage_error("--add and --delete edit the named card: -o, --list-only, --raw, --coded, --size, --sort "
                             "and --force belong to a build");
        else if (request.replace && edit != int(CardEditKind::add))
            args.usage_error("--replace belongs to --add");
        else if (args.files().size() < 2)
            args.usage_error(edit == int(CardEditKind::add) ? "--add takes the card and at least one PATH"
                                                              : "--delete takes the card and at least one save NAME");
    } else if (!args.stopped() && (request.replace || request.wipe || request.dry_run)) {
        args.usage_error("--replace, --wipe and --dry-run belong to --add and --delete");
    }
    if (!args.stopped() && !out && !list_only && edit == -1)
        args.usage_error("no output given: -o OUT names the card image to write");
    if (args.stopped()) return args.exit_status();
    std::vector<const char*> paths = args.files();
    const char* card = nullptr;
    if (edit != -1) {
        card = paths.front();
        paths.erase(paths.begin());
    }
    if (edit == int(CardEditKind::remove)) {
        const std::vector<std::string> names(paths.begin(), paths.end());
        request.kind = CardEditKind::remove;
        request.items = names;
        return edit_card_file(card, request, con.reporter()).refused ? cli::kExitSomeFailed : cli::kExitOk;
    }

    const PathRules& rules = plat::native_path_rules();
    FileList list;
    bool some_missing = false;
    for (const char* p : paths) {
        const std::string path = search_path_for(p, rules);
        const AddPathResult r = add_path(path.c_str(), rules, &list.items);
        some_missing = some_missing || !r.matched;
        if (!r.matched)
            con.print(Severity::error, p, "no such file or folder");
        else if (r.added == 0 && r.too_long == 0)
            con.print(Severity::warning, p, "holds no files");
        if (r.too_long)
            con.print(Severity::error, p,
                      (std::to_string(r.too_long) + " names left out: their paths are longer than 1023 bytes").c_str());
    }
    if (sort) list.sort(order);

    if (edit != -1) {
        if (some_missing || con.errors() != 0) {
            con.print(Severity::error, card, "not changed: not every named PATH was found");
            return cli::kExitSomeFailed;
        }
        if (const size_t at = find_output_in_list(list.items, card); at < list.items.size()) {
            con.print(Severity::error, list.items[at].c_str(),
                      "this is the card being edited; it is not changed: leave it out of the PATHs");
            return cli::kExitSomeFailed;
        }
        request.kind = CardEditKind::add;
        request.items = list.items;
        return edit_card_file(card, request, con.reporter()).refused ? cli::kExitSomeFailed : cli::kExitOk;
    }
    /* The card to write is never read as one of its own inputs, however it was named or found. */
    if (out) {
        const size_t at = find_output_in_list(list.items, out);
        if (at < list.items.size()) {
            const bool same_spelling = list.items[at] == out;
            const std::string text = std::string("this is the card to write") + (same_spelling ? "" : " (") +
                                     (same_spelling ? "" : out) + (same_spelling ? "" : ")") +
                                     "; nothing was read or written: write the card to another file";
            con.print(Severity::error, list.items[at].c_str(), text.c_str());
            return cli::kExitSomeFailed;
        }
    }
    /* A mistyped path or an empty folder must not replace an existing card with an empty one. */
    if (!paths.empty() && list.items.empty()) {
        con.print(Severity::error, out ? out : "the card", "not written: the named paths gave no save to place");
        return cli::kExitSomeFailed;
    }
    CardBuildOptions options;
    options.outputs = args.output_policy();
    options.dry_run = list_only;
    options.needs_a_save = !paths.empty();
    options.geometry = geometry;
    const CardForm f = form != -1 ? CardForm(form) : out ? card_form_for_path(out, rules) : CardForm::coded;
    const CardBuildResult result = build_card_file(list.items, f, out, con.reporter(), options);
    if (list_only) return con.exit_status();
    return result.written && con.errors() == 0 ? cli::kExitOk : cli::kExitSomeFailed;
}
