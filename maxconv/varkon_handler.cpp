/* varkon_handler.cpp -- VARKON's file handler: read, decide by content, convert, write beside the input */
#include "maxconv/varkon_handler.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "common/platform.h"
#include "common/save_kind.h"
#include "maxconv/foreign_handler.h"
#include "maxconv/lzari.h"
#include "maxconv/max_convert.h"

namespace ps2 {

namespace {

/* The dropped path with the extension replaced (or appended) by ext. */
bool make_output_path(const char* path, const char* ext, const PathRules& rules, PathBuffer* out)
{
    if (!out->assign(path)) return false;
    out->cut(size_t(find_extension_point(out->c_str(), rules) - out->c_str()));
    return out->append(ext);
}

/* Names differing only in the case of a-z are taken as the same file, as on
 * Windows: a damaged archive is then never written over itself. */
bool same_file_name(const char* a, const char* b) { return compare_folded(a, b) == 0; }

void report_refusal(const Reporter& report, const char* path, const char* why)
{
    report.errorf(path, "%s; nothing written", why);
}

/* Reads the file (into the file buffer, or mapped where the system does that). False (reported) when it
 * cannot be read. */
bool read_input(const char* path, VarkonWork& work, const Reporter& report, plat::FileView* view,
                uint64_t* reported_size)
{
    if (!work.ready()) {
        report.error(path, "not enough memory for the two 8 MiB work buffers; skipped");
        return false;
    }
    if (const plat::IoError e = plat::view_file(path, work.file(), view); e != plat::IoError::ok) {
        report.error(path, plat::describe_io_error(e));
        return false;
    }
    *reported_size = std::max<uint64_t>(view->file_size(), view->bytes().size());
    return true;
}

const char* kNeitherText = "neither a MAX archive (no \"Ps2PowerSave\") nor a PSU archive (no \".\" and \"..\" entries), "
                          "nor a CodeBreaker, SharkPort/X-Port or PSV save";

/* Every kind VARKON reads. */
constexpr FileKindSet kVarkonTakes = kTakesPsuOrMax | file_kind_bit(FileKind::codebreaker) |
                                     file_kind_bit(FileKind::sharkport) | file_kind_bit(FileKind::psv);

/* Why a file of no kind VARKON reads is not converted: what the recogniser calls it, or the magics it
 * lacks. Into m. */
const char* describe_neither(FileKind found, Message* m)
{
    if (found == FileKind::unknown) return kNeitherText;
    return describe_wrong_kind(found, kVarkonTakes, m->text);
}

/* A stream shorter than the decoder reads: whether the payload depends on the bytes that are not there.
 * The decoder reads its last byte again past the end; decoding once more with other bytes there tells.
 * False, too, when the memory for the second decoding cannot be had. */
bool payload_needs_missing_bytes(std::span<const uint8_t> stream, std::span<const uint8_t> payload, size_t wanted)
{
    const size_t extra = wanted - stream.size() + 8;
    plat::Block other_stream(stream.size() + extra);
    plat::Block other_payload(payload.size() ? payload.size() : 1);
    if (!other_stream.ok() || !other_payload.ok()) return true;
    const uint8_t last = stream.empty() ? 0 : stream.back();
    if (!stream.empty()) std::memcpy(other_stream.data(), stream.data(), stream.size());
    std::memset(other_stream.data() + stream.size(), uint8_t(~last), extra);
    (void)lzari_decode(other_stream.span(), other_payload.span().first(payload.size()));
    return payload.size() && std::memcmp(other_payload.data(), payload.data(), payload.size()) != 0;
}

/* What refuses a save by its size alone: more than 8 MiB, or a MAX archive
 * shorter than its header. */
MaxError check_input_size(SaveKind kind, std::span<const uint8_t> bytes, uint64_t reported_size)
{
    const bool max = kind == SaveKind::max_archive;
    if (reported_size > kWorkBufferSize) return max ? MaxError::max_too_large : MaxError::psu_too_large_input;
    if (max && bytes.size() < kMaxHeaderSize) return MaxError::max_too_short;
    return MaxError::ok;
}

/* Compares a MAX archive's check value (header checked for size) with the
 * one computed, and reports a mismatch with the severity given. */
bool check_value_matches(std::span<const uint8_t> bytes, const char* path, Severity severity, const Reporter& report)
{
    const uint32_t stored = load_u32le(bytes.data() + max_field::crc);
    const uint32_t computed = compute_max_crc(bytes);
    if (stored == computed) return true;
    report.sendf(severity, path, "BAD CRC: the check value does not match (stored 0x%08" PRIX32 ", computed 0x%08" PRIX32 ")",
                 stored, computed);
    return false;
}

/* Writes a conversion's result to res->output under the hooks' output rule. Returns created or replaced
 * (res->outcome = wrote) or up_to_date (res->outcome up_to_date, nothing written) for the caller to tell;
 * none when the output was kept or could not be written, reported here with res->outcome set. */
plat::OutputOutcome write_result(std::span<const uint8_t> output, const VarkonHooks& hooks, VarkonOutcome wrote,
                                 VarkonResult* res)
{
    plat::OutputOutcome written = plat::OutputOutcome::none;
    if (const plat::IoError e = plat::write_output(res->output.c_str(), output, hooks.outputs, &written);
        e != plat::IoError::ok) {
        res->outcome = e == plat::IoError::output_differs ? VarkonOutcome::kept : VarkonOutcome::failed;
        hooks.report.error(res->output.c_str(), plat::describe_io_error(e));
        return plat::OutputOutcome::none;
    }
    res->outcome = written == plat::OutputOutcome::up_to_date ? VarkonOutcome::up_to_date : wrote;
    return written;
}

/* A CodeBreaker, SharkPort/X-Port or PSV save to a PSU archive beside it. */
void convert_foreign_file(const char* path, ForeignFormat format, std::span<const uint8_t> bytes,
                          uint64_t reported_size, VarkonWork& work, const VarkonHooks& hooks, VarkonResult* res)
{
    const Reporter& report = hooks.report;
    res->outcome = VarkonOutcome::refused;
    if (!make_output_path(path, ".psu", hooks.rules ? *hooks.rules : plat::native_path_rules(), &res->output)) {
        report_refusal(report, path, plat::io_error_text(plat::IoError::path_too_long));
        return;
    }
    if (reported_size > kWorkBufferSize) {
        report_refusal(report, path, "the file is larger than 8 MiB (8,388,608 bytes)");
        return;
    }
    if (same_file_name(path, res->output.c_str())) {
        /* Whatever the output rule says, in the window too: the input is the save, and it may be the only copy. */
        report.errorf(path, "a %s named .psu: its PSU archive would replace it, the only copy; kept it (rename it "
                            "to %s to convert it); nothing written",
                      foreign_format_name(format), foreign_format_extension(format));
        return;
    }
    ForeignBuffers buffers;
    if (!buffers.ok()) {
        res->outcome = VarkonOutcome::failed;
        report.error(path, "not enough memory for the PSU archive and the file list; skipped");
        return;
    }
    ForeignBuilt built;
    if (!build_foreign_psu(path, bytes, work.build(), hooks.salvage, buffers, report, &built)) return;
    const plat::OutputOutcome written = write_result(built.psu, hooks, VarkonOutcome::wrote_foreign_psu, res);
    if (written == plat::OutputOutcome::none) return;
    report.notef(path, "%s of %s: %" PRIu32 " %s%s -> %s%s", foreign_format_name(built.save.format),
                 shown_name(report, built.save.dir_name()).c_str(), built.info.files_written,
                 files_word(built.info.files_written),
                 built.salvaged ? " (salvaged)" : "", res->output.c_str(),
                 written == plat::OutputOutcome::up_to_date ? ": up to date" : "");
}

} // namespace

static_assert(VarkonWork::kSize == kWorkBufferSize);

VarkonWork::~VarkonWork()
{
    plat::free_block(file_, kSize);
    plat::free_block(build_, kSize);
}

bool VarkonWork::ready()
{
    if (!file_) file_ = static_cast<uint8_t*>(plat::alloc_block(kSize));
    if (!build_) build_ = static_cast<uint8_t*>(plat::alloc_block(kSize));
    return file_ && build_;
}

VarkonResult convert_save_file(const char* path, const VarkonHooks& hooks, VarkonWork* kept)
{
    VarkonResult res;
    const Reporter& report = hooks.report;
    const PathRules& rules = hooks.rules ? *hooks.rules : plat::native_path_rules();

    VarkonWork own; /* nothing obtained unless used */
    VarkonWork& work = kept ? *kept : own;
    plat::FileView view;
    uint64_t reported_size = 0;
    if (!read_input(path, work, report, &view, &reported_size)) return res;
    const std::span<const uint8_t> bytes = view.bytes();

    /* MAX, then PSU, then the other writers' saves: the recogniser's order. */
    const FileKind found = recognise_file_kind(bytes, reported_size);
    if (const ForeignFormat format = foreign_format_of(found); format != ForeignFormat::none) {
        convert_foreign_file(path, format, bytes, reported_size, work, hooks, &res);
        return res;
    }
    const SaveKind kind = save_kind_of(found);
    if (kind == SaveKind::neither) {
        res.outcome = VarkonOutcome::not_a_save;
        Message m;
        report_refusal(report, path, describe_neither(found, &m));
        return res;
    }
    const bool to_psu = kind == SaveKind::max_archive;
    res.outcome = VarkonOutcome::refused;
    if (!make_output_path(path, to_psu ? ".psu" : ".max", rules, &res.output)) {
        report_refusal(report, path, plat::io_error_text(plat::IoError::path_too_long));
        return res;
    }
    if (const MaxError e = check_input_size(kind, bytes, reported_size); e != MaxError::ok) {
        report_refusal(report, path, max_error_text(e));
        return res;
    }

    size_t out_size = 0;
    MaxError err;
    if (to_psu) {
        if (!check_value_matches(bytes, path, Severity::warning, report)) {
            res.bad_crc = true;
            if (hooks.on_bad_crc) hooks.on_bad_crc(hooks.context, path);
            if (same_file_name(path, res.output.c_str())) {
                report_refusal(report, path,
                               "the PSU archive would replace this damaged file, the only copy; kept it "
                               "(rename it to .max to convert it)");
                return res;
            }
        }
        err = convert_max_to_psu(bytes, work.build(), work.file(), &out_size);
    } else {
        /* Into the build buffer: the encoder then reads the members from the file buffer as they are. */
        err = convert_psu_to_max(bytes, work.build(), work.build(), &out_size);
    }
    if (err != MaxError::ok) {
        report_refusal(report, path, max_error_text(err));
        return res;
    }

    const std::span<const uint8_t> output((to_psu ? work.file() : work.build()).data(), out_size);
    const plat::OutputOutcome written =
        write_result(output, hooks, to_psu ? VarkonOutcome::wrote_psu : VarkonOutcome::wrote_max, &res);
    if (written == plat::OutputOutcome::none) return res;
    report.notef(nullptr, "%s -> %s%s", path, res.output.c_str(),
                 written == plat::OutputOutcome::up_to_date ? ": up to date" : "");
    return res;
}

bool check_save_file(const char* path, const Reporter& report, VarkonWork* kept)
{
    VarkonWork own; /* nothing obtained unless used */
    VarkonWork& work = kept ? *kept : own;
    plat::FileView view;
    uint64_t reported_size = 0;
    if (!read_input(path, work, report, &view, &reported_size)) return false;
    const std::span<const uint8_t> bytes = view.bytes();

    const FileKind found = recognise_file_kind(bytes, reported_size);
    if (foreign_format_of(found) != ForeignFormat::none) {
        if (reported_size > kWorkBufferSize) {
            report.error(path, "the file is larger than 8 MiB (8,388,608 bytes)");
            return false;
        }
        ForeignBuffers buffers;
        if (!buffers.ok()) {
            report.error(path, "not enough memory for the file list; skipped");
            return false;
        }
        return describe_foreign_save(path, bytes, work.build(), buffers, report);
    }
    const SaveKind kind = save_kind_of(found);
    if (kind == SaveKind::neither) {
        Message m;
        report.error(path, describe_neither(found, &m));
        return false;
    }
    if (const MaxError e = check_input_size(kind, bytes, reported_size); e != MaxError::ok) {
        report.error(path, max_error_text(e));
        return false;
    }
    if (kind == SaveKind::psu_archive) {
        MaxPayloadInfo info;
        if (const MaxError e = build_max_payload(bytes, work.build(), &info); e != MaxError::ok) {
            report.error(path, max_error_text(e));
            return false;
        }
        const MaxHeader h = read_max_header(work.build().data());
        report.notef(path, "PSU archive of %s: %" PRIu32 " files, %" PRIu32 " bytes of MAX payload; sound",
                     report.shown(h.dir_name).c_str(), info.file_count, info.unpacked_size);
        return true;
    }

    bool sound = check_value_matches(bytes, path, Severity::error, report);
    MaxToPsuInfo info;
    size_t psu_size = 0;
    /* The archive goes to a block of its own, so that the stream stays to be looked at again. */
    plat::Block psu(kWorkBufferSize);
    if (!psu.ok()) {
        report.error(path, plat::io_error_text(plat::IoError::no_memory));
        return false;
    }
    if (const MaxError e = convert_max_to_psu(bytes, work.build(), psu.span(), &psu_size, &info);
        e != MaxError::ok) {
        report.error(path, max_error_text(e));
        return false;
    }
    if (info.stream_bytes_wanted > info.stream_size + 2) {
        MaxHeader h;
        (void)check_max_header(bytes, &h); /* checked by the conversion */
        const std::span<const uint8_t> payload(work.build().data() + kMaxHeaderSize, info.unpacked_size);
        if (payload_needs_missing_bytes(max_stream(bytes, h), payload, info.stream_bytes_wanted)) {
            report.errorf(path, "the compressed stream is cut: %zu bytes, the decoder wanted %zu", info.stream_size,
                          info.stream_bytes_wanted);
            sound = false;
        } else {
            report.warningf(path, "stream shorter than its decoder reads; payload complete (%zu bytes, the decoder "
                                  "looked at %zu)",
                            info.stream_size, info.stream_bytes_wanted);
        }
    }
    if (!sound) return false;
    const MaxHeader h = read_max_header(work.build().data());
    report.notef(path, "MAX archive of %s: %" PRIu32 " files, %" PRIu32 " bytes of payload, CRC ok%s; sound",
                 report.shown(h.dir_name).c_str(), info.file_count, info.unpacked_size,
                 info.trailing_bytes ? ", bytes after the stream (ignored)" : "");
    return true;
}

} // namespace ps2
