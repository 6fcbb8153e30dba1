/* report.h -- how a tool's handler tells what it did: a silent sink for the windows, a printing one for the CLIs */
#pragma once

#include <cstdint>

namespace ps2 {

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

    void note(const char* subject, const char* text) const { send(Severity::note, subject, text); }
    void warning(const char* subject, const char* text) const { send(Severity::warning, subject, text); }
    void error(const char* subject, const char* text) const { send(Severity::error, subject, text); }
    void send(Severity s, const char* subject, const char* text) const
    {
        if (emit) emit(context, s, subject, text);
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
