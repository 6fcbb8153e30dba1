/* cli.cpp -- shared command-line plumbing of the six tools */
#include "common/cli.h"

#include <cstring>

#include <unistd.h>

namespace ps2::cli {

Reporter Console::reporter()
{
    Reporter r;
    r.emit = &Console::emit;
    r.context = this;
    return r;
}

void Console::emit(void* context, Severity s, const char* subject, const char* text)
{
    static_cast<Console*>(context)->print(s, subject, text);
}

void Console::print(Severity s, const char* subject, const char* text)
{
    switch (s) {
    case Severity::note:
        if (!quiet_) {
            if (subject && *subject)
                std::fprintf(stdout, "%s: %s\n", subject, text);
            else
                std::fprintf(stdout, "%s\n", text);
        }
        return;
    case Severity::warning:
        ++warnings_;
        break;
    case Severity::error:
        ++errors_;
        break;
    }
    const char* kind = s == Severity::warning ? "warning: " : "";
    if (subject && *subject)
        std::fprintf(stderr, "%s: %s%s: %s\n", tool_, kind, subject, text);
    else
        std::fprintf(stderr, "%s: %s%s\n", tool_, kind, text);
}

void Console::usage_error(const char* text) const
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", tool_, text, tool_);
}

bool handle_standard_option(const char* arg, const char* tool, const char* help_text, int* exit_status)
{
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
        std::fputs(help_text, stdout);
        *exit_status = kExitOk;
        return true;
    }
    if (std::strcmp(arg, "--version") == 0) {
        std::printf("%s %s\n", tool, kVersionText);
        *exit_status = kExitOk;
        return true;
    }
    return false;
}

bool is_terminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

} // namespace ps2::cli
