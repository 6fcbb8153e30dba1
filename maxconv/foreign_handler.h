/* foreign_handler.h -- VARKON on the saves of other writers (CodeBreaker, SharkPort/X-Port, PSV): each
 * read, judged and built as a PSU archive, or described for --check */
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "common/platform.h"
#include "common/report.h"
#include "maxconv/foreign_save.h"

namespace ps2 {

/* What reading such a save takes beside the file buffer: the archive built, and the list of files. */
class ForeignBuffers {
public:
    ForeignBuffers() : out_(kForeignPsuLimit), list_(kForeignFileLimit * sizeof(ForeignFile))
    {
        if (list_.ok()) {
            files_ = reinterpret_cast<ForeignFile*>(list_.data());
            std::uninitialized_default_construct_n(files_, kForeignFileLimit);
        }
    }
    bool ok() const { return out_.ok() && list_.ok(); }
    std::span<uint8_t> out() { return out_.span(); }
    std::span<ForeignFile> files() { return {files_, files_ ? kForeignFileLimit : 0}; }

private:
    plat::Block out_;
    plat::Block list_;
    ForeignFile* files_ = nullptr; /* trivially destructible: released with the block */
};

struct ForeignBuilt {
    ForeignSave save;
    ForeignPsuInfo info;
    std::span<const uint8_t> psu; /* the archive to write, in the buffers' out */
    bool salvaged = false;        /* --salvage: the save was not whole */
    uint32_t left_out = 0;        /* --salvage: files not written, those the save counts but lacks included */
};

/* Reads the save in bytes (body: room for a CodeBreaker body) and builds its PSU archive. A save that is
 * not whole is refused, every fault reported as an error line; with salvage its whole files are
 * written, every fault a warning and every file left out named. False (reported) when nothing is to be
 * written. */
[[nodiscard]] bool build_foreign_psu(const char* path, std::span<const uint8_t> bytes, std::span<uint8_t> body,
                                     bool salvage, ForeignBuffers& buffers, const Reporter& report, ForeignBuilt* built);

/* A save's or a file's name as a message shows it: through the reporter's shower (the CLIs: Shift_JIS in
 * the terminal's character set), or else with every byte outside printable ASCII as \xNN. */
std::string shown_name(const Reporter& report, std::string_view name);

/* "file" or "files". */
inline const char* files_word(uint32_t n) { return n == 1 ? "file" : "files"; }

/* --check: the format, the save, each file, the checksum where there is one, and every fault. True when
 * the save is whole. */
bool describe_foreign_save(const char* path, std::span<const uint8_t> bytes, std::span<uint8_t> body,
                           ForeignBuffers& buffers, const Reporter& report);

} // namespace ps2
