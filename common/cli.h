/* cli.h -- what the six command-line tools share: standard options, one-line messages, exit statuses */
#pragma once

#include <cstdio>

#include "common/report.h"

namespace ps2::cli {

/* Exit statuses of every tool. */
inline constexpr int kExitOk = 0;          /* everything was done */
inline constexpr int kExitSomeFailed = 1;  /* at least one file or member was not handled */
inline constexpr int kExitUsage = 2;       /* bad command line */

inline constexpr const char* kVersionText = "Version 20/05/24";

/* Prints "tool: subject: text" lines: notes to stdout (unless quiet),
 * warnings and errors to stderr; counts errors for the exit status. */
class Console {
public:
    explicit Console(const char* tool) : tool_(tool) {}

    Reporter reporter();
    void set_quiet(bool q) { quiet_ = q; }
    bool quiet() const { return quiet_; }
    int errors() const { return errors_; }
    int warnings() const { return warnings_; }
    int exit_status() const { return errors_ ? kExitSomeFailed : kExitOk; }

    /* Direct messages from the CLI itself. */
    void print(Severity s, const char* subject, const char* text);
    /* "tool: text" on stderr, for usage errors. */
    void usage_error(const char* text) const;

private:
    static void emit(void* context, Severity s, const char* subject, const char* text);

    const char* tool_;
    bool quiet_ = false;
    int errors_ = 0;
    int warnings_ = 0;
};

/* Handles --help / -h and --version for a tool. Returns true when the
 * argument was one of them (the text has been printed); *exit_status is then 0. */
bool handle_standard_option(const char* arg, const char* tool, const char* help_text, int* exit_status);

/* True when the stream is a terminal (progress is shown only there). */
bool is_terminal(std::FILE* stream);

} // namespace ps2::cli
