/* cli.cpp -- shared command-line plumbing of the six tools */
#include "common/cli.h"

#include <clocale>
#include <cstring>

#include "common/platform.h"

namespace ps2::cli {

namespace {

/* Redraws of the progress line at most this often; the first step of a batch
 * is drawn at once. */
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

} // namespace

Console::Console(const char* tool) : tool_(tool)
{
    /* The user's character set, for the text of saves (plat::ShiftJisToLocale); numbers and the
     * system's messages stay as they are. */
    std::setlocale(LC_CTYPE, "");
    shower_ = std::make_unique<TextShower>();
    if (plat::is_terminal(stderr)) {
        progress_ = stderr;
        width_ = plat::terminal_width(stderr);
    }
    stdout_is_terminal_ = plat::is_terminal(stdout);
}

Console::~Console() { erase_progress(); }

Reporter Console::reporter()
{
    Reporter r;
    r.emit = &Console::emit;
    r.show = &Console::show;
    r.context = this;
    return r;
}

void Console::emit(void* context, Severity s, const char* subject, const char* text)
{
    static_cast<Console*>(context)->print(s, subject, text);
}

std::string Console::show(void* context, std::string_view text)
{
    return static_cast<Console*>(context)->shower().show(text);
}

void Console::print(Severity s, const char* subject, const char* text)
{
    const bool to_stdout = s == Severity::note;
    if (to_stdout && quiet_) return;
    /* The line is erased where the message will show: always for stderr,
     * for stdout when both are the same screen. */
    const bool erase = drawn_ > 0 && (!to_stdout || stdout_is_terminal_);
    if (erase) erase_progress();

    if (to_stdout) {
        if (subject && *subject)
            std::fprintf(stdout, "%s: %s\n", subject, text);
        else
            std::fprintf(stdout, "%s\n", text);
        if (erase) std::fflush(stdout);
    } else {
        if (s == Severity::warning)
            ++warnings_;
        else
            ++errors_;
        const char* kind = s == Severity::warning ? "warning: " : "";
        if (subject && *subject)
            std::fprintf(stderr, "%s: %s%s: %s\n", tool_, kind, subject, text);
        else
            std::fprintf(stderr, "%s: %s%s\n", tool_, kind, text);
    }
    if (erase) draw_progress();
}

void Console::usage_error(const char* text) const
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", tool_, text, tool_);
}

void Console::unknown_option(const char* arg) const
{
    const std::string text = std::string("unknown option '") + arg + "'";
    usage_error(text.c_str());
}

void Console::begin_batch(size_t total)
{
    erase_progress();
    total_ = total;
    done_ = 0;
    current_.clear();
}

