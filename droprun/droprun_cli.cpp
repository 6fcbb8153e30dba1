/* droprun_cli.cpp -- droprun for Linux: runs a preset's command templates for each file named */
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/cli.h"
#include "common/cmdline.h"
#include "common/platform.h"
#include "droprun/presetfile.h"
#include "droprun/run.h"

using namespace ps2;
using namespace ps2::droprun;

namespace {

const char kHelp[] =
    "Usage: droprun [OPTION]... FILE...\n"
    "       droprun [--list LIST] [--preset N|NAME] --show-presets\n"
    "Runs the command lines of a preset for every FILE, one file after another,\n"
    "as DROPRUN's window does for dropped files. A FILE (or folder) that does not\n"
    "exist is skipped with a warning.\n"
    "\n"
    "Presets come from a list of 10-line groups (a separator line, the name,\n"
    "command lines 1-4, working folder, hide window, do not wait, tail filter).\n"
    "Placeholders in the command lines and the working folder:\n"
    "  %windows% $WINDIR (empty when unset)     %process% this program's folder\n"
    "  %desktop% $XDG_DESKTOP_DIR or ~/Desktop  %path%    the file's full path\n"
    "  %dir%     the file's folder              %name%    the file's name\n"
    "  %body%    the name without its last extension\n"
    "Each command line is split into arguments by the Windows command-line rules\n"
    "(\"double quotes\" group, \\\" is a quote) and started directly, never through a\n"
    "shell. Put \"%path%\" in double quotes when names may hold spaces.\n"
    "\n"
    "Options:\n"
    "      --list LIST     read the presets from LIST (default: the first that\n"
    "                      exists of ~/.config/droprun/droprun.lst, in\n"
    "                      $XDG_CONFIG_HOME when set, and this program's path with\n"
    "                      .lst; Windows: cli\\droprun.lst, then DROPRUN.lst above)\n"
    "      --preset N|NAME use preset number N (from 1) or the first one named NAME\n"
    "                      (default: the first preset)\n"
    "      --show-presets  name the list read, list its presets with their fields\n"
    "                      and exit\n"
    "  -n, --dry-run       print what would be done for each FILE; start nothing\n"
    "  -q, --quiet         print only warnings and errors\n"
    "  -h, --help          show this help and exit\n"
    "      --version       show the version and exit\n"
    "  --                  take every further argument as a FILE\n"
    "\n"
    "Examples:\n"
    "  droprun --list ~/presets.lst --show-presets\n"
    "  droprun --list ~/presets.lst --preset 2 saves/*.psu\n"
    "  droprun --preset \"To MAX\" --dry-run 'BESLES-12345 save.psu'\n"
    "\n"
    "Exit status:\n"
    "  0  every command could be started (their own exit statuses are not looked at)\n"
    "  1  some command could not be started, a working folder could not be entered,\n"
    "     or the list could not be read (a FILE skipped as missing does not count)\n"
    "  2  bad usage: an unknown option, a missing value, no FILE, no such preset\n"
    "\n"
    "The package's example list is\n"
    "/usr/share/doc/ps2-save-tools/examples/droprun-linux.example.lst: copy it to\n"
    "~/.config/droprun/droprun.lst and edit it. --show-presets names the list read.\n"
    "\n"
    "Each problem is one line on stderr, \"droprun: FILE: message\". On a terminal,\n"
    "a run over several files prints \"[2/5] FILE\" on stderr before each file.\n"
    "More in the manual page droprun(1) and the guide DROPRUN.md.\n";

const char* const kFieldLabels[kFormFieldCount] = {
    "command 1", "command 2", "command 3", "command 4", "working folder", "hide window", "do not wait", "tail filter"};

const char* label_of(FormField f) { return kFieldLabels[size_t(int(f) - kFirstFormField)]; }

/* An argument as a POSIX shell would need it written: plain when it is
 * made of harmless characters only, otherwise in single quotes. */
std::string shell_quoted(const std::string& arg)
{
    /* The system's separator is a plain character of paths (Windows: "\\", which cmd takes as it is). */
    const std::string harmless = std::string("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789@%+=:,./_-") +
                                 plat::native_path_rules().separator;
    const bool plain = !arg.empty() && arg.find_first_not_of(harmless) == std::string::npos;
    if (plain) return arg;
    std::string q = "'";
    for (const char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

/* The command-line tool's side of a run: the fields of one preset, which
 * never change; programs started and waited for, or, for a dry run, only
 * described on stdout. */
class CliHost final : public RunHost {
public:
    CliHost(const PresetFields& fields, bool dry_run, cli::Console& console)
        : fields_(fields), dry_run_(dry_run), console_(console) {}

    void set_file(const char* path) { file_ = path; }

    void read_field(FormField field, PathBuffer* text) override
    {
        /* A preset line is at most 1023 bytes, so it always fits. */
        text->cut(0);
        (void)text->append(fields_[field].data(), fields_[field].size());
    }

    void filter_decided(bool taken) override
    {
        if (dry_run_) {
            std::printf("%s\n  %s\n", file_, taken ? "taken" : "not taken by the tail filter");
            if (taken && fields_[FormField::working_folder].empty())
                std::printf("  folder: (current folder unchanged)\n");
        } else if (!taken) {
            console_.print(Severity::note, file_, "not taken by the tail filter");
        }
    }

    void enter_folder(const char* folder) override
    {
        if (dry_run_) {
            std::printf("  folder: %s\n", folder);
            return;
        }
        if (plat::set_current_folder(folder) != plat::IoError::ok) {
            const std::string text = std::string("cannot enter the working folder ") + folder + ": " +
                                     plat::last_error_text() + " (the commands run in the current folder)";
            console_.print(Severity::error, file_, text.c_str());
        }
    }

    void start_command(FormField field, const char* command_line, bool hide_window, bool wait) override
    {
        if (dry_run_) {
            std::printf("  %s%s: %s\n", label_of(field), wait ? "" : " (not waited for)", command_line);
            std::string args;
            for (const std::string& a : split_command_line(command_line, plat::native_path_rules().step))
                args.append(" ").append(shell_quoted(a));
            std::printf("    arguments:%s\n", args.empty() ? " (none)" : args.c_str());
            return;
        }
        std::fflush(stdout); /* our notes before the program's output */
        plat::ProcessHandle process;
        /* Hide window: Windows starts the program hidden, as the window does; POSIX has no windows to hide. */
        if (plat::start_process(command_line, hide_window, &process) != plat::IoError::ok) {
            const std::string text = std::string("cannot start ") + label_of(field) + " (" + plat::last_error_text() +
                                     "): " + command_line;
            console_.print(Severity::error, file_, text.c_str());
            return;
        }
        if (wait) (void)plat::process_has_ended(process, plat::kWaitForever);
        plat::close_process(process);
    }

    void expansion_too_long(FormField field) override
    {
        const std::string text = std::string(label_of(field)) + " is longer than 1023 bytes once expanded; " +
                                 (field == FormField::working_folder ? "the folder is not changed" : "not started");
        console_.print(Severity::error, file_, text.c_str());
    }

private:
    const PresetFields& fields_;
    const bool dry_run_;
    cli::Console& console_;
    const char* file_ = "";
};

/* "2" picks the second preset; anything else is looked up by name. */
bool choose_preset(const std::vector<Preset>& presets, const char* wanted, size_t* index)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long n = std::strtoul(wanted, &end, 10);
    if (*wanted >= '0' && *wanted <= '9' && *end == '\0' && errno == 0) {
        if (n < 1 || n > presets.size()) return false;
        *index = n - 1;
        return true;
    }
    for (size_t i = 0; i < presets.size(); ++i) {
        if (presets[i].name == wanted) {
            *index = i;
            return true;
        }
    }
    return false;
}

void show_preset(size_t index, const Preset& preset)
{
    std::printf("%zu: %s\n", index + 1, preset.name.c_str());
    for (size_t f = 0; f < kFormFieldCount; ++f)
        if (!preset.fields.field[f].empty())
            std::printf("    %-15s %s\n", kFieldLabels[f], preset.fields.field[f].c_str());
}

/* The first list of cli_preset_list_candidates() that exists; none (reported): false. */
bool find_default_list(cli::Console& console, PathBuffer* list_path)
{
    const std::vector<std::string> candidates = cli_preset_list_candidates();
    for (const std::string& c : candidates)
        if (plat::file_exists(c.c_str())) return list_path->assign(c.c_str());
    std::string tried;
    for (size_t i = 0; i < candidates.size(); ++i)
        tried += (i == 0 ? "" : i + 1 == candidates.size() ? " nor " : ", ") + candidates[i];
    std::string text = "no preset list: " + std::string(candidates.size() > 1 ? "neither " : "") + tried +
                       (candidates.size() > 1 ? " exists" : " does not exist");
    const std::string example = installed_example_list();
    if (!example.empty() && !candidates.empty())
        text += "; copy the example " + example + " to " + candidates.front() + ", or name a list with --list";
    else
        text += "; name a list with --list";
    console.print(Severity::error, nullptr, text.c_str());
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    cli::Console console("droprun");
    const char* list_arg = nullptr;
    const char* preset_arg = nullptr;
    bool show_presets = false;
    bool dry_run = false;
    cli::CommandLine args(argc, argv, console, kHelp);
    while (args.next_option()) {
        if (args.takes_path("--list", &list_arg) || args.takes("--preset", &preset_arg)) {
        } else if (args.is("--show-presets")) {
            show_presets = true;
        } else if (args.is("-n", "--dry-run")) {
            dry_run = true;
        } else {
            args.unknown();
        }
    }
    if (args.stopped()) return args.exit_status();
    const std::vector<const char*>& files = args.files();
    if (show_presets && !files.empty()) {
        console.usage_error("--show-presets takes no files");
        return cli::kExitUsage;
    }
    if (!show_presets && files.empty()) {
        console.usage_error("no file given");
        return cli::kExitUsage;
    }

    PathBuffer list_path;
    if (list_arg) {
        if (!list_path.assign(list_arg)) {
            console.print(Severity::error, list_arg, plat::io_error_text(plat::IoError::path_too_long));
            return cli::kExitSomeFailed;
        }
    } else if (!find_default_list(console, &list_path)) {
        return cli::kExitSomeFailed;
    }

    std::vector<Preset> presets;
    if (read_all_preset_file(list_path.c_str(), &presets) != plat::IoError::ok) {
        const std::string text = std::string("cannot read the preset list: ") + plat::last_error_text() +
                                 (list_arg ? "" : " (give one with --list)");
        console.print(Severity::error, list_path.c_str(), text.c_str());
        return cli::kExitSomeFailed;
    }

    size_t index = 0;
    if (preset_arg && !choose_preset(presets, preset_arg, &index)) {
        const std::string text = std::string("no preset ") + preset_arg + " in " + list_path.c_str() + " (it has " +
                                 std::to_string(presets.size()) + "; see --show-presets)";
        console.usage_error(text.c_str());
        return cli::kExitUsage;
    }

    if (show_presets) {
        std::printf("%s: %zu preset%s\n", list_path.c_str(), presets.size(), presets.size() == 1 ? "" : "s");
        for (size_t i = 0; i < presets.size(); ++i)
            if (!preset_arg || i == index) show_preset(i, presets[i]);
        return cli::kExitOk;
    }
    const PresetFields& fields = presets[index].fields;

    /* Relative names are taken from where droprun was started, before any
     * working folder changes the current folder. */
    std::vector<std::string> paths;
    for (const char* f : files) {
        PathBuffer full;
        if (const plat::IoError e = plat::full_path(f, &full); e != plat::IoError::ok) {
            console.print(Severity::error, f, plat::io_error_text(e));
            continue;
        }
        /* A mistyped name would run every command on a file that is not there. */
        if (!plat::file_exists(full.c_str()) && !plat::folder_exists(full.c_str())) {
            console.print(Severity::warning, f, "no such file or folder; skipped");
            continue;
        }
        paths.push_back(full.c_str());
    }

    const SystemFolders folders = query_system_folders();
    CliHost host(fields, dry_run, console);
    const PathRules& rules = plat::native_path_rules();
    /* Names on Windows hold no double quotes; POSIX names may, and are escaped within their quotes. */
    const ValueQuoting quoting = rules.separator == '\\' ? ValueQuoting::as_is : ValueQuoting::escape_double_quotes;
    /* A dry run prints for every file anyway; a real run heads each file with
     * a progress line, since the programs it starts write to the terminal too. */
    console.set_progress_lines(true);
    if (!dry_run) console.begin_batch(paths.size());
    for (const std::string& path : paths) {
        host.set_file(path.c_str());
        if (!dry_run) console.step(path.c_str());
        (void)run_file(path, folders, rules, host, quoting);
    }
    console.end_batch();
    std::fflush(stdout);
    return console.exit_status();
}
