/* varkon_handler.cpp -- VARKON's file handler: read, decide by content, convert, write beside the input */
#include "maxconv/varkon_handler.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "common/platform.h"
#include "maxconv/max_convert.h"

namespace ps2 {

namespace {

/* Room for two paths and some words. */
constexpr size_t kMessageSize = 2 * kPathCapacity + 256;

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
    char text[512];
    std::snprintf(text, sizeof text, "%s; nothing written", why);
    report.error(path, text);
}

void report_written(const Reporter& report, const char* in, const char* out)
{
    char text[kMessageSize];
    std::snprintf(text, sizeof text, "%s -> %s", in, out);
    report.note(nullptr, text);
}

/* Reads the file into the file buffer. False (reported) when it cannot be read. */
bool read_input(const char* path, VarkonWork& work, const Reporter& report, std::span<const uint8_t>* bytes,
                uint64_t* reported_size)
{
    if (!work.ready()) {
        report.error(path, "not enough memory for the two 8 MiB work buffers; skipped");
        return false;
    }
    plat::FileRead fr;
    if (const plat::IoError e = plat::read_file(path, work.file(), &fr); e != plat::IoError::ok) {
        report.error(path, plat::io_error_text(e));
        return false;
    }
    *bytes = work.file().first(fr.bytes_read);
    *reported_size = fr.file_size > fr.bytes_read ? fr.file_size : fr.bytes_read;
    return true;
}

const char* kNeitherText = "neither a MAX archive (no \"Ps2PowerSave\") nor a PSU archive (no \".\" and \"..\" entries)";

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
    std::span<const uint8_t> bytes;
    uint64_t reported_size = 0;
    if (!read_input(path, work, report, &bytes, &reported_size)) return res;

    const SaveKind kind = detect_save_kind(bytes);
    if (kind == SaveKind::neither) {
        res.outcome = VarkonOutcome::not_a_save;
        report_refusal(report, path, kNeitherText);
        return res;
    }
    const bool to_psu = kind == SaveKind::max_archive;
    res.outcome = VarkonOutcome::refused;
    if (!make_output_path(path, to_psu ? ".psu" : ".max", rules, &res.output)) {
        report_refusal(report, path, plat::io_error_text(plat::IoError::path_too_long));
        return res;
    }
    if (reported_size > kWorkBufferSize) {
        report_refusal(report, path, max_error_text(to_psu ? MaxError::max_too_large : MaxError::psu_too_large_input));
        return res;
    }

    size_t out_size = 0;
    MaxError err;
    if (to_psu) {
        if (bytes.size() < kMaxHeaderSize) {
            report_refusal(report, path, max_error_text(MaxError::max_too_short));
            return res;
        }
        const uint32_t stored = load_u32le(bytes.data() + max_field::crc);
        const uint32_t computed = compute_max_crc(bytes);
        if (stored != computed) {
            res.bad_crc = true;
            char text[160];
            std::snprintf(text, sizeof text, "BAD CRC: the check value does not match (stored 0x%08" PRIX32
                          ", computed 0x%08" PRIX32 ")", stored, computed);
            report.warning(path, text);
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
        err = convert_psu_to_max(bytes, work.build(), work.file(), &out_size);
    }
    if (err != MaxError::ok) {
        report_refusal(report, path, max_error_text(err));
        return res;
    }

    const std::span<const uint8_t> output = work.file().first(out_size);
    if (const plat::IoError e = plat::write_file_replace(res.output.c_str(), output); e != plat::IoError::ok) {
        res.outcome = VarkonOutcome::failed;
        report.error(res.output.c_str(), plat::io_error_text(e));
        return res;
    }
    res.outcome = to_psu ? VarkonOutcome::wrote_psu : VarkonOutcome::wrote_max;
    report_written(report, path, res.output.c_str());
    return res;
}

bool check_save_file(const char* path, const Reporter& report, VarkonWork* kept)
{
    VarkonWork own;
    VarkonWork& work = kept ? *kept : own;
    std::span<const uint8_t> bytes;
    uint64_t reported_size = 0;
    if (!read_input(path, work, report, &bytes, &reported_size)) return false;

    char text[kMessageSize];
    const SaveKind kind = detect_save_kind(bytes);
    if (kind == SaveKind::neither) {
        report.error(path, kNeitherText);
        return false;
    }
    if (kind == SaveKind::psu_archive) {
        if (reported_size > kWorkBufferSize) {
            report.error(path, max_error_text(MaxError::psu_too_large_input));
            return false;
        }
        MaxPayloadInfo info;
        if (const MaxError e = build_max_payload(bytes, work.build(), &info); e != MaxError::ok) {
            report.error(path, max_error_text(e));
            return false;
        }
        const MaxHeader h = read_max_header(work.build().data());
        std::snprintf(text, sizeof text, "PSU archive of %.*s: %" PRIu32 " files, %" PRIu32 " bytes of MAX payload; sound",
                      int(h.dir_name.size()), h.dir_name.data(), info.file_count, info.unpacked_size);
        report.note(path, text);
        return true;
    }

    if (reported_size > kWorkBufferSize) {
        report.error(path, max_error_text(MaxError::max_too_large));
        return false;
    }
    if (bytes.size() < kMaxHeaderSize) {
        report.error(path, max_error_text(MaxError::max_too_short));
        return false;
    }
    bool sound = true;
    const uint32_t stored = load_u32le(bytes.data() + max_field::crc);
    const uint32_t computed = compute_max_crc(bytes);
    if (stored != computed) {
        std::snprintf(text, sizeof text, "BAD CRC: the check value does not match (stored 0x%08" PRIX32
                      ", computed 0x%08" PRIX32 ")", stored, computed);
        report.error(path, text);
        sound = false;
    }
    MaxToPsuInfo info;
    size_t psu_size = 0;
    if (const MaxError e = convert_max_to_psu(bytes, work.build(), work.file(), &psu_size, &info);
        e != MaxError::ok) {
        report.error(path, max_error_text(e));
        return false;
    }
    if (info.stream_bytes_wanted > info.stream_size + 2) {
        std::snprintf(text, sizeof text, "the compressed stream is cut: %zu bytes, the decoder wanted %zu",
                      info.stream_size, info.stream_bytes_wanted);
        report.error(path, text);
        sound = false;
    }
    if (!sound) return false;
    const MaxHeader h = read_max_header(work.build().data());
    std::snprintf(text, sizeof text,
                  "MAX archive of %.*s: %" PRIu32 " files, %" PRIu32 " bytes of payload, CRC ok%s; sound",
                  int(h.dir_name.size()), h.dir_name.data(), info.file_count, info.unpacked_size,
                  info.trailing_bytes ? ", bytes after the stream (ignored)" : "");
    report.note(path, text);
    return true;
}

} // namespace ps2
