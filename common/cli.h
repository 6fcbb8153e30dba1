/* cli.h -- what the six command-line tools share: standard options, one-line messages, batch progress, exit statuses */
#pragma once

#ifdef PS2_CORE
#error "core code includes no platform or front-end header: it works on bytes and returns codes (docs/ARCHITECTURE.md)"
#endif

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform.h"
#include "common/report.h"
#include "ps2_version.h" /* made by CMake (cmake/ps2_version.h.in) */

namespace ps2::cli {

/* Exit statuses of every tool. */
inline constexpr int kExitOk = 0;          /* everything was done */
inline constexpr int kExitSomeFailed = 1;  /* at least one file or member was not handled */
inline constexpr int kExitUsage = 2;       /* bad command line */

/* What --version prints after the tool's name. */
inline constexpr const char* kVersionText = PS2_VERSION_TEXT;

/* A save's own text (a name or a title: Shift_JIS) as the terminal shows it: ASCII as it stands,
 * otherwise read as the file names read it (save_name_to_user: UTF-8 as it stands where the locale's
 * set is UTF-8, anything else as Shift_JIS in the locale's set), else with its bytes written as \xNN
 * (so are control characters). */
class TextShower {
public:
    std::string show(std::string_view text) const;
    /* Where file names are in the user's character set (Linux), the converter of save names into it;
     * elsewhere none. */
    TextConverter file_names() const;

private:
    plat::ShiftJisToLocale to_locale_;
};

/* Prints "tool: subject: text" lines: notes to stdout (unless quiet),
 * warnings and errors to stderr; counts errors for the exit status.
 *
 * A batch of several files shows a "[3/120] name" line on stderr while it
 * runs, rewritten in place, when stderr is a terminal and the run is not
 * quiet. Every message erases that line first and draws it again after, so
 * it never mixes with what is printed, and nothing of it is left at the end. */
class Console {
public:
    explicit Console(const char* tool);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    /* Its reporter shows a save's names and titles through shower(). */
    Reporter reporter();
    /* The locale's character set, set by the console: save names for files and terminals. */
    const TextShower& shower() const { return *shower_; }
    const char* tool() const { return tool_; }
    void set_quiet(bool q) { quiet_ = q; }
    bool quiet() const { return quiet_; }
    int errors() const { return errors_; }
    int warnings() const { return warnings_; }
    int exit_status() const { return errors_ ? kExitSomeFailed : kExitOk; }

    /* Direct messages from the CLI itself. */
    void print(Severity s, const char* subject, const char* text);
    /* "tool: text" on stderr and a pointer to --help, for usage errors. */
    void usage_error(const char* text) const;
    /* "tool: unknown option 'ARG'" as a usage error. */
    void unknown_option(const char* arg) const;

    /* Batch progress: begin_batch(n) before n files, step(name) before each,
     * end_batch() after the last (which erases the line). */
    void begin_batch(size_t total);
    void step(const char* name);
    void end_batch();
    /* Erases the progress line until the next step, e.g. before a started
     * program writes to the terminal. */
    void hide_progress();
    /* Progress as one "[3/120] name" line per step instead of one line
     * rewritten in place: for tools whose started programs write to the
     * same terminal. */
    void set_progress_lines(bool lines) { progress_lines_ = lines; }

    /* Shows the progress line on `stream` as if it were a terminal `width`
     * columns wide, whatever stderr is (tests). */
    void force_progress(std::FILE* stream, unsigned width);

private:
    static void emit(void* context, Severity s, const char* subject, const char* text);
    static std::string show(void* context, std::string_view text);
    bool progress_shown() const { return progress_ != nullptr && total_ > 1 && !quiet_; }
    void draw_progress();
    void erase_progress();

    const char* tool_;
    std::unique_ptr<TextShower> shower_; /* made once the locale is set */
    bool quiet_ = false;
    int errors_ = 0;
    int warnings_ = 0;

