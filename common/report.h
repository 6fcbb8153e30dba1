/* report.h -- how a tool's handler tells what it did: a silent sink for the windows, a printing one for the
 * CLIs, and the one formatter of the lines it sends */
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace ps2 {

/* Room for one report line: two paths of up to 1023 bytes and the words around them. */
inline constexpr size_t kMessageCapacity = 4096;

/* printf into a fixed buffer: a longer text is cut at capacity - 1 bytes,
 * never overrun. Returns out. The formats are checked at compile time. */
[[gnu::format(gnu_printf, 3, 0)]] inline const char* vformat_message(char* out, size_t capacity, const char* format,
                                                                 va_list args)
{
    if (capacity == 0) return out;
    if (std::vsnprintf(out, capacity, format, args) < 0) out[0] = '\0';
    return out;
}

[[gnu::format(gnu_printf, 3, 4)]] inline const char* format_message(char* out, size_t capacity, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vformat_message(out, capacity, format, args);
    va_end(args);
    return out;
}

/* One formatted line, on the stack of the caller. */
struct Message {
    char text[kMessageCapacity] = {};

    [[gnu::format(gnu_printf, 2, 3)]] const char* format(const char* fmt, ...)
    {
        va_list args;
        va_start(args, fmt);
        vformat_message(text, sizeof text, fmt, args);
        va_end(args);
        return text;
    }
};

/* A number with its thousands grouped by commas, as the tools print sizes: "8,388,608". */
struct Grouped {
    char text[32] = {};
    explicit Grouped(uint64_t n)
    {
        char digits[24];
        const int len = std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(n));
        size_t k = 0;
        for (int i = 0; i < len; ++i) {
            if (i > 0 && (len - i) % 3 == 0) text[k++] = ',';
            text[k++] = digits[i];
        }
        text[k] = '\0';
    }
    const char* c_str() const { return text; }
};

enum class Severity : uint8_t {
    note,    /* something was written or done */
    warning, /* done, but something deserves a look */
    error,   /* a file or member was not handled */
};

/* The sink a handler reports through. A default-constructed Reporter is
 * silent, which is what the Windows programs pass: they report nothing. */
struct Reporter {
    void (*emit)(void* context, Severity severity, const char* subject, const char* text) = nullptr;
    void* context = nullptr;
    /* The CLIs' way of showing a save's own text (a name, a title: Shift_JIS) in the terminal's
     * character set (cli::TextShower); none: as it stands. */
    std::string (*show)(void* context, std::string_view text) = nullptr;

    /* A save's own text as a message shows it. */
    std::string shown(std::string_view text) const { return show ? show(context, text) : std::string(text); }

    void note(const char* subject, const char* text) const { send(Severity::note, subject, text); }
    void warning(const char* subject, const char* text) const { send(Severity::warning, subject, text); }
    void error(const char* subject, const char* text) const { send(Severity::error, subject, text); }
    void send(Severity s, const char* subject, const char* text) const
    {
        if (emit) emit(context, s, subject, text);
    }

    /* The same with a printf format (a silent reporter formats nothing). */
    [[gnu::format(gnu_printf, 3, 4)]] void notef(const char* subject, const char* fmt, ...) const
    {
        va_list args;
        va_start(args, fmt);
        vsend(Severity::note, subject, fmt, args);
        va_end(args);
    }
    [[gnu::format(gnu_printf, 3, 4)]] void warningf(const char* subject, const char* fmt, ...) const
    {
        va_list args;
        va_start(args, fmt);
        vsend(Severity::warning, subject, fmt, args);
        va_end(args);
    }
    [[gnu::format(gnu_printf, 3, 4)]] void errorf(const char* subject, const char* fmt, ...) const
    {
        va_list args;
        va_start(args, fmt);
        vsend(Severity::error, subject, fmt, args);
        va_end(args);
    }
    [[gnu::format(gnu_printf, 4, 5)]] void sendf(Severity s, const char* subject, const char* fmt, ...) const
    {
        va_list args;
        va_start(args, fmt);
        vsend(s, subject, fmt, args);
        va_end(args);
    }

private:
    [[gnu::format(gnu_printf, 4, 0)]] void vsend(Severity s, const char* subject, const char* fmt, va_list args) const
    {
        if (!emit) return;
        char text[kMessageCapacity];
        emit(context, s, subject, vformat_message(text, sizeof text, fmt, args));
    }
};

/* The option box of a drop tool (check box 129), read by the handler at the
 * moment the tool's rules say. The CLI passes a fixed value. */
struct OptionBox {
    bool (*read)(void* context) = nullptr;
    void* context = nullptr;
    bool fixed_value = false;

    bool get() const { return read ? read(context) : fixed_value; }
    static OptionBox fixed(bool v)
    {
        OptionBox box;
        box.fixed_value = v;
        return box;
    }
};

} // namespace ps2
