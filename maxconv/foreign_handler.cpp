/* foreign_handler.cpp -- VARKON on CodeBreaker, SharkPort/X-Port and PSV saves: refusals, salvage, --check */
#include "maxconv/foreign_handler.h"

#include <cinttypes>

namespace ps2 {

namespace {

/* "2018-04-21 22:10:12", or "not set". */
struct TimeText {
    char text[24];
    explicit TimeText(const TimeOfDay& t)
    {
        if (!time_is_set(t))
            format_message(text, sizeof text, "not set");
        else
            format_message(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", unsigned(load_u16le(&t[6])), t[5], t[4],
                           t[3], t[2], t[1]);
    }
};

/* A name with the bytes outside printable ASCII as \xNN (a garbage entry's name is random bytes). */
struct NameText {
    char text[4 * 64 + 1];
    explicit NameText(std::string_view name)
    {
        size_t n = 0;
        for (const char c : name) {
            const auto b = uint8_t(c);
            if (b >= 0x20 && b < 0x7F) {
                text[n++] = c;
            } else {
                format_message(text + n, 5, "\\x%02X", b);
                n += 4;
            }
        }
        text[n] = '\0';
    }
};

} // namespace

std::string shown_name(const Reporter& report, std::string_view name)
{
    return report.show ? report.shown(name) : std::string(NameText(name).text);
}

namespace {

bool is_name_fault(ForeignError e)
{
    return e == ForeignError::name_empty || e == ForeignError::name_dots || e == ForeignError::name_separator ||
           e == ForeignError::name_too_long;
}

/* A save refused before its files are listed. */
void report_unreadable(const char* path, const ForeignSave& save, ForeignError e, const char* tail, const Reporter& report)
{
    const std::string_view name = save.dir_name();
    if (is_name_fault(e))
        report.errorf(path, "%s: the save's name \"%s\" cannot be used: %s%s", foreign_format_name(save.format),
                      shown_name(report, name).c_str(), foreign_error_text(e), tail);
    else
        report.errorf(path, "%s: %s%s", foreign_format_name(save.format), foreign_error_text(e), tail);
}

uint32_t whole_files(const ForeignSave& s)
{
    uint32_t n = 0;
    for (const ForeignFile& f : s.file_list()) n += f.fault == ForeignError::ok;
    return n;
}

/* The numbers behind a fault of the save as a whole. */
const char* damage_detail(const ForeignSave& s, Message* m)
{
    switch (s.damage) {
    case ForeignError::cbs_stream_cut:
    case ForeignError::cbs_stream_damaged:
    case ForeignError::cbs_stream_short:
    case ForeignError::cbs_stream_long:
    case ForeignError::cbs_record_cut:
        return m->format(" (%zu of %" PRIu32 " bytes inflated)", s.inflated_size, s.unpacked_size);
    case ForeignError::sps_bad_checksum:
        return m->format(" (stored 0x%08" PRIX32 ", computed 0x%08" PRIX32 ")", s.checksum_stored, s.checksum_computed);
    case ForeignError::sps_files_missing:
    case ForeignError::sps_cut:
        return m->format(" (%" PRIu32 " of %" PRIu32 " files whole)", whole_files(s), s.files_stated);
    default:
        return "";
    }
}

const char* file_detail(const ForeignSave& s, const ForeignFile& f, Message* m)
{
    switch (f.fault) {
    case ForeignError::data_cut:
    case ForeignError::data_past_end:
        return m->format(" (%zu of %" PRIu32 " bytes there)", f.data.size(), f.size);
    case ForeignError::not_a_file:
    case ForeignError::mode_too_large:
        return m->format(" (0x%" PRIX32 ")", f.mode);
    case ForeignError::psv_unreferenced_tail:
        return m->format(" (%zu bytes at the end)", s.trailing_bytes);
    default:
        return "";
    }
}

/* One line per fault: the save's, then each file's, with what salvage does about it. */
void report_faults(const char* path, const ForeignSave& s, bool salvage, const Reporter& report)
{
    const Severity sev = salvage ? Severity::warning : Severity::error;
    const std::string_view dir = s.dir_name();
    if (s.damage != ForeignError::ok) {
        Message m;
        const bool unsure = s.damage == ForeignError::sps_bad_checksum || s.damage == ForeignError::cbs_stream_damaged;
        report.sendf(sev, path, "%s of %s: %s%s%s", foreign_format_name(s.format), shown_name(report, dir).c_str(),
                     foreign_error_text(s.damage), damage_detail(s, &m),
                     salvage && unsure ? "; the files written may hold damaged bytes" : "");
    }
    uint32_t i = 0;
    for (const ForeignFile& f : s.file_list()) {
        ++i;
        if (f.fault == ForeignError::ok) continue;
        Message m;
        report.sendf(sev, path, "file %" PRIu32 " \"%s\": %s%s%s", i, shown_name(report, f.name).c_str(),
                     salvage ? "left out: " : "", foreign_error_text(f.fault), file_detail(s, f, &m));
    }
}

/* Bytes behind the last file that a PS3's padding does not explain, when nothing else is wrong with them. */
void report_trailing(const char* path, const ForeignSave& s, Severity sev, const Reporter& report)
{
    for (const ForeignFile& f : s.file_list())
        if (f.fault == ForeignError::psv_unreferenced_tail) return; /* said with that file */
    if (s.format == ForeignFormat::psv && s.trailing_bytes > 3 && s.damage == ForeignError::ok)
        report.sendf(sev, path, "%zu bytes behind the last file belong to no entry; not read", s.trailing_bytes);
}

} // namespace

bool build_foreign_psu(const char* path, std::span<const uint8_t> bytes, std::span<uint8_t> body, bool salvage,
                       ForeignBuffers& buffers, const Reporter& report, ForeignBuilt* built)
{
    *built = ForeignBuilt{};
    ForeignSave& s = built->save;
    if (const ForeignError e = read_foreign_save(bytes, body, buffers.files(), &s); e != ForeignError::ok) {
        report_unreadable(path, s, e, "; nothing written", report);
        return false;
    }
    const std::string_view dir = s.dir_name();
    const uint32_t whole = whole_files(s);
    if (!s.is_whole()) {
        report_faults(path, s, salvage, report);
        if (!salvage || whole == 0) {
            report.errorf(path, "%s of %s is damaged; nothing written (%s)", foreign_format_name(s.format),
                          shown_name(report, dir).c_str(),
                          whole == 0 ? "no file of it is whole" : "--salvage writes the files that are whole");
            return false;
        }
        const uint32_t missing = s.files_stated > s.file_count ? s.files_stated - s.file_count : 0;
        built->left_out = s.file_count - whole + missing;
        built->salvaged = true;
    }
    report_trailing(path, s, Severity::warning, report);

    size_t n = 0;
    if (const ForeignError e = write_foreign_psu(s, buffers.out(), &n, &built->info); e != ForeignError::ok) {
        report.errorf(path, "%s: %s; nothing written", foreign_format_name(s.format), foreign_error_text(e));
        return false;
    }
    built->psu = buffers.out().first(n);
    return true;
}

bool describe_foreign_save(const char* path, std::span<const uint8_t> bytes, std::span<uint8_t> body,
                           ForeignBuffers& buffers, const Reporter& report)
{
    ForeignSave s;
    if (const ForeignError e = read_foreign_save(bytes, body, buffers.files(), &s); e != ForeignError::ok) {
        report_unreadable(path, s, e, "", report);
        return false;
    }
    const std::string_view dir = s.dir_name();
    Message extra;
    switch (s.format) {
    case ForeignFormat::codebreaker:
        extra.format(", body of %" PRIu32 " bytes (zlib)", s.unpacked_size);
        break;
    case ForeignFormat::sharkport:
        if (s.has_checksum)
            extra.format(", checksum 0x%08" PRIX32 " %s", s.checksum_stored,
                         s.checksum_stored == s.checksum_computed ? "ok" : "wrong");
        break;
    case ForeignFormat::psv:
        extra.format(", PS3 signature not checked");
        break;
    case ForeignFormat::none:
        break;
    }
    report.notef(path, "%s of %s: %" PRIu32 " %s, directory mode 0x%04" PRIX32 ", created %s, modified %s%s",
                 foreign_format_name(s.format), shown_name(report, dir).c_str(), s.file_count, files_word(s.file_count),
                 s.dir_mode, TimeText(s.created).text, TimeText(s.modified).text, extra.text);
    uint32_t i = 0;
    for (const ForeignFile& f : s.file_list())
        report.notef(path, "  file %" PRIu32 " \"%s\": %" PRIu32 " bytes, mode 0x%04" PRIX32 ", modified %s", ++i,
                     shown_name(report, f.name).c_str(), f.size, f.mode, TimeText(f.modified).text);
    report_trailing(path, s, Severity::warning, report);
    if (s.is_whole()) {
        report.notef(path, "%s of %s: whole", foreign_format_name(s.format), shown_name(report, dir).c_str());
        return true;
    }
    report_faults(path, s, false, report);
    report.errorf(path, "%s of %s is damaged (--salvage would write %" PRIu32 " of its files)",
                  foreign_format_name(s.format), shown_name(report, dir).c_str(), whole_files(s));
    return false;
}

} // namespace ps2
