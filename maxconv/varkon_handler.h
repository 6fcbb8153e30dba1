/* varkon_handler.h -- VARKON's file handler: one dropped file converted PSU <-> MAX, as the window and the CLI call it */
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/paths.h"
#include "common/platform.h"
#include "common/report.h"

namespace ps2 {

/* What the front end supplies. */
struct VarkonHooks {
    /* Notes ("in -> out"), warnings ("BAD CRC") and refusals, one line each.
     * The Windows program passes a silent one. */
    Reporter report;
    /* Called when a MAX archive's check value does not match, after the
     * warning is reported and before anything else happens to the file: the
     * Windows program shows its "BAD CRC" box here and returns when the user
     * has dismissed it. May be null. */
    void (*on_bad_crc)(void* context, const char* path) = nullptr;
    void* context = nullptr;
    /* How paths are scanned for the extension point; null means this system's rules. */
    const PathRules* rules = nullptr;
    /* What the output does to an existing file of its name: the window replaces it; the command line
     * keeps one of other content unless --force is given. */
    plat::OutputPolicy outputs = plat::OutputPolicy::replace;
    /* A damaged CodeBreaker, SharkPort/X-Port or PSV save: write the files that are whole (the CLI's
     * --salvage) instead of refusing it. */
    bool salvage = false;
};

enum class VarkonOutcome : uint8_t {
    wrote_psu,  /* a MAX archive became a PSU archive */
    wrote_max,  /* a PSU archive became a MAX archive */
    wrote_foreign_psu, /* a CodeBreaker, SharkPort/X-Port or PSV save became a PSU archive */
    not_a_save, /* none of the kinds VARKON reads, by its content: nothing written */
    refused,    /* malformed, too large, or a damaged file that would replace itself: nothing written */
    failed,     /* cannot read the file, get the work buffers or write the output */
    up_to_date, /* the output holds exactly the conversion already: left alone */
    kept,       /* the output holds other content and the policy keeps it: nothing written */
};

struct VarkonResult {
    VarkonOutcome outcome = VarkonOutcome::failed;
    bool bad_crc = false; /* a MAX archive whose check value did not match */
    PathBuffer output;    /* the path written, or that would have been */
};

/* The two 8 MiB work buffers, kept across the files of one batch (the
 * command line's files) so that each file does not fault in 16 MiB of fresh
 * pages. Obtained on first use (again after a failure), released at the end.
 * Their bytes are zero only the first time, which is safe because no step
 * reads a byte it has not written for this file: the input is read only up
 * to the count just read, the payload and its header are built record by
 * record with every padding byte set, the decoder writes every payload byte
 * it is asked for, the encoder reads only its input, and the PSU output is
 * cleared up to its length before it is built. */
class VarkonWork {
public:
    VarkonWork() = default;
    ~VarkonWork();
    VarkonWork(const VarkonWork&) = delete;
    VarkonWork& operator=(const VarkonWork&) = delete;

    static constexpr size_t kSize = size_t(8) << 20;

    /* Both buffers, obtained now where missing; false when either cannot be had. */
    [[nodiscard]] bool ready();
    std::span<uint8_t> file() { return {file_, kSize}; }
    std::span<uint8_t> build() { return {build_, kSize}; }

private:
    uint8_t* file_ = nullptr;
    uint8_t* build_ = nullptr;
};

/* Handles one file as if dropped: reads it whole, decides its kind by
 * content, and writes the other form beside it under the same path with
 * the extension replaced by ".psu" or ".max" (appended when there is none).
 * A CodeBreaker, SharkPort/X-Port or PSV save becomes a PSU archive the same
 * way; it is refused when damaged (unless hooks.salvage) and never written
 * over itself, whatever hooks.outputs says.
 * An existing file of that name is dealt with as hooks.outputs says: replaced
 * only once the new one is complete, the dropped file itself included when
 * the names are the same, or kept when it holds other content; a MAX
 * archive with a bad check value is never written over itself: it is kept
 * and nothing is written. A file of another kind the recogniser knows (a
 * card image, a CodeBreaker save...) is named for what it is. Uses two zero-filled 8 MiB
 * work buffers, released before it returns; or those of work, kept. */
VarkonResult convert_save_file(const char* path, const VarkonHooks& hooks, VarkonWork* work = nullptr);

/* Verifies a file and writes nothing: a MAX archive's check value,
 * structure and full decode, a PSU archive's structure as VARKON reads it,
 * the save of another writer's format with its files and faults.
 * Reports a summary note when sound, an error line per fault; returns
 * whether the file is sound. A stream that ends before the decoder's last
 * look-ahead, whose payload does not depend on the bytes it lacks, is sound
 * with a warning; one whose payload does is cut. */
bool check_save_file(const char* path, const Reporter& report, VarkonWork* work = nullptr);

} // namespace ps2