    std::FILE* progress_ = nullptr; /* stderr when it is a terminal, else none */
    bool stdout_is_terminal_ = false;
    bool progress_lines_ = false;
    unsigned width_ = 80;
    size_t total_ = 0;
    size_t done_ = 0;
    std::string current_;
    size_t drawn_ = 0; /* columns of the line now on the screen; 0 when none */
    std::chrono::steady_clock::time_point last_draw_{};
};

/* Whether a tool takes -f / --force, the one way to let its outputs replace files of other content. */
enum class ForceOption : uint8_t { none, taken };

/* Walks a tool's command line. Options hold for every file, wherever they
 * stand. Every argument that is not an option ("-" alone is a file), and every
 * one after "--", is collected as a file (Windows: with "/" turned into "\",
 * as a dropped file's path reads); --help, -h, --version, -q and
 * --quiet are dealt with here, and -f / --force for a tool that takes it
 * (output_policy() then says what its outputs do to existing files). Each
 * other option is handed to the tool:
 *
 *     CommandLine args(argc, argv, console, kHelp);
 *     while (const char* a = args.next_option()) {
 *         if (args.is("-t", "--temp-names")) temp = true;
 *         else if (args.takes("--list", &list)) {}
 *         else args.unknown();
 *     }
 *     if (args.stopped()) return args.exit_status();
 *
 * After --help, --version or a usage error next_option() returns nullptr,
 * stopped() is true and exit_status() is what the tool ends with. */
class CommandLine {
public:
    CommandLine(int argc, char** argv, Console& console, const char* help_text, ForceOption force = ForceOption::none);

    /* The next option the tool handles itself, or nullptr at the end. */
    const char* next_option();
    /* True when the current option is `name` (or `other`). */
    bool is(const char* name, const char* other = nullptr) const;
    /* True when the current option is `name` with a value, given as
     * "name VALUE" or, for a long name, "name=VALUE"; *value is set. A
     * missing value is a usage error ("option NAME needs a value", then
     * ": what" when `what` is given). */
    bool takes(const char* name, const char** value, const char* what = nullptr);
    /* As takes() for a value that is a path: in the system's form (plat::make_native_path), as files are. */
    bool takes_path(const char* name, const char** value, const char* what = nullptr);
    /* Usage errors: an unknown current option, or any other text. Both stop
     * the walk; only the first is printed. */
    void unknown();
    void usage_error(const char* text);
    /* The usage error "no WHAT given" when the command line names no file
     * (and the walk has not stopped already). */
    void require_files(const char* what = "file");

    /* Windows, where no shell expands "*" and "?": each file argument whose name part holds them
     * stands for the files it matches, in the system's order (one that matches nothing stays as it
     * is). A tool that matches patterns itself (TAVIRO) keeps them: call before the walk. */
    void keep_patterns() { keep_patterns_ = true; }

    const std::vector<const char*>& files() const { return files_; }
    /* keep: an existing output is replaced only when it holds the same bytes (then left alone as up to
     * date); replace after --force. */
    plat::OutputPolicy output_policy() const { return forced_ ? plat::OutputPolicy::replace : plat::OutputPolicy::keep; }
    bool stopped() const { return stopped_; }
    int exit_status() const { return exit_status_; }

private:
    void stop(int status);

    int argc_;
    char** argv_;
    Console& console_;
    const char* help_text_;
    bool takes_force_ = false;
    bool forced_ = false;
    int index_ = 0;
    const char* current_ = nullptr;
    bool options_done_ = false;
    bool stopped_ = false;
    int exit_status_ = kExitOk;
    std::vector<const char*> files_;
    bool keep_patterns_ = false;
    std::deque<std::string> matched_; /* names found for patterns; files_ points into them */

    void add_file(char* arg);
};

/* Hands each file to `handle` in command-line order, as if dropped one after
 * another, with the batch progress line around the calls. */
template <class Handle>
void run_batch(Console& console, const std::vector<const char*>& files, Handle handle)
{
    console.begin_batch(files.size());
    for (const char* file : files) {
        console.step(file);
        handle(file);
    }
    console.end_batch();
}

/* Handles --help / -h and --version for a tool. Returns true when the
 * argument was one of them (the text has been printed); *exit_status is then 0. */
bool handle_standard_option(const char* arg, const char* tool, const char* help_text, int* exit_status);

} // namespace ps2::cli