void Console::step(const char* name)
{
    ++done_;
    if (!progress_shown()) return;
    char counter[48];
    std::snprintf(counter, sizeof counter, "[%zu/%zu] ", done_, total_);
    current_ = counter;
    current_ += name;
    if (progress_lines_) {
        erase_progress();
        std::fflush(stdout);
        std::fprintf(progress_, "%s\n", current_.c_str());
        std::fflush(progress_);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (done_ == 1 || drawn_ == 0 || now - last_draw_ >= kRedrawInterval) draw_progress();
}

void Console::end_batch()
{
    erase_progress();
    total_ = 0;
    done_ = 0;
    current_.clear();
}

void Console::hide_progress() { erase_progress(); }

void Console::force_progress(std::FILE* stream, unsigned width)
{
    progress_ = stream;
    width_ = width;
}

void Console::draw_progress()
{
    if (!progress_shown() || current_.empty()) return;
    /* One column short of the width, so the cursor never wraps to a new row
     * (a "\r" returns to the start of the last row only). */
    const size_t room = width_ > 1 ? width_ - 1 : 1;
    std::string line = current_;
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    if (line.size() > room) {
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut; /* not inside a UTF-8 character */
        line.resize(cut);
    }
    std::string out = "\r" + line;
    if (drawn_ > line.size()) out.append(drawn_ - line.size(), ' '); /* the rest of a longer line */
    std::fputs(out.c_str(), progress_);
    std::fflush(progress_);
    drawn_ = line.size();
    last_draw_ = std::chrono::steady_clock::now();
}

void Console::erase_progress()
{
    if (drawn_ == 0 || progress_ == nullptr) return;
    std::string out = "\r";
    out.append(drawn_, ' ');
    out += '\r';
    std::fputs(out.c_str(), progress_);
    std::fflush(progress_);
    drawn_ = 0;
}

std::string TextShower::show(std::string_view text) const
{
    auto clean = [](std::string_view t) {
        for (const char c : t)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
        return true;
    };
    if (is_plain_ascii(text) && clean(text)) return std::string(text);
    /* As the file names take it (save_name_to_user): UTF-8 as it stands, anything else as Shift_JIS. */
    std::string out;
    if (is_valid_utf8(text)) {
        if (std::strcmp(to_locale_.charset(), "UTF-8") == 0 && clean(text)) return std::string(text);
    } else if (to_locale_.convert(text, &out) && clean(out)) {
        return out;
    }
    out.clear();
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += ch;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

TextConverter TextShower::file_names() const
{
    return plat::kSaveNamesConvertedForFiles ? to_locale_.converter() : TextConverter{};
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

CommandLine::CommandLine(int argc, char** argv, Console& console, const char* help_text, ForceOption force)
    : argc_(argc), argv_(argv), console_(console), help_text_(help_text), takes_force_(force == ForceOption::taken)
{
}

const char* CommandLine::next_option()
{
    current_ = nullptr;
    while (!stopped_ && ++index_ < argc_) {
        const char* a = argv_[index_];
        int status = kExitOk;
        if (options_done_ || a[0] != '-' || a[1] == '\0')
            add_file(argv_[index_]);
        else if (std::strcmp(a, "--") == 0)
            options_done_ = true;
        else if (handle_standard_option(a, console_.tool(), help_text_, &status))
            stop(status);
        else if (std::strcmp(a, "-q") == 0 || std::strcmp(a, "--quiet") == 0)
            console_.set_quiet(true);
        else if (takes_force_ && (std::strcmp(a, "-f") == 0 || std::strcmp(a, "--force") == 0))
            forced_ = true;
        else
            return current_ = a;
    }
    return nullptr;
}

bool CommandLine::is(const char* name, const char* other) const
{
    return current_ != nullptr
        && (std::strcmp(current_, name) == 0 || (other != nullptr && std::strcmp(current_, other) == 0));
}

bool CommandLine::takes(const char* name, const char** value, const char* what)
{
    if (current_ == nullptr) return false;
    const size_t n = std::strlen(name);
    if (std::strncmp(current_, name, n) != 0) return false;
    if (current_[n] == '=' && name[1] == '-') {
        *value = current_ + n + 1;
        return true;
    }
    if (current_[n] != '\0') return false;
    if (index_ + 1 >= argc_) {
        std::string text = std::string("option ") + name + " needs a value";
        if (what != nullptr) text += std::string(": ") + what;
        usage_error(text.c_str());
        *value = "";
        return true;
    }
    *value = argv_[++index_];
    return true;
}

void CommandLine::add_file(char* arg)
{
    plat::make_native_path(arg); /* as a dropped file's path reads */
    const PathRules& rules = plat::native_path_rules();
    const char* name = find_name_part(arg, rules);
    std::vector<plat::FoundEntry> found;
    if (plat::kShellExpandsPatterns || keep_patterns_ || std::strpbrk(name, "*?") == nullptr ||
        plat::find_entries(arg, &found) != plat::IoError::ok) {
        files_.push_back(arg);
        return;
    }
    const size_t before = files_.size();
    for (const plat::FoundEntry& e : found) {
        if (e.name == "." || e.name == "..") continue;
        matched_.push_back(std::string(arg, size_t(name - arg)) + e.name);
        files_.push_back(matched_.back().c_str());
    }
    if (files_.size() == before) files_.push_back(arg);
}

bool CommandLine::takes_path(const char* name, const char** value, const char* what)
{
    if (!takes(name, value, what)) return false;
    /* The value lies in argv (or is the empty text of a missing one, which is left alone). */
    if (**value != '\0') plat::make_native_path(const_cast<char*>(*value));
    return true;
}

void CommandLine::unknown()
{
    if (!stopped_ && current_ != nullptr) console_.unknown_option(current_);
    stop(kExitUsage);
}

/* Only the first usage error is told: a missing value, say, is not also a bad one. */
void CommandLine::usage_error(const char* text)
{
    if (!stopped_) console_.usage_error(text);
    stop(kExitUsage);
}

void CommandLine::require_files(const char* what)
{
    if (stopped_ || !files_.empty()) return;
    const std::string text = std::string("no ") + what + " given";
    usage_error(text.c_str());
}

void CommandLine::stop(int status)
{
    if (stopped_) return;
    stopped_ = true;
    exit_status_ = status;
}

} // namespace ps2::cli
